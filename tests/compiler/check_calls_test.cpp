// Expressions, calls and effects: judgments' purity, `log`, bare probabilities, capability verbs and tool
// signatures, and references into `use` modules.
#include <gtest/gtest.h>

#include "check_test_support.h"
#include "compiler/module_sources.h"

namespace dravelin::compiler::check_test {
namespace {

std::string bare_prob(const std::string& at, const std::string& x) {
  return at + " bare_prob_condition: `" + x + "` is a prob; `if " + x + ":` tests `" + x +
         " != 0`, write a threshold such as `" + x + " > 0.7` (spec section 4.1)";
}

class ExpressionRules : public testing::TestWithParam<CheckCase> {};

TEST_P(ExpressionRules, Findings) { expect_root_findings(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Check, ExpressionRules,
    testing::Values(
        CheckCase{"QuestionsArePure",
                  "program t\n"
                  "task helper(x):\n"
                  "  return x\n"
                  "def pure(x):\n"
                  "  return x\n"
                  "judgment j(x):\n"
                  "  ok = x feels \"fits {helper(x)} and {pure(x)} and {j(x)}\"\n"
                  "  kind = x pick:\n"
                  "    good \"good {log info x}\"\n"
                  "    other\n"
                  "  log info \"after\" {ok}\n"
                  "task main:\n"
                  "  a = main feels \"{log warn 1}\":\n"
                  "    focus \"about {log info 1}\"\n"
                  "  log info \"fine\" {a}\n",
                  {"7:22 judgment_side_effect: a `judgment` cannot call task `helper`; judgments are pure (spec "
                   "section 3.5)",
                   "9:16 log_in_question: a `log` cannot run inside a judgment's question, which is built without "
                   "effects; log the value before or after the judgment (spec section 5.8)",
                   "13:19 log_in_question: a `log` cannot run inside a judgment's question, which is built without "
                   "effects; log the value before or after the judgment (spec section 5.8)",
                   "14:18 log_in_question: a `log` cannot run inside a judgment's question, which is built without "
                   "effects; log the value before or after the judgment (spec section 5.8)"}},
        CheckCase{"LogWithoutLevel",
                  "program t\n"
                  "task main:\n"
                  "  log \"x\"\n"
                  "  log = 1\n"
                  "  log(\"y\")\n",
                  {"3:2 log_level: a `log` starts with its level and then the value: `log info \"...\"` (spec "
                   "section 5.8)"}},
        CheckCase{"BareProbabilities",
                  "program t\n"
                  "in doc: text\n"
                  "judgment j(d):\n"
                  "  ok = d feels \"fine\"\n"
                  "  many = each d feels \"fine\"\n"
                  "task main:\n"
                  "  x = doc feels \"good\"\n"
                  "  if x:\n"
                  "    return\n"
                  "  if x > 0.7:\n"
                  "    return\n"
                  "  if not (x > 0.5):\n"
                  "    return\n"
                  "  elif not x:\n"
                  "    return\n"
                  "  y = doc pick:\n"
                  "    a \"a\"\n"
                  "    other\n"
                  "  if doc and x or -x:\n"
                  "    return\n"
                  "  r = j(doc)\n"
                  "  if r.ok or r.many:\n"
                  "    return\n"
                  "  s = [p for p in [1] if x]\n"
                  "  until log info x, max 2:\n"
                  "    return\n"
                  "  x = 5\n"
                  "  if x or y:\n"
                  "    return\n",
                  {bare_prob("8:5", "x"), bare_prob("14:11", "x"), bare_prob("19:13", "x"),
                   "22:5 bare_prob_condition: `r.ok` is a prob; write a threshold such as `r.ok > 0.7` (spec section "
                   "4.1)",
                   bare_prob("24:25", "x"), bare_prob("25:17", "x")}},
        CheckCase{"PickAmongWithEach",
                  "program t\n"
                  "in docs: list\n"
                  "task main:\n"
                  "  best = each docs pick among \"which is best\"\n",
                  {"4:9 pick_among_each: `each` cannot be combined with `pick among` (spec section 6.4a)"}},
        CheckCase{"CapabilityVerbs",
                  "program t\n"
                  "needs bot: agent\n"
                  "needs boss: person\n"
                  "needs pen: llm\n"
                  "needs t: tool:\n"
                  "  search(q) -> text\n"
                  "  pair(a, b) -> list\n"
                  "needs free: tool\n"
                  "task main:\n"
                  "  h = bot.spawn(\"x\")\n"
                  "  bot.run(\"x\")\n"
                  "  boss.ask \"ok?\"\n"
                  "  boss.yell \"x\"\n"
                  "  pen.draw \"x\"\n"
                  "  r = t.search(\"q\")\n"
                  "  t.search(\"q\", \"r\")\n"
                  "  t.search(q: \"x\")\n"
                  "  t.find(\"x\")\n"
                  "  t.pair \"a\"\n"
                  "  free.anything(1, 2, 3)\n"
                  "  bot.wait idle\n"
                  "  h.wait(elsewhere)\n",
                  {"11:6 verb_unknown: agent `bot` has no verb `run`; its verbs are spawn, observe, send, wait, stop "
                   "(spec section 9)",
                   "13:7 verb_unknown: person `boss` has no verb `yell`; its verbs are ask, notify, take_over (spec "
                   "section 9)",
                   "14:6 verb_unknown: llm `pen` has no verb `draw`; its verbs are write (spec section 9)",
                   "16:4 verb_arity: `t.search` takes 1 positional argument, not 2 (spec section 9.4)",
                   "17:4 verb_arity: `t.search` takes 1 positional argument, not 0 (spec section 9.4)",
                   "18:4 verb_unknown: tool `t` declares no verb `find` in its signature block (spec section 9.4)",
                   "19:4 verb_arity: `t.pair` takes 2 positional arguments, not 1 (spec section 9.4)",
                   "22:9 unassigned_read: `elsewhere` is read before it is assigned (spec section 5.3)"}},
        CheckCase{"VerbsInPureUnits",
                  "program t\n"
                  "needs bot: agent\n"
                  "def d(x):\n"
                  "  bot.run(x)\n"
                  "  return bot\n"
                  "judgment j(x):\n"
                  "  ok = x feels \"{bot.observe}\"\n",
                  {"4:2 def_side_effect: a `def` cannot call `bot.run`; defs are pure (spec section 8)",
                   "4:6 verb_unknown: agent `bot` has no verb `run`; its verbs are spawn, observe, send, wait, stop "
                   "(spec section 9)",
                   "7:17 judgment_side_effect: a `judgment` cannot call `bot.observe`; judgments are pure (spec "
                   "section 3.5)"}}),
    case_name);

// Calls into `use` modules resolve against what the library exports.
TEST(CheckModules, ReferencesIntoUseModules) {
  TempDir dir;
  dir.write("lib.zem",
            "program lib\n"
            "def summarize_all(x):\n"
            "  return x\n"
            "def _secret():\n"
            "  return 1\n"
            "task job:\n"
            "  return\n");
  const std::string text =
      "program t\n"
      "use \"./lib.zem\" as lib\n"
      "def d():\n"
      "  a = lib.summarize()\n"
      "  b = lib._secret()\n"
      "  c = std.stuck([])\n"
      "  e = lib.job()\n"
      "  f = lib.summarize_all(lib)\n"
      "  g = std._hidden\n"
      "  return [a, b, c, e, f, g, lib.job]\n";
  fs::path root = dir.write("main.zem", text);
  Checked checked = check_text(text, root);
  EXPECT_EQ(render_all(checked.root()),
            (std::vector<std::string>{
                "4:6 unassigned_read: module `lib` exports no unit named `summarize` (spec section 3.9)",
                "5:6 use_private: `lib._secret` is private to its file: a name starting with `_` is not exported "
                "(spec section 3.9)",
                "7:6 def_side_effect: a `def` cannot call task `lib.job`; defs are pure (spec section 8)",
                "9:6 unassigned_read: module `std` exports no unit named `_hidden` (spec section 3.9)"}));
  for (const auto& module_findings : checked.findings) expect_code_severities(module_findings);
  ASSERT_EQ(checked.findings.size(), 3u);
  EXPECT_TRUE(checked.findings[1].empty());
}

// Capabilities seen from a library are its own needs, bound through `with`, with the library's signatures.
TEST(CheckModules, LibraryCapabilitiesUseTheirBindings) {
  TempDir dir;
  dir.write("lib.zem",
            "program lib\n"
            "needs web: tool:\n"
            "  fetch(url) -> text\n"
            "def d(u):\n"
            "  return web.fetch(u)\n"
            "task t(u):\n"
            "  page = web.fetch(u, u)\n"
            "  return page\n");
  const std::string text =
      "program t\n"
      "use \"./lib.zem\" as lib with web: browser\n"
      "needs browser: tool\n"
      "task main:\n"
      "  return lib.t(\"x\")\n";
  fs::path root = dir.write("main.zem", text);
  Checked checked = check_text(text, root);
  ASSERT_EQ(checked.findings.size(), 3u);
  EXPECT_TRUE(checked.root().empty()) << testing::PrintToString(render_all(checked.root()));
  EXPECT_EQ(render_all(checked.findings[1]),
            (std::vector<std::string>{
                "5:9 def_side_effect: a `def` cannot call `web.fetch`; defs are pure (spec section 8)",
                "7:13 verb_arity: `web.fetch` takes 1 positional argument, not 2 (spec section 9.4)"}));
}

}  // namespace
}  // namespace dravelin::compiler::check_test
