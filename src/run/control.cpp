// Run control: moving a run forward, answering its pauses and cancelling it.
#include <cmath>
#include <utility>
#include <variant>

#include "interp/interpreter.h"
#include "interp/journal.h"
#include "run/run.h"

namespace dravelin::run {
namespace {

using record::Pause;
using record::PauseKind;
using record::Resume;

// Why `payload` cannot answer `pause`, or nothing when it can.
std::optional<std::string> payload_refusal(const Pause& pause, const Resume& payload) {
  switch (pause.kind()) {
    case PauseKind::Confirm:
      if (std::holds_alternative<Resume::Answer>(payload.data)) return std::nullopt;
      return "expected `{ answer, text? }`";
    case PauseKind::Escalate: {
      const auto* go_on = std::get_if<Resume::Continue>(&payload.data);
      if (go_on != nullptr && go_on->resume) return std::nullopt;
      return "expected `{ resume: true }`";
    }
    case PauseKind::Waiting:
      if (std::holds_alternative<Resume::Nothing>(payload.data)) return std::nullopt;
      return "a waiting pause takes nothing";
    case PauseKind::Budget: {
      const auto* extend = std::get_if<Resume::Extend>(&payload.data);
      bool fits = extend != nullptr && !extend->extend.empty();
      // A limit of NaN or infinity would switch the budget off and be recorded as null, which no replay could
      // read back as the same limit.
      if (fits) {
        for (const auto& [key, limit] : extend->extend) fits = fits && std::isfinite(limit);
      }
      if (fits) return std::nullopt;
      return "expected `{ extend: { key: n } }`";
    }
    case PauseKind::Error: {
      const auto* retry = std::get_if<Resume::Retry>(&payload.data);
      if (retry != nullptr && retry->retry) return std::nullopt;
      return "expected `{ retry: true }`";
    }
    case PauseKind::Stopped:
    case PauseKind::Done:
      break;
  }
  return "this pause is terminal";
}

// Discards the journal's events from `at` on.
void drop_from(interp::Journal& journal, uint64_t at) {
  journal.cut_at.reset();
  if (at < journal.events.size()) journal.events.erase(journal.events.begin() + static_cast<std::ptrdiff_t>(at), journal.events.end());
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
  if (auto refusal = payload_refusal(*last_pause_, payload)) {
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
      drop_from(journal, journal.cursor);
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
        drop_from(journal, keep);
        journal.replaying = false;
      }
      break;
  }
  request_abort(state_->abort_flag);
  (void)execute();
  return Unit{};
}

}  // namespace dravelin::run
