#include "compiler/shape_hash.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"

namespace dravelin::compiler {
namespace {

using namespace ir;
using namespace ir::build;

// The two separators, spelled out so that expected texts read like the layout they check.
const std::string RS = "\x1E";
const std::string US = "\x1F";

JudgmentResult result(std::string n, Judge question) {
  question.request_group = 0;
  return JudgmentResult{std::move(n), std::move(question), at(2)};
}
Judge feels_judge(std::string root, std::string condition = "needs attention now") {
  return feels(subject(std::move(root)), text(std::move(condition)));
}
Judge rate_levels(std::vector<std::optional<std::string>> names) {
  std::vector<RateLevel> levels;
  int i = 0;
  for (auto& n : names) levels.push_back(RateLevel{std::move(n), text("situation " + std::to_string(i++)), at(3)});
  return Judge{false, subject("reply"), JudgeVerb{JudgeVerb::Rate{std::move(levels)}}, std::nullopt, 0, at(3)};
}
Judge pick_among_judge(std::optional<std::string> by, bool allow_none) {
  JudgeVerb verb{JudgeVerb::PickAmong{text("which fits"), std::move(by), allow_none}};
  return Judge{false, subject("options"), std::move(verb), std::nullopt, 0, at(4)};
}

MachineState state(std::string n, bool done, std::vector<Transition> transitions = {}) {
  return MachineState{std::move(n), done, std::move(transitions), at(5)};
}
Transition risky(Transition t) {
  t.risky = true;
  return t;
}

bool is_shape_hash(const std::string& h) {
  if (h.size() != 20 || h.rfind("sh1:", 0) != 0) return false;
  return h.find_first_not_of("0123456789abcdef", 4) == std::string::npos;
}

TEST(HexLower, TwoLowercaseDigitsPerByteHighFirst) {
  const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xf0, 0xff, 0x7e};
  EXPECT_EQ(hex_lower(bytes, sizeof bytes), "000fa5f0ff7e");
  EXPECT_EQ(hex_lower(bytes, 0), "");
}

TEST(ShapeHashOfText, IsTheFirstEightDigestBytesOfSha256) {
  // Published SHA-256 values of "abc" and of the empty text, cut to their first 8 bytes.
  EXPECT_EQ(shape_hash_of_text("abc"), "sh1:ba7816bf8f01cfea");
  EXPECT_EQ(shape_hash_of_text(""), "sh1:e3b0c44298fc1c14");
  // Separator and NUL bytes are data like any other.
  EXPECT_NE(shape_hash_of_text(std::string("a\0b", 3)), shape_hash_of_text("a"));
}

TEST(JudgmentShapeHash, WorkedExampleTriage) {
  std::vector<JudgmentResult> results = {result("urgent", feels_judge("ticket"))};
  std::string canonical = judgment_shape_text("triage", results);
  EXPECT_EQ(canonical, "judgment" + US + "triage" + RS + "result" + US + "urgent" + US + "one" + US + "feels");
  EXPECT_EQ(canonical.size(), 39u);
  EXPECT_EQ(judgment_shape_hash("triage", results), "sh1:ecde4f90ee10faeb");
}

TEST(MachineShapeHash, WorkedExampleDoor) {
  std::vector<MachineState> states = {
      state("closed", false, {risky(transition("open", text("swing it"), "opened", std::nullopt, {}))}),
      state("opened", true),
  };
  std::string canonical = machine_shape_text("door", states);
  EXPECT_EQ(canonical, "machine" + US + "door" + RS + "state" + US + "closed." + US + "open->opened!risky" + RS +
                           "state" + US + "opened!");
  EXPECT_EQ(canonical.size(), 59u);
  EXPECT_EQ(machine_shape_hash("door", states), "sh1:e4d4f01ae5179933");
}

struct TextCase {
  const char* what;
  std::vector<JudgmentResult> results;
  std::string tail;  // what follows "judgment", 0x1F and the name
};

TEST(JudgmentShapeText, WritesEachVerbsAnswerStructure) {
  Judge each = feels_judge("chunks");
  each.each = true;
  Judge picked = pick(subject("ticket"), {label("bug", text("a defect")), label("café", text("coffee")),
                                           escape_label("other")});
  const std::vector<TextCase> cases = {
      {"no results: the name alone", {}, ""},
      {"each", {result("keep", each)}, RS + "result" + US + "keep" + US + "each" + US + "feels"},
      {"pick marks the escape label, names written raw",
       {result("kind", picked)},
       RS + "result" + US + "kind" + US + "one" + US + "pick" + US + "bug." + US + "café." + US + "other!"},
      {"rate with unnamed levels writes their positions",
       {result("tone", rate_levels({std::nullopt, std::nullopt, std::nullopt}))},
       RS + "result" + US + "tone" + US + "one" + US + "rate" + US + "0" + US + "1" + US + "2"},
      {"rate mixing named and unnamed levels",
       {result("tone", rate_levels({"calm", std::nullopt, "angry"}))},
       RS + "result" + US + "tone" + US + "one" + US + "rate" + US + "calm" + US + "1" + US + "angry"},
      {"pick among without by, none not allowed",
       {result("best", pick_among_judge(std::nullopt, false))},
       RS + "result" + US + "best" + US + "one" + US + "pick_among" + US + "required"},
      {"pick among by a field, none allowed: no separator before the word",
       {result("best", pick_among_judge("title", true))},
       RS + "result" + US + "best" + US + "one" + US + "pick_among" + US + "titlenone"},
      {"results in order",
       {result("a", feels_judge("x")), result("b", feels_judge("y"))},
       RS + "result" + US + "a" + US + "one" + US + "feels" + RS + "result" + US + "b" + US + "one" + US + "feels"},
  };
  for (const TextCase& c : cases) {
    std::string expected = "judgment" + US + "j" + c.tail;
    EXPECT_EQ(judgment_shape_text("j", c.results), expected) << c.what;
    EXPECT_EQ(judgment_shape_hash("j", c.results), shape_hash_of_text(expected)) << c.what;
  }
}

struct Mutation {
  const char* what;
  std::function<void(std::string&, std::vector<JudgmentResult>&)> apply;
  bool changes;
};

TEST(JudgmentShapeHash, ChangesWithTheQuestionsAndAnswersOnly) {
  Judge picked = pick(subject("ticket"), {label("bug", text("a defect")), label("feature", text("a wish")),
                                           escape_label("other")});
  const std::vector<JudgmentResult> base = {result("urgent", feels_judge("ticket")), result("kind", picked),
                                            result("tone", rate_levels({"calm", "tense", "angry"}))};
  auto verb = [](std::vector<JudgmentResult>& rs, std::size_t i) -> JudgeVerb::Node& {
    return rs[i].question.verb.node;
  };
  auto labels = [&](std::vector<JudgmentResult>& rs) -> std::vector<PickLabel>& {
    return std::get<JudgeVerb::Pick>(verb(rs, 1)).labels;
  };
  auto levels = [&](std::vector<JudgmentResult>& rs) -> std::vector<RateLevel>& {
    return std::get<JudgeVerb::Rate>(verb(rs, 2)).levels;
  };
  const std::vector<Mutation> mutations = {
      {"a feels condition",
       [&](auto&, auto& rs) { std::get<JudgeVerb::Feels>(verb(rs, 0)).condition = text("is late"); }, false},
      {"a label description", [&](auto&, auto& rs) { labels(rs)[0].description = text("broken"); }, false},
      {"a level situation", [&](auto&, auto& rs) { levels(rs)[1].situation = text("on edge"); }, false},
      {"a subject", [](auto&, auto& rs) { rs[0].question.subject = subject("mail"); }, false},
      {"details", [](auto&, auto& rs) { rs[1].question.detail = Detail{std::nullopt, text("n"), {}, {}, {}, true}; },
       false},
      {"request groups and spans", [](auto&, auto& rs) {
         rs[0].question.request_group = 7;
         rs[2].span = at(40);
       }, false},
      {"renaming the judgment", [](auto& n, auto&) { n = "triage2"; }, true},
      {"renaming a result", [](auto&, auto& rs) { rs[0].name = "pressing"; }, true},
      {"renaming a label", [&](auto&, auto& rs) { labels(rs)[1].name = "wish"; }, true},
      {"reordering labels", [&](auto&, auto& rs) { std::swap(labels(rs)[0], labels(rs)[1]); }, true},
      {"marking a label as the escape", [&](auto&, auto& rs) { labels(rs)[1].escape = true; }, true},
      {"reordering levels", [&](auto&, auto& rs) { std::swap(levels(rs)[0], levels(rs)[2]); }, true},
      {"unnaming a level", [&](auto&, auto& rs) { levels(rs)[1].name.reset(); }, true},
      {"toggling each", [](auto&, auto& rs) { rs[0].question.each = true; }, true},
      {"reordering results", [](auto&, auto& rs) { std::swap(rs[0], rs[2]); }, true},
      {"dropping a result", [](auto&, auto& rs) { rs.pop_back(); }, true},
  };
  const std::string base_hash = judgment_shape_hash("triage", base);
  ASSERT_TRUE(is_shape_hash(base_hash)) << base_hash;
  for (const Mutation& m : mutations) {
    std::string n = "triage";
    std::vector<JudgmentResult> rs = base;
    m.apply(n, rs);
    std::string h = judgment_shape_hash(n, rs);
    EXPECT_TRUE(is_shape_hash(h)) << m.what << ": " << h;
    EXPECT_EQ(h != base_hash, m.changes) << m.what;
  }
}

TEST(MachineShapeHash, ChangesWithStatesAndEventsOnly) {
  auto go = [](std::string event, std::string target) {
    return transition(std::move(event), text("described"), std::move(target), std::nullopt, {});
  };
  const std::vector<MachineState> base = {
      state("draft", false, {go("submit", "review"), go("drop", "gone")}),
      state("review", false, {go("approve", "gone")}),
      state("gone", true),
  };
  const std::string base_hash = machine_shape_hash("flow", base);
  ASSERT_TRUE(is_shape_hash(base_hash)) << base_hash;

  // A state without transitions adds only its opener, its name and its done mark.
  EXPECT_EQ(machine_shape_text("m", {state("idle", false)}), "machine" + US + "m" + RS + "state" + US + "idle.");
  EXPECT_EQ(machine_shape_text("m", {}), "machine" + US + "m");

  struct Edit {
    const char* what;
    std::function<void(std::vector<MachineState>&)> apply;
    bool changes;
  };
  const std::vector<Edit> edits = {
      {"a guard", [](auto& s) { s[0].transitions[0].when = name("ready"); }, false},
      {"a transition description", [](auto& s) { s[0].transitions[0].description = text("send it on"); }, false},
      {"a transition body", [](auto& s) { s[1].transitions[0].body.push_back(brk()); }, false},
      {"a span", [](auto& s) { s[2].span = at(50); }, false},
      {"marking a transition risky", [](auto& s) { s[0].transitions[1].risky = true; }, true},
      {"marking a state done", [](auto& s) { s[1].done = true; }, true},
      {"retargeting a transition", [](auto& s) { s[0].transitions[0].target = "gone"; }, true},
      {"renaming an event", [](auto& s) { s[0].transitions[0].event = "send"; }, true},
      {"reordering transitions", [](auto& s) { std::swap(s[0].transitions[0], s[0].transitions[1]); }, true},
      {"reordering states", [](auto& s) { std::swap(s[1], s[2]); }, true},
      {"renaming a state", [](auto& s) { s[2].name = "done"; }, true},
  };
  for (const Edit& e : edits) {
    std::vector<MachineState> s = base;
    e.apply(s);
    EXPECT_EQ(machine_shape_hash("flow", s) != base_hash, e.changes) << e.what;
  }
  EXPECT_NE(machine_shape_hash("flow2", base), base_hash);
}

}  // namespace
}  // namespace dravelin::compiler
