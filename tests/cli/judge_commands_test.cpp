// `dravelin judge` and `dravelin eval` end to end: the built binary against the local model service.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/local_service.h"
#include "cli/run_program.h"
#include "json/reader.h"
#include "json/writer.h"
#include "support/zem_server.h"

namespace dravelin::cli {
namespace {

using testing::Finished;
using testing::run_program;

constexpr const char* kProgram = R"(program desk

judgment triage(ticket):
  kind = ticket.body pick:
    bug "a defect in something that exists"
    feature "a wish for something new"
    other
  log info "picked" {kind}
  urgent = ticket feels "someone is blocked right now"
  mood = ticket.body rate:
    calm "the reporter writes patiently"
    angry "the reporter is hostile"
)";

// Every request gets the same answers: kind bug, urgent 0.5, mood angry (level 1).
constexpr const char* kScript = R"([{"repeat": 100000, "answers": {
  "kind": {"choice": "bug", "probabilities": {"bug": 0.7, "feature": 0.2, "other": 0.1}},
  "urgent": {"noul": 0.5},
  "mood": {"score": 1, "probabilities": {"0": 0.25, "1": 0.75}}}}])";

class JudgeCommands : public testing::LocalServiceSuite<JudgeCommands> {
 public:
  static std::string service_script() { return kScript; }

 protected:
  void SetUp() override {
    LocalServiceSuite::SetUp();
    program_ = dir_.write("desk.zem", kProgram);
  }

  Finished judge(const std::string& state, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"judge", program_, "triage", "--state", state, "--profiles", profiles_};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_program("dravelin", args);
  }

  Finished eval(const std::string& cases_text) {
    const std::string cases = dir_.write("cases.jsonl", cases_text);
    return run_program("dravelin", {"eval", program_, "triage", "--cases", cases, "--profiles", profiles_});
  }

  std::string program_;
};

json::Value parse_or_fail(const std::string& text) {
  auto parsed = json::parse_json_value(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() ? std::move(parsed).value() : json::Value();
}

TEST_F(JudgeCommands, JudgePrintsTaggedValuesAndLogLines) {
  const Finished done = judge(R"({"ticket": {"body": "it crashes on start"}, "unused": true})");
  ASSERT_EQ(done.status, 0) << done.err;
  const json::Value values = parse_or_fail(done.out);
  ASSERT_TRUE(values.is_object()) << done.out;
  const json::Object& object = values.as_object();
  ASSERT_EQ(object.size(), 3u) << done.out;
  EXPECT_EQ(*object.find("kind")->as_object().find("$zem"), json::Value("choice"));
  EXPECT_EQ(*object.find("kind")->as_object().find("label"), json::Value("bug"));
  EXPECT_EQ(*object.find("urgent"), parse_or_fail(R"({"$zem": "prob", "value": 0.5})"));
  EXPECT_EQ(*object.find("mood")->as_object().find("level"), json::Value(uint64_t{1}));
  // Pretty: two-space indentation, one member per line, a newline at the end.
  EXPECT_EQ(done.out.rfind("{\n  \"kind\": {\n", 0), 0u) << done.out;
  EXPECT_EQ(done.out.back(), '\n');
  EXPECT_EQ(done.err.rfind("log info triage 8:3: picked {\"kind\":{\"$zem\":\"choice\",", 0), 0u) << done.err;
  EXPECT_EQ(std::count(done.err.begin(), done.err.end(), '\n'), 1) << done.err;

  const std::vector<json::Value> seen = server_->requests();
  ASSERT_FALSE(seen.empty());
  const json::Value body = parse_or_fail(seen.back().as_object().find("body")->as_string());
  EXPECT_EQ(body.as_object().find("questions")->as_object().size(), 3u);
}

struct JudgeError {
  std::string name;
  std::string state;
  std::vector<std::string> extra;
  std::string endpoint_query;  // appended to the endpoint: a scripted failure of the service
  bool without_key = false;
  std::string err_contains;
  std::string err_ends_with;
  int total_tokens = 100000;  // of the profile
};

class JudgeErrors : public JudgeCommands, public ::testing::WithParamInterface<JudgeError> {};

TEST_P(JudgeErrors, EndWithStatusOneAndTheirText) {
  const JudgeError& c = GetParam();
  if (c.without_key) env_.unset("VELTRANE_API_KEY");
  const std::string endpoint = server_->url(c.endpoint_query.empty() ? "/v1/quorent" : "/v1/quorent?" + c.endpoint_query);
  profiles_ = dir_.write("failing.json", testing::local_profiles(endpoint, c.total_tokens));
  const size_t asked_before = server_->requests().size();
  const Finished done = judge(c.state, c.extra);
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.out, "");
  EXPECT_NE(done.err.find(c.err_contains), std::string::npos) << done.err;
  ASSERT_GE(done.err.size(), c.err_ends_with.size());
  EXPECT_EQ(done.err.substr(done.err.size() - c.err_ends_with.size()), c.err_ends_with) << done.err;
  const bool reaches_service = !c.endpoint_query.empty();
  EXPECT_EQ(server_->requests().size() > asked_before, reaches_service);
}

