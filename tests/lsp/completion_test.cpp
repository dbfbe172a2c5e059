// Completion in each context it knows, with the cursor marked by "|" in a document opened next to a module.
#include "lsp/core/completion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/temp_dir.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp {
namespace {

using compiler::test_support::TempDir;
using Strings = std::vector<std::string>;

const std::string kProgram =
    "program p\n"
    "use \"./lib.zem\" as lib\n"
    "needs web: tool\n"
    "needs bot: agent\n"
    "in req: {title: text}\n"
    "out reply\n"
    "\n"
    "judgment classify(t):\n"
    "  kind = t pick:\n"
    "    bug \"a defect\"\n"
    "    other\n"
    "  level = t rate:\n"
    "    low \"calm\"\n"
    "    high \"urgent\"\n"
    "\n"
    "machine follow(t):\n"
    "  state open:\n"
    "    on go \"advance\" -> shut\n"
    "    on wait \"hold\" -> open\n"
    "  state shut done\n"
    "\n"
    "task main(limit = 3):\n"
    "  r = classify(req)\n"
    "  m = follow(req)\n"
    "  h = bot.spawn prompt \"go\"\n"
    "  c = req pick:\n"
    "    yes \"y\"\n"
    "    no \"n\"\n"
    "    other\n"
    "  web.fetch(1)\n"
    "  web.store(2)\n";

const std::string kLibrary =
    "program lib\n"
    "use \"./deep.zem\" as deep\n"
    "\n"
    "def tidy(x):\n"
    "  return x\n"
    "def _hidden(x):\n"
    "  return x\n"
    "machine flow():\n"
    "  state a done\n";

class Completion : public testing::Test {
 protected:
  Completion() { dir_.write("lib.zem", kLibrary); }

  // The items at the "|" of the text, opened as a new document next to the module.
  std::vector<CompletionItem> items(const std::string& marked) {
    std::string text = marked;
    const size_t cursor = text.find('|');
    text.erase(cursor, 1);
    const std::string uri = path_to_uri(dir_.path() / ("doc" + std::to_string(++documents_) + ".zem"));
    world_.did_open(uri, text, 1);
    return complete(world_, world_.analysis(uri), cursor, patched_);
  }

  Strings labels(const std::string& marked) {
    Strings out;
    for (const CompletionItem& item : items(marked)) out.push_back(item.label);
    return out;
  }

