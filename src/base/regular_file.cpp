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

// Opens the path for reading once it is known to name a regular file of at most `max_bytes`; `opened` is the
// descriptor's own status. The kind is looked at before opening, since merely opening some devices has effects,
// and again on the descriptor, since the path may name another file by then. O_NONBLOCK keeps the open of a
// pipe without a writer from waiting; the descriptor is made blocking again once it is known to be a file.
Result<int, std::string> open_checked(const std::filesystem::path& path, std::optional<size_t> max_bytes,
                                      std::string_view too_large_text, struct stat& opened) {
  const auto too_large = [&] { return std::string(too_large_text); };
  // The system calls would stop at a NUL and read another file than the one named.
  if (path.native().find('\0') != std::string::npos) return err(std::string("the path contains a NUL byte"));
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0) return err(os_error_text(errno));
  if (auto refused = refuse_kind(before.st_mode)) return err(std::move(*refused));
  if (max_bytes && static_cast<uintmax_t>(before.st_size) > *max_bytes) return err(too_large());

  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return err(os_error_text(errno));
  const auto refuse = [&](std::string why) {
    ::close(fd);
    return err(std::move(why));
  };
  if (::fstat(fd, &opened) != 0) return refuse(os_error_text(errno));
  if (auto refused = refuse_kind(opened.st_mode)) return refuse(std::move(*refused));
  if (max_bytes && static_cast<uintmax_t>(opened.st_size) > *max_bytes) return refuse(too_large());
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

Result<int, std::string> open_regular_file(const std::filesystem::path& path) {
  struct stat opened {};
  return open_checked(path, std::nullopt, {}, opened);
}

Result<std::string, std::string> read_regular_file_bytes(const std::filesystem::path& path, size_t max_bytes,
                                                         std::string_view too_large_text) {
  const auto too_large = [&] { return std::string(too_large_text); };
  struct stat opened {};
  const int fd = TRY(open_checked(path, max_bytes, too_large_text, opened));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

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
