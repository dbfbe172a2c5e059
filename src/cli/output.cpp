#include "cli/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/error.h"

namespace dravelin::cli {
namespace {

// The errno of the first failed write of each stream; 0 while none failed. The command line writes from the
// main thread only.
int stdout_failure = 0;
int stderr_failure = 0;

void note_failure(std::FILE* stream, int code) {
  // A failure without a code of its own (a short write) is still a failure.
  if (code == 0) code = EIO;
  if (stream == stdout && stdout_failure == 0) stdout_failure = code;
  if (stream == stderr && stderr_failure == 0) stderr_failure = code;
}

}  // namespace

bool write_text(std::FILE* stream, std::string_view text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0) {
    note_failure(stream, errno);
    return false;
  }
  return true;
}

int finish_output(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) note_failure(stdout, errno);
  // Nothing was ever written to a stdout that the process was started without; its close alone is no failure.
  errno = 0;
  if (std::fclose(stdout) != 0 && errno != EBADF) note_failure(stdout, errno);

  errno = 0;
  if (std::fflush(stderr) != 0 || std::ferror(stderr)) note_failure(stderr, errno);
  // stderr stays open for whatever the runtime still reports at exit; closing a copy of it still brings out an
  // error the file system kept for the close.
  if (const int copy = ::dup(STDERR_FILENO); copy >= 0) {
    errno = 0;
    if (::close(copy) != 0 && errno != EINTR) note_failure(stderr, errno);
  }

  if (stdout_failure != 0 && stderr_failure == 0) {
    error_exit(CliError::of(std::strerror(stdout_failure)).wrapped("cannot write to stdout"));
  }
  return stdout_failure != 0 || stderr_failure != 0 ? 1 : status;
}

}  // namespace dravelin::cli
