// Statement execution through compiled programs: every statement, the task's start and end, parameters and
// outputs, scopes, and how each way of ending an execution becomes its outcome.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interp/run_harness.h"
#include "runtime/value_json.h"
#include "support/values.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using Strings = std::vector<std::string>;

using test_values::num;
using test_values::txt;

// Runs the program's `main` to its end and returns its outputs.
runtime::Record outputs_of(TestRun& run) {
  TaskOutcome outcome = run.execute();
  EXPECT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  return detail<Pause::Done>(outcome.pause).outputs;
}

TEST(Statements, EachStatementDoesItsWork) {
  struct Case {
    std::string name;
    std::string body;  // the body of `task main`, indented by two spaces
    Value out;         // the value of the output `o` at the end
  };
  const std::vector<Case> cases = {
      {"assign_and_field_path", "  r = {a: {b: 1}}\n  r.a.b = 5\n  r.a.c = 6\n  o = r\n",
       Value::record({{"a", Value::record({{"b", num(5)}, {"c", num(6)}})}})},
      {"expression_statement", "  o = 1\n  len([o])\n", num(1)},
      {"if_elif_else",
       "  x = 2\n  if x == 1:\n    o = \"one\"\n  elif x == 2:\n    o = \"two\"\n  else:\n    o = \"many\"\n",
       txt("two")},
      {"else_taken", "  if false:\n    o = 1\n  else:\n    o = 2\n", num(2)},
      {"for_with_two_names", "  o = 0\n  for k, v in [[\"a\", 1], [\"b\", 2]]:\n    o = o + v\n", num(3)},
      {"loop_runs_max_times", "  o = 0\n  loop max 3:\n    o = o + 1\n", num(3)},
      {"loop_max_zero_never_runs", "  o = 0\n  loop max 0:\n    o = o + 1\n", num(0)},
      {"until_stops_when_true", "  o = 0\n  until o >= 2, max 10:\n    o = o + 1\n", num(2)},
      {"until_body_runs_at_most_max", "  o = 0\n  until false, max 2:\n    o = o + 1\n", num(2)},
      {"break_in_if_ends_loop", "  o = 0\n  loop max 5:\n    o = o + 1\n    if o == 2:\n      break\n", num(2)},
      {"continue_in_if_skips", "  o = 0\n  for x in [1, 2, 3]:\n    if x == 2:\n      continue\n    o = o + x\n",
       num(4)},
      {"return_ends_the_task", "  o = 1\n  return 5\n  o = 2\n", num(1)},
      {"break_at_task_level_loop_ends_body_only", "  o = 0\n  loop max 3:\n    o = o + 7\n    break\n  o = o + 1\n",
       num(8)},
      {"shape_without_caps", "  s = shape:\n    b 2\n    a 1\n  o = s\n",
       Value::record({{"a", num(1)}, {"b", num(2)}})},
      {"variable_of_outer_scope_updated_in_loop", "  o = 0\n  loop max 2:\n    o = o + 5\n", num(10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run("program p\nout o\n\ntask main:\n" + c.body);
    runtime::Record outputs = outputs_of(run);
    EXPECT_EQ(outputs["o"], c.out) << runtime::debug_string(outputs["o"]);
  }
}

TEST(Statements, StartAndEndEventsFrameTheRun) {
  TestRun run("program p\nin name: text\nout o\nneeds coder: agent\n\ntask main:\n  o = \"hi {name}\"\n",
              runtime::Record{{"name", txt("ada")}});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done);
  EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "draw", "pause", "end"}));
  const auto& start = *run.events_of<Event::Start>().front();
  EXPECT_EQ(start.program, "p");
  EXPECT_EQ(start.task, "main");
  EXPECT_EQ(start.inputs, (runtime::Record{{"name", txt("ada")}}));
  EXPECT_EQ(start.bindings, (std::vector<record::BindingRecord>{{"coder", "agent"}}));
  EXPECT_EQ(start.ir_version, "0.1");
  const auto& end = *run.events_of<Event::End>().front();
  EXPECT_EQ(end.kind, PauseKind::Done);
  EXPECT_EQ(end.outputs, (runtime::Record{{"o", txt("hi ada")}}));
  // The done pause carries the byte offset of its own line.
  const auto& done_line = run.run.journal.stamped[3];
  std::string before;
  for (size_t i = 0; i < 3; ++i) {
    const auto& line = run.run.journal.stamped[i];
    record::write_recorded_line(before, line.ts, line.run_id, line.seq, line.metadata ? &*line.metadata : nullptr,
                                line.event);
    before += '\n';
  }
  EXPECT_EQ(outcome.pause.common.recording_offset, before.size());
  EXPECT_EQ(done_line.seq, 3u);
}

TEST(Statements, ParametersTakeInputsThenDefaultsThenNone) {
  TestRun run("program p\nout o\n\ntask work(a = 1, b = a + 1, c):\n  o = [a, b, c]\n\ntask main:\n  x = 1\n",
              runtime::Record{{"a", num(10)}});
  TaskOutcome outcome = run.execute("work");
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::list({num(10), num(11), Value::none()}));
}

TEST(Statements, AnOutputNeverAssignedIsNoneEvenWhenAnInputHasItsName) {
  TestRun run("program p\nin o: number\nout o\n\ntask main:\n  x = o\n", runtime::Record{{"o", num(3)}});
  EXPECT_EQ(outputs_of(run)["o"], Value::none());
}

