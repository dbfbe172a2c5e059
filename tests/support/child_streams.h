// What the tests that start a program as a child process share: the exec in the child, and reading its
// output streams to their end without ever waiting past a deadline.
#pragma once

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace dravelin::testing {

// In a forked child: replaces it with `program`, named `argv0`, given `args`; ends with 127 when exec fails.
[[noreturn]] inline void exec_as(const char* program, const std::string& argv0, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(argv0.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(program, argv.data());
  _exit(127);
}

// Reads each of `fds` into the sink at the same index until every one has ended, closing each as it ends and
// setting its `fd` to -1; `after_reads`, when given, runs after each round of reads. Returns false when
// `deadline` came first (or the streams could not be watched), leaving the descriptors still open as they are:
// the caller kills the child then, so that a stuck one fails its test instead of hanging it.
inline bool collect_streams(std::span<pollfd> fds, std::span<std::string* const> sinks,
                            std::chrono::steady_clock::time_point deadline,
                            const std::function<void()>& after_reads = nullptr) {
  size_t open_count = 0;
  for (const pollfd& fd : fds) open_count += fd.fd >= 0 ? 1 : 0;
  while (open_count > 0) {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int ready = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    for (size_t i = 0; i < fds.size(); ++i) {
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
    if (after_reads) after_reads();
  }
  return true;
}

// Closes whichever of `fds` are still open.
inline void close_streams(std::span<pollfd> fds) {
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
    fd.fd = -1;
  }
}

}  // namespace dravelin::testing
