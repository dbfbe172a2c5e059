#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>

namespace dravelin {
namespace {

std::string os_error_text(int error) { return std::generic_category().message(error); }

// What a path names when it is not a regular file, for the message that refuses it.
const char* special_file_kind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

// Only regular files are read. A device can be endless (/dev/zero) and a pipe or terminal can be someone
// else's stream (/dev/stdin is the language server's protocol), so neither is read. A directory keeps the
// operating system's own message.
std::optional<std::string> refuse_kind(mode_t mode) {
  if (S_ISREG(mode)) return std::nullopt;
  if (S_ISDIR(mode)) return os_error_text(EISDIR);
  return std::string("not a regular file (") + special_file_kind(mode) + ")";
}

}  // namespace

Result<std::string, std::string> read_regular_file_bytes(const std::filesystem::path& path, size_t max_bytes,
                                                         std::string_view too_large_text) {
  const auto too_large = [&] { return std::string(too_large_text); };
  // The system calls would stop at a NUL and read another file than the one named.
  if (path.native().find('\0') != std::string::npos) return err(std::string("the path contains a NUL byte"));
  // The kind is looked at before opening, since merely opening some devices has effects, and again on the
  // descriptor, since the path may name another file by then. O_NONBLOCK keeps the open of a pipe without
  // a writer from waiting.
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0) return err(os_error_text(errno));
  if (auto refused = refuse_kind(before.st_mode)) return err(std::move(*refused));
  if (static_cast<uintmax_t>(before.st_size) > max_bytes) return err(too_large());

  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return err(os_error_text(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) return err(os_error_text(errno));
  if (auto refused = refuse_kind(opened.st_mode)) return err(std::move(*refused));
  if (static_cast<uintmax_t>(opened.st_size) > max_bytes) return err(too_large());
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  std::string bytes;
  bytes.reserve(static_cast<size_t>(opened.st_size));
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return err(os_error_text(errno));
    }
    if (n == 0) break;
    // A file that grows while it is read is held to the same limit.
    if (static_cast<size_t>(n) > max_bytes - bytes.size()) return err(too_large());
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

}  // namespace dravelin
