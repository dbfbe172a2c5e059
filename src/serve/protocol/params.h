// The parameter records of the bridge's seven methods.
//
// Every record reads from an object (members in any order, a repeated member keeping its last value, members
// that name no field skipped) or from an array of its field values in declared order. The messages are the
// shared record reader's: "invalid type: <found>, expected struct <Record>", "missing field `<field>`",
// "invalid length <n>, expected struct <Record> with <m> elements", "invalid length <n>, expected fewer
// elements in array", and the field readers' own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "record/capability.h"
#include "record/resume.h"
#include "record/run_options.h"
#include "runtime/value.h"

namespace dravelin::serve::protocol {

struct ProgramLoadParams {
  std::optional<std::string> source;  // a whole program
  std::optional<std::string> path;    // a source file
  std::vector<std::string> paths;     // module search roots before those of DRAVELIN_PATH

  static Result<ProgramLoadParams, std::string> read(const json::Value& value);
};

struct JudgmentRunParams {
  std::string program_id;
  std::string name;
  json::Object state;  // the members stay JSON values
  std::optional<std::string> model;
  std::optional<std::string> profiles;

  static Result<JudgmentRunParams, std::string> read(const json::Value& value);
};

struct BindingParam {
  std::string name;
  std::string kind;  // compared with the declared kind by `task.start`
  std::optional<record::ToolManifest> manifest;

  static Result<BindingParam, std::string> read(const json::Value& value);
};

struct TaskStartParams {
  std::string program_id;
  std::string name;
  runtime::Record inputs;  // read from the tagged JSON form of values
  std::vector<BindingParam> bindings;
  std::optional<std::string> record;
  std::optional<std::string> replay;
  std::optional<bool> redact;
  std::optional<std::string> model;
  std::optional<record::Sample> sample;
  std::optional<std::string> profiles;
  std::vector<std::string> paths;  // must be empty: the program is already linked

  static Result<TaskStartParams, std::string> read(const json::Value& value);
};

struct RunParams {
  std::string run_id;

  static Result<RunParams, std::string> read(const json::Value& value);
};

struct RunResumeParams {
  std::string run_id;
  record::Resume payload;

  static Result<RunResumeParams, std::string> read(const json::Value& value);
};

struct RunInjectParams {
  std::string run_id;
  std::string capability;
  std::string message;

  static Result<RunInjectParams, std::string> read(const json::Value& value);
};

}  // namespace dravelin::serve::protocol
