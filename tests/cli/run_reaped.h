// Runs the built `dravelin` under a process that adopts every orphan it leaves (a child subreaper), to see after
// it has ended whether anything it started is still alive or was never waited for.
//
// An adapter's `sh` leads a process group of its own. When `dravelin` ends, whatever it did not reap is handed
// to the subreaper: a living process means an adapter (or a child of one) outlived the run, and a zombie that
// leads its own group is an adapter's `sh` that `dravelin` never waited for. Zombies of the adapters' own
// children are normal (their `sh` was killed before it could wait for them) and are not reported.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_streams.h"
#include "support/proc_files.h"

namespace dravelin::testing {

struct ReapedRun {
  int status = -1;          // the exit status, or -1 when `dravelin` ended by a signal
  int signal = 0;           // the signal that ended it
  std::string out;
  std::string err;
  std::vector<std::string> leftovers;  // "PID STATE COMM" of what outlived the run or was never reaped
};

struct ReapedOptions {
  std::string input;  // stdin, closed after it
  // When stderr has shown this text, SIGINT goes to `dravelin`.
  std::optional<std::string> interrupt_on;
  std::chrono::seconds limit{60};
};

namespace reaped_detail {

struct Child {
  pid_t pid = 0;
  char state = '?';
  pid_t pgrp = 0;
  std::string comm;
};

inline std::vector<Child> children_of(pid_t parent) {
  std::vector<Child> out;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::optional<std::string> read = read_proc_file((entry.path() / "stat").string());
    if (!read) continue;
    const std::string& text = *read;
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    Child child;
    child.pid = std::stoi(name);
    child.comm = text.substr(open + 1, close - open - 1);
    std::istringstream rest(text.substr(close + 1));
    pid_t ppid = 0;
    rest >> child.state >> ppid >> child.pgrp;
    if (ppid == parent) out.push_back(child);
  }
  return out;
}

// The body of the subreaper: starts `dravelin` on the given descriptors, reports its pid, waits for it, looks
// at what it left behind, reaps all of it and ends with `dravelin`'s status (128 + the signal after one).
[[noreturn]] inline void subreaper(const std::vector<std::string>& args, int in, int out, int err, int report) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const pid_t run = fork();
  if (run == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    exec_as(DRAVELIN_BINARY, "dravelin", args);
  }
  close(in);
  close(out);
  close(err);
  std::string text = std::to_string(run) + "\n";
  (void)!write(report, text.data(), text.size());
  int status = 0;
  while (waitpid(run, &status, 0) < 0 && errno == EINTR) {
  }
  // A SIGKILL sent just before `dravelin` ended may take a moment to land.
  std::vector<Child> left;
  for (int i = 0; i < 200; ++i) {
    left = children_of(getpid());
    bool settled = true;
    for (const Child& child : left) settled = settled && child.state == 'Z';
    if (settled) break;
    std::this_thread::sleep_for(std::chrono::milliseconds{10});
  }
  text.clear();
  for (const Child& child : left) {
    if (child.state == 'Z' && child.pgrp != child.pid) continue;
    text += std::to_string(child.pid) + " " + child.state + " " + child.comm + "\n";
  }
  (void)!write(report, text.data(), text.size());
  // Whatever is left goes, its groups with it (never the test's own), so the test sees the end of its streams.
  for (int i = 0; i < 300; ++i) {
    left = children_of(getpid());
    if (left.empty()) break;
    for (const Child& child : left) {
      kill(child.pid, SIGKILL);
      if (child.pgrp != getpgrp()) killpg(child.pgrp, SIGKILL);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds{10});
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

}  // namespace reaped_detail

inline ReapedRun run_reaped(const std::vector<std::string>& args, const ReapedOptions& options = {}) {
  ReapedRun done;
  int in[2], out[2], err[2], report[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
      pipe2(report, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return done;
  }
  std::fflush(nullptr);
  const pid_t keeper = fork();
  if (keeper < 0) {
    ADD_FAILURE() << "fork failed";
    return done;
  }
  if (keeper == 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    close(report[0]);
    reaped_detail::subreaper(args, in[0], out[1], err[1], report[1]);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  close(report[1]);
  if (!options.input.empty() &&
      write(in[1], options.input.data(), options.input.size()) != static_cast<ssize_t>(options.input.size())) {
    ADD_FAILURE() << "short write to stdin";
  }
  close(in[1]);

  std::string report_text;
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {report[0], POLLIN, 0}};
  std::string* sinks[3] = {&done.out, &done.err, &report_text};
  bool interrupted = false;
  const auto interrupt_when_seen = [&] {
    if (options.interrupt_on && !interrupted && done.err.find(*options.interrupt_on) != std::string::npos) {
      const size_t end = report_text.find('\n');
      if (end != std::string::npos) {
        kill(std::stoi(report_text.substr(0, end)), SIGINT);
        interrupted = true;
      }
    }
  };
  if (!collect_streams(fds, sinks, std::chrono::steady_clock::now() + options.limit, interrupt_when_seen)) {
    ADD_FAILURE() << "still running after " << options.limit.count() << " s; killed\n" << done.err;
    kill(keeper, SIGKILL);
  }
  close_streams(fds);
  int status = 0;
  waitpid(keeper, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code > 128) {
    done.signal = code - 128;
  } else {
    done.status = code;
  }
  if (options.interrupt_on && !interrupted) ADD_FAILURE() << "never saw `" << *options.interrupt_on << "`";
  std::istringstream lines(report_text);
  std::string line;
  std::getline(lines, line);  // the pid
  while (std::getline(lines, line)) done.leftovers.push_back(line);
  return done;
}

}  // namespace dravelin::testing
