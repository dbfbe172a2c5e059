// The server loop's answers to single lines: bad messages, the envelope's rules, ids echoed as received, and
// the order in which queued and read lines are served.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "serve/server/server_loop.h"
#include "serve_test_support.h"
#include "support/zem_server.h"

namespace dravelin::serve::server {
namespace {

struct LineCase {
  std::string name;
  std::string line;
  std::optional<std::string> reply;  // none: nothing is written
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

class ServerLine : public ::testing::TestWithParam<LineCase> {
 protected:
  testing::StdioPipes pipes_;
};

TEST_P(ServerLine, AnswersWithOneLine) {
  const LineCase& c = GetParam();
  BridgeState state;
  state.io = pipes_.io();
  EXPECT_EQ(handle_line(state, c.line), c.reply);
}

constexpr const char* kKnown =
    R"("kind":"method_not_found","known":["program.load","judgment.run","task.start","run.next","run.resume","run.abort","run.inject"])";

INSTANTIATE_TEST_SUITE_P(
    Envelope, ServerLine,
    ::testing::Values(
        LineCase{"opening_brace_only", "{",
                 R"({"error":{"code":-32700,"data":{"detail":"EOF while parsing an object at line 1 column 1","kind":"parse_error"},"message":"parse error"},"id":null,"jsonrpc":"2.0"})"},
        LineCase{"trailing_word", "{} x",
                 R"({"error":{"code":-32700,"data":{"detail":"trailing characters at line 1 column 4","kind":"parse_error"},"message":"parse error"},"id":null,"jsonrpc":"2.0"})"},
        LineCase{"boolean_id", R"({"jsonrpc":"2.0","id":true,"method":"run.next"})",
                 R"({"error":{"code":-32600,"data":{"detail":"id must be a string, number or null","kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"})"},
        LineCase{"old_version", R"({"jsonrpc":"1.0","id":5,"method":"run.next"})",
                 R"({"error":{"code":-32600,"data":{"kind":"invalid_request"},"message":"invalid request"},"id":5,"jsonrpc":"2.0"})"},
        LineCase{"old_version_without_id", R"({"jsonrpc":"1.0","method":"run.next"})",
                 R"({"error":{"code":-32600,"data":{"kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"})"},
        LineCase{"empty_method", R"({"jsonrpc":"2.0","id":"a","method":""})",
                 R"({"error":{"code":-32600,"data":{"kind":"invalid_request"},"message":"invalid request"},"id":"a","jsonrpc":"2.0"})"},
        LineCase{"string_message", R"("run.next")",
                 R"({"error":{"code":-32600,"data":{"detail":"invalid type: string \"run.next\", expected struct Request","kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"})"},
        LineCase{"unreadable_with_id", R"({"jsonrpc":"2.0","id":3,"method":5})",
                 R"({"error":{"code":-32600,"data":{"detail":"invalid type: integer `5`, expected a string","kind":"invalid_request"},"message":"invalid request"},"id":3,"jsonrpc":"2.0"})"},
        LineCase{"unreadable_with_array_id", R"({"jsonrpc":"2.0","id":[3],"method":5})",
                 R"({"error":{"code":-32600,"data":{"detail":"invalid type: integer `5`, expected a string","kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"})"},
        LineCase{"unknown_notification", R"({"jsonrpc":"2.0","method":"nope"})", std::nullopt},
        LineCase{"null_id_is_answered", R"({"jsonrpc":"2.0","id":null,"method":"nope"})",
                 std::string(R"({"error":{"code":-32601,"data":{)") + kKnown +
                     R"(,"method":"nope"},"message":"method not found"},"id":null,"jsonrpc":"2.0"})"},
        LineCase{"capitalised_method", R"({"jsonrpc":"2.0","id":2,"method":"Run.next"})",
                 std::string(R"({"error":{"code":-32601,"data":{)") + kKnown +
                     R"(,"method":"Run.next"},"message":"method not found"},"id":2,"jsonrpc":"2.0"})"},
        // A late reply of the SDK host to a capability call that has ended answers nothing of ours: answering it
        // would put an error under an id of the host's own numbering.
        LineCase{"late_reply_dropped", R"({"jsonrpc":"2.0","id":7,"result":1})", std::nullopt},
        LineCase{"late_error_reply_dropped", R"({"jsonrpc":"2.0","id":7,"error":{"code":1,"message":"x"}})",
                 std::nullopt},
        LineCase{"params_missing_run_id", R"({"jsonrpc":"2.0","id":1,"method":"run.next","params":{}})",
                 R"({"error":{"code":-32602,"data":{"kind":"invalid_params"},"message":"invalid parameters: missing field `run_id`"},"id":1,"jsonrpc":"2.0"})"},
        LineCase{"unknown_run", R"({"jsonrpc":"2.0","id":1,"method":"run.abort","params":{"run_id":"run_0_0"}})",
                 R"({"error":{"code":-32602,"data":{"kind":"invalid_params"},"message":"unknown run_id `run_0_0`"},"id":1,"jsonrpc":"2.0"})"},
        LineCase{"unknown_program",
                 R"({"jsonrpc":"2.0","id":1,"method":"task.start","params":{"program_id":"program_9","name":"main"}})",
                 R"({"error":{"code":-32602,"data":{"kind":"invalid_params"},"message":"unknown program_id `program_9`"},"id":1,"jsonrpc":"2.0"})"},
        LineCase{"load_needs_one_source", R"({"jsonrpc":"2.0","id":1,"method":"program.load","params":{}})",
                 R"({"error":{"code":-32602,"data":{"kind":"invalid_params"},"message":"program.load requires exactly one of `source` or `path`"},"id":1,"jsonrpc":"2.0"})"}),
    [](const auto& info) { return info.param.name; });

// The id cases above only say that a reply is made; here is what it carries.
TEST(ServerLineIds, EchoTheIdAsWritten) {
  testing::StdioPipes pipes;
  BridgeState state;
  state.io = pipes.io();
  struct Case {
    std::string line;
    std::string id;
  } cases[] = {
      {R"({"jsonrpc":"2.0","id":1.50,"method":"nope"})", "1.50"},
      {R"({"jsonrpc":"2.0","id":123456789012345678901234567890,"method":"nope"})", "123456789012345678901234567890"},
      {R"({"jsonrpc":"2.0","id":-0,"method":"nope"})", "-0"},
      {R"({"jsonrpc":"2.0","id":"\u0041b","method":"nope"})", R"("\u0041b")"},
      {R"({"jsonrpc":"2.0","id":1,"id": 2e0,"method":"nope"})", "2e0"},
      {R"(["2.0", 9.0, "nope"])", "9.0"},
  };
  for (const Case& c : cases) {
    auto reply = handle_line(state, c.line);
    ASSERT_TRUE(reply.has_value()) << c.line;
    EXPECT_NE(reply->find(",\"id\":" + c.id + ",\"jsonrpc\":\"2.0\"}"), std::string::npos) << *reply;
  }
}

TEST(ServerPrograms, NumbersTheLoadsThatCompile) {
  testing::StdioPipes pipes;
  BridgeState state;
  state.io = pipes.io();
  const std::string good = R"({"jsonrpc":"2.0","id":1,"method":"program.load","params":{"source":"program p\n\ntask main:\n  stop \"x\"\n"}})";
  const std::string bad = R"({"jsonrpc":"2.0","id":2,"method":"program.load","params":{"source":"program p\n\ntask main:\n  loop:\n    x = 1\n"}})";
  const std::string silent = R"({"jsonrpc":"2.0","method":"program.load","params":{"source":"program q\n"}})";

  auto first = handle_line(state, good);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first,
            R"({"id":1,"jsonrpc":"2.0","result":{"inputs":[],"judgments":[],"name":"p","needs":[],"program_id":"program_1"}})");
  auto failed = handle_line(state, bad);
  ASSERT_TRUE(failed.has_value());
  EXPECT_NE(failed->find(R"("code":-32020)"), std::string::npos) << *failed;
  EXPECT_NE(failed->find(R"("code":"unbounded_loop")"), std::string::npos) << *failed;
  // A notification loads too, and its number is not given out again.
  EXPECT_EQ(handle_line(state, silent), std::nullopt);
  auto third = handle_line(state, good);
  ASSERT_TRUE(third.has_value());
  EXPECT_NE(third->find(R"("program_id":"program_3")"), std::string::npos) << *third;
}

