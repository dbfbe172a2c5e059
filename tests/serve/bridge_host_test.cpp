// The capability host of an SDK binding: its round trip with the SDK host over stdio, what it makes of the
// replies, and the aborts that arrive while it waits.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "json/reader.h"
#include "runtime/value_json.h"
#include "serve/server/bridge_host.h"
#include "serve_test_support.h"

namespace dravelin::serve::server {
namespace {

using namespace std::chrono_literals;

// A host bound to a run "run_1" whose abort flag the test can watch; the SDK host's lines are written before
// the host asks, as the pipes hold them until it reads.
class HostRoundTrip : public ::testing::Test {
 protected:
  HostRoundTrip() {
    link_->fill("run_1", flag_);
    // The id the next request to the SDK host takes.
    next_id_ = next_host_request_id() + 1;
  }

  BridgeHost host(record::NeedKind kind, std::set<std::string> handle_verbs = {},
                  std::chrono::milliseconds grace = 5000ms) {
    return BridgeHost(core::BindingSpec{"files", kind, std::nullopt, std::move(handle_verbs), link_}, pipes_.io(),
                      grace);
  }
  std::string id() const { return std::to_string(next_id_); }
  std::string reply(const std::string& result) const {
    return R"({"jsonrpc":"2.0","id":)" + id() + R"(,"result":)" + result + "}";
  }
  Result<runtime::Value, runtime::RuntimeError> call(BridgeHost& h, std::string verb = "read") {
    return h.call(verb, runtime::CallArguments{});
  }

  testing::StdioPipes pipes_;
  std::shared_ptr<core::RunLink> link_ = std::make_shared<core::RunLink>();
  run::AbortFlag flag_ = std::make_shared<std::atomic<bool>>(false);
  uint64_t next_id_ = 0;
};

TEST_F(HostRoundTrip, SendsTheCallAndTakesTheMatchingReply) {
  BridgeHost h = host(record::NeedKind::Tool);
  pipes_.send({
      R"({"jsonrpc":"2.0","id":")" + id() + R"(","result":{"result":1}})",  // a string id never matches
      R"({"jsonrpc":"2.0","id":)" + id() + R"(.0,"result":{"result":2}})",  // nor does a float
      R"({"jsonrpc":"2.0","id":0,"result":{"result":3}})",                   // a reply to another request
      "   ",
      reply(R"({"result":{"$zem":"prob","value":0.25}})"),
  });
  runtime::CallArguments args;
  args.positional.push_back(runtime::Value::text("a.txt"));
  auto value = h.call("read", std::move(args));
  ASSERT_TRUE(value.ok()) << value.error();
  EXPECT_TRUE(value->is_prob());
  const auto lines = pipes_.written();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], R"({"id":)" + id() +
                          R"(,"jsonrpc":"2.0","method":"capability.call","params":{"args":{"positional":["a.txt"]},"capability":"files","run_id":"run_1","verb":"read"}})");

  // The next call takes the next id.
  pipes_.send({R"({"jsonrpc":"2.0","id":)" + std::to_string(next_id_ + 1) + R"(,"result":{}})"});
  auto none = call(h, "list");
  ASSERT_TRUE(none.ok()) << none.error();
  EXPECT_TRUE(none->is_none());
  const auto second = pipes_.written();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second[0].find(R"("args":{})"), std::string::npos) << "a call without arguments sends {}";
}

