// Token caps of shape fields (cut from the head or the tail with a `truncated` warning, refused when strict,
// reduced by focus) and `focus` itself against a scripted model service: the chunks it keeps, its fallback, and
// how it stops when it cannot get under its cap. Token counts here are chars4: a token per four characters.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "interp/interpreter_internal.h"
#include "interp/run_harness.h"
#include "support/values.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using test_values::txt;

std::string repeat(const std::string& unit, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// 900 tokens of digits, so that a cut shows which end it kept.
const std::string kLong = repeat("0123456789", 360);

struct CapCase {
  std::string name;
  std::string field;  // the field line of `shape`, after "f "
  Value out;          // the field's value after the statement
  std::optional<std::string> warning;
};
void PrintTo(const CapCase& c, std::ostream* out) { *out << c.name; }

class ShapeCaps : public ::testing::TestWithParam<CapCase> {};

TEST_P(ShapeCaps, HoldEachFieldToItsCap) {
  const CapCase& c = GetParam();
  TestRun run("program p\nin t: text\nout o\n\ntask main:\n  s = shape:\n    f " + c.field + "\n  o = s.f\n",
              runtime::Record{{"t", txt(kLong)}});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), c.out)
      << runtime::debug_string(detail<Pause::Done>(outcome.pause).outputs.at("o"));
  const auto warnings = run.events_of<Event::Warning>();
  if (!c.warning) {
    EXPECT_TRUE(warnings.empty());
    return;
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0]->code, "truncated");
  EXPECT_EQ(warnings[0]->message, *c.warning);
  EXPECT_EQ(warnings[0]->source.start.line, 7u);
  EXPECT_TRUE(run.service.asked.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ShapeCaps,
    ::testing::Values(
        CapCase{"no_cap_keeps_everything", "t", txt(kLong), std::nullopt},
        CapCase{"exactly_at_the_cap", "\"12345678901234567890\", max 5", txt("12345678901234567890"), std::nullopt},
        CapCase{"text_from_the_tail", "t, max 500, tail", txt(kLong.substr(kLong.size() - 2000)),
                "shape field `f` was cut from 900 tokens to its cap of 500 (tail)"},
        CapCase{"text_from_the_head", "t, max 500", txt(kLong.substr(0, 2000)),
                "shape field `f` was cut from 900 tokens to its cap of 500 (head)"},
        CapCase{"a_fractional_cap_lets_its_whole_part_through", "\"1234567890123456789012345678901234567890\", max 10.5",
                txt("1234567890123456789012345678901234567890"), std::nullopt},
        CapCase{"a_fractional_cap_cuts_to_its_whole_part", "\"12345678901234567890123456789012345678901234\", max 10.5",
                txt("1234567890123456789012345678901234567890"),
                "shape field `f` was cut from 11 tokens to its cap of 10.5 (head)"},
        CapCase{"a_number_becomes_text", "123456789, max 1", txt("1234"),
                "shape field `f` was cut from 3 tokens to its cap of 1 (head)"},
        CapCase{"a_list_whose_first_element_is_too_big", "[\"far too long to fit at all\", \"b\"], max 3",
                Value::list({}), "shape field `f` was cut from 9 tokens to its cap of 3 (head)"},
        CapCase{"a_list_from_the_head", "[\"bb\", \"cc\", \"aaaaaaaaaaaa\"], max 4",
                Value::list({txt("bb"), txt("cc")}), "shape field `f` was cut from 7 tokens to its cap of 4 (head)"},
        CapCase{"a_list_from_the_tail", "[\"aaaaaaaa\", \"bb\", \"cc\"], max 4, tail",
                Value::list({txt("bb"), txt("cc")}), "shape field `f` was cut from 6 tokens to its cap of 4 (tail)"},
        CapCase{"a_record_from_the_head_in_name_order", "{c: \"cc\", a: \"aaaaaaaaaaaa\", b: \"bb\"}, max 6",
                Value::record({{"a", txt("aaaaaaaaaaaa")}}),
                "shape field `f` was cut from 10 tokens to its cap of 6 (head)"},
        CapCase{"a_record_from_the_tail", "{c: \"cc\", a: \"aaaaaaaaaaaa\", b: \"bb\"}, max 6, tail",
                Value::record({{"b", txt("bb")}, {"c", txt("cc")}}),
                "shape field `f` was cut from 10 tokens to its cap of 6 (tail)"}),
    [](const ::testing::TestParamInfo<CapCase>& info) { return info.param.name; });

