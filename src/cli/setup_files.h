// The file steps of the skill installer. Everything below a directory that has been opened once is reached by
// name relative to its descriptor and never through a symbolic link, so a path swapped for a link between a
// check and an action cannot send a write outside the directory that was checked.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "cli/error.h"

namespace dravelin::cli {

// An owned file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();

  int get() const { return fd_; }
  int release();

 private:
  int fd_ = -1;
};

// The operating system's text for an errno value.
std::string os_error_text(int error);

// Opens `name` under the directory `at` when it is a directory itself, not a symbolic link to one. Fails with
// the errno value: ELOOP or ENOTDIR when something else stands there.
Result<Fd, int> open_real_dir(int at, const std::string& name);

// True when `name` under `dir` is a regular file (not a link) whose whole content is `bytes`. Anything else,
// or a file that cannot be read, is false; a FIFO or a device is never read, and a file of another size is
// never read either.
bool file_has_content(int dir, const std::string& name, std::string_view bytes);

// Creates `name` under `dir`, which must not exist, with the bits 0666 less the umask, writes `bytes` and
// flushes them to the device. A failure is the operating system's text alone.
Result<Unit, CliError> write_new_file(int dir, const std::string& name, std::string_view bytes);

// Removes the directory `name` under `dir` with everything in it, following no link; failures are ignored.
// Something other than a directory at `name` is left alone.
void remove_tree(int dir, const std::string& name);

// Whether two paths name the same components: the same absoluteness and the same names in order, where
// repeated separators, a trailing separator and "." components do not count. ".." is a name like any other.
bool same_components(std::string_view a, std::string_view b);

}  // namespace dravelin::cli
