#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "record/event.h"
#include "run/run.h"
#include "run/run_test_support.h"
#include "support/zem_server.h"

namespace dravelin::run {
namespace {

using dravelin::testing::ScopedEnv;
using record::EventKind;
using record::Pause;
using record::PauseKind;
using record::Resume;
using testing::compile_or_fail;
// The fixtures' own `Run` (gtest's) would hide the run type.
using RunHandle = dravelin::run::Run;

// Answers every `feels` with 0.9; fails while `failures_left` is above zero. Counts the requests it saw.
class CountingService final : public zem::ZemService {
 public:
  explicit CountingService(int* asked, int* failures_left) : asked_(asked), failures_left_(failures_left) {}
  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup& group) override {
    ++*asked_;
    if (*failures_left_ > 0) {
      --*failures_left_;
      return err(zem::ZemError{zem::ZemError::Kind::Unavailable, "the service is busy"});
    }
    zem::ZemResponse response;
    for (const zem::Question& question : group.questions) {
      response.answers.emplace_back(zem::ZemAnswer::Noul{question.id(), 0.9});
    }
    return response;
  }

 private:
  int* asked_;
  int* failures_left_;
};

class RunControl : public ::testing::Test {
 protected:
  void SetUp() override { env_.unset("DRAVELIN_PROFILES"); }

