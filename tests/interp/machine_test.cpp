// State machines run against a scripted model service: the question of a step, transitions and their bodies,
// done states and the step limit, the machine's gate, steps with no enabled event, the steps budget, answers
// that do not fit the menu, sampling, and a machine run resumed and replayed from its journal.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "interp/run_harness.h"
#include "zem/answers.h"
#include "support/values.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using Strings = std::vector<std::string>;

using test_values::num;
using test_values::txt;

// `start` offers `go` (to `middle`, logging on the way) and, when n > 5, `skip` straight to the done state
// `finish`; `middle` offers the risky `finish`.
std::string flow(const std::string& header = "", const std::string& call = "flow(n, max 10)",
                 const std::string& initial = "start") {
  return "program p\nin n: number\nout o\n\nmachine flow(n)" + header + ":\n  goal \"reach the end\"\n  initial " +
         initial +
         "\n  observe:\n    count n, max 10\n  state start:\n    on go \"move on\" -> middle:\n"
         "      log info \"went\" {n}\n    on skip \"jump to the end\" -> finish when n > 5\n"
         "  state middle:\n    on finish \"finish up\" -> finish risky\n  state finish done\n\ntask main:\n  o = " +
         call + "\n";
}

// The service answers the k-th request with the k-th label, and "stay" after the script's end.
void script(TestRun& run, Strings labels) {
  ScriptedService& service = run.service;
  service.on_ask = [&service, labels = std::move(labels)] {
    const size_t k = service.asked.size() - 1;
    service.labels["event"] = k < labels.size() ? labels[k] : "stay";
  };
}

Value entry(double step, const std::string& from, const std::string& event, const std::string& to) {
  return Value::record({{"step", num(step)}, {"from", txt(from)}, {"event", txt(event)}, {"to", txt(to)}});
}

Value result(const std::string& state, double steps, bool done, bool verified, runtime::List events) {
  return Value::record({{"state", txt(state)},
                        {"steps", num(steps)},
                        {"done", Value::boolean(done)},
                        {"verified", Value::boolean(verified)},
                        {"events", Value::list(std::move(events))}});
}

const Value& output(const TaskOutcome& outcome) { return detail<Pause::Done>(outcome.pause).outputs.at("o"); }

TEST(Machine, StepsAskTheMenuAndRunTransitionsToADoneState) {
  TestRun run(flow(), runtime::Record{{"n", num(3)}});
  script(run, {"go", "finish"});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(output(outcome),
            result("finish", 2, true, false, {entry(1, "start", "go", "middle"), entry(2, "middle", "finish", "finish")}));
  // Every machine step counts as a step of the task that called the machine.
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).usage.steps, 2u);

  ASSERT_EQ(run.service.asked.size(), 2u);
  const zem::RequestGroup& first = run.service.asked[0];
  EXPECT_EQ(first.model, "zem-test");
  ASSERT_EQ(first.questions.size(), 1u);
  const auto& question = std::get<zem::Question::Choice>(first.questions[0].data);
  EXPECT_EQ(question.id, "event");
  EXPECT_EQ(question.path, "obs");
  EXPECT_EQ(question.question, "Which enabled event should happen next to advance the goal?");
  EXPECT_EQ(question.labels, (std::vector<zem::ChoiceLabel>{
                                 zem::ChoiceLabel::make("go", "move on"),
                                 zem::ChoiceLabel::make("stay", "nothing in the observation calls for a transition yet")}));
  ASSERT_TRUE(question.instruction);
  EXPECT_EQ(question.instruction->compare, (Strings{"state", "goal", "recent"}));
  std::string state;
  zem::write_state_json(first.state, state);
  EXPECT_EQ(state, R"({"goal":"reach the end","obs":{"count":3},"recent":[],"state":"start"})");
  state.clear();
  zem::write_state_json(run.service.asked[1].state, state);
  EXPECT_EQ(state, R"({"goal":"reach the end","obs":{"count":3},"recent":[{"event":"go","from":"start","step":1,)"
                   R"("to":"middle"}],"state":"middle"})");

  const auto steps = run.events_of<Event::MachineStep>();
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(*steps[0], (Event::MachineStep{"flow", "start", {"go", "stay"}, "go", {{"go", 0.8}, {"stay", 0.2}}, 0.8,
                                           "middle"}));
  EXPECT_EQ(*steps[1], (Event::MachineStep{"flow", "middle", {"finish", "stay"}, "finish",
                                           {{"finish", 0.8}, {"stay", 0.2}}, 0.8, "finish"}));
  // The transition's body ran inside the machine's frame.
  const auto logs = run.events_of<Event::Log>();
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0]->task, "machine:flow");
  EXPECT_EQ(run.kinds(), (Strings{"start", "draw", "draw", "request", "answers", "machine_step", "log", "request",
                                  "answers", "machine_step", "draw", "pause", "end"}));
}

