// Capability records: call arguments and handles as hosts see them, observations, tool manifests and the
// names of capability kinds.
#include "record/capability.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "record_test_support.h"
#include "runtime/value_json.h"

namespace dravelin::record {
namespace {

using runtime::Value;
using namespace test_support;

TEST(CallArgumentsForm, MembersLeftOutWhenEmpty) {
  EXPECT_EQ(json::to_compact(call_arguments_to_json({})), "{}");
  CallArguments named_only;
  named_only.named.emplace("minutes", Value::number(5));
  EXPECT_EQ(json::to_compact(call_arguments_to_json(named_only)), R"({"named":{"minutes":5}})");
  CallArguments both{{Value::text("idle"), Value::prob(0.5)}, {}};
  both.named.emplace("using", Value::list({}));
  EXPECT_EQ(json::to_compact(call_arguments_to_json(both)),
            R"({"named":{"using":[]},"positional":["idle",{"$zem":"prob","value":0.5}]})");
  // The value a call event holds has the same JSON.
  EXPECT_EQ(json::to_compact(runtime::to_tagged_json(call_arguments_to_value(both))),
            json::to_compact(call_arguments_to_json(both)));
  EXPECT_EQ(call_arguments_to_value({}), Value::record({}));
}

TEST(HandleForm, FieldsBesideCapabilityAndId) {
  runtime::Handle handle{"coder", "h1", {{"pid", json::Value(7)}, {"a", json::Value("x")}}};
  EXPECT_EQ(json::to_compact(handle_to_host_json(handle)), R"({"capability":"coder","id":"h1","a":"x","pid":7})");
  // Hosts read a handle back from the same shape.
  auto back = runtime::handle_from_json_map(handle_to_host_json(handle));
  ASSERT_TRUE(back.ok()) << back.error();
  EXPECT_EQ(*back, handle);
}

TEST(ObservationForm, NamedMembersFirstWhenWrittenMemberByMember) {
  auto read = Observation::read_json(
      parse(R"({"tail":"","status":"waiting","pid":12,"last_message":"","env":{"a":null}})"));
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read->status, AgentStatus::Waiting);
  EXPECT_FALSE(read->exit_code.has_value());
  ASSERT_EQ(read->extra.size(), 2u);
  EXPECT_EQ(read->extra.at("env"), parse(R"({"a":null})"));
  std::string text;
  read->write_json(text);
  EXPECT_EQ(text, R"({"status":"waiting","last_message":"","tail":"","env":{"a":null},"pid":12})");
  EXPECT_EQ(json::to_compact(read->to_json_value()),
            R"({"env":{"a":null},"last_message":"","pid":12,"status":"waiting","tail":""})");
}

TEST(ObservationRead, ValuesAndRefusals) {
  struct Case {
    std::string name;
    std::string json;
    std::string message;  // empty when it reads
    std::optional<int32_t> exit_code = std::nullopt;
  };
  const std::string base = R"("status":"exited","last_message":"m","tail":"t")";
  const std::vector<Case> cases = {
      {"exit code null is absent", "{" + base + R"(,"exit_code":null})", ""},
      {"negative exit code", "{" + base + R"(,"exit_code":-1})", "", -1},
      {"exit code beyond i32", "{" + base + R"(,"exit_code":2147483648})",
       "invalid value: integer `2147483648`, expected i32"},
      {"exit code as float", "{" + base + R"(,"exit_code":3.0})", "invalid type: floating point `3.0`, expected i32"},
      {"status by unit object", R"({"status":{"exited":null},"last_message":"m","tail":"t"})", ""},
      {"status unit with data", R"({"status":{"exited":0},"last_message":"m","tail":"t"})",
       "invalid type: integer `0`, expected unit"},
      {"status unit with empty object", R"({"status":{"exited":{}},"last_message":"m","tail":"t"})",
       "invalid type: map, expected unit"},
      {"status empty object", R"({"status":{},"last_message":"m","tail":"t"})",
       "invalid value: map, expected map with a single key"},
      {"status capitalised", R"({"status":"Running","last_message":"m","tail":"t"})",
       "unknown variant `Running`, expected one of `running`, `waiting`, `exited`"},
      {"no tail", R"({"status":"running","last_message":"m"})", "missing field `tail`"},
      {"neither message nor tail", R"({"status":"running"})", "missing field `last_message`"},
      {"null tail", R"({"status":"running","last_message":"m","tail":null})",
       "invalid type: null, expected a string"},
      // Members are met in key order, so the faulty `last_message` is found before the faulty `status`.
      {"first fault in key order", R"({"status":5,"last_message":5,"tail":"t"})",
       "invalid type: integer `5`, expected a string"},
      {"repeated member keeps the last", R"({"status":"running","last_message":1,"last_message":"m","tail":"t"})",
       ""},
      {"array", R"(["running","m","t"])", "invalid type: sequence, expected struct Observation"},
      {"null", "null", "invalid type: null, expected struct Observation"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = Observation::read_json(parse(c.json));
    if (c.message.empty()) {
      ASSERT_TRUE(read.ok()) << read.error();
      EXPECT_EQ(read->exit_code, c.exit_code);
      std::string text;
      read->write_json(text);
      EXPECT_EQ(text.find("null"), std::string::npos) << text;
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error(), c.message);
    }
  }
}

TEST(ToolManifestRead, ObjectAndArrayForms) {
  struct Case {
    std::string name;
    std::string json;
    std::optional<ToolManifest> expected;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"object with extra members", R"({"verbs":{"ls":{"params":["dir"],"returns":"names"}},"version":2})",
       ToolManifest{{{"ls", ManifestVerb{{"dir"}, "names"}}}}, ""},
      {"array of the verbs object", R"([{"ls":{}}])", ToolManifest{{{"ls", ManifestVerb{}}}}, ""},
      {"verb by position", R"({"verbs":{"ls":[["dir"]]}})", ToolManifest{{{"ls", ManifestVerb{{"dir"}, {}}}}}, ""},
      {"null returns is absent", R"({"verbs":{"ls":{"returns":null}}})", ToolManifest{{{"ls", ManifestVerb{}}}}, ""},
      {"empty object", "{}", std::nullopt, "missing field `verbs`"},
      {"empty array", "[]", std::nullopt, "invalid length 0, expected struct ToolManifest with 1 element"},
      {"two elements", R"([{},{}])", std::nullopt, "invalid length 2, expected fewer elements in array"},
      {"element not an object", R"([1])", std::nullopt, "invalid type: integer `1`, expected a map"},
      {"verb with three elements", R"({"verbs":{"ls":[[],null,1]}})", std::nullopt,
       "invalid length 3, expected fewer elements in array"},
      {"verb as text", R"({"verbs":{"ls":"x"}})", std::nullopt, "invalid type: string \"x\", expected struct ManifestVerb"},
      {"manifest as text", R"("x")", std::nullopt, "invalid type: string \"x\", expected struct ToolManifest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = ToolManifest::read_json(parse(c.json));
    if (c.expected) {
      ASSERT_TRUE(read.ok()) << read.error();
      EXPECT_EQ(*read, *c.expected);
      auto again = ToolManifest::read_json(read->to_json_value());
      ASSERT_TRUE(again.ok()) << again.error();
      EXPECT_EQ(*again, *read);
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error(), c.message);
    }
  }
}

TEST(NeedKinds, NamesAndDisplayNames) {
  const std::vector<std::pair<std::string_view, std::string_view>> expected = {
      {"agent", "Agent"}, {"person", "Person"}, {"llm", "Llm"}, {"tool", "Tool"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(need_kind_name(static_cast<NeedKind>(i)), expected[i].first);
    EXPECT_EQ(need_kind_display_name(static_cast<NeedKind>(i)), expected[i].second);
  }
}

}  // namespace
}  // namespace dravelin::record
