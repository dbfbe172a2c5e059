// Runs the built `dravelin` as a child process in a chosen directory and environment, with a deadline, to see
// what a command does to the file system and that it never waits forever.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("dravelin"));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(DRAVELIN_BINARY, argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(in_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&done.out, &done.err};
  int open_count = 2;
  while (open_count > 0) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed_ms = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    const long left_ms = place.deadline_seconds * 1000L - elapsed_ms;
    if (left_ms <= 0) {
      done.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left_ms)) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  done.status = WIFEXITED(wait_status) && !done.timed_out ? WEXITSTATUS(wait_status) : -1;
  return done;
}

}  // namespace dravelin::testing
