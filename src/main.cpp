#include <csignal>

#include "cli/entry.h"

int main(int argc, char** argv) {
  // A write to an adapter that has gone away must come back as an error, not end the program. Adapters get
  // the default action back when they start.
  std::signal(SIGPIPE, SIG_IGN);
  return dravelin::cli::run_main(argc, argv);
}
