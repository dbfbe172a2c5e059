// The records that cross the line between a run and the hosts bound to its capabilities, and the host
// interface itself.
//
// JSON forms: `CallArguments` as `{"positional": [...], "named": {...}}`, each member left out when empty (so
// "{}" without arguments), values in the tagged form; a `Handle` sent to a host as `{"capability", "id", ...}`
// with its fields as further members; an `Observation` as `{"status", "last_message", "tail", "exit_code"?,
// ...extra}`; a `ToolManifest` as `{"verbs": {verb: {"params": [...], "returns"?: text}}}`.
//
// The readers of these records take a value a host sent, reduced to a map: a member given twice keeps its last
// value and members are met in byte order of their keys.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"
#include "runtime/eval.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "syntax/unit_enums.h"

namespace dravelin::record {

using runtime::CallArguments;
using runtime::RuntimeError;

// agent, person, llm, tool: the kind a capability is declared and bound as.
using NeedKind = syntax::NeedKind;
// "agent", "person", "llm", "tool": the kind's JSON form everywhere.
std::string_view need_kind_name(NeedKind kind);
// "Agent", "Person", "Llm", "Tool": shown in the demonstration stub's notice.
std::string_view need_kind_display_name(NeedKind kind);
// The verbs of a kind, in the order the kind lists them (the compiler's table, syntax/need_verbs.h). Empty for a
// tool, which takes any verb.
std::span<const std::string_view> need_kind_verbs(NeedKind kind);

// The arguments as the JSON object hosts receive (the `args` of a call event holds the same as a value).
json::Value call_arguments_to_json(const CallArguments& args);
// The same as a record value: `positional` a list and `named` a record, each left out when empty.
runtime::Value call_arguments_to_value(const CallArguments& args);

// A handle as sent to a host: `capability` and `id`, then every field as a member of the same object.
json::Value handle_to_host_json(const runtime::Handle& handle);

struct ManifestVerb {
  std::vector<std::string> params;
  std::optional<std::string> returns;  // a description of the result

  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  // An object (both members optional, `returns` null for absent) or the array [params, returns].
  static Result<ManifestVerb, std::string> read_json(const json::Value& value);

  friend bool operator==(const ManifestVerb&, const ManifestVerb&) = default;
};

// What a host declares it can do. The run looks at the verb names only.
struct ToolManifest {
  std::map<std::string, ManifestVerb> verbs;

  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  // An object holding `verbs`, or an array of exactly that one object.
  static Result<ToolManifest, std::string> read_json(const json::Value& value);

  friend bool operator==(const ToolManifest&, const ToolManifest&) = default;
};

enum class AgentStatus : uint8_t { Running, Waiting, Exited };
// "running", "waiting", "exited".
std::string_view agent_status_name(AgentStatus status);

// One look at an agent.
struct Observation {
  AgentStatus status = AgentStatus::Running;
  std::string last_message;
  std::string tail;  // the end of the agent's output, one text
  std::optional<int32_t> exit_code;
  runtime::JsonFields extra;  // every other member of the host's object, unchanged

  // Member by member: status, last_message, tail, exit_code (when present), then the extra members in key
  // order. This text is what a recorded observation's redaction summary is taken over.
  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  // The value form: the same members, ordered by key as every JSON value is.
  json::Value to_json_value() const;
  // "struct Observation" for anything but an object; `status`, `last_message` and `tail` required,
  // `exit_code` an i32 or null; every other member goes to `extra`.
  static Result<Observation, std::string> read_json(const json::Value& value);

  friend bool operator==(const Observation&, const Observation&) = default;
};

// One bound capability: an adapter subprocess, a demonstration stub or the SDK host. A run calls its hosts
// from the thread that executes it, one operation at a time. Failures are returned, never thrown: hosts report
// failures of the outside party with the code `adapter_error`, and `retryable` decides whether the run's error
// pause may be retried.
class CapabilityHost {
 public:
  virtual ~CapabilityHost() = default;
  // The kind the capability was bound as.
  virtual NeedKind kind() const = 0;
  // One verb with its arguments; the value is the effect's whole answer.
  virtual Result<runtime::Value, RuntimeError> call(std::string_view verb, CallArguments args) = 0;
  // The verbs the host declares, when it declares any; the caller owns the copy.
  virtual std::optional<std::map<std::string, ManifestVerb>> manifest() = 0;
  // A look at an agent through its handle.
  virtual Result<Observation, RuntimeError> observe(const runtime::Handle& handle) = 0;
};

// A run's hosts by capability name.
using CapabilityHosts = std::map<std::string, std::unique_ptr<CapabilityHost>, std::less<>>;

}  // namespace dravelin::record
