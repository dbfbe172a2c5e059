// The effect journal of a run and the effect driver around it.
//
// Every effect of a run that reaches outside the interpreter (model-service requests, capability calls,
// observations, generations, clock readings, random draws, pauses, host cancellation) goes through the
// operations below, and so does every milestone the run records (start, log, warning, step, machine step,
// end). An operation is live when the journal is not replaying a recording and its cursor stands at its end:
// the effect is performed, its events are pushed (appended to the journal, written to the recording, queued
// and shown to the run's event sink). Otherwise the effect is served from the event at the cursor, which must
// be exactly what the program asks for; any difference is `replay_diverged`, and the cursor does not move.
//
// Comparisons are made on what a recording can hold: two events (or pauses, or request states) that write the
// same recording text match even where the in-memory values differ (a NaN, an infinity, a value read back
// from a recording as none), so every run the system records can resume and replay.
//
// The journal is cut in three places only: at a differing recorded resume, at a host cancellation during a
// replay, and when a run fails with `replay_diverged`. A cut is provisional until the event that follows it
// has been accepted by the recording: a push that the recording refuses leaves the journal as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "record/capability.h"
#include "record/event.h"
#include "record/pause.h"
#include "record/recorded_event.h"
#include "record/resume.h"
#include "runtime/eval.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "syntax/diagnostic.h"
#include "zem/service.h"
#include "zem/size.h"
#include "zem/xoshiro.h"

namespace dravelin::interp {

using runtime::RuntimeError;
using syntax::Span;

struct RunState;

struct Journal {
  std::vector<record::Event> events;  // every event of the run, from its start event
  // The next event to be served or matched; 0 at the start of every execution of the task.
  uint64_t cursor = 0;
  // A recording is being replayed strictly: nothing may go live. Set by the replay set-up; cleared when a new
  // resume payload is recorded and when the host cancels the replay.
  bool replaying = false;
  std::optional<uint64_t> paused_at;        // the pause event at which the run is stopped
  std::optional<uint64_t> surfaced_until;   // the furthest pause event at which the run has stopped so far
  uint64_t next_seq = 0;                    // the seq of the next pushed event
  uint64_t byte_offset = 0;                 // bytes of the pushed events' lines, each with its line feed
  // Where each event's line starts, beside `events`: a cut takes the numbering back to the first event it
  // drops.
  std::vector<uint64_t> line_offsets;
  uint64_t request_counter = 0;             // model-service requests of the current execution
  zem::Xoshiro256StarStar::State random{};  // the run's xoshiro256** state, seeded at set-up
  // Every pushed event with its stamp, in push order, until a host takes them.
  std::vector<record::RecordedEvent> stamped;

  // Where a provisional cut will fall once the next push is accepted; until then the events from there on
  // are out of the journal's view.
  std::optional<uint64_t> cut_at;

