// The stdio transport: a reader thread (input to the incoming channel), a writer thread (outgoing channel to
// output) and a thread that releases the messages the main loop has finished with. The main loop meets them
// only through the channels.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "lsp/transport/message.h"

namespace dravelin::lsp::transport {

enum class Received { Message, Empty, Disconnected };

class Connection {
 public:
  // Starts the threads over the two file descriptors (the process's stdin and stdout for the server).
  static std::unique_ptr<Connection> open(int input_fd, int output_fd);

  virtual ~Connection() = default;

  // The next message in arrival order; nothing once the input has ended and every message was taken.
  virtual std::optional<Message> receive() = 0;
  // The next message if one is already queued.
  virtual Received try_receive(Message& out) = 0;
  // As `receive`, giving up at the deadline (`timed_out` is then set).
  virtual std::optional<Message> receive_until(std::chrono::steady_clock::time_point deadline,
                                               bool& timed_out) = 0;

  // Queues a message for the writer; false only when the writer has gone.
  virtual bool send(Message message) = 0;

  // Hands a handled message to the releasing thread, so that freeing a large message costs the main loop
  // nothing.
  virtual void release(Message message) = 0;

  // Stops reading, lets the writer finish what is queued, and waits for the threads. The first I/O error of
  // either thread, if any.
  virtual std::optional<std::string> join() = 0;
};

}  // namespace dravelin::lsp::transport
