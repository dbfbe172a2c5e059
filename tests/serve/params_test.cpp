// The readers of the bridge's request records: both forms, the order in which faults are found, and their texts.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "json/reader.h"
#include "serve/protocol/envelope.h"
#include "serve/protocol/params.h"

namespace dravelin::serve::protocol {
namespace {

json::Value parse(const std::string& text) {
  auto value = json::parse_json_value(text);
  EXPECT_TRUE(value.ok()) << text;
  return value.ok() ? std::move(value).value() : json::Value();
}

// The reader's error, or "" when it reads.
using Reader = std::function<std::string(const json::Value&)>;

template <class R>
Reader reader() {
  return [](const json::Value& value) {
    auto read = R::read(value);
    return read.ok() ? std::string() : read.error();
  };
}

struct ReadCase {
  std::string name;
  Reader read;
  std::string json;
  std::string error;  // "" when the record reads
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class ParamsRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ParamsRead, ReadsOrRefusesWithItsText) {
  const ReadCase& c = GetParam();
  EXPECT_EQ(c.read(parse(c.json)), c.error) << c.json;
}

INSTANTIATE_TEST_SUITE_P(
    Records, ParamsRead,
    ::testing::Values(
        // Named members are met in byte order: "name" sorts before "program_id".
        ReadCase{"task_start_first_fault_in_key_order", reader<TaskStartParams>(), R"({"program_id": 5, "name": 7})",
                 "invalid type: integer `7`, expected a string"},
        ReadCase{"task_start_empty", reader<TaskStartParams>(), "{}", "missing field `program_id`"},
        ReadCase{"task_start_without_name", reader<TaskStartParams>(), R"({"program_id": "program_1"})",
                 "missing field `name`"},
        ReadCase{"task_start_null_bindings", reader<TaskStartParams>(),
                 R"({"program_id": "program_1", "name": "main", "bindings": null})",
                 "invalid type: null, expected a sequence"},
        ReadCase{"task_start_nulls_are_absent", reader<TaskStartParams>(),
                 R"({"program_id": "p", "name": "main", "record": null, "model": null, "sample": null, "redact": null})",
                 ""},
        ReadCase{"task_start_inputs_array", reader<TaskStartParams>(),
                 R"({"program_id": "program_1", "name": "main", "inputs": []})", "invalid type: sequence, expected a map"},
        ReadCase{"task_start_bad_tagged_input", reader<TaskStartParams>(),
                 R"({"program_id": "p", "name": "main", "inputs": {"x": {"$zem": "nope"}}})",
                 "unknown `$zem` kind `nope`"},
        ReadCase{"task_start_unknown_member_skipped", reader<TaskStartParams>(),
                 R"({"program_id": "program_1", "name": "main", "note": 1})", ""},
        ReadCase{"task_start_positional", reader<TaskStartParams>(), R"(["program_1", "main"])", ""},
        ReadCase{"task_start_positional_short", reader<TaskStartParams>(), R"(["program_1"])",
                 "invalid length 1, expected struct TaskStartParams with 11 elements"},
        ReadCase{"task_start_positional_long", reader<TaskStartParams>(),
                 R"(["p", "m", {}, [], null, null, null, null, null, null, [], 1])",
                 "invalid length 12, expected fewer elements in array"},
        ReadCase{"task_start_not_a_record", reader<TaskStartParams>(), R"("x")",
                 "invalid type: string \"x\", expected struct TaskStartParams"},
        ReadCase{"task_start_redact_text", reader<TaskStartParams>(), R"({"program_id": "p", "name": "m", "redact": "yes"})",
                 "invalid type: string \"yes\", expected a boolean"},
        ReadCase{"task_start_path_element", reader<TaskStartParams>(), R"({"program_id": "p", "name": "m", "paths": [3]})",
                 "invalid type: integer `3`, expected a string"},
        ReadCase{"sample_true", reader<TaskStartParams>(), R"({"program_id": "p", "name": "m", "sample": true})", ""},
        ReadCase{"sample_seed_with_note", reader<TaskStartParams>(),
                 R"({"program_id": "p", "name": "m", "sample": {"seed": 42, "note": "x"}})", ""},
        ReadCase{"sample_negative_seed", reader<TaskStartParams>(), R"({"program_id": "p", "name": "m", "sample": {"seed": -1}})",
                 "data did not match any variant of untagged enum Sample"},
        ReadCase{"sample_fraction_seed", reader<TaskStartParams>(),
                 R"({"program_id": "p", "name": "m", "sample": {"seed": 1.5}})",
                 "data did not match any variant of untagged enum Sample"},
        ReadCase{"sample_exponent_seed", reader<TaskStartParams>(),
                 R"({"program_id": "p", "name": "m", "sample": {"seed": 1e3}})",
                 "data did not match any variant of untagged enum Sample"},
        ReadCase{"sample_array", reader<TaskStartParams>(), R"({"program_id": "p", "name": "m", "sample": [42]})",
                 "data did not match any variant of untagged enum Sample"},
        ReadCase{"binding_with_manifest", reader<BindingParam>(),
                 R"({"name": "fs", "kind": "tool", "manifest": {"verbs": {"read": {"params": ["path"], "returns": "text"}}}})",
                 ""},
        ReadCase{"binding_empty_manifest_array", reader<BindingParam>(), R"({"name": "fs", "kind": "tool", "manifest": []})",
                 "invalid length 0, expected struct ToolManifest with 1 element"},
        ReadCase{"binding_verb_positional_fault", reader<BindingParam>(),
                 R"({"name": "fs", "kind": "tool", "manifest": {"verbs": {"read": [5]}}})",
                 "invalid type: integer `5`, expected a sequence"},
        ReadCase{"binding_positional_short", reader<BindingParam>(), R"(["fs"])",
                 "invalid length 1, expected struct BindingParam with 3 elements"},
        ReadCase{"binding_in_start", reader<TaskStartParams>(),
                 R"({"program_id": "p", "name": "m", "bindings": [{"name": "fs"}]})", "missing field `kind`"},
        ReadCase{"resume_without_payload", reader<RunResumeParams>(), R"({"run_id": "run_4242_1"})",
                 "missing field `payload`"},
        ReadCase{"resume_payload_number", reader<RunResumeParams>(), R"({"run_id": "run_4242_1", "payload": 3})",
                 "data did not match any variant of untagged enum Resume"},
        ReadCase{"resume_positional_short", reader<RunResumeParams>(), R"(["r"])",
                 "invalid length 1, expected struct RunResumeParams with 2 elements"},
        ReadCase{"run_params_positional_empty", reader<RunParams>(), "[]",
                 "invalid length 0, expected struct RunParams with 1 element"},
        ReadCase{"run_params_null", reader<RunParams>(), "null", "invalid type: null, expected struct RunParams"},
        ReadCase{"inject_positional_short", reader<RunInjectParams>(), R"(["r", "agent"])",
                 "invalid length 2, expected struct RunInjectParams with 3 elements"},
        ReadCase{"judgment_state_list", reader<JudgmentRunParams>(), R"({"program_id": "p", "name": "j", "state": []})",
                 "invalid type: sequence, expected a map"},
        ReadCase{"judgment_positional_short", reader<JudgmentRunParams>(), R"(["p", "j"])",
                 "invalid length 2, expected struct JudgmentRunParams with 5 elements"},
        ReadCase{"load_empty_object", reader<ProgramLoadParams>(), "{}", ""},
        ReadCase{"load_empty_array", reader<ProgramLoadParams>(), "[]", ""},
        ReadCase{"load_paths_null", reader<ProgramLoadParams>(), R"({"source": "x", "paths": null})",
                 "invalid type: null, expected a sequence"},
        ReadCase{"request_method_number", reader<Request>(), R"({"id": 1, "method": 5})",
                 "invalid type: integer `5`, expected a string"},
        ReadCase{"request_as_string", reader<Request>(), R"("run.next")",
                 "invalid type: string \"run.next\", expected struct Request"},
        ReadCase{"request_float_found", reader<Request>(), R"({"jsonrpc": 2.0})",
                 "invalid type: floating point `2.0`, expected a string"}),
    [](const auto& info) { return info.param.name; });

TEST(ParamsRead, KeepsWhatTheRecordsHold) {
  auto start = TaskStartParams::read(parse(
      R"({"program_id": "program_1", "name": "main", "inputs": {"n": 2, "p": {"$zem": "prob", "value": 0.5}},
          "bindings": [["fs", "tool", [{"read": [["path"], "text"]}]]], "redact": true, "sample": {"seed": 7},
          "paths": []})"));
  ASSERT_TRUE(start.ok()) << start.error();
  EXPECT_EQ(start->inputs.at("n"), runtime::Value::number(2));
  EXPECT_TRUE(start->inputs.at("p").is_prob());
  ASSERT_EQ(start->bindings.size(), 1u);
  const BindingParam& binding = start->bindings.front();
  EXPECT_EQ(binding.name, "fs");
  ASSERT_TRUE(binding.manifest.has_value());
  EXPECT_EQ(binding.manifest->verbs.at("read"), (record::ManifestVerb{{"path"}, "text"}));
  EXPECT_EQ(start->redact, true);
  EXPECT_EQ(start->sample->seed(), 7u);

  // A member given twice keeps its last value.
  auto run = RunParams::read(parse(R"({"run_id": "a", "run_id": "b"})"));
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(run->run_id, "b");

  auto resume = RunResumeParams::read(parse(R"({"run_id": "r", "payload": {"extend": {"calls": 60}}})"));
  ASSERT_TRUE(resume.ok()) << resume.error();
  EXPECT_EQ(resume->payload.kind(), record::Resume::Kind::Extend);
}

TEST(RequestRead, TellsANullIdFromNone) {
  auto positional = Request::read(parse(R"(["2.0", 7, "run.next"])"));
  ASSERT_TRUE(positional.ok());
  EXPECT_EQ(positional->id, json::Value(7));
  EXPECT_TRUE(positional->params.is_null());

  auto null_id = Request::read(parse(R"({"jsonrpc": "2.0", "method": "run.next", "id": null})"));
  ASSERT_TRUE(null_id.ok());
  ASSERT_TRUE(null_id->id.has_value());
  EXPECT_TRUE(null_id->id->is_null());

  auto no_id = Request::read(parse(R"({"jsonrpc": "2.0", "method": "run.next"})"));
  ASSERT_TRUE(no_id.ok());
  EXPECT_FALSE(no_id->id.has_value());

  auto empty = Request::read(parse("{}"));
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty->jsonrpc, "");
  EXPECT_EQ(empty->method, "");
}

}  // namespace
}  // namespace dravelin::serve::protocol
