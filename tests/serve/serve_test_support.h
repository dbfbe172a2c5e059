// Pipes standing in for the bridge's stdin and stdout, and programs compiled from text, for the bridge tests.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ir/program.h"
#include "serve/transport/line_io.h"
#include "support/compiled_program.h"

namespace dravelin::serve::testing {

// The bridge's two ends: the test writes what the SDK host would send into `to_bridge` and reads what the
// bridge wrote from `from_bridge`.
class StdioPipes {
 public:
  StdioPipes() {
    int in[2];
    int out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    bridge_in_ = in[0];
    to_bridge_ = in[1];
    from_bridge_ = out[0];
    bridge_out_ = out[1];
    io_ = std::make_shared<transport::BridgeIo>(bridge_in_, bridge_out_);
  }
  ~StdioPipes() {
    for (int fd : {bridge_in_, to_bridge_, from_bridge_, bridge_out_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  StdioPipes(const StdioPipes&) = delete;
  StdioPipes& operator=(const StdioPipes&) = delete;

  const transport::SharedIo& io() const { return io_; }

  // Lines the SDK host sends (each followed by a line feed).
  void send(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      const std::string text = line + "\n";
      ASSERT_EQ(::write(to_bridge_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
  }
  // Ends the bridge's input.
  void close_input() {
    ::close(to_bridge_);
    to_bridge_ = -1;
  }
  // Closes the end the bridge's output is read from, so that its next write fails.
  void close_output() {
    ::close(from_bridge_);
    from_bridge_ = -1;
  }
  // Every line the bridge has written so far, without waiting for more.
  std::vector<std::string> written() {
    std::string bytes;
    char buffer[4096];
    for (;;) {
      pollfd ready{from_bridge_, POLLIN, 0};
      if (::poll(&ready, 1, 0) <= 0) break;
      const ssize_t got = ::read(from_bridge_, buffer, sizeof buffer);
      if (got <= 0) break;
      bytes.append(buffer, static_cast<size_t>(got));
    }
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\n') {
        lines.push_back(bytes.substr(start, i - start));
        start = i + 1;
      }
    }
    EXPECT_EQ(start, bytes.size()) << "a line written without its line feed";
    return lines;
  }

 private:
  int bridge_in_ = -1;
  int to_bridge_ = -1;
  int from_bridge_ = -1;
  int bridge_out_ = -1;
  transport::SharedIo io_;
};

using dravelin::testing::compile_or_fail;

}  // namespace dravelin::serve::testing
