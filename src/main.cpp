#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "cli/entry.h"

namespace {

// A standard descriptor that the parent left closed is opened on /dev/null, so that no file the program opens
// later (a recording, a temporary file) takes its number and receives what is meant for stdout or stderr. Failing
// that, the program must not run.
bool open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != fd) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!open_standard_descriptors()) return 1;
  // A write to an adapter that has gone away must come back as an error, not end the program. Adapters get
  // the default action back when they start.
  std::signal(SIGPIPE, SIG_IGN);
  return dravelin::cli::run_main(argc, argv);
}
