// Hover, definition and references over a small workspace of three files on disk, one of them open.
#include "lsp/core/navigate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "compiler/prelude.h"
#include "compiler/temp_dir.h"
#include "lsp/core/uri.h"
#include "printers.h"

namespace dravelin::lsp {
namespace {

namespace fs = std::filesystem;
using compiler::test_support::TempDir;

const std::string kMain =
    "# The entry program.\n"
    "program app\n"
    "use \"./lib/helpers.zem\" as helpers with fetcher: web\n"
    "needs web: tool\n"
    "needs reviewer: agent\n"
    "in req: {title: text}\n"
    "out reply\n"
    "\n"
    "# Classifies a request.\n"
    "#No space here.\n"
    "judgment classify(t):\n"
    "  kind = t pick:\n"
    "    bug \"a defect\"\n"
    "    other\n"
    "  urgent = t feels \"blocked\"\n"
    "\n"
    "task main:\n"
    "  r = classify(req.title)\n"
    "  h = reviewer.spawn prompt \"go\"\n"
    "  o = h.observe\n"
    "  if r.kind is bug:\n"
    "    reply = helpers.tidy(req.title, limit: 3)\n"
    "  x = std.stuck([1])\n"
    "  log warn x\n"
    "  n = len(x)\n"
    "  loop max 3:\n"
    "    n = n + 1\n"
    "  return n\n"
    "\n"
    "machine follow(t):\n"
    "  state open:\n"
    "    on close \"done\" -> shut\n"
    "  state shut done\n";

const std::string kHelpers =
    "program helpers\n"
    "needs fetcher: tool\n"
    "\n"
    "# Trims a text.\n"
    "def tidy(text, limit = 10):\n"
    "  return head(text, limit)\n";

const std::string kOther =
    "program second\n"
    "use \"./lib/helpers.zem\" as h\n"
    "\n"
    "task main:\n"
    "  return h.tidy(\"x\")\n";

class Navigation : public testing::Test {
 protected:
  Navigation() {
    dir_.write("main.zem", kMain);
    helpers_ = fs::canonical(dir_.write("lib/helpers.zem", kHelpers));
    dir_.write("other.zem", kOther);
    main_uri_ = path_to_uri(fs::canonical(dir_.path() / "main.zem"));
    helpers_uri_ = path_to_uri(helpers_);
    other_uri_ = path_to_uri(fs::canonical(dir_.path() / "other.zem"));
    world_.did_open(main_uri_, kMain, 1);
  }

  // The offset of the `nth` (from 0) appearance of `needle` in the main text, plus `within`.
  static size_t at(std::string_view needle, size_t within = 0, int nth = 0) {
    size_t found = kMain.find(needle);
    for (int i = 0; i < nth; ++i) found = kMain.find(needle, found + 1);
    EXPECT_NE(found, std::string::npos) << needle;
    return found + within;
  }

  std::optional<Hover> hover_at(size_t offset) { return hover(world_, world_.analysis(main_uri_), offset); }
  std::string hover_text(size_t offset) {
    std::optional<Hover> h = hover_at(offset);
    return h ? h->markdown : "<none>";
  }

