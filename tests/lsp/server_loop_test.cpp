#include "lsp/server/server_loop.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::lsp {
namespace {

using transport::Message;
using transport::Notification;
using transport::Request;
using transport::Response;

// A connection that hands out scripted batches: each batch's first message through `receive`, the rest
// through `try_receive`, as if they had all been waiting. Everything sent is kept.
class ScriptedConnection final : public transport::Connection {
 public:
  explicit ScriptedConnection(std::vector<std::vector<Message>> batches) {
    for (auto& batch : batches) batches_.emplace_back(batch.begin(), batch.end());
  }

  std::optional<Message> receive() override {
    while (!batches_.empty() && batches_.front().empty()) batches_.pop_front();
    if (batches_.empty()) return std::nullopt;
    Message m = std::move(batches_.front().front());
    batches_.front().pop_front();
    return m;
  }
  transport::Received try_receive(Message& out) override {
    if (batches_.empty()) return transport::Received::Disconnected;
    if (batches_.front().empty()) {
      batches_.pop_front();
      return batches_.empty() ? transport::Received::Disconnected : transport::Received::Empty;
    }
    out = std::move(batches_.front().front());
    batches_.front().pop_front();
    return transport::Received::Message;
  }
  std::optional<Message> receive_until(std::chrono::steady_clock::time_point, bool& timed_out) override {
    timed_out = false;
    return receive();
  }
  bool send(Message message) override {
    sent.push_back(std::move(message));
    return true;
  }
  void release(Message) override {}
  std::optional<std::string> join() override { return std::nullopt; }

  // The publications sent, as "uri version count" (version "-" when absent).
  std::vector<std::string> publications() const {
    std::vector<std::string> out;
    for (const Message& m : sent) {
      const auto* note = std::get_if<Notification>(&m);
      if (note == nullptr || note->method != "textDocument/publishDiagnostics") continue;
      const json::Value* version = note->params.find("version");
      out.push_back(note->params.find("uri")->as_string() + " " +
                    (version ? std::to_string(*version->to_i64()) : std::string("-")) + " " +
                    std::to_string(note->params.find("diagnostics")->as_array().size()));
    }
    return out;
  }

  std::vector<Message> sent;

 private:
  std::deque<std::deque<Message>> batches_;
};

json::Value parse(const std::string& text) { return json::parse(text).value(); }

Message request(int id, const std::string& method, const std::string& params = "null") {
  return Request{json::Value(id), method, parse(params)};
}
Message notification(const std::string& method, const std::string& params = "null") {
  return Notification{method, parse(params)};
}
Message open(const std::string& uri, const std::string& text, int version = 1) {
  return notification("textDocument/didOpen", R"({"textDocument":{"uri":")" + uri +
                                                  R"(","languageId":"dravelin","version":)" +
                                                  std::to_string(version) + R"(,"text":)" + json::escape_string(text) +
                                                  "}}");
}
Message change(const std::string& uri, int version, const std::string& text) {
  return notification("textDocument/didChange", R"({"textDocument":{"uri":")" + uri + R"(","version":)" +
                                                    std::to_string(version) + R"(},"contentChanges":[{"text":)" +
                                                    json::escape_string(text) + "}]}");
}

std::vector<Message> handshake() {
  return {request(1, "initialize", R"({"capabilities":{}})"), notification("initialized")};
}

const std::string kClean = "program p\n\ntask a:\n  return 1\n";
const std::string kBroken = "program p\n\ntask a:\n  x = 1 +\n";
using Strings = std::vector<std::string>;

TEST(ServerLoop, OneBatchOfChangesIsOnePublicationOfTheLastVersion) {
  std::vector<Message> burst{open("untitled:a", kClean)};
  for (int v = 2; v <= 10; ++v) burst.push_back(change("untitled:a", v, v % 2 ? kClean : kBroken));
  ScriptedConnection connection({handshake(), burst, {request(2, "shutdown"), notification("exit")}});
  ASSERT_TRUE(server_main_loop(connection).ok());
  EXPECT_EQ(connection.publications(), (Strings{"untitled:a 10 1"}));
}

TEST(ServerLoop, ClosingPublishesAnEmptyListAtOnceAndNothingMoreForThatDocument) {
  ScriptedConnection connection({handshake(),
                                 {open("untitled:a", kBroken), open("untitled:b", kBroken),
                                  notification("textDocument/didClose", R"({"textDocument":{"uri":"untitled:a"}})")},
                                 {request(2, "shutdown"), notification("exit")}});
  ASSERT_TRUE(server_main_loop(connection).ok());
  EXPECT_EQ(connection.publications(), (Strings{"untitled:a - 0", "untitled:b 1 1"}));
}

TEST(ServerLoop, UnreadableNotificationsAreIgnoredAndRequestsAnsweredInOrder) {
  ScriptedConnection connection(
      {handshake(),
       {notification("textDocument/didOpen", R"({"textDocument":{"uri":"untitled:a"}})"),
        request(2, "textDocument/foldingRange", R"({"textDocument":{"uri":"untitled:a"}})"), open("untitled:a", kClean),
        request(3, "textDocument/foldingRange", R"({"textDocument":{"uri":"untitled:a"}})")},
       {request(4, "shutdown"), notification("exit")}});
  ASSERT_TRUE(server_main_loop(connection).ok());
  std::vector<std::string> results;
  for (const Message& m : connection.sent)
    if (const auto* r = std::get_if<Response>(&m)) results.push_back(json::to_compact(*r->result));
  EXPECT_EQ(results[1], "null");                           // not open yet
  EXPECT_EQ(results[2], R"([{"startLine":2,"endLine":3}])");  // the open just before it counts
  EXPECT_EQ(connection.publications(), (Strings{"untitled:a 1 0"}));
}

TEST(ServerLoop, ExitWithoutShutdownEndsWithAnErrorAndPublishesNothingPending) {
  ScriptedConnection connection({handshake(), {open("untitled:a", kBroken), notification("exit")}});
  auto result = server_main_loop(connection);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "received the exit notification before a shutdown request");
  EXPECT_TRUE(connection.publications().empty());
}

TEST(ServerLoop, AfterShutdownRequestsAreRefusedUntilExit) {
  ScriptedConnection connection({handshake(),
                                 {request(2, "shutdown"), open("untitled:a", kBroken),
                                  request(3, "textDocument/foldingRange", R"({"textDocument":{"uri":"untitled:a"}})"),
                                  notification("exit")}});
  ASSERT_TRUE(server_main_loop(connection).ok());
  const auto& refusal = std::get<Response>(connection.sent.back());
  EXPECT_EQ(refusal.id, json::Value(3));
  ASSERT_TRUE(refusal.error);
  EXPECT_EQ(refusal.error->code, transport::error_code::kInvalidRequest);
  EXPECT_TRUE(connection.publications().empty());
}

TEST(ServerLoop, EndOfInputAfterShutdownIsAnError) {
  ScriptedConnection connection({handshake(), {request(2, "shutdown")}});
  auto result = server_main_loop(connection);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "channel disconnected waiting for exit notification");
}

}  // namespace
}  // namespace dravelin::lsp