// Observed fields are held to their caps at every step, each cut recorded as a warning.
TEST(Machine, ObservedFieldsAreShapedAtEveryStep) {
  const std::string source =
      "program p\nin t: text\nout o\n\nmachine watch(t):\n  initial lit\n  observe:\n    note t, max 2, tail\n"
      "  state lit:\n    on dim \"switch it off\" -> dark\n  state dark done\n\ntask main:\n  o = watch(t, max 2)\n";
  TestRun run(source, runtime::Record{{"t", txt("the light is still on")}});
  script(run, {"stay", "stay"});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  ASSERT_EQ(run.service.asked.size(), 2u);
  EXPECT_EQ(run.service.asked[1].state.find("obs")->as_object().find("note")->as_string(), "still on");
  const auto warnings = run.events_of<Event::Warning>();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[1]->message, "shape field `note` was cut from 6 tokens to its cap of 2 (tail)");
}

struct EndCase {
  std::string name;
  double n;
  std::string call;
  std::string initial;
  Strings labels;
  Value out;
  size_t requests;
};
void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }

class MachineEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(MachineEnds, AtADoneStateOrAfterMaxSteps) {
  const EndCase& c = GetParam();
  TestRun run(flow("", c.call, c.initial), runtime::Record{{"n", num(c.n)}});
  script(run, c.labels);
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(output(outcome), c.out) << runtime::debug_string(output(outcome));
  EXPECT_EQ(run.service.asked.size(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, MachineEnds,
    ::testing::Values(
        EndCase{"max_zero_returns_at_once", 3, "flow(n, max 0)", "start", {}, result("start", 0, false, false, {}), 0},
        EndCase{"a_done_initial_state_returns_at_once", 3, "flow(n, max 5)", "finish", {},
                result("finish", 0, true, false, {}), 0},
        EndCase{"a_guarded_transition_into_done_verifies", 7, "flow(n, max 5)", "start", {"skip"},
                result("finish", 1, true, true, {entry(1, "start", "skip", "finish")}), 1},
        EndCase{"staying_until_max", 3, "flow(n, max 2)", "start", {"stay", "stay"},
                result("start", 2, false, false, {entry(1, "start", "stay", "start"), entry(2, "start", "stay", "start")}),
                2}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return info.param.name; });

TEST(Machine, RiskyTransitionsAreConfirmedWithTheHost) {
  const std::string source = flow(" thresholds risk_confirm 1", "flow(n, max 2)");
  for (const std::string answer : {"yes", "no"}) {
    SCOPED_TRACE(answer);
    TestRun run(source, runtime::Record{{"n", num(3)}});
    script(run, {"go", "finish"});
    TaskOutcome outcome = run.execute();
    const auto& confirm = detail<Pause::Confirm>(outcome.pause);
    EXPECT_EQ(confirm.message, "Gate asked for confirmation");
    EXPECT_EQ(confirm.options, (Strings{"yes", "no"}));
    EXPECT_EQ(confirm.context, (runtime::Record{{"confidence", num(0.8)}, {"risk", num(1)}}));
    EXPECT_EQ(outcome.pause.common.task, "machine:flow");
    EXPECT_EQ(outcome.pause.common.state, "middle");

    outcome = run.answer(answer);
    ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
    EXPECT_EQ(run.service.asked.size(), 2u) << "the re-execution is served from the journal";
    const auto steps = run.events_of<Event::MachineStep>();
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[1]->chosen, "finish");
    if (answer == "yes") {
      EXPECT_EQ(steps[1]->to, "finish");
      EXPECT_EQ(output(outcome), result("finish", 2, true, false,
                                        {entry(1, "start", "go", "middle"), entry(2, "middle", "finish", "finish")}));
    } else {
      // Declined: the machine stays, though the step keeps what was chosen.
      EXPECT_EQ(steps[1]->to, "middle");
      EXPECT_EQ(output(outcome), result("middle", 2, false, false,
                                        {entry(1, "start", "go", "middle"), entry(2, "middle", "stay", "middle")}));
    }
  }
}

struct GateCase {
  std::string name;
  std::string thresholds;
  PauseKind kind;  // the pause the first step raises
  std::string reason;
};
void PrintTo(const GateCase& c, std::ostream* out) { *out << c.name; }

class MachineGate : public ::testing::TestWithParam<GateCase> {};

// The answers come with a confidence of 0.8.
TEST_P(MachineGate, StopsEscalatesOrConfirmsEvenAStay) {
  const GateCase& c = GetParam();
  TestRun run(flow(" thresholds " + c.thresholds, "flow(n, max 1)"), runtime::Record{{"n", num(3)}});
  script(run, {"stay"});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), c.kind) << describe(outcome.pause);
  EXPECT_EQ(outcome.pause.common.task, "machine:flow");
  EXPECT_EQ(outcome.pause.common.state, "start");
  if (c.kind == PauseKind::Stopped) {
    EXPECT_EQ(detail<Pause::Stopped>(outcome.pause).reason, c.reason);
    EXPECT_EQ(run.kinds().back(), "end");
    EXPECT_EQ(run.events_of<Event::MachineStep>().size(), 1u);
    return;
  }
  if (c.kind == PauseKind::Escalate) {
    EXPECT_EQ(detail<Pause::Escalate>(outcome.pause).reason, c.reason);
    EXPECT_EQ(detail<Pause::Escalate>(outcome.pause).context,
              (runtime::Record{{"confidence", num(0.8)}, {"risk", num(0)}}));
  }
  // Resumed, the machine stays where it was.
  outcome = run.resume(c.kind == PauseKind::Confirm ? Resume{Resume::Answer{"yes", std::nullopt}}
                                                     : Resume{Resume::Continue{true}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(output(outcome), result("start", 1, false, false, {entry(1, "start", "stay", "start")}));
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, MachineGate,
    ::testing::Values(GateCase{"low_confidence_stops", "stop_confidence 0.9", PauseKind::Stopped, "Gate stopped"},
                      GateCase{"stop_comes_before_confirm", "stop_confidence 0.9, risk_confirm 0", PauseKind::Stopped,
                               "Gate stopped"},
                      GateCase{"low_confidence_escalates", "min_confidence 0.9", PauseKind::Escalate, "Gate escalated"},
                      GateCase{"a_zero_risk_threshold_confirms_a_stay", "risk_confirm 0", PauseKind::Confirm, ""}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return info.param.name; });

TEST(Machine, AStepWithNoEnabledEventEscalatesAndCountsOnceResumed) {
  const std::string source =
      "program p\nin n: number\nout o\n\nmachine wait(n):\n  initial idle\n  state idle:\n"
      "    on wake \"time to act\" -> over when n > 5\n  state over done\n\ntask main:\n  o = wait(n, max 1)\n";
  TestRun run(source, runtime::Record{{"n", num(1)}});
  TaskOutcome outcome = run.execute();
  const auto& escalate = detail<Pause::Escalate>(outcome.pause);
  EXPECT_EQ(escalate.reason, "no_enabled_events");
  EXPECT_TRUE(escalate.context.empty());
  EXPECT_EQ(outcome.pause.common.task, "machine:wait");
  const auto steps = run.events_of<Event::MachineStep>();
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(*steps[0], (Event::MachineStep{"wait", "idle", {"stay"}, "stay", {}, 0, "idle"}));

  outcome = run.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(output(outcome), result("idle", 1, false, false, {entry(1, "idle", "stay", "idle")}));
  EXPECT_EQ(detail<Pause::Done>(outcome.pause).usage.steps, 1u);
  EXPECT_TRUE(run.service.asked.empty());
}

TEST(Machine, TheMachinesStepsBudgetPausesWithItsOwnLabelAndExtends) {
  TestRun run(flow(" budget steps 1"), runtime::Record{{"n", num(3)}});
  script(run, {"go", "finish"});
  TaskOutcome outcome = run.execute();
  const auto& budget = detail<Pause::Budget>(outcome.pause);
  EXPECT_EQ(budget.key, record::BudgetKey::Steps);
  EXPECT_EQ(budget.used, 1);
  EXPECT_EQ(budget.limit, 1);
  EXPECT_EQ(outcome.pause.common.task, "machine:flow");
  EXPECT_EQ(outcome.pause.common.state, "middle");

  outcome = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Steps, 5}}}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(output(outcome).if_record()->at("state"), txt("finish"));
  EXPECT_EQ(run.service.asked.size(), 2u);
}

