// The adapter protocol without a process: request lines, replies and what their answers mean.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "cli/adapter_hosts.h"
#include "json/reader.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace {

using dravelin::cli::read_adapter_reply;
using dravelin::cli::read_call_answer;
using dravelin::runtime::CallArguments;
using dravelin::runtime::RuntimeErrorCode;
using dravelin::runtime::Value;
using dravelin::syntax::NeedKind;

dravelin::json::Value parsed(const std::string& text) {
  auto value = dravelin::json::parse_json_value(text);
  EXPECT_TRUE(value.ok()) << text;
  return value.ok() ? value.value() : dravelin::json::Value();
}

std::string compact(const dravelin::json::Value& value) { return dravelin::json::to_compact(value); }

TEST(AdapterRequests, MembersComeInByteOrderOfTheirKeys) {
  CallArguments args;
  args.positional = {Value::text("build"), Value::prob(0.25)};
  args.named.emplace("timeout", Value::number(3));
  EXPECT_EQ(compact(dravelin::cli::adapter_call_request("shell", "run", args)),
            R"({"args":{"named":{"timeout":3},"positional":["build",{"$zem":"prob","value":0.25}]},)"
            R"("capability":"shell","operation":"call","verb":"run"})");
  EXPECT_EQ(compact(dravelin::cli::adapter_call_request("shell", "ls", {})),
            R"({"args":{},"capability":"shell","operation":"call","verb":"ls"})");

  dravelin::runtime::Handle handle;
  handle.capability = "scout";
  handle.id = "w-1";
  handle.fields.emplace("a", dravelin::json::Value(1));
  handle.fields.emplace("zone", dravelin::json::Value("eu"));
  EXPECT_EQ(compact(dravelin::cli::adapter_observe_request("scout", handle)),
            R"({"capability":"scout","handle":{"a":1,"capability":"scout","id":"w-1","zone":"eu"},)"
            R"("operation":"observe"})");
}

// "error <message>", with " (retryable)" when it is; every failure an all-zero `adapter_error`.
std::string failure(const dravelin::runtime::RuntimeError& e) {
  EXPECT_EQ(e.code, RuntimeErrorCode::AdapterError);
  EXPECT_EQ(e.span, dravelin::syntax::Span{});
  return "error " + e.message + (e.retryable ? " (retryable)" : "");
}

struct ReplyCase {
  std::string name;
  std::string reply;
  std::string key;
  std::string expected;  // "answer <compact JSON>" or a failure
};
void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }

class AdapterReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(AdapterReplies, GiveTheAnswerOrTheFailure) {
  const ReplyCase& c = GetParam();
  auto read = read_adapter_reply(parsed(c.reply), "t", c.key);
  EXPECT_EQ(read.ok() ? "answer " + compact(read.value()) : failure(read.error()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, AdapterReplies,
    ::testing::Values(
        ReplyCase{"Result", R"({"result":{"n":[1,2]},"note":"x"})", "result", R"(answer {"n":[1,2]})"},
        ReplyCase{"NullResult", R"({"result":null})", "result", "answer null"},
        ReplyCase{"Observation", R"({"observation":{"status":"running"}})", "observation",
                  R"(answer {"status":"running"})"},
        ReplyCase{"NullErrorWinsOverResult", R"({"error":null,"result":1})", "result", "error adapter error"},
        ReplyCase{"RetryableError", R"({"error":{"message":"busy","retryable":true}})", "result",
                  "error busy (retryable)"},
        ReplyCase{"RetryableMustBeABoolean", R"({"error":{"retryable":"yes"}})", "result", "error adapter error"},
        ReplyCase{"MessageMustBeAString", R"({"error":{"message":7,"retryable":false}})", "result",
                  "error adapter error"},
        ReplyCase{"ErrorAsText", R"({"error":"boom"})", "observation", "error adapter error"},
        ReplyCase{"LastRepeatWins", R"({"error":{"message":"a"},"error":{"message":"b"}})", "result", "error b"},
        ReplyCase{"LacksResult", R"({"ok":1})", "result", "error adapter `t` reply lacks `result`"},
        ReplyCase{"ResultIsNoObservation", R"({"result":1})", "observation",
                  "error adapter `t` reply lacks `observation`"},
        ReplyCase{"NotAnObject", R"([{"result":1}])", "result", "error adapter `t` reply lacks `result`"}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

struct AnswerCase {
  std::string name;
  NeedKind kind;
  std::string verb;
  std::string answer;
  std::string expected;  // "value <tagged JSON>" or a failure
};
void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class CallAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(CallAnswers, ReadAsAHandleAfterSpawnElseAsATaggedValue) {
  const AnswerCase& c = GetParam();
  auto read = read_call_answer(c.kind, c.verb, parsed(c.answer));
  EXPECT_EQ(read.ok() ? "value " + compact(dravelin::runtime::to_tagged_json(read.value())) : failure(read.error()),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, CallAnswers,
    ::testing::Values(
        AnswerCase{"SpawnGivesAHandleWithItsFields", NeedKind::Agent, "spawn",
                   R"({"id":"w-1","capability":"scout","zone":"eu"})",
                   R"(value {"$zem":"handle","capability":"scout","id":"w-1","zone":"eu"})"},
        AnswerCase{"SpawnRefusesText", NeedKind::Agent, "spawn", R"("w-1")",
                   R"(error invalid type: string "w-1", expected struct Handle)"},
        AnswerCase{"SpawnNeedsAnId", NeedKind::Agent, "spawn", R"({"capability":"scout"})", "error missing field `id`"},
        AnswerCase{"SpawnOnAToolIsAnOrdinaryValue", NeedKind::Tool, "spawn", R"("w-1")", R"(value "w-1")"},
        AnswerCase{"OtherVerbsReadMarkedKinds", NeedKind::Agent, "send", R"({"$zem":"prob","value":0.5})",
                   R"(value {"$zem":"prob","value":0.5})"},
        AnswerCase{"AMarkedHandleFromAnyVerb", NeedKind::Tool, "find", R"({"$zem":"handle","capability":"c","id":"7"})",
                   R"(value {"$zem":"handle","capability":"c","id":"7"})"},
        AnswerCase{"PlainObjectsAreRecords", NeedKind::Person, "ask", R"({"b":[true,null],"a":"x"})",
                   R"(value {"a":"x","b":[true,null]})"}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST(CallAnswers, AMalformedMarkedValueIsTheReadersMessage) {
  auto read = read_call_answer(NeedKind::Tool, "find", parsed(R"({"$zem":"prob","value":"high"})"));
  auto direct = dravelin::runtime::from_tagged_json(parsed(R"({"$zem":"prob","value":"high"})"));
  ASSERT_FALSE(read.ok() || direct.ok());
  EXPECT_EQ(failure(read.error()), "error " + direct.error());
}

}  // namespace
