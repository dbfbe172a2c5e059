// The language server's input stream: frames cut from arbitrary bytes, each body read as a message, and the
// messages dispatched by the server's own loop after a fixed handshake.
#include "fuzz_target.h"
#include "json/reader.h"
#include "lsp/server/server_loop.h"
#include "lsp/transport/framing.h"
#include "lsp/transport/message.h"
#include "scripted_connection.h"

using namespace dravelin;
using lsp::transport::Message;

DRAVELIN_FUZZ_TARGET(lsp_frames) {
  // Fed in two pieces, so that a frame cut between reads is met as well.
  lsp::transport::FrameParser parser(1 << 20);
  std::vector<Message> messages;
  const size_t half = bytes.size() / 2;
  bool stream_broken = false;
  for (std::string_view piece : {bytes.substr(0, half), bytes.substr(half)}) {
    if (stream_broken) break;
    parser.feed(piece);
    for (;;) {
      auto body = parser.next();
      if (!body.ok()) {
        // Nothing after a framing error has a known boundary.
        if (body.error().empty()) return fuzz::broken("a framing error has an empty message");
        stream_broken = true;
        break;
      }
      if (!body->has_value()) break;
      auto message = lsp::transport::parse_message(**body);
      if (!message.ok()) {
        if (message.error().message.empty()) return fuzz::broken("a malformed message has an empty reason");
        continue;
      }
      (void)lsp::transport::message_to_json(*message);
      messages.push_back(std::move(*message));
    }
  }
  std::vector<Message> handshake;
  handshake.push_back(lsp::transport::Request{json::Value(0), "initialize", json::parse(R"({"capabilities":{}})").value()});
  handshake.push_back(lsp::transport::Notification{"initialized", json::Value()});
  fuzz::ScriptedConnection connection({std::move(handshake), std::move(messages)});
  (void)lsp::server_main_loop(connection);
  for (const Message& m : connection.sent) (void)lsp::transport::message_to_json(m);
  return fuzz::holds();
}
