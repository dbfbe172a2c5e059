// The pause record: how every execution of a run's task ends.
//
// Seven kinds, in `PauseKind` order: confirm, escalate, waiting, budget and a retryable error leave the run
// paused until a host resumes it; stopped, done and an error that cannot be retried end it. Every pause carries
// the common fields (run id, step, task, machine state, source span, recording offset) and its kind's own.
//
// JSON form (the `payload` of a recording's pause event, the terminal's outcome line, the SDK bridge's value):
// one object, `kind` first, then the common fields (`state` only when present), then the kind's fields in
// declared order; maps of values in the tagged value form, ordered by name; floats in the record float form
// (50.0), null when not finite. The value form holds the same members ordered by key.
//
// Reading takes the object with its keys in any order: the `kind` entry wherever it stands (a kind name or its
// index), then the kind's own fields (all required), then the common fields (`state` optional, null reading as
// absent); other keys are ignored. The messages are the shared record reader's ("missing field `outputs`",
// "invalid type: floating point `3.0`, expected u64", ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"
#include "record/usage.h"
#include "runtime/pause_kind.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "syntax/diagnostic.h"

namespace dravelin::record {

using runtime::PauseKind;
using runtime::RuntimeError;
using runtime::RuntimeErrorCode;
using syntax::Span;

// A kind where an event carries it: its name, or an object whose single entry is the name with null or {}
// beside it; never an index.
Result<PauseKind, std::string> read_pause_kind(const json::Value& value);

struct PauseCommon {
  std::string run_id;
  // Steps charged to the run's task frame when the pause was raised; 0 when the outermost frame is no task.
  uint64_t step = 0;
  std::string task;                  // the task's name, or "machine:" and the machine's name
  std::optional<std::string> state;  // the machine's state when `task` names a machine frame
  Span source;                       // the statement or expression that raised the pause
  // Where the line of this pause's `pause` event starts in the run's recording (or in the run's own count of
  // event-line bytes); 0 until the driver records the pause.
  uint64_t recording_offset = 0;

  friend bool operator==(const PauseCommon&, const PauseCommon&) = default;
};

struct Pause {
  struct Confirm {
    std::string message;
    std::vector<std::string> options;
    runtime::Record context;
    friend bool operator==(const Confirm&, const Confirm&) = default;
  };
  struct Escalate {
    std::string reason;
    runtime::Record context;
    friend bool operator==(const Escalate&, const Escalate&) = default;
  };
  struct Waiting {
    std::string on;         // the agent capability, after the module's mapping
    std::string condition;  // "idle" when the program gives none
    double timeout_minutes = 0;
    friend bool operator==(const Waiting&, const Waiting&) = default;
  };
  struct Budget {
    BudgetKey key = BudgetKey::Calls;
    double used = 0;
    double limit = 0;
    friend bool operator==(const Budget&, const Budget&) = default;
  };
  struct Error {
    RuntimeErrorCode code = RuntimeErrorCode::TypeError;
    std::string message;
    bool retryable = false;
    friend bool operator==(const Error&, const Error&) = default;
  };
  struct Stopped {
    std::string reason;
    friend bool operator==(const Stopped&, const Stopped&) = default;
  };
  struct Done {
    runtime::Record outputs;  // every declared output, none for one never assigned
    bool verified = false;
    Usage usage;
    friend bool operator==(const Done&, const Done&) = default;
  };

  // In `PauseKind` order.
  using Detail = std::variant<Confirm, Escalate, Waiting, Budget, Error, Stopped, Done>;

  PauseCommon common;
  Detail detail;

  // `Pause{common, Pause::Stopped{...}}`. Copies, moves and equality of the seven kinds are defined once, in
  // pause.cpp, rather than in every file that handles a pause.
  Pause();
  template <class Kind>
    requires(std::is_constructible_v<Detail, Kind &&>)
  Pause(PauseCommon common_fields, Kind&& kind_fields)
      : common(std::move(common_fields)), detail(std::forward<Kind>(kind_fields)) {}
  Pause(const Pause&);
  Pause(Pause&&) noexcept;
  Pause& operator=(const Pause&);
  Pause& operator=(Pause&&) noexcept;
  ~Pause();

  PauseKind kind() const { return static_cast<PauseKind>(detail.index()); }
  // Stopped, done and a non-retryable error end the run; every other pause leaves it waiting for a host.
  bool ends_run() const;

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  static Result<Pause, std::string> read_json(const json::Value& value);

  // Same kind and every field equal, `recording_offset` included: texts byte for byte, floats numerically (a
  // NaN equals nothing), values by structural value equality.
  friend bool operator==(const Pause&, const Pause&);
};

// The replay comparison: equal apart from `recording_offset`, since a replayed pause may start elsewhere.
bool same_pause_for_replay(const Pause& recorded, const Pause& raised);

}  // namespace dravelin::record