  RunHandle start(const std::string& text) {
    auto run = start_task_run(compile_or_fail(text), "main", {}, {});
    EXPECT_TRUE(run.ok()) << run.error();
    RunHandle started = std::move(run).value();
    started.set_service_factory([this](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>,
                                                                       runtime::RuntimeError> {
      return std::unique_ptr<zem::ZemService>(std::make_unique<CountingService>(&asked_, &failures_left_));
    });
    return started;
  }

  static Pause next_ok(RunHandle& run) {
    auto outcome = run.next();
    EXPECT_TRUE(outcome.ok()) << outcome.error();
    return outcome.ok() ? std::move(outcome).value() : Pause{};
  }

  static std::vector<EventKind> kinds(const RunHandle& run) {
    std::vector<EventKind> out;
    for (const record::Event& event : run.state().journal.events) out.push_back(event.kind());
    return out;
  }

  ScopedEnv env_;
  int asked_ = 0;
  int failures_left_ = 0;
};

constexpr const char* kDone = "program p\nout greeting\n\ntask main:\n  log info \"hello\"\n  greeting = \"hi\"\n";
constexpr const char* kConfirm =
    "program p\nout after\n\ntask main thresholds risk_confirm 0.5:\n  gate risk 0.9, confidence 0.9:\n"
    "    proceed -> log debug \"no confirmation needed\"\n"
    "  after = \"confirmed\"\n";
constexpr const char* kEscalate = "program p\n\ntask main:\n  escalate \"a person must look\"\n  stop \"resumed\"\n";
// One model request per round: the second round is over a calls budget of 1.
constexpr const char* kBudget =
    "program p\nout n\n\ntask main budget calls 1:\n  n = 0\n  s = \"x\"\n  loop max 3:\n    ok = s feels \"fine\"\n"
    "    n = n + 1\n";
constexpr const char* kRetry = "program p\nout ok\n\ntask main:\n  s = \"x\"\n  ok = s feels \"fine\"\n";

TEST_F(RunControl, ANewRunExecutesAndAnEndedRunRefusesEverything) {
  RunHandle run = start(kDone);
  EXPECT_TRUE(run.state().journal.events.empty()) << "set-up records nothing";
  const Pause done = next_ok(run);
  EXPECT_EQ(done.kind(), PauseKind::Done);
  EXPECT_EQ(run.status(), RunStatus::Ended);
  ASSERT_FALSE(run.state().journal.events.empty());
  EXPECT_EQ(run.state().journal.events.front().kind(), EventKind::Start);
  EXPECT_EQ(run.state().journal.events.back().kind(), EventKind::End);

  const size_t events = run.state().journal.events.size();
  EXPECT_EQ(run.next().error().text(), "the run has ended with `done`");
  EXPECT_EQ(run.resume(Resume{Resume::Retry{true}}).error().text(), "the run has ended with `done`");
  EXPECT_EQ(run.abort().error().text(), "the run has ended with `done`");
  EXPECT_EQ(run.state().journal.events.size(), events) << "a refused operation changes nothing";
}

TEST_F(RunControl, ResumeNeedsAPausedRun) {
  RunHandle run = start(kConfirm);
  EXPECT_EQ(run.resume(Resume{Resume::Answer{"yes", std::nullopt}}).error().text(), "the run is not paused");
  const Pause pause = next_ok(run);
  ASSERT_EQ(pause.kind(), PauseKind::Confirm);
  EXPECT_EQ(run.status(), RunStatus::Paused);
  EXPECT_EQ(run.next().error().text(),
            "a `confirm` pause cannot be resumed with this payload: the run is waiting to be resumed");
  ASSERT_TRUE(run.resume(Resume{Resume::Answer{"yes", std::nullopt}}).ok());
  EXPECT_EQ(run.status(), RunStatus::Running);
  EXPECT_FALSE(run.last_pause());
  EXPECT_EQ(run.resume(Resume{Resume::Answer{"yes", std::nullopt}}).error().text(), "the run is not paused");
  EXPECT_EQ(run.state().journal.events.back().kind(), EventKind::Resume);

  const Pause done = next_ok(run);
  ASSERT_EQ(done.kind(), PauseKind::Done);
  EXPECT_EQ(std::get<Pause::Done>(done.detail).outputs.at("after").as_text(), "confirmed");
}

TEST_F(RunControl, ADeclinedConfirmationStopsTheRun) {
  RunHandle run = start(kConfirm);
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Confirm);
  ASSERT_TRUE(run.resume(Resume{Resume::Answer{"Yes", std::nullopt}}).ok());
  const Pause stopped = next_ok(run);
  ASSERT_EQ(stopped.kind(), PauseKind::Stopped);
  EXPECT_EQ(std::get<Pause::Stopped>(stopped.detail).reason, "Gate confirmation declined");
  EXPECT_EQ(run.status(), RunStatus::Ended);
}

struct PayloadCase {
  std::string name;
  const char* program;
  int failures;  // of the model service before it answers
  Resume payload;
  std::string refusal;
};

class WrongPayloads : public RunControl, public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(WrongPayloads, AreRefusedAndLeaveTheRunPaused) {
  const PayloadCase& c = GetParam();
  failures_left_ = c.failures;
  RunHandle run = start(c.program);
  const Pause pause = next_ok(run);
  const size_t events = run.state().journal.events.size();
  auto refused = run.resume(c.payload);
  ASSERT_FALSE(refused.ok()) << "pause " << runtime::pause_kind_name(pause.kind());
  EXPECT_EQ(refused.error().text(), c.refusal);
  EXPECT_EQ(run.status(), RunStatus::Paused);
  ASSERT_TRUE(run.last_pause());
  EXPECT_EQ(*run.last_pause(), pause);
  EXPECT_EQ(run.state().journal.events.size(), events);
}

Resume extend(double calls) {
  Resume::Extend e;
  e.extend.emplace(record::BudgetKey::Calls, calls);
  return Resume{e};
}

INSTANTIATE_TEST_SUITE_P(
    Run, WrongPayloads,
    ::testing::Values(
        PayloadCase{"confirm_takes_an_answer", kConfirm, 0, Resume{Resume::Retry{true}},
                    "a `confirm` pause cannot be resumed with this payload: expected `{ answer, text? }`"},
        PayloadCase{"escalate_refuses_resume_false", kEscalate, 0, Resume{Resume::Continue{false}},
                    "a `escalate` pause cannot be resumed with this payload: expected `{ resume: true }`"},
        PayloadCase{"budget_refuses_an_empty_extend", kBudget, 0, Resume{Resume::Extend{}},
                    "a `budget` pause cannot be resumed with this payload: expected `{ extend: { key: n } }`"},
        PayloadCase{"budget_refuses_nan", kBudget, 0, extend(std::nan("")),
                    "a `budget` pause cannot be resumed with this payload: expected `{ extend: { key: n } }`"},
        PayloadCase{"budget_refuses_infinity", kBudget, 0, extend(std::numeric_limits<double>::infinity()),
                    "a `budget` pause cannot be resumed with this payload: expected `{ extend: { key: n } }`"},
        PayloadCase{"retryable_error_refuses_retry_false", kRetry, 1, Resume{Resume::Retry{false}},
                    "a `error` pause cannot be resumed with this payload: expected `{ retry: true }`"},
        PayloadCase{"waiting_is_not_for_escalate", kEscalate, 0, Resume{Resume::Nothing{}},
                    "a `escalate` pause cannot be resumed with this payload: expected `{ resume: true }`"}),
    [](const ::testing::TestParamInfo<PayloadCase>& info) { return info.param.name; });

TEST_F(RunControl, AnExtensionSetsANewLimitRatherThanAddingToIt) {
  RunHandle run = start(kBudget);
  Pause pause = next_ok(run);
  ASSERT_EQ(pause.kind(), PauseKind::Budget);
  EXPECT_EQ(std::get<Pause::Budget>(pause.detail).used, 1.0);
  EXPECT_EQ(std::get<Pause::Budget>(pause.detail).limit, 1.0);
  EXPECT_EQ(asked_, 1);

  ASSERT_TRUE(run.resume(extend(2)).ok());
  pause = next_ok(run);
  ASSERT_EQ(pause.kind(), PauseKind::Budget) << "a limit of 2 allows a second call, not three";
  EXPECT_EQ(std::get<Pause::Budget>(pause.detail).used, 2.0);
  EXPECT_EQ(std::get<Pause::Budget>(pause.detail).limit, 2.0);
  EXPECT_EQ(asked_, 2) << "the re-execution serves the first answer from the journal";

  ASSERT_TRUE(run.resume(extend(3)).ok());
  pause = next_ok(run);
  ASSERT_EQ(pause.kind(), PauseKind::Done);
  EXPECT_EQ(std::get<Pause::Done>(pause.detail).outputs.at("n").as_number(), 3.0);
  EXPECT_EQ(asked_, 3);
}

TEST_F(RunControl, AnEscalationGoesOnOnceResumed) {
  RunHandle run = start(kEscalate);
  const Pause escalated = next_ok(run);
  ASSERT_EQ(escalated.kind(), PauseKind::Escalate);
  EXPECT_EQ(std::get<Pause::Escalate>(escalated.detail).reason, "a person must look");
  ASSERT_TRUE(run.resume(Resume{Resume::Continue{true}}).ok());
  const Pause stopped = next_ok(run);
  ASSERT_EQ(stopped.kind(), PauseKind::Stopped);
  EXPECT_EQ(std::get<Pause::Stopped>(stopped.detail).reason, "resumed");
  EXPECT_EQ(run.status(), RunStatus::Ended);
}

TEST_F(RunControl, ARetryAsksTheServiceAgain) {
  failures_left_ = 1;
  RunHandle run = start(kRetry);
  Pause pause = next_ok(run);
  ASSERT_EQ(pause.kind(), PauseKind::Error);
  EXPECT_TRUE(std::get<Pause::Error>(pause.detail).retryable);
  EXPECT_EQ(run.status(), RunStatus::Paused);
  ASSERT_TRUE(run.resume(Resume{Resume::Retry{true}}).ok());
  pause = next_ok(run);
  ASSERT_EQ(pause.kind(), PauseKind::Done);
  EXPECT_EQ(asked_, 2);
}

TEST_F(RunControl, AbortStopsAPausedRunForGood) {
  RunHandle run = start(kEscalate);
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Escalate);
  ASSERT_TRUE(run.abort().ok());
  EXPECT_EQ(run.status(), RunStatus::Ended);
  ASSERT_TRUE(run.last_pause());
  ASSERT_EQ(run.last_pause()->kind(), PauseKind::Stopped);
  EXPECT_EQ(std::get<Pause::Stopped>(run.last_pause()->detail).reason, "aborted by host");
  bool abort_recorded = false;
  for (const record::Event& event : run.state().journal.events) {
    if (const auto* abort = std::get_if<record::Event::Abort>(&event.data)) {
      abort_recorded = abort->reason == "aborted by host";
    }
  }
  EXPECT_TRUE(abort_recorded);
  EXPECT_EQ(run.abort().error().text(), "the run has ended with `stopped`");
}

