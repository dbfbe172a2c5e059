// Reading the small text files of /proc/PID that tests look at to see which processes live.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace dravelin::testing {

// The whole file, or nothing when it cannot be opened or read: a process that ends between the open and the
// read fails the read (ESRCH), which counts as gone.
inline std::optional<std::string> read_proc_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

}  // namespace dravelin::testing
