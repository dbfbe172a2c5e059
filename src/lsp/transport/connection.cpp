#include "lsp/transport/connection.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "lsp/transport/channel.h"
#include "lsp/transport/framing.h"

namespace dravelin::lsp::transport {
namespace {

std::string os_error(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool is_exit(const Message& message) {
  const auto* note = std::get_if<Notification>(&message);
  return note != nullptr && note->method == "exit";
}

class StdioConnection final : public Connection {
 public:
  StdioConnection(int input_fd, int output_fd) : input_fd_(input_fd), output_fd_(output_fd) {
    if (::pipe(wake_) != 0) {
      wake_[0] = wake_[1] = -1;
      record_error(os_error("cannot create the reader's wake-up pipe"));
    }
    reader_ = std::thread([this] { read_loop(); });
    writer_ = std::thread([this] { write_loop(); });
    releaser_ = std::thread([this] {
      while (released_.receive()) {
      }
    });
  }

  ~StdioConnection() override { join(); }

  std::optional<Message> receive() override { return incoming_.receive(); }

  Received try_receive(Message& out) override {
    switch (incoming_.try_receive(out)) {
      case TryReceive::Item: return Received::Message;
      case TryReceive::Empty: return Received::Empty;
      case TryReceive::Disconnected: break;
    }
    return Received::Disconnected;
  }

  std::optional<Message> receive_until(std::chrono::steady_clock::time_point deadline, bool& timed_out) override {
    return incoming_.receive_until(deadline, timed_out);
  }

  bool send(Message message) override {
    if (writer_gone_.load(std::memory_order_acquire)) return false;
    return outgoing_.send(std::move(message));
  }

  // Once the releasing thread has ended the message is simply freed here.
  void release(Message message) override { released_.send(std::move(message)); }

  std::optional<std::string> join() override {
    if (joined_) return error_;
    joined_ = true;
    wake_reader();
    reader_.join();
    outgoing_.close();
    writer_.join();
    released_.close();
    releaser_.join();
    for (int fd : wake_)
      if (fd >= 0) ::close(fd);
    std::lock_guard lock(error_mutex_);
    return error_;
  }

 private:
  // Makes the reader stop at its next wait for input.
  void wake_reader() {
    if (wake_[1] < 0) return;
    const char byte = 0;
    while (::write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
    }
  }

  void record_error(std::string message) {
    std::lock_guard lock(error_mutex_);
    if (!error_) error_ = std::move(message);
  }

  // Waits for input or for the wake-up byte of `join`; false when reading should stop.
  bool wait_for_input() {
    pollfd fds[2] = {{input_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    for (;;) {
      int n = ::poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
      if (n >= 0) break;
      if (errno == EINTR) continue;
      record_error(os_error("cannot wait for input"));
      return false;
    }
    return (fds[1].revents & POLLIN) == 0;
  }

  void read_loop() {
    FrameParser parser;
    std::vector<char> buffer(64 * 1024);
    bool done = false;
    while (!done && wait_for_input()) {
      ssize_t n = ::read(input_fd_, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        record_error(os_error("cannot read the input"));
        break;
      }
      if (n == 0) {
        if (parser.holds_partial_frame()) record_error("the input ended inside a message");
        break;
      }
      parser.feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
      // Every message of one read is queued at once: a burst the client wrote together is one batch.
      std::vector<Message> batch;
      for (;;) {
        auto body = parser.next();
        if (!body.ok()) {
          record_error("unreadable message frame: " + body.error());
          done = true;
          break;
        }
        if (!body->has_value()) break;
        auto message = parse_message(**body);
        if (!message.ok()) {
          MalformedMessage& bad = message.error();
          send(make_error(std::move(bad.id), bad.code, std::move(bad.message)));
          continue;
        }
        const bool exit = is_exit(*message);
        batch.push_back(std::move(message).value());
        // Nothing after `exit` is read, so that waiting for this thread never depends on the input closing.
        if (exit) {
          done = true;
          break;
        }
      }
      incoming_.send_all(std::move(batch));
    }
    incoming_.close();
  }

  void write_loop() {
    while (std::optional<Message> message = outgoing_.receive()) {
      if (writer_gone_.load(std::memory_order_relaxed)) continue;
      std::string frame = encode_frame(message_to_json(*message));
      std::string_view rest = frame;
      while (!rest.empty()) {
        ssize_t n = ::write(output_fd_, rest.data(), rest.size());
        if (n < 0) {
          if (errno == EINTR) continue;
          record_error(os_error("cannot write the output"));
          writer_gone_.store(true, std::memory_order_release);
          // Nothing can be answered any more: reading stops too, so that the main loop ends instead of waiting
          // for a client that waits for an answer.
          wake_reader();
          break;
        }
        rest.remove_prefix(static_cast<size_t>(n));
      }
    }
  }

  int input_fd_;
  int output_fd_;
  int wake_[2] = {-1, -1};
  Channel<Message> incoming_;
  Channel<Message> outgoing_;
  Channel<Message> released_;
  std::atomic<bool> writer_gone_{false};
  std::mutex error_mutex_;
  std::optional<std::string> error_;
  bool joined_ = false;
  std::thread reader_;
  std::thread writer_;
  std::thread releaser_;
};

}  // namespace

std::unique_ptr<Connection> Connection::open(int input_fd, int output_fd) {
  return std::make_unique<StdioConnection>(input_fd, output_fd);
}

}  // namespace dravelin::lsp::transport
