// The bridge's stdio: one JSON-RPC message per line in each direction.
//
// Input is read through a buffer of 8192 bytes; a line is handed out trimmed of white space (the Unicode
// White_Space class, at both ends), and lines that are blank after trimming are skipped. Output is written a
// whole line at a time, so the peer sees whole lines only.
//
// The server loop, every capability host and every event sink share one `BridgeIo`. Whoever reads or writes a
// line holds its lock for that line (a capability round trip holds it from its request to the reply), through
// `BridgeIo::Held`. The lock is not reentrant and no path takes it twice.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace dravelin::serve::transport {

// The longest line read; a longer one is dropped unread up to its line end, so that no peer can make the
// bridge hold an unbounded line in memory.
inline constexpr size_t kMaxLineBytes = size_t{256} << 20;

// An I/O failure of stdin or stdout: the system's text.
struct IoError {
  std::string message;
};

// What one read gave.
struct LineRead {
  enum class Kind : uint8_t {
    Line,      // `text` holds the trimmed, non-blank line
    End,       // the input has ended
    TimedOut,  // the deadline passed before a whole line arrived (what was read so far is kept)
    TooLong,   // a line longer than kMaxLineBytes was dropped
  };
  Kind kind = Kind::End;
  std::string text;
};

// Trims the Unicode White_Space characters (UTF-8 encoded) from both ends.
std::string_view trim_white_space(std::string_view text);

// Lines from a file descriptor, through a buffer of 8192 bytes.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next non-blank line, trimmed. Without a deadline it blocks until a line or the end arrives.
  Result<LineRead, IoError> next(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

 private:
  // Fills the buffer once; false at the end of input or when the deadline has passed (`timed_out` set).
  Result<bool, IoError> fill(std::optional<std::chrono::steady_clock::time_point> deadline, bool& timed_out);

  int fd_;
  char buffer_[8192];
  size_t begin_ = 0;
  size_t end_ = 0;
  bool ended_ = false;
  std::string partial_;        // the line read so far
  bool dropping_ = false;      // inside a line that was too long
};

// Writes whole lines to a file descriptor.
class LineWriter {
 public:
  explicit LineWriter(int fd) : fd_(fd) {}
  // Writes `text` followed by "\n" in as few writes as the descriptor takes.
  Result<Unit, IoError> write_line(std::string_view text);

 private:
  int fd_;
  std::string line_;
};

class BridgeIo {
 public:
  BridgeIo(int in_fd, int out_fd) : reader_(in_fd), writer_(out_fd) {}
  BridgeIo(const BridgeIo&) = delete;
  BridgeIo& operator=(const BridgeIo&) = delete;

  // The stdio state while its lock is held.
  class Held {
   public:
    explicit Held(BridgeIo& io) : io_(io), lock_(io.mutex_) {}

    // Request lines read from stdin during a capability call and left for the server loop, in arrival order.
    std::deque<std::string>& pending() { return io_.pending_; }
    Result<LineRead, IoError> read_line(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) {
      return io_.reader_.next(deadline);
    }
    Result<Unit, IoError> write_line(std::string_view text) { return io_.writer_.write_line(text); }

   private:
    BridgeIo& io_;
    std::unique_lock<std::mutex> lock_;
  };

  Held hold() { return Held(*this); }

 private:
  std::mutex mutex_;  // the "stdio lock"
  std::deque<std::string> pending_;
  LineReader reader_;
  LineWriter writer_;
};

using SharedIo = std::shared_ptr<BridgeIo>;

}  // namespace dravelin::serve::transport
