#include "compiler/lower.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "compiler/shape_hash.h"
#include "lower_test_fixture.h"

namespace dravelin::compiler {
namespace {

using namespace lower_test;

struct BudgetCase {
  std::string header;  // a task or machine header without its `:`
  ir::Budget expected;
};

TEST(LowerUnits, BudgetsDefaultToFiftyCallsAndKeepTheLastEntryOfAKey) {
  const std::vector<BudgetCase> cases = {
      {"task main", {50.0, {}, {}, {}}},
      {"task main budget calls 5", {5.0, {}, {}, {}}},
      {"task main budget calls 5, calls 7", {7.0, {}, {}, {}}},
      {"task main budget minutes 3, usd 0.5, steps 12", {50.0, 3.0, 0.5, 12.0}},
      {"task main budget steps 4, minutes 1, steps 9, calls 0", {0.0, 1.0, {}, 9.0}},
      {"machine m()", {50.0, {}, {}, {}}},
      {"machine m() budget usd 2, calls 10", {10.0, {}, 2.0, {}}},
  };
  for (const BudgetCase& c : cases) {
    SCOPED_TRACE(c.header);
    bool machine = c.header.starts_with("machine");
    std::string body = machine ? ":\n  state s done\n" : ":\n  return\n";
    LoweredModule lowered = lower_root("program p\n" + c.header + body);
    if (machine) {
      ASSERT_EQ(lowered.machines.size(), 1u);
      EXPECT_EQ(lowered.machines[0].budget, c.expected);
    } else {
      ASSERT_EQ(lowered.tasks.size(), 1u);
      EXPECT_EQ(lowered.tasks[0].budget, c.expected);
    }
  }
}

TEST(LowerUnits, ThresholdsFillTheFourNamedFieldsAndKeepEveryOtherEntryInOrder) {
  LoweredModule lowered = lower_root(
      "program p\n"
      "task main thresholds risk_confirm 0.5, x 1, risk_confirm 0.7, x 2:\n"
      "  return\n"
      "task second thresholds min_confidence 0.6, stop_confidence 0.2, done 90%, done_at 1, risk 0.3:\n"
      "  return\n"
      "machine m() thresholds done 0.8:\n"
      "  state s done\n"
      "def d():\n"
      "  return\n");
  ir::Thresholds main;
  main.risk_confirm = 0.7;
  main.other = {{"x", 1.0}, {"x", 2.0}};
  EXPECT_EQ(unit_named(lowered.tasks, "main").thresholds, main);

  // Only whole names count: `done_at` and `risk` are other thresholds.
  ir::Thresholds other;
  other.min_confidence = 0.6;
  other.stop_confidence = 0.2;
  other.done = 0.9;
  other.other = {{"done_at", 1.0}, {"risk", 0.3}};
  EXPECT_EQ(unit_named(lowered.tasks, "second").thresholds, other);

  ir::Thresholds machine;
  machine.done = 0.8;
  EXPECT_EQ(unit_named(lowered.machines, "m").thresholds, machine);
}

TEST(LowerUnits, UnitsKeepSourceOrderWithinTheirKind) {
  LoweredModule lowered = lower_root(
      "program p\n"
      "judgment first(x):\n"
      "  ok = x feels \"fine\"\n"
      "task t1:\n"
      "  return\n"
      "def d1():\n"
      "  return\n"
      "judgment second(x):\n"
      "  ok = x feels \"fine\"\n"
      "machine m1():\n"
      "  state s done\n"
      "task t2:\n"
      "  return\n"
      "def d2():\n"
      "  return\n"
      "machine m2():\n"
      "  state s done\n");
  auto names = [](const auto& units) {
    std::vector<std::string> out;
    for (const auto& unit : units) out.push_back(unit.name);
    return out;
  };
  EXPECT_EQ(names(lowered.judgments), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(names(lowered.tasks), (std::vector<std::string>{"t1", "t2"}));
  EXPECT_EQ(names(lowered.defs), (std::vector<std::string>{"d1", "d2"}));
  EXPECT_EQ(names(lowered.machines), (std::vector<std::string>{"m1", "m2"}));
  EXPECT_TRUE(lowered.diagnostics.empty());
}

// The same four units, lowered in the root, in a library and in a library's library.
const std::string kUnits =
    "judgment triage(x):\n"
    "  urgent = x feels \"someone is blocked\"\n"
    "task main:\n"
    "  return\n"
    "def helper(x):\n"
    "  return x\n"
    "machine door():\n"
    "  state closed:\n"
    "    on open \"the way is clear\" -> opened risky\n"
    "  state opened done\n";

TEST(LowerUnits, NamesAreQualifiedByTheModuleAliasAndHashesUseTheWrittenName) {
  std::vector<LinkedModule> modules =
      link_text("program p\nuse \"m.zem\" as m\n" + kUnits, {{"m.zem", "program m\nuse \"inner.zem\" as b\n" + kUnits},
                                                              {"inner.zem", "program inner\n" + kUnits}});
  ASSERT_EQ(modules.size(), 4u);

  struct Expected {
    std::string alias;
    std::string prefix;
  };
  std::optional<std::string> root_judgment_hash;
  std::optional<std::string> root_machine_hash;
  for (const Expected& e : std::vector<Expected>{{"", ""}, {"m", "m."}, {"m.b", "m.b."}}) {
    SCOPED_TRACE("module `" + e.alias + "`");
    LoweredModule lowered = lower_program(module_named(modules, e.alias), modules);
    ASSERT_EQ(lowered.judgments.size(), 1u);
    ASSERT_EQ(lowered.tasks.size(), 1u);
    ASSERT_EQ(lowered.defs.size(), 1u);
    ASSERT_EQ(lowered.machines.size(), 1u);
    EXPECT_EQ(lowered.judgments[0].name, e.prefix + "triage");
    EXPECT_EQ(lowered.tasks[0].name, e.prefix + "main");
    EXPECT_EQ(lowered.defs[0].name, e.prefix + "helper");
    EXPECT_EQ(lowered.machines[0].name, e.prefix + "door");

    EXPECT_EQ(lowered.judgments[0].shape_hash, judgment_shape_hash("triage", lowered.judgments[0].results));
    EXPECT_EQ(lowered.machines[0].shape_hash, machine_shape_hash("door", lowered.machines[0].states));
    if (!root_judgment_hash) {
      root_judgment_hash = lowered.judgments[0].shape_hash;
      root_machine_hash = lowered.machines[0].shape_hash;
    } else {
      EXPECT_EQ(lowered.judgments[0].shape_hash, *root_judgment_hash);
      EXPECT_EQ(lowered.machines[0].shape_hash, *root_machine_hash);
    }
  }
}

TEST(LowerUnits, JudgmentUnitsAskEveryResultInGroupZeroAndPlaceTheirLogs) {
  const std::string text =
      "program p\n"
      "judgment triage(ticket, notes):\n"
      "  log info \"start\"\n"
      "  kind = ticket pick:\n"
      "    bug \"a defect\"\n"
      "    other\n"
      "  log info \"picked\" {kind}\n"
      "  urgent = ticket feels \"someone is blocked\"\n"
      "  mood = notes rate:\n"
      "    calm \"the writer is calm\"\n"
      "    angry \"the writer is angry\"\n"
      "  log warn \"done\" {kind, mood: mood}\n"
      "judgment single(x):\n"
      "  ok = x feels \"fine\"\n";
  LoweredModule lowered = lower_root(text);
  ASSERT_EQ(lowered.judgments.size(), 2u);
  const ir::Judgment& triage = lowered.judgments[0];
  EXPECT_EQ(triage.params, (std::vector<std::string>{"ticket", "notes"}));
  ASSERT_EQ(triage.results.size(), 3u);
  std::vector<std::string> result_names;
  for (const ir::JudgmentResult& result : triage.results) {
    result_names.push_back(result.name);
    EXPECT_EQ(result.question.request_group, 0u) << result.name;
  }
  EXPECT_EQ(result_names, (std::vector<std::string>{"kind", "urgent", "mood"}));
  EXPECT_EQ(spanned(text, triage.results[1].span), "urgent = ticket feels \"someone is blocked\"");
  EXPECT_EQ(spanned(text, triage.span).substr(0, 24), "judgment triage(ticket, ");

  ASSERT_EQ(triage.logs.size(), 3u);
  EXPECT_EQ(triage.logs[0].after, 0u);
  EXPECT_EQ(triage.logs[1].after, 1u);
  EXPECT_EQ(triage.logs[2].after, 3u);
  EXPECT_EQ(spanned(text, triage.logs[1].span), "log info \"picked\" {kind}");
  const auto* log = std::get_if<ir::Expr::Log>(&triage.logs[1].log.node);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->level, syntax::LogLevel::Info);
  ASSERT_EQ(log->fields.size(), 1u);
  EXPECT_EQ(log->fields[0].name, "kind");
  // The shorthand reads the variable, at the field name's span.
  EXPECT_EQ(log->fields[0].value, (ir::Expr{ir::Expr::Name{"kind", span_of(text, "kind", 1)}}));

  ASSERT_EQ(lowered.judgments[1].results.size(), 1u);
  EXPECT_EQ(lowered.judgments[1].results[0].question.request_group, 0u);
}

TEST(LowerUnits, MachinesLowerStatesTransitionsAndTheirFrame) {
  const std::string text =
      "program p\n"
      "machine door(limit = 3) budget steps 12:\n"
      "  goal \"get the door open\"\n"
      "  observe:\n"
      "    status obs_source, max 100\n"
      "  state closed:\n"
      "    on open \"the way is clear\" -> opened when limit > 1 risky:\n"
      "      a = obs feels \"ajar\"\n"
      "    on wait \"nothing to do yet\" -> closed\n"
      "  state opened done\n";
  LoweredModule lowered = lower_root(text);
  ASSERT_EQ(lowered.machines.size(), 1u);
  const ir::Machine& m = lowered.machines[0];
  EXPECT_EQ(m.name, "door");
  EXPECT_EQ(m.initial, "closed");
  ASSERT_EQ(m.params.size(), 1u);
  EXPECT_EQ(m.params[0].name, "limit");
  EXPECT_EQ(m.params[0].default_value, (ir::Expr{ir::Expr::Number{3.0, span_of(text, "3")}}));
  EXPECT_EQ(m.budget, (ir::Budget{50.0, {}, {}, 12.0}));
  ASSERT_TRUE(m.goal.has_value());
  EXPECT_EQ(spanned(text, std::get<ir::Expr::Text>(m.goal->node).span), "\"get the door open\"");
  ASSERT_EQ(m.observe.size(), 1u);
  EXPECT_EQ(m.observe[0].name, "status");
  EXPECT_EQ(m.observe[0].max, 100.0);
  EXPECT_TRUE(std::holds_alternative<ir::ShapePolicy::Head>(m.observe[0].policy.node));

  ASSERT_EQ(m.states.size(), 2u);
  EXPECT_EQ(m.states[0].name, "closed");
  EXPECT_FALSE(m.states[0].done);
  EXPECT_EQ(m.states[1].name, "opened");
  EXPECT_TRUE(m.states[1].done);
  EXPECT_TRUE(m.states[1].transitions.empty());
  EXPECT_EQ(spanned(text, m.states[1].span), "state opened done");

  ASSERT_EQ(m.states[0].transitions.size(), 2u);
  const ir::Transition& open = m.states[0].transitions[0];
  EXPECT_EQ(open.event, "open");
  EXPECT_EQ(open.target, "opened");
  EXPECT_TRUE(open.risky);
  ASSERT_TRUE(open.when.has_value());
  EXPECT_EQ(spanned(text, std::get<ir::Expr::Binary>(open.when->node).span), "limit > 1");
  EXPECT_EQ(spanned(text, std::get<ir::Expr::Text>(open.description.node).span), "\"the way is clear\"");
  EXPECT_EQ(open.body.size(), 1u);

  const ir::Transition& wait = m.states[0].transitions[1];
  EXPECT_EQ(wait.event, "wait");
  EXPECT_EQ(wait.target, "closed");
  EXPECT_FALSE(wait.risky);
  EXPECT_FALSE(wait.when.has_value());
  EXPECT_TRUE(wait.body.empty());
  EXPECT_EQ(spanned(text, wait.span), "on wait \"nothing to do yet\" -> closed");

  EXPECT_EQ(m.shape_hash, machine_shape_hash("door", m.states));
}

TEST(LowerUnits, TheInitialStateIsTheDeclaredOneElseTheFirstElseEmpty) {
  LoweredModule lowered = lower_root(
      "program p\n"
      "machine declared():\n"
      "  initial second\n"
      "  state first done\n"
      "  state second done\n"
      "machine undeclared():\n"
      "  state first done\n"
      "  state second done\n"
      "machine unknown():\n"
      "  initial nowhere\n"
      "  state first done\n");
  EXPECT_EQ(unit_named(lowered.machines, "declared").initial, "second");
  EXPECT_EQ(unit_named(lowered.machines, "undeclared").initial, "first");
  // The checker reports a state that does not exist; lowering keeps what was written.
  EXPECT_EQ(unit_named(lowered.machines, "unknown").initial, "nowhere");

  // A machine without states (the checker reports `machine_no_done`) starts nowhere.
  std::vector<LinkedModule> modules = link_text("program p\nmachine empty():\n  state s done\n");
  ASSERT_FALSE(modules.empty());
  ASSERT_EQ(modules[0].program.units.size(), 1u);
  std::get<ast::Machine>(modules[0].program.units[0].node).states.clear();
  LoweredModule stateless = lower_program(modules[0], modules);
  ASSERT_EQ(stateless.machines.size(), 1u);
  EXPECT_EQ(stateless.machines[0].initial, "");
  EXPECT_TRUE(stateless.machines[0].states.empty());
}

// Request groups are numbered per task and per def, and once per machine across all its transitions.
TEST(LowerUnits, RequestGroupCountersRunPerTaskPerDefAndAcrossAMachine) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  a = x feels \"one\"\n"
      "  log info \"between\"\n"
      "  b = x feels \"two\"\n"
      "def helper(x):\n"
      "  a = x feels \"one\"\n"
      "machine m():\n"
      "  state s:\n"
      "    on go \"go\" -> t:\n"
      "      a = obs feels \"one\"\n"
      "      b = obs feels \"two\"\n"
      "    on back \"back\" -> s:\n"
      "      c = obs feels \"three\"\n"
      "  state t:\n"
      "    on again \"again\" -> s:\n"
      "      d = obs feels \"four\"\n"
      "      if d > 0.5:\n"
      "        e = obs feels \"five\"\n";
  LoweredModule lowered = lower_root(text);
  ASSERT_EQ(lowered.tasks.size(), 1u);
  EXPECT_EQ(judged(lowered.tasks[0].body, 0).request_group, 0u);
  EXPECT_EQ(judged(lowered.tasks[0].body, 2).request_group, 0u);
  ASSERT_EQ(lowered.defs.size(), 1u);
  EXPECT_EQ(judged(lowered.defs[0].body, 0).request_group, 0u);