const std::string kTicket = R"({"ticket": {"body": "x"}})";

INSTANTIATE_TEST_SUITE_P(
    Cli, JudgeErrors,
    ::testing::Values(
        JudgeError{"state_is_an_array", "[1]", {}, "", false, "",
                   "dravelin: --state is not a JSON object: invalid type: sequence, expected a map at line 1 column 0\n"},
        JudgeError{"state_is_null", "null", {}, "", false, "",
                   "dravelin: --state is not a JSON object: invalid type: null, expected a map at line 1 column 4\n"},
        JudgeError{"text_after_the_state", "{} x", {}, "", false, "",
                   "dravelin: --state is not a JSON object: trailing characters at line 1 column 4\n"},
        JudgeError{"state_lacks_a_parameter", R"({"other": 1})", {}, "", false,
                   "type_error: judgment `triage` needs `ticket` in the state", "dravelin: runtime failed\n"},
        JudgeError{"unknown_model", kTicket, {"--model", "zem-x"}, "", false,
                   "profile_missing: no profile for model `zem-x`; set DRAVELIN_PROFILES or pass `profiles`",
                   "dravelin: runtime failed\n"},
        JudgeError{"no_api_key", kTicket, {}, "", true, "zem_rejected: VELTRANE_API_KEY is not set",
                   "dravelin: runtime failed\n"},
        JudgeError{"request_over_the_profile", kTicket, {}, "", false, "state_too_large: ",
                   "dravelin: runtime failed\n", 12},
        JudgeError{"service_refuses", kTicket, {}, "status=401", false, "zem_rejected: ",
                   "dravelin: runtime failed\n"},
        JudgeError{"service_unavailable", kTicket, {}, "status=503", false, "zem_unavailable: ",
                   "dravelin: runtime failed\n"}),
    [](const ::testing::TestParamInfo<JudgeError>& info) { return info.param.name; });

TEST_F(JudgeCommands, AnUndeclaredJudgmentIsReportedAgainstTheProgramFile) {
  const Finished done = run_program("dravelin", {"judge", program_, "nope", "--state", "{}", "--profiles", profiles_});
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.err.rfind(program_ + ":0:0: type_error: `desk` declares no judgment `nope`\n", 0), 0u) << done.err;
}

TEST_F(JudgeCommands, ACompileErrorEndsTheCommand) {
  const std::string broken = dir_.write("broken.zem", "program broken\n\ntask main:\n  loop:\n    x = 1\n");
  const Finished done = run_program("dravelin", {"judge", broken, "t", "--state", "{}"});
  EXPECT_EQ(done.status, 1);
  EXPECT_NE(done.err.find("unbounded_loop"), std::string::npos) << done.err;
  EXPECT_EQ(done.err.substr(done.err.rfind("dravelin: ")), "dravelin: compile failed\n");
}