TEST_F(RunControl, AbortOfAnIdleRunStopsItAtItsFirstCheck) {
  RunHandle run = start(kRetry);
  ASSERT_TRUE(run.abort().ok());
  EXPECT_EQ(run.status(), RunStatus::Ended);
  ASSERT_EQ(run.last_pause()->kind(), PauseKind::Stopped);
  EXPECT_EQ(asked_, 0);
  EXPECT_EQ(kinds(run).back(), EventKind::End);
}

TEST_F(RunControl, AFlagSetFromOutsideStopsTheNextExecutionAtItsNextLiveCheck) {
  RunHandle run = start(
      "program p\nout ok\n\ntask main thresholds risk_confirm 0.5:\n  gate risk 0.9, confidence 0.9:\n"
      "    proceed -> log debug \"no confirmation needed\"\n  s = \"x\"\n  ok = s feels \"fine\"\n");
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Confirm);
  ASSERT_TRUE(run.resume(Resume{Resume::Answer{"yes", std::nullopt}}).ok());
  request_abort(run.abort_flag());  // as a host does while the run waits on it
  ASSERT_TRUE(run.abort().ok()) << "a running run only gets its flag set";
  EXPECT_EQ(run.status(), RunStatus::Running);
  const Pause stopped = next_ok(run);
  ASSERT_EQ(stopped.kind(), PauseKind::Stopped);
  EXPECT_EQ(std::get<Pause::Stopped>(stopped.detail).reason, "aborted by host");
}

