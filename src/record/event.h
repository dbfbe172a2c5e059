// The events of a run: every effect and milestone that replay must reproduce or a host may want to see, one
// of sixteen kinds in a fixed order. The run keeps them in its journal, compares them when it re-executes over
// a journal or a recording, hands them to its event sink and writes them to its recording (recorded_event.h
// holds the line around an event).
//
// Written (compact, or as a JSON value for the SDK bridge), an event is its tag entry `"event":"<kind>"`
// followed by its fields in declared order inside the line's object; `sampled` is left out when false and a
// log's `fields` when empty; every other field is always written (an absent `using` as null). Values in the
// tagged value form, maps in key order, floats in the record float form (null when not finite).
//
// Equality (`operator==`) is the replay comparison: same kind and every field equal, texts byte for byte,
// floats numerically (a NaN equals nothing), runtime values structurally, JSON values by kind and content (an
// integer never equals a float), recorded payloads both full and equal or both summaries with equal hash and
// tokens.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"
#include "record/capability.h"
#include "record/pause.h"
#include "record/recorded.h"
#include "record/resume.h"
#include "record/usage.h"
#include "runtime/eval.h"
#include "runtime/value.h"
#include "syntax/diagnostic.h"
#include "syntax/unit_enums.h"
#include "zem/answer.h"
#include "zem/question.h"

namespace dravelin::record {

using syntax::LogLevel;

// The field-less enumerations that events carry, each written as its name.
enum class EffectOperation : uint8_t { Request, Call, Observe, Generate };
enum class DrawKind : uint8_t { Random, Now };
enum class StepOutcome : uint8_t { Observed, Error, NoChange };

std::string_view effect_operation_name(EffectOperation operation);  // "request", "call", ...
// "Request", "Call", "Observe", "Generate": how replay messages show a recorded failed effect.
std::string_view effect_operation_display_name(EffectOperation operation);
std::string_view draw_kind_name(DrawKind kind);          // "random", "now"
std::string_view step_outcome_name(StepOutcome outcome);  // "observed", "error", "no_change"
std::string_view log_level_name(LogLevel level);          // "debug", "info", "warn", "error"

// One step of a task's work; the run appends one after each capability action.
struct StepRecord {
  uint64_t step = 0;  // the step's number within its task frame
  std::string action;
  std::string target;
  std::string args;
  bool changed = false;
  StepOutcome outcome = StepOutcome::Observed;

  friend bool operator==(const StepRecord&, const StepRecord&) = default;
};

// One capability the program declares: its name and the name of its kind ("agent", "person", "llm", "tool").
struct BindingRecord {
  std::string name;
  std::string kind;

  friend bool operator==(const BindingRecord&, const BindingRecord&) = default;
};

// What a failed external attempt asked. Written without a tag; read by trying the forms in order.
struct EffectIdentity {
  struct Request {
    std::string request_id;
    friend bool operator==(const Request&, const Request&) = default;
  };
  struct Call {
    std::string capability;
    std::string verb;
    runtime::Value args;
    friend bool operator==(const Call&, const Call&) = default;
  };
  struct Observe {
    std::string capability;
    runtime::Value handle;
    friend bool operator==(const Observe&, const Observe&) = default;
  };
  struct Generate {
    std::string capability;
    std::string instruction;
    runtime::OptionalValue using_value;  // the key `using`
    friend bool operator==(const Generate&, const Generate&) = default;
  };

  std::variant<Request, Call, Observe, Generate> data;

