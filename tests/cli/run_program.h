// Runs the built `dravelin` as a child process, to see real exit statuses and streams.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/child_streams.h"

namespace dravelin::testing {

struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// Long enough for any command under the sanitizers; a program still running then is stuck, and is killed
// so that the test fails instead of hanging.
constexpr std::chrono::seconds kRunLimit{60};

// Which output stream, if any, a child writes to /dev/full, where every write fails with "No space left on
// device", or (`closed_out`) starts with closed. That stream is not collected.
enum class FullStream { none, out, err, closed_out };

// Starts the program with `argv0` as its own name and `args` after it, with `input` as its stdin (or, when
// `stdin_file` is given, that file opened for reading), and collects its output streams to the end.
inline Finished run_program_with(FullStream full, const std::string& argv0, const std::vector<std::string>& args,
                                 const std::string& input = "", const char* stdin_file = nullptr) {
  Finished done;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return done;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return done;
  }
  if (pid == 0) {
    const int stdin_fd = stdin_file ? open(stdin_file, O_RDONLY) : in_pipe[0];
    if (stdin_fd < 0) _exit(126);
    dup2(stdin_fd, 0);
    close(in_pipe[1]);
    const bool to_full = full == FullStream::out || full == FullStream::err;
    const int full_fd = to_full ? open("/dev/full", O_WRONLY) : -1;
    if (to_full && full_fd < 0) _exit(126);
    dup2(full == FullStream::out ? full_fd : out_pipe[1], 1);
    dup2(full == FullStream::err ? full_fd : err_pipe[1], 2);
    if (full_fd > 2) close(full_fd);
    if (full == FullStream::closed_out) close(1);
    close(out_pipe[0]);
    close(err_pipe[0]);
    exec_as(DRAVELIN_BINARY, argv0, args);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Test inputs are small: they fit in the pipe before the child reads anything.
  if (!input.empty() && write(in_pipe[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
    ADD_FAILURE() << "short write to stdin";
  close(in_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&done.out, &done.err};
  if (!collect_streams(fds, sinks, std::chrono::steady_clock::now() + kRunLimit)) {
    ADD_FAILURE() << "still running after " << kRunLimit.count() << " s; killed";
    kill(pid, SIGKILL);
  }
  close_streams(fds);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  done.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return done;
}

inline Finished run_program(const std::string& argv0, const std::vector<std::string>& args,
                            const std::string& input = "", const char* stdin_file = nullptr) {
  return run_program_with(FullStream::none, argv0, args, input, stdin_file);
}

}  // namespace dravelin::testing
