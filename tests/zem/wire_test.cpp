#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/reader.h"
#include "json/writer.h"
#include "zem/wire.h"

namespace dravelin::zem {
namespace {

// Document order and repeated keys kept, as a reply is first read.
json::Value parse_json(const std::string& text) {
  auto value = json::parse(text);
  EXPECT_TRUE(value.ok()) << text;
  return value.ok() ? std::move(value).value() : json::Value();
}

std::string compact_json(const json::Value& value) { return json::to_compact(value); }

Question noul_question(std::string id, std::optional<Instruction> instruction = std::nullopt) {
  return Question::Noul{std::move(id), "ticket.body", "sounds urgent", std::move(instruction)};
}

Question choice_question(std::string id, std::vector<ChoiceLabel> labels, std::optional<std::string> text = std::nullopt) {
  return Question::Choice{std::move(id), "ticket", std::move(text), std::move(labels), std::nullopt};
}

Question score_question(std::string id, std::vector<ScoreLevel> levels) {
  return Question::Score{std::move(id), "items[0]", std::move(levels), std::nullopt};
}

std::vector<ScoreLevel> three_levels(bool named = true) {
  return {{named ? std::optional<std::string>("low") : std::nullopt, "barely"},
          {"mid", "somewhat"},
          {"high", "very"}};
}

RequestGroup group_of(std::vector<Question> questions) {
  RequestGroup group;
  group.model = "zem-1.13.0";
  group.questions = std::move(questions);
  return group;
}

// ---- request body ----

TEST(RequestBody, WholeBodyWithSortedKeys) {
  Instruction instruction;
  instruction.focus = "the tone";
  instruction.note = "be strict";
  instruction.compare = {"ticket.title"};
  instruction.yes = {"help!"};
  ChoiceLabel bug{"bug", "a defect", std::nullopt, std::nullopt, {"crash"}};
  RequestGroup group = group_of({noul_question("tone", instruction), choice_question("kind", {bug, ChoiceLabel::make("other", "anything else")}),
                                 score_question("grade", three_levels())});
  group.state.set("ticket", json::Object{{"body", "Server down"}});
  group.state.set("items", json::Array{"a"});

  // The questions go in id order (grade, kind, tone), every object's keys sorted; yes examples only as criteria.
  EXPECT_EQ(write_request_body(group),
            R"({"model":"zem-1.13.0","questions":{)"
            R"("grade":{"criteria":["barely","somewhat","very"],"instructions":{"inspect":"items[0]",)"
            R"("question":"Which level describes `items[0]`?"},"type":"score"},)"
            R"("kind":{"criteria":{"bug":{"examples":["crash"],"what":"a defect"},"other":"anything else"},)"
            R"("instructions":{"inspect":"ticket","question":"Which option describes `ticket`?"},"type":"choice"},)"
            R"("tone":{"criteria":{"true":{"examples":["help!"]}},"instructions":{"compare":["ticket.title"],)"
            R"("focus":"the tone","inspect":"ticket.body","note":"be strict",)"
            R"("question":"Is it the case that `ticket.body` sounds urgent?"},"type":"noul"}},)"
            R"("state":{"items":["a"],"ticket":{"body":"Server down"}}})");
  EXPECT_EQ(compact_json(build_request_body(group)), write_request_body(group));
}

TEST(RequestBody, RepeatedIdSendsTheLaterPayload) {
  const RequestGroup group = group_of({noul_question("x"), choice_question("x", {}, "Which one?")});
  EXPECT_EQ(write_request_body(group),
            R"({"model":"zem-1.13.0","questions":{"x":{"criteria":{},"instructions":{"inspect":"ticket",)"
            R"("question":"Which one?"},"type":"choice"}},"state":{}})");
}

TEST(RequestBody, NoulCriteriaFromExamples) {
  struct Case {
    const char* name;
    std::optional<Instruction> instruction;
    std::optional<std::string> criteria;  // none: no "criteria" key
  };
  Instruction empty_lists;
  empty_lists.focus = "x";
  Instruction yes_only;
  yes_only.yes = {"a", "b"};
  Instruction no_only;
  no_only.no = {"c"};
  Instruction both;
  both.yes = {"a"};
  both.no = {"c"};
  const std::vector<Case> cases = {
      {"no instruction", std::nullopt, std::nullopt},
      {"instruction without examples", empty_lists, std::nullopt},
      {"yes only", yes_only, R"({"true":{"examples":["a","b"]}})"},
      {"no only", no_only, R"({"false":{"examples":["c"]}})"},
      {"both", both, R"({"false":{"examples":["c"]},"true":{"examples":["a"]}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const json::Value payload = question_payload(noul_question("q", c.instruction));
    const json::Value* criteria = payload.find("criteria");
    if (c.criteria) {
      ASSERT_NE(criteria, nullptr);
      EXPECT_EQ(compact_json(*criteria), *c.criteria);
    } else {
      EXPECT_EQ(criteria, nullptr);
    }
    // Examples never travel in the instructions.
    EXPECT_EQ(payload.find("instructions")->find("yes"), nullptr);
    EXPECT_EQ(payload.find("instructions")->find("no"), nullptr);
  }
}

TEST(RequestBody, LabelCriterion) {
  struct Case {
    const char* name;
    ChoiceLabel label;
    const char* criterion;
  };
  const std::vector<Case> cases = {
      {"description only is a plain string", ChoiceLabel::make("a", "first"), R"("first")"},
      {"name only", ChoiceLabel::make("a", std::nullopt), R"("none of the other options fits")"},
      {"description and examples", {"a", "first", std::nullopt, std::nullopt, {"x", "y"}},
       R"({"examples":["x","y"],"what":"first"})"},
      {"what wins over description", {"a", "first", "the what", std::nullopt, {}}, R"({"what":"the what"})"},
      {"not_for without what or description", {"a", std::nullopt, std::nullopt, "never", {}},
       R"({"not_for":"never"})"},
      {"everything", {"a", "first", "the what", "never", {"x"}},
       R"({"examples":["x"],"not_for":"never","what":"the what"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compact_json(label_criterion(c.label)), c.criterion);
  }
}

TEST(RequestBody, ChoiceAndScorePayloads) {
  // Of two labels with one name the later criterion stays; no labels give an empty criteria object.
  EXPECT_EQ(compact_json(question_payload(choice_question("k", {ChoiceLabel::make("a", "one"), ChoiceLabel::make("a", "two")}))),
            R"({"criteria":{"a":"two"},"instructions":{"inspect":"ticket",)"
            R"("question":"Which option describes `ticket`?"},"type":"choice"})");
  // Level names are not sent; an unnamed level is sent the same way.
  EXPECT_EQ(compact_json(question_payload(score_question("g", three_levels(false)))),
            R"({"criteria":["barely","somewhat","very"],"instructions":{"inspect":"items[0]",)"
            R"("question":"Which level describes `items[0]`?"},"type":"score"})");
  EXPECT_EQ(compact_json(question_payload(score_question("g", {}))),
            R"({"criteria":[],"instructions":{"inspect":"items[0]",)"
            R"("question":"Which level describes `items[0]`?"},"type":"score"})");
}

// ---- replies ----

TEST(ParseResponse, AnswersInTheGroupsOrder) {
  const RequestGroup group = group_of({noul_question("b"), choice_question("a", {}), score_question("c", three_levels())});
  auto parsed = parse_response(parse_json(R"({"answers":{
      "a":{"choice":"bug","probabilities":{"bug":0.9,"other":0.1},"confidence":0.3},
      "b":{"noul":0.25},
      "c":{"score":1.2,"probabilities":{"0":0.1,"1":0.7,"2":0.2}},
      "unasked":{"noul":1}},
    "usage":{"input_tokens":1200,"output_tokens":300}})"),
                                 group);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  const std::vector<ZemAnswer> expected = {
      ZemAnswer::Noul{"b", 0.25},
      ZemAnswer::Choice{"a", "bug", 0.3, {{"bug", 0.9}, {"other", 0.1}}},
      ZemAnswer::Score{"c", 1, 1.2, (0.7 * 3 - 1) / 2, {{"high", 0.2}, {"low", 0.1}, {"mid", 0.7}}},
  };
  EXPECT_EQ(parsed->answers, expected);
  EXPECT_EQ(parsed->tokens, 1500u);
}

TEST(ParseResponse, Faults) {
  struct Case {
    const char* name;
    Question question;
    const char* reply;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"reply is no object", noul_question("t"), R"([1])", "the response has no `answers` object"},
      {"answers missing", noul_question("t"), R"({"usage":{}})", "the response has no `answers` object"},
      {"answers not an object", noul_question("t"), R"({"answers":[]})", "the response has no `answers` object"},
      {"answer missing", noul_question("t"), R"({"answers":{"u":{"noul":1}}})", "the response has no answer for `t`"},
      {"noul not a number", noul_question("t"), R"({"answers":{"t":{"noul":"0.5"}}})", "answer `t` has no numeric `noul`"},
      {"noul missing", noul_question("t"), R"({"answers":{"t":{}}})", "answer `t` has no numeric `noul`"},
      {"answer not an object", noul_question("t"), R"({"answers":{"t":0.5}})", "answer `t` has no numeric `noul`"},
      {"choice without probabilities", choice_question("k", {}), R"({"answers":{"k":{"choice":"a"}}})",
       "answer `k` has no `probabilities`"},
      {"probabilities checked before the label", choice_question("k", {}),
       R"({"answers":{"k":{"probabilities":{"b":"x","a":null}}}})", "answer `k` probability `a` is not a number"},
      {"choice label missing", choice_question("k", {}), R"({"answers":{"k":{"probabilities":{}}}})",
       "answer `k` has no `choice`"},
      {"choice label not a string", choice_question("k", {}), R"({"answers":{"k":{"probabilities":{},"choice":1}}})",
       "answer `k` has no `choice`"},
      {"score missing", score_question("g", three_levels()), R"({"answers":{"g":{"probabilities":{}}}})",
       "answer `g` has no numeric `score`"},
      {"score probabilities not an object", score_question("g", three_levels()),
       R"({"answers":{"g":{"score":1,"probabilities":[]}}})", "answer `g` has no `probabilities`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto parsed = parse_response(parse_json(c.reply), group_of({c.question}));
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error(), c.message);
  }
}

TEST(ParseResponse, RepeatedProbabilityKeyKeepsItsLastValue) {
  const RequestGroup group = group_of({choice_question("k", {})});
  auto fixed = parse_response(parse_json(R"({"answers":{"k":{"choice":"a","probabilities":{"a":"x","a":0.5}}}})"), group);
  ASSERT_TRUE(fixed.ok()) << fixed.error();
  EXPECT_EQ(std::get<ZemAnswer::Choice>(fixed->answers[0].data).probabilities, (Probabilities{{"a", 0.5}}));
  auto broken = parse_response(parse_json(R"({"answers":{"k":{"choice":"a","probabilities":{"a":0.5,"a":"x"}}}})"), group);
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.error(), "answer `k` probability `a` is not a number");
}

