#include "run/judge.h"

#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "json/reader.h"
#include "run/run_test_support.h"
#include "runtime/value_json.h"
#include "zem/profile.h"

namespace dravelin::run {
namespace {

using runtime::RuntimeErrorCode;
using testing::compile_or_fail;

// Answers every question: a prob of 0.7, the first label with most of the weight, the top level. Remembers the
// groups it was asked; fails instead when told to, or runs out of memory.
class ScriptedService final : public zem::ZemService {
 public:
  std::vector<zem::RequestGroup> asked;
  std::optional<zem::ZemError> failure;
  bool out_of_memory = false;

  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup& group) override {
    asked.push_back(group);
    if (out_of_memory) throw std::bad_alloc();
    if (failure) return err(*failure);
    zem::ZemResponse response;
    for (const zem::Question& question : group.questions) {
      if (const auto* noul = std::get_if<zem::Question::Noul>(&question.data)) {
        response.answers.emplace_back(zem::ZemAnswer::Noul{noul->id, 0.7});
      } else if (const auto* choice = std::get_if<zem::Question::Choice>(&question.data)) {
        zem::Probabilities p;
        for (size_t i = 0; i < choice->labels.size(); ++i) p[choice->labels[i].name] = i == 0 ? 0.6 : 0.4;
        response.answers.emplace_back(zem::ZemAnswer::Choice{choice->id, choice->labels.front().name, 0.6, p});
      } else {
        const auto& score = std::get<zem::Question::Score>(question.data);
        const uint32_t top = static_cast<uint32_t>(score.levels.size() - 1);
        response.answers.emplace_back(zem::ZemAnswer::Score{score.id, top, double(top), 0.9, {}});
      }
    }
    return response;
  }
};

constexpr const char* kProgram = R"(program desk

judgment triage(ticket, notes):
  kind = ticket.body pick:
    bug "a defect in something that exists"
    feature "a wish for something new"
    other
  urgent = ticket feels "someone is blocked right now"
  mood = ticket.body rate:
    calm "the reporter writes patiently"
    angry "the reporter is hostile"

judgment each_reply(replies):
  polite = each replies feels "the reply is polite"

judgment drawn(ticket):
  kind = ticket.body pick:
    bug "a defect in something that exists"
    other
    sample true
)";

