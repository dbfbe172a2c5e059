#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/lower.h"
#include "compiler/lower_context.h"
#include "lower_test_fixture.h"

namespace dravelin::compiler {
namespace {

using namespace lower_test;

ir::Expr literal_text(std::string value, syntax::Span span) {
  return ir::Expr{ir::Expr::Text{{ir::TextPart{ir::TextPart::Literal{std::move(value)}}}, span}};
}

// The first statement of the first task of `text`, whose value is a judgment, lowered by `lower_judge` alone.
ir::Judge lower_first_judgment(const std::string& text) {
  std::vector<LinkedModule> modules = link_text(text);
  if (modules.empty() || modules[0].program.units.empty()) return {};
  const auto& task = std::get<ast::Task>(modules[0].program.units[0].node);
  const auto& assign = std::get<ast::Stmt::Assign>(task.body.stmts.at(0).node);
  lowering::LoweringContext ctx(modules[0], modules);
  return lowering::lower_judge(*std::get<ast::Expr::Judge>(assign.value.node).judge, ctx);
}

TEST(LowerJudge, APickLowersToTheQuestionBuiltByHand) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  kind = ticket.body pick:\n"
      "    bug \"a defect\"\n"
      "    other\n";
  ir::Judge expected;
  expected.subject = ir::Subject{"ticket", {ir::SubjectStep{ir::SubjectStep::Field{"body"}}}, "ticket.body",
                                 span_of(text, "ticket.body")};
  ir::PickLabel bug{"bug", false, literal_text("a defect", span_of(text, "\"a defect\"")), {}, {}, {},
                    span_of(text, "bug \"a defect\"")};
  ir::PickLabel other{"other", true, {}, {}, {}, {}, span_of(text, "other")};
  expected.verb = ir::JudgeVerb{ir::JudgeVerb::Pick{{bug, other}}};
  // The block's closing Dedent ends the judgment, at the start of the line after it.
  expected.span = syntax::Span{span_of(text, "ticket.body").start, pos_at(text, text.size())};
  // Asked on its own until the request-group pass says otherwise.
  expected.request_group = 4294967295u;
  EXPECT_EQ(lower_first_judgment(text), expected);
}

TEST(LowerJudge, RatePickAmongAndEachKeepTheirParts) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  mood = notes rate:\n"
      "    \"the writer is calm\"\n"
      "    angry \"the writer is angry\"\n"
      "  best = replies pick among \"which reply answers\":\n"
      "    by body\n"
      "    none\n"
      "  first = replies pick among \"which came first\"\n"
      "  polite = each replies feels \"the reply is polite\"\n";
  LoweredModule lowered = lower_root(text);
  const std::vector<ir::Stmt>& body = unit_named(lowered.tasks, "main").body;

  const auto& rate = std::get<ir::JudgeVerb::Rate>(judged(body, 0).verb.node);
  std::vector<ir::RateLevel> levels = {
      {std::nullopt, literal_text("the writer is calm", span_of(text, "\"the writer is calm\"")),
       span_of(text, "\"the writer is calm\"")},
      {"angry", literal_text("the writer is angry", span_of(text, "\"the writer is angry\"")),
       span_of(text, "angry \"the writer is angry\"")},
  };
  EXPECT_EQ(rate.levels, levels);

  const auto& best = std::get<ir::JudgeVerb::PickAmong>(judged(body, 1).verb.node);
  EXPECT_EQ(best.question, literal_text("which reply answers", span_of(text, "\"which reply answers\"")));
  EXPECT_EQ(best.by, "body");
  EXPECT_TRUE(best.allow_none);
  const auto& first = std::get<ir::JudgeVerb::PickAmong>(judged(body, 2).verb.node);
  EXPECT_FALSE(first.by.has_value());
  EXPECT_FALSE(first.allow_none);

  const ir::Judge& polite = judged(body, 3);
  EXPECT_TRUE(polite.each);
  EXPECT_FALSE(judged(body, 0).each);
  EXPECT_EQ(std::get<ir::JudgeVerb::Feels>(polite.verb.node).condition,
            literal_text("the reply is polite", span_of(text, "\"the reply is polite\"")));
  EXPECT_EQ(spanned(text, polite.span), "each replies feels \"the reply is polite\"");
}

struct StatePathCase {
  std::string subject;
  std::string state_path;
  std::string steps;  // `f` per field step, `i` per index step
};