TEST(Shape, StrictRefusesAnOverlongFieldButFocusesAFocusField) {
  TestRun refused("program p\nin t: text\nout o\n\ntask main:\n  o = shape strict:\n    a \"short\", max 5\n"
                  "    b t, max 500, tail\n",
                  runtime::Record{{"t", txt(kLong)}});
  TaskOutcome outcome = refused.execute();
  const auto& error = detail<Pause::Error>(outcome.pause);
  EXPECT_EQ(error.code, RuntimeErrorCode::StateTooLarge);
  EXPECT_EQ(error.message, "`shape strict` field `b` is 900 tokens, over its cap of 500");
  EXPECT_FALSE(error.retryable);
  EXPECT_EQ(outcome.pause.common.source.start.line, 8u);
  EXPECT_TRUE(refused.events_of<Event::Warning>().empty());

  // Two chunks of 751 tokens; the second is found relevant. The field's own cap is below the focus
  // expression's, so the field is focused once more, and strict does not refuse it.
  const std::string first = repeat("a", 3003) + "\n";
  const std::string second = repeat("b", 3003) + "\n";
  TestRun focused("program p\nin t: text\nout o\n\ntask main:\n  s = shape strict:\n"
                  "    f focus t on \"bees\", max 4000, max 1000\n  o = s.f\n",
                  runtime::Record{{"t", txt(first + second)}});
  focused.service.probs["keep[0]"] = 0.2;
  outcome = focused.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), txt(second));
  EXPECT_EQ(focused.service.asked.size(), 1u);
  EXPECT_TRUE(focused.events_of<Event::Warning>().empty());
}

TEST(Shape, TheCutIsByWholeCharacters) {
  const auto tokenizer = tokens::TokenizerKind::chars4().tokenizer();
  // Eight two-byte characters are two tokens.
  const std::string text = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA0\xC3\xA0\xC3\xA0\xC3\xA0";
  EXPECT_EQ(cut_to_tokens(text, 1, CutSide::Head, *tokenizer), text.substr(0, 8));
  EXPECT_EQ(cut_to_tokens(text, 1, CutSide::Tail, *tokenizer), text.substr(8));
  EXPECT_EQ(cut_to_tokens(text, 2, CutSide::Tail, *tokenizer), text);
  EXPECT_EQ(cut_to_tokens(text, 0, CutSide::Head, *tokenizer), "");
  EXPECT_EQ(cut_to_tokens("abcdefghi", 2, CutSide::Tail, *tokenizer), "bcdefghi");
}

// A cut's warning is an event of the run: a resumed run passes it again, and so does a replay of the lines.
TEST(Shape, ACutIsRecordedAndServedAgainOnResume) {
  const std::string source =
      "program p\nin t: text\nout o\n\ntask main:\n  o = shape:\n    f t, max 5\n  escalate \"look\"\n";
  TestRun run(source, runtime::Record{{"t", txt(kLong)}});
  run.with_recording();
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Escalate);
  TaskOutcome outcome = run.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(run.events_of<Event::Warning>().size(), 1u);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::record({{"f", txt("01234567890123456789")}}));
  bool found = false;
  for (const std::string& line : run.recording.lines) {
    auto read = record::RecordedEvent::read_line(line);
    ASSERT_TRUE(read.ok()) << line;
    found = found || read->event.kind() == EventKind::Warning;
  }
  EXPECT_TRUE(found);
}

// ---- focus ----

// A text of `count` lines of 751 tokens each, line i made of the letter 'a' + i % 26: each line is a chunk
// of its own.
std::string lines_of(size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += std::string(3003, static_cast<char>('a' + i % 26)) + "\n";
  return out;
}

std::string line(size_t i) { return std::string(3003, static_cast<char>('a' + i % 26)) + "\n"; }

struct FocusRun {
  explicit FocusRun(const std::string& text, double max)
      : run("program p\nin t: text\nout o\n\ntask main budget calls 200:\n  o = focus t on \"bugs\", max " +
                runtime::number_text(max) + "\n",
            runtime::Record{{"t", txt(text)}}) {
    // Room for every chunk in one request.
    zem::Profile& profile = run.run.metadata.profile;
    profile.max_questions_per_request = 100;
    profile.total_tokens = 10'000'000;
    profile.state_plus_question_tokens = 10'000'000;
  }
  TestRun run;
};

