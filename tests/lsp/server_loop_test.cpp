#include "lsp/server/server_loop.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "compiler/temp_dir.h"
#include "json/reader.h"
#include "json/writer.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp {
namespace {

using transport::Message;
using transport::Notification;
using transport::Request;
using transport::Response;

// A connection that hands out scripted batches: each batch's first message through `receive`, the rest
// through `try_receive`, as if they had all been waiting; the next batch arrives only once the server blocks
// in `receive` again. Everything sent is kept.
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
    if (batches_.front().empty())
      return batches_.size() == 1 ? transport::Received::Disconnected : transport::Received::Empty;
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

// As ScriptedConnection, with one more message that turns up once `after` publications have been sent, as a
// request the editor sends while the server is busy publishing.
class LateMessageConnection final : public transport::Connection {
 public:
  LateMessageConnection(std::vector<std::vector<Message>> batches, Message late, size_t after)
      : script_(std::move(batches)), late_(std::move(late)), after_(after) {}

  std::optional<Message> receive() override {
    if (late_ready()) return take_late();
    return script_.receive();
  }
  transport::Received try_receive(Message& out) override {
    if (late_ready()) {
      out = take_late();
      return transport::Received::Message;
    }
    return script_.try_receive(out);
  }
  std::optional<Message> receive_until(std::chrono::steady_clock::time_point deadline, bool& timed_out) override {
    return script_.receive_until(deadline, timed_out);
  }
  bool send(Message message) override { return script_.send(std::move(message)); }
  void release(Message) override {}
  std::optional<std::string> join() override { return std::nullopt; }

  std::vector<std::string> publications() const { return script_.publications(); }
  const std::vector<Message>& sent() const { return script_.sent; }

 private:
  bool late_ready() const { return late_ && script_.publications().size() >= after_; }
  Message take_late() {
    Message m = std::move(*late_);
    late_.reset();
    return m;
  }

  ScriptedConnection script_;
  std::optional<Message> late_;
  size_t after_;
};

json::Value parse_json(const std::string& text) { return json::parse(text).value(); }

Message request(int id, const std::string& method, const std::string& params = "null") {
  return Request{json::Value(id), method, parse_json(params)};
}
Message notification(const std::string& method, const std::string& params = "null") {
  return Notification{method, parse_json(params)};
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

// Documents that import each other in a chain, all opened in one batch: the last one reads a variable it never
// assigns, so each document's diagnostics hold that one finding, reached through every document below it.
class ImportChain : public testing::Test {
 protected:
  static constexpr int kDocuments = 80;

  ImportChain() {
    const std::filesystem::path dir = std::filesystem::canonical(dir_.path());
    for (int k = 0; k < kDocuments; ++k) {
      const std::string name = "m" + std::to_string(k);
      const std::string text =
          k + 1 < kDocuments
              ? "program " + name + "\nuse \"./m" + std::to_string(k + 1) + ".zem\" as next\n\ndef f(x):\n  return next.f(x)\n"
              : "program " + name + "\n\ndef f(x):\n  return missing\n";
      uris_.push_back(path_to_uri(dir / (name + ".zem")));
      opens_.push_back(open(uris_.back(), text));
    }
    // As the linker names it: the importer's directory joined with the written "./" path.
    last_file_ = (dir / "." / ("m" + std::to_string(kDocuments - 1) + ".zem")).string();
  }

  // Each document's publications, in the order sent, as the messages of their diagnostics.
  static std::map<std::string, std::vector<Strings>> published(const std::vector<Message>& sent) {
    std::map<std::string, std::vector<Strings>> out;
    for (const Message& m : sent) {
      const auto* note = std::get_if<Notification>(&m);
      if (note == nullptr || note->method != "textDocument/publishDiagnostics") continue;
      Strings messages;
      for (const json::Value& d : note->params.find("diagnostics")->as_array())
        messages.push_back(d.find("message")->as_string());
      out[note->params.find("uri")->as_string()].push_back(std::move(messages));
    }
    return out;
  }

  compiler::test_support::TempDir dir_;  // the files are never written: the documents exist only as opened
  std::vector<std::string> uris_;
  std::vector<Message> opens_;
  std::string last_file_;
};

TEST_F(ImportChain, OpenedAtOncePublishesEachDocumentOnceAndAnswersARequestMeanwhile) {
  // The request turns up once the first publication is out, as an editor's request sent while the server is
  // busy publishing the rest.
  LateMessageConnection connection({handshake(), opens_, {request(3, "shutdown"), notification("exit")}},
                                   request(2, "textDocument/foldingRange",
                                           R"({"textDocument":{"uri":")" + uris_.back() + R"("}})"),
                                   1);
  ASSERT_TRUE(server_main_loop(connection).ok());

  const auto by_document = published(connection.sent());
  ASSERT_EQ(by_document.size(), size_t{kDocuments});
  const std::string unassigned = "`missing` is read before it is assigned (spec section 5.3)";
  for (int k = 0; k < kDocuments; ++k) {
    const auto found = by_document.find(uris_[k]);
    ASSERT_NE(found, by_document.end()) << uris_[k];
    const Strings expected{k + 1 < kDocuments ? "in `" + last_file_ + "`: " + unassigned : unassigned};
    EXPECT_EQ(found->second, std::vector<Strings>{expected}) << uris_[k];
  }

  // Answered between two publications, not after all of them.
  size_t publications_before = 0;
  bool answered = false;
  for (const Message& m : connection.sent()) {
    if (const auto* r = std::get_if<Response>(&m); r != nullptr && r->id == json::Value(2)) {
      answered = true;
      break;
    }
    if (std::holds_alternative<Notification>(m)) ++publications_before;
  }
  ASSERT_TRUE(answered);
  EXPECT_LT(publications_before, size_t{kDocuments});
}

TEST_F(ImportChain, ChangesArrivingDuringThePublicationArePublishedFromTheNewText) {
  // The first document is repaired after one publication: what is left to publish is computed from the new
  // text, and the repaired document's last publication is clean.
  const std::string repaired = "program m0\n\ndef f(x):\n  return x\n";
  LateMessageConnection connection({handshake(), opens_, {request(3, "shutdown"), notification("exit")}},
                                   change(uris_[0], 2, repaired), 1);
  ASSERT_TRUE(server_main_loop(connection).ok());
  const auto by_document = published(connection.sent());
  ASSERT_EQ(by_document.size(), size_t{kDocuments});
  EXPECT_EQ(by_document.at(uris_[0]).back(), Strings{});
  for (int k = 1; k < kDocuments; ++k) EXPECT_EQ(by_document.at(uris_[k]).size(), 1u) << uris_[k];
}

}  // namespace
}  // namespace dravelin::lsp
