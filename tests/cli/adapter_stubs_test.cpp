// The demonstration stubs: what they print and what they answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "cli/adapter_hosts.h"
#include "cli/adapter_support.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace {

using dravelin::cli::StubHost;
using dravelin::runtime::CallArguments;
using dravelin::runtime::Value;
using dravelin::syntax::NeedKind;
using ::testing::ElementsAre;

std::string tagged(const Value& value) { return dravelin::json::to_compact(dravelin::runtime::to_tagged_json(value)); }

Value choice(std::string label) {
  dravelin::runtime::Choice c;
  c.label = std::move(label);
  c.confidence = 0.5;
  return Value::choice(std::move(c));
}

struct StubCase {
  std::string name;
  NeedKind kind;
  std::string verb;
  CallArguments args;
  std::string printed;
  std::string answer;  // tagged JSON
};
void PrintTo(const StubCase& c, std::ostream* out) { *out << c.name; }

class StubAnswers : public ::testing::TestWithParam<StubCase> {};

TEST_P(StubAnswers, PrintTheCallThenAnswerByKindAndVerb) {
  const StubCase& c = GetParam();
  std::vector<std::string> lines;
  StubHost stub("cap", c.kind, [&](std::string_view line) { lines.emplace_back(line); });
  auto answer = stub.call(c.verb, c.args);
  ASSERT_TRUE(answer.ok());
  EXPECT_EQ(tagged(answer.value()), c.answer);
  EXPECT_THAT(lines, ElementsAre(c.printed));
}

CallArguments both() {
  CallArguments args;
  args.positional = {Value::text("draft"), Value::number(2)};
  args.named.emplace("using", choice("calm"));
  args.named.emplace("minutes", Value::number(5));
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StubAnswers,
    ::testing::Values(
        StubCase{"AgentSpawnGivesAHandle",
                 NeedKind::Agent,
                 "spawn",
                 {},
                 "[stub:cap] spawn {}",
                 R"({"$zem":"handle","capability":"cap","id":"stub-1"})"},
        StubCase{"AgentWaitGivesTheObservationAsARecord", NeedKind::Agent, "wait",
                 dravelin::testing::positional({Value::none()}), "[stub:cap] wait {\"positional\":[null]}",
                 R"({"last_message":"built-in stub observation","status":"waiting","tail":"built-in stub"})"},
        StubCase{"AgentSendGivesNone", NeedKind::Agent, "send", {}, "[stub:cap] send {}", "null"},
        StubCase{"AgentStopGivesNone", NeedKind::Agent, "stop", {}, "[stub:cap] stop {}", "null"},
        StubCase{"AgentOtherVerbGivesAnEmptyRecord", NeedKind::Agent, "observe", {}, "[stub:cap] observe {}", "{}"},
        StubCase{"PersonNotifyGivesNone", NeedKind::Person, "notify", {}, "[stub:cap] notify {}", "null"},
        StubCase{"PersonAskGivesAnEmptyRecord", NeedKind::Person, "ask",
                 dravelin::testing::positional({Value::text("ok?")}), "[stub:cap] ask {\"positional\":[\"ok?\"]}",
                 "{}"},
        StubCase{"LlmWriteGivesItsFirstArgumentUnchanged", NeedKind::Llm, "write", both(),
                 "[stub:cap] write "
                 R"({"positional":["draft",2],"named":{"minutes":5,"using":{"$zem":"choice","confidence":0.5,)"
                 R"("label":"calm","probabilities":{}}}})",
                 R"("draft")"},
        StubCase{
            "LlmWriteKeepsAMarkedKind", NeedKind::Llm, "write", dravelin::testing::positional({choice("up")}),
            R"([stub:cap] write {"positional":[{"$zem":"choice","confidence":0.5,"label":"up","probabilities":{}}]})",
            R"({"$zem":"choice","confidence":0.5,"label":"up","probabilities":{}})"},
        StubCase{"LlmWriteWithoutArgumentsGivesEmptyText", NeedKind::Llm, "write", {}, "[stub:cap] write {}", R"("")"},
        StubCase{"ToolVerbsGiveAnEmptyRecord", NeedKind::Tool, "spawn", {}, "[stub:cap] spawn {}", "{}"}),
    [](const ::testing::TestParamInfo<StubCase>& info) { return info.param.name; });

TEST(Stubs, HandlesCountFromOnePerHost) {
  auto quiet = [](std::string_view) {};
  StubHost first("a", NeedKind::Agent, quiet);
  StubHost second("b", NeedKind::Agent, quiet);
  std::vector<std::string> ids;
  for (StubHost* stub : {&first, &first, &second, &first}) {
    auto handle = stub->call("spawn", {});
    ASSERT_TRUE(handle.ok() && handle->is_handle());
    ids.push_back(handle->as_handle().capability + "/" + handle->as_handle().id);
  }
  EXPECT_THAT(ids, ElementsAre("a/stub-1", "a/stub-2", "b/stub-1", "a/stub-3"));
}

TEST(Stubs, ObserveGivesTheStubObservationWhateverTheHandle) {
  std::vector<std::string> lines;
  StubHost stub("a", NeedKind::Agent, [&](std::string_view line) { lines.emplace_back(line); });
  dravelin::runtime::Handle elsewhere;
  elsewhere.capability = "other";
  elsewhere.id = "x-9";
  auto observation = stub.observe(elsewhere);
  ASSERT_TRUE(observation.ok());
  std::string text;
  observation->write_json(text);
  EXPECT_EQ(text, R"({"status":"waiting","last_message":"built-in stub observation","tail":"built-in stub"})");
  EXPECT_TRUE(lines.empty());
}

}  // namespace