TEST_F(RunControl, TheEventSinkSeesTheStartFirstAndEachEventOnce) {
  RunHandle run = start(kConfirm);
  std::vector<EventKind> first_sink;
  std::vector<EventKind> second_sink;
  run.set_event_sink([&](const record::RecordedEvent& line) -> Result<Unit, runtime::RuntimeError> {
    first_sink.push_back(line.event.kind());
    return Unit{};
  });
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Confirm);
  ASSERT_FALSE(first_sink.empty());
  EXPECT_EQ(first_sink.front(), EventKind::Start);
  const std::vector<record::RecordedEvent> queued = run.take_queued();
  ASSERT_EQ(queued.size(), first_sink.size());
  EXPECT_EQ(queued.front().seq, 0u);
  EXPECT_TRUE(queued.front().metadata) << "the start line carries the program, profile and sample";
  EXPECT_TRUE(run.take_queued().empty());

  run.set_event_sink([&](const record::RecordedEvent& line) -> Result<Unit, runtime::RuntimeError> {
    second_sink.push_back(line.event.kind());
    return Unit{};
  });
  const size_t seen_by_first = first_sink.size();
  ASSERT_TRUE(run.resume(Resume{Resume::Answer{"yes", std::nullopt}}).ok());
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Done);
  EXPECT_EQ(first_sink.size(), seen_by_first) << "a replaced sink receives nothing more";
  ASSERT_FALSE(second_sink.empty());
  EXPECT_EQ(second_sink.front(), EventKind::Resume);
  EXPECT_EQ(second_sink.back(), EventKind::End);
  for (EventKind kind : second_sink) EXPECT_NE(kind, EventKind::Start) << "served events are not pushed again";
}

TEST_F(RunControl, ASinkFailureBecomesTheOutcome) {
  RunHandle run = start(kDone);
  run.set_event_sink([](const record::RecordedEvent&) -> Result<Unit, runtime::RuntimeError> {
    return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, "the terminal went away"));
  });
  auto outcome = run.next();
  ASSERT_TRUE(outcome.ok()) << "an execution's failure is its outcome, not a refusal";
  ASSERT_EQ(outcome->kind(), PauseKind::Error);
  EXPECT_EQ(std::get<Pause::Error>(outcome->detail).message, "the terminal went away");
}

}  // namespace
}  // namespace dravelin::run
