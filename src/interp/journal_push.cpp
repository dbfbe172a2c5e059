// The journal's own bookkeeping: pushing events, the provisional cut, host cancellation, recorded failures,
// the matching of events that are not effects, and recorded resumes.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "interp/journal.h"
#include "interp/journal_internal.h"
#include "interp/run_state.h"
#include "record/timestamp.h"

namespace dravelin::interp {

using record::Event;

namespace {

// The stamp written at its shortest: every line of a run until the year 10000 has a stamp of this length.
constexpr std::string_view kShortestTs = "1970-01-01T00:00:00.000Z";
// What a line may hold beyond its canonical form: a sequence number and a pause's recording offset of 20 digits
// each (counted as 1), and for every payload a recording may summarise, a summary in its place
// (`{"redacted":{"hash":"<64 hex>","tokens":<20 digits>}}`) however small the value was.
constexpr size_t kStampRoom = 2 * 19;
constexpr size_t kSummaryRoom = 128;

size_t decimal_digits(uint64_t n) {
  size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

size_t summarisable_payloads(const Event& event) {
  if (const auto* log = std::get_if<Event::Log>(&event.data)) return 1 + log->fields.size();
  switch (event.kind()) {
    case record::EventKind::Request:
    case record::EventKind::Call:
    case record::EventKind::Observe: return 1;
    default: return 0;
  }
}

// The length of the event's line with its stamp at the shortest (the sequence number and a pause's recording
// offset as if 0), from a line written with `ts` and `seq`. It depends on the event alone, so a run that is
// executed again, or replayed, judges every event as the run that recorded it did.
size_t canonical_length(size_t line_length, size_t ts_length, uint64_t seq, const Event& event) {
  size_t length = line_length - ts_length + kShortestTs.size() - (decimal_digits(seq) - 1);
  if (const auto* pause = std::get_if<Event::Pause>(&event.data)) {
    length -= decimal_digits(pause->payload.common.recording_offset) - 1;
  }
  return length;
}

bool canonical_fits(size_t length, const Event& event, size_t room = 0) {
  // The line feed ends the line.
  return length + room + kStampRoom + kSummaryRoom * summarisable_payloads(event) + 1 <=
         record::kMaxRecordingLineBytes;
}

// Grows a vector's capacity the way `push_back` would, ahead of the push.
template <class T>
void room_for_one_more(std::vector<T>& items) {
  if (items.size() == items.capacity()) items.reserve(std::max<size_t>(16, 2 * items.capacity()));
}

}  // namespace

RuntimeError oversized_event_error(record::EventKind kind) {
  return runtime::make_runtime_error(runtime::RuntimeErrorCode::TypeError,
                                     "a `" + std::string(record::event_kind_name(kind)) +
                                         "` event would be longer than the " +
                                         std::to_string(record::kMaxRecordingLineBytes) +
                                         " bytes a recording line may hold");
}

bool oversized(const RunState& run, const Event& event, size_t room) {
  const record::ExecutionMetadata* metadata = event.kind() == record::EventKind::Start ? &run.metadata : nullptr;
  std::string line;
  record::write_recorded_line(line, kShortestTs, run.run_id, 0, metadata, event);
  return !canonical_fits(canonical_length(line.size(), kShortestTs.size(), 0, event), event, room);
}

namespace journal {

void begin_execution(RunState& run) {
  run.pending_pause.reset();
  run.journal.cursor = 0;
  run.journal.request_counter = 0;
}

Result<uint64_t, RuntimeError> push(RunState& run, Event event) {
  Journal& j = run.journal;
  std::string ts = record::format_timestamp_ms(run.now_ms());
  const record::ExecutionMetadata* metadata = event.kind() == record::EventKind::Start ? &run.metadata : nullptr;
  // A pending cut of a run without a recording takes the numbering back to the first event it drops.
  const uint64_t seq = j.cut_at && !run.recorder && *j.cut_at < j.events.size() ? *j.cut_at : j.next_seq;

  // The line's length is counted whether or not a recording is kept, so that offsets mean the same either way;
  // and an event too long for a recording line is refused whether or not there is one.
  std::string line;
  line.reserve(128);
  record::write_recorded_line(line, ts, run.run_id, seq, metadata, event);
  if (!canonical_fits(canonical_length(line.size(), ts.size(), seq, event), event)) {
    return err(oversized_event_error(event.kind()));
  }
  // Everything the push needs memory for is taken before the line is written: a run that runs out of memory
  // mid-push leaves the journal and the recording agreeing on the events they hold.
  record::RecordedEvent stamped{std::move(ts), run.run_id, seq, std::nullopt, event};
  if (metadata != nullptr) stamped.metadata = *metadata;
  room_for_one_more(j.events);
  room_for_one_more(j.stamped);
  room_for_one_more(j.line_offsets);

  std::optional<uint64_t> written;
  if (run.recorder) {
    // A refused line leaves everything as it was, a provisional cut included.
    auto recorded = run.recorder->record(event);
    if (!recorded.ok()) return err(std::move(recorded).error());
    written = *recorded;
  }
  if (j.cut_at) drop_events_from(run, *j.cut_at);
  const uint64_t offset = written ? *written : j.byte_offset;
  j.next_seq = seq + 1;
  j.line_offsets.push_back(j.byte_offset);
  j.byte_offset += line.size() + 1;
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
  // The recording that stops here refused this event: so does its replay.
  if (oversized(run, event)) return err(oversized_event_error(event.kind()));
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

}  // namespace journal
}  // namespace dravelin::interp
