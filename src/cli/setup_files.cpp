#include "cli/setup_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace dravelin::cli {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

std::string os_error_text(int error) { return std::strerror(error); }

Result<Fd, int> open_real_dir(int at, const std::string& name) {
  // O_NONBLOCK: should the name be a FIFO after all, the open must not wait for a writer.
  const int fd = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return err(errno);
  return Fd(fd);
}

bool file_has_content(int dir, const std::string& name, std::string_view bytes) {
  // Looked at first so that a FIFO or a device is not even opened; the open below checks again.
  struct stat named {};
  if (::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) return false;
  const int raw = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (raw < 0) return false;
  const Fd fd(raw);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (static_cast<unsigned long long>(st.st_size) != bytes.size()) return false;
  // One byte more than expected, to see a file that grew since fstat.
  std::string content(bytes.size() + 1, '\0');
  size_t have = 0;
  while (have < content.size()) {
    const ssize_t n = ::read(fd.get(), content.data() + have, content.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  return have == bytes.size() && std::string_view(content.data(), have) == bytes;
}

Result<Unit, CliError> write_new_file(int dir, const std::string& name, std::string_view bytes) {
  const int raw = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (raw < 0) return err(CliError::of(os_error_text(errno)));
  Fd fd(raw);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return err(CliError::of(os_error_text(errno)));
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) return err(CliError::of(os_error_text(errno)));
  // A failed close can be the first report of a failed write.
  if (::close(fd.release()) != 0) return err(CliError::of(os_error_text(errno)));
  return Unit{};
}

void remove_tree(int dir, const std::string& name) {
  auto opened = open_real_dir(dir, name);
  if (!opened.ok()) return;
  DIR* listing = ::fdopendir(opened->get());
  if (listing == nullptr) return;
  const int fd = opened->release();  // the listing owns it now
  std::vector<std::string> entries;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view entry_name = entry->d_name;
    if (entry_name != "." && entry_name != "..") entries.emplace_back(entry_name);
  }
  for (const std::string& entry : entries) {
    struct stat st {};
    if (::fstatat(fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      remove_tree(fd, entry);
    } else {
      ::unlinkat(fd, entry.c_str(), 0);
    }
  }
  ::closedir(listing);
  ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
}

namespace {

std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(at, end - at);
    if (!part.empty() && part != ".") parts.push_back(part);
    at = end + 1;
  }
  return parts;
}

}  // namespace

bool same_components(std::string_view a, std::string_view b) {
  const bool a_absolute = !a.empty() && a.front() == '/';
  const bool b_absolute = !b.empty() && b.front() == '/';
  return a_absolute == b_absolute && components(a) == components(b);
}

}  // namespace dravelin::cli