  ASSERT_EQ(lowered.machines.size(), 1u);
  const ir::Machine& m = lowered.machines[0];
  ASSERT_EQ(m.states.size(), 2u);
  ASSERT_EQ(m.states[0].transitions.size(), 2u);
  ASSERT_EQ(m.states[1].transitions.size(), 1u);
  EXPECT_EQ(judged(m.states[0].transitions[0].body, 0).request_group, 0u);
  EXPECT_EQ(judged(m.states[0].transitions[0].body, 1).request_group, 0u);
  EXPECT_EQ(judged(m.states[0].transitions[1].body, 0).request_group, 1u);
  const std::vector<ir::Stmt>& again = m.states[1].transitions[0].body;
  EXPECT_EQ(judged(again, 0).request_group, 2u);
  ASSERT_EQ(again.size(), 2u);
  const auto* branch = std::get_if<ir::Stmt::If>(&again[1].node);
  ASSERT_NE(branch, nullptr);
  EXPECT_EQ(judged(branch->branches[0].body, 0).request_group, 3u);
}

TEST(LowerUnits, TheRootsDeclarationsBecomeInputsOutputsAndNeeds) {
  const std::string text =
      "program p\n"
      "in request: {title: text, meta: {tags: list, owner}}\n"
      "out reply\n"
      "needs page: tool:\n"
      "  fetch(url, timeout) -> text\n"
      "  close() -> none\n"
      "in count: number\n"
      "needs helper: agent\n"
      "needs shell: tool\n"
      "out summary\n";
  LoweredDeclarations declarations = lower_declarations(parse_or_fail(text));

  using Shape = ir::Shape;
  auto type = [](syntax::ShapeTypeName name) { return Shape{Shape::Type{name}}; };
  Shape meta{Shape::Record{{ir::FieldShape{"tags", type(syntax::ShapeTypeName::List)},
                            ir::FieldShape{"owner", std::nullopt}}}};
  Shape request{Shape::Record{{ir::FieldShape{"title", type(syntax::ShapeTypeName::Text)},
                               ir::FieldShape{"meta", meta}}}};
  std::vector<ir::Input> inputs = {
      {"request", request, span_of(text, "in request: {title: text, meta: {tags: list, owner}}")},
      {"count", type(syntax::ShapeTypeName::Number), span_of(text, "in count: number")},
  };
  EXPECT_EQ(declarations.inputs, inputs);
  std::vector<ir::Output> outputs = {{"reply", span_of(text, "out reply")},
                                     {"summary", span_of(text, "out summary")}};
  EXPECT_EQ(declarations.outputs, outputs);

  ASSERT_EQ(declarations.needs.size(), 3u);
  EXPECT_EQ(declarations.needs[0].name, "page");
  EXPECT_EQ(declarations.needs[0].kind, syntax::NeedKind::Tool);
  std::vector<ir::ToolSignature> signatures = {
      {"fetch", {"url", "timeout"}, syntax::ToolReturnType::Text, span_of(text, "fetch(url, timeout) -> text")},
      {"close", {}, syntax::ToolReturnType::None, span_of(text, "close() -> none")},
  };
  EXPECT_EQ(declarations.needs[0].signatures, signatures);
  EXPECT_EQ(declarations.needs[1],
            (ir::Need{"helper", syntax::NeedKind::Agent, {}, span_of(text, "needs helper: agent")}));
  EXPECT_EQ(declarations.needs[2],
            (ir::Need{"shell", syntax::NeedKind::Tool, {}, span_of(text, "needs shell: tool")}));
}

TEST(LowerUnits, ThePreludeLowersWithItsCallsResolvedToItsOwnUnits) {
  std::vector<LinkedModule> modules = link_text("program p\n");
  LoweredModule prelude = lower_program(module_named(modules, "std"), modules);
  EXPECT_TRUE(prelude.diagnostics.empty());
  EXPECT_TRUE(prelude.tasks.empty());
  EXPECT_TRUE(prelude.judgments.empty());
  std::vector<std::string> names;
  for (const ir::Def& def : prelude.defs) names.push_back(def.name);
  ASSERT_EQ(names, (std::vector<std::string>{"std.focus_impl", "std.stuck", "std.repeats"}));

  auto callee_name = [](const ir::Expr& expr) -> std::string {
    const auto* call = std::get_if<ir::Expr::Call>(&expr.node);
    if (call == nullptr) return "<not a call>";
    const auto* name = std::get_if<ir::Expr::Name>(&call->callee->node);
    return name ? name->name : "<not a name>";
  };

  // focus_impl recurses through its qualified name; built-ins stay as written.
  const ir::Def& focus = prelude.defs[0];
  EXPECT_EQ((std::vector<std::string>{"text", "purpose", "limit"}),
            (std::vector<std::string>{focus.params[0].name, focus.params[1].name, focus.params[2].name}));
  const auto& last = std::get<ir::Stmt::Return>(focus.body.back().node);
  ASSERT_TRUE(last.value.has_value());
  EXPECT_EQ(callee_name(*last.value), "std.focus_impl");
  EXPECT_EQ(callee_name(assigned(focus.body, 1)), "chunk");
  const ir::Judge& keep = judged(focus.body, 2);
  EXPECT_TRUE(keep.each);
  EXPECT_EQ(keep.subject.state_path, "chunks");
  const auto& condition = std::get<ir::Expr::Text>(std::get<ir::JudgeVerb::Feels>(keep.verb.node).condition.node);
  ASSERT_EQ(condition.parts.size(), 2u);
  const auto& purpose = std::get<ir::TextPart::Interpolation>(condition.parts[1].node);
  EXPECT_EQ(std::get<ir::Expr::Name>(purpose.expr.node).name, "purpose");

  // stuck calls repeats through the prelude's own name for it.
  const ir::Def& stuck = prelude.defs[1];
  const auto& first = std::get<ir::Stmt::If>(stuck.body[0].node);
  const auto& test = std::get<ir::Expr::Binary>(first.branches[0].test.node);
  EXPECT_EQ(callee_name(*test.left), "std.repeats");
  const ir::Judge& progress = judged(stuck.body, 2);
  const auto& rate = std::get<ir::JudgeVerb::Rate>(progress.verb.node);
  ASSERT_EQ(rate.levels.size(), 3u);
  EXPECT_EQ(rate.levels[1].name, "drifting");
}

// Lowering runs on modules that the checker rejected, so nothing the checker would guarantee may be assumed.
TEST(LowerUnits, ProgramsTheCheckerWouldRejectStillLowerWhole) {
  const std::string library =
      "program lib\n"
      "def _hidden(x):\n"
      "  return x\n";
  const std::string text =
      "program p\n"
      "use \"lib.zem\" as lib\n"
      "task main(x, y):\n"
      "  a = nowhere(1, 2, 3)\n"
      "  b = lib._hidden(1)\n"
      "  c = lib.missing()\n"
      "  d = nolib.f()\n"
      "  e = main\n"
      "  f = stuck()\n"
      "task main:\n"
      "  return 1\n"
      "machine m():\n"
      "  initial ghost\n"
      "  state s:\n"
      "    on go \"go\" -> nowhere\n";
  LoweredModule lowered = lower_root(text, {{"lib.zem", library}});
  ASSERT_EQ(lowered.tasks.size(), 2u);
  EXPECT_EQ(lowered.tasks[0].name, "main");
  EXPECT_EQ(lowered.tasks[1].name, "main");
  EXPECT_EQ(lowered.tasks[0].params.size(), 2u);
  EXPECT_EQ(lowered.tasks[0].body.size(), 6u);
  ASSERT_EQ(lowered.machines.size(), 1u);
  EXPECT_EQ(lowered.machines[0].initial, "ghost");
  EXPECT_EQ(lowered.machines[0].states[0].transitions[0].target, "nowhere");
  EXPECT_TRUE(lowered.diagnostics.empty());

  // A hand-built tree with a log placed after more result lines than a 32-bit count holds.
  std::vector<LinkedModule> modules = link_text("program p\njudgment j(x):\n  log info \"x\"\n  ok = x feels \"a\"\n");
  ASSERT_FALSE(modules.empty());
  ASSERT_EQ(modules[0].program.units.size(), 1u);
  std::get<ast::Judgment>(modules[0].program.units[0].node).logs[0].after = size_t{1} << 40;
  LoweredModule odd = lower_program(modules[0], modules);
  ASSERT_EQ(odd.judgments.size(), 1u);
  EXPECT_EQ(odd.judgments[0].logs[0].after, 4294967295u);
}

}  // namespace
}  // namespace dravelin::compiler
