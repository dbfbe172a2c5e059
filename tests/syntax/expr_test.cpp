#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_names.h"
#include "parse_helpers.h"
#include "syntax/lexer.h"
#include "syntax/parse.h"
#include "syntax/parser.h"
#include "tree_render.h"

namespace dravelin::syntax {
namespace {

using ast::Expr;

using namespace test_support;

constexpr Pos kStart{1, 0, 0};

std::string parse_to_string(std::string_view src) {
  auto r = parse_expression(src, kStart);
  if (!r.ok()) return "error: " + r.error().front().message;
  return render_expr(*r);
}

Diagnostic parse_failure(std::string_view src, Pos base = kStart, bool log_shadowed = false) {
  auto r = parse_interpolation(src, base, log_shadowed);
  EXPECT_FALSE(r.ok()) << src << " parsed as " << render_expr(*r);
  if (r.ok()) return Diagnostic{};
  EXPECT_EQ(r.error().size(), 1u) << src;
  return r.error().front();
}

// ---------------------------------------------------------------------------------------------------------------

class ExprTree : public testing::TestWithParam<TreeCase> {};

TEST_P(ExprTree, Parses) { EXPECT_EQ(parse_to_string(GetParam().src), GetParam().tree) << GetParam().src; }

INSTANTIATE_TEST_SUITE_P(
    PrecedenceAndAssociativity, ExprTree,
    testing::Values(TreeCase{"a or b and c", "(or a (and b c))"}, TreeCase{"a and b or c", "(or (and a b) c)"},
                    TreeCase{"a or b or c", "(or (or a b) c)"}, TreeCase{"a and b and c", "(and (and a b) c)"},
                    TreeCase{"not a == b", "(not (== a b))"}, TreeCase{"not a and b", "(and (not a) b)"},
                    TreeCase{"not not a", "(not (not a))"}, TreeCase{"-a * b", "(* (neg a) b)"},
                    TreeCase{"a - -b", "(- a (neg b))"}, TreeCase{"-2 * 3", "(* (neg 2) 3)"},
                    TreeCase{"- - 2", "(neg (neg 2))"}, TreeCase{"a - b - c", "(- (- a b) c)"},
                    TreeCase{"a * b % c / d", "(/ (% (* a b) c) d)"}, TreeCase{"a + b * c", "(+ a (* b c))"},
                    TreeCase{"a < b and b < c", "(and (< a b) (< b c))"},
                    TreeCase{"x <= y + 1", "(<= x (+ y 1))"}, TreeCase{"x != y", "(!= x y)"},
                    TreeCase{"x >= y", "(>= x y)"}, TreeCase{"x > y", "(> x y)"},
                    TreeCase{"(a or b) and c", "(and (or a b) c)"}, TreeCase{"a == (b == c)", "(== a (== b c))"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(IsLabels, ExprTree,
                         testing::Values(TreeCase{"not x is other", "(not (is x other))"},
                                         TreeCase{"x is none", "(is x none)"}, TreeCase{"x is done", "(is x done)"},
                                         TreeCase{"a + b is big", "(is (+ a b) big)"},
                                         TreeCase{"x is a and y is b", "(and (is x a) (is y b))"}),
                         NameBySource());

INSTANTIATE_TEST_SUITE_P(
    PrimariesAndPostfix, ExprTree,
    testing::Values(TreeCase{"a.b[c](d).e", "(call a.b[c] d).e"}, TreeCase{"(a + b).c", "(+ a b).c"},
                    TreeCase{"max(a, b)", "(call max a b)"}, TreeCase{"x.max", "x.max"},
                    TreeCase{"r.state.in", "r.state.in"}, TreeCase{"f()", "(call f)"}, TreeCase{"f()()", "(call (call f))"},
                    TreeCase{"true", "true"}, TreeCase{"false", "false"}, TreeCase{"none", "none"},
                    TreeCase{"1.5k", "1500"}, TreeCase{"15%", "0.15"}, TreeCase{"\"a{b}c\"", "\"a{b}c\""},
                    TreeCase{"[]", "[]"}, TreeCase{"[1, [2, 3]]", "[1 [2 3]]"}, TreeCase{"{}", "{}"},
                    TreeCase{"{x}", "{x}"}, TreeCase{"{a: 1, b: [2], c}", "{a: 1, b: [2], c}"},
                    TreeCase{"{max: 1, in: 2}", "{max: 1, in: 2}"},
                    TreeCase{"[c for c, p in zip(chunks, keep) if p > 0.6]",
                             "(comp c (c p) (call zip chunks keep) (> p 0.6))"},
                    TreeCase{"[x * 2 for x in xs]", "(comp (* x 2) (x) xs)"},
                    TreeCase{"focus t on \"p\", max 100", "(focus t \"p\" 100)"},
                    TreeCase{"focus a + b on \"p\", max 1k", "(focus (+ a b) \"p\" 1000)"},
                    TreeCase{"trail 3", "(trail 3)"}, TreeCase{"trail 3 + 1", "(+ (trail 3) 1)"},
                    TreeCase{"focus t on \"p\", max 9 .x", "(focus t \"p\" 9).x"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Arguments, ExprTree,
    testing::Values(TreeCase{"f(tokens 1500)", "(call f tokens=1500)"},
                    TreeCase{"f(tokens: 1500)", "(call f tokens=1500)"},
                    TreeCase{"chunk(text, tokens 1500)", "(call chunk text tokens=1500)"},
                    TreeCase{"top(chunks, by keep, n 3)", "(call top chunks by=keep n=3)"},
                    TreeCase{"f(limit: 3)", "(call f limit=3)"}, TreeCase{"f(x - 1)", "(call f (- x 1))"},
                    TreeCase{"f(x (1))", "(call f (call x 1))"}, TreeCase{"f(x [0])", "(call f x[0])"},
                    TreeCase{"f(max 3)", "(call f max=3)"}, TreeCase{"f(not x)", "(call f (not x))"},
                    TreeCase{"f(true)", "(call f true)"}, TreeCase{"f(in: x)", "(call f in=x)"},
                    TreeCase{"f(a {b: 1})", "(call f a={b: 1})"}, TreeCase{"f(a \"t\")", "(call f a=\"t\")"},
                    TreeCase{"f(a not b)", "(call f a=(not b))"},
                    TreeCase{"f(log info x)", "(call f (log info x))"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    LogForms, ExprTree,
    testing::Values(TreeCase{"log info \"routed\" {route, score: s}", "(log info \"routed\" {route, score: s})"},
                    TreeCase{"log info {a: 1}", "(log info {a: 1})"}, TreeCase{"log debug -x", "(log debug (neg x))"},
                    TreeCase{"log warn x + 1", "(log warn (+ x 1))"}, TreeCase{"log error max(a, b)", "(log error (call max a b))"},
                    TreeCase{"log info x {}", "(log info x)"}, TreeCase{"log", "log"}, TreeCase{"log.x", "log.x"},
                    TreeCase{"log(info)", "(call log info)"}, TreeCase{"log info x .y", "(log info x.y)"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------

class ExprFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ExprFailure, Reports) {
  const FailureCase& c = GetParam();
  expect_failure(parse_failure(c.src), c);
}

INSTANTIATE_TEST_SUITE_P(
    Comparisons, ExprFailure,
    testing::Values(
        FailureCase{"a == b == c", kSyntax, "expected the end of the interpolation, found `==`", "1:7-1:9"},
        FailureCase{"a < b < c", kSyntax, "expected the end of the interpolation, found `<`", "1:6-1:7"},
        FailureCase{"a is x is y", kSyntax, "expected the end of the interpolation, found the reserved word `is`",
                    "1:7-1:9"},
        FailureCase{"a == b is c", kSyntax, "expected the end of the interpolation, found the reserved word `is`",
                    "1:7-1:9"},
        FailureCase{"x is 3", kSyntax, "expected a label name after `is`, found the number `3`", "1:5-1:6"},
        FailureCase{"x is 1.5k", kSyntax, "expected a label name after `is`, found the number `1500`", "1:5-1:9"},
        FailureCase{"x is 15%", kSyntax, "expected a label name after `is`, found the number `0.15`", "1:5-1:8"},
        FailureCase{"x is \"a\"", kSyntax, "expected a label name after `is`, found a text literal", "1:5-1:8"},
        FailureCase{"x is max", kSyntax, "expected a label name after `is`, found the reserved word `max`",
                    "1:5-1:8"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Primaries, ExprFailure,
    testing::Values(
        FailureCase{"max", kSyntax, "expected an expression, found the reserved word `max`", "1:0-1:3"},
        FailureCase{"max + 1", kSyntax, "expected an expression, found the reserved word `max`", "1:0-1:3"},
        FailureCase{"in", kSyntax, "expected an expression, found the reserved word `in`", "1:0-1:2"},
        FailureCase{")", kSyntax, "expected an expression, found `)`", "1:0-1:1"},
        FailureCase{"", kSyntax, "expected an expression, found the end of the interpolation", "1:0-1:0"},
        FailureCase{"a +", kSyntax, "expected an expression, found the end of the interpolation", "1:3-1:3"},
        FailureCase{"(a", kSyntax, "expected `)`, found the end of the interpolation", "1:2-1:2"},
        FailureCase{"a b", kSyntax, "expected the end of the interpolation, found `b`", "1:2-1:3"},
        FailureCase{"a.", kSyntax, "expected a field name after `.`, found the end of the interpolation",
                    "1:2-1:2"},
        FailureCase{"a.1", kSyntax, "expected a field name after `.`, found the number `1`", "1:2-1:3"},
        FailureCase{"a[1", kSyntax, "expected `]`, found the end of the interpolation", "1:3-1:3"},
        FailureCase{"trail x", kSyntax, "expected the number of records after `trail`, found `x`", "1:6-1:7"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    ListsRecordsCalls, ExprFailure,
    testing::Values(
        FailureCase{"[1, 2,]", kSyntax, "expected an expression, found `]`", "1:6-1:7"},
        FailureCase{"{a: 1,}", kSyntax, "expected a field name, found `}`", "1:6-1:7"},
        FailureCase{"f(a,)", kSyntax, "expected an expression, found `)`", "1:4-1:5"},
        FailureCase{"[x for x in xs,]", kSyntax, "expected `]`, found `,`", "1:14-1:15"},
        FailureCase{"[x for in xs]", kSyntax, "expected a loop variable, found the reserved word `in`", "1:7-1:9"},
        FailureCase{"[x for a, in xs]", kSyntax, "expected a second loop variable, found the reserved word `in`",
                    "1:10-1:12"},
        FailureCase{"[x for a, b, c in xs]", kSyntax, "expected `in`, found `,`", "1:11-1:12"},
        FailureCase{"[x for a b]", kSyntax, "expected `in`, found `b`", "1:9-1:10"},
        FailureCase{"{state}", kSyntax,
                    "expected `:` (`{ state }` shorthand needs a variable, and `state` is reserved), found `}`",
                    "1:6-1:7"},
        FailureCase{"{a, max}", kSyntax,
                    "expected `:` (`{ max }` shorthand needs a variable, and `max` is reserved), found `}`",
                    "1:7-1:8"},
        FailureCase{"{1: 2}", kSyntax, "expected a field name, found the number `1`", "1:1-1:2"},
        FailureCase{"{a b}", kSyntax, "expected `}`, found `b`", "1:3-1:4"},
        FailureCase{"f(a b c)", kSyntax, "expected `)`, found `c`", "1:6-1:7"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    FocusTrailLog, ExprFailure,
    testing::Values(
        FailureCase{"focus t on \"p\"", kSyntax,
                    "expected `, max N` (a `focus` always states its token cap), found the end of the interpolation",
                    "1:14-1:14"},
        FailureCase{"focus t on \"p\", 100", kSyntax,
                    "expected `, max N` (a `focus` always states its token cap), found `,`", "1:14-1:15"},
        FailureCase{"focus t on p, max 100", kSyntax, "expected the purpose text after `on`, found `p`",
                    "1:11-1:12"},
        FailureCase{"focus t, max 100", kSyntax, "expected `on`, found `,`", "1:7-1:8"},
        FailureCase{"focus t on \"p\", max x", kSyntax, "expected the token cap after `max`, found `x`",
                    "1:20-1:21"},
        FailureCase{"log info x {a: 1, a: 2}", DiagnosticCode::DuplicateName,
                    "the log field `a` is given twice (spec section 12)", "1:18-1:19"},
        FailureCase{"log info x {a, b, a}", DiagnosticCode::DuplicateName,
                    "the log field `a` is given twice (spec section 12)", "1:18-1:19"},
        FailureCase{"log trace x", DiagnosticCode::LogLevel,
                    "`trace` is not a log level; write `debug`, `info`, `warn` or `error` (spec section 5.8)",
                    "1:4-1:9"},
        FailureCase{"log \"x\"", kSyntax, "expected the end of the interpolation, found a text literal",
                    "1:4-1:7"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------

Expr parse_ok(std::string_view src, Pos base = kStart) {
  auto r = parse_expression(src, base);
  EXPECT_TRUE(r.ok()) << src << ": " << (r.ok() ? "" : r.error().front().message);
  return r.ok() ? *r : Expr{Expr::None{}};
}

TEST(ExprSpans, CoverTheirTokens) {
  struct Case {
    const char* src;
    const char* span;
  };
  for (const Case& c : {
           Case{"(a + b).c", "1:0-1:9"},  // a postfix chain starts at the parenthesis of its primary
           Case{"(a + b)", "1:1-1:6"},    // a parenthesised expression keeps its own span
           Case{"(a) + (b)", "1:1-1:8"},  // a binary node runs from operand to operand
           Case{"-(a)", "1:0-1:3"},       // and a prefix from its operator to its operand
           Case{"not  a", "1:0-1:6"},
           Case{"f(x).y[0]", "1:0-1:9"},
           Case{"f (x)", "1:0-1:5"},
           Case{"x is other", "1:0-1:10"},
           Case{"[x for x in xs if x]", "1:0-1:20"},
           Case{"{a: 1}", "1:0-1:6"},
           Case{"focus t on \"p\", max 10", "1:0-1:22"},
           Case{"trail 3", "1:0-1:7"},
           Case{"log info x {a}", "1:0-1:14"},
           Case{"log info (x)", "1:0-1:12"},
           Case{"\"t{x}\"", "1:0-1:6"},
       }) {
    EXPECT_EQ(span_str(ast::span(parse_ok(c.src))), c.span) << c.src;
  }
}

TEST(ExprSpans, ArgumentsAndFields) {
  Expr call = parse_ok("f(n: (1), x)");
  const auto& args = std::get<Expr::Call>(call.node).args;
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(span_str(args[0].span), "1:2-1:7");  // from the name to the end of the value
  EXPECT_EQ(span_str(args[0].name->span), "1:2-1:3");
  EXPECT_EQ(span_str(args[1].span), "1:10-1:11");

  Expr record = parse_ok("{a: (1), b}");
  const auto& fields = std::get<Expr::Record>(record.node).fields;
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(span_str(fields[0].span), "1:1-1:7");  // from the name to the field's last token
  EXPECT_EQ(span_str(fields[0].name_span), "1:1-1:2");
  EXPECT_FALSE(fields[1].value.has_value());
  EXPECT_EQ(span_str(fields[1].span), "1:9-1:10");

  Expr field = parse_ok("a.in");
  EXPECT_EQ(span_str(std::get<Expr::Field>(field.node).name_span), "1:2-1:4");
  Expr is = parse_ok("a is none");
  EXPECT_EQ(span_str(std::get<Expr::Is>(is.node).label_span), "1:5-1:9");
}

// ---------------------------------------------------------------------------------------------------------------
// The command form, as the statement parser uses it: an expression, then command arguments.

struct CommandCase {
  const char* src;
  bool stop_at_max;
  const char* tree;
  const char* rest;  // the token left for the caller
};

void PrintTo(const CommandCase& c, std::ostream* os) { print_source(c.src, os); }

class CommandForm : public testing::TestWithParam<CommandCase> {};

std::string command_case_name(const testing::TestParamInfo<CommandCase>& info) {
  return source_case_name(info.param.src) + (info.param.stop_at_max ? "_stopping_at_max" : "");
}

TEST_P(CommandForm, TurnsPathsIntoCalls) {
  const CommandCase& c = GetParam();
  auto tokens = lex(c.src);
  ASSERT_TRUE(tokens.ok()) << c.src;
  Parser p(*tokens, /*log_shadowed=*/false);
  auto expr = parse_or(p);
  ASSERT_TRUE(expr.ok()) << expr.error().message;
  auto call = parse_command_call(p, std::move(*expr), c.stop_at_max);
  ASSERT_TRUE(call.ok()) << call.error().message;
  EXPECT_EQ(render_expr(*call), c.tree) << c.src;
  EXPECT_EQ(describe_token(p.current()), c.rest) << c.src;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, CommandForm,
    testing::Values(
        CommandCase{"writer.write prompt using notes", false, "(cmd writer.write prompt using=notes)",
                    "the end of the line"},
        CommandCase{"worker.spawn in h", false, "(cmd worker.spawn in=h)", "the end of the line"},
        CommandCase{"top chunks, by keep, n 3", false, "(cmd top chunks by=keep n=3)", "the end of the line"},
        CommandCase{"agent.ask not done", false, "(cmd agent.ask (not done))", "the end of the line"},
        CommandCase{"say \"hi\" using {a: 1}", false, "(cmd say \"hi\" using={a: 1})", "the end of the line"},
        CommandCase{"say x using", false, "(cmd say x=using)", "the end of the line"},
        CommandCase{"agent.stop", false, "agent.stop", "the end of the line"},
        CommandCase{"foo -1", false, "(- foo 1)", "the end of the line"},
        CommandCase{"foo (x)", false, "(call foo x)", "the end of the line"},
        CommandCase{"ask x: 1", false, "(cmd ask x)", "`:`"},
        CommandCase{"a + b c", false, "(+ a b)", "`c`"},
        CommandCase{"f(x) y", false, "(call f x)", "`y`"},
        CommandCase{"x[0] y", false, "x[0]", "`y`"},
        CommandCase{"log \"x\"", false, "(cmd log \"x\")", "the end of the line"},
        CommandCase{"log info x", false, "(log info x)", "the end of the line"},
        CommandCase{"summarize doc, max 200", true, "(cmd summarize doc)", "`,`"},
        CommandCase{"summarize doc, max 200", false, "(cmd summarize doc max=200)", "the end of the line"},
        CommandCase{"summarize doc, n 2, max 200", true, "(cmd summarize doc n=2)", "`,`"}),
    command_case_name);

TEST(CommandForm, ShadowedLogIsAnOrdinaryCall) {
  auto tokens = lex("log info x");
  ASSERT_TRUE(tokens.ok());
  Parser p(*tokens, /*log_shadowed=*/true);
  auto expr = parse_or(p);
  ASSERT_TRUE(expr.ok());
  EXPECT_EQ(render_expr(*expr), "log");
  auto call = parse_command_call(p, std::move(*expr), false);
  ASSERT_TRUE(call.ok());
  EXPECT_EQ(render_expr(*call), "(cmd log info=x)");
  EXPECT_EQ(span_str(ast::span(*call)), "1:0-1:10");

  // The flag reaches interpolations too: with it, `log info x` is no `log` form there either.
  Diagnostic d = parse_failure("log info x", kStart, /*log_shadowed=*/true);
  EXPECT_EQ(d.message, "expected the end of the interpolation, found `info`");
}

TEST(CommandForm, IsLogExpressionStartLooksThreeTokensAhead) {
  struct Case {
    const char* src;
    bool shadowed;
    bool starts;
  };
  for (const Case& c : {Case{"log info x", false, true}, Case{"log info x", true, false},
                        Case{"log trace (x)", false, true}, Case{"log info max(a)", false, true},
                        Case{"log info -1", false, true}, Case{"log info", false, false},
                        Case{"log info + 1", false, false}, Case{"log info.x", false, false},
                        Case{"log \"x\"", false, false}, Case{"logs info x", false, false}}) {
    auto tokens = lex(c.src);
    ASSERT_TRUE(tokens.ok()) << c.src;
    Parser p(*tokens, c.shadowed);
    EXPECT_EQ(is_log_expression_start(p), c.starts) << c.src;
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Interpolations: the source of one `{...}` parsed on its own, placed in the file.

TEST(Interpolation, PositionsMoveIntoTheFile) {
  const Pos base{7, 12, 340};
  Expr e = parse_ok("   x", base);  // a token at line 1, column 3 of the source
  EXPECT_EQ(ast::span(e), (Span{{7, 15, 343}, {7, 16, 344}}));

  Expr sum = parse_ok("a +\n  b", base);  // the second name at line 2, column 2
  const auto& binary = std::get<Expr::Binary>(sum.node);
  EXPECT_EQ(ast::span(*binary.left), (Span{{7, 12, 340}, {7, 13, 341}}));
  EXPECT_EQ(ast::span(*binary.right), (Span{{8, 2, 346}, {8, 3, 347}}));
}

TEST(Interpolation, FailuresSpeakOfTheInterpolation) {
  const Pos base{3, 10, 100};
  Diagnostic two_names = parse_failure("a b", base);
  EXPECT_EQ(two_names.message, "expected the end of the interpolation, found `b`");
  EXPECT_EQ(two_names.span, (Span{{3, 12, 102}, {3, 13, 103}}));

  Diagnostic early_end = parse_failure("a *", base);
  EXPECT_EQ(early_end.message, "expected an expression, found the end of the interpolation");
  EXPECT_EQ(early_end.span, (Span{{3, 13, 103}, {3, 13, 103}}));

  auto lexed = parse_interpolation("a $ b ~", base, false);
  ASSERT_FALSE(lexed.ok());
  ASSERT_EQ(lexed.error().size(), 2u);  // every lexer diagnostic, moved into the file
  EXPECT_EQ(lexed.error()[0].message, "unexpected character `$`");
  EXPECT_EQ(lexed.error()[0].span, (Span{{3, 12, 102}, {3, 13, 103}}));
  EXPECT_EQ(lexed.error()[1].span, (Span{{3, 16, 106}, {3, 17, 107}}));
}

TEST(Interpolation, TextsCheckTheirInterpolations) {
  // The interpolation `a +` stands at columns 3 to 6 of the line; its early end is reported there.
  Diagnostic broken = parse_failure("\"x{a +}y\"");
  EXPECT_EQ(broken.message, "expected an expression, found the end of the interpolation");
  EXPECT_EQ(span_str(broken.span), "1:6-1:6");

  Diagnostic on_second_line = parse_failure("\"\"\"line\n  {a b}\"\"\"", Pos{4, 8, 0});
  EXPECT_EQ(on_second_line.message, "expected the end of the interpolation, found `b`");
  EXPECT_EQ(span_str(on_second_line.span), "5:5-5:6");

  // A text inside an interpolation carries its own interpolations, which are placed in the file as well.
  Diagnostic nested = parse_failure("\"{ \"{ a b }\" }\"");
  EXPECT_EQ(nested.message, "expected the end of the interpolation, found `b`");
  EXPECT_EQ(span_str(nested.span), "1:8-1:9");

  Expr text = parse_ok("f(\"{ \"{ a }\" }\")", Pos{2, 4, 10});
  const auto& arg = std::get<Expr::Call>(text.node).args.at(0).value;
  const auto& outer = std::get<Expr::Text>(arg.node).text;
  ASSERT_EQ(outer.parts.size(), 1u);
  const auto& part = std::get<TextInterpolationPart>(outer.parts[0]);
  EXPECT_EQ(part.source, " \"{ a }\" ");
  EXPECT_EQ(span_str(part.span), "2:8-2:17");

  // The raw parts stay as the lexer made them.
  Expr kept = parse_ok("\"a{b + c}d\"");
  const auto& lit = std::get<Expr::Text>(kept.node).text;
  ASSERT_EQ(lit.parts.size(), 3u);
  EXPECT_EQ(std::get<TextInterpolationPart>(lit.parts[1]).source, "b + c");
  EXPECT_FALSE(lit.triple_quoted);
}

TEST(Interpolation, TextsKeepTheExpressionsTheParserRead) {
  // Each interpolation's expression is kept, in order, at its place in the file, and a text inside one keeps
  // its own: no later phase has to parse a source again.
  Expr text = parse_ok("\"a{b + c}d{\"e{f}\"}\"", Pos{2, 4, 10});
  const ast::TextLit& lit = std::get<Expr::Text>(text.node).text;
  const std::vector<Expr>* kept = ast::interpolation_exprs(lit, false);
  ASSERT_NE(kept, nullptr);
  ASSERT_EQ(kept->size(), 2u);
  EXPECT_EQ(std::get<Expr::Binary>((*kept)[0].node).op, syntax::BinaryOp::Add);
  EXPECT_EQ(span_str(ast::span((*kept)[0])), "2:7-2:12");
  const ast::TextLit& inner = std::get<Expr::Text>((*kept)[1].node).text;
  const std::vector<Expr>* inner_kept = ast::interpolation_exprs(inner, false);
  ASSERT_NE(inner_kept, nullptr);
  ASSERT_EQ(inner_kept->size(), 1u);
  EXPECT_EQ(std::get<Expr::Name>((*inner_kept)[0].node).name, "f");
  EXPECT_EQ(span_str(ast::span((*inner_kept)[0])), "2:18-2:19");

  // They were read with `log` as the log form, so they do not serve a reading that takes it as a name.
  EXPECT_EQ(ast::interpolation_exprs(lit, true), nullptr);

  // Kept expressions follow from the parts: a text without them equals the parsed one, and offers none.
  ast::TextLit bare{lit.parts, lit.triple_quoted, {}, false};
  EXPECT_EQ(bare, lit);
  EXPECT_EQ(ast::interpolation_exprs(bare, false), nullptr);
  ast::TextLit plain;
  plain.parts.push_back(syntax::TextLiteralPart{"no interpolation"});
  EXPECT_NE(ast::interpolation_exprs(plain, false), nullptr);
}

// ---------------------------------------------------------------------------------------------------------------
// Deeply nested input ends in a diagnostic, not in a stack overflow.

std::string repeat(std::string_view text, int n) {
  std::string out;
  out.reserve(text.size() * n);
  for (int i = 0; i < n; ++i) out += text;
  return out;
}

// `n` levels of text interpolation around `x`: "{"{x}"}".
std::string nested_interpolations(int n) { return repeat("\"{", n) + "x" + repeat("}\"", n); }

struct NestingCase {
  const char* name;
  std::string (*make)(int levels);
};

void PrintTo(const NestingCase& c, std::ostream* os) { *os << c.name; }

std::string parens(int n) { return repeat("(", n) + "a" + repeat(")", n); }
std::string nots(int n) { return repeat("not ", n) + "a"; }
std::string negations(int n) { return repeat("-", n) + "a"; }
std::string brackets(int n) { return repeat("[", n) + repeat("]", n); }
std::string braces(int n) { return repeat("{a: ", n) + "1" + repeat("}", n); }
std::string calls(int n) { return repeat("f(", n) + "x" + repeat(")", n); }
std::string indexes(int n) { return "a" + repeat("[a", n) + repeat("]", n); }
std::string sums(int n) { return "a" + repeat(" + a", n); }
std::string ors(int n) { return "a" + repeat(" or a", n); }
std::string fields(int n) { return "a" + repeat(".b", n); }
std::string call_chain(int n) { return "f" + repeat("()", n); }
std::string logs(int n) { return repeat("log info ", n) + "x"; }

class DeepNesting : public testing::TestWithParam<NestingCase> {};

TEST_P(DeepNesting, IsRefusedBeyondTheLimit) {
  std::string src = GetParam().make(100000);
  auto r = parse_expression(src, kStart);
  ASSERT_FALSE(r.ok());
  ASSERT_EQ(r.error().size(), 1u);
  EXPECT_EQ(r.error()[0].code, DiagnosticCode::Syntax);
  EXPECT_EQ(r.error()[0].message, "this nests too deeply; the limit is 100 levels of nesting");
}

TEST_P(DeepNesting, FiftyLevelsParse) {
  std::string src = GetParam().make(50);
  auto r = parse_expression(src, kStart);
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error()[0].message);
}

INSTANTIATE_TEST_SUITE_P(Forms, DeepNesting,
                         testing::Values(NestingCase{"parens", parens}, NestingCase{"nots", nots},
                                         NestingCase{"negations", negations}, NestingCase{"brackets", brackets},
                                         NestingCase{"braces", braces}, NestingCase{"calls", calls},
                                         NestingCase{"indexes", indexes}, NestingCase{"sums", sums},
                                         NestingCase{"ors", ors}, NestingCase{"fields", fields},
                                         NestingCase{"call_chain", call_chain}, NestingCase{"logs", logs},
                                         NestingCase{"interpolations", nested_interpolations}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeepNesting, TheLimitIsExact) {
  // The whole expression is the first level, each parenthesis one more.
  EXPECT_TRUE(parse_expression(parens(99), kStart).ok());
  auto too_deep = parse_expression(parens(100), kStart);
  ASSERT_FALSE(too_deep.ok());
  EXPECT_EQ(span_str(too_deep.error()[0].span), "1:100-1:101");  // inside the 100th parenthesis

  // A chain of operators nests its nodes as deeply as parentheses would.
  EXPECT_TRUE(parse_expression(sums(99), kStart).ok());
  EXPECT_FALSE(parse_expression(sums(100), kStart).ok());

  // Nesting counts across interpolations, and the failure is placed in the file.
  auto deep_text = parse_expression(nested_interpolations(100), kStart);
  ASSERT_FALSE(deep_text.ok());
  EXPECT_EQ(deep_text.error()[0].message, "this nests too deeply; the limit is 100 levels of nesting");
  EXPECT_EQ(span_str(deep_text.error()[0].span), "1:200-1:201");
  EXPECT_TRUE(parse_expression(nested_interpolations(99), kStart).ok());
}

TEST(DeepNesting, TheCounterIsReleased) {
  // Many siblings, each nested well within the limit, never add up.
  std::string src = "[" + parens(90);
  for (int i = 0; i < 1000; ++i) src += ", " + parens(90);
  src += "]";
  EXPECT_TRUE(parse_expression(src, kStart).ok());
}

}  // namespace
}  // namespace dravelin::syntax