  friend bool operator==(const EffectIdentity&, const EffectIdentity&) = default;
};

enum class EventKind : uint8_t {
  Start, Request, Answers, Generate, Call, Observe, EffectError, Draw, Warning, Log, Pause, Resume, Abort,
  Step, MachineStep, End,
};
// The tags, in `EventKind` order.
inline constexpr std::array<std::string_view, 16> kEventKindNames = {
    "start", "request", "answers", "generate", "call", "observe", "effect_error", "draw", "warning", "log",
    "pause", "resume", "abort", "step", "machine_step", "end"};
inline constexpr size_t kEventKindCount = kEventKindNames.size();
constexpr std::string_view event_kind_name(EventKind kind) { return kEventKindNames[static_cast<size_t>(kind)]; }

struct Event {
  struct Start {
    std::string program;
    std::string task;
    runtime::Record inputs;
    std::vector<BindingRecord> bindings;  // one per declared capability, in declaration order
    std::string ir_version;
    friend bool operator==(const Start&, const Start&) = default;
  };
  struct Request {
    std::string request_id;
    Recorded<json::Object> state;  // subject path to JSON value
    std::vector<zem::Question> questions;
    friend bool operator==(const Request&, const Request&) = default;
  };
  struct Answers {
    std::string request_id;
    std::vector<zem::ZemAnswer> answers;
    zem::ZemUsage usage;
    uint64_t latency_ms = 0;
    bool sampled = false;  // labels were drawn from the answers' probabilities
    friend bool operator==(const Answers&, const Answers&) = default;
  };
  struct Generate {
    std::string capability;
    std::string instruction;
    runtime::OptionalValue using_value;  // the key `using`; a none value is written as null, so reads as absent
    std::string output;
    zem::ZemUsage usage;
    friend bool operator==(const Generate&, const Generate&) = default;
  };
  struct Call {
    std::string capability;
    std::string verb;
    runtime::Value args;  // the call's arguments as `call_arguments_to_value` makes them
    Recorded<runtime::Value> result;
    uint64_t latency_ms = 0;
    friend bool operator==(const Call&, const Call&) = default;
  };
  struct Observe {
    std::string capability;
    runtime::Value handle;
    Recorded<Observation> observation;
    friend bool operator==(const Observe&, const Observe&) = default;
  };
  struct EffectError {
    EffectOperation operation = EffectOperation::Request;
    EffectIdentity identity;
    RuntimeErrorCode code = RuntimeErrorCode::AdapterError;
    std::string message;
    bool retryable = false;
    Span source;
    friend bool operator==(const EffectError&, const EffectError&) = default;
  };
  // A random draw holds a number in [0, 1); a clock reading holds its timestamp text.
  struct Draw {
    DrawKind kind = DrawKind::Random;
    json::Value value;
    friend bool operator==(const Draw&, const Draw&) = default;
  };
  struct Warning {
    std::string code;  // "truncated" from the shape checks
    std::string message;
    Span source;
    friend bool operator==(const Warning&, const Warning&) = default;
  };
  struct Log {
    LogLevel level = LogLevel::Info;
    Recorded<std::string> message;
    std::map<std::string, Recorded<runtime::Value>, std::less<>> fields;
    std::string task;
    Span source;
    friend bool operator==(const Log&, const Log&) = default;
  };
  // The pause's kind stands both here and, as the payload's own tag, inside it.
  struct Pause {
    PauseKind kind = PauseKind::Done;
    record::Pause payload;
    friend bool operator==(const Pause&, const Pause&) = default;
  };
  struct Resume {
    record::Resume payload;
    friend bool operator==(const Resume&, const Resume&) = default;
  };
  struct Abort {
    std::string reason;  // "aborted by host"
    friend bool operator==(const Abort&, const Abort&) = default;
  };
  struct Step {
    StepRecord record;
    friend bool operator==(const Step&, const Step&) = default;
  };
  struct MachineStep {
    std::string machine;
    std::string state;  // before the step
    std::vector<std::string> enabled;  // the labels offered, "stay" included
    std::string chosen;
    std::map<std::string, double> probabilities;
    double confidence = 0;
    std::string to;  // the state after the step
    friend bool operator==(const MachineStep&, const MachineStep&) = default;
  };
  struct End {
    PauseKind kind = PauseKind::Done;
    runtime::Record outputs;
    bool verified = false;
    Usage usage;
    friend bool operator==(const End&, const End&) = default;
  };

  // In `EventKind` order.
  using Data = std::variant<Start, Request, Answers, Generate, Call, Observe, EffectError, Draw, Warning, Log,
                            Pause, Resume, Abort, Step, MachineStep, End>;
  Data data;

  // Any kind's record makes an event (`Event{Event::Log{...}}`). Copying, moving, destroying and comparing the
  // sixteen kinds is defined once, in event.cpp, rather than in every file that handles events.
  Event();
  template <class Kind>
    requires(!std::is_same_v<std::remove_cvref_t<Kind>, Event> && std::is_constructible_v<Data, Kind &&>)
  Event(Kind&& record) : data(std::forward<Kind>(record)) {}
  Event(const Event&);
  Event(Event&&) noexcept;
  Event& operator=(const Event&);
  Event& operator=(Event&&) noexcept;
  ~Event();

  EventKind kind() const { return static_cast<EventKind>(data.index()); }

  // The tag entry and the fields into an object the caller has opened (a recording line's).
  void write_entries(json::Writer& out) const;
  void write_entries(json::ValueBuilder& out) const;
  // Reads the fields of the kind at `kind` from the object of the line's entries other than the tag (keys in
  // any order, other keys ignored); the messages are the shared record reader's.
  static Result<Event, std::string> read_entries(EventKind kind, const json::Value& entries);

  friend bool operator==(const Event&, const Event&);
};
static_assert(std::variant_size_v<Event::Data> == kEventKindCount);

// A log line of a single judgment run outside a run.
using LogEntry = runtime::JudgmentLogEntry;
// The log event standing for the entry: its message and field values as full payloads.
Event log_entry_to_event(const LogEntry& entry);
// `{"level", "message", "fields" (when not empty, tagged values), "task", "source"}`, ordered by key.
json::Value log_entry_to_json_value(const LogEntry& entry);

// The step records as runtime values for `trail`: each a record value of its six keys (`step` a number,
// `changed` a bool, the others texts), in order.
std::vector<runtime::Value> step_records_to_values(const std::vector<StepRecord>& records);

}  // namespace dravelin::record
