// The server loop: one request line at a time, answered with one line.
#pragma once

#include <optional>
#include <string>

#include "base/result.h"
#include "serve/server/dispatch.h"
#include "serve/transport/line_io.h"

namespace dravelin::serve::server {

// The reply line to one message line, or none (a notification, or a response that answers nothing the bridge
// asked).
std::optional<std::string> handle_line(BridgeState& state, const std::string& line);

// Serves the queued lines first, then stdin, until stdin ends; an I/O error of stdin or stdout ends it with
// that error.
Result<Unit, transport::IoError> run_server_loop(BridgeState& state);

}  // namespace dravelin::serve::server
