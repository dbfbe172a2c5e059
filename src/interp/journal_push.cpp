// The journal's own bookkeeping: pushing events, the provisional cut, host cancellation, recorded failures,
// the matching of events that are not effects, and recorded resumes.
#include <optional>
#include <string>
#include <utility>

#include "interp/journal.h"
#include "interp/journal_internal.h"
#include "interp/run_state.h"
#include "record/timestamp.h"

namespace dravelin::interp::journal {

using record::Event;

void begin_execution(RunState& run) {
  run.pending_pause.reset();
  run.journal.cursor = 0;
  run.journal.request_counter = 0;
}

Result<uint64_t, RuntimeError> push(RunState& run, Event event) {
  Journal& j = run.journal;
  std::string ts = record::format_timestamp_ms(run.now_ms());
  const record::ExecutionMetadata* metadata = event.kind() == record::EventKind::Start ? &run.metadata : nullptr;

  std::optional<uint64_t> written;
  if (run.recorder) {
    // A refused line leaves everything as it was, a provisional cut included.
    auto recorded = run.recorder->record(event);
    if (!recorded.ok()) return err(std::move(recorded).error());
    written = *recorded;
  }
  if (j.cut_at) drop_events_from(run, *j.cut_at);
  const uint64_t offset = written ? *written : j.byte_offset;

  const uint64_t seq = j.next_seq++;
  // The line's length is counted whether or not a recording is kept, so that offsets mean the same either way.
  std::string line;
  line.reserve(128);
  record::write_recorded_line(line, ts, run.run_id, seq, metadata, event);
  j.line_offsets.push_back(j.byte_offset);
  j.byte_offset += line.size() + 1;

  record::RecordedEvent stamped{std::move(ts), run.run_id, seq, std::nullopt, event};
  if (metadata != nullptr) stamped.metadata = *metadata;
  j.events.push_back(std::move(event));
  j.cursor = j.events.size();
  j.stamped.push_back(std::move(stamped));
  if (run.event_sink) TRY(run.event_sink(j.stamped.back()));
  return offset;
}

void cut_before_next_push(RunState& run, uint64_t at) {
  Journal& j = run.journal;
  if (at < j.end()) j.cut_at = at;
  j.replaying = false;
}

void drop_events_from(RunState& run, uint64_t at) {
  Journal& j = run.journal;
  j.cut_at.reset();
  if (at >= j.events.size()) return;
  j.events.erase(j.events.begin() + static_cast<std::ptrdiff_t>(at), j.events.end());
  if (!run.recorder) {
    j.next_seq = at;
    if (at < j.line_offsets.size()) j.byte_offset = j.line_offsets[at];
  }
  if (at < j.line_offsets.size()) j.line_offsets.resize(at);
}

uint64_t next_line_offset(const RunState& run) {
  if (run.recorder) return run.recorder->offset();
  const Journal& j = run.journal;
  if (j.cut_at && *j.cut_at < j.events.size() && *j.cut_at < j.line_offsets.size()) return j.line_offsets[*j.cut_at];
  return j.byte_offset;
}

Result<bool, RuntimeError> check_abort(RunState& run, const Span& span) {
  Journal& j = run.journal;
  if (const Event* at = j.at_cursor()) {
    if (const auto* abort = std::get_if<Event::Abort>(&at->data)) {
      if (abort->reason != kAbortedByHost) return diverged(run, "host cancellation with the specified reason", span);
      ++j.cursor;
      return true;
    }
    // The part of a run that is executed again cannot be cancelled: only its recording's own cancellation
    // stops it there.
    if (!j.replaying) return false;
  }
  if (!run.abort_flag->exchange(false, std::memory_order_acq_rel)) return false;
  if (j.replaying) cut_before_next_push(run, j.cursor);
  TRY(push(run, Event{Event::Abort{std::string(kAbortedByHost)}}));
  return true;
}

Result<std::optional<RuntimeError>, RuntimeError> take_effect_error(RunState& run, record::EffectOperation operation,
                                                                    const record::EffectIdentity& identity,
                                                                    const Span& span) {
  Journal& j = run.journal;
  const Event* at = j.at_cursor();
  const auto* failed = at != nullptr ? std::get_if<Event::EffectError>(&at->data) : nullptr;
  if (failed == nullptr) return std::optional<RuntimeError>();
  if (failed->operation != operation || !identities_match(failed->identity, identity)) {
    return diverged(run, "the same failed external attempt", span);
  }
  ++j.cursor;
  return std::optional<RuntimeError>(
      runtime::make_runtime_error(failed->code, failed->message, failed->retryable, failed->source));
}

Result<Unit, RuntimeError> expect(RunState& run, Event event, const Span& span) {
  Journal& j = run.journal;
  if (j.live()) {
    TRY(push(run, std::move(event)));
    return Unit{};
  }
  if (const Event* at = j.at_cursor(); at != nullptr && events_match(*at, event)) {
    ++j.cursor;
    if (event.kind() == record::EventKind::End && j.cursor < j.end()) {
      return diverged(run, "the end of the recording", span);
    }
    return Unit{};
  }
  if (const auto* log = std::get_if<Event::Log>(&event.data)) {
    return diverged(
        run, "the same `" + std::string(record::log_level_name(log->level)) + "` log (level, message and fields)",
        span);
  }
  return diverged(run, std::string("`").append(describe_recorded_event(event)).append("`"), span);
}

Result<Unit, RuntimeError> record_resume(RunState& run, record::Resume payload) {
  Journal& j = run.journal;
  if (!j.paused_at) return Unit{};
  Event resume{Event::Resume{std::move(payload)}};
  for (uint64_t i = *j.paused_at + 1; i < j.end(); ++i) {
    if (j.events[i].kind() != record::EventKind::Resume) continue;
    if (events_match(j.events[i], resume)) return Unit{};
    j.cut_at = i;
    break;
  }
  const bool was_replaying = j.replaying;
  // Every push the recording accepts is stamped; the seq cannot tell, as a cut takes it back.
  const size_t stamped = j.stamped.size();
  j.replaying = false;
  auto pushed = push(run, std::move(resume));
  if (!pushed.ok()) {
    // Refused by the recording: the run stays as it was, recorded resume and replay included. (An event sink
    // that fails after the push leaves the resume in the journal, where the next attempt finds it.)
    if (j.stamped.size() == stamped) {
      j.cut_at.reset();
      j.replaying = was_replaying;
    }
    return err(std::move(pushed).error());
  }
  return Unit{};
}

}  // namespace dravelin::interp::journal