TEST(Focus, KeepsTheChunksFoundRelevant) {
  FocusRun focus(lines_of(4), 2000);
  focus.run.service.probs = {{"keep[0]", 0.9}, {"keep[1]", 0.1}, {"keep[2]", 0.61}, {"keep[3]", 0.6}};
  TaskOutcome outcome = focus.run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), txt(line(0) + "\n" + line(2)));

  ASSERT_EQ(focus.run.service.asked.size(), 1u);
  const zem::RequestGroup& group = focus.run.service.asked[0];
  ASSERT_EQ(group.questions.size(), 4u);
  const auto* question = std::get_if<zem::Question::Noul>(&group.questions[3].data);
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(question->id, "keep[3]");
  EXPECT_EQ(question->condition, "contains information relevant to: bugs");
  ASSERT_NE(group.state.find("chunks"), nullptr);
  EXPECT_EQ(group.state.find("chunks")->as_array().size(), 4u);
}

TEST(Focus, WithoutARelevantChunkKeepsTheThreeLikeliestInThatOrder) {
  FocusRun focus(lines_of(5), 3000);
  focus.run.service.probs = {{"keep[0]", 0.1}, {"keep[1]", 0.5}, {"keep[2]", 0.3}, {"keep[3]", 0.5}, {"keep[4]", 0.2}};
  TaskOutcome outcome = focus.run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), txt(line(1) + "\n" + line(3) + "\n" + line(2)));
  EXPECT_EQ(focus.run.service.asked.size(), 1u);
}

TEST(Focus, TextThatFitsAsksNothing) {
  FocusRun focus("a short text", 10);
  TaskOutcome outcome = focus.run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), txt("a short text"));
  EXPECT_TRUE(focus.run.service.asked.empty());
}

// Each pass finds every chunk but the last relevant, so a text of n chunks needs n - 2 passes to get down
// to the two chunks that fit: 64 passes are allowed, and the 64th pass's result counts.
struct PassCase {
  std::string name;
  size_t chunks;
  bool drop_last;  // else every chunk is found relevant
  double max;
  size_t requests;
  std::optional<std::string> error;
};
void PrintTo(const PassCase& c, std::ostream* out) { *out << c.name; }

class FocusPasses : public ::testing::TestWithParam<PassCase> {};

TEST_P(FocusPasses, StopAtTheCapOrWhenNoPassCanHelp) {
  const PassCase& c = GetParam();
  FocusRun focus(lines_of(c.chunks), c.max);
  ScriptedService& service = focus.run.service;
  if (c.drop_last) {
    service.on_ask = [&service] {
      service.probs.clear();
      service.probs["keep[" + std::to_string(service.asked.back().questions.size() - 1) + "]"] = 0.1;
    };
  }
  TaskOutcome outcome = focus.run.execute();
  EXPECT_EQ(service.asked.size(), c.requests);
  if (!c.error) {
    ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
    EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o").to_text().substr(0, 3003), line(0).substr(0, 3003));
    return;
  }
  const auto& error = detail<Pause::Error>(outcome.pause);
  EXPECT_EQ(error.code, RuntimeErrorCode::RecursionLimit);
  EXPECT_EQ(error.message, *c.error);
  EXPECT_EQ(outcome.pause.common.source.start.line, 6u);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, FocusPasses,
    ::testing::Values(PassCase{"fits_after_the_64th_pass", 66, true, 2000, 64, std::nullopt},
                      PassCase{"would_need_a_65th_pass", 67, true, 2000, 64,
                               "`focus` could not reduce the text to 2000 tokens in 64 passes"},
                      PassCase{"a_pass_that_keeps_every_chunk_ends_it", 4, false, 100, 1,
                               "`focus` could not reduce the text to 100 tokens in 1 passes"}),
    [](const ::testing::TestParamInfo<PassCase>& info) { return info.param.name; });

TEST(Focus, ItsRequestsAreChargedToTheCallsBudget) {
  TestRun run("program p\nin t: text\nout o\n\ntask main budget calls 0:\n  o = focus t on \"bugs\", max 100\n",
              runtime::Record{{"t", txt(lines_of(4))}});
  TaskOutcome outcome = run.execute();
  const auto& budget = detail<Pause::Budget>(outcome.pause);
  EXPECT_EQ(budget.key, BudgetKey::Calls);
  EXPECT_TRUE(run.service.asked.empty());
}

}  // namespace
}  // namespace dravelin::interp
