// Run control: moving a run forward, answering its pauses and cancelling it.
#include <chrono>
#include <cmath>
#include <utility>
#include <variant>

#include "interp/interpreter.h"
#include "interp/journal.h"
#include "record/capability.h"
#include "record/resume_fit.h"
#include "run/run.h"

namespace dravelin::run {
namespace {

using record::Pause;
using record::PauseKind;
using record::Resume;

// Where a message injected at the run's pause belongs: after the pause, the clock reading taken right after
// it and the messages injected there before, which is where a re-execution skips injected messages.
uint64_t injection_point(const interp::Journal& journal) {
  uint64_t at = *journal.paused_at + 1;
  if (at < journal.end()) {
    const auto* draw = std::get_if<record::Event::Draw>(&journal.events[at].data);
    if (draw != nullptr && draw->kind == record::DrawKind::Now) ++at;
  }
  for (; at < journal.end(); ++at) {
    const auto* call = std::get_if<record::Event::Call>(&journal.events[at].data);
    if (call == nullptr || call->verb != "send") break;
  }
  return at;
}

}  // namespace

Run::Run(std::unique_ptr<interp::RunState> state, std::string task, record::RunOptions options)
    : state_(std::move(state)), task_(std::move(task)), options_(std::move(options)) {}

Run::Run(Run&&) noexcept = default;
Run& Run::operator=(Run&&) noexcept = default;

Run::~Run() {
  // Dropping the run closes its recording (and so its companion) before the hosts go.
  if (state_ && state_->recorder) state_->recorder->close();
}

const std::string& Run::id() const { return state_->run_id; }
const std::string& Run::task() const { return task_; }

void Run::set_event_sink(interp::EventSink sink) {
  state_->event_sink = nullptr;  // the old sink is released before the new one is installed
  state_->event_sink = std::move(sink);
}

const record::Event* Run::recorded_event(uint64_t index) const {
  if (index >= recorded_count_) return nullptr;
  auto summarised = summarised_logs_.find(index);
  if (summarised != summarised_logs_.end()) return &summarised->second;
  // A journal cut at a divergence no longer holds the recording's later events.
  return index < state_->journal.events.size() ? &state_->journal.events[index] : nullptr;
}

AbortFlag Run::abort_flag() const { return state_->abort_flag; }

void Run::set_service_factory(interp::ServiceFactory factory) { state_->make_service = std::move(factory); }

std::vector<record::RecordedEvent> Run::take_queued() {
  std::vector<record::RecordedEvent> queued;
  queued.swap(state_->journal.stamped);
  return queued;
}

record::Pause Run::execute() {
  status_ = RunStatus::Running;
  last_pause_.reset();
  interp::TaskOutcome outcome = interp::execute_task(*state_, task_, options_.inputs);
  waiting_handle_ = std::move(outcome.pending_wait);
  last_kind_ = outcome.pause.kind();
  status_ = outcome.pause.ends_run() ? RunStatus::Ended : RunStatus::Paused;
  last_pause_ = outcome.pause;
  return std::move(outcome.pause);
}

bool Run::journal_continues_past_pause() const {
  const interp::Journal& journal = state_->journal;
  if (!journal.paused_at) return false;
  for (uint64_t i = *journal.paused_at + 1; i < journal.end(); ++i) {
    const record::EventKind kind = journal.events[i].kind();
    if (kind == record::EventKind::Resume || kind == record::EventKind::Abort) return true;
  }
  return false;
}

Result<record::Pause, ResumeError> Run::next() {
  switch (status_) {
    case RunStatus::Idle:
    case RunStatus::Running:
      return execute();
    case RunStatus::Ended:
      return err(ResumeError::ended(last_kind_));
    case RunStatus::Paused:
      break;
  }
  if (journal_continues_past_pause()) return execute();
  if (last_kind_ != PauseKind::Waiting) {
    return err(ResumeError::wrong_payload(last_kind_, "the run is waiting to be resumed"));
  }
  auto recorded = interp::journal::record_resume(*state_, Resume{Resume::Nothing{}});
  if (!recorded.ok()) return err(ResumeError::runtime(std::move(recorded).error()));
  return execute();
}

Result<Unit, ResumeError> Run::resume(record::Resume payload) {
  switch (status_) {
    case RunStatus::Idle:
    case RunStatus::Running:
      return err(ResumeError::not_paused());
    case RunStatus::Ended:
      return err(ResumeError::ended(last_kind_));
    case RunStatus::Paused:
      break;
  }
  if (auto refusal = record::resume_refusal(*last_pause_, payload)) {
    return err(ResumeError::wrong_payload(last_kind_, std::move(*refusal)));
  }
  auto recorded = interp::journal::record_resume(*state_, std::move(payload));
  if (!recorded.ok()) return err(ResumeError::runtime(std::move(recorded).error()));
  last_pause_.reset();
  status_ = RunStatus::Running;
  return Unit{};
}

Result<Unit, ResumeError> Run::abort() {
  interp::Journal& journal = state_->journal;
  switch (status_) {
    case RunStatus::Ended:
      return err(ResumeError::ended(last_kind_));
    case RunStatus::Running:
      request_abort(state_->abort_flag);
      return Unit{};
    case RunStatus::Idle:
      // Never executed: the cursor is at the start, so a replay loses its whole recording and goes live.
      interp::journal::drop_events_from(*state_, journal.cursor);
      journal.replaying = false;
      break;
    case RunStatus::Paused:
      if (journal.replaying) {
        uint64_t keep = journal.cursor;
        // The clock reading taken right after the pause belongs to it.
        if (keep < journal.events.size()) {
          const auto* draw = std::get_if<record::Event::Draw>(&journal.events[keep].data);
          if (draw != nullptr && draw->kind == record::DrawKind::Now) ++keep;
        }
        interp::journal::drop_events_from(*state_, keep);
        journal.replaying = false;
      }
      break;
  }
  request_abort(state_->abort_flag);
  (void)execute();
  return Unit{};
}

Result<Unit, ResumeError> Run::inject(std::string_view capability, std::string_view message) {
  if (status_ == RunStatus::Ended) return err(ResumeError::ended(last_kind_));
  const auto* waiting = status_ == RunStatus::Paused && last_pause_
                            ? std::get_if<record::Pause::Waiting>(&last_pause_->detail)
                            : nullptr;
  if (waiting == nullptr || waiting->on != capability || !waiting_handle_ ||
      waiting_handle_->capability != capability) {
    return err(ResumeError::not_paused());
  }
  // An injection is appended at the journal's end. A replay stopped at a pause its recording runs past would
  // get the message after the recorded end, where the next execution meets it in place of the program's own
  // effect and diverges.
  const interp::Journal& journal = state_->journal;
  if (journal.paused_at && injection_point(journal) < journal.end()) {
    return err(ResumeError::runtime(runtime::make_runtime_error(
        runtime::RuntimeErrorCode::ReplayDiverged,
        "a message cannot be injected into `" + std::string(capability) +
            "` here: the recording being replayed continues past this pause")));
  }
  runtime::CallArguments args;
  args.positional.push_back(runtime::Value::handle(*waiting_handle_));
  args.positional.push_back(runtime::Value::text(std::string(message)));

  const auto started = std::chrono::steady_clock::now();
  auto host = state_->hosts.find(capability);
  if (host == state_->hosts.end()) {
    const std::string name(capability);
    return err(ResumeError::runtime(runtime::make_runtime_error(
        runtime::RuntimeErrorCode::BindingMissing,
        state_->journal.replaying ? "the recording ended and the replay was started without a binding for `" + name + "`"
                                  : "capability `" + name + "` was not bound")));
  }
  runtime::Value args_value = record::call_arguments_to_value(args);
  auto answered = host->second->call("send", std::move(args));
  if (!answered.ok()) return err(ResumeError::runtime(std::move(answered).error()));
  const auto elapsed = std::chrono::steady_clock::now() - started;
  const auto latency = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  auto pushed = interp::journal::push(
      *state_, record::Event{record::Event::Call{std::string(capability), "send", std::move(args_value),
                                                 record::Recorded<runtime::Value>::full(std::move(*answered)),
                                                 latency}});
  if (!pushed.ok()) return err(ResumeError::runtime(std::move(pushed).error()));
  return Unit{};
}

}  // namespace dravelin::run
