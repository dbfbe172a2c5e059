#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_names.h"
#include "parse_helpers.h"
#include "syntax/lexer.h"
#include "syntax/parser.h"
#include "tree_render.h"

namespace dravelin::syntax {
namespace {

using ast::Expr;

using namespace test_support;

// Compact renderings of questions:
//   (feels x "ok")  each (pick a.b[0] (yes "Y") (other!) {focus "f"})  (rate x (low "...") ("..."))
//   (among xs "q" by=title none)
std::string render_judge(const Expr& e) { return render_expr(e); }

std::string render_judge(const ast::Detail& d) {
  std::string out;
  auto add = [&](const char* key, const std::optional<Expr>& value) {
    if (value) out += std::string(out.empty() ? "" : ", ") + key + " " + render_judge(*value);
  };
  add("focus", d.focus);
  add("note", d.note);
  add("compare", d.compare);
  add("yes", d.yes);
  add("no", d.no);
  add("examples", d.examples);
  add("what", d.what);
  add("not_for", d.not_for);
  if (d.sample) out += std::string(out.empty() ? "" : ", ") + "sample " + (*d.sample ? "true" : "false");
  return "{" + out + "}";
}

std::string render_judge(const ast::Judge& j) {
  struct Verb {
    std::string operator()(const ast::JudgeVerb::Feels& v) const {
      return "feels " + subject + " " + render_judge(v.condition);
    }
    std::string operator()(const ast::JudgeVerb::Pick& v) const {
      std::string out = "pick " + subject;
      for (const auto& label : v.labels) {
        out += " (" + label.name + (label.escape ? "!" : "");
        if (label.description) out += " " + render_judge(*label.description);
        if (label.detail) out += " " + render_judge(*label.detail);
        out += ")";
      }
      return out;
    }
    std::string operator()(const ast::JudgeVerb::Rate& v) const {
      std::string out = "rate " + subject;
      for (const auto& level : v.levels) {
        out += " (" + (level.name ? level.name->name + " " : "") + render_judge(level.situation) + ")";
      }
      return out;
    }
    std::string operator()(const ast::JudgeVerb::PickAmong& v) const {
      std::string out = "among " + subject + " " + render_judge(v.question);
      if (v.by) out += " by=" + v.by->name;
      if (v.allow_none) out += " none";
      return out;
    }
    std::string subject;
  };
  std::string out = "(" + std::visit(Verb{render_subject(j.subject)}, j.verb.node);
  if (j.detail) out += " " + render_judge(*j.detail);
  out += ")";
  return j.each ? "each " + out : out;
}

// Parses one question from the start of `src` with a parser that has already used `depth` levels of nesting.
// The tokens stay alive in the fixture so that the cursor can be inspected afterwards.
class JudgeParse : public testing::Test {
 protected:
  Result<ast::Judge, Diagnostic> parse(std::string_view src, uint32_t depth = 0) {
    lexed_.emplace(src, false, depth);
    return parse_judgment_expr(lexed_->parser);
  }
  ast::Judge parse_ok(std::string_view src) {
    auto r = parse(src);
    EXPECT_TRUE(r.ok()) << src << "\n  " << r.error().message;
    return r.ok() ? std::move(r).value() : ast::Judge{};
  }
  const Token& rest() const { return lexed_->parser.current(); }

