// The gate statement: verdicts against the task's thresholds, arms, built-in actions, `done`, and numbers that
// are not numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "interp/run_harness.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

// A task `main` with the given thresholds clause (possibly empty) whose body runs the gate lines and then
// marks `o` as "after".
std::string gate_program(const std::string& thresholds, const std::string& gate) {
  return "program p\nin risk: number\nin conf: number\nout o\n\ntask main" + thresholds + ":\n  o = \"before\"\n" +
         gate + "  o = \"after\"\n";
}

runtime::Record numbers(double risk, double conf) {
  return runtime::Record{{"risk", Value::number(risk)}, {"conf", Value::number(conf)}};
}

const char* const kThresholds = " thresholds risk_confirm 0.5, min_confidence 0.7, stop_confidence 0.3";
const char* const kBareGate = "  gate risk risk, confidence conf:\n    proceed -> o = \"proceeded\"\n";

TEST(Gate, VerdictsWithoutArmsTakeTheirBuiltInActions) {
  struct Case {
    std::string name;
    double risk;
    double conf;
    PauseKind kind;  // the outcome of the first execution
  };
  const std::vector<Case> cases = {
      {"proceed", 0.1, 0.9, PauseKind::Done},
      {"risk_at_the_threshold_confirms", 0.5, 0.9, PauseKind::Confirm},
      {"confidence_at_the_minimum_proceeds", 0.1, 0.7, PauseKind::Done},
      {"low_confidence_escalates", 0.1, 0.6, PauseKind::Escalate},
      {"stop_wins_over_confirm", 0.9, 0.2, PauseKind::Stopped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run(gate_program(kThresholds, "  gate risk risk, confidence conf:\n    stop -> o = \"no\"\n"),
                numbers(c.risk, c.conf));
    TaskOutcome outcome = run.execute();
    // The stop arm is taken where the verdict is stop: the task then goes on after the gate.
    const PauseKind expected = c.kind == PauseKind::Stopped ? PauseKind::Done : c.kind;
    ASSERT_EQ(outcome.pause.kind(), expected) << describe(outcome.pause);
    if (expected == PauseKind::Done) {
      EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::text("after"));
    }
  }
}

TEST(Gate, ConfirmationAnsweredYesGoesOnAndAnythingElseStops) {
  for (const std::string answer : {"yes", "no", "Yes"}) {
    SCOPED_TRACE(answer);
    TestRun run(gate_program(kThresholds, "  gate risk risk, confidence conf:\n    stop -> o = \"x\"\n"),
                numbers(0.8, 0.9));
    TaskOutcome first = run.execute();
    const auto& confirm = detail<Pause::Confirm>(first.pause);
    EXPECT_EQ(confirm.message, "Gate asked for confirmation");
    EXPECT_EQ(confirm.options, (std::vector<std::string>{"yes", "no"}));
    EXPECT_EQ(confirm.context, (runtime::Record{{"confidence", Value::number(0.9)}, {"risk", Value::number(0.8)}}));
    TaskOutcome second = run.answer(answer);
    if (answer == "yes") {
      ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
    } else {
      EXPECT_EQ(detail<Pause::Stopped>(second.pause).reason, "Gate confirmation declined");
    }
  }
}

TEST(Gate, BuiltInEscalateAndStop) {
  {
    TestRun run(gate_program(kThresholds, "  gate risk risk, confidence conf:\n    proceed -> o = \"p\"\n"),
                numbers(0.1, 0.6));
    TaskOutcome first = run.execute();
    const auto& escalate = detail<Pause::Escalate>(first.pause);
    EXPECT_EQ(escalate.reason, "Gate escalated");
    EXPECT_EQ(escalate.context, (runtime::Record{{"confidence", Value::number(0.6)}, {"risk", Value::number(0.1)}}));
    TaskOutcome second = run.resume(Resume{Resume::Continue{true}});
    ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
  }
  {
    TestRun run(gate_program(kThresholds, kBareGate), numbers(0.9, 0.2));
    TaskOutcome outcome = run.execute();
    EXPECT_EQ(detail<Pause::Stopped>(outcome.pause).reason, "Gate stopped");
    EXPECT_EQ(run.kinds().back(), "end");
  }
}

TEST(Gate, ArmsRunInsteadOfTheBuiltInActions) {
  TestRun run(gate_program(kThresholds,
                           "  gate risk risk, confidence conf:\n    confirm ->\n      o = \"confirmed\"\n"
                           "      return\n"),
              numbers(0.9, 0.9));
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  // The arm's `return` ends the task body.
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::text("confirmed"));
}

TEST(Gate, ATaskWithoutThresholdsAlwaysProceeds) {
  TestRun run(gate_program("", kBareGate), numbers(1, 0));
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::text("after"));
}

TEST(Gate, ReachingDoneProceedsAndEndsTheTaskUnlessItVerifies) {
  const std::string thresholds = " thresholds stop_confidence 0.3, done 0.8";
  const std::string gate = "  gate risk risk, confidence conf, done 0.9:\n    proceed -> o = \"proceeded\"\n";
  {
    TestRun run(gate_program(thresholds, gate), numbers(0.9, 0.1));
    TaskOutcome outcome = run.execute();
    ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
    // The stop verdict was overridden, the proceed arm ran, and the task ended at the gate.
    EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::text("proceeded"));
  }
  {
    TestRun run(gate_program(thresholds, gate + "  n = 0\n  until verify(n > 0), max 1:\n    n = 1\n"),
                numbers(0.9, 0.1));
    TaskOutcome outcome = run.execute();
    ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
    EXPECT_EQ(detail<Pause::Done>(outcome.pause).outputs.at("o"), Value::text("after"));
    EXPECT_TRUE(detail<Pause::Done>(outcome.pause).verified);
  }
}

// A risk or confidence that is not a number gives no ground to go on: the gate asks for confirmation (even
// where `done` would have been reached), and the paused run resumes over its own journal.
TEST(Gate, NotANumberAsksForConfirmation) {
  const double nan = std::nan("");
  for (const auto& [name, risk, conf] : {std::tuple{"risk", nan, 0.9}, std::tuple{"confidence", 0.1, nan}}) {
    SCOPED_TRACE(name);
    TestRun run(gate_program(" thresholds done 0.5", "  gate risk risk, confidence conf, done 1:\n"
                                                      "    stop -> o = \"stopped\"\n"),
                numbers(risk, conf));
    run.with_recording();
    TaskOutcome first = run.execute();
    ASSERT_EQ(first.pause.kind(), PauseKind::Confirm) << describe(first.pause);
    // The recording holds null where the number was not one.
    const std::string& pause_line = run.recording.lines[run.recording.lines.size() - 2];
    EXPECT_NE(pause_line.find("\"event\":\"pause\""), std::string::npos);
    EXPECT_NE(pause_line.find("\"" + std::string(name) + "\":null"), std::string::npos) << pause_line;
    TaskOutcome second = run.answer("yes");
    ASSERT_EQ(second.pause.kind(), PauseKind::Done) << describe(second.pause);
    EXPECT_EQ(detail<Pause::Done>(second.pause).outputs.at("o"), Value::text("after"));
  }
}

TEST(Gate, NumbersOfTheWrongKindEndTheRun) {
  TestRun run("program p\nout o\n\ntask main:\n  gate risk \"high\", confidence 0.5:\n    proceed -> o = 1\n");
  TaskOutcome outcome = run.execute();
  EXPECT_EQ(detail<Pause::Error>(outcome.pause).message, "expected a number for `gate risk`, got text");
}

}  // namespace
}  // namespace dravelin::interp
