// An adapter subprocess: `sh -c COMMAND` in a process group of its own, with its stdin and stdout on pipes
// (stderr, environment and working directory inherited).
//
// Every descriptor made here is close-on-exec, so one adapter never holds another's pipes open, and the
// adapter gets the default SIGPIPE back whatever this process does with it. A write to an adapter that has
// gone away fails with EPIPE instead of raising SIGPIPE here. `sh` is never reaped before its process group
// has been killed, so the group id cannot name another process's group in the meantime.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"

namespace dravelin::cli {

// What is known of an adapter's `sh`: the raw wait status once it has ended (256 for exit code 1, 9 for
// SIGKILL); nothing while it runs or when its state cannot be read.
using ChildState = std::optional<int>;

// "exit status 1 (wait status 256)", "killed by signal 9 (wait status 9)", "no exit status known".
std::string describe_child_state(const ChildState& state);

// How long adapters get, jointly, to end by themselves once their input is closed.
inline constexpr std::chrono::milliseconds kAdapterGrace{1000};
// How long a read that met the end of the stream waits for `sh` to end before reporting its state.
inline constexpr std::chrono::milliseconds kExitPatience{250};
// The longest reply line an adapter may write. A reply is recorded whole, so it could not be longer than a
// recording line anyway, and an adapter that floods stdout without a line end must not grow the run without end.
inline constexpr size_t kMaxAdapterLineBytes = size_t{64} << 20;

class AdapterProcess {
 public:
  // Starts `sh -c command`, `sh` looked up on the search path. The error is the operating system's text.
  static Result<std::unique_ptr<AdapterProcess>, std::string> start(const std::string& command);

  AdapterProcess(const AdapterProcess&) = delete;
  AdapterProcess& operator=(const AdapterProcess&) = delete;
  // Ends the adapter as `end_adapter_processes` does, when that has not happened yet.
  ~AdapterProcess();

  pid_t pid() const { return pid_; }

  // Writes all of `bytes` to the adapter's stdin, waiting as long as the pipe is full and `sh` runs. The
  // error is the operating system's text.
  Result<Unit, std::string> write_all(std::string_view bytes);

  // The next line of the adapter's stdout without its "\n" (the rest of the stream when it ends without
  // one), or nothing at the end of the stream. A `sh` that has ended counts as the end of the stream once
  // what it wrote has been read, even while a child it left in the background keeps stdout open. The error
  // is the operating system's text, or a note that the line is not UTF-8 (the line is then dropped), or that it
  // is longer than `max_bytes`: what was read of it is dropped, and so is the rest of it up to its line end, at
  // most `max_bytes` of it per call (each such call fails the same way), so that a flood never holds a call.
  Result<std::optional<std::string>, std::string> read_line(size_t max_bytes = kMaxAdapterLineBytes);

  // The state of `sh`, waiting up to `patience` for it to end.
  ChildState state(std::chrono::milliseconds patience = std::chrono::milliseconds{0});

  // Closes the adapter's stdin: it sees the end of its input.
  void close_input();

  // Kills the adapter's process group and waits for `sh`; closes what is left open.
  void kill_and_reap();

 private:
  AdapterProcess(pid_t pid, int in_fd, int out_fd, int pid_fd);
  // Whether `sh` has ended (or can no longer be waited for); caches its status.
  bool ended();
  // Blocks until `fd` is ready for `events` or `sh` ends (whichever comes first), or `timeout` passes.
  void wait_for(int fd, short events, std::chrono::milliseconds timeout);

  friend void end_adapter_processes(std::span<AdapterProcess* const> processes, std::chrono::milliseconds grace);

  pid_t pid_;
  int in_fd_;
  int out_fd_;
  int pid_fd_;           // -1 where the kernel offers no process descriptors: the waits then look every few ms
  std::string pending_;  // read from stdout, not yet handed out as lines
  bool skipping_ = false;  // the start of `pending_` is the rest of a line that was too long
  bool end_of_stream_ = false;
  bool ended_ = false;
  ChildState status_;
  bool gone_ = false;  // reaped by someone else (or never waitable): its group id may be reused
  bool reaped_ = false;
};

// Closes every adapter's input, waits up to `grace` for all of them together to end, then kills each one's
// process group and waits for its `sh`.
void end_adapter_processes(std::span<AdapterProcess* const> processes, std::chrono::milliseconds grace);

}  // namespace dravelin::cli