struct FailureCase {
  std::string name;
  std::string reply;  // with ID for the request's id
  std::string message;
  bool retryable;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class HostReplyFailure : public HostRoundTrip, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(HostReplyFailure, FailsTheCallAsAnAdapterError) {
  const FailureCase& c = GetParam();
  std::string line = c.reply;
  if (auto at = line.find("ID"); at != std::string::npos) line.replace(at, 2, id());
  pipes_.send({line});
  BridgeHost h = host(record::NeedKind::Tool);
  auto value = call(h);
  ASSERT_FALSE(value.ok());
  EXPECT_EQ(value.error().code, runtime::RuntimeErrorCode::AdapterError);
  EXPECT_EQ(value.error().message, c.message);
  EXPECT_EQ(value.error().retryable, c.retryable);
  EXPECT_TRUE(value.error().span.is_zero());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HostReplyFailure,
    ::testing::Values(
        FailureCase{"error_inside_result", R"({"jsonrpc":"2.0","id":ID,"result":{"error":{"message":"quota","retryable":true}}})",
                    "quota", true},
        FailureCase{"protocol_error", R"({"jsonrpc":"2.0","id":ID,"error":{"code":-32000,"message":"boom"}})", "boom", false},
        FailureCase{"error_without_message", R"({"jsonrpc":"2.0","id":ID,"error":{"retryable":"yes"}})", "adapter error",
                    false},
        FailureCase{"neither", R"({"jsonrpc":"2.0","id":ID})", "the host reply had neither result nor error", false},
        FailureCase{"malformed", "not json",
                    "the host returned malformed JSON: expected ident at line 1 column 2", false},
        FailureCase{"bad_value", R"({"jsonrpc":"2.0","id":ID,"result":{"result":{"$zem":"nope"}}})",
                    "unknown `$zem` kind `nope`", false}),
    [](const auto& info) { return info.param.name; });

TEST_F(HostRoundTrip, EndOfInputWhileWaitingFailsTheCall) {
  pipes_.close_input();
  BridgeHost h = host(record::NeedKind::Tool);
  auto value = call(h);
  ASSERT_FALSE(value.ok());
  EXPECT_EQ(value.error().message, "the host closed stdin during a capability call");
}

// Whatever is not a reply waits for the server loop, which answers it as it would when idle; replies to other
// requests are dropped.
TEST_F(HostRoundTrip, KeepsEveryLineThatIsNoReplyForTheServerLoopInItsOrder) {
  const std::vector<std::string> kept = {
      R"({"jsonrpc":"2.0","id":"l","method":"program.load","params":{"source":"x"}})",
      R"({"jsonrpc":"2.0","id":4,"method":"run.abort","params":{"run_id":"run_2"}})",  // another run's abort
      R"(["2.0","p","program.load",["program q\n"]])",                                 // the positional form
      R"(["2.0",5,"run.abort",["run_2"]])",
      R"([{"jsonrpc":"2.0","id":"b","method":"program.load","params":{}}])",             // a batch
      R"({"jsonrpc":"2.0","id":)" + id() + R"(,"method":5,"result":{}})",                // a method that is no text
      R"({"jsonrpc":"2.0","id":)" + id() + R"(,"method":null})",
      R"({"jsonrpc":"2.0","id":6})",                                                     // neither result nor error
      R"({"jsonrpc":"2.0","result":{}})",                                                // a result without an id
      R"(["2.0",7,"run.abort",["run_1","extra"]])",                                      // parameters it cannot read
      R"({"jsonrpc":"1.0","id":8,"method":"run.abort","params":{"run_id":"run_1"}})",
      R"("run.abort")",
      "42",
  };
  std::vector<std::string> sent;
  for (size_t i = 0; i < kept.size(); ++i) {
    sent.push_back((i == 0 ? "  " : "") + kept[i]);
    if (i == 3) sent.push_back(R"({"jsonrpc":"2.0","id":0,"result":{"result":"stale"}})");
    if (i == 6) sent.push_back(R"({"jsonrpc":"2.0","id":"x","error":{"message":"late"}})");
  }
  sent.push_back(reply(R"({"result":true})"));
  pipes_.send(sent);
  BridgeHost h = host(record::NeedKind::Tool);
  auto value = call(h);
  ASSERT_TRUE(value.ok()) << value.error();
  EXPECT_EQ(*value, runtime::Value::boolean(true));
  EXPECT_FALSE(flag_->load()) << "none of them aborts this run";
  const std::deque<std::string> pending = pipes_.io()->hold().pending();
  EXPECT_EQ(pending, std::deque<std::string>(kept.begin(), kept.end()));
  EXPECT_EQ(pipes_.written().size(), 1u) << "nothing answered but the call itself";
}

TEST_F(HostRoundTrip, AnAbortOfItsRunIsAnsweredAtOnceAndTheReplyStillAwaited) {
  pipes_.send({
      R"({"jsonrpc":"2.0","id":true,"method":"run.abort","params":{"run_id":"run_1"}})",
      R"(["2.0",[1],"run.abort",["run_1"]])",
      R"({"jsonrpc":"2.0","method":"run.abort","params":{"run_id":"run_1"}})",
      R"({"jsonrpc":"2.0","id":9.50,"method":"run.abort","params":{"run_id":"run_1"}})",
      R"(["2.0", "p1" ,"run.abort",["run_1"]])",
      R"(["2.0",null,"run.abort",{"run_id":"run_1"}])",
      reply(R"({"result":"late but welcome"})"),
  });
  BridgeHost h = host(record::NeedKind::Tool);
  auto value = call(h);
  ASSERT_TRUE(value.ok()) << value.error();
  EXPECT_EQ(*value, runtime::Value::text("late but welcome"));
  EXPECT_TRUE(flag_->load());
  const std::string bad_id =
      R"({"error":{"code":-32600,"data":{"detail":"id must be a string, number or null","kind":"invalid_request"},"message":"invalid request"},"id":null,"jsonrpc":"2.0"})";
  const auto lines = pipes_.written();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], bad_id);
  EXPECT_EQ(lines[2], bad_id) << "the positional form answers as the object form";
  EXPECT_EQ(lines[3], R"({"id":9.50,"jsonrpc":"2.0","result":{"ok":true}})");
  EXPECT_EQ(lines[4], R"({"id":"p1","jsonrpc":"2.0","result":{"ok":true}})");
  EXPECT_EQ(lines[5], R"({"id":null,"jsonrpc":"2.0","result":{"ok":true}})");
  EXPECT_TRUE(pipes_.io()->hold().pending().empty());
}

