#include "cli/adapter_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "cli/adapter_registry.h"
#include "cli/line_input.h"
#include "syntax/utf8.h"

extern char** environ;

namespace dravelin::cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Without process descriptors, waits look at the child this often.
constexpr milliseconds kLookInterval{10};
constexpr size_t kReadChunk = 8192;

std::string os_text(int error) { return std::system_category().message(error); }

// Blocks SIGPIPE for one write: a write to a pipe nobody reads then fails with EPIPE, and the SIGPIPE it
// raised is taken back off the pending set before the old mask returns.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~SigpipeHeld() {
    if (!was_pending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
};

// A descriptor at 3 or above, close-on-exec, so that the child's dup2 onto 0 and 1 always makes a copy that
// survives exec (a pipe end that is itself 0 or 1 would not).
int lift_descriptor(int fd) {
  if (fd > 2) return fd;
  const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  close(fd);
  errno = saved;
  return lifted;
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The raw wait status that `waitpid` would give for what `waitid` reported.
int raw_wait_status(const siginfo_t& info) {
  switch (info.si_code) {
    case CLD_EXITED:
      return (info.si_status & 0xff) << 8;
    case CLD_DUMPED:
      return (info.si_status & 0x7f) | 0x80;
    default:
      return info.si_status & 0x7f;
  }
}

}  // namespace

std::string describe_child_state(const ChildState& state) {
  if (!state) return "no exit status known";
  const int status = *state;
  if (WIFEXITED(status)) {
    return "exit status " + std::to_string(WEXITSTATUS(status)) + " (wait status " + std::to_string(status) + ")";
  }
  if (WIFSIGNALED(status)) {
    return "killed by signal " + std::to_string(WTERMSIG(status)) + (WCOREDUMP(status) ? ", core dumped" : "") +
           " (wait status " + std::to_string(status) + ")";
  }
  return "wait status " + std::to_string(status);
}

Result<std::unique_ptr<AdapterProcess>, std::string> AdapterProcess::start(const std::string& command) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return err(os_text(errno));
  if (pipe2(out, O_CLOEXEC) != 0) {
    const int saved = errno;
    close(in[0]);
    close(in[1]);
    return err(os_text(saved));
  }
  for (int* fd : {&in[0], &in[1], &out[0], &out[1]}) *fd = lift_descriptor(*fd);
  auto close_all = [&] {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1]}) close_fd(*fd);
  };
  if (in[0] < 0 || in[1] < 0 || out[0] < 0 || out[1] < 0) {
    const int saved = errno;
    close_all();
    return err(os_text(saved));
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  posix_spawnattr_setsigmask(&attributes, &no_mask);

  std::string sh = "sh";
  std::string dash_c = "-c";
  std::string text = command;
  char* argv[] = {sh.data(), dash_c.data(), text.data(), nullptr};

  pid_t pid = 0;
  int spawned = 0;
  {
    TerminationSignalsHeld held;
    spawned = posix_spawnp(&pid, "sh", &actions, &attributes, argv, environ);
    if (spawned == 0) register_adapter(pid);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close_fd(in[0]);
  close_fd(out[1]);
  if (spawned != 0) {
    close_all();
    return err(os_text(spawned));
  }
  fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
  fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
  // A process descriptor lets the waits sleep until `sh` ends; it is close-on-exec by nature.
  const int pid_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  return std::unique_ptr<AdapterProcess>(new AdapterProcess(pid, in[1], out[0], pid_fd));
}

AdapterProcess::AdapterProcess(pid_t pid, int in_fd, int out_fd, int pid_fd)
    : pid_(pid), in_fd_(in_fd), out_fd_(out_fd), pid_fd_(pid_fd < 0 ? -1 : pid_fd) {}

AdapterProcess::~AdapterProcess() {
  if (!reaped_) {
    AdapterProcess* self = this;
    end_adapter_processes(std::span<AdapterProcess* const>(&self, 1), kAdapterGrace);
  }
}

bool AdapterProcess::ended() {
  if (ended_) return true;
  siginfo_t info{};
  // WNOWAIT: `sh` stays a zombie, keeping its pid (and so its process group id) reserved until it is reaped.
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno == EINTR) return false;
    // Not ours to wait for any more (someone reaped it): gone, its state unknown.
    ended_ = true;
    gone_ = true;
    return true;
  }
  if (info.si_pid != pid_) return false;
  ended_ = true;
  status_ = raw_wait_status(info);
  return true;
}

void AdapterProcess::wait_for(int fd, short events, milliseconds timeout) {
  pollfd fds[2];
  nfds_t count = 0;
  if (fd >= 0) fds[count++] = pollfd{fd, events, 0};
  if (pid_fd_ >= 0) fds[count++] = pollfd{pid_fd_, POLLIN, 0};
  if (pid_fd_ < 0 && (timeout.count() < 0 || timeout > kLookInterval)) timeout = kLookInterval;
  poll(fds, count, static_cast<int>(timeout.count()));
}