TEST(LowerJudge, SubjectsWriteTheirStatePathFromTheSource) {
  const std::vector<StatePathCase> cases = {
      {"notes", "notes", ""},
      {"x.a[0]", "x.a[0]", "fi"},
      {"rows[i + 1].text", "rows[i + 1].text", "if"},
      {"rows[f(x, n 3)]", "rows[f(x, n: 3)]", "i"},
      {"rows[(a + b) * c]", "rows[a + b * c]", "i"},
      {"rows[\"say \\\"hi\\\"\"]", "rows[\"say \\\"hi\\\"\"]", "i"},
      {"rows[k.v[2.5]].a.b", "rows[k.v[2.5]].a.b", "iff"},
      {"rows[-1]", "rows[-1]", "i"},
  };
  std::string text = "program p\ntask main:\n";
  for (const StatePathCase& c : cases) text += "  v = " + c.subject + " feels \"fine\"\n";
  LoweredModule lowered = lower_root(text);
  const std::vector<ir::Stmt>& body = unit_named(lowered.tasks, "main").body;
  ASSERT_EQ(body.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].subject);
    const ir::Subject& subject = judged(body, i).subject;
    EXPECT_EQ(subject.state_path, cases[i].state_path);
    std::string steps;
    for (const ir::SubjectStep& step : subject.path) {
      steps += std::holds_alternative<ir::SubjectStep::Field>(step.node) ? 'f' : 'i';
    }
    EXPECT_EQ(steps, cases[i].steps);
    EXPECT_EQ(spanned(text, subject.span), cases[i].subject);
  }
  // Index steps hold the lowered index expression.
  const ir::Subject& indexed = judged(body, 1).subject;
  EXPECT_EQ(std::get<ir::SubjectStep::Field>(indexed.path[0].node).name, "a");
  EXPECT_EQ(std::get<ir::SubjectStep::Index>(indexed.path[1].node).index,
            (ir::Expr{ir::Expr::Number{0.0, span_of(text, "0")}}));
}

TEST(LowerJudge, ACapabilityUsedAsASubjectKeepsItsWrittenName) {
  const std::string library =
      "program lib\n"
      "needs llm: llm\n"
      "def d(items):\n"
      "  a = llm feels \"ready\"\n"
      "  b = items[llm] feels \"ready\"\n";
  std::vector<LinkedModule> modules = link_text(
      "program p\nuse \"lib.zem\" as lib with llm: writer\nneeds writer: llm\n", {{"lib.zem", library}});
  LoweredModule lowered = lower_program(module_named(modules, "lib"), modules);
  const std::vector<ir::Stmt>& body = unit_named(lowered.defs, "lib.d").body;
  EXPECT_EQ(judged(body, 0).subject.root, "llm");
  EXPECT_EQ(judged(body, 0).subject.state_path, "llm");
  // The index reads the bound capability, while the state path still names it as written.
  const ir::Subject& indexed = judged(body, 1).subject;
  EXPECT_EQ(indexed.state_path, "items[llm]");
  EXPECT_EQ(std::get<ir::SubjectStep::Index>(indexed.path[0].node).index,
            (ir::Expr{ir::Expr::Name{"writer", span_of(library, "llm", 3)}}));
}

struct DetailCase {
  std::string name;
  std::string judgment;                 // the right-hand side, its blocks indented under `  v = `
  std::vector<std::string> warnings;    // the ignored key of each warning, in order
  std::vector<std::string> warned_at;   // the source text each warning points at
  std::string detail;                   // the question's detail keys that survive, or "absent"
};

std::string detail_keys(const std::optional<ir::Detail>& detail) {
  if (!detail) return "absent";
  std::string keys;
  auto add = [&](const char* key, bool present) {
    if (!present) return;
    if (!keys.empty()) keys += ' ';
    keys += key;
  };
  add("focus", detail->focus.has_value());
  add("note", detail->note.has_value());
  add("compare", detail->compare.has_value());
  add("yes", detail->yes.has_value());
  add("no", detail->no.has_value());
  if (detail->sample) add(*detail->sample ? "sample=true" : "sample=false", true);
  return keys;
}

std::string warning_message(const std::string& key) {
  if (key == "sample") {
    return "`sample` applies to the whole `pick`, not to one label; it is ignored here (spec section 6.11)";
  }
  if (key == "examples" || key == "what" || key == "not_for") {
    return "`" + key + "` applies to a `pick` label, not to a question; it is ignored here (spec section 6.8)";
  }
  return "`" + key + "` applies to a question, not to a `pick` label; it is ignored here (spec section 6.8)";
}

