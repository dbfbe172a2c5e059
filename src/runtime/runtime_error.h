// The one record for every failure of a run, and the error of the run-control operations.
//
// A `RuntimeError` is a returned value, never thrown: a stable code, a lower-case message, whether trying
// again can help, and the source span at fault (all zeros when the failure has no place in the source).
// The codes' written names travel in recordings, protocol errors and the error reference, so the code list
// below is a format: its order (the index) and its names never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "json/value.h"
#include "runtime/pause_kind.h"
#include "syntax/diagnostic.h"

namespace dravelin::runtime {

// The code table: variant name and written name, in index order.
#define DRAVELIN_RUNTIME_ERROR_CODES(X)        \
  X(BindingMissing, "binding_missing")         \
  X(StateTooLarge, "state_too_large")          \
  X(ZemUnavailable, "zem_unavailable")         \
  X(ZemRejected, "zem_rejected")               \
  X(VerbMissing, "verb_missing")               \
  X(AdapterError, "adapter_error")             \
  X(TypeError, "type_error")                   \
  X(RecursionLimit, "recursion_limit")         \
  X(ReplayDiverged, "replay_diverged")         \
  X(PickTooMany, "pick_too_many")              \
  X(ProfileMissing, "profile_missing")

enum class RuntimeErrorCode : uint8_t {
#define DRAVELIN_X(variant, name) variant,
  DRAVELIN_RUNTIME_ERROR_CODES(DRAVELIN_X)
#undef DRAVELIN_X
};

inline constexpr size_t kRuntimeErrorCodeCount = 0
#define DRAVELIN_X(variant, name) +1
    DRAVELIN_RUNTIME_ERROR_CODES(DRAVELIN_X)
#undef DRAVELIN_X
    ;

// The written name ("type_error"): the code's JSON form and its text in messages.
std::string_view runtime_error_code_name(RuntimeErrorCode code);
// The variant's own name ("TypeError"), for debug renderings only.
std::string_view runtime_error_code_variant(RuntimeErrorCode code);
std::optional<RuntimeErrorCode> runtime_error_code_from_name(std::string_view name);

// The JSON form: the written name as a JSON string.
json::Value runtime_error_code_to_json(RuntimeErrorCode code);
// Reads a code from its written name, or from an object whose single entry is the name with a null or
// empty-object value. Anything else is refused with the JSON reader's wording (unknown variant, invalid
// type expecting "string or map", invalid value expecting "map with a single key").
Result<RuntimeErrorCode, std::string> read_runtime_error_code(const json::Value& value);

struct RuntimeError {
  RuntimeErrorCode code = RuntimeErrorCode::TypeError;
  std::string message;
  bool retryable = false;
  syntax::Span span;

  // "<written name>: <message>".
  std::string text() const;

  friend bool operator==(const RuntimeError&, const RuntimeError&) = default;
};

RuntimeError make_runtime_error(RuntimeErrorCode code, std::string message, bool retryable = false,
                                syntax::Span span = {});

// What an allocation that failed (std::bad_alloc, std::length_error) becomes where a run, a judgment or a bridge
// request catches it: "<what> ran out of memory", a `type_error` that is not retryable, without a span.
RuntimeError out_of_memory_error(std::string_view what);

// `RuntimeError { code: TypeError, message: "...", retryable: false, span: Span { ... } }`.
std::string debug_string(const RuntimeError& error);
std::ostream& operator<<(std::ostream& out, const RuntimeError& error);

// What run control returns when a host asks a run to go on in a way its state does not allow.
struct ResumeError {
  struct NotPaused {
    friend bool operator==(const NotPaused&, const NotPaused&) = default;
  };
  // The run is over; `kind` is the kind of its final pause (error, stopped or done).
  struct Ended {
    PauseKind kind = PauseKind::Done;
    friend bool operator==(const Ended&, const Ended&) = default;
  };
  // The payload does not fit the pause the run waits at.
  struct WrongPayload {
    PauseKind pause = PauseKind::Confirm;
    std::string reason;
    friend bool operator==(const WrongPayload&, const WrongPayload&) = default;
  };
  // Going on failed, e.g. the resume event could not be written.
  struct Runtime {
    RuntimeError error;
    friend bool operator==(const Runtime&, const Runtime&) = default;
  };

  std::variant<NotPaused, Ended, WrongPayload, Runtime> reason;

  static ResumeError not_paused() { return ResumeError{NotPaused{}}; }
  static ResumeError ended(PauseKind kind) { return ResumeError{Ended{kind}}; }
  static ResumeError wrong_payload(PauseKind pause, std::string why) {
    return ResumeError{WrongPayload{pause, std::move(why)}};
  }
  static ResumeError runtime(RuntimeError error) { return ResumeError{Runtime{std::move(error)}}; }

  std::string text() const;

  friend bool operator==(const ResumeError&, const ResumeError&) = default;
};

std::string debug_string(const ResumeError& error);
std::ostream& operator<<(std::ostream& out, const ResumeError& error);

}  // namespace dravelin::runtime