TEST_F(JudgeCommands, EvalTalliesEveryExpectedValueAndListsTheMisses) {
  const Finished done = eval(
      R"({"state": {"ticket": {"body": "a"}}, "expected": {"kind": "bug", "urgent": true, "mood": "angry"}})"
      "\n\n"
      R"([{"ticket": {"body": "b"}}, {"kind": "feature", "mood": 1, "missing": 3}])"
      "\n"
      R"({"state": {"ticket": {"body": "c"}}, "expected": {"mood": 1.0, "urgent": false}})"
      "\n");
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.err, "");  // the judgment's logs are not printed
  const json::Value report = parse_or_fail(done.out);
  const json::Value expected_questions = parse_or_fail(R"({
    "kind": {"accuracy": 0.5, "correct": 1, "total": 2},
    "missing": {"accuracy": 0.0, "correct": 0, "total": 1},
    "mood": {"accuracy": 0.6666666666666666, "correct": 2, "total": 3},
    "urgent": {"accuracy": 0.5, "correct": 1, "total": 2}})");
  EXPECT_EQ(*report.as_object().find("questions"), expected_questions) << done.out;

  const json::Array& misses = report.as_object().find("misses")->as_array();
  ASSERT_EQ(misses.size(), 4u) << done.out;
  struct Miss {
    uint64_t line;
    const char* question;
    const char* expected;
    const char* actual;
  };
  const Miss want[] = {{3, "kind", "\"feature\"", nullptr},
                       {3, "missing", "3", "null"},
                       {4, "mood", "1.0", nullptr},
                       {4, "urgent", "false", "0.5"}};
  for (size_t i = 0; i < 4; ++i) {
    const json::Object& miss = misses[i].as_object();
    EXPECT_EQ(*miss.find("case"), json::Value(want[i].line)) << i;
    EXPECT_EQ(*miss.find("question"), json::Value(want[i].question)) << i;
    EXPECT_EQ(*miss.find("expected"), parse_or_fail(want[i].expected)) << i;
    if (want[i].actual != nullptr) {
      EXPECT_EQ(*miss.find("actual"), parse_or_fail(want[i].actual)) << i;
    }
  }
  // A miss carries the model service's answer to its question, or null when there is none.
  EXPECT_EQ(*misses[0].as_object().find("answer")->as_object().find("label"), json::Value("bug"));
  EXPECT_TRUE(misses[1].as_object().find("answer")->is_null());
  // The report's own order: misses, then questions, each tally as accuracy, correct, total.
  EXPECT_LT(done.out.find("\"misses\""), done.out.find("\"questions\""));
  EXPECT_NE(done.out.find("\"accuracy\": 0.5,\n      \"correct\": 1,\n      \"total\": 2"), std::string::npos)
      << done.out;
}

TEST_F(JudgeCommands, EvalOfNoCasesReportsNothing) {
  const Finished done = eval("\n  \n");
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out, "{\n  \"misses\": [],\n  \"questions\": {}\n}\n");
}

TEST_F(JudgeCommands, EvalErrorsNameTheFileAndTheLine) {
  const std::string cases = (dir_.path() / "cases.jsonl").string();
  const std::string row = R"({"state": {"ticket": {"body": "a"}}, "expected": {}})";
  struct Case {
    const char* what;
    std::optional<std::string> text;  // the cases file; none: `path` is given as it is
    std::string path;
    std::string err;
  };
  const Case table[] = {
      {"a row that is not a case", row + "\n\n" + R"({"state": {"ticket": {"body": "a"}}})" + "\n", cases,
       "dravelin: " + cases + ":3: missing field `expected`\n"},
      {"no such file", std::nullopt, (dir_.path() / "absent.jsonl").string(),
       "dravelin: cannot read `" + (dir_.path() / "absent.jsonl").string() + "`: No such file or directory\n"},
      {"a directory", std::nullopt, dir_.path().string(),
       "dravelin: cannot read `" + dir_.path().string() + "`: Is a directory\n"},
      {"a line that is not UTF-8", row + "\n\xff\n", cases,
       "dravelin: " + cases + ":2: stream did not contain valid UTF-8\n"},
      // Refused once 64 MiB are read: neither the memory nor the time of the rest is spent.
      {"a line that never ends", "\n" + std::string(size_t{65} << 20, ' '), cases,
       "dravelin: " + cases + ":2: the line is longer than 64 MiB\n"},
  };
  for (const Case& c : table) {
    if (c.text) dir_.write("cases.jsonl", *c.text);
    const Finished done =
        run_program("dravelin", {"eval", program_, "triage", "--cases", c.path, "--profiles", profiles_});
    EXPECT_EQ(done.status, 1) << c.what;
    EXPECT_EQ(done.out, "") << c.what;
    EXPECT_EQ(done.err, c.err) << c.what;
  }

  const Finished failing_case = eval(R"({"state": {}, "expected": {}})"
                                     "\n");
  EXPECT_EQ(failing_case.status, 1);
  EXPECT_NE(failing_case.err.find("judgment `triage` needs `ticket` in the state"), std::string::npos)
      << failing_case.err;
  EXPECT_EQ(failing_case.err.substr(failing_case.err.rfind("dravelin: ")), "dravelin: runtime failed\n");
}

}  // namespace
}  // namespace dravelin::cli
