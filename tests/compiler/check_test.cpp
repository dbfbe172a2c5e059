// The checker's entry point: rules on units and machines, the order and files of findings, programs that pass,
// and robustness over every tree the parser accepts.
#include "compiler/check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "check_test_support.h"
#include "compiler/module_sources.h"

namespace dravelin::compiler::check_test {
namespace {

class UnitRules : public testing::TestWithParam<CheckCase> {};

TEST_P(UnitRules, Findings) { expect_root_findings(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Check, UnitRules,
    testing::Values(
        CheckCase{"LaterUnitsReportedAgainstTheFirst",
                  "program t\n"
                  "def f():\n"
                  "  return 1\n"
                  "task f:\n"
                  "  return\n"
                  "machine f():\n"
                  "  state s done\n",
                  {"4:5 duplicate_name: task `f` is declared twice",
                   "6:8 duplicate_name: machine `f` is declared twice"}},
        CheckCase{"LogUnitTwiceWarnsEachTime",
                  "program t\n"
                  "def log(x):\n"
                  "  return x\n"
                  "def log(y):\n"
                  "  return y\n",
                  {"2:4 log_shadowed: def `log` turns off the `log` expression in this file, so `log <word> <value>` "
                   "calls it instead; rename it to write logs here (spec section 5.8)",
                   "4:4 duplicate_name: def `log` is declared twice",
                   "4:4 log_shadowed: def `log` turns off the `log` expression in this file, so `log <word> <value>` "
                   "calls it instead; rename it to write logs here (spec section 5.8)"}},
        CheckCase{"PreludeNameShadowed",
                  "program t\n"
                  "task stuck:\n"
                  "  return\n",
                  {"2:5 prelude_shadowed: task `stuck` shadows the prelude's `stuck`; the prelude's stays reachable "
                   "as `std.stuck` (spec section 3.9)"}},
        CheckCase{"MainWithParameters",
                  "program t\n"
                  "task main(x):\n"
                  "  return x\n",
                  {"2:5 main_has_params: `task main` takes no parameters; it reads the program's `in` declarations "
                   "(spec section 7)"}},
        CheckCase{"JudgmentResultsAndLogLines",
                  "program t\n"
                  "judgment j(x):\n"
                  "  log info \"before\" {a}\n"
                  "  a = x feels \"one\"\n"
                  "  b = a feels \"two\"\n"
                  "  a = x feels \"three\"\n"
                  "  log info \"after\" {a, b}\n",
                  {"3:21 unassigned_read: `a` is read before it is assigned (spec section 5.3)",
                   "5:6 unassigned_read: `a` is read before it is assigned (spec section 5.3)",
                   "6:2 duplicate_name: result `a` is assigned twice"}},
        CheckCase{"EventsOfOneState",
                  "program t\n"
                  "machine m():\n"
                  "  state a:\n"
                  "    on go \"\" -> b\n"
                  "    on go \" \" -> b\n"
                  "    on far \"far {nope}\" -> nowhere\n"
                  "  state b:\n"
                  "    on go \"again\" -> a\n"
                  "  state c done\n",
                  {"3:8 machine_unreachable_done: state `a` has no path to a `done` state (spec section 7.8)",
                   "4:10 event_no_description: event `go` needs a description: it is what Zem reads (spec section "
                   "7.8)",
                   "5:7 duplicate_name: event `go` is declared twice in state `a` (spec section 7.8)",
                   "6:17 unassigned_read: `nope` is read before it is assigned (spec section 5.3)",
                   "6:27 machine_unknown_state: `-> nowhere` names a state the machine does not declare (spec "
                   "section 7.8)",
                   "7:8 machine_unreachable_done: state `b` has no path to a `done` state (spec section 7.8)"}},
        CheckCase{"ReachabilityOverSeveralPasses",
                  "program t\n"
                  "machine m():\n"
                  "  state a:\n"
                  "    on x \"x\" -> b\n"
                  "  state b:\n"
                  "    on y \"y\" -> c\n"
                  "  state c done\n"
                  "  state d:\n"
                  "    on z \"z\" -> d\n"
                  "  state e:\n"
                  "    on w \"w\" -> ghost\n",
                  {"8:8 machine_unreachable_done: state `d` has no path to a `done` state (spec section 7.8)",
                   "10:8 machine_unreachable_done: state `e` has no path to a `done` state (spec section 7.8)",
                   "11:16 machine_unknown_state: `-> ghost` names a state the machine does not declare (spec section "
                   "7.8)"}},
        // Written from the start of the chain, so each forward pass would reach one state further; states
        // sharing a name count as one, and a state reaches `done` through a later duplicate of its target.
        CheckCase{"ReachabilityAlongAChainAndSharedNames",
                  "program t\n"
                  "machine m():\n"
                  "  state a:\n"
                  "    on x \"x\" -> b\n"
                  "  state b:\n"
                  "    on x \"x\" -> c\n"
                  "  state c:\n"
                  "    on x \"x\" -> d\n"
                  "  state d:\n"
                  "    on x \"x\" -> e\n"
                  "  state e:\n"
                  "    on x \"x\" -> e\n"
                  "  state e:\n"
                  "    on x \"x\" -> f\n"
                  "  state f done\n"
                  "  state g:\n"
                  "    on x \"x\" -> h\n"
                  "  state h:\n"
                  "    on x \"x\" -> g\n",
                  {"13:8 duplicate_name: state `e` is declared twice",
                   "16:8 machine_unreachable_done: state `g` has no path to a `done` state (spec section 7.8)",
                   "18:8 machine_unreachable_done: state `h` has no path to a `done` state (spec section 7.8)"}},
        CheckCase{"NoDoneStateSkipsReachability",
                  "program t\n"
                  "machine m():\n"
                  "  state a:\n"
                  "    on x \"x\" -> a\n"
                  "  state a:\n"
                  "    on y \"y\" -> a\n"
                  "machine empty():\n"
                  "  goal \"nothing\"\n",
                  {"2:8 machine_no_done: machine `m` has no `done` state, so it can never finish (spec section 7.8)",
                   "5:8 duplicate_name: state `a` is declared twice",
                   "7:8 machine_no_done: machine `empty` has no `done` state, so it can never finish (spec section "
                   "7.8)"}},
        CheckCase{"ObservedFieldsAndObs",
                  "program t\n"
                  "in ticket: text\n"
                  "machine m(limit = obs):\n"
                  "  goal \"reach {obs}\"\n"
                  "  observe:\n"
                  "    status ticket, max 100\n"
                  "    size len(ticket)\n"
                  "    total ticket + ticket\n"
                  "    label \"short\"\n"
                  "    labels [\"a\", \"b\"]\n"
                  "    pair [ticket]\n"
                  "    seen obs\n"
                  "  state a:\n"
                  "    on go \"go {obs}\" -> b when obs.ready:\n"
                  "      log info \"saw\" {obs}\n"
                  "  state b done\n",
                  {"3:18 unassigned_read: `obs` is read before it is assigned (spec section 5.3)",
                   "4:15 unassigned_read: `obs` is read before it is assigned (spec section 5.3)",
                   "8:4 uncapped_field: field `total` has no `max`; every field that reaches Zem should say how "
                   "large it may be (spec section 7.2)",
                   "9:4 uncapped_field: field `label` has no `max`; every field that reaches Zem should say how "
                   "large it may be (spec section 7.2)",
                   "11:4 uncapped_field: field `pair` has no `max`; every field that reaches Zem should say how "
                   "large it may be (spec section 7.2)",
                   "12:4 uncapped_field: field `seen` has no `max`; every field that reaches Zem should say how "
                   "large it may be (spec section 7.2)",
                   "12:9 unassigned_read: `obs` is read before it is assigned (spec section 5.3)"}}),
    case_name);

TEST(CheckOrder, SortedByLineThenColumnKeepingProductionOrderAtOnePlace) {
  Checked checked = check_text(
      "program t\n"
      "def f(x):\n"
      "  gate risk x:\n"
      "    proceed -> return 1\n"
      "  return y\n");
  EXPECT_EQ(render_all(checked.root()),
            (std::vector<std::string>{
                "3:2 def_side_effect: a `def` cannot `gate`; gates belong to tasks (spec section 8)",
                "3:2 gate_args: a gate needs both `risk` and `confidence` (spec section 7.6)",
                "5:9 unassigned_read: `y` is read before it is assigned (spec section 5.3)"}));
  const auto& d = checked.root();
  EXPECT_TRUE(std::is_sorted(d.begin(), d.end(), [](const Diagnostic& a, const Diagnostic& b) {
    return std::make_pair(a.span.start.line, a.span.start.column) <
           std::make_pair(b.span.start.line, b.span.start.column);
  }));
}

TEST(CheckDuplicates, RelatedLocationPointsAtFirstDeclarationInTheSameFile) {
  TempDir dir;
  const std::string text =
      "program t\n"
      "def f():\n"
      "  return 1\n"
      "task f:\n"
      "  return\n";
  fs::path file = dir.write("main.zem", text);
  Checked checked = check_text(text, file);
  ASSERT_EQ(checked.root().size(), 1u);
  const Diagnostic& d = checked.root().front();
  EXPECT_EQ(d.file, display_path(file));
  ASSERT_EQ(d.related.size(), 1u);
  EXPECT_EQ(d.related[0].message, "`f` was first declared here");
  EXPECT_EQ(d.related[0].file, display_path(file));
  EXPECT_EQ(d.related[0].span.start.line, 2u);
  EXPECT_EQ(d.related[0].span.start.column, 4u);
  EXPECT_EQ(d.related[0].span.end.column, 5u);

  // Without a path, neither the finding nor its related location names a file.
  Checked pathless = check_text(text);
  ASSERT_EQ(pathless.root().size(), 1u);
  EXPECT_FALSE(pathless.root()[0].file.has_value());
  ASSERT_EQ(pathless.root()[0].related.size(), 1u);
  EXPECT_FALSE(pathless.root()[0].related[0].file.has_value());
}

// The prelude's findings name "<prelude>", while the related location of a duplicate there names no file.
TEST(CheckFiles, PreludeFindingsAreAttributedToThePrelude) {
  auto parsed = syntax::parse_program(
      "program std\n"
      "def twice():\n"
      "  return 1\n"
      "def twice():\n"
      "  return 2\n");
  ASSERT_TRUE(parsed.ok());
  LinkedModule prelude;
  prelude.alias = "std";
  prelude.program = *parsed;
  std::vector<LinkedModule> modules{prelude};
  std::vector<Diagnostic> found = check_program(prelude, modules);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].file, "<prelude>");
  ASSERT_EQ(found[0].related.size(), 1u);
  EXPECT_FALSE(found[0].related[0].file.has_value());
}

TEST(CheckFiles, LibraryFindingsCarryTheLibraryPath) {
  TempDir dir;
  fs::path lib = dir.write("lib.zem",
                           "program lib\n"
                           "def helper(x):\n"
                           "  return y\n");
  const std::string root_text =
      "program t\n"
      "use \"./lib.zem\" as lib\n"
      "task main:\n"
      "  return z\n";
  fs::path root = dir.write("main.zem", root_text);
  Checked checked = check_text(root_text, root);
  ASSERT_EQ(checked.findings.size(), 3u);
  ASSERT_EQ(checked.findings[0].size(), 1u);
  EXPECT_EQ(checked.findings[0][0].file, display_path(root));
  ASSERT_EQ(checked.findings[1].size(), 1u);
  EXPECT_EQ(render(checked.findings[1][0]),
            "3:9 unassigned_read: `y` is read before it is assigned (spec section 5.3)");
  ASSERT_TRUE(checked.modules[1].source_path.has_value());
  EXPECT_EQ(fs::canonical(*checked.modules[1].source_path), fs::canonical(lib));
  EXPECT_EQ(checked.findings[1][0].file, display_path(*checked.modules[1].source_path));
  EXPECT_TRUE(checked.findings[2].empty());
}

// Programs that use most of the language correctly find nothing at all.
class CleanPrograms : public testing::TestWithParam<CheckCase> {};

TEST_P(CleanPrograms, FindNothing) { expect_root_findings(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Check, CleanPrograms,
    testing::Values(
        CheckCase{"DefNamedMainTakesParameters",
                  "program t\n"
                  "def main(x):\n"
                  "  return x\n",
                  {}},
        CheckCase{"MachineNamedMainTakesParameters",
                  "program t\n"
                  "machine main(x):\n"
                  "  state s done\n",
                  {}},
        CheckCase{"WholeProgram",
                  "program triage\n"
                  "in request: {title: text, body: text}\n"
                  "out reply\n"
                  "needs helper: agent\n"
                  "needs boss: person\n"
                  "needs web: tool:\n"
                  "  fetch(url) -> text\n"
                  "judgment classify(req):\n"
                  "  kind = req.body pick:\n"
                  "    bug \"a defect in {req.title}\"\n"
                  "    other\n"
                  "  log info \"classified\" {kind}\n"
                  "  urgent = req feels \"someone is blocked\"\n"
                  "task main budget calls 40 thresholds risk_confirm 70%:\n"
                  "  page = web.fetch request.title\n"
                  "  c = classify(request)\n"
                  "  if c.urgent > 0.8 and c.kind is bug:\n"
                  "    boss.notify \"urgent {request.title}\"\n"
                  "  notes = shape:\n"
                  "    body page, max 2000, tail\n"
                  "    count len(page)\n"
                  "    short focus page on \"the fix\", max 300\n"
                  "  h = helper.spawn(notes)\n"
                  "  done = false\n"
                  "  until verify(done), max 5:\n"
                  "    reply = helper.wait idle\n"
                  "    ok = reply feels \"answers the request\"\n"
                  "    if ok > 0.7:\n"
                  "      done = true\n"
                  "  gate risk 0.2, confidence 0.9:\n"
                  "    proceed -> result = h\n"
                  "    confirm -> result = none\n"
                  "  log info \"finished\" {result, steps: trail 10}\n"
                  "  return [std.stuck(trail 5), summary(page), result]\n"
                  "def summary(text, limit = len(text)):\n"
                  "  parts = [p for p in lines(text) if len(p) > 0]\n"
                  "  for i, line in items(parts):\n"
                  "    if i > limit:\n"
                  "      break\n"
                  "  return focus text on \"the summary\", max 400\n"
                  "machine follow(ticket) budget steps 12:\n"
                  "  goal \"resolve {ticket}\"\n"
                  "  initial waiting\n"
                  "  observe:\n"
                  "    status ticket, max 100\n"
                  "    age len(ticket)\n"
                  "  state waiting:\n"
                  "    on answered \"the reporter replied\" -> review\n"
                  "    on silent \"no reply in {obs.age} days\" -> waiting when obs.age > 1 risky:\n"
                  "      helper.send \"remind {ticket}\"\n"
                  "  state review:\n"
                  "    on fixed \"the fix is confirmed\" -> closed\n"
                  "  state closed done\n",
                  {}}),
    case_name);

// Warnings alone: the program still compiles.
TEST(CheckWarnings, WarningsOnlyProgram) {
  Checked checked = check_text(
      "program t\n"
      "def log(x):\n"
      "  return x\n"
      "task main:\n"
      "  log \"x\"\n"
      "  p = main feels \"fine\"\n"
      "  if p:\n"
      "    return\n"
      "  s = shape:\n"
      "    all p\n"
      "machine m():\n"
      "  state a done\n"
      "  state b:\n"
      "    on again \"again\" -> b\n");
  EXPECT_EQ(render_all(checked.root()),
            (std::vector<std::string>{
                "2:4 log_shadowed: def `log` turns off the `log` expression in this file, so `log <word> <value>` "
                "calls it instead; rename it to write logs here (spec section 5.8)",
                "7:5 bare_prob_condition: `p` is a prob; `if p:` tests `p != 0`, write a threshold such as `p > "
                "0.7` (spec section 4.1)",
                "10:4 uncapped_field: field `all` has no `max`; every field that reaches Zem should say how large it "
                "may be (spec section 7.2)",
                "13:8 machine_unreachable_done: state `b` has no path to a `done` state (spec section 7.8)"}));
  for (const Diagnostic& d : checked.root()) EXPECT_EQ(d.severity, syntax::Severity::Warning) << render(d);
}

TEST(CheckPrelude, PreludeChecksClean) {
  std::vector<LinkedModule> modules{parse_prelude()};
  EXPECT_EQ(render_all(check_program(modules[0], modules)), std::vector<std::string>{});
}

// Every tree the parser accepts can be checked, whatever it holds; linked when it links, else as a lone root
// beside the prelude.
TEST(CheckRobustness, EveryParsedTestProgramChecks) {
  int checked_files = 0;
  for (const char* folder : {"parse", "link"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(DRAVELIN_TESTDATA) / folder)) {
      if (entry.path().extension() != ".zem") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      auto parsed = syntax::parse_program(text);
      if (!parsed.ok()) continue;
      std::vector<LinkedModule> modules;
      auto linked = link_program(*parsed, entry.path(), ModuleSources{});
      if (linked.ok()) {
        modules = std::move(linked).value();
      } else {
        LinkedModule root;
        root.program = *parsed;
        root.source_path = entry.path();
        root.aliases["std"] = "std";
        modules = {root, parse_prelude()};
      }
      for (const LinkedModule& module : modules) {
        std::vector<Diagnostic> found = check_program(module, modules);
        expect_code_severities(found);
        for (const Diagnostic& d : found) EXPECT_TRUE(d.file.has_value()) << entry.path() << " " << render(d);
      }
      ++checked_files;
    }
  }
  EXPECT_GT(checked_files, 0);
}

// Nesting as deep as the parser allows, in expressions, interpolations and blocks.
TEST(CheckRobustness, DeepNesting) {
  std::string deep_list(90, '[');
  deep_list += "x";
  deep_list += std::string(90, ']');
  std::string nested_text = "x";
  for (int i = 0; i < 20; ++i) nested_text = "\"{" + nested_text + "}\"";
  std::string blocks;
  std::string indent = "  ";
  for (int i = 0; i < 40; ++i) {
    blocks += indent + "if y > " + std::to_string(i) + ":\n";
    indent += "  ";
  }
  blocks += indent + "z = q\n";
  std::string text = "program t\ntask main:\n  a = " + deep_list + "\n  b = " + nested_text + "\n  y = 1\n" + blocks;
  auto parsed = syntax::parse_program(text);
  ASSERT_TRUE(parsed.ok()) << syntax::debug_string(parsed.error());
  Checked checked = check_text(text);
  std::vector<std::string> found = render_all(checked.root());
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], "3:96 unassigned_read: `x` is read before it is assigned (spec section 5.3)");
  EXPECT_EQ(found[2], "46:86 unassigned_read: `q` is read before it is assigned (spec section 5.3)");
}

}  // namespace
}  // namespace dravelin::compiler::check_test
