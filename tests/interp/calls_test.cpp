// Calls of the program's own defs, tasks, machines and prelude units: parameters, frames, budgets of called
// tasks, and the recursion limit of defs and of tasks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interp/run_harness.h"
#include "support/values.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using test_values::num;

TaskOutcome run_main(TestRun& run) {
  TaskOutcome outcome = run.execute();
  return outcome;
}

TEST(Calls, ParametersBindNamedThenPositionalThenDefaults) {
  struct Case {
    std::string name;
    std::string call;
    Value out;
  };
  const std::vector<Case> cases = {
      {"named_covers_the_first", "f(2, a 1)", Value::list({num(1), num(2), num(10)})},
      {"positional_in_order", "f(1, 2, 3)", Value::list({num(1), num(2), num(3)})},
      {"default_sees_earlier_params", "f(4, 5)", Value::list({num(4), num(5), num(10)})},
      {"extra_arguments_are_dropped", "f(1, 2, 3, 4, z 9)", Value::list({num(1), num(2), num(3)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run("program p\nout o\n\ndef f(a, b, c = 10):\n  return [a, b, c]\n\ntask main:\n  o = " + c.call + "\n");
    TaskOutcome outcome = run_main(run);
    ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
    EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), c.out);
  }
}

TEST(Calls, CallErrorsEndTheRun) {
  struct Case {
    std::string name;
    std::string program;
    RuntimeErrorCode code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"missing_argument", "def f(a, b):\n  return a\n\ntask main:\n  o = f(1)\n", RuntimeErrorCode::TypeError,
       "`f` needs an argument `b`"},
      {"machine_without_max",
       "machine m():\n  initial a\n  state a:\n    on go \"go\" -> b\n  state b done\n\ntask main:\n  o = m()\n",
       RuntimeErrorCode::TypeError, "machine `m` needs the numeric named argument `max`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run("program p\nout o\n\n" + c.program);
    TaskOutcome outcome = run_main(run);
    const auto& error = detail<Pause::Error>(outcome.pause);
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.message, c.message);
  }
}

TEST(Calls, ADefWithoutReturnGivesNoneAndItsLoopsCostNoSteps) {
  TestRun run("program p\nout o\n\ndef f():\n  loop max 3:\n    x = 1\n\ntask main budget steps 1:\n  o = f()\n");
  TaskOutcome outcome = run_main(run);
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::none());
}

TEST(Calls, PreludeUnitsAreFoundByTheirBareNames) {
  TestRun run(
      "program p\nout o\n\ntask main:\n  o = repeats([{action: \"a\", target: \"t\", args: \"x\"}, "
      "{action: \"a\", target: \"t\", args: \"x\"}])\n");
  TaskOutcome outcome = run_main(run);
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), num(2));
}

// A called task runs under its own budget and thresholds: its pauses carry its own name, and extending its
// limit leaves the caller's alone.
TEST(Calls, ACalledTaskPausesOnItsOwnBudget) {
  TestRun run(
      "program p\nin t: text\nout o\n\ntask inner budget calls 1:\n  loop max 2:\n    a = t feels \"x\"\n"
      "  return 2\n\ntask main budget calls 5:\n  o = inner()\n",
      runtime::Record{{"t", Value::text("x")}});
  TaskOutcome first = run_main(run);
  ASSERT_EQ(first.pause.kind(), PauseKind::Budget) << describe(first.pause);
  EXPECT_EQ(first.pause.common.task, "inner");
  EXPECT_EQ(detail<Pause::Budget>(first.pause).limit, 1);
  TaskOutcome second = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Calls, 2}}}});
  ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
  EXPECT_EQ(detail<Pause::Done>(second.pause).outputs.at("o"), num(2));
  EXPECT_EQ(detail<Pause::Done>(second.pause).usage.calls, 2u);
}

// Sixty-four frames of a def or of a task may stand at once; the next call fails with the recursion limit
// instead of exhausting the stack. (The root task is one of the sixty-four task frames.)
TEST(Calls, DefsAndTasksRecursePastTheLimitWithAnError) {
  struct Case {
    std::string name;
    std::string program;
    double allowed;  // the deepest depth that succeeds
  };
  const std::vector<Case> cases = {
      {"def", "def down(n):\n  if n <= 1:\n    return 1\n  return 1 + down(n - 1)\n\ntask main:\n  o = down(depth)\n",
       64},
      {"task", "task down(n):\n  if n <= 1:\n    return 1\n  return 1 + down(n - 1)\n\ntask main:\n  o = down(depth)\n",
       63},
      // Both limits at once: sixty-four def frames above the sixty-four task frames.
      {"defs_over_the_deepest_task",
       "def deep(n):\n  if n <= 1:\n    return 1\n  return 1 + deep(n - 1)\n\n"
       "task down(n):\n  if n <= 1:\n    return deep(64) - 63\n  return 1 + down(n - 1)\n\n"
       "task main:\n  o = down(depth)\n",
       63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = "program p\nin depth: number\nout o\n\n" + c.program;
    {
      TestRun run(source, runtime::Record{{"depth", num(c.allowed)}});
      TaskOutcome outcome = run_main(run);
      ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
      EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), num(c.allowed));
    }
    {
      TestRun run(source, runtime::Record{{"depth", num(c.allowed + 1)}});
      TaskOutcome outcome = run_main(run);
      const auto& error = detail<Pause::Error>(outcome.pause);
      EXPECT_EQ(error.code, RuntimeErrorCode::RecursionLimit);
      EXPECT_EQ(error.message, "`down` recursed past 64 frames");
      EXPECT_FALSE(error.retryable);
    }
  }
}

}  // namespace
}  // namespace dravelin::interp
