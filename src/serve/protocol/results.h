// The records the bridge writes towards the SDK: method results, the parameters of its own requests to the
// SDK host and of its `event` notifications. Each is turned into a JSON value whose objects are ordered maps,
// so members come out in byte order of their names whatever the declared order; runtime values are in their
// tagged JSON form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ir/program.h"
#include "json/value.h"
#include "record/capability.h"
#include "record/event.h"
#include "record/recorded_event.h"
#include "runtime/value.h"

namespace dravelin::serve::protocol {

struct InputInfo {
  std::string name;
  ir::Shape shape;  // written in its IR JSON form

  static InputInfo from_input(const ir::Input& input);
  json::Value to_json_value() const;
};

struct NeedInfo {
  std::string name;
  record::NeedKind kind;

  static NeedInfo from_need(const ir::Need& need);
  json::Value to_json_value() const;
};

struct LevelInfo {
  uint64_t index = 0;               // the level's position, from 0
  std::optional<std::string> name;  // left out for an unnamed level

  json::Value to_json_value() const;
};

struct ResultInfo {
  struct Feels {};
  struct Pick {
    std::vector<std::string> labels;  // every label in declared order, the bare escape label included
  };
  struct Rate {
    std::vector<LevelInfo> levels;
  };
  struct PickAmong {
    bool allow_none = false;
  };

  std::string name;
  bool each = false;
  std::variant<Feels, Pick, Rate, PickAmong> verb;  // "feels", "pick", "rate", "pick_among"

  static ResultInfo from_result(const ir::JudgmentResult& result);
  json::Value to_json_value() const;
};

struct JudgmentInfo {
  std::string name;
  std::vector<std::string> params;
  std::vector<ResultInfo> results;
  std::string shape_hash;

  static JudgmentInfo from_judgment(const ir::Judgment& judgment);
  json::Value to_json_value() const;
};

struct ProgramLoadResult {
  std::string program_id;
  std::string name;
  std::vector<InputInfo> inputs;
  std::vector<NeedInfo> needs;
  std::vector<JudgmentInfo> judgments;

  // The program's interface from its IR; empty lists are written, never left out.
  static ProgramLoadResult describe(std::string program_id, const ir::Ir& ir);
  json::Value to_json_value() const;
};

struct JudgmentRunResult {
  runtime::Record answers;                  // result name to its value
  std::vector<record::LogEntry> logs;       // left out when empty

  json::Value to_json_value() const;
};

struct TaskStartResult {
  std::string run_id;
  json::Value to_json_value() const;
};

// {"ok": true}
json::Value ok_result();

struct CapabilityCallParams {
  std::string run_id;
  std::string capability;
  std::string verb;
  runtime::CallArguments args;  // `positional` and `named`, each left out when empty

  json::Value to_json_value() const;
};

struct CapabilityObserveParams {
  std::string run_id;
  std::string capability;
  runtime::Handle handle;  // "capability", "id", then its fields

  json::Value to_json_value() const;
};

// The `params` of an `event` notification: the run and the event's whole recording line as a value (full
// payloads, whatever the recording holds).
json::Value event_params(std::string_view run_id, const record::RecordedEvent& event);

}  // namespace dravelin::serve::protocol
