// `dravelin serve`: the SDK bridge, JSON-RPC 2.0 over stdio, one message per line.
#pragma once

#include <chrono>
#include <string>

#include "base/result.h"

namespace dravelin::serve {

struct ServeOptions {
  // How long a capability call still waits for the SDK host's reply once its run has been aborted.
  std::chrono::milliseconds abort_grace{5000};
};

// Serves over the process's stdin and stdout until stdin ends. While it runs, stdout carries protocol lines
// only: whatever else the process would print there goes to stderr. Fails with the text of an I/O error of
// stdin or stdout.
Result<Unit, std::string> serve_stdio(const ServeOptions& options = {});

// The same over two file descriptors, which stay open.
Result<Unit, std::string> serve_fds(int in_fd, int out_fd, const ServeOptions& options = {});

}  // namespace dravelin::serve
