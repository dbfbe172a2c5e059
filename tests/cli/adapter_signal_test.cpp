// Adapters held by another program (the driver, which holds them as a run does): they end with it when it
// finishes, and when it is interrupted in the middle of a call that never gets an answer.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/adapter_support.h"
#include "support/child_streams.h"

namespace {

using dravelin::testing::alive;
using dravelin::testing::eventually;
using dravelin::testing::live_group_members;
using dravelin::testing::proc_stat;
using dravelin::testing::ps_children;

// The driver as a child with all three streams on pipes.
class Driver {
 public:
  explicit Driver(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC) | pipe2(out, O_CLOEXEC) | pipe2(err, O_CLOEXEC), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      dravelin::testing::exec_as(DRAVELIN_ADAPTER_DRIVER, "adapter_driver", args);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~Driver() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) close(fd);
    }
  }

  pid_t pid() const { return pid_; }

  void send(const std::string& text) {
    EXPECT_EQ(write(in_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void close_input() {
    close(in_);
    in_ = -1;
  }

  // The next line of stdout, waiting up to a few seconds.
  std::string line() {
    for (;;) {
      if (const size_t end = out_text_.find('\n'); end != std::string::npos) {
        std::string line = out_text_.substr(0, end);
        out_text_.erase(0, end + 1);
        return line;
      }
      pollfd fd{out_, POLLIN, 0};
      if (poll(&fd, 1, 5000) <= 0) return "(no line)";
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return "(end)";
      out_text_.append(buf, static_cast<size_t>(n));
    }
  }

  // Waits for the end; the raw wait status. Collects stderr.
  int finish() {
    char buf[4096];
    for (ssize_t n; (n = read(err_, buf, sizeof buf)) > 0;) err_text_.append(buf, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid_, &status, 0);
    finished_ = true;
    return status;
  }
  const std::string& err_text() const { return err_text_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  bool finished_ = false;
};

std::string program_file() {
  const std::filesystem::path file = dravelin::testing::fresh_directory() / "drive.zem";
  std::ofstream(file) << "program drive\n\nneeds scout: agent\nneeds shell: tool\nneeds quiet: tool\n\n"
                         "task main:\n  return none\n";
  return file.string();
}

TEST(InterruptedRun, SigintKillsEveryAdapterAndReapsItsShell) {
  // `shell` never answers and leaves a child in the background; `quiet` ignores the end of its input.
  Driver driver({program_file(), "--stub", "scout", "--bind", "shell=sleep 30 & while read -r l; do :; done", "--bind",
                 "quiet=exec sleep 30"});
  driver.send("pid shell\npid quiet\ncall scout spawn\n");
  const pid_t shell = std::stoi(driver.line());
  const pid_t quiet = std::stoi(driver.line());
  EXPECT_EQ(driver.line(), R"({"$zem":"handle","capability":"scout","id":"stub-1"})");
  ASSERT_TRUE(eventually([&] { return live_group_members(shell).size() == 2; }));
  std::vector<pid_t> adapters = live_group_members(shell);
  adapters.push_back(quiet);
  EXPECT_EQ(ps_children(driver.pid()).size(), 2u);

  driver.send("call shell run\n");
  std::this_thread::sleep_for(std::chrono::milliseconds{200});  // the call is waiting for its answer
  const auto start = std::chrono::steady_clock::now();
  kill(driver.pid(), SIGINT);
  const int status = driver.finish();
  // Adapters left alive would hold the driver's stderr open for 30 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds{5000});
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  // Both `sh`s were reaped by the driver (no zombie left behind); the background child is dead.
  EXPECT_FALSE(proc_stat(shell).has_value());
  EXPECT_FALSE(proc_stat(quiet).has_value());
  for (pid_t pid : adapters) EXPECT_TRUE(eventually([&] { return !alive(pid); })) << pid;
  EXPECT_EQ(driver.err_text(),
            "[stub] `scout` is using the built-in Agent demonstration adapter\n[stub:scout] spawn {}\n");
}

TEST(FinishedRun, NoChildOutlivesTheHosts) {
  Driver driver({program_file(), "--bind", "shell=jq -c --unbuffered '{result: .args}'", "--bind",
                 "quiet=trap '' TERM; sleep 30 & while :; do sleep 1; done", "--stub", "scout"});
  driver.send("call shell run {\"positional\":[1],\"named\":{\"a\":true}}\ncall shell run\n");
  EXPECT_EQ(driver.line(), R"({"named":{"a":true},"positional":[1]})");
  EXPECT_EQ(driver.line(), "{}");
  driver.close_input();
  EXPECT_EQ(driver.line(), "children:");
  const int status = driver.finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