  // The number of events in view: all of them, or those before a provisional cut.
  uint64_t end() const { return cut_at ? *cut_at : events.size(); }
  // Effects are performed, not served.
  bool live() const { return !replaying && cursor >= end(); }
  // The event at the cursor, or nullptr at the end.
  const record::Event* at_cursor() const { return cursor < end() ? &events[cursor] : nullptr; }
};

// A generation by an `llm` capability (its `write` verb).
struct Generation {
  std::string output;
  std::optional<double> usd;
  uint64_t tokens = 0;
};

// How the journal lets the program through a pause.
struct PausePassage {
  enum class Kind : uint8_t {
    Stop,     // the run stops here; the pause is the run's pending pause
    Aborted,  // a host cancellation follows the pause
    Passed,   // the pause was resumed: go on with the payload
  };
  Kind kind = Kind::Stop;
  record::Resume resume;   // Passed only
  uint64_t paused_ms = 0;  // Passed only: how long the run stood at the pause
};

namespace journal {

// Makes the run ready for a new execution of its task: the cursor and the request counter go back to 0 and
// the pending pause is dropped.
void begin_execution(RunState& run);

// Stamps the event, writes it to the recording (when there is one), counts its line, appends it to the
// journal, queues it and hands it to the event sink. Returns the byte offset at which its line starts. A
// recording error is returned with nothing changed; an event-sink error is returned with the event pushed.
Result<uint64_t, RuntimeError> push(RunState& run, record::Event event);

// Cuts the journal at `at` (the events from there on are dropped) and ends a strict replay, once the next
// push has been accepted by the recording. Used for a run that fails with `replay_diverged`.
void cut_before_next_push(RunState& run, uint64_t at);

// Drops the events from `at` on at once (a provisional cut included). The next event takes the place of the
// first one dropped: its seq and byte offset, so that the run's events stay numbered without a gap. A run
// that writes a recording keeps the file's numbering instead, since the file keeps its lines.
void drop_events_from(RunState& run, uint64_t at);

// The byte offset at which the next pushed event's line will start.
uint64_t next_line_offset(const RunState& run);

// Whether the host has cancelled the run: a recorded cancellation at the cursor, or the run's abort flag
// (taken once) where the run is live or replaying.
Result<bool, RuntimeError> check_abort(RunState& run, const Span& span);

// The recorded failure of an earlier attempt at the same effect, served again.
Result<std::optional<RuntimeError>, RuntimeError> take_effect_error(RunState& run, record::EffectOperation operation,
                                                                    const record::EffectIdentity& identity,
                                                                    const Span& span);

// One model-service request ("r1", "r2", ... within an execution).
Result<zem::ZemResponse, RuntimeError> request(RunState& run, const zem::RequestGroup& group, bool sampled,
                                               const Span& span);
// One verb of a bound capability.
Result<runtime::Value, RuntimeError> call(RunState& run, std::string_view capability, std::string_view verb,
                                          runtime::CallArguments args, const Span& span);
// One look at an agent.
Result<record::Observation, RuntimeError> observe(RunState& run, std::string_view capability,
                                                  const runtime::Handle& handle, const Span& span);
// The `write` verb of an `llm` capability.
Result<Generation, RuntimeError> generate(RunState& run, std::string_view capability, std::string_view instruction,
                                          runtime::OptionalValue using_value, const Span& span);

// A number in [0, 1) from the run's generator.
Result<double, RuntimeError> random(RunState& run, const Span& span);
// The wall clock as a timestamp text ("2024-05-01T12:00:00.000Z").
Result<std::string, RuntimeError> now(RunState& run, const Span& span);
// The clock reading recorded right after a pause, in epoch milliseconds.
Result<uint64_t, RuntimeError> clock_after_pause(RunState& run, const Span& span);
// Raises a pause: live it is recorded and the run stops; served it is compared with the recorded one and
// passed when the run was resumed there.
Result<PausePassage, RuntimeError> pause(RunState& run, record::Pause pause);

// Records or matches an event that is not an effect (start, log, warning, step, machine step, end).
Result<Unit, RuntimeError> expect(RunState& run, record::Event event, const Span& span);

// Writes a resume payload after the pause at which the run stopped, unless the journal already holds that
// same payload there; a differing recorded resume is dropped together with everything after it.
Result<Unit, RuntimeError> record_resume(RunState& run, record::Resume payload);

}  // namespace journal

// `replay_diverged`, not retryable: "the program expected <expected> at event <N> of the recording but found
// <found>", N being the cursor.
RuntimeError replay_diverged_error(const Journal& journal, std::string_view expected, const Span& span);

// The short description of a recorded event, as divergence messages show it: "a Zem request", "the call
// `files.read`", "a `confirm` pause", ...
std::string describe_recorded_event(const record::Event& event);

// The replay comparison of two events: equal fields, or the same recording text.
bool events_match(const record::Event& recorded, const record::Event& program);
// The replay comparison of two pauses: equal apart from `recording_offset`, or the same recording text.
bool pauses_match(const record::Pause& recorded, const record::Pause& program);

}  // namespace dravelin::interp
