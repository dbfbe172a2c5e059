// A language-server connection over messages known in advance, for driving the server's loop in one thread:
// the first batch's messages arrive one by one, every later batch as if all of it had been waiting.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "lsp/transport/connection.h"

namespace dravelin::fuzz {

class ScriptedConnection final : public lsp::transport::Connection {
 public:
  using Message = lsp::transport::Message;

  explicit ScriptedConnection(std::vector<std::vector<Message>> batches) {
    for (auto& batch : batches) batches_.emplace_back(std::make_move_iterator(batch.begin()),
                                                      std::make_move_iterator(batch.end()));
  }

  std::optional<Message> receive() override {
    while (!batches_.empty() && batches_.front().empty()) batches_.pop_front();
    if (batches_.empty()) return std::nullopt;
    Message m = std::move(batches_.front().front());
    batches_.front().pop_front();
    return m;
  }
  lsp::transport::Received try_receive(Message& out) override {
    if (batches_.empty()) return lsp::transport::Received::Disconnected;
    if (batches_.front().empty()) {
      batches_.pop_front();
      return batches_.empty() ? lsp::transport::Received::Disconnected : lsp::transport::Received::Empty;
    }
    out = std::move(batches_.front().front());
    batches_.front().pop_front();
    return lsp::transport::Received::Message;
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

  std::vector<Message> sent;

 private:
  std::deque<std::deque<Message>> batches_;
};

}  // namespace dravelin::fuzz
