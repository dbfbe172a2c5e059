// The requests the server answers: a table from method to params reader and operation.
#pragma once

#include "lsp/core/world.h"
#include "lsp/transport/message.h"

namespace dravelin::lsp {

// The response to a request other than `shutdown`: its result, or an error object for an unknown method
// (MethodNotFound) or params that do not read (InvalidParams). A document that is neither open nor the
// prelude gives a null result.
transport::Response handle_request(World& world, const transport::Request& request);

}  // namespace dravelin::lsp
