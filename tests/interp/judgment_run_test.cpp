// A judgment's `log` lines evaluated outside any run, once its answers are known.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interp/run_harness.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

const char* const kProgram =
    "program p\n\n"
    "def check(t):\n  p = t feels \"urgent\"\n  return p\n\n"
    "judgment triage(ticket):\n"
    "  a = ticket feels \"a\"\n"
    "  log info \"after a\" {a}\n"
    "  b = ticket feels \"b\"\n"
    "  c = ticket feels \"c\"\n"
    "  log warn \"after all\" {a, b, c}\n\n"
    "judgment asks(ticket):\n"
    "  a = ticket feels \"a\"\n"
    "  log info \"asked\" {again: check(ticket)}\n\n"
    "judgment quiet(ticket):\n"
    "  a = ticket feels \"a\"\n\n"
    "task main:\n  x = 1\n";

struct JudgmentRun {
  JudgmentRun() : ir(compile(kProgram)) { scopes.define("ticket", Value::text("the site is down")); }

  Result<std::vector<runtime::JudgmentLogEntry>, RuntimeError> run(const std::string& name,
                                                                   const runtime::Record& results) {
    return run_judgment(ir, test_profile(), service, *ir.find_judgment(name), scopes, results);
  }

  ir::Ir ir;
  ScriptedService service;
  runtime::Scopes scopes;
};

TEST(JudgmentRun, ResultsAreBoundAsTheLogLinesReachThem) {
  JudgmentRun judge;
  const runtime::Record results{{"a", Value::prob(0.1)}, {"b", Value::prob(0.2)}, {"c", Value::prob(0.3)}};
  auto entries = judge.run("triage", results);
  ASSERT_TRUE(entries.ok()) << entries.error();
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].message, "after a");
  EXPECT_EQ((*entries)[0].fields, (runtime::Record{{"a", Value::prob(0.1)}}));
  EXPECT_EQ((*entries)[0].task, "triage");
  EXPECT_EQ((*entries)[1].level, syntax::LogLevel::Warn);
  EXPECT_EQ((*entries)[1].fields, results);
  EXPECT_EQ((*entries)[1].task, "triage");
  // The bindings stay in the caller's scopes.
  EXPECT_EQ(*judge.scopes.lookup("c"), Value::prob(0.3));
  EXPECT_TRUE(judge.service.asked.empty());
}

TEST(JudgmentRun, WithoutAnswersEveryResultIsNone) {
  JudgmentRun judge;
  auto entries = judge.run("triage", {});
  ASSERT_TRUE(entries.ok()) << entries.error();
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[1].fields,
            (runtime::Record{{"a", Value::none()}, {"b", Value::none()}, {"c", Value::none()}}));
}

TEST(JudgmentRun, AJudgmentWithoutLogLinesTouchesNothing) {
  JudgmentRun judge;
  auto entries = judge.run("quiet", {{"a", Value::prob(0.5)}});
  ASSERT_TRUE(entries.ok()) << entries.error();
  EXPECT_TRUE(entries->empty());
  EXPECT_EQ(judge.scopes.lookup("a"), nullptr);
}

TEST(JudgmentRun, ALogLineMayAskTheJudgesService) {
  JudgmentRun judge;
  auto entries = judge.run("asks", {{"a", Value::prob(0.5)}});
  ASSERT_TRUE(entries.ok()) << entries.error();
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].fields.at("again"), Value::prob(0.9));
  EXPECT_EQ(judge.service.asked.size(), 1u);
}

// An unavailable service inside a log line parks a retryable error pause in the temporary run, which comes
// back as that same error, retryable flag and all.
TEST(JudgmentRun, FailuresOfTheLogLinesAreReturnedAsErrors) {
  JudgmentRun judge;
  judge.service.failures.push_back(zem::ZemError{zem::ZemError::Kind::Unavailable, "timed out"});
  auto entries = judge.run("asks", {{"a", Value::prob(0.5)}});
  ASSERT_FALSE(entries.ok());
  EXPECT_EQ(entries.error().code, RuntimeErrorCode::ZemUnavailable);
  EXPECT_EQ(entries.error().message, "timed out");
  EXPECT_TRUE(entries.error().retryable);
  EXPECT_FALSE(entries.error().span.is_zero());
}

TEST(JudgmentRun, LogEventsBecomeEntriesAndOtherEventsNothing) {
  Event::Log log;
  log.level = syntax::LogLevel::Error;
  log.message = record::Recorded<std::string>::full("broken");
  log.fields.emplace("n", record::Recorded<Value>::full(Value::number(2)));
  log.task = "triage";
  auto entry = log_entry_from_event(Event{log});
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->message, "broken");
  EXPECT_EQ(entry->fields, (runtime::Record{{"n", Value::number(2)}}));
  EXPECT_EQ(entry->level, syntax::LogLevel::Error);
  EXPECT_FALSE(log_entry_from_event(Event{Event::Abort{"aborted by host"}}).has_value());
}

}  // namespace
}  // namespace dravelin::interp