  TempDir dir_;
  World world_{PositionEncoding::Utf16, {}, compiler::ModuleSources{}};
  PatchedAnalyses patched_;
  int documents_ = 0;
};

std::string describe(const CompletionItem& item) {
  std::string out = item.label + " " + std::to_string(static_cast<int>(item.kind));
  if (item.detail) out += " | " + *item.detail;
  if (item.documentation) out += " | " + *item.documentation;
  if (item.sort_text) out += " | sort " + *item.sort_text;
  if (item.label_description) out += " | " + *item.label_description;
  return out;
}

Strings described(const std::vector<CompletionItem>& items) {
  Strings out;
  for (const CompletionItem& item : items) out.push_back(describe(item));
  return out;
}

const Strings kDeclarationKeywords = {"program", "use", "in", "out", "needs", "judgment", "task", "def", "machine"};

TEST_F(Completion, AtTheStartOfALineOnlyDeclarationsBegin) {
  for (const std::string& text : Strings{kProgram + "|", kProgram + "ta|", "|"}) {
    std::vector<CompletionItem> found = items(text);
    Strings names;
    for (const CompletionItem& item : found) {
      names.push_back(item.label);
      EXPECT_EQ(item.sort_text, "9" + item.label);
      EXPECT_EQ(item.kind, CompletionItemKind::Keyword);
    }
    EXPECT_EQ(names, kDeclarationKeywords) << text;
  }
  EXPECT_EQ(
      describe(items("p|")[6]),
      "task 14 | task <name>(<param>, ...) budget ... thresholds ...: | A block that can observe, judge, gate and "
      "act. `main` is the entry point and takes no parameters; other tasks are called like functions under the "
      "caller's remaining budget. *Spec section 7.* | sort 9task");
}

TEST_F(Completion, GeneralListInItsOrderWithoutRepeats) {
  Strings names = labels(kProgram + "  x = |");
  const Strings expected_start = {"c",       "h",     "limit",    "m",      "r",     "reply", "req",
                                  "bot",     "web",   "classify", "follow", "main",  "lib",   "focus_impl",
                                  "repeats", "stuck", "std",      "len",    "count", "max",   "min"};
  ASSERT_GE(names.size(), expected_start.size());
  EXPECT_EQ(Strings(names.begin(), names.begin() + expected_start.size()), expected_start);
  EXPECT_EQ(std::count(names.begin(), names.end(), "max"), 1);
  EXPECT_EQ(names.back(), "log");
  EXPECT_EQ(names.size(), 5u + 2 + 2 + 3 + 1 + 3 + 1 + 23 + 34);

  std::vector<CompletionItem> found = items(kProgram + "  x = |");
  auto item = [&](const std::string& label) {
    for (const CompletionItem& i : found)
      if (i.label == label) return describe(i);
    return std::string("missing");
  };
  EXPECT_EQ(item("r"), "r 6 | r = classify(req) | sort 0r");
  EXPECT_EQ(item("limit"), "limit 6 | limit | sort 0limit");
  EXPECT_EQ(item("req"), "req 21 | in req: {title: text}");
  EXPECT_EQ(item("web"), "web 8 | needs web: tool");
  EXPECT_EQ(item("follow"), "follow 7 | machine follow(t)");
  EXPECT_EQ(item("lib"), "lib 9 | use \"./lib.zem\" as lib");
  EXPECT_EQ(item("stuck"), "stuck 3 | def stuck(steps) | std");
  EXPECT_EQ(item("std"), "std 9 | the prelude");
  EXPECT_EQ(item("max"), "max 3 | max(xs) | The largest of a list of numbers. An empty list gives `none`.");
  EXPECT_EQ(item("_"), "missing");
}

struct ContextCase {
  const char* name;
  std::string text;
  Strings expected;  // labels, or full descriptions when `full`
  bool full = false;
};

void PrintTo(const ContextCase& c, std::ostream* os) { *os << c.name; }

class CompletionContext : public Completion, public testing::WithParamInterface<ContextCase> {};

TEST_P(CompletionContext, Items) {
  const ContextCase& c = GetParam();
  if (c.full) {
    EXPECT_EQ(described(items(c.text)), c.expected);
  } else {
    EXPECT_EQ(labels(c.text), c.expected);
  }
}

const ContextCase kContextCases[] = {
    {"judgment_results_of_a_call",
     kProgram + "  x = r.|",
     {"kind 5 | kind = t pick", "level 5 | level = t rate"},
     true},
    {"pick_result_fields",
     kProgram + "  x = r.kind.|",
     {"label 5 | choice field | *Spec section 6.3.*", "confidence 5 | choice field | *Spec section 6.3.*",
      "probabilities 5 | choice field | *Spec section 6.3.*"},
     true},
    {"rate_result_fields",
     kProgram + "  x = r.level.|",
     {"level", "score", "normalized", "confidence", "probabilities"}},
    {"machine_result_fields",
     kProgram + "  x = m.|",
     {"state 5 | machine result field | *Spec section 7.8.*", "steps 5 | machine result field | *Spec section 7.8.*",
      "done 5 | machine result field | *Spec section 7.8.*", "verified 5 | machine result field | *Spec section 7.8.*",
      "events 5 | machine result field | *Spec section 7.8.*"},
     true},
    {"handle_methods",
     kProgram + "  x = h.|",
     {"observe 2 | <handle>.observe | Returns an observation record: `status`, `last_message`, `tail`, `exit_code`, "
      "and whatever the adapter adds. `tail` and `last_message` are agent-written; shape before judging them.",
      "send 2 | <handle>.send <text> | Sends the agent a message.",
      "wait 2 | <handle>.wait idle, minutes <n> | Waits "
      "for the agent to go idle and returns an observation record; pauses with `waiting`.",
      "stop 2 | <handle>.stop | Stops the agent."},
     true},
    {"observation_fields",
     kProgram + "  x = h.observe.|",
     {"status 5 | observation field | *Spec section 9.1.*", "last_message 5 | observation field | *Spec section 9.1.*",
      "tail 5 | observation field | *Spec section 9.1.*", "exit_code 5 | observation field | *Spec section 9.1.*"},
     true},
    {"agent_verbs", kProgram + "  x = bot.|", {"spawn", "observe", "send", "wait", "stop"}},
    {"open_tool_verbs_found_in_the_text",
     kProgram + "  x = web.|",
     {"fetch 2 | web.fetch", "store 2 | web.store"},
     true},
    {"input_fields", kProgram + "  x = req.|", {"title 5 | title"}, true},
    {"module_units_and_imports",
     kProgram + "  x = lib.|",
     {"flow 7 | machine flow()", "tidy 3 | def tidy(x)", "deep 9 | use \"./deep.zem\" as deep"},
     true},
    {"after_an_opening_parenthesis", kProgram + "  x = (.|", {}},
    {"labels_of_an_inline_pick", kProgram + "  x = c is |", {"yes 20 | yes \"y\"", "no 20 | no \"n\""}, true},
    {"labels_of_a_judgment_result", kProgram + "  x = r.kind is |", {"bug"}},
    {"every_label_once_for_an_unknown_name",
     kProgram + "  d = req pick:\n    bug \"again\"\n    other\n  x = nobody is |",
     {"bug", "low", "high", "yes", "no"}},
    {"log_levels",
     kProgram + "  log |",
     {"debug 20 | log debug | info | warn | error <expr> | The lowest `log` level: detail for whoever is debugging the "
      "program.",
      "info 20 | log debug | info | warn | error <expr> | A `log` level for ordinary progress.",
      "warn 20 | log debug | info | warn | error <expr> | A `log` level for something unexpected that the run "
      "survives.",
      "error 20 | log debug | info | warn | error <expr> | The highest `log` level."},
     true},
    {"capability_kinds",
     kProgram + "needs a:|",
     {"agent 13 | Something that runs a task in the world over time and can be observed. Verbs: `spawn`, `observe`, "
      "`send`, `wait`, `stop`.",
      "person 13 | A human in the loop. Verbs: `ask`, `notify`, `take_over`.",
      "llm 13 | A text generation model. Verb: `write`.",
      "tool 13 | Anything else. Verbs are forwarded to the host adapter; a signature block makes the compiler check "
      "them."},
     true},
    {"machine_states_of_an_event_target",
     "program p\nmachine m():\n  state a:\n    on go \"advance\" -> |\n  state b done\n  state a done\ntask t:\n  "
     "return 1\nmachine other_one():\n  state z done\n",
     {"a 20 | state a", "b 20 | state b"},
     true},
};

INSTANTIATE_TEST_SUITE_P(Contexts, CompletionContext, testing::ValuesIn(kContextCases),
                         [](const testing::TestParamInfo<ContextCase>& info) { return info.param.name; });

TEST_F(Completion, ContextsThatFallBackToTheGeneralList) {
  auto general = [&](const std::string& text) {
    Strings names = labels(text);
    return std::find(names.begin(), names.end(), "std") != names.end();
  };
  EXPECT_TRUE(general(kProgram + "  log|")) << "the word being typed is `log` itself";
  EXPECT_TRUE(general("program p\ndef log(x):\n  return x\ntask main:\n  y = log |")) << "a unit named `log`";
  EXPECT_TRUE(general(kProgram + "  needs a:|")) << "capability kinds only at the start of a line";
}

TEST_F(Completion, ABrokenLineStillSeesItsUnit) {
  Strings names = labels(kProgram + "  x = r +|");
  EXPECT_EQ(Strings(names.begin(), names.begin() + 5), (Strings{"c", "h", "limit", "m", "r"}));
}

TEST_F(Completion, TypingOnOneBrokenLineAnalysesItOnce) {
  const std::string uri = path_to_uri(dir_.path() / "typing.zem");
  std::string text = kProgram + "  x = r.";
  world_.did_open(uri, text, 1);
  EXPECT_EQ(complete(world_, world_.analysis(uri), text.size(), patched_).size(), 2u);
  text += "ki";
  world_.did_change(uri, {ContentChange{std::nullopt, text}}, 2);
  EXPECT_EQ(complete(world_, world_.analysis(uri), text.size(), patched_).size(), 2u);
  EXPECT_EQ(patched_.analyses_built(), 1u);
  // Another line is another patched text.
  text += "\n  y = h.";
  world_.did_change(uri, {ContentChange{std::nullopt, text}}, 3);
  EXPECT_EQ(complete(world_, world_.analysis(uri), text.size(), patched_).size(), 4u);
  EXPECT_EQ(patched_.analyses_built(), 2u);
}

TEST(FieldSetOfDetail, PlainSubstringTests) {
  auto first = [](std::string_view detail) {
    std::vector<CompletionItem> items = field_set_of_detail(detail);
    return items.empty() ? std::string("none")
                         : items[0].label + " " + *items[0].detail + " " + *items[0].documentation;
  };
  EXPECT_EQ(first("c = xs pick among \"best\""), "label choice field *Spec section 6.4a.*");
  EXPECT_EQ(first("k = t pick"), "label choice field *Spec section 6.3.*");
  EXPECT_EQ(first("k = t rate"), "level level field *Spec section 6.4.*");
  EXPECT_EQ(first("k = t feels \"x\""), "none");
  EXPECT_EQ(first("k = picker(1)"), "label choice field *Spec section 6.3.*");  // a name after a space counts
  EXPECT_EQ(first("k = f(picker)"), "none");
  EXPECT_EQ(first("k = t rate pick among x"), "label choice field *Spec section 6.4a.*");
}

TEST(ReceiverPath, DottedNameAtTheEnd) {
  EXPECT_EQ(receiver_path("  x = a.b"), (Strings{"a", "b"}));
  EXPECT_EQ(receiver_path("f(a..b"), (Strings{"a", "", "b"}));
  EXPECT_EQ(receiver_path("f("), (Strings{""}));
  EXPECT_EQ(receiver_path("x = lib"), (Strings{"lib"}));
}

}  // namespace
}  // namespace dravelin::lsp