TEST(LowerJudge, DetailKeysWrittenWhereTheyMeanNothingAreDroppedWithAWarning) {
  const std::vector<DetailCase> cases = {
      {"only what", "x feels \"fine\":\n    what \"a thing\"\n", {"what"}, {"\"a thing\""}, "absent"},
      {"label keys on a question",
       "x feels \"fine\":\n    not_for \"n\"\n    note \"kept\"\n    what \"w\"\n    examples [\"e\"]\n",
       {"examples", "what", "not_for"},
       {"[\"e\"]", "\"w\"", "\"n\""},
       "note"},
      {"only sample true", "x feels \"fine\":\n    sample true\n", {}, {}, "sample=true"},
      {"sample false", "x feels \"fine\":\n    sample false\n", {}, {}, "sample=false"},
      {"every question key",
       "x feels \"fine\":\n    focus \"f\"\n    note \"n\"\n    compare [1]\n    yes [2]\n    no [3]\n",
       {},
       {},
       "focus note compare yes no"},
      {"question keys inside a rate",
       "x rate:\n    focus \"the end\"\n    \"it is calm\"\n    \"it is loud\"\n    compare [1]\n",
       {},
       {},
       "focus compare"},
      {"question keys on a label",
       "x pick:\n    bug:\n      sample false\n      no [5]\n      yes [4]\n      what \"w\"\n      compare [3]\n"
       "      note \"n\"\n      focus \"f\"\n    other\n",
       {"focus", "note", "compare", "yes", "no", "sample"},
       {"\"f\"", "\"n\"", "[3]", "[4]", "[5]",
        ":\n      sample false\n      no [5]\n      yes [4]\n      what \"w\"\n      compare [3]\n"
        "      note \"n\"\n      focus \"f\""},
       "absent"},
  };
  for (const DetailCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string library = "program lib\ndef d(x):\n  v = " + c.judgment;
    std::vector<LinkedModule> modules = link_text("program p\nuse \"lib.zem\" as lib\n", {{"lib.zem", library}});
    LoweredModule lowered = lower_program(module_named(modules, "lib"), modules);
    const ir::Judge& judge = judged(unit_named(lowered.defs, "lib.d").body, 0);
    EXPECT_EQ(detail_keys(judge.detail), c.detail);

    ASSERT_EQ(lowered.diagnostics.size(), c.warnings.size());
    for (size_t i = 0; i < c.warnings.size(); ++i) {
      const syntax::Diagnostic& d = lowered.diagnostics[i];
      EXPECT_EQ(d.code, syntax::DiagnosticCode::DetailIgnored);
      EXPECT_EQ(d.severity, syntax::Severity::Warning);
      EXPECT_EQ(d.message, warning_message(c.warnings[i]));
      EXPECT_EQ(spanned(library, d.span), c.warned_at[i]);
      EXPECT_EQ(d.file, (kVirtualRoot / "lib.zem").string());
      EXPECT_TRUE(d.related.empty());
    }
  }
}

TEST(LowerJudge, ALabelKeepsItsOwnDetailsAndDropsTheQuestions) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  kind = x pick:\n"
      "    unsafe:\n"
      "      what \"asks for harm\"\n"
      "      not_for \"good-faith questions\"\n"
      "      examples [\"how to break in\"]\n"
      "      note \"dropped\"\n"
      "    safe \"anything else\"\n"
      "    other\n";
  LoweredModule lowered = lower_root(text);
  const ir::Judge& judge = judged(unit_named(lowered.tasks, "main").body, 0);
  const auto& labels = std::get<ir::JudgeVerb::Pick>(judge.verb.node).labels;
  ASSERT_EQ(labels.size(), 3u);
  EXPECT_FALSE(labels[0].description.has_value());
  EXPECT_EQ(labels[0].what, literal_text("asks for harm", span_of(text, "\"asks for harm\"")));
  EXPECT_EQ(labels[0].not_for, literal_text("good-faith questions", span_of(text, "\"good-faith questions\"")));
  ASSERT_TRUE(labels[0].examples.has_value());
  EXPECT_EQ(spanned(text, std::get<ir::Expr::List>(labels[0].examples->node).span), "[\"how to break in\"]");
  EXPECT_FALSE(labels[1].what || labels[1].not_for || labels[1].examples);
  EXPECT_FALSE(judge.detail.has_value());
  ASSERT_EQ(lowered.diagnostics.size(), 1u);
  // A root compiled without a path leaves the file to the pipeline.
  EXPECT_FALSE(lowered.diagnostics[0].file.has_value());
}

}  // namespace
}  // namespace dravelin::compiler
