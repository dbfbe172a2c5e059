// Runs the built program as a child process, to see the real exit statuses and streams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// Starts the program with `argv0` as its own name and `args` after it, with stdin closed off, and
// collects both streams to the end.
Finished run_program(const std::string& argv0, const std::vector<std::string>& args) {
  Finished done;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return done;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return done;
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(DRAVELIN_BINARY, argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&done.out, &done.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) break;
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
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  done.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return done;
}

TEST(Program, HelpVersionAndUsageErrorsReachTheRightStreams) {
  const Finished bare = run_program("dravelin", {});
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err.rfind("The dravelin command-line tool\n", 0), 0u) << bare.err;

  const Finished help = run_program("dravelin", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, bare.err);
  EXPECT_EQ(help.err, "");

  const Finished version = run_program("dravelin", {"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "dravelin 0.1.2\n");
  EXPECT_EQ(version.err, "");

  const Finished refused = run_program("/some/where/dz", {"run", "a.zem", "--redact=yes"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("--redact"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("Usage: dz run [OPTIONS] FILE"), std::string::npos) << refused.err;
}

TEST(Program, SubcommandsNotYetBuiltEndAtTheCommonErrorExit) {
  const std::vector<std::vector<std::string>> commands = {
      {"compile", "-"},
      {"check", "a.zem", "--tools", "m.json"},
      {"judge", "a.zem", "tone", "--state", "{}"},
      {"eval", "a.zem", "tone", "--cases", "c.jsonl"},
      {"run", "a.zem"},
      {"replay", "r.jsonl"},
      {"serve"},
      {"setup", "--agent", "codex"},
      {"lsp"},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args.front());
    const Finished done = run_program("dravelin", args);
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err, "dravelin: `" + args.front() + "` is not available yet\n");
  }
}

}  // namespace
