// A failure that ends a command: a chain of messages, the outermost first.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace dravelin::cli {

struct CliError {
  std::vector<std::string> messages;

  static CliError of(std::string message) { return CliError{{std::move(message)}}; }
  // This error as the cause of a new outermost message.
  CliError wrapped(std::string outer) && {
    messages.insert(messages.begin(), std::move(outer));
    return std::move(*this);
  }
};

// Writes "dravelin: " and the messages joined by ": " to stderr, control characters escaped so that it stays one
// line; returns the status 1.
int error_exit(const CliError& error);

}  // namespace dravelin::cli