// Answers that the menu cannot take, and a menu too large for the profile.
class RecordedAnswer final : public zem::ZemService {
 public:
  explicit RecordedAnswer(std::vector<zem::ZemAnswer> answers) : answers_(std::move(answers)) {}
  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup&) override {
    zem::ZemResponse response;
    response.tokens = 10;
    response.answers = answers_;
    return response;
  }

 private:
  std::vector<zem::ZemAnswer> answers_;
};

struct RefusalCase {
  std::string name;
  double n;
  std::vector<zem::ZemAnswer> answers;  // none: the scripted service answers
  uint32_t max_criteria;
  RuntimeErrorCode code;
  std::string message;
};
void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class MachineRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(MachineRefusals, EndTheRunWithAnError) {
  const RefusalCase& c = GetParam();
  TestRun run(flow(), runtime::Record{{"n", num(c.n)}});
  run.run.metadata.profile.max_criteria_per_question = c.max_criteria;
  if (!c.answers.empty()) {
    run.run.make_service = [answers = c.answers](const zem::Profile&)
        -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
      return std::unique_ptr<zem::ZemService>(std::make_unique<RecordedAnswer>(answers));
    };
  }
  TaskOutcome outcome = run.execute();
  const auto& error = detail<Pause::Error>(outcome.pause);
  EXPECT_EQ(error.code, c.code);
  EXPECT_EQ(error.message, c.message);
  EXPECT_FALSE(error.retryable);
  EXPECT_EQ(run.kinds().back(), "end");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MachineRefusals,
    ::testing::Values(
        RefusalCase{"a_label_outside_the_menu", 3, {zem::ZemAnswer::Choice{"event", "skip", 0.9, {}}}, 8,
                    RuntimeErrorCode::ZemRejected, "machine question `event` returned unknown label `skip`"},
        RefusalCase{"a_probability_outside_the_menu", 3,
                    {zem::ZemAnswer::Choice{"event", "go", 0.9, {{"go", 0.9}, {"leap", 0.1}}}}, 8,
                    RuntimeErrorCode::ZemRejected,
                    "machine question `event` returned a probability for unknown label `leap`"},
        RefusalCase{"no_choice_answer", 3, {zem::ZemAnswer::Noul{"event", 0.5}}, 8, RuntimeErrorCode::ZemRejected,
                    "machine question `event` did not receive a Choice answer"},
        RefusalCase{"an_answer_to_another_question", 3, {zem::ZemAnswer::Choice{"other", "go", 0.9, {}}}, 8,
                    RuntimeErrorCode::ZemRejected, "machine question `event` did not receive a Choice answer"},
        RefusalCase{"a_menu_over_the_profile", 7, {}, 2, RuntimeErrorCode::PickTooMany,
                    "the machine menu has 3 labels, over the 2 allowed by `zem-test`"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(Machine, AMenuOfExactlyTheProfilesCriteriaIsAsked) {
  TestRun run(flow("", "flow(n, max 1)"), runtime::Record{{"n", num(3)}});
  run.run.metadata.profile.max_criteria_per_question = 2;
  script(run, {"go"});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(run.service.asked.size(), 1u);
}

TEST(Machine, SamplingDrawsTheChosenEvent) {
  TestRun run(flow("", "flow(n, max 1)"), runtime::Record{{"n", num(3)}}, /*sample=*/true);
  script(run, {"go"});
  TaskOutcome outcome = run.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  std::vector<double> samples;
  for (const Event::Draw* draw : run.events_of<Event::Draw>()) {
    if (draw->kind == record::DrawKind::Random) samples.push_back(draw->value.as_float());
  }
  ASSERT_EQ(samples.size(), 1u);
  const double x = samples[0];
  const auto steps = run.events_of<Event::MachineStep>();
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0]->chosen, zem::sample_label({"go", "stay"}, {{"go", 0.8}, {"stay", 0.2}}, x));
  EXPECT_TRUE(run.events_of<Event::Answers>()[0]->sampled);
}

