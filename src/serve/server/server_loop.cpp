#include "serve/server/server_loop.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <new>
#include <stdexcept>
#include <utility>

#include "json/reader.h"
#include "serve/protocol/envelope.h"
#include "serve/protocol/errors.h"
#include "serve/serve.h"
#include "serve/server/stderr_note.h"

namespace dravelin::serve {
namespace server {
namespace {

using protocol::MessageId;

// A message that answers a request (no `method`, a `result` or an `error`): the SDK host's late reply to a
// capability call that has already ended. Answering it would send the host an error under an id of its own
// requests' numbering.
bool is_response(const json::Value& message) {
  return message.is_object() && message.find("method") == nullptr &&
         (message.find("result") != nullptr || message.find("error") != nullptr);
}

// A request whose handling runs out of memory is answered with that failure, and the bridge goes on serving.
Result<json::Value, protocol::ErrorObject> dispatch(BridgeState& state, const std::string& method,
                                                   const json::Value& params) {
  try {
    return dispatch_bridge_method(state, method, params);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return err(protocol::runtime_error_object(runtime::out_of_memory_error("`" + method + "`")));
}

}  // namespace

std::optional<std::string> handle_line(BridgeState& state, const std::string& line) {
  auto parsed = json::parse_json_value(line);
  if (!parsed.ok()) return protocol::error_line(MessageId::null(), protocol::parse_error(parsed.error().text()));
  const json::Value& message = *parsed;

  auto request = protocol::Request::read(message);
  if (!request.ok()) {
    const json::Value* id = message.find("id");
    const MessageId reply_id = id != nullptr && protocol::is_valid_id(*id) ? MessageId::of(line, *id) : MessageId::null();
    return protocol::error_line(reply_id, protocol::invalid_request(std::move(request).error()));
  }
  if (request->id && !protocol::is_valid_id(*request->id)) {
    return protocol::error_line(MessageId::null(), protocol::invalid_request(std::string(protocol::kBadIdDetail)));
  }
  if (is_response(message)) {
    note_on_stderr("dropped a response that answers no pending request: " + line.substr(0, 200));
    return std::nullopt;
  }
  const MessageId id = request->id ? MessageId::of(line, *request->id) : MessageId::null();
  if (request->jsonrpc != "2.0" || request->method.empty()) {
    return protocol::error_line(id, protocol::invalid_request(std::nullopt));
  }
  auto outcome = dispatch(state, request->method, request->params);
  if (!request->id) return std::nullopt;
  if (!outcome.ok()) return protocol::error_line(id, outcome.error());
  return protocol::result_line(id, *outcome);
}

Result<Unit, transport::IoError> run_server_loop(BridgeState& state) {
  for (;;) {
    std::string line;
    std::optional<std::string> reply;
    {
      transport::BridgeIo::Held held = state.io->hold();
      if (!held.pending().empty()) {
        line = std::move(held.pending().front());
        held.pending().pop_front();
      } else {
        auto read = TRY(held.read_line());
        switch (read.kind) {
          case transport::LineRead::Kind::Line: line = std::move(read.text); break;
          case transport::LineRead::Kind::End: return Unit{};
          case transport::LineRead::Kind::TimedOut: continue;  // no deadline was given
          case transport::LineRead::Kind::TooLong:
            reply = protocol::error_line(MessageId::null(),
                                         protocol::parse_error("the line is longer than " +
                                                               std::to_string(transport::kMaxLineBytes) + " bytes"));
            break;
        }
      }
    }
    if (!reply) reply = handle_line(state, line);
    if (reply) TRY(state.io->hold().write_line(*reply));
  }
}

}  // namespace server

Result<Unit, std::string> serve_fds(int in_fd, int out_fd, const ServeOptions& options) {
  // A peer that closes its end must give an I/O error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  server::BridgeState state;
  state.io = std::make_shared<transport::BridgeIo>(in_fd, out_fd);
  state.abort_grace = options.abort_grace;
  auto served = server::run_server_loop(state);
  if (!served.ok()) return err(std::move(served).error().message);
  return Unit{};
}

Result<Unit, std::string> serve_stdio(const ServeOptions& options) {
  std::fflush(stdout);
  // The protocol keeps the process's stdout for itself; everything else written to descriptor 1 from here on
  // (by this process or a child it starts) lands on stderr.
  const int protocol_out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (protocol_out < 0) return err(std::string("cannot take over stdout: ") + std::strerror(errno));
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    const int code = errno;
    ::close(protocol_out);
    return err(std::string("cannot take over stdout: ") + std::strerror(code));
  }
  auto served = serve_fds(STDIN_FILENO, protocol_out, options);
  // The last descriptor of the protocol's stdout: some file systems report a lost write only when it closes.
  if (::close(protocol_out) != 0 && errno != EINTR && served.ok()) return err(std::string(std::strerror(errno)));
  return served;
}

}  // namespace dravelin::serve