TEST(Statements, StopEndsTheRunWithItsReasonAndAnEndEvent) {
  TestRun run("program p\n\ntask main:\n  n = 3\n  stop \"gave up after {n}\"\n  n = 4\n");
  TaskOutcome outcome = run.execute();
  EXPECT_EQ(detail<Pause::Stopped>(outcome.pause).reason, "gave up after 3");
  // The clock is read once more for the usage of the end.
  EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "pause", "draw", "end"}));
  EXPECT_EQ(run.events_of<Event::End>().front()->kind, PauseKind::Stopped);
}

TEST(Statements, EscalatePausesAndGoesOnAfterTheResume) {
  TestRun run("program p\nout o\n\ntask main:\n  o = 1\n  escalate \"look at {o}\"\n  o = 2\n");
  TaskOutcome first = run.execute();
  ASSERT_EQ(first.pause.kind(), PauseKind::Escalate);
  EXPECT_EQ(detail<Pause::Escalate>(first.pause).reason, "look at 1");
  EXPECT_EQ(first.pause.common.task, "main");
  // A resumable pause ends its journal with the clock reading after it, and records no end.
  EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "pause", "draw"}));

  run.clock_ms += 90000;
  TaskOutcome second = run.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
  EXPECT_EQ(detail<Pause::Done>(second.pause).outputs.at("o"), num(2));
  EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "pause", "draw", "resume", "draw", "draw", "pause", "end"}));
  // The minute and a half spent paused is not the task's time.
  EXPECT_EQ(detail<Pause::Done>(second.pause).usage.minutes, 0);
}

TEST(Statements, ErrorsEndTheRunWithAnErrorPause) {
  struct Case {
    std::string name;
    std::string body;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"for_over_a_number", "  for x in 3:\n    y = x\n", "expected a list to iterate, got number"},
      {"unpacking", "  for a, b in [[1]]:\n    y = a\n", "cannot unpack list into 2 names"},
      {"field_of_a_number", "  r = {a: 1}\n  r.a.b = 2\n", "expected a record, got number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run("program p\n\ntask main:\n" + c.body);
    TaskOutcome outcome = run.execute();
    const auto& error = detail<Pause::Error>(outcome.pause);
    EXPECT_EQ(error.code, RuntimeErrorCode::TypeError);
    EXPECT_EQ(error.message, c.message);
    EXPECT_FALSE(error.retryable);
    EXPECT_FALSE(outcome.pause.common.source.is_zero());
    EXPECT_EQ(run.kinds().back(), "end");
  }
}

// A task the program does not declare leaves nothing behind: no start, no pause, no end, no recording line.
TEST(Statements, AMissingTaskRecordsNothing) {
  TestRun run("program p\n\ntask main:\n  x = 1\n");
  run.with_recording();
  TaskOutcome outcome = run.execute("other");
  const auto& error = detail<Pause::Error>(outcome.pause);
  EXPECT_EQ(error.message, "`p` declares no task `other`");
  EXPECT_FALSE(error.retryable);
  EXPECT_TRUE(run.run.journal.events.empty());
  EXPECT_TRUE(run.recording.lines.empty());
  EXPECT_EQ(outcome.pause.common.task, "other");
}

TEST(Statements, StepsCountTheOutermostLoopOfTheTaskOnly) {
  TestRun run(
      "program p\nout o\n\ndef inner():\n  loop max 4:\n    x = 1\n\n"
      "task main:\n  loop max 3:\n    loop max 2:\n      y = 1\n    inner()\n");
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).usage.steps, 3u);
  EXPECT_EQ(outcome.pause.common.step, 3u);
}

TEST(Statements, TheStepsBudgetPausesAnIterationBeforeItRuns) {
  TestRun run("program p\nout o\n\ntask main budget steps 2:\n  o = 0\n  loop max 5:\n    o = o + 1\n");
  TaskOutcome first = run.execute();
  ASSERT_EQ(first.pause.kind(), PauseKind::Budget) << describe(first.pause);
  EXPECT_EQ(detail<Pause::Budget>(first.pause).key, record::BudgetKey::Steps);
  EXPECT_EQ(detail<Pause::Budget>(first.pause).used, 2);
  EXPECT_EQ(first.pause.common.step, 2u);
  TaskOutcome second = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Steps, 5}}}});
  ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
  EXPECT_EQ(detail<Pause::Done>(second.pause).outputs.at("o"), num(5));
  EXPECT_EQ(detail<Pause::Done>(second.pause).usage.steps, 5u);
}

TEST(Statements, VerifiedReportsTheVerifyTestAtTheEnd) {
  struct Case {
    std::string name;
    std::string body;
    bool verified;
  };
  const std::vector<Case> cases = {
      {"holds_after_the_loop", "  n = 0\n  until verify(n >= 2), max 5:\n    n = n + 1\n", true},
      {"stopped_at_max_but_holds_later", "  n = 0\n  until verify(n >= 9), max 1:\n    n = n + 1\n  n = 9\n", true},
      {"never_holds", "  n = 0\n  until verify(n > 5), max 2:\n    n = n + 1\n", false},
      {"no_verify_loop", "  n = 0\n  until n > 5, max 2:\n    n = n + 1\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run("program p\n\ntask main:\n" + c.body);
    TaskOutcome outcome = run.execute();
    ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
    EXPECT_EQ(detail<Pause::Done>(outcome.pause).verified, c.verified);
  }
}

}  // namespace
}  // namespace dravelin::interp