TEST(ParseResponse, ScoreLevelFromScore) {
  struct Case {
    const char* name;
    size_t levels;
    double score;
    uint32_t level;
  };
  const std::vector<Case> cases = {
      {"half rounds up", 3, 1.5, 2},         {"half away from zero", 3, 0.5, 1},
      {"below zero", 3, -0.4, 0},            {"negative half", 3, -0.5, 0},
      {"above the top", 3, 7.0, 2},          {"far above the top", 3, 1e300, 2},
      {"no levels", 0, 2.0, 0},              {"one level", 1, 0.9, 0},
      {"just under a half", 3, 1.49999, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ScoreLevel> levels(c.levels, ScoreLevel{std::nullopt, "s"});
    json::Object answer{{"score", c.score}, {"probabilities", json::Object{}}};
    json::Value reply(json::Object{{"answers", json::Object{{"g", json::Value(std::move(answer))}}}});
    auto parsed = parse_response(reply, group_of({score_question("g", levels)}));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const auto& got = std::get<ZemAnswer::Score>(parsed->answers[0].data);
    EXPECT_EQ(got.level, c.level);
    EXPECT_EQ(got.score, c.score);  // kept as given
  }
}

TEST(ParseResponse, LevelNamesReplaceIndexKeys) {
  struct Case {
    const char* name;
    std::vector<ScoreLevel> levels;
    const char* probabilities;
    Probabilities expected;
  };
  const std::vector<Case> cases = {
      {"named levels", three_levels(), R"({"0":0.2,"2":0.7,"x":0.1})", {{"high", 0.7}, {"low", 0.2}, {"x", 0.1}}},
      {"one level unnamed", three_levels(false), R"({"0":0.2,"2":0.7,"x":0.1})",
       {{"0", 0.2}, {"2", 0.7}, {"x", 0.1}}},
      {"plus sign and leading zeros", three_levels(), R"({"+1":0.3,"002":0.6})", {{"high", 0.6}, {"mid", 0.3}}},
      {"out of range and overflowing indexes stay", three_levels(), R"({"3":0.1,"99999999999999999999":0.2})",
       {{"3", 0.1}, {"99999999999999999999", 0.2}}},
      {"not an index", three_levels(), R"({"+":0.1,"1.0":0.2,"-1":0.3})", {{"+", 0.1}, {"-1", 0.3}, {"1.0", 0.2}}},
      // "0" and "low" meet: "low" sorts later, so its entry stays.
      {"renamed key meets a given one", three_levels(), R"({"low":0.9,"0":0.1})", {{"low", 0.9}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string reply = std::string(R"({"answers":{"g":{"score":0,"probabilities":)") + c.probabilities + "}}}";
    auto parsed = parse_response(parse_json(reply), group_of({score_question("g", c.levels)}));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(std::get<ZemAnswer::Score>(parsed->answers[0].data).probabilities, c.expected);
  }
}

TEST(ParseResponse, ConfidenceGivenOrDerived) {
  struct Case {
    const char* name;
    const char* fields;
    double confidence;
  };
  const std::vector<Case> cases = {
      {"uniform", R"("probabilities":{"a":0.5,"b":0.5})", 0.0},
      {"certain", R"("probabilities":{"a":1.0,"b":0.0})", 1.0},
      {"leaning", R"("probabilities":{"a":0.6,"b":0.4})", 0.6 * 2 - 1},
      {"single entry", R"("probabilities":{"a":0.2})", 1.0},
      {"empty", R"("probabilities":{})", 0.0},
      {"all negative", R"("probabilities":{"a":-1,"b":-2})", 0.0},
      {"over one is limited", R"("probabilities":{"a":3,"b":0})", 1.0},
      {"given", R"("probabilities":{"a":0.9},"confidence":0.3)", 0.3},
      {"given is not limited", R"("probabilities":{"a":0.9},"confidence":1.7)", 1.7},
      {"given but not a number", R"("probabilities":{"a":0.5,"b":0.5},"confidence":"high")", 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string reply = std::string(R"({"answers":{"k":{"choice":"a",)") + c.fields + "}}}";
    auto parsed = parse_response(parse_json(reply), group_of({choice_question("k", {})}));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_DOUBLE_EQ(std::get<ZemAnswer::Choice>(parsed->answers[0].data).confidence, c.confidence);
  }
}

TEST(ParseResponse, TokensFromUsage) {
  struct Case {
    const char* name;
    const char* usage;  // the reply's "usage" member, or none
    std::optional<uint64_t> tokens;
  };
  const std::vector<Case> cases = {
      {"input only", R"({"input_tokens":100})", 100},
      {"negative output is ignored", R"({"input_tokens":100,"output_tokens":-5})", 100},
      {"fraction counts as absent", R"({"input_tokens":10.5})", std::nullopt},
      {"exponent counts as absent", R"({"input_tokens":1e2,"output_tokens":7})", 7},
      {"text counts as absent", R"({"input_tokens":"100"})", std::nullopt},
      {"both", R"({"input_tokens":1200,"output_tokens":300})", 1500},
      {"zero", R"({"output_tokens":0})", 0},
      {"usage not an object", R"([100])", std::nullopt},
      {"no usage", nullptr, std::nullopt},
      {"sum past the range stays at the top", R"({"input_tokens":18446744073709551615,"output_tokens":2})",
       std::numeric_limits<uint64_t>::max()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string reply = R"({"answers":{})";
    if (c.usage != nullptr) reply += std::string(R"(,"usage":)") + c.usage;
    reply += "}";
    auto parsed = parse_response(parse_json(reply), group_of({}));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(parsed->tokens, c.tokens);
  }
}

// ---- error texts ----

TEST(HttpErrorMessage, TextFromTheBody) {
  struct Case {
    const char* name;
    uint16_t status;
    std::string body;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"error object with message", 429, R"({"error":{"message":"quota"}})", "HTTP 429: quota"},
      {"null message, number detail", 400, R"({"message":null,"detail":42})", "HTTP 400: 42"},
      {"blanks around plain text", 502, "  bad gateway \n", "HTTP 502: bad gateway"},
      {"error string", 429, R"({"error":"slow down"})", "HTTP 429: slow down"},
      {"message before detail and error", 500, R"({"error":"c","detail":"b","message":"a"})", "HTTP 500: a"},
      {"empty message string counts", 500, R"({"message":"","detail":"b"})", "HTTP 500: "},
      {"array detail as compact JSON", 400, R"({"detail":[1, "x"]})", R"(HTTP 400: [1,"x"])"},
      {"boolean error", 400, R"({"error":false})", "HTTP 400: false"},
      {"object without message yields nothing", 400, R"( {"error":{"code":5}} )", R"(HTTP 400: {"error":{"code":5}})"},
      {"non-object JSON is plain text", 400, R"( ["message"] )", R"(HTTP 400: ["message"])"},
      {"empty body", 503, "", "HTTP 503: "},
      {"unicode white space trimmed", 404, "\xC2\xA0\xE3\x80\x80<h1>Not Found</h1>\xE2\x80\xA8\t",
       "HTTP 404: <h1>Not Found</h1>"},
      {"invalid UTF-8 replaced", 400, "a\xFF" "b", "HTTP 400: a\xEF\xBF\xBD" "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(http_error_message(c.status, c.body), c.message);
  }
}

TEST(DecodeUtf8Lossy, EachIllFormedSubsequenceBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"well-formed", "a\xC3\xA9\xF0\x9F\x98\x80", "a\xC3\xA9\xF0\x9F\x98\x80"},
      {"lone continuation", "a\x80z", "a" + r + "z"},
      {"truncated three-byte sequence", "\xE2\x82", r},
      {"truncated sequence before ASCII", "\xE2\x82" "A", r + "A"},
      {"overlong lead", "\xC0\xAF", r + r},
      {"encoded surrogate", "\xED\xA0\x80", r + r + r},
      {"past U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"truncated four-byte sequence at the end", "x\xF0\x9F\x98", "x" + r},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_utf8_lossy(c.bytes), c.text);
  }
}

}  // namespace
}  // namespace dravelin::zem
