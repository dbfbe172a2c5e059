// The server's main loop: the handshake, then batches of messages applied to the World, each batch followed
// by the diagnostics of the documents it touched.
#pragma once

#include <set>
#include <string>

#include "base/result.h"
#include "lsp/core/world.h"
#include "lsp/transport/connection.h"

namespace dravelin::lsp {

// Runs the handshake and the loop over the connection until the client is done.
Result<Unit, std::string> server_main_loop(transport::Connection& connection);

}  // namespace dravelin::lsp