  TempDir dir_;
  World world_{PositionEncoding::Utf16, {dir_.path()}, compiler::ModuleSources{}};
  fs::path helpers_;
  std::string main_uri_, helpers_uri_, other_uri_;
};

Range range(uint32_t l1, uint32_t c1, uint32_t l2, uint32_t c2) { return Range{{l1, c1}, {l2, c2}}; }

TEST_F(Navigation, HoverOfDeclaredNames) {
  const std::string in_helpers = " in `" + helpers_.string() + "`";
  struct Case {
    const char* name;
    size_t offset;
    std::string expected;
  } cases[] = {
      {"unit_with_doc_comment_and_results", at("classify(req"),
       "```dravelin\njudgment classify(t)\n```\n*judgment* \u2014 spec section 6.7\n\nClassifies a request.\nNo space "
       "here.\n\nReturns a record of:\n- `kind = t pick`\n- `urgent = t feels \"blocked\"`\n"},
      {"unit_in_another_file", at("tidy(req"),
       "```dravelin\ndef tidy(text, limit = 10)\n```\n*def*" + in_helpers +
           " \u2014 spec section 8\n\nTrims a text.\n"},
      {"judgment_result_through_a_unit_result", at("kind is", 1),
       "```dravelin\nkind = t pick\n```\n*judgment result* \u2014 spec section 6.7\n\nLabels:\n- `bug \"a defect\"`\n"},
      {"label_through_a_unit_result", at("is bug", 3),
       "```dravelin\nbug \"a defect\"\n```\n*label* \u2014 spec section 6.3\n"},
      {"open_tool", at("web: tool"),
       "```dravelin\nneeds web: tool\n```\n*capability* \u2014 spec section 3.4\n\nAnything else. Verbs are forwarded "
       "to "
       "the host adapter; a signature block makes the compiler check them.\n\nAn open tool: no signature block, so "
       "verbs are checked at bind time or at the call (spec section 9.4).\n"},
      {"module_alias", at("helpers.tidy"),
       "```dravelin\nuse \"./lib/helpers.zem\" as helpers with fetcher: web\n```\n*module* \u2014 spec section "
       "3.9\n\nResolves to `" +
           helpers_.string() + "`.\n"},
      {"use_path_shows_the_module", at("\"./lib", 3),
       "```dravelin\nprogram helpers\n```\n*program*" + in_helpers + " \u2014 spec section 3.1\n"},
      {"library_capability_of_a_mapping", at("fetcher:"),
       "```dravelin\nneeds fetcher: tool\n```\n*capability*" + in_helpers +
           " \u2014 spec section 3.4\n\nAnything else. Verbs are forwarded to the host adapter; a signature block "
           "makes "
           "the compiler check them.\n\nAn open tool: no signature block, so verbs are checked at bind time or at the "
           "call (spec section 9.4).\n"},
      {"output", at("reply = "), "```dravelin\nout reply\n```\n*output* \u2014 spec section 3.3\n"},
      {"input_field", at("req.title)", 4), "```dravelin\ntitle\n```\n*input* \u2014 spec section 3.2\n"},
      {"variable", at("n + 1"), "```dravelin\nn = len(x)\n```\n*variable* \u2014 spec section 5.3\n"},
      {"machine", at("follow(t)"),
       "```dravelin\nmachine follow(t)\n```\n*machine* \u2014 spec section 7.8\n\nStates:\n- `state open`\n- `state "
       "shut done`\n\nA call returns `{ state, steps, done, verified, events }` (spec section 7.8).\n"},
      {"machine_state", at("-> shut", 3),
       "```dravelin\nstate shut done\n```\n*machine state* \u2014 spec section 7.8\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(hover_text(c.offset), c.expected) << c.name;
}

TEST_F(Navigation, HoverOfTheLanguagesOwnWords) {
  struct Case {
    const char* name;
    size_t offset;
    std::string expected;
  } cases[] = {
      {"builtin_call", at("len(x)"), "```dravelin\nlen(x)\n```\nLength of a list or text.\n\n*Spec section 5.7.*"},
      {"bound_keyword", at("max 3"),
       "```dravelin\nmax <n>\n```\nA bound: the iteration cap of `loop` and `until`, a token cap in `shape` and "
       "`focus`, or the step limit of a machine call. As a function, `max(xs)` is the largest number.\n\n*Spec "
       "section 5.5.*"},
      {"keyword_at_the_first_character_of_a_block", at("loop max"),
       "```dravelin\nloop max <n>:\n```\nA loop with a fixed upper bound and no condition. There is no unbounded "
       "loop.\n\n*Spec section 5.5.*"},
      {"log_word", at("log warn"),
       "```dravelin\nlog <level> <expr> { <field>, <field>: <expr>, ... }\n```\nRecords one line in the run's "
       "recording at a level (`debug`, `info`, `warn`, `error`) and evaluates to the expression's value unchanged. "
       "It never reaches Zem, never counts against a budget and never changes control flow.\n\n*Spec section 5.8.*"},
      {"log_level", at("warn x", 4),
       "```dravelin\nlog debug | info | warn | error <expr>\n```\nA `log` level for something unexpected that the run "
       "survives.\n\n*Spec section 5.8.*"},
      {"capability_kind", at("agent"),
       "```dravelin\nagent\n```\nSomething that runs a task in the world over time and can be observed. Verbs: "
       "`spawn`, `observe`, `send`, `wait`, `stop`.\n\n*Spec section 9.1.*"},
      {"agent_verb", at("spawn"),
       "```dravelin\nspawn in <handle>?, prompt <text>, ...\n```\nStarts an agent and returns its `handle`. "
       "Adapter-specific named arguments after `prompt` pass through unchecked.\n\n*Spec section 9.1.*"},
      {"handle_method", at("observe"),
       "```dravelin\n<handle>.observe\n```\nReturns an observation record: `status`, `last_message`, `tail`, "
       "`exit_code`, and whatever the adapter adds. `tail` and `last_message` are agent-written; shape before judging "
       "them.\n\n*Spec section 9.1.*"},
      {"contextual_word_of_a_call", at("prompt"),
       "```dravelin\n<agent>.spawn in <handle>?, prompt <text>\n```\nThe prompt a spawned agent starts with.\n\n*Spec "
       "section 9.1.*"},
      {"reserved_word", at("pick:"),
       "```dravelin\n<subject> pick:\n  <label> \"<description>\"\n  ...\n  other\n```\nAsks Zem to choose one "
       "labelled description. Two to eight labels, exactly one bare `other` or `none`. Returns a `choice`; test it "
       "with `c is <label>`.\n\n*Spec section 6.3.*"},
      {"white_space", at("  r =", 1), "<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(hover_text(c.offset), c.expected) << c.name;
}

TEST_F(Navigation, HoverOfAPreludeDefShowsItsSource) {
  const std::string text = hover_text(at("stuck"));
  EXPECT_TRUE(
      text.starts_with("```dravelin\ndef stuck(steps)\n```\n*def* in the prelude `std` \u2014 spec section 8\n"
                       "\n```dravelin\ndef stuck(steps):\n  if repeats(steps) >= 2:\n"))
      << text;
  EXPECT_TRUE(text.ends_with("progress.confidence > 0.6)\n```\n")) << text;
}

TEST_F(Navigation, HoverRangeIsTheNameUnderTheCursorAndItsEndStillHits) {
  const size_t start = at("classify(req");
  std::optional<Hover> h = hover_at(start + 8);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->range, range(17, 6, 17, 14));
}

TEST_F(Navigation, HoverOfACapabilityKindWordOutsideNeedsIsNothing) {
  const std::string text = "program p\ntask main:\n  x = agent\n";
  world_.did_open("untitled:k", text, 1);
  EXPECT_FALSE(hover(world_, world_.analysis("untitled:k"), text.find("agent") + 1));
}

TEST_F(Navigation, Definition) {
  AnalysisPtr main = world_.analysis(main_uri_);
  struct Case {
    const char* name;
    size_t offset;
    std::vector<Location> expected;
  } cases[] = {
      {"unit", at("classify(req"), {Location{main_uri_, range(10, 9, 10, 17)}}},
      {"unit_in_another_file", at("tidy(req"), {Location{helpers_uri_, range(4, 4, 4, 8)}}},
      {"label_through_a_unit_result", at("is bug", 3), {Location{main_uri_, range(12, 4, 12, 7)}}},
      {"use_path", at("\"./lib"), {Location{helpers_uri_, range(0, 0, 0, 0)}}},
      {"prelude_def", at("stuck"), {}},
      {"builtin", at("len(x)"), {}},
      {"nothing", at("  r =", 1), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(goto_definition(world_, main, c.offset), c.expected) << c.name;
}

TEST_F(Navigation, ReferencesOfAUnitSearchEveryDocumentInOrder) {
  AnalysisPtr main = world_.analysis(main_uri_);
  const std::vector<Location> with_declaration = {
      Location{helpers_uri_, range(4, 4, 4, 8)},
      Location{main_uri_, range(21, 20, 21, 24)},
      Location{other_uri_, range(4, 11, 4, 15)},
  };
  EXPECT_EQ(find_references(world_, main, at("tidy(req"), true), with_declaration);
  EXPECT_EQ(find_references(world_, main, at("tidy(req"), false),
            std::vector<Location>(with_declaration.begin() + 1, with_declaration.end()));
}

TEST_F(Navigation, ReferencesOfALocalStayInItsDocument) {
  AnalysisPtr main = world_.analysis(main_uri_);
  EXPECT_EQ(
      find_references(world_, main, at("n + 1"), true),
      (std::vector<Location>{Location{main_uri_, range(24, 2, 24, 3)}, Location{main_uri_, range(26, 4, 26, 5)},
                             Location{main_uri_, range(26, 8, 26, 9)}, Location{main_uri_, range(27, 9, 27, 10)}}));
  EXPECT_EQ(find_references(world_, main, at("n + 1"), false).size(), 3u);
}

TEST_F(Navigation, ReferencesOfALabelFindItsTest) {
  AnalysisPtr main = world_.analysis(main_uri_);
  EXPECT_EQ(
      find_references(world_, main, at("bug \"a"), true),
      (std::vector<Location>{Location{main_uri_, range(12, 4, 12, 7)}, Location{main_uri_, range(20, 15, 20, 18)}}));
}

TEST(DocComment, NearestCommentLinesUpToABlankOrCodeLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  } cases[] = {
      {"two_lines", "# one\n#two\ndef f():\n", "one\ntwo"},
      {"indented_and_crlf", "  #  a\r\n  # b\r\nx", " a\nb"},
      {"blank_line_between", "# one\n\n# two\ndef f():\n", "two"},
      {"code_line_between", "# one\nx = 1\ndef f():\n", ""},
      {"first_line", "def f():\n", ""},
      {"comment_on_the_first_line", "# only\ndef f():\n", "only"},
  };
  for (const Case& c : cases) {
    const size_t start = c.text.find_last_of('\n', c.text.size() - 2);
    const size_t declaration = c.text.starts_with("def") ? 0 : start + 1;
    EXPECT_EQ(doc_comment(c.text, c.name == std::string("indented_and_crlf") ? c.text.size() - 1 : declaration),
              c.expected)
        << c.name;
  }
}

}  // namespace
}  // namespace dravelin::lsp