json::Object state_of(const std::string& text) {
  auto parsed = json::parse_json_object(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() ? std::move(parsed).value() : json::Object{};
}

zem::Profile small_profile(uint32_t max_questions) {
  zem::Profile profile = zem::bundled_profiles().at("zem-1.13.0");
  profile.max_questions_per_request = max_questions;
  return profile;
}

TEST(StandAloneJudge, AsksOneGroupAndTurnsTheAnswersIntoValues) {
  const ir::Ir ir = compile_or_fail(kProgram);
  ScriptedService service;
  zem::Xoshiro256StarStar random = zem::Xoshiro256StarStar::from_seed(1);
  const auto before = random.state();
  auto outcome = run_judgment_with_rng(
      ir, "triage", state_of(R"({"ticket": {"body": "it crashes"}, "notes": [], "extra": 1})"), service,
      small_profile(8), random);
  ASSERT_TRUE(outcome.ok()) << outcome.error();
  ASSERT_EQ(service.asked.size(), 1u);
  EXPECT_EQ(outcome->groups, service.asked);
  EXPECT_EQ(outcome->answers.size(), 3u);
  ASSERT_EQ(outcome->values.size(), 3u);
  EXPECT_EQ(outcome->values.at("kind").as_choice().label, "bug");
  EXPECT_DOUBLE_EQ(outcome->values.at("urgent").as_prob(), 0.7);
  EXPECT_EQ(outcome->values.at("mood").as_level().level, 1u);
  EXPECT_TRUE(outcome->logs.empty());
  EXPECT_FALSE(outcome->sampled);
  // Nothing asks for sampling, so nothing is drawn; and a member that is no parameter stays out of the state.
  EXPECT_EQ(random.state(), before);
  EXPECT_EQ(service.asked[0].state.find("extra"), nullptr);
  EXPECT_NE(service.asked[0].state.find("notes"), nullptr);
}

TEST(StandAloneJudge, AnOversizedEachIsAskedInOrderedChunks) {
  const ir::Ir ir = compile_or_fail(kProgram);
  ScriptedService service;
  zem::Xoshiro256StarStar random = zem::Xoshiro256StarStar::from_seed(1);
  auto outcome = run_judgment_with_rng(ir, "each_reply", state_of(R"({"replies": ["a", "b", "c", "d", "e"]})"),
                                       service, small_profile(2), random);
  ASSERT_TRUE(outcome.ok()) << outcome.error();
  ASSERT_EQ(service.asked.size(), 3u);
  std::vector<std::string> ids;
  for (const zem::ZemAnswer& answer : outcome->answers) ids.push_back(answer.id());
  EXPECT_EQ(ids, (std::vector<std::string>{"polite[0]", "polite[1]", "polite[2]", "polite[3]", "polite[4]"}));
  EXPECT_EQ(outcome->values.at("polite").as_list().size(), 5u);
}

TEST(StandAloneJudge, AnEachOverNothingAsksNothing) {
  const ir::Ir ir = compile_or_fail(kProgram);
  ScriptedService service;
  zem::Xoshiro256StarStar random = zem::Xoshiro256StarStar::from_seed(1);
  auto outcome = run_judgment_with_rng(ir, "each_reply", state_of(R"({"replies": []})"), service,
                                       small_profile(8), random);
  ASSERT_TRUE(outcome.ok()) << outcome.error();
  EXPECT_TRUE(service.asked.empty());
  EXPECT_TRUE(outcome->groups.empty());
  EXPECT_TRUE(outcome->answers.empty());
  EXPECT_TRUE(outcome->values.at("polite").as_list().empty());
}

TEST(StandAloneJudge, ASampledResultDrawsFromTheGivenGenerator) {
  const ir::Ir ir = compile_or_fail(kProgram);
  ScriptedService service;
  zem::Xoshiro256StarStar random = zem::Xoshiro256StarStar::from_seed(1);
  zem::Xoshiro256StarStar expected = random;
  auto outcome = run_judgment_with_rng(ir, "drawn", state_of(R"({"ticket": {"body": "x"}})"), service,
                                       small_profile(8), random);
  ASSERT_TRUE(outcome.ok()) << outcome.error();
  EXPECT_TRUE(outcome->sampled);
  expected.next_f64();
  EXPECT_EQ(random.state(), expected.state());  // exactly one draw
}

struct FailureCase {
  std::string name;
  std::string judgment;
  std::string state;
  std::optional<zem::ZemError> service_failure;
  RuntimeErrorCode code;
  std::string message;
  bool retryable;
  bool asked;
  bool out_of_memory = false;  // the service's allocation fails
};

class JudgeFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(JudgeFailures, EndTheJudgmentWithOneError) {
  const FailureCase& c = GetParam();
  const ir::Ir ir = compile_or_fail(kProgram);
  ScriptedService service;
  service.failure = c.service_failure;
  service.out_of_memory = c.out_of_memory;
  zem::Xoshiro256StarStar random = zem::Xoshiro256StarStar::from_seed(1);
  auto outcome = run_judgment_with_rng(ir, c.judgment, state_of(c.state), service, small_profile(8), random);
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error().code, c.code);
  EXPECT_EQ(outcome.error().message, c.message);
  EXPECT_EQ(outcome.error().retryable, c.retryable);
  EXPECT_EQ(!service.asked.empty(), c.asked);
}

INSTANTIATE_TEST_SUITE_P(
    Run, JudgeFailures,
    ::testing::Values(
        FailureCase{"undeclared_judgment", "nope", "{}", std::nullopt, RuntimeErrorCode::TypeError,
                    "`desk` declares no judgment `nope`", false, false},
        FailureCase{"missing_parameter_before_any_request", "triage", R"({"ticket": {"body": "x"}})",
                    std::nullopt, RuntimeErrorCode::TypeError, "judgment `triage` needs `notes` in the state", false,
                    false},
        FailureCase{"service_refusal", "triage", R"({"ticket": {"body": "x"}, "notes": 1})",
                    zem::ZemError{zem::ZemError::Kind::Rejected, "401: bad key"}, RuntimeErrorCode::ZemRejected,
                    "401: bad key", false, true},
        FailureCase{"service_unavailable_is_retryable_but_not_retried", "triage",
                    R"({"ticket": {"body": "x"}, "notes": 1})",
                    zem::ZemError{zem::ZemError::Kind::Unavailable, "503"}, RuntimeErrorCode::ZemUnavailable, "503",
                    true, true},
        FailureCase{"allocation_failure", "triage", R"({"ticket": {"body": "x"}, "notes": 1})", std::nullopt,
                    RuntimeErrorCode::TypeError, "the judgment ran out of memory", false, true, true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
}  // namespace dravelin::run
