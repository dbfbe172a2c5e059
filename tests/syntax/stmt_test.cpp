#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_names.h"
#include "json/number_format.h"
#include "parse_helpers.h"
#include "syntax/lexer.h"
#include "syntax/parser.h"
#include "tree_render.h"

namespace dravelin::syntax {
namespace {

using ast::Expr;
using ast::Stmt;

// ---------------------------------------------------------------------------------------------------------------
// Compact renderings: `(= a.b (cmd f x n=1))`, `(if a [(do f)] else [break])`, `(gate risk=r (proceed [...]))`.

using namespace test_support;

// Statement trees name their operators: `(add a 1)`, `(gt n 3)`.
std::string render(const Expr& e) { return render_expr(e, OpStyle::Name); }

std::string render(const Stmt& s);

std::string render(const ast::Block& b) {
  std::string out = "[";
  for (size_t i = 0; i < b.stmts.size(); ++i) out += (i ? " " : "") + render(b.stmts[i]);
  return out + "]";
}

std::string render_target(const ast::AssignTarget& t) {
  std::string out = t.root;
  for (const auto& step : t.path) out += "." + step.name;
  return out;
}

std::string render(const Stmt& s) {
  struct Render {
    std::string operator()(const Stmt::Assign& n) const {
      return "(= " + render_target(n.target) + " " + render(n.value) + ")";
    }
    std::string operator()(const Stmt::Expr& n) const { return "(do " + render(n.expr) + ")"; }
    std::string operator()(const Stmt::If& n) const {
      std::string out = "(if";
      for (size_t i = 0; i < n.branches.size(); ++i) {
        out += std::string(i ? " elif " : " ") + render(n.branches[i].test) + " " + render(n.branches[i].body);
      }
      if (n.otherwise) out += " else " + render(*n.otherwise);
      return out + ")";
    }
    std::string operator()(const Stmt::For& n) const {
      std::string out = "(for";
      for (const auto& name : n.names) out += " " + name.name;
      return out + " in " + render(n.iterable) + " " + render(n.body) + ")";
    }
    std::string operator()(const Stmt::Loop& n) const {
      return "(loop " + json::format_plain_decimal(n.max) + " " + render(n.body) + ")";
    }
    std::string operator()(const Stmt::Until& n) const {
      return std::string("(until ") + (n.verify ? "verify " : "") + render(n.test) + " " +
             json::format_plain_decimal(n.max) + " " + render(n.body) + ")";
    }
    std::string operator()(const Stmt::Gate& n) const {
      std::string out = "(gate";
      if (n.risk) out += " risk=" + render(*n.risk);
      if (n.confidence) out += " confidence=" + render(*n.confidence);
      if (n.done) out += " done=" + render(*n.done);
      for (const auto& arm : n.arms) out += " (" + std::string(enum_name(arm.verdict)) + " " + render(arm.body) + ")";
      return out + ")";
    }
    std::string operator()(const Stmt::Shape& n) const {
      std::string out = std::string("(shape ") + (n.strict ? "strict " : "") + n.target;
      for (const auto& f : n.fields) {
        out += " (" + f.name + " " + render(f.value);
        if (f.max) out += " max=" + json::format_plain_decimal(*f.max);
        if (f.tail) out += " tail";
        out += ")";
      }
      return out + ")";
    }
    std::string operator()(const Stmt::Return& n) const {
      return n.value ? "(return " + render(*n.value) + ")" : "(return)";
    }
    std::string operator()(const Stmt::Continue&) const { return "continue"; }
    std::string operator()(const Stmt::Break&) const { return "break"; }
    std::string operator()(const Stmt::Stop& n) const { return "(stop " + render(n.reason) + ")"; }
    std::string operator()(const Stmt::Escalate& n) const { return "(escalate " + render(n.reason) + ")"; }
  };
  return std::visit(Render{}, s.node);
}

Span stmt_span(const Stmt& s) {
  return std::visit([](const auto& n) { return n.span; }, s.node);
}

// A snippet parsed as a run of statements, the way a block body is read, until the end of the file.
struct Parsed {
  std::vector<Token> tokens;
  std::vector<Stmt> stmts;
  std::optional<Diagnostic> failure;
};

Parsed parse_statements(std::string_view src, bool log_shadowed = false,
                        std::vector<Span> verify_spans = {}) {
  Parsed out;
  out.tokens = tokens_of(src);
  Parser p(out.tokens, log_shadowed);
  p.verify_spans = std::move(verify_spans);
  while (!p.current().is_eof()) {
    auto stmt = parse_statement(p);
    if (!stmt.ok()) {
      out.failure = std::move(stmt).error();
      break;
    }
    out.stmts.push_back(std::move(*stmt));
  }
  return out;
}

std::string tree_of(std::string_view src, bool log_shadowed = false) {
  Parsed parsed = parse_statements(src, log_shadowed);
  if (parsed.failure) return "error: " + parsed.failure->message;
  std::string out;
  for (size_t i = 0; i < parsed.stmts.size(); ++i) out += (i ? " " : "") + render(parsed.stmts[i]);
  return out;
}

Stmt only_statement(std::string_view src) {
  Parsed parsed = parse_statements(src);
  EXPECT_FALSE(parsed.failure) << src << ": " << parsed.failure->message;
  EXPECT_EQ(parsed.stmts.size(), 1u) << src;
  if (parsed.stmts.size() != 1) return Stmt{Stmt::Break{}};
  return std::move(parsed.stmts.front());
}

// ---------------------------------------------------------------------------------------------------------------

class StmtTree : public testing::TestWithParam<TreeCase> {};

TEST_P(StmtTree, Parses) { EXPECT_EQ(tree_of(GetParam().src), GetParam().tree) << GetParam().src; }

INSTANTIATE_TEST_SUITE_P(
    AssignmentsAndExpressionStatements, StmtTree,
    testing::Values(
        TreeCase{"a = 1\n", "(= a 1)"}, TreeCase{"a.b.c = f(x)\n", "(= a.b.c (call f x))"},
        TreeCase{"x = agent.ask prompt using notes\n", "(= x (cmd agent.ask prompt using=notes))"},
        TreeCase{"x = top chunks, by keep, n 3\n", "(= x (cmd top chunks by=keep n=3))"},
        // On a right-hand side outside a shape, `, max` is just another named argument.
        TreeCase{"x = summarize doc, max 200\n", "(= x (cmd summarize doc max=200))"},
        TreeCase{"x = a - 1\n", "(= x (sub a 1))"}, TreeCase{"x.max = 1\n", "(= x.max 1)"},
        TreeCase{"writer.write prompt using notes\n", "(do (cmd writer.write prompt using=notes))"},
        TreeCase{"worker.spawn in h\n", "(do (cmd worker.spawn in=h))"},
        TreeCase{"go\n", "(do go)"}, TreeCase{"worker.stop\n", "(do worker.stop)"},
        TreeCase{"f(x)\n", "(do (call f x))"}, TreeCase{"f(x)(y)\n", "(do (call (call f x) y))"},
        TreeCase{"log info \"routed\" {route, score: s}\n", "(do (log info \"routed\" {route, score: s}))"},
        TreeCase{"log warn x\n", "(do (log warn x))"},
        // No level word: a command call of the name `log`, left for the checker.
        TreeCase{"log \"x\"\n", "(do (cmd log \"x\"))"}, TreeCase{"log info\n", "(do (cmd log info))"},
        TreeCase{"a = 1\nb = a\n", "(= a 1) (= b a)"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    CompoundStatements, StmtTree,
    testing::Values(
        TreeCase{"if a:\n  x()\nelif b:\n  y()\nelif c:\n  z\nelse:\n  break\n",
                 "(if a [(do (call x))] elif b [(do (call y))] elif c [(do z)] else [break])"},
        TreeCase{"if a:\n  if b:\n    x()\n  else:\n    y()\nz()\n",
                 "(if a [(if b [(do (call x))] else [(do (call y))])]) (do (call z))"},
        TreeCase{"for k, v in items:\n  f(k)\n", "(for k v in items [(do (call f k))])"},
        TreeCase{"for x in xs:\n  continue\n", "(for x in xs [continue])"},
        TreeCase{"loop max 3:\n  f()\n", "(loop 3 [(do (call f))])"},
        TreeCase{"loop max 2k:\n  f()\n", "(loop 2000 [(do (call f))])"},
        TreeCase{"until verify(ok), max 5:\n  f()\n", "(until verify ok 5 [(do (call f))])"},
        TreeCase{"until verify > 2, max 5:\n  f()\n", "(until (gt verify 2) 5 [(do (call f))])"},
        TreeCase{"until verify, max 5:\n  f()\n", "(until verify 5 [(do (call f))])"},
        TreeCase{"until done or n > 3, max 10:\n  f()\n", "(until (or done (gt n 3)) 10 [(do (call f))])"},
        TreeCase{"gate risk r, confidence c:\n  proceed -> return x\n  stop ->\n    log warn \"no\"\n    stop "
                 "\"halt\"\n",
                 "(gate risk=r confidence=c (proceed [(return x)]) (stop [(do (log warn \"no\")) (stop "
                 "\"halt\")]))"},
        TreeCase{"gate done d, risk r:\n  confirm -> escalate \"why\"\n  escalate -> stop \"no\"\n",
                 "(gate risk=r done=d (confirm [(escalate \"why\")]) (escalate [(stop \"no\")]))"},
        // The one-statement arm may itself be compound.
        TreeCase{"gate risk r:\n  proceed -> if a:\n    f()\n  stop -> break\n",
                 "(gate risk=r (proceed [(if a [(do (call f))])]) (stop [break]))"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    ShapeStatements, StmtTree,
    testing::Values(
        TreeCase{"s = shape:\n  title doc.title, max 50\n  body summarize doc, n 2, max 2000, tail\n"
                 "  notes focus t on \"p\", max 300\n  raw x\n",
                 "(shape s (title doc.title max=50) (body (cmd summarize doc n=2) max=2000 tail) "
                 "(notes (focus t \"p\" 300)) (raw x))"},
        TreeCase{"s = shape strict:\n  a x, max 1k\n", "(shape strict s (a x max=1000))"},
        // `tail` is recognised only after a cap; elsewhere it is an ordinary name.
        TreeCase{"s = shape:\n  a summarize doc, tail\n", "(shape s (a (cmd summarize doc tail)))"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    SimpleStatements, StmtTree,
    testing::Values(TreeCase{"return\n", "(return)"}, TreeCase{"return a + 1\n", "(return (add a 1))"},
                    TreeCase{"continue\n", "continue"}, TreeCase{"break\n", "break"},
                    TreeCase{"stop \"done {x}\"\n", "(stop \"done {x}\")"},
                    TreeCase{"escalate \"\"\"why\"\"\"\n", "(escalate \"why\")"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Judgments, StmtTree,
    testing::Values(
        TreeCase{"x = y feels \"ok\"\n", "(= x (judge feels y))"},
        TreeCase{"x = y[0].z feels \"ok\"\n", "(= x (judge feels y[0].z))"},
        TreeCase{"x = each items feels \"ok\"\n", "(= x (judge each feels items))"},
        // A question that ends with its own block needs no line end before the next statement.
        TreeCase{"x = y pick:\n  accept \"fine\"\n  other\nz = 1\n", "(= x (judge pick y)) (= z 1)"},
        TreeCase{"x = y rate:\n  low \"nothing works\"\n  high \"everything works\"\nreturn x\n",
                 "(= x (judge rate y)) (return x)"}),
    NameBySource());

TEST(StmtTree, ShadowedLogIsAnOrdinaryCommand) {
  EXPECT_EQ(tree_of("log info x\n", /*log_shadowed=*/true), "(do (cmd log info=x))");
  EXPECT_EQ(tree_of("x = log info y\n", /*log_shadowed=*/true), "(= x (cmd log info=y))");
}

// ---------------------------------------------------------------------------------------------------------------

class StmtFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(StmtFailure, Reports) {
  const FailureCase& c = GetParam();
  Parsed parsed = parse_statements(c.src);
  ASSERT_TRUE(parsed.failure) << c.src << " parsed";
  expect_failure(*parsed.failure, c);
}

constexpr const char* kNothing =
    "expected a statement; an expression on its own does nothing (assign it, call something or `log` it)";
constexpr const char* kCannotAssign =
    "cannot assign to this expression; a target is a name or a field path (spec section 5.3)";

INSTANTIATE_TEST_SUITE_P(
    Dispatch, StmtFailure,
    testing::Values(
        FailureCase{"3\n", kSyntax, "expected a statement, found the number `3`", "1:0-1:1"},
        FailureCase{"\"t\"\n", kSyntax, "expected a statement, found a text literal", "1:0-1:3"},
        FailureCase{"each x\n", kSyntax, "expected a statement, found the reserved word `each`", "1:0-1:4"},
        FailureCase{"shape:\n", kSyntax, "expected a statement, found the reserved word `shape`", "1:0-1:5"},
        FailureCase{"(f)()\n", kSyntax, "expected a statement, found `(`", "1:0-1:1"},
        FailureCase{"elif x:\n  f()\n", kSyntax,
                    "expected a statement (`elif` has no `if` at this indentation), found the reserved word `elif`",
                    "1:0-1:4"},
        FailureCase{"else:\n  f()\n", kSyntax,
                    "expected a statement (`else` has no `if` at this indentation), found the reserved word `else`",
                    "1:0-1:4"},
        // An `else` inside the `if` body instead of after it.
        FailureCase{"if a:\n  f()\n  else:\n    g()\n", kSyntax,
                    "expected a statement (`else` has no `if` at this indentation), found the reserved word `else`",
                    "3:2-3:6"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    NameStatements, StmtFailure,
    testing::Values(
        FailureCase{"x feels \"ok\"\n", kSyntax,
                    "expected `=` (a judgment's answer must be assigned to a name, spec section 6), found the "
                    "reserved word `feels`",
                    "1:2-1:7"},
        // The judgment check comes before the target is looked at.
        FailureCase{"a[0] pick:\n", kSyntax,
                    "expected `=` (a judgment's answer must be assigned to a name, spec section 6), found the "
                    "reserved word `pick`",
                    "1:5-1:9"},
        FailureCase{"a + b\n", kSyntax, kNothing, "1:0-1:5"},
        FailureCase{"f(x).y\n", kSyntax, kNothing, "1:0-1:6"},
        FailureCase{"a[0]\n", kSyntax, kNothing, "1:0-1:4"},
        FailureCase{"a is b\n", kSyntax, kNothing, "1:0-1:6"},
        FailureCase{"a[0] = 1\n", kSyntax, kCannotAssign, "1:0-1:4"},
        // Refused before the value is read.
        FailureCase{"f(x) = )\n", kSyntax, kCannotAssign, "1:0-1:4"},
        FailureCase{"a.b[0].c = 1\n", kSyntax, kCannotAssign, "1:0-1:8"},
        FailureCase{"a = b = c\n", kSyntax, "expected the end of the line, found `=`", "1:6-1:7"},
        FailureCase{"x = a < b < c\n", kSyntax, "expected the end of the line, found `<`", "1:10-1:11"},
        FailureCase{"x = f(y) feels \"ok\"\n", DiagnosticCode::SubjectNotPath,
                    "a judgment subject must be a variable or a field path; compute first, then judge (spec "
                    "section 6.1)",
                    "1:4-1:8"},
        FailureCase{"x = each items\n", kSyntax,
                    "expected a judgment verb (`feels`, `pick` or `rate`), found the end of the line",
                    "1:14-2:0"},
        FailureCase{"x =\n", kSyntax, "expected an expression, found the end of the line", "1:3-2:0"},
        FailureCase{"log trace x\n", DiagnosticCode::LogLevel,
                    "`trace` is not a log level; write `debug`, `info`, `warn` or `error` (spec section 5.8)",
                    "1:4-1:9"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Shapes, StmtFailure,
    testing::Values(
        FailureCase{"a.b = shape:\n  x y\n", kSyntax,
                    "`shape` assigns to a plain name, not a field path (spec section 7.2)", "1:0-1:3"},
        // The field path is refused before anything after `shape` is looked at.
        FailureCase{"a.b = shape strict\n", kSyntax,
                    "`shape` assigns to a plain name, not a field path (spec section 7.2)", "1:0-1:3"},
        FailureCase{"s = shape\n", kSyntax, "expected `:`, found the end of the line", "1:9-2:0"},
        FailureCase{"s = shape lax:\n", kSyntax, "expected `:`, found `lax`", "1:10-1:13"},
        FailureCase{"s = shape:\ntitle x\n", kSyntax,
                    "expected an indented block of fields after `shape:`, found `title`", "2:0-2:5"},
        FailureCase{"s = shape:\n  1 x\n", kSyntax, "expected a field name, found the number `1`", "2:2-2:3"},
        FailureCase{"s = shape:\n  a x, tail\n", kSyntax, "expected the end of the line, found `,`", "2:5-2:6"},
        FailureCase{"s = shape:\n  a x, max y\n", kSyntax,
                    "expected the field's token cap after `max`, found `y`", "2:11-2:12"},
        FailureCase{"s = shape:\n  a x, max 5, tail, tail\n", kSyntax, "expected the end of the line, found `,`",
                    "2:18-2:19"},
        FailureCase{"s = shape:\n  a each xs feels \"x\"\n", kSyntax,
                    "expected a command or an expression (a shape field cannot be a judgment; assign it first), "
                    "found the reserved word `each`",
                    "2:4-2:8"},
        FailureCase{"s = shape:\n  a x feels \"y\"\n", kSyntax,
                    "expected the end of the field (a shape field cannot be a judgment; assign it first), found "
                    "the reserved word `feels`",
                    "2:6-2:11"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Loops, StmtFailure,
    testing::Values(
        FailureCase{"loop:\n  f()\n", DiagnosticCode::UnboundedLoop,
                    "`loop` needs `max N`: every loop has a compile-time bound (spec section 5.5)", "1:0-1:4"},
        FailureCase{"loop 3:\n  f()\n", DiagnosticCode::UnboundedLoop,
                    "`loop` needs `max N`: every loop has a compile-time bound (spec section 5.5)", "1:0-1:4"},
        FailureCase{"loop max x:\n", kSyntax, "expected the loop's bound after `max`, found `x`", "1:9-1:10"},
        FailureCase{"loop max 3\n", kSyntax, "expected `:`, found the end of the line", "1:10-2:0"},
        FailureCase{"until done max 3:\n  f()\n", DiagnosticCode::UnboundedLoop,
                    "`until` needs `, max N`: every loop has a compile-time bound (spec section 5.5)", "1:0-1:10"},
        FailureCase{"until x, 3:\n  f()\n", DiagnosticCode::UnboundedLoop,
                    "`until` needs `, max N`: every loop has a compile-time bound (spec section 5.5)", "1:0-1:7"},
        FailureCase{"until verify(ok):\n  f()\n", DiagnosticCode::UnboundedLoop,
                    "`until` needs `, max N`: every loop has a compile-time bound (spec section 5.5)", "1:0-1:16"},
        FailureCase{"until verify(ok) and x, max 3:\n", DiagnosticCode::UnboundedLoop,
                    "`until` needs `, max N`: every loop has a compile-time bound (spec section 5.5)", "1:0-1:16"},
        FailureCase{"until x, max:\n", kSyntax, "expected the loop's bound after `max`, found `:`", "1:12-1:13"},
        FailureCase{"until verify(ok, max 3:\n", kSyntax, "expected `)`, found `,`", "1:15-1:16"},
        FailureCase{"for a, b, c in xs:\n  f()\n", kSyntax, "expected `in`, found `,`", "1:8-1:9"},
        FailureCase{"for in xs:\n", kSyntax, "expected a loop variable, found the reserved word `in`", "1:4-1:6"},
        FailureCase{"for a, in xs:\n", kSyntax, "expected a second loop variable, found the reserved word `in`",
                    "1:7-1:9"},
        FailureCase{"for a in xs\n  f()\n", kSyntax, "expected `:`, found the end of the line", "1:11-2:0"},
        FailureCase{"if a\n  f()\n", kSyntax, "expected `:`, found the end of the line", "1:4-2:0"},
        FailureCase{"if a: f()\n", kSyntax, "expected the end of the line, found `f`", "1:6-1:7"},
        FailureCase{"if a:\nf()\n", kSyntax, "expected an indented block after `if ...:`, found `f`", "2:0-2:1"},
        FailureCase{"if a:\n  f()\nelif b:\ng()\n", kSyntax,
                    "expected an indented block after `elif ...:`, found `g`", "4:0-4:1"},
        FailureCase{"if a:\n  f()\nelse:\ng()\n", kSyntax, "expected an indented block after `else:`, found `g`",
                    "4:0-4:1"},
        FailureCase{"if a:\n  f()\nelse b:\n  g()\n", kSyntax, "expected `:`, found `b`", "3:5-3:6"},
        FailureCase{"for x in xs:\ny\n", kSyntax, "expected an indented block after `for ...:`, found `y`",
                    "2:0-2:1"},
        FailureCase{"loop max 2:\ny\n", kSyntax, "expected an indented block after `loop max N:`, found `y`",
                    "2:0-2:1"},
        FailureCase{"until x, max 2:\ny\n", kSyntax,
                    "expected an indented block after `until ..., max N:`, found `y`", "2:0-2:1"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Gates, StmtFailure,
    testing::Values(
        FailureCase{"gate:\n", kSyntax, "expected a gate argument (`risk`, `confidence` or `done`), found `:`",
                    "1:4-1:5"},
        FailureCase{"gate risk r, odds o:\n", kSyntax,
                    "expected a gate argument (`risk`, `confidence` or `done`), found `odds`", "1:13-1:17"},
        FailureCase{"gate risk r,:\n", kSyntax,
                    "expected a gate argument (`risk`, `confidence` or `done`), found `:`", "1:12-1:13"},
        // The repeated name is refused before its value is read.
        FailureCase{"gate risk r, confidence c, risk:\n", DiagnosticCode::DuplicateName,
                    "the gate argument `risk` is given twice (spec section 12)", "1:27-1:31"},
        FailureCase{"gate risk: r\n", kSyntax, "expected an expression, found `:`", "1:9-1:10"},
        FailureCase{"gate risk r\n", kSyntax, "expected `:`, found the end of the line", "1:11-2:0"},
        FailureCase{"gate risk r:\nproceed -> f()\n", kSyntax,
                    "expected an indented block of arms after `gate ...:`, found the reserved word `proceed`",
                    "2:0-2:7"},
        FailureCase{"gate risk r:\n  proceed -> f()\n  confirm -> g()\n  proceed -> h()\n",
                    DiagnosticCode::DuplicateName, "this gate arm is written twice (spec section 12)", "4:2-4:16"},
        // The repeated arm is parsed whole before it is compared, so an error inside it comes first.
        FailureCase{"gate risk r:\n  proceed -> f()\n  proceed -> 3\n", kSyntax,
                    "expected a statement, found the number `3`", "3:13-3:14"},
        FailureCase{"gate risk r:\n  maybe -> f()\n", kSyntax,
                    "expected a gate arm (`proceed`, `confirm`, `escalate` or `stop`), found `maybe`", "2:2-2:7"},
        FailureCase{"gate risk r:\n  proceed f()\n", kSyntax, "expected `->`, found `f`", "2:10-2:11"},
        FailureCase{"gate risk r:\n  proceed ->\n  stop -> f()\n", kSyntax,
                    "expected an indented block after `->`, found the reserved word `stop`", "3:2-3:6"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    SimpleStatements, StmtFailure,
    testing::Values(
        FailureCase{"stop reason\n", kSyntax, "expected the reason text after `stop`, found `reason`", "1:5-1:11"},
        FailureCase{"stop\n", kSyntax, "expected the reason text after `stop`, found the end of the line",
                    "1:4-2:0"},
        FailureCase{"escalate 3\n", kSyntax, "expected the reason text after `escalate`, found the number `3`",
                    "1:9-1:10"},
        FailureCase{"stop \"a\" \"b\"\n", kSyntax, "expected the end of the line, found a text literal",
                    "1:9-1:12"},
        FailureCase{"stop \"{a b}\"\n", kSyntax, "expected the end of the interpolation, found `b`", "1:9-1:10"},
        FailureCase{"return 1 2\n", kSyntax, "expected the end of the line, found the number `2`", "1:9-1:10"},
        // `return` takes an expression, not a command.
        FailureCase{"return f x\n", kSyntax, "expected the end of the line, found `x`", "1:9-1:10"},
        FailureCase{"continue x\n", kSyntax, "expected the end of the line, found `x`", "1:9-1:10"},
        FailureCase{"break 1\n", kSyntax, "expected the end of the line, found the number `1`", "1:6-1:7"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------

TEST(StmtSpans, CoverTheirTokens) {
  struct Case {
    const char* src;
    const char* span;
  };
  for (const Case& c : {
           Case{"a.b = f x, y\n", "1:0-1:12"},
           Case{"x = [a, b]\n", "1:0-1:10"},
           Case{"agent.ask x\n", "1:0-1:11"},
           Case{"log info x {a}\n", "1:0-1:14"},
           Case{"if a:\n  f()\nelif b:\n  g()\n", "1:0-4:5"},
           Case{"if a:\n  f()\nelse:\n  g()\n  h\n", "1:0-5:3"},
           Case{"for x in xs:\n  f()\n", "1:0-2:5"},
           Case{"loop max 3:\n  f()\n", "1:0-2:5"},
           Case{"until x, max 3:\n  f()\n", "1:0-2:5"},
           Case{"gate risk r:\n  proceed -> f()\n  stop ->\n    g()\n", "1:0-4:7"},
           Case{"s = shape:\n  a x, max 3\n  b y, max 4, tail\n", "1:0-3:18"},
           Case{"return\n", "1:0-1:6"},
           Case{"return (a)\n", "1:0-1:10"},
           Case{"continue\n", "1:0-1:8"},
           Case{"stop \"x\"\n", "1:0-1:8"},
           Case{"escalate \"x\"\n", "1:0-1:12"},
       }) {
    EXPECT_EQ(span_str(stmt_span(only_statement(c.src))), c.span) << c.src;
  }
}

TEST(StmtSpans, PartsOfStatements) {
  Stmt assign = only_statement("a.b.c = 1\n");
  const auto& target = std::get<Stmt::Assign>(assign.node).target;
  EXPECT_EQ(target.root, "a");
  EXPECT_EQ(span_str(target.root_span), "1:0-1:1");
  ASSERT_EQ(target.path.size(), 2u);
  EXPECT_EQ(target.path[0].name, "b");
  EXPECT_EQ(span_str(target.path[0].span), "1:2-1:3");
  EXPECT_EQ(target.path[1].name, "c");
  EXPECT_EQ(span_str(target.path[1].span), "1:4-1:5");
  EXPECT_EQ(span_str(target.span), "1:0-1:5");

  // A branch runs from its test, not its keyword; a block from its first statement to its last.
  Stmt if_stmt = only_statement("if (a):\n  f()\n  g\nelif b:\n  h()\nelse:\n  i()\n");
  const auto& branches = std::get<Stmt::If>(if_stmt.node).branches;
  ASSERT_EQ(branches.size(), 2u);
  EXPECT_EQ(span_str(branches[0].span), "1:3-3:3");
  EXPECT_EQ(span_str(branches[0].body.span), "2:2-3:3");
  EXPECT_EQ(span_str(branches[1].span), "4:5-5:5");
  EXPECT_EQ(span_str(std::get<Stmt::If>(if_stmt.node).otherwise->span), "7:2-7:5");

  Stmt gate = only_statement("gate risk r:\n  proceed -> return x\n  stop ->\n    f()\n");
  const auto& arms = std::get<Stmt::Gate>(gate.node).arms;
  ASSERT_EQ(arms.size(), 2u);
  EXPECT_EQ(arms[0].verdict, Verdict::Proceed);
  EXPECT_EQ(span_str(arms[0].span), "2:2-2:21");
  EXPECT_EQ(span_str(arms[0].body.span), "2:13-2:21");  // the one statement's own span
  EXPECT_EQ(arms[1].verdict, Verdict::Stop);
  EXPECT_EQ(span_str(arms[1].span), "3:2-4:7");

  Stmt shape = only_statement("s = shape:\n  a x, max 3\n  b y, max 4, tail\n");
  const auto& s = std::get<Stmt::Shape>(shape.node);
  EXPECT_EQ(span_str(s.target_span), "1:0-1:1");
  ASSERT_EQ(s.fields.size(), 2u);
  EXPECT_EQ(span_str(s.fields[0].name_span), "2:2-2:3");
  EXPECT_EQ(span_str(s.fields[0].span), "2:2-2:12");
  EXPECT_EQ(span_str(s.fields[1].span), "3:2-3:18");
  EXPECT_FALSE(s.fields[0].tail);
  EXPECT_TRUE(s.fields[1].tail);

  Stmt stop = only_statement("stop \"x\"\n");
  const auto& reason = std::get<Stmt::Stop>(stop.node).reason;
  ASSERT_TRUE(std::holds_alternative<Expr::Text>(reason.node));
  EXPECT_EQ(span_str(ast::span(reason)), "1:5-1:8");
}

TEST(StmtSpans, AssignmentOfABlockQuestionEndsWithTheQuestion) {
  Parsed parsed = parse_statements("x = y pick:\n  a \"one\"\n  other\nz = 1\n");
  ASSERT_FALSE(parsed.failure) << parsed.failure->message;
  ASSERT_EQ(parsed.stmts.size(), 2u);
  const auto& assign = std::get<Stmt::Assign>(parsed.stmts[0].node);
  EXPECT_EQ(stmt_span(parsed.stmts[0]).end, ast::span(assign.value).end);
  EXPECT_EQ(span_str(stmt_span(parsed.stmts[1])), "4:0-4:5");
}

// ---------------------------------------------------------------------------------------------------------------
// Blocks, driven directly: the statement parser's callers hand them the line end after a `:`.

Token token(TokenKind kind, uint32_t line, uint32_t column) {
  uint32_t offset = line * 100 + column;
  return Token{std::move(kind), Span{{line, column, offset}, {line, column + 1, offset + 1}}};
}

TEST(StmtBlock, ReadsStatementsUpToItsDedent) {
  auto tokens = lex("x:\n  a = 1\n  f()\ny\n");
  ASSERT_TRUE(tokens.ok());
  Parser p(*tokens, false);
  p.advance();
  p.advance();
  auto block = parse_block(p, "after `x:`");
  ASSERT_TRUE(block.ok()) << block.error().message;
  EXPECT_EQ(render(*block), "[(= a 1) (do (call f))]");
  EXPECT_EQ(span_str(block->span), "2:2-3:5");
  EXPECT_TRUE(p.current().is_ident("y"));
  EXPECT_EQ(p.depth(), 0u);  // the nesting level is given back
}

TEST(StmtBlock, EmptyBlockHasAnEmptySpanAtItsDedent) {
  // The lexer never makes this; a caller's own token list may.
  std::vector<Token> tokens{token(tok::Newline{}, 1, 5), token(tok::Indent{}, 2, 0), token(tok::Dedent{}, 2, 4),
                            token(tok::Eof{}, 3, 0)};
  Parser p(tokens, false);
  auto block = parse_block(p, "after `x:`");
  ASSERT_TRUE(block.ok()) << block.error().message;
  EXPECT_TRUE(block->stmts.empty());
  EXPECT_EQ(block->span.start, tokens[2].span.start);
  EXPECT_EQ(block->span.end, tokens[2].span.start);
  EXPECT_TRUE(p.current().is_eof());
}

TEST(StmtBlock, UnclosedBlockFailsAtTheEndOfTheFile) {
  std::vector<Token> tokens{token(tok::Newline{}, 1, 5), token(tok::Indent{}, 2, 0),
                            token(tok::Keyword{Keyword::Break}, 2, 2), token(tok::Newline{}, 2, 7),
                            token(tok::Eof{}, 3, 0)};
  Parser p(tokens, false);
  auto block = parse_block(p, "after `x:`");
  ASSERT_FALSE(block.ok());
  EXPECT_EQ(block.error().message, "expected the end of the block, found the end of the file");
  EXPECT_EQ(block.error().span, tokens[4].span);
}

TEST(StmtBlock, MissingBlockUsesTheCallersDescription) {
  auto tokens = lex("x: y\n");
  ASSERT_TRUE(tokens.ok());
  Parser p(*tokens, false);
  p.advance();
  p.advance();
  auto at_line = parse_block(p, "after `x:`");
  ASSERT_FALSE(at_line.ok());
  EXPECT_EQ(at_line.error().message, "expected the end of the line, found `y`");

  tokens = lex("x:\ny\n");
  ASSERT_TRUE(tokens.ok());
  Parser q(*tokens, false);
  q.advance();
  q.advance();
  auto no_indent = parse_block(q, "after `x:`");
  ASSERT_FALSE(no_indent.ok());
  EXPECT_EQ(no_indent.error().message, "expected an indented block after `x:`, found `y`");
}

TEST(StmtShapeField, ReadsOneObservedField) {
  auto tokens = lex("page browser.read url, max 800, tail\nnext\n");
  ASSERT_TRUE(tokens.ok());
  Parser p(*tokens, false);
  auto field = parse_shape_field(p);
  ASSERT_TRUE(field.ok()) << field.error().message;
  EXPECT_EQ(field->name, "page");
  EXPECT_EQ(render(field->value), "(cmd browser.read url)");
  EXPECT_EQ(field->max, 800);
  EXPECT_TRUE(field->tail);
  EXPECT_EQ(span_str(field->span), "1:0-1:36");
  EXPECT_TRUE(p.current().is_ident("next"));  // the line end is consumed
}

// ---------------------------------------------------------------------------------------------------------------
// One verification loop per unit: the parser's list holds the `verify` words the current unit has met.

TEST(StmtVerify, FirstVerifyIsRecorded) {
  auto tokens = lex("until verify(ok), max 5:\n  f()\n");
  ASSERT_TRUE(tokens.ok());
  Parser p(*tokens, false);
  auto stmt = parse_statement(p);
  ASSERT_TRUE(stmt.ok()) << stmt.error().message;
  EXPECT_TRUE(std::get<Stmt::Until>(stmt->node).verify);
  ASSERT_EQ(p.verify_spans.size(), 1u);
  EXPECT_EQ(span_str(p.verify_spans[0]), "1:6-1:12");
}

TEST(StmtVerify, SecondVerifyInTheSameUnitFails) {
  Span earlier{{1, 6, 6}, {1, 12, 12}};
  Parsed parsed = parse_statements("if a:\n  until verify(ok), max 5:\n    f()\n", false, {earlier});
  ASSERT_TRUE(parsed.failure);
  EXPECT_EQ(parsed.failure->code, DiagnosticCode::VerifyTwice);
  EXPECT_EQ(parsed.failure->message, "a task may declare `verify` once, on its outermost loop (spec section 7.4)");
  EXPECT_EQ(span_str(parsed.failure->span), "2:8-2:14");

  // Nested inside the first one, too.
  parsed = parse_statements("until verify(a), max 5:\n  until verify(b), max 2:\n    f()\n");
  ASSERT_TRUE(parsed.failure);
  EXPECT_EQ(parsed.failure->code, DiagnosticCode::VerifyTwice);
  EXPECT_EQ(span_str(parsed.failure->span), "2:8-2:14");
}

TEST(StmtVerify, ChecksComeInTheirOrder) {
  Span earlier{{1, 6, 6}, {1, 12, 12}};
  // The test and its `)` are read before the repeat is refused...
  Parsed parsed = parse_statements("until verify(ok x), max 5:\n  f()\n", false, {earlier});
  ASSERT_TRUE(parsed.failure);
  EXPECT_EQ(parsed.failure->message, "expected `)`, found `x`");
  // ...and the repeat is refused before the missing bound.
  parsed = parse_statements("until verify(ok):\n  f()\n", false, {earlier});
  ASSERT_TRUE(parsed.failure);
  EXPECT_EQ(parsed.failure->code, DiagnosticCode::VerifyTwice);
  // `verify` as an ordinary name never counts.
  parsed = parse_statements("until verify, max 5:\n  f()\n", false, {earlier});
  EXPECT_FALSE(parsed.failure);
}

// ---------------------------------------------------------------------------------------------------------------
// Nesting: every block holds a level, so input nested far beyond any real program is refused with a diagnostic
// instead of recursing until the stack runs out.

std::string nested_ifs(int depth) {
  std::string src;
  for (int i = 0; i < depth; ++i) src += std::string(i, ' ') + "if a:\n";
  src += std::string(depth, ' ') + "f()\n";
  return src;
}

TEST(StmtNesting, ReasonableDepthParses) {
  Parsed parsed = parse_statements(nested_ifs(40));
  ASSERT_FALSE(parsed.failure) << parsed.failure->message;
  ASSERT_EQ(parsed.stmts.size(), 1u);
}

TEST(StmtNesting, DeepBlocksAreRefused) {
  Parsed parsed = parse_statements(nested_ifs(5000));
  ASSERT_TRUE(parsed.failure);
  EXPECT_EQ(parsed.failure->code, DiagnosticCode::Syntax);
  EXPECT_NE(parsed.failure->message.find("nests too deeply"), std::string::npos) << parsed.failure->message;
  EXPECT_LE(parsed.failure->span.start.line, kMaxNesting + 1);
}

TEST(StmtNesting, DeepGateArmsAreRefused) {
  // One-statement arms nest gates without passing through an ordinary block.
  std::string src;
  for (int i = 0; i < 5000; ++i) {
    src += std::string(i, ' ') + (i ? "proceed -> gate risk r:\n" : "gate risk r:\n");
  }
  src += std::string(5000, ' ') + "stop -> break\n";
  Parsed parsed = parse_statements(src);
  ASSERT_TRUE(parsed.failure);
  EXPECT_NE(parsed.failure->message.find("nests too deeply"), std::string::npos) << parsed.failure->message;
}

}  // namespace
}  // namespace dravelin::syntax