  std::optional<LexedParser> lexed_;
};

// ---------------------------------------------------------------------------------------------------------------
// Accepted questions.

class JudgeTree : public testing::TestWithParam<TreeCase> {};

TEST_P(JudgeTree, Parses) {
  const TreeCase& c = GetParam();
  LexedParser lexed(c.src);
  Parser& p = lexed.parser;
  auto r = parse_judgment_expr(p);
  ASSERT_TRUE(r.ok()) << c.src << "\n  " << r.error().message;
  EXPECT_EQ(render_judge(*r), c.tree) << c.src;
  // A question leaves its line end to the caller unless it ended with a block of its own, whose Dedent it took.
  const Token& next = p.current();
  EXPECT_TRUE(next.is_newline() || p.tokens()[p.pos - 1].is_dedent())
      << c.src << ": stopped at " << describe_token(next);
}

INSTANTIATE_TEST_SUITE_P(
    Feels, JudgeTree,
    testing::Values(TreeCase{"x feels \"ok\"", "(feels x \"ok\")"},
                    TreeCase{"each items feels \"ok\"", "each (feels items \"ok\")"},
                    TreeCase{"y[0].z feels \"ok\"", "(feels y[0].z \"ok\")"},
                    TreeCase{"run.steps[i + 1].text feels \"t\"", "(feels run.steps[(+ i 1)].text \"t\")"},
                    TreeCase{"x feels \"about {topic.name}\"", "(feels x \"about {topic.name}\")"},
                    TreeCase{
                        "x feels \"ok\":\n"
                        "  focus \"the tone\"\n"
                        "  note \"n\"\n"
                        "  compare [a, b]\n"
                        "  yes [\"y\"]\n"
                        "  no [\"n\"]\n"
                        "  examples [\"e\"]\n"
                        "  what \"w\"\n"
                        "  not_for \"nf\"\n"
                        "  sample false\n",
                        "(feels x \"ok\" {focus \"the tone\", note \"n\", compare [a b], yes [\"y\"], no [\"n\"], "
                        "examples [\"e\"], what \"w\", not_for \"nf\", sample false})"},
                    // an empty list is still a list literal
                    TreeCase{"x feels \"ok\":\n  yes []\n", "(feels x \"ok\" {yes []})"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Pick, JudgeTree,
    testing::Values(TreeCase{"reply pick:\n  accept \"the user agrees\"\n  decline \"the user says no\"\n  other\n",
                             "(pick reply (accept \"the user agrees\") (decline \"the user says no\") (other!))"},
                    TreeCase{"each r pick:\n  none\n  bare\n", "each (pick r (none!) (bare))"},
                    // Only `focus ...`, `sample true|false` and `compare [...]` are details of the judgment; every
                    // other line is a label, whatever its name.
                    TreeCase{
                        "reply pick:\n"
                        "  focus \"the last message\"\n"
                        "  unsafe:\n"
                        "    what \"harmful\"\n"
                        "    not_for \"jokes\"\n"
                        "  note \"a label named note\"\n"
                        "  sample \"often\"\n"
                        "  compare \"a label named compare\"\n"
                        "  sample true\n"
                        "  compare [a, b]\n"
                        "  other\n",
                        "(pick reply (unsafe {what \"harmful\", not_for \"jokes\"}) (note \"a label named note\") "
                        "(sample \"often\") (compare \"a label named compare\") (other!) "
                        "{focus \"the last message\", compare [a b], sample true})"},
                    // inside a label's own block every key is allowed
                    TreeCase{"r pick:\n  a:\n    note \"n\"\n    sample false\n  other\n",
                             "(pick r (a {note \"n\", sample false}) (other!))"},
                    TreeCase{"r pick:\n  a\n  b\n  c\n  d\n  e\n  f\n  g\n  other\n",
                             "(pick r (a) (b) (c) (d) (e) (f) (g) (other!))"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Rate, JudgeTree,
    testing::Values(
        TreeCase{"steps rate:\n"
                 "  unchanged \"each step leaves the state unchanged\"\n"
                 "  drifting  \"the state changes but not toward the goal\"\n"
                 "  advancing \"the state is moving toward the goal\"\n",
                 "(rate steps (unchanged \"each step leaves the state unchanged\") (drifting \"the state changes "
                 "but not toward the goal\") (advancing \"the state is moving toward the goal\"))"},
        TreeCase{"x rate:\n  \"nothing happens\"\n  sample true\n  focus \"f\"\n  many \"a lot happens\"\n",
                 "(rate x (\"nothing happens\") (many \"a lot happens\") {focus \"f\", sample true})"},
        // a spaced percent sign is more than a bare number; interpolated situations are never tested
        TreeCase{"x rate:\n  \"80 %\"\n  \"{level}\"\n  \"high {x}\"\n",
                 "(rate x (\"80 %\") (\"{level}\") (\"high {x}\"))"},
        TreeCase{"x rate:\n  a \"s1\"\n  b \"s2\"\n  c \"s3\"\n  d \"s4\"\n  e \"s5\"\n  f \"s6\"\n  g \"s7\"\n"
                 "  h \"s8\"\n  i \"s9\"\n  j \"s10\"\n",
                 "(rate x (a \"s1\") (b \"s2\") (c \"s3\") (d \"s4\") (e \"s5\") (f \"s6\") (g \"s7\") (h \"s8\") "
                 "(i \"s9\") (j \"s10\"))"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    PickAmong, JudgeTree,
    testing::Values(TreeCase{"items pick among \"which is newest\"", "(among items \"which is newest\")"},
                    TreeCase{"items pick among \"which is newest\":\n  by title\n  none\n",
                             "(among items \"which is newest\" by=title none)"},
                    TreeCase{"items pick among \"q\":\n  by title\n", "(among items \"q\" by=title)"},
                    TreeCase{"items pick among \"q\":\n  none\n", "(among items \"q\" none)"},
                    // rejected later, by the checker
                    TreeCase{"each items pick among \"q\"", "each (among items \"q\")"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------
// Refused questions: code, message and span of the one diagnostic.

using FailCase = FailureCase;

class JudgeFailure : public testing::TestWithParam<FailCase> {};

TEST_P(JudgeFailure, Reports) {
  const FailCase& c = GetParam();
  LexedParser lexed(c.src);
  Parser& p = lexed.parser;
  auto r = parse_judgment_expr(p);
  ASSERT_FALSE(r.ok()) << c.src << "\n  parsed as " << render_judge(*r);
  EXPECT_EQ(r.error().code, c.code) << c.src << "\n  " << r.error().message;
  EXPECT_EQ(r.error().message, c.message) << c.src;
  EXPECT_EQ(span_str(r.error().span), c.span) << c.src;
  EXPECT_EQ(r.error().severity, Severity::Error);
}

INSTANTIATE_TEST_SUITE_P(
    SubjectAndVerb, JudgeFailure,
    testing::Values(
        FailCase{"f(y) feels \"ok\"", DiagnosticCode::SubjectNotPath,
                 "a judgment subject must be a variable or a field path; compute first, then judge (spec section "
                 "6.1)",
                 "1:0-1:4"},
        FailCase{"(a + b).c feels \"ok\"", DiagnosticCode::SubjectNotPath,
                 "a judgment subject must be a variable or a field path; compute first, then judge (spec section "
                 "6.1)",
                 "1:0-1:9"},
        // the subject is refused before the verb is looked at
        FailCase{"each 3 frobs", DiagnosticCode::SubjectNotPath,
                 "a judgment subject must be a variable or a field path; compute first, then judge (spec section "
                 "6.1)",
                 "1:5-1:6"},
        FailCase{"each items", kSyntax,
                 "expected a judgment verb (`feels`, `pick` or `rate`), found the end of the line", "1:10-1:10"},
        FailCase{"x is y", DiagnosticCode::SubjectNotPath,
                 "a judgment subject must be a variable or a field path; compute first, then "
                 "judge (spec section 6.1)",
                 "1:0-1:6"},
        FailCase{"x feels y", kSyntax, "expected the condition text after `feels`, found `y`", "1:8-1:9"},
        FailCase{"x feels \"a {b c}\"", kSyntax, "expected the end of the interpolation, found `c`", "1:14-1:15"},
        FailCase{"x pick \"a\"", kSyntax, "expected `:`, found a text literal", "1:7-1:10"},
        FailCase{"x rate\n", kSyntax, "expected `:`, found the end of the line", "1:6-2:0"},
        FailCase{"x pick among y", kSyntax, "expected the question text after `pick among`, found `y`",
                 "1:13-1:14"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    BlockStarts, JudgeFailure,
    testing::Values(
        FailCase{"x pick: a\n", kSyntax, "expected the end of the line, found `a`", "1:8-1:9"},
        FailCase{"x pick:\ny\n", kSyntax, "expected an indented block of labels after `pick:`, found `y`", "2:0-2:1"},
        FailCase{"x rate:\ny\n", kSyntax, "expected an indented block of levels after `rate:`, found `y`", "2:0-2:1"},
        FailCase{"x feels \"a\":\ny\n", kSyntax, "expected an indented block of detail keys after `:`, found `y`",
                 "2:0-2:1"},
        FailCase{"x pick among \"q\":\ny\n", kSyntax, "expected an indented block after `pick among ...:`, found `y`",
                 "2:0-2:1"},
        FailCase{"r pick:\n  a:\n  b\n", kSyntax, "expected an indented block of detail keys after `:`, found `b`",
                 "3:2-3:3"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    PickLabels, JudgeFailure,
    testing::Values(
        FailCase{"x pick:\n  a \"A\"\n  other\n  other\n", DiagnosticCode::PickNoOther,
                 "a `pick` needs exactly one bare `other` or `none` label as its escape option; found 2 (spec "
                 "section 6.3)",
                 "1:0-1:7"},
        FailCase{"x pick:\n  a \"A\"\n  b \"B\"\n", DiagnosticCode::PickNoOther,
                 "a `pick` needs exactly one bare `other` or `none` label as its escape option; found 0 (spec "
                 "section 6.3)",
                 "1:0-1:7"},
        // the escape count comes before the label count
        FailCase{"x pick:\n  a\n", DiagnosticCode::PickNoOther,
                 "a `pick` needs exactly one bare `other` or `none` label as its escape option; found 0 (spec "
                 "section 6.3)",
                 "1:0-1:7"},
        FailCase{"each x.y pick:\n  other\n", DiagnosticCode::PickArity,
                 "a `pick` has two to eight labels including the escape; found 1 (spec section 6.3)", "1:0-1:14"},
        FailCase{"x pick:\n  a\n  b\n  c\n  d\n  e\n  f\n  g\n  h\n  none\n", DiagnosticCode::PickArity,
                 "a `pick` has two to eight labels including the escape; found 9 (spec section 6.3)", "1:0-1:7"},
        // block details are not labels
        FailCase{"x pick:\n  sample true\n  compare [a]\n  focus \"f\"\n  other\n", DiagnosticCode::PickArity,
                 "a `pick` has two to eight labels including the escape; found 1 (spec section 6.3)", "1:0-1:7"},
        FailCase{"x pick:\n  a\n  other \"anything else\"\n", kSyntax,
                 "expected the end of the line (the escape label `other` is written bare, spec section 6.3), "
                 "found a text literal",
                 "3:8-3:23"},
        FailCase{"x pick:\n  a\n  none:\n    what \"w\"\n", kSyntax,
                 "expected the end of the line (the escape label `none` is written bare, spec section 6.3), "
                 "found `:`",
                 "3:6-3:7"},
        FailCase{"x pick:\n  1 \"one\"\n", kSyntax,
                 "expected a label (an identifier, or the bare escape `other` or `none`), found the number `1`",
                 "2:2-2:3"},
        FailCase{"x pick:\n  if \"x\"\n", kSyntax,
                 "expected a label (an identifier, or the bare escape `other` or `none`), found the reserved word "
                 "`if`",
                 "2:2-2:4"},
        FailCase{"x pick:\n  a \"A\"\n    b \"B\"\n", kSyntax,
                 "expected a label (an identifier, or the bare escape `other` or `none`), found an indented block",
                 "3:0-3:4"},
        FailCase{"x pick:\n  a \"x\" \"y\"\n", kSyntax, "expected the end of the line, found a text literal",
                 "2:8-2:11"},
        FailCase{"x pick:\n  a b\n", kSyntax, "expected the end of the line, found `b`", "2:4-2:5"},
        FailCase{"x pick:\n  a \"x\":\n    what \"w\"\n", kSyntax, "expected the end of the line, found `:`",
                 "2:7-2:8"},
        // an error inside the block is reported before the counts are looked at
        FailCase{"x pick:\n  other\n  1\n", kSyntax,
                 "expected a label (an identifier, or the bare escape `other` or `none`), found the number `1`",
                 "3:2-3:3"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    RateLevels, JudgeFailure,
    testing::Values(
        FailCase{"x rate:\n  \"High.\"\n", DiagnosticCode::RateArity,
                 "a `rate` has two to ten levels; found 1 (spec section 6.4)", "1:0-1:7"},
        FailCase{"x rate:\n  a \"1\"\n  b \"2\"\n  c \"3\"\n  d \"4\"\n  e \"5\"\n  f \"6\"\n  g \"7\"\n  h \"8\"\n"
                 "  i \"9\"\n  j \"10\"\n  k \"11\"\n",
                 DiagnosticCode::RateArity, "a `rate` has two to ten levels; found 11 (spec section 6.4)", "1:0-1:7"},
        FailCase{"x rate:\n  sample true\n", DiagnosticCode::RateArity,
                 "a `rate` has two to ten levels; found 0 (spec section 6.4)", "1:0-1:7"},
        FailCase{"x rate:\n  \"the user seems stuck\"\n  \"High.\"\n", DiagnosticCode::RateBareDegree,
                 "level \"High.\" is only a number or a degree word; describe the situation that stands alone "
                 "(spec section 6.4)",
                 "3:2-3:9"},
        // the first bare level in source order is the one reported; a named level's span starts at the name
        FailCase{"x rate:\n  a \"the user seems stuck\"\n  hi \"80%\"\n  lo \"very  high\"\n",
                 DiagnosticCode::RateBareDegree,
                 "level \"80%\" is only a number or a degree word; describe the situation that stands alone (spec "
                 "section 6.4)",
                 "3:2-3:10"},
        FailCase{"x rate:\n  \"the user seems stuck\"\n  \" very  HIGH \"\n", DiagnosticCode::RateBareDegree,
                 "level \" very  HIGH \" is only a number or a degree word; describe the situation that stands "
                 "alone (spec section 6.4)",
                 "3:2-3:16"},
        FailCase{"x rate:\n  \"a\"\n  other \"b\"\n", kSyntax,
                 "expected a level's situation text, found the reserved word `other`", "3:2-3:7"},
        FailCase{"x rate:\n  \"a\"\n  lonely\n", kSyntax,
                 "expected a level's situation text, found the end of the line", "3:8-4:0"},
        FailCase{"x rate:\n  \"a\" b\n", kSyntax, "expected the end of the line, found `b`", "2:6-2:7"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    PickAmongBlock, JudgeFailure,
    testing::Values(
        FailCase{"xs pick among \"q\":\n  none\n  by title\n", kSyntax,
                 "expected `by <field>` or `none`, in that order (a `pick among` block holds nothing else), "
                 "found `by`",
                 "3:2-3:4"},
        FailCase{"xs pick among \"q\":\n  focus \"f\"\n", kSyntax,
                 "expected `by <field>` or `none`, in that order (a `pick among` block holds nothing else), "
                 "found the reserved word `focus`",
                 "2:2-2:7"},
        FailCase{"xs pick among \"q\":\n  by \"title\"\n", kSyntax,
                 "expected the description field's name after `by`, found a text literal", "2:5-2:12"},
        FailCase{"xs pick among \"q\":\n  by\n", kSyntax,
                 "expected the description field's name after `by`, found the end of the line", "2:4-3:0"},
        FailCase{"xs pick among \"q\":\n  by title extra\n", kSyntax, "expected the end of the line, found `extra`",
                 "2:11-2:16"},
        FailCase{"xs pick among \"q\":\n  none none\n", kSyntax,
                 "expected the end of the line, found the reserved word `none`", "2:7-2:11"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    Details, JudgeFailure,
    testing::Values(
        FailCase{"x feels \"ok\":\n  focus \"a\"\n  focus \"b\"\n", DiagnosticCode::DuplicateName,
                 "the detail key `focus` is given twice (spec section 12)", "3:2-3:7"},
        // the judgment's detail lines share one record across the block
        FailCase{"x pick:\n  sample true\n  a\n  other\n  sample false\n", DiagnosticCode::DuplicateName,
                 "the detail key `sample` is given twice (spec section 12)", "5:2-5:8"},
        // the value is read before the repetition is noticed
        FailCase{"x feels \"ok\":\n  note \"a\"\n  note 3\n", kSyntax,
                 "expected the `note` text, found the number `3`", "3:7-3:8"},
        FailCase{"x feels \"ok\":\n  examples [x for x in xs]\n", kSyntax,
                 "`examples` takes a list literal (spec section 6.8)", "2:11-2:26"},
        FailCase{"x feels \"ok\":\n  compare [a][0]\n", kSyntax, "`compare` takes a list literal (spec section 6.8)",
                 "2:10-2:16"},
        FailCase{"x feels \"ok\":\n  yes \"a\"\n", kSyntax,
                 "expected a `[...]` list after `yes`, found a text literal", "2:6-2:9"},
        FailCase{"x feels \"ok\":\n  sample maybe\n", kSyntax,
                 "expected `true` or `false` after `sample`, found `maybe`", "2:9-2:14"},
        FailCase{"x feels \"ok\":\n  colour \"x\"\n", kSyntax,
                 "expected a detail key (`focus`, `note`, `compare`, `yes`, `no`, `examples`, `what`, `not_for` or "
                 "`sample`), found `colour`",
                 "2:2-2:8"},
        FailCase{"x feels \"ok\":\n  1 \"x\"\n", kSyntax,
                 "expected a detail key (`focus`, `note`, `compare`, `yes`, `no`, `examples`, `what`, `not_for` or "
                 "`sample`), found the number `1`",
                 "2:2-2:3"},
        FailCase{"x feels \"ok\":\n  what\n", kSyntax, "expected the `what` text, found the end of the line",
                 "2:6-3:0"},
        FailCase{"x feels \"ok\":\n  not_for x\n", kSyntax, "expected the `not_for` text, found `x`", "2:10-2:11"},
        FailCase{"x pick:\n  focus 3\n", kSyntax, "expected the `focus` text, found the number `3`", "2:8-2:9"},
        FailCase{"x feels \"ok\":\n  note \"a\" \"b\"\n", kSyntax,
                 "expected the end of the line, found a text literal", "2:11-2:14"},
        // a label's own block is a full detail block
        FailCase{"r pick:\n  a:\n    what \"w\"\n    what \"v\"\n  other\n", DiagnosticCode::DuplicateName,
                 "the detail key `what` is given twice (spec section 12)", "4:4-4:8"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------
// Spans and the cursor after a question.

TEST_F(JudgeParse, PickSpansCoverLabelsDetailsAndClosingBlock) {
  ast::Judge j = parse_ok(
      "reply pick:\n"                      // 1
      "  focus \"the last message\"\n"     // 2
      "  unsafe:\n"                        // 3
      "    what \"harmful\"\n"             // 4
      "    not_for \"jokes\"\n"            // 5
      "  sample true\n"                    // 6
      "  none\n"                           // 7
      "next = 1\n");                       // 8
  EXPECT_EQ(span_str(j.span), "1:0-8:0");  // through the Dedent that closes the block
  EXPECT_TRUE(rest().is_ident("next"));
  ASSERT_TRUE(j.detail.has_value());
  EXPECT_EQ(span_str(j.detail->span), "2:2-6:13");  // first detail line's start to the last one's value

  const auto& labels = std::get<ast::JudgeVerb::Pick>(j.verb.node).labels;
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(span_str(labels[0].name_span), "3:2-3:8");
  EXPECT_EQ(span_str(labels[0].span), "3:2-6:2");  // through its own block's Dedent
  ASSERT_TRUE(labels[0].detail.has_value());
  EXPECT_EQ(span_str(labels[0].detail->span), "3:8-5:19");  // from the `:`
  EXPECT_FALSE(labels[0].description.has_value());
  EXPECT_TRUE(labels[1].escape);
  EXPECT_EQ(labels[1].name, "none");
  EXPECT_EQ(span_str(labels[1].span), "7:2-7:6");
}

TEST_F(JudgeParse, LabelAndLevelSpansEndAtTheirText) {
  ast::Judge pick = parse_ok("x pick:\n  yes \"agree\"\n  bare\n  other\n");
  const auto& labels = std::get<ast::JudgeVerb::Pick>(pick.verb.node).labels;
  EXPECT_EQ(span_str(labels[0].span), "2:2-2:13");
  EXPECT_EQ(span_str(ast::span(*labels[0].description)), "2:6-2:13");
  EXPECT_EQ(span_str(labels[1].span), "3:2-3:6");
  EXPECT_FALSE(pick.detail.has_value());  // no detail line, no detail
  EXPECT_TRUE(rest().is_eof());

  ast::Judge rate = parse_ok("x rate:\n  low \"little\"\n  \"a lot\"\n");
  const auto& levels = std::get<ast::JudgeVerb::Rate>(rate.verb.node).levels;
  EXPECT_EQ(span_str(levels[0].span), "2:2-2:14");
  EXPECT_EQ(span_str(levels[0].name->span), "2:2-2:5");
  EXPECT_EQ(span_str(levels[1].span), "3:2-3:9");
  EXPECT_FALSE(levels[1].name.has_value());
}

TEST_F(JudgeParse, FeelsLeavesTheLineEndAndItsBlockEndsTheQuestion) {
  ast::Judge plain = parse_ok("each x feels \"ok\"\ny = 1\n");
  EXPECT_EQ(span_str(plain.span), "1:0-1:17");  // from `each`
  EXPECT_TRUE(rest().is_newline());
  EXPECT_FALSE(plain.detail.has_value());

  ast::Judge detailed = parse_ok("x feels \"ok\":\n  focus \"a\"\n  sample true");
  ASSERT_TRUE(detailed.detail.has_value());
  EXPECT_EQ(span_str(detailed.detail->span), "1:12-3:13");
  EXPECT_EQ(span_str(detailed.span), "1:0-3:13");  // the closing Dedent is empty at the end of the text
  EXPECT_TRUE(rest().is_eof());

  ast::Judge among = parse_ok("xs pick among \"q\":\n  none\n");
  EXPECT_EQ(span_str(among.span), "1:0-3:0");
  EXPECT_FALSE(among.detail.has_value());
}

TEST_F(JudgeParse, SubjectKeepsItsPathAndSpans) {
  ast::Judge j = parse_ok("doc.files[i + 1].text feels \"t\"");
  EXPECT_EQ(j.subject.root, "doc");
  EXPECT_EQ(span_str(j.subject.root_span), "1:0-1:3");
  EXPECT_EQ(span_str(j.subject.span), "1:0-1:21");
  ASSERT_EQ(j.subject.path.size(), 3u);
  EXPECT_EQ(span_str(std::get<ast::SubjectStep::Field>(j.subject.path[0].node).span), "1:4-1:9");
  const Expr& index = std::get<ast::SubjectStep::Index>(j.subject.path[1].node).expr;
  EXPECT_EQ(render_judge(index), "(+ i 1)");
  EXPECT_EQ(span_str(ast::span(index)), "1:10-1:15");
  EXPECT_EQ(std::get<ast::SubjectStep::Field>(j.subject.path[2].node).name, "text");
}

// The statement parser reads the subject itself and hands over where the question began.
TEST_F(JudgeParse, QuestionAfterAParsedSubjectStartsWhereTheCallerSays) {
  auto lexed = lex("answer = doc.body feels \"polite\"\n");
  ASSERT_TRUE(lexed.ok());
  Parser p(*lexed, false);
  p.pos = 2;
  Pos start = p.current_span().start;
  auto subject = parse_or(p);
  ASSERT_TRUE(subject.ok());
  auto j = parse_judgment(p, false, std::move(subject).value(), start);
  ASSERT_TRUE(j.ok()) << j.error().message;
  EXPECT_EQ(span_str(j->span), "1:9-1:32");
  EXPECT_EQ(render_judge(*j), "(feels doc.body \"polite\")");
  EXPECT_TRUE(p.current().is_newline());
}

// A token list from a caller other than the lexer can end without closing its blocks.
TEST(JudgeUnclosedBlock, EndOfFileInsideABlockIsNoEndOfBlock) {
  for (const char* src :
       {"x pick:\n  a\n  other\n", "x rate:\n  a \"a\"\n  b \"b\"\n", "x feels \"ok\":\n  note \"n\"\n",
        "xs pick among \"q\":\n  none\n", "xs pick among \"q\":\n  by title\n"}) {
    auto lexed = lex(src);
    ASSERT_TRUE(lexed.ok()) << src;
    std::vector<Token> tokens;
    for (const Token& t : *lexed) {
      if (!t.is_dedent()) tokens.push_back(t);
    }
    Parser p(tokens, false);
    auto r = parse_judgment_expr(p);
    ASSERT_FALSE(r.ok()) << src;
    EXPECT_EQ(r.error().message, "expected the end of the block, found the end of the file") << src;
  }
}

// Every block of a question holds a level of nesting, so a question deep inside other blocks is refused with a
// diagnostic instead of growing the stack without bound.
TEST_F(JudgeParse, BlocksHoldANestingLevel) {
  constexpr const char* kLabelBlock = "r pick:\n  a:\n    note \"n\"\n  other\n";
  auto deep = parse(kLabelBlock, kMaxNesting - 1);
  ASSERT_FALSE(deep.ok());
  EXPECT_EQ(deep.error().message, "this nests too deeply; the limit is 100 levels of nesting");
  EXPECT_EQ(span_str(deep.error().span), "2:3-2:4");  // at the label's `:`
  EXPECT_EQ(lexed_->parser.depth(), kMaxNesting - 1);

  auto shallower = parse(kLabelBlock, kMaxNesting - 2);
  EXPECT_TRUE(shallower.ok()) << shallower.error().message;
  EXPECT_EQ(lexed_->parser.depth(), kMaxNesting - 2);  // every level is given back

  // A subject that the caller has read already, at a depth with no level left for the block.
  auto lexed = lex("xs pick among \"q\":\n  none\n");
  ASSERT_TRUE(lexed.ok());
  Parser p(*lexed, false, kMaxNesting);
  p.pos = 1;
  Expr subject{Expr::Name{"xs", (*lexed)[0].span}};
  auto among = parse_judgment(p, false, std::move(subject), Pos{1, 0, 0});
  ASSERT_FALSE(among.ok());
  EXPECT_EQ(among.error().message, "this nests too deeply; the limit is 100 levels of nesting");
  EXPECT_EQ(span_str(among.error().span), "1:17-1:18");
}

}  // namespace
}  // namespace dravelin::syntax
