#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/reader.h"
#include "json/writer.h"
#include "zem/answer.h"
#include "zem/question.h"

namespace dravelin::zem {
namespace {

json::Value parse(const std::string& text) {
  auto value = json::parse(text);
  EXPECT_TRUE(value.ok()) << text;
  return value.ok() ? std::move(value).value() : json::Value();
}

template <class T>
std::string compact(const T& record) {
  std::string out;
  record.write_json(out);
  return out;
}

Instruction full_instruction() {
  Instruction instruction;
  instruction.focus = "the tone";
  instruction.note = "be strict";
  instruction.compare = {"ticket.title"};
  instruction.yes = {"help!"};
  instruction.no = {"thanks", "ok"};
  return instruction;
}

ChoiceLabel full_label() {
  ChoiceLabel label;
  label.name = "bug";
  label.description = "a defect";
  label.what = "broken behaviour";
  label.not_for = "feature requests";
  label.examples = {"crash on start"};
  return label;
}

// ---- writing ----

TEST(QuestionWrite, KeysInDeclaredOrderWithOmissions) {
  struct Case {
    const char* name;
    Question question;
    const char* json;
  };
  ScoreLevel unnamed{std::nullopt, "meh"};
  ScoreLevel named{"good", "fine work"};
  const std::vector<Case> cases = {
      {"noul without instruction", Question::Noul{"tone", "ticket.body", "sounds \"urgent\"", std::nullopt},
       R"({"type":"noul","id":"tone","path":"ticket.body","condition":"sounds \"urgent\""})"},
      {"noul with empty instruction", Question::Noul{"a", "x", "c", Instruction{}},
       R"({"type":"noul","id":"a","path":"x","condition":"c","instruction":{}})"},
      {"noul with full instruction", Question::Noul{"a", "x", "c", full_instruction()},
       R"({"type":"noul","id":"a","path":"x","condition":"c","instruction":{"focus":"the tone",)"
       R"("note":"be strict","compare":["ticket.title"],"yes":["help!"],"no":["thanks","ok"]}})"},
      {"choice without text or labels", Question::Choice{"kind", "t", std::nullopt, {}, std::nullopt},
       R"({"type":"choice","id":"kind","path":"t","labels":[]})"},
      {"choice with text and labels",
       Question::Choice{"kind", "t", "Which?", {full_label(), ChoiceLabel::make("other", std::nullopt)},
                        std::nullopt},
       R"({"type":"choice","id":"kind","path":"t","question":"Which?","labels":[{"name":"bug",)"
       R"("description":"a defect","what":"broken behaviour","not_for":"feature requests",)"
       R"("examples":["crash on start"]},{"name":"other"}]})"},
      {"score", Question::Score{"g[0]", "items[0]", {unnamed, named}, std::nullopt},
       R"({"type":"score","id":"g[0]","path":"items[0]","levels":[{"situation":"meh"},)"
       R"({"name":"good","situation":"fine work"}]})"},
      {"score without levels", Question::Score{"g", "items", {}, Instruction{}},
       R"({"type":"score","id":"g","path":"items","levels":[],"instruction":{}})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compact(c.question), c.json) << c.name;
    auto back = Question::from_content(parse(c.json));
    ASSERT_TRUE(back.ok()) << c.name << ": " << back.error();
    EXPECT_EQ(*back, c.question) << c.name;
  }
}

TEST(QuestionWrite, NestedInAnEnclosingRecord) {
  std::string line;
  json::Writer w(line);
  w.begin_object().field_string("kind", "request").key("questions").begin_array();
  Question(Question::Noul{"a", "x", "c", std::nullopt}).write_json(w);
  Question(Question::Noul{"b", "y", "d", std::nullopt}).write_json(w);
  w.end_array().end_object();
  EXPECT_EQ(line,
            R"({"kind":"request","questions":[{"type":"noul","id":"a","path":"x","condition":"c"},)"
            R"({"type":"noul","id":"b","path":"y","condition":"d"}]})");
}

TEST(AnswerWrite, KeysInDeclaredOrderAndNumberForms) {
  struct Case {
    const char* name;
    ZemAnswer answer;
    const char* json;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"noul whole number keeps its fraction", ZemAnswer::Noul{"tone", 1.0},
       R"({"type":"noul","id":"tone","prob":1.0})"},
      {"choice probabilities in key order",
       ZemAnswer::Choice{"kind", "bug", 0.75, {{"other", 0.25}, {"bug", 0.75}, {"Zeta", 0.0}}},
       R"({"type":"choice","id":"kind","label":"bug","confidence":0.75,)"
       R"("probabilities":{"Zeta":0.0,"bug":0.75,"other":0.25}})"},
      {"score", ZemAnswer::Score{"g[1]", 2, 2.4, 0.1, {}},
       R"({"type":"score","id":"g[1]","level":2,"score":2.4,"confidence":0.1,"probabilities":{}})"},
      {"not finite numbers as null", ZemAnswer::Choice{"k", "a", nan, {{"a", INFINITY}}},
       R"({"type":"choice","id":"k","label":"a","confidence":null,"probabilities":{"a":null}})"},
  };
  for (const Case& c : cases) EXPECT_EQ(compact(c.answer), c.json) << c.name;
}

TEST(UsageWrite, UsdOnlyWhenKnown) {
  EXPECT_EQ(compact(ZemUsage{120, std::nullopt}), R"({"tokens":120})");
  EXPECT_EQ(compact(ZemUsage{0, 0.0}), R"({"tokens":0,"usd":0.0})");
  EXPECT_EQ(compact(ZemUsage{18446744073709551615ull, 5e-6}), R"({"tokens":18446744073709551615,"usd":5e-6})");
  EXPECT_EQ(compact(ZemUsage{1, std::numeric_limits<double>::quiet_NaN()}), R"({"tokens":1,"usd":null})");
}

TEST(RecordValueForm, KeysInByteOrder) {
  ZemAnswer choice = ZemAnswer::Choice{"kind", "bug", 0.5, {{"bug", 0.5}}};
  EXPECT_EQ(json::to_compact(choice.to_json_value()),
            R"({"confidence":0.5,"id":"kind","label":"bug","probabilities":{"bug":0.5},"type":"choice"})");
  Question noul = Question::Noul{"a", "x", "c", full_instruction()};
  EXPECT_EQ(json::to_compact(noul.to_json_value()),
            R"({"condition":"c","id":"a","instruction":{"compare":["ticket.title"],"focus":"the tone",)"
            R"("no":["thanks","ok"],"note":"be strict","yes":["help!"]},"path":"x","type":"noul"})");
  EXPECT_EQ(json::to_compact(ZemUsage{3, 0.5}.to_json_value()), R"({"tokens":3,"usd":0.5})");
}

// ---- reading ----

TEST(QuestionRead, AcceptedForms) {
  struct Case {
    const char* name;
    const char* json;
    Question expected;
  };
  const std::vector<Case> cases = {
      {"tag last", R"({"id":"a","path":"x","condition":"c","type":"noul"})",
       Question::Noul{"a", "x", "c", std::nullopt}},
      {"tag as index", R"({"type":1,"id":"k","path":"t","labels":[]})",
       Question::Choice{"k", "t", std::nullopt, {}, std::nullopt}},
      {"unknown keys skipped whatever they hold",
       R"({"type":"noul","extra":{"deep":[1,{"x":null}]},"id":"a","more":[1,2],"path":"x","condition":"c"})",
       Question::Noul{"a", "x", "c", std::nullopt}},
      {"null optionals read as absent",
       R"({"type":"choice","id":"k","path":"t","question":null,"labels":[],"instruction":null})",
       Question::Choice{"k", "t", std::nullopt, {}, std::nullopt}},
      {"positional form ending after the required values", R"(["choice","k","t",null,[["bug","a defect"]]])",
       Question::Choice{"k", "t", std::nullopt, {ChoiceLabel::make("bug", "a defect")}, std::nullopt}},
      {"positional form with every value", R"(["score","g","p",[[null,"meh"]],[null,null,[],[],["no"]]])",
       Question::Score{"g", "p", {ScoreLevel{std::nullopt, "meh"}}, Instruction{{}, {}, {}, {}, {"no"}}}},
      {"positional tag as index", R"([0,"a","x","c"])", Question::Noul{"a", "x", "c", std::nullopt}},
  };
  for (const Case& c : cases) {
    auto q = Question::from_content(parse(c.json));
    ASSERT_TRUE(q.ok()) << c.name << ": " << q.error();
    EXPECT_EQ(*q, c.expected) << c.name;
  }
}

TEST(QuestionRead, Refusals) {
  struct Case {
    const char* json;
    const char* message;
  };
  const std::vector<Case> cases = {
      {R"({"id":"a","path":"x","condition":"c"})", "missing field `type`"},
      {R"({"type":"noul","type":"noul","id":"a","path":"x","condition":"c"})", "duplicate field `type`"},
      {R"({"type":"Noul","id":"a"})", "unknown variant `Noul`, expected one of `noul`, `choice`, `score`"},
      {R"({"type":3})", "invalid value: integer `3`, expected variant index 0 <= i < 3"},
      {R"({"type":-1})", "invalid type: integer `-1`, expected variant identifier"},
      {R"({"type":1.0})", "invalid type: floating point `1.0`, expected variant identifier"},
      {R"({"type":null})", "invalid type: null, expected variant identifier"},
      {R"({"type":"noul","condition":"c"})", "missing field `id`"},
      {R"({"type":"choice","id":"a","path":"x"})", "missing field `labels`"},
      {R"({"type":"noul","id":"a","id":"b","path":"x","condition":"c"})", "duplicate field `id`"},
      {R"({"type":"noul","id":5,"path":"x","condition":"c"})", "invalid type: integer `5`, expected a string"},
      {R"({"type":"choice","id":"a","path":"x","labels":null})", "invalid type: null, expected a sequence"},
      {R"({"type":"choice","id":"a","path":"x","labels":["bug"]})",
       "invalid type: string \"bug\", expected struct ChoiceLabel"},
      {R"({"type":"choice","id":"a","path":"x","labels":[{"description":"d"}]})", "missing field `name`"},
      {R"({"type":"score","id":"a","path":"x","levels":[{"name":"n"}]})", "missing field `situation`"},
      {R"({"type":"noul","id":"a","path":"x","condition":"c","instruction":{"yes":null}})",
       "invalid type: null, expected a sequence"},
      {R"({"type":"noul","id":"a","path":"x","condition":"c","instruction":"focus"})",
       "invalid type: string \"focus\", expected struct Instruction"},
      {R"("noul")", "invalid type: string \"noul\", expected internally tagged enum Question"},
      {R"([])", "missing field `type`"},
      {R"(["noul","a","x"])", "invalid length 2, expected struct variant Question::Noul with 4 elements"},
      {R"(["choice","a","x",null])", "invalid length 3, expected struct variant Question::Choice with 5 elements"},
      {R"(["score","a","x",[],null,7])", "invalid length 5, expected 4 elements in sequence"},
      {R"(["choice","a","x",null,[[]]])", "invalid length 0, expected struct ChoiceLabel with 5 elements"},
      {R"(["score","a","x",[[null]]])", "invalid length 1, expected struct ScoreLevel with 2 elements"},
  };
  for (const Case& c : cases) {
    auto q = Question::from_content(parse(c.json));
    ASSERT_FALSE(q.ok()) << c.json;
    EXPECT_EQ(q.error(), c.message) << c.json;
  }
}

TEST(AnswerRead, AcceptedForms) {
  struct Case {
    const char* json;
    ZemAnswer expected;
  };
  const std::vector<Case> cases = {
      {R"({"id":"t","prob":1,"type":"noul"})", ZemAnswer::Noul{"t", 1.0}},
      {R"({"type":"score","id":"g","level":4294967295,"score":-2,"confidence":0.5,"probabilities":{}})",
       ZemAnswer::Score{"g", 4294967295u, -2.0, 0.5, {}}},
      {R"({"type":"choice","id":"k","label":"a","confidence":1,"probabilities":{"b":0.1,"a":0.2,"b":0.7}})",
       ZemAnswer::Choice{"k", "a", 1.0, {{"a", 0.2}, {"b", 0.7}}}},
      {R"(["noul","t",0.25])", ZemAnswer::Noul{"t", 0.25}},
  };
  for (const Case& c : cases) {
    auto a = ZemAnswer::from_content(parse(c.json));
    ASSERT_TRUE(a.ok()) << c.json << ": " << a.error();
    EXPECT_EQ(*a, c.expected) << c.json;
  }
}

TEST(AnswerRead, Refusals) {
  struct Case {
    const char* json;
    const char* message;
  };
  const std::vector<Case> cases = {
      {R"({"type":"score","id":"g","level":2.0,"score":1,"confidence":1,"probabilities":{}})",
       "invalid type: floating point `2.0`, expected u32"},
      {R"({"type":"score","id":"g","level":-1,"score":1,"confidence":1,"probabilities":{}})",
       "invalid value: integer `-1`, expected u32"},
      {R"({"type":"score","id":"g","level":4294967296,"score":1,"confidence":1,"probabilities":{}})",
       "invalid value: integer `4294967296`, expected u32"},
      {R"({"type":"choice","id":"k","label":"a","confidence":null,"probabilities":{}})",
       "invalid type: null, expected f64"},
      {R"({"type":"noul","id":"t","prob":"high"})", "invalid type: string \"high\", expected f64"},
      {R"({"type":"choice","id":"k","label":"a","confidence":1,"probabilities":[]})",
       "invalid type: sequence, expected a map"},
      {R"({"type":"choice","id":"k","label":"a","confidence":1,"probabilities":{"a":null}})",
       "invalid type: null, expected f64"},
      {R"({"type":"choice","id":"k","label":"a","confidence":1})", "missing field `probabilities`"},
      {R"({"type":"yes"})", "unknown variant `yes`, expected one of `noul`, `choice`, `score`"},
      {R"(5)", "invalid type: integer `5`, expected internally tagged enum ZemAnswer"},
      {R"(["score","g",1,2.0])", "invalid length 3, expected struct variant ZemAnswer::Score with 5 elements"},
  };
  for (const Case& c : cases) {
    auto a = ZemAnswer::from_content(parse(c.json));
    ASSERT_FALSE(a.ok()) << c.json;
    EXPECT_EQ(a.error(), c.message) << c.json;
  }
}

TEST(UsageRead, TokensRequiredUsdOptional) {
  struct Case {
    const char* json;
    std::optional<ZemUsage> expected;
    const char* message;
  };
  const std::vector<Case> cases = {
      {R"({"tokens":7})", ZemUsage{7, std::nullopt}, ""},
      {R"({"tokens":7,"usd":null})", ZemUsage{7, std::nullopt}, ""},
      {R"({"usd":2,"tokens":18446744073709551615})", ZemUsage{18446744073709551615ull, 2.0}, ""},
      {R"([7,0.5])", ZemUsage{7, 0.5}, ""},
      {R"({"tokens":1.5})", std::nullopt, "invalid type: floating point `1.5`, expected u64"},
      {R"({"tokens":-3})", std::nullopt, "invalid value: integer `-3`, expected u64"},
      {R"({"usd":1})", std::nullopt, "missing field `tokens`"},
      {R"({"tokens":1,"usd":"free"})", std::nullopt, "invalid type: string \"free\", expected f64"},
      {R"([])", std::nullopt, "invalid length 0, expected struct ZemUsage with 2 elements"},
      {R"([1,2,3])", std::nullopt, "invalid length 3, expected 2 elements in sequence"},
      {R"(null)", std::nullopt, "invalid type: null, expected struct ZemUsage"},
  };
  for (const Case& c : cases) {
    auto u = ZemUsage::visit_map(parse(c.json));
    if (c.expected) {
      ASSERT_TRUE(u.ok()) << c.json << ": " << u.error();
      EXPECT_EQ(*u, *c.expected) << c.json;
    } else {
      ASSERT_FALSE(u.ok()) << c.json;
      EXPECT_EQ(u.error(), c.message) << c.json;
    }
  }
}

TEST(RecordRoundTrip, NotFiniteNumbers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // A NaN confidence is recorded as null, which a recording cannot hold as a number.
  auto answer = ZemAnswer::from_content(parse(compact(ZemAnswer(ZemAnswer::Choice{"k", "a", nan, {}}))));
  ASSERT_FALSE(answer.ok());
  EXPECT_EQ(answer.error(), "invalid type: null, expected f64");
  // A NaN cost is recorded as null and reads back as unknown.
  auto usage = ZemUsage::visit_map(parse(compact(ZemUsage{4, nan})));
  ASSERT_TRUE(usage.ok());
  EXPECT_EQ(*usage, (ZemUsage{4, std::nullopt}));
}

// ---- equality ----

TEST(RecordEquality, EveryFieldCounts) {
  Question base = Question::Choice{"k", "t", "Which?", {full_label()}, full_instruction()};
  Question other_text = Question::Choice{"k", "t", std::nullopt, {full_label()}, full_instruction()};
  ChoiceLabel label = full_label();
  label.examples.push_back("another");
  Question other_label = Question::Choice{"k", "t", "Which?", {label}, full_instruction()};
  Instruction instruction = full_instruction();
  instruction.no.pop_back();
  Question other_instruction = Question::Choice{"k", "t", "Which?", {full_label()}, instruction};
  Question no_instruction = Question::Choice{"k", "t", "Which?", {full_label()}, std::nullopt};
  Question empty_instruction = Question::Choice{"k", "t", "Which?", {full_label()}, Instruction{}};
  EXPECT_EQ(base, base);
  EXPECT_NE(base, other_text);
  EXPECT_NE(base, other_label);
  EXPECT_NE(base, other_instruction);
  EXPECT_NE(no_instruction, empty_instruction);
  EXPECT_NE(Question(Question::Noul{"a", "x", "c", std::nullopt}),
            Question(Question::Score{"a", "x", {}, std::nullopt}));

  EXPECT_TRUE(Question::slice_eq({base, no_instruction}, {base, no_instruction}));
  EXPECT_FALSE(Question::slice_eq({base, no_instruction}, {no_instruction, base}));
  EXPECT_FALSE(Question::slice_eq({base}, {base, base}));

  const double nan = std::numeric_limits<double>::quiet_NaN();
  ZemAnswer with_nan = ZemAnswer::Noul{"a", nan};
  EXPECT_NE(with_nan, with_nan);
  EXPECT_FALSE(ZemAnswer::slice_eq({with_nan}, {with_nan}));
  ZemAnswer probs_a = ZemAnswer::Choice{"k", "a", 1.0, {{"a", 0.5}, {"b", 0.5}}};
  ZemAnswer probs_b = ZemAnswer::Choice{"k", "a", 1.0, {{"a", 0.5}, {"c", 0.5}}};
  EXPECT_NE(probs_a, probs_b);
  EXPECT_EQ((ZemUsage{1, std::nullopt}), (ZemUsage{1, std::nullopt}));
  EXPECT_NE((ZemUsage{1, std::nullopt}), (ZemUsage{1, 0.0}));
}

}  // namespace
}  // namespace dravelin::zem
