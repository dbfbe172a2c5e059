// The texts the terminal host reads and writes: `--input` and `--state` objects, cases rows, budget limits,
// `log` lines and pretty outcomes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/json_args.h"
#include "cli/log_line.h"
#include "cli/run_command.h"
#include "json/reader.h"
#include "record/event.h"
#include "record/pause.h"

namespace dravelin::cli {
namespace {

TEST(ValueObject, ReadsMembersAsTaggedValues) {
  auto values = parse_value_object(R"({"b": [1, "x"], "a": {"$zem": "prob", "value": 0.25}, "b": 2})");
  ASSERT_TRUE(values.ok()) << values.error();
  ASSERT_EQ(values->size(), 2u);
  EXPECT_DOUBLE_EQ(values->at("a").as_prob(), 0.25);
  EXPECT_DOUBLE_EQ(values->at("b").as_number(), 2);  // the last of a repeated member
}

TEST(ValueObject, RefusesAnythingButOneObject) {
  struct Case {
    const char* text;
    const char* message;
  };
  for (const Case& c : {Case{"[1, 2]", "invalid type: sequence, expected a map at line 1 column 0"},
                        Case{"{} x", "trailing characters at line 1 column 4"},
                        Case{"{\"a\": {\"$zem\": \"nope\"}}", "unknown `$zem` kind `nope`"}}) {
    auto values = parse_value_object(c.text);
    ASSERT_FALSE(values.ok()) << c.text;
    EXPECT_EQ(values.error(), c.message) << c.text;
  }
}

struct CaseRow {
  std::string name;
  std::string line;
  std::string error;  // empty: accepted
};

class EvalCaseRows : public ::testing::TestWithParam<CaseRow> {};

TEST_P(EvalCaseRows, ReadOrRefuse) {
  const CaseRow& c = GetParam();
  auto row = parse_eval_case(c.line);
  if (c.error.empty()) {
    ASSERT_TRUE(row.ok()) << row.error();
    EXPECT_EQ(json::to_compact(json::Value(row->state)), R"({"a":{"x":1,"y":2}})");
    EXPECT_EQ(json::to_compact(json::Value(row->expected)), R"({"kind":"bug"})");
  } else {
    ASSERT_FALSE(row.ok());
    EXPECT_EQ(row.error(), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, EvalCaseRows,
    ::testing::Values(
        CaseRow{"object_form_sorted_deep", R"({"expected": {"kind": "bug"}, "note": 1, "state": {"a": {"y": 2, "x": 1}}})", ""},
        CaseRow{"array_form", R"([{"a": {"x": 1, "y": 2}}, {"kind": "bug"}])", ""},
        CaseRow{"short_array", R"([{"a": 1}])", "invalid length 1, expected struct EvalCase with 2 elements"},
        CaseRow{"missing_state", R"({"expected": {}})", "missing field `state`"},
        CaseRow{"missing_expected", R"({"state": {}})", "missing field `expected`"},
        CaseRow{"repeated_state", R"({"state": {}, "state": {}, "expected": {}})", "duplicate field `state`"},
        CaseRow{"state_not_an_object", R"({"state": [], "expected": {}})", "invalid type: sequence, expected a map"},
        CaseRow{"row_not_a_record", "7", "invalid type: integer `7`, expected struct EvalCase"},
        CaseRow{"text_after_the_row", R"({"state": {}, "expected": {}} x)", "trailing characters at line 1 column 31"}),
    [](const ::testing::TestParamInfo<CaseRow>& info) { return info.param.name; });

TEST(BudgetLimit, TakesFiniteDecimalNumbersOnly) {
  struct Case {
    const char* text;
    std::optional<double> value;
    const char* error;
  };
  for (const Case& c : {Case{"12", 12.0, ""}, Case{"2.5", 2.5, ""}, Case{"+4", 4.0, ""}, Case{"-1", -1.0, ""},
                        Case{"1e3", 1000.0, ""}, Case{".5", 0.5, ""}, Case{"1e-999", 0.0, ""},
                        Case{"abc", std::nullopt, "invalid float literal"},
                        Case{"1,5", std::nullopt, "invalid float literal"},
                        Case{"+-3", std::nullopt, "invalid float literal"},
                        Case{"0x10", std::nullopt, "invalid float literal"},
                        Case{"inf", std::nullopt, "a budget limit must be a finite number"},
                        Case{"NaN", std::nullopt, "a budget limit must be a finite number"},
                        Case{"1e999", std::nullopt, "a budget limit must be a finite number"}}) {
    auto limit = parse_budget_limit(c.text);
    if (c.value) {
      ASSERT_TRUE(limit.ok()) << c.text << ": " << limit.error();
      EXPECT_EQ(*limit, *c.value) << c.text;
    } else {
      ASSERT_FALSE(limit.ok()) << c.text;
      EXPECT_EQ(limit.error(), c.error) << c.text;
    }
  }
}

std::vector<std::string> answers_of(const char* typed, size_t max_bytes, size_t count) {
  std::FILE* in = std::tmpfile();
  EXPECT_NE(in, nullptr);
  if (in == nullptr) return {};
  std::fputs(typed, in);
  std::rewind(in);
  AnswerInput input(in, max_bytes);
  std::vector<std::string> answers;
  for (size_t i = 0; i < count; ++i) {
    auto answer = input.next();
    if (!answer.ok()) break;
    answers.push_back(answer->cut_off ? "<cut off>" : answer->text);
  }
  std::fclose(in);
  return answers;
}

TEST(AnswerLine, EndOfInputIsAnEmptyLine) {
  using Answers = std::vector<std::string>;
  EXPECT_EQ(answers_of("  yes \nlast", 64, 3), (Answers{"  yes ", "last", ""}));
  // An overlong answer ends the input: what follows it, in the same line or after it, is never read.
  EXPECT_EQ(answers_of("ok\ntoo long\nyes\n", 4, 4), (Answers{"ok", "<cut off>", "", ""}));
  EXPECT_EQ(trim("  yes \r\n"), "yes");
  EXPECT_EQ(trim(" \t "), "");
}

record::Event log_event(record::Recorded<std::string> message,
                        std::map<std::string, record::Recorded<runtime::Value>, std::less<>> fields) {
  record::Event::Log log;
  log.level = syntax::LogLevel::Info;
  log.message = std::move(message);
  log.fields = std::move(fields);
  log.task = "main";
  log.source.start = syntax::Pos{14, 4, 200};
  log.source.end = syntax::Pos{14, 20, 216};
  return record::Event{std::move(log)};
}

TEST(LogLine, ShowsPlaceMessageAndFieldsAsRecorded) {
  using Field = record::Recorded<runtime::Value>;
  EXPECT_EQ(format_log_event(log_event(record::Recorded<std::string>::full("ready"), {})),
            "log info main 14:5: ready\n");
  EXPECT_EQ(format_log_event(log_event(record::Recorded<std::string>::full("sent"),
                                       {{"n", Field::full(runtime::Value::number(3))},
                                        {"to", Field::full(runtime::Value::text("ops"))}})),
            "log info main 14:5: sent {\"n\":3,\"to\":\"ops\"}\n");
  EXPECT_EQ(format_log_event(log_event(record::Recorded<std::string>::redacted({"ab12", 3}),
                                       {{"x", Field::redacted({"cd34", 1})}})),
            "log info main 14:5: {\"redacted\":{\"hash\":\"ab12\",\"tokens\":3}} "
            "{\"x\":{\"redacted\":{\"hash\":\"cd34\",\"tokens\":1}}}\n");
  EXPECT_FALSE(format_log_event(record::Event{record::Event::Abort{"aborted by host"}}));
}

TEST(LogLine, ProgramTextCannotColourTheTerminalOrForgeALine) {
  using Field = record::Recorded<runtime::Value>;
  const std::string forged = "a\x1b[31mRED\nlog info main 1:1: forged\x7f\xc2\x85\\u001b";
  record::Event event = log_event(record::Recorded<std::string>::full(forged),
                                  {{"m", Field::full(runtime::Value::text(forged))}});
  std::get<record::Event::Log>(event.data).task = "ma\rin";  // a recording may say anything
  EXPECT_EQ(format_log_event(event),
            "log info ma\\rin 14:5: a\\u001b[31mRED\\nlog info main 1:1: forged\\u007f\\u0085\\\\u001b "
            "{\"m\":\"a\\u001b[31mRED\\nlog info main 1:1: forged\\u007f\\u0085\\\\u001b\"}\n");
}

TEST(Outcome, PrettyJsonKeepsTheDeclaredKeyOrder) {
  record::Pause pause;
  pause.common.run_id = "run_1_1";
  pause.common.task = "main";
  pause.detail = record::Pause::Budget{record::BudgetKey::Calls, 50, 50};
  EXPECT_EQ(pause_to_pretty(pause), R"({
  "kind": "budget",
  "run_id": "run_1_1",
  "step": 0,
  "task": "main",
  "source": {
    "start": {
      "line": 0,
      "column": 0,
      "offset": 0
    },
    "end": {
      "line": 0,
      "column": 0,
      "offset": 0
    }
  },
  "recording_offset": 0,
  "key": "calls",
  "used": 50.0,
  "limit": 50.0
})");
}

}  // namespace
}  // namespace dravelin::cli
