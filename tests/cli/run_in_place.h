// Runs the built `dravelin` as a child process in a chosen directory and environment, with a deadline, to see
// what a command does to the file system and that it never waits forever.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/child_streams.h"

namespace dravelin::testing {

struct Placement {
  std::string cwd;
  // Variables to set, or to unset when the value is absent; the rest of the environment is inherited.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  mode_t umask = 022;
  std::optional<rlim_t> file_size_limit;  // bytes a file may grow to; writes past it fail with EFBIG
  int deadline_seconds = 30;
};

struct Outcome {
  int status = -1;  // -1 when killed by a signal or at the deadline
  bool timed_out = false;
  std::string out;
  std::string err;
};

inline Outcome run_in_place(const Placement& place, const std::vector<std::string>& args) {
  Outcome done;
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
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (!place.cwd.empty() && chdir(place.cwd.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : place.env) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    umask(place.umask);
    if (place.file_size_limit) {
      // Ignored, the signal lets the write fail with EFBIG instead of ending the process.
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*place.file_size_limit, *place.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    exec_as(DRAVELIN_BINARY, "dravelin", args);
  }
  close(in_pipe[0]);
  close(in_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&done.out, &done.err};
  if (!collect_streams(fds, sinks, std::chrono::steady_clock::now() + std::chrono::seconds(place.deadline_seconds))) {
    done.timed_out = true;
    kill(pid, SIGKILL);
  }
  close_streams(fds);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  done.status = WIFEXITED(wait_status) && !done.timed_out ? WEXITSTATUS(wait_status) : -1;
  return done;
}

}  // namespace dravelin::testing