Result<Unit, std::string> AdapterProcess::write_all(std::string_view bytes) {
  if (in_fd_ < 0) return err(os_text(EBADF));
  SigpipeHeld held;
  while (!bytes.empty()) {
    const ssize_t n = write(in_fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return err(os_text(errno));
    // Full pipe. A `sh` that has ended reads no more, whoever else holds the pipe.
    if (ended()) return err(os_text(EPIPE));
    wait_for(in_fd_, POLLOUT, milliseconds{-1});
  }
  return Unit{};
}

Result<std::optional<std::string>, std::string> AdapterProcess::read_line(size_t max_bytes) {
  auto take = [&](size_t length, size_t skip) -> Result<std::optional<std::string>, std::string> {
    std::string line = pending_.substr(0, length);
    pending_.erase(0, length + skip);
    if (!syntax::is_valid_utf8(line)) return err(std::string("the line is not valid UTF-8"));
    return std::optional<std::string>(std::move(line));
  };
  // Bytes of an overlong line are dropped as they arrive, so that a flood without a line end costs no memory.
  size_t dropped = 0;
  auto too_long = [&]() -> Result<std::optional<std::string>, std::string> {
    pending_.clear();
    skipping_ = true;
    return err("the line is longer than " + byte_size_text(max_bytes));
  };
  size_t scanned = 0;
  bool draining = false;  // `sh` has ended: what the pipe holds now is the rest
  for (;;) {
    if (skipping_) {
      const size_t end = pending_.find('\n');
      if (end == std::string::npos) {
        dropped += pending_.size();
        pending_.clear();
        if (dropped > max_bytes) return too_long();
      } else {
        pending_.erase(0, end + 1);
        skipping_ = false;
      }
    }
    if (!skipping_) {
      const size_t end = pending_.find('\n', scanned);
      if (end != std::string::npos) {
        if (end > max_bytes) {
          // The whole overlong line is here: only it is dropped, the lines after it stay.
          pending_.erase(0, end + 1);
          return err("the line is longer than " + byte_size_text(max_bytes));
        }
        return take(end, 1);
      }
      scanned = pending_.size();
      if (pending_.size() > max_bytes) return too_long();
    }
    if (end_of_stream_) {
      skipping_ = false;
      if (pending_.empty()) return std::optional<std::string>();
      return take(pending_.size(), 0);
    }
    char chunk[kReadChunk];
    const ssize_t n = out_fd_ < 0 ? 0 : read(out_fd_, chunk, sizeof chunk);
    if (n > 0) {
      pending_.append(chunk, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) {
      end_of_stream_ = true;
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return err(os_text(errno));
    if (draining) {
      // A child left in the background may write later; this exchange ends here all the same.
      if (pending_.empty()) return std::optional<std::string>();
      return take(pending_.size(), 0);
    }
    // Whatever `sh` wrote before it ended is in the pipe already: one more read finds it.
    if (ended()) {
      draining = true;
      continue;
    }
    wait_for(out_fd_, POLLIN, milliseconds{-1});
  }
}

ChildState AdapterProcess::state(milliseconds patience) {
  const Clock::time_point deadline = Clock::now() + patience;
  while (!ended()) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    wait_for(-1, 0, left);
  }
  return status_;
}

void AdapterProcess::close_input() { close_fd(in_fd_); }

void AdapterProcess::kill_and_reap() {
  if (reaped_) return;
  close_input();
  // Unreaped, `sh` keeps its group id reserved, so the group is still the adapter's.
  if (!gone_) killpg(pid_, SIGKILL);
  unregister_adapter(pid_);
  if (!gone_) {
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  reaped_ = true;
  close_fd(out_fd_);
  close_fd(pid_fd_);
  pending_.clear();
}

void end_adapter_processes(std::span<AdapterProcess* const> processes, milliseconds grace) {
  for (AdapterProcess* process : processes) process->close_input();
  const Clock::time_point deadline = Clock::now() + grace;
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    bool running = false;
    bool all_descriptors = true;
    for (AdapterProcess* process : processes) {
      if (process->reaped_ || process->ended()) continue;
      running = true;
      if (process->pid_fd_ >= 0) {
        fds.push_back(pollfd{process->pid_fd_, POLLIN, 0});
      } else {
        all_descriptors = false;
      }
    }
    if (!running) break;
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    if (!all_descriptors) left = std::min(left, kLookInterval);
    poll(fds.data(), fds.size(), static_cast<int>(left.count()));
  }
  for (AdapterProcess* process : processes) process->kill_and_reap();
}

}  // namespace dravelin::cli
