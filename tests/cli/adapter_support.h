// Helpers of the adapter tests: programs with declared capabilities, call arguments, and looks at processes.
#pragma once

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ir/nodes.h"
#include "runtime/eval.h"
#include "runtime/value.h"
#include "support/proc_files.h"

extern char** environ;

namespace dravelin::testing {

inline ir::Ir program_with_needs(std::vector<std::pair<std::string, syntax::NeedKind>> needs) {
  ir::Ir program;
  program.ir_version = "0.1";
  program.program = "adapters";
  for (auto& [name, kind] : needs) {
    ir::Need need;
    need.name = std::move(name);
    need.kind = kind;
    program.needs.push_back(std::move(need));
  }
  return program;
}

inline runtime::CallArguments positional(std::vector<runtime::Value> values) {
  runtime::CallArguments args;
  args.positional = std::move(values);
  return args;
}

// The children of `parent` as `ps --ppid` lists them ("PID STAT ARGS", zombies included), `ps` left out.
inline std::vector<std::string> ps_children(pid_t parent) {
  std::vector<std::string> lines;
  int out[2];
  if (pipe(out) != 0) {
    ADD_FAILURE() << "pipe failed";
    return lines;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string ppid = std::to_string(parent);
  std::vector<std::string> words = {"ps", "--ppid", ppid, "-o", "pid=,stat=,args="};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t ps = 0;
  const int spawned = posix_spawnp(&ps, "ps", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start ps";
    return lines;
  }
  waitpid(ps, nullptr, 0);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    pid_t pid = 0;
    fields >> pid;
    if (pid != ps) lines.push_back(line);
  }
  return lines;
}

struct ProcStat {
  char state = '?';
  pid_t pgrp = 0;
};

// The state and group of a process, from /proc; nothing when it does not exist.
inline std::optional<ProcStat> proc_stat(pid_t pid) {
  const std::optional<std::string> read = read_proc_file("/proc/" + std::to_string(pid) + "/stat");
  if (!read) return std::nullopt;
  const std::string& text = *read;
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(text.substr(close + 1));
  ProcStat stat;
  pid_t ppid = 0;
  rest >> stat.state >> ppid >> stat.pgrp;
  return stat;
}

// Running, sleeping or stopped: anything but gone or a zombie.
inline bool alive(pid_t pid) {
  const std::optional<ProcStat> stat = proc_stat(pid);
  return stat && stat->state != 'Z' && stat->state != 'X';
}

// The live processes of a process group.
inline std::vector<pid_t> live_group_members(pid_t pgrp) {
  std::vector<pid_t> members;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (const std::optional<ProcStat> stat = proc_stat(pid); stat && stat->pgrp == pgrp && alive(pid)) {
      members.push_back(pid);
    }
  }
  return members;
}

// Polls `done` every few ms for up to `limit`; its last answer.
template <class Pred>
bool eventually(Pred done, std::chrono::milliseconds limit = std::chrono::milliseconds{3000}) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds{5});
  }
  return true;
}

// A fresh directory under the test temporary directory.
inline std::filesystem::path fresh_directory() {
  std::string pattern = (std::filesystem::path(::testing::TempDir()) / "adapters-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  return pattern;
}

// Single quotes for `sh`.
inline std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace dravelin::testing
