#include "lsp/server.h"

#include <csignal>

#include "lsp/server/server_loop.h"
#include "lsp/transport/connection.h"

namespace dravelin::lsp {

Result<Unit, std::string> run_language_server(int input_fd, int output_fd) {
  // A client that closes its end makes writes fail with EPIPE, which the writer reports, instead of ending
  // the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<transport::Connection> connection = transport::Connection::open(input_fd, output_fd);
  Result<Unit, std::string> result = server_main_loop(*connection);
  std::optional<std::string> io_error = connection->join();
  // A failed read usually ends the loop too ("disconnected channel"): the read error is then its cause.
  if (!result.ok() && io_error) return err(std::move(result).error() + ": " + *io_error);
  if (!result.ok()) return result;
  if (io_error) return err(std::move(*io_error));
  return Unit{};
}

}  // namespace dravelin::lsp
