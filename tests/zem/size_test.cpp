#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zem/size.h"

namespace dravelin::zem {
namespace {

Profile limits(uint64_t total, uint64_t per_question) {
  Profile p;
  p.model = "zem-test";
  p.total_tokens = total;
  p.state_plus_question_tokens = per_question;
  p.tokenizer = TokenizerKind::chars4();
  return p;
}

RequestSize sized(uint64_t state, std::vector<uint64_t> questions,
                  std::optional<std::pair<std::string, uint64_t>> subject = std::nullopt) {
  return RequestSize{state, std::move(questions), std::move(subject)};
}

std::string compact_question(const Question& question) {
  std::string out;
  question.write_json(out);
  return out;
}

TEST(RequestSizeMeasure, StateMembersAndQuestions) {
  const auto chars4 = TokenizerKind::chars4().tokenizer();

  // {"a":"xyz"} is 11 characters (3 tokens); the subject is measured on its value alone, "xyz" with the
  // quotes being 5 characters (2 tokens).
  RequestGroup one{"zem-test", {}, {{"a", "xyz"}}};
  EXPECT_EQ(measure_request_with(one, *chars4), sized(3, {}, std::make_pair(std::string("a"), 2)));

  // Members are measured in key order and the later of two equal counts is named.
  RequestGroup tie;
  tie.state.append("b", "1234");  // inserted out of order: the state is still measured in key order
  tie.state.append("a", "wxyz");
  tie.state.append("c", "1");
  Question noul = Question::Noul{"tone", "b", "sounds urgent", std::nullopt};
  tie.questions = {noul, noul};
  const RequestSize size = measure_request_with(tie, *chars4);
  std::string state;
  write_state_json(tie.state, state);
  EXPECT_EQ(state, R"({"a":"wxyz","b":"1234","c":"1"})");
  EXPECT_EQ(size.state_tokens, tokens::count_chars4(state));
  const uint64_t question_tokens = tokens::count_chars4(compact_question(noul));
  EXPECT_EQ(size.question_tokens, (std::vector<uint64_t>{question_tokens, question_tokens}));
  ASSERT_TRUE(size.largest_subject);
  EXPECT_EQ(size.largest_subject->first, "b");
  EXPECT_EQ(size.largest_subject->second, 2u);

  // An empty state is `{}` and has no largest subject.
  RequestGroup empty{"zem-test", {noul}, {}};
  const RequestSize empty_size = measure_request_with(empty, *chars4);
  EXPECT_EQ(empty_size.state_tokens, 1u);
  EXPECT_FALSE(empty_size.largest_subject);
}

TEST(RequestSizeLimits, BoundariesAndMessages) {
  struct Case {
    const char* name;
    RequestSize size;
    Profile profile;
    const char* message;  // empty: fits
  };
  const auto subject = std::make_pair(std::string("ticket"), uint64_t{40});
  const std::vector<Case> cases = {
      {"total equal to the limit fits", sized(60, {20, 20}, subject), limits(100, 100), ""},
      {"total one over", sized(61, {20, 20}, subject), limits(100, 100),
       "the state plus all questions is 101 tokens, over the 100 limit of `zem-test`; "
       "the largest subject is `ticket` (40 tokens)"},
      {"state plus largest equal to the limit fits", sized(60, {10, 30}, subject), limits(1000, 90), ""},
      {"state plus largest one over", sized(60, {10, 31}, subject), limits(1000, 90),
       "the state plus the largest question is 91 tokens, over the 90 per-question limit of `zem-test`; "
       "the largest subject is `ticket` (40 tokens)"},
      {"over both reports the total", sized(60, {31}, subject), limits(90, 90),
       "the state plus all questions is 91 tokens, over the 90 limit of `zem-test`; "
       "the largest subject is `ticket` (40 tokens)"},
      {"no questions: the state alone against the per-question limit", sized(91, {}, subject), limits(1000, 90),
       "the state plus the largest question is 91 tokens, over the 90 per-question limit of `zem-test`; "
       "the largest subject is `ticket` (40 tokens)"},
      {"empty state", sized(1, {200}), limits(100, 1000),
       "the state plus all questions is 201 tokens, over the 100 limit of `zem-test`; "
       "the largest subject is (no subject)"},
      {"counts past the range do not wrap", sized(UINT64_MAX, {2}), limits(100, 100),
       "the state plus all questions is 18446744073709551615 tokens, over the 100 limit of `zem-test`; "
       "the largest subject is (no subject)"},
  };
  for (const Case& c : cases) {
    auto result = check_size_limits(c.size, c.profile);
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(result.ok()) << c.name << ": " << result.error().message;
      continue;
    }
    ASSERT_FALSE(result.ok()) << c.name;
    EXPECT_EQ(result.error().message, c.message) << c.name;
    EXPECT_EQ(result.error().code, RuntimeErrorCode::StateTooLarge) << c.name;
    EXPECT_FALSE(result.error().retryable) << c.name;
    EXPECT_TRUE(result.error().span.is_zero()) << c.name;
  }
}

TEST(RequestSizeLimits, CheckMeasuresWithTheProfilesTokenizer) {
  RequestGroup group{"zem-test", {Question::Noul{"t", "a", "c", std::nullopt}}, {{"a", "xyz"}}};
  const uint64_t question = tokens::count_chars4(compact_question(group.questions[0]));

  auto fits = check_request_size(group, limits(3 + question, 3 + question));
  ASSERT_TRUE(fits.ok()) << fits.error().message;
  EXPECT_EQ(fits->state_tokens, 3u);

  auto over = check_request_size(group, limits(3 + question - 1, 1000));
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.error().message, "the state plus all questions is " + std::to_string(3 + question) +
                                      " tokens, over the " + std::to_string(2 + question) +
                                      " limit of `zem-test`; the largest subject is `a` (2 tokens)");
}

TEST(ConfirmOptions, YesThenNo) { EXPECT_EQ(yes_no_labels(), (std::vector<std::string>{"yes", "no"})); }

}  // namespace
}  // namespace dravelin::zem
