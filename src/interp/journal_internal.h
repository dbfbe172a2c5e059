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

inline Err<RuntimeError> diverged(const RunState& run, std::string_view expected, const Span& span) {
  return err(replay_diverged_error(run.journal, expected, span));
}

}  // namespace dravelin::interp
