// Pieces shared by the journal's own files. Private to the interpreter library.
#pragma once

#include <string_view>

#include "interp/journal.h"
#include "interp/run_state.h"
#include "json/value.h"
#include "record/event.h"
#include "runtime/value.h"

namespace dravelin::interp {

// The reason of every host cancellation.
inline constexpr std::string_view kAbortedByHost = "aborted by host";

// Equal values, or the same tagged JSON text (what a recording can tell apart).
bool values_match(const runtime::Value& recorded, const runtime::Value& program);
// Equal JSON values, or the same compact text.
bool json_match(const json::Value& recorded, const json::Value& program);

// The same form of identity with matching fields.
bool identities_match(const record::EffectIdentity& recorded, const record::EffectIdentity& program);

// "a `<kind>` event would be longer than the 67108864 bytes a recording line may hold": an event the program
// makes that no recording could hold (`type_error`, not retryable, no span).
RuntimeError oversized_event_error(record::EventKind kind);
// Whether an event would be too long for a recording line (with `room` bytes more). Judged on the line without
// its stamp, with room for the longest stamp and for summaries, so that the run that records an event and every
// later execution or replay of it come to the same answer: the journal refuses such an event when it is pushed,
// and a served effect or event that does not match is first judged by it.
bool oversized(const RunState& run, const record::Event& event, size_t room = 0);

inline Err<RuntimeError> diverged(const RunState& run, std::string_view expected, const Span& span) {
  return err(replay_diverged_error(run.journal, expected, span));
}

}  // namespace dravelin::interp