TEST_F(HostRoundTrip, APositionalAbortOfItsRunAborts) {
  pipes_.send({R"(["2.0",3,"run.abort",["run_1"]])", reply("{}")});
  BridgeHost h = host(record::NeedKind::Tool);
  ASSERT_TRUE(call(h).ok());
  EXPECT_TRUE(flag_->load());
  const auto lines = pipes_.written();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], R"({"id":3,"jsonrpc":"2.0","result":{"ok":true}})");
}

TEST_F(HostRoundTrip, AnIdOfTheWrongKindDoesNotAbort) {
  pipes_.send({R"({"jsonrpc":"2.0","id":{},"method":"run.abort","params":{"run_id":"run_1"}})", reply("{}")});
  BridgeHost h = host(record::NeedKind::Tool);
  ASSERT_TRUE(call(h).ok());
  EXPECT_FALSE(flag_->load());
}

TEST_F(HostRoundTrip, AfterAnAbortTheReplyIsAwaitedForTheGracePeriodOnly) {
  pipes_.send({R"({"jsonrpc":"2.0","id":1,"method":"run.abort","params":{"run_id":"run_1"}})"});
  BridgeHost h = host(record::NeedKind::Tool, {}, 200ms);
  const auto started = std::chrono::steady_clock::now();
  auto value = call(h);
  const auto waited = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(value.ok());
  EXPECT_EQ(value.error().message, "the host did not answer the capability call within 200 ms of the run's abort");
  EXPECT_TRUE(flag_->load());
  EXPECT_GE(waited, 200ms);
  EXPECT_LT(waited, 20s) << "the wait is bounded";
}

TEST_F(HostRoundTrip, HandleVerbsAndSpawnAnswerWithHandles) {
  const std::string answer = R"({"result":{"id":"h1","capability":"other","x":1,"$zem":"handle"}})";
  {
    pipes_.send({reply(answer)});
    BridgeHost h = host(record::NeedKind::Tool, {"open"});
    auto value = call(h, "open");
    ASSERT_TRUE(value.ok()) << value.error();
    ASSERT_TRUE(value->is_handle());
    const runtime::Handle& handle = value->as_handle();
    EXPECT_EQ(handle.capability, "files") << "a tool's handle names its binding";
    EXPECT_EQ(handle.id, "h1");
    EXPECT_EQ(handle.fields.size(), 1u);
    EXPECT_EQ(handle.fields.at("x"), json::Value(1));
  }
  {
    next_id_ = next_host_request_id() + 1;
    pipes_.send({reply(R"({"result":{"id":"h2","capability":"other"}})")});
    BridgeHost h = host(record::NeedKind::Agent);
    auto value = call(h, "spawn");
    ASSERT_TRUE(value.ok()) << value.error();
    EXPECT_EQ(value->as_handle().capability, "other") << "an agent's handle says whose it is";
  }
  struct Bad {
    record::NeedKind kind;
    std::string verb;
    std::string result;
    std::string message;
  } bad[] = {
      {record::NeedKind::Tool, "open", "7", "adapter `files` returned a non-object handle"},
      {record::NeedKind::Tool, "open", R"({"id":7})", "adapter `files` returned a handle without a string id"},
      {record::NeedKind::Agent, "spawn", R"({"id":"h"})", "missing field `capability`"},
      {record::NeedKind::Agent, "spawn", "[]", "invalid type: sequence, expected struct Handle"},
  };
  for (const Bad& b : bad) {
    next_id_ = next_host_request_id() + 1;
    pipes_.send({reply(R"({"result":)" + b.result + "}")});
    BridgeHost h = host(b.kind, {"open"});
    auto value = call(h, b.verb);
    ASSERT_FALSE(value.ok()) << b.result;
    EXPECT_EQ(value.error().message, b.message);
  }
}

TEST_F(HostRoundTrip, ObservationsAreReadFromTheReply) {
  BridgeHost h = host(record::NeedKind::Agent);
  const runtime::Handle handle{"files", "h1", {{"pid", json::Value(12)}}};
  pipes_.send({reply(R"({"observation":{"status":"waiting","last_message":"","tail":"","pid":12}})")});
  auto seen = h.observe(handle);
  ASSERT_TRUE(seen.ok()) << seen.error();
  EXPECT_EQ(seen->status, record::AgentStatus::Waiting);
  EXPECT_EQ(seen->extra.at("pid"), json::Value(12));
  const auto lines = pipes_.written();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], R"({"id":)" + id() +
                          R"(,"jsonrpc":"2.0","method":"capability.observe","params":{"capability":"files","handle":{"capability":"files","id":"h1","pid":12},"run_id":"run_1"}})");

  next_id_ = next_host_request_id() + 1;
  pipes_.send({reply("{}")});
  auto missing = h.observe(handle);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message, "invalid type: null, expected struct Observation");
}

}  // namespace
}  // namespace dravelin::serve::server