// A machine run that paused at a confirmation is resumed from its journal and replayed from its lines.
TEST(Machine, AMachineRunResumesAndReplaysFromItsRecording) {
  const std::string source = flow(" thresholds risk_confirm 1");
  const runtime::Record inputs{{"n", num(3)}};
  TestRun run(source, inputs);
  run.with_recording();
  script(run, {"go", "finish"});
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Confirm);
  ASSERT_EQ(run.answer("yes").pause.kind(), PauseKind::Done);
  EXPECT_EQ(run.service.asked.size(), 2u);

  std::vector<Event> events;
  for (const std::string& line : run.recording.lines) {
    auto read = record::RecordedEvent::read_line(line);
    ASSERT_TRUE(read.ok()) << read.error() << "\n" << line;
    events.push_back(std::move(read->event));
  }
  TestRun replayed(source, inputs);
  replayed.run.journal.events = std::move(events);
  replayed.run.journal.replaying = true;
  std::vector<PauseKind> outcomes;
  for (int i = 0; i < 4; ++i) {
    TaskOutcome outcome = replayed.execute();
    outcomes.push_back(outcome.pause.kind());
    if (outcome.pause.ends_run()) break;
  }
  EXPECT_EQ(outcomes, (std::vector<PauseKind>{PauseKind::Confirm, PauseKind::Done}));
  EXPECT_TRUE(replayed.service.asked.empty());

  // A machine that asks differently diverges from the recording.
  TestRun changed(flow(" thresholds risk_confirm 1", "flow(n + 1, max 10)"), inputs);
  changed.run.journal.events = replayed.run.journal.events;
  changed.run.journal.replaying = true;
  const TaskOutcome diverged = changed.execute();
  EXPECT_EQ(detail<Pause::Error>(diverged.pause).code, RuntimeErrorCode::ReplayDiverged);
}

}  // namespace
}  // namespace dravelin::interp
