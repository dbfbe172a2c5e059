// The small effects of expressions (`log`, `now()`, `random()`, `trail`), the minutes budget, and host
// cancellation at the task's start, at a pause and during a request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interp/run_harness.h"
#include "zem/xoshiro.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using Strings = std::vector<std::string>;

TEST(Effects, LogRecordsItsLevelMessageFieldsAndTheTaskLabel) {
  TestRun run("program p\nout o\n\ndef note(x):\n  log debug \"in def {x}\"\n  return x\n\n"
              "task main:\n  x = 3\n  o = log warn \"saw {x}\" {x, double: x * 2}\n  y = note(1)\n");
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  // A `log` evaluates to the value it logged.
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::text("saw 3"));
  const auto logs = run.events_of<Event::Log>();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0]->level, syntax::LogLevel::Warn);
  EXPECT_EQ(*logs[0]->message.if_full(), "saw 3");
  ASSERT_EQ(logs[0]->fields.size(), 2u);
  EXPECT_EQ(*logs[0]->fields.at("double").if_full(), Value::number(6));
  EXPECT_EQ(*logs[0]->fields.at("x").if_full(), Value::number(3));
  EXPECT_EQ(logs[0]->task, "main");
  EXPECT_EQ(logs[0]->source.start.line, 10u);
  // A def has no label of its own: its logs carry the task's.
  EXPECT_EQ(logs[1]->level, syntax::LogLevel::Debug);
  EXPECT_EQ(logs[1]->task, "main");
}

TEST(Effects, ClockReadingsAndRandomDrawsAreRecordedAndServedAgain) {
  TestRun run("program p\nout o\n\ntask main:\n  o = [now(), random()]\n  escalate \"wait\"\n");
  run.clock_ms = kStartMs + 1234;
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Escalate);
  zem::Xoshiro256StarStar expected = zem::Xoshiro256StarStar::from_seed(7);
  const Value first = Value::list({Value::text("2024-05-01T12:00:01.234Z"), Value::number(expected.next_f64())});
  // The later execution is served the same reading and the same draw, though the clock has moved on.
  run.clock_ms += 5000;
  TaskOutcome outcome = run.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), first);
}

TEST(Effects, TrailWithoutStepRecordsIsEmpty) {
  TestRun run("program p\nout o\n\ntask main:\n  o = trail 5\n");
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::list({}));
}

TEST(Effects, CapabilityVerbsAndFocusAreRefusedWithAnError) {
  struct Case {
    std::string name;
    std::string program;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"verb", "needs coder: agent\n\ntask main:\n  h = coder.spawn \"fix it\"\n",
       "`coder.spawn` cannot be called: capability verbs are not supported yet"},
      {"focus", "in t: text\n\ntask main:\n  x = focus t on \"bugs\", max 10\n", "`focus` is not supported yet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run("program p\n" + c.program, runtime::Record{{"t", Value::text("x")}});
    TaskOutcome outcome = run.execute();
    EXPECT_EQ(detail<Pause::Error>(outcome.pause).message, c.message);
  }
}

// Each request takes thirty seconds of the clock: the limit of one minute is passed by the third, whose
// charges stand, and the time spent paused afterwards does not count.
TEST(Effects, TheMinutesBudgetIsEnforcedByEveryCheckWithoutTheTimePaused) {
  TestRun run("program p\nin t: text\nout o\n\ntask main budget minutes 1:\n  o = 0\n  loop max 4:\n"
              "    p = t feels \"x\"\n    o = o + 1\n",
              runtime::Record{{"t", Value::text("x")}});
  run.service.on_ask = [&] { run.clock_ms += 30000; };
  TaskOutcome first = run.execute();
  ASSERT_EQ(first.pause.kind(), PauseKind::Budget) << describe(first.pause);
  const auto& budget = detail<Pause::Budget>(first.pause);
  EXPECT_EQ(budget.key, record::BudgetKey::Minutes);
  EXPECT_EQ(budget.used, 1.5);
  EXPECT_EQ(budget.limit, 1);
  EXPECT_EQ(run.service.asked.size(), 3u);

  run.clock_ms += 3600000;  // an hour before anyone answers
  TaskOutcome second = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Minutes, 2.5}}}});
  ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
  EXPECT_EQ(detail<Pause::Done>(second.pause).usage.minutes, 2);
  EXPECT_EQ(run.service.asked.size(), 4u);
}

TEST(Effects, AHostCancellationStopsTheRunWhereTheRunIsLive) {
  {
    SCOPED_TRACE("before the first statement");
    TestRun run("program p\nout o\n\ntask main:\n  o = 1\n");
    run.run.abort_flag->store(true);
    TaskOutcome outcome = run.execute();
    EXPECT_EQ(detail<Pause::Stopped>(outcome.pause).reason, "aborted by host");
    EXPECT_EQ(run.kinds(), (Strings{"start", "abort", "pause", "end"}));
    EXPECT_FALSE(run.run.abort_flag->load());
  }
  {
    SCOPED_TRACE("at a pause");
    TestRun run("program p\nout o\n\ntask main:\n  escalate \"wait\"\n  o = 1\n");
    ASSERT_EQ(run.execute().pause.kind(), PauseKind::Escalate);
    run.run.abort_flag->store(true);
    TaskOutcome outcome = run.execute();
    EXPECT_EQ(detail<Pause::Stopped>(outcome.pause).reason, "aborted by host");
    EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "pause", "draw", "abort", "pause", "end"}));
  }
  {
    SCOPED_TRACE("during a request");
    TestRun run("program p\nin t: text\nout o\n\ntask main:\n  o = t feels \"x\"\n",
                runtime::Record{{"t", Value::text("x")}});
    run.service.on_ask = [&] { run.run.abort_flag->store(true); };
    TaskOutcome outcome = run.execute();
    EXPECT_EQ(detail<Pause::Stopped>(outcome.pause).reason, "aborted by host");
    // The answers are recorded and charged; the cancellation follows them.
    EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "request", "answers", "abort", "pause", "end"}));
    EXPECT_EQ(run.events_of<Event::End>().front()->usage.calls, 1u);
  }
}

}  // namespace
}  // namespace dravelin::interp