// A request whose handling runs out of memory is answered with that failure, and the bridge serves on: where the
// judgment's own boundary catches it (asking the service) and where only the bridge's does (making the client).
TEST(ServerMemory, ARequestThatRunsOutOfMemoryIsAnsweredAndTheBridgeServesOn) {
  class ExhaustedService final : public zem::ZemService {
   public:
    Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup&) override { throw std::bad_alloc(); }
  };
  struct Case {
    const char* name;
    ClientFactory factory;
    std::string message;
  };
  const Case cases[] = {
      {"making_the_client",
       [](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
         throw std::length_error("vector::reserve");
       },
       "`judgment.run` ran out of memory"},
      {"asking_the_service",
       [](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
         return std::unique_ptr<zem::ZemService>(std::make_unique<ExhaustedService>());
       },
       "the judgment ran out of memory"},
  };
  dravelin::testing::ScopedEnv env;
  env.unset("DRAVELIN_PROFILES");
  testing::StdioPipes pipes;
  BridgeState state;
  state.io = pipes.io();
  const std::string load =
      R"({"jsonrpc":"2.0","id":1,"method":"program.load","params":{"source":"program p\n\njudgment j(t):\n  ok = t feels \"fine\"\n"}})";
  ASSERT_NE(handle_line(state, load).value_or("").find(R"("program_id":"program_1")"), std::string::npos);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state.make_client = c.factory;
    auto reply = handle_line(
        state, R"({"jsonrpc":"2.0","id":2,"method":"judgment.run","params":{"program_id":"program_1","name":"j","state":{"t":"x"}}})");
    ASSERT_TRUE(reply.has_value());
    EXPECT_NE(reply->find(R"("code":-32010)"), std::string::npos) << *reply;
    EXPECT_NE(reply->find(R"("kind":"type_error")"), std::string::npos) << *reply;
    EXPECT_NE(reply->find(R"("message":")" + c.message + "\""), std::string::npos) << *reply;
  }
  EXPECT_NE(handle_line(state, load).value_or("").find(R"("program_id":"program_2")"), std::string::npos);
}

TEST(ServerLoop, ServesQueuedLinesFirstSkipsBlankOnesAndEndsWithItsInput) {
  testing::StdioPipes pipes;
  BridgeState state;
  state.io = pipes.io();
  state.io->hold().pending().push_back(R"({"jsonrpc":"2.0","id":"queued","method":"nope"})");
  pipes.send({"", "  \t ", "\xE2\x80\x83" R"({"jsonrpc":"2.0","id":"read","method":"nope"})" "\xC2\xA0 "});
  pipes.close_input();
  ASSERT_TRUE(run_server_loop(state).ok());
  const auto lines = pipes.written();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(R"("id":"queued")"), std::string::npos);
  EXPECT_NE(lines[1].find(R"("id":"read")"), std::string::npos);
}

}  // namespace
}  // namespace dravelin::serve::server
