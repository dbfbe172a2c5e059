// The server state and the method table: each method reads its parameters, calls the core and writes its
// result.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

#include "base/result.h"
#include "json/value.h"
#include "runtime/runtime_error.h"
#include "serve/core/programs.h"
#include "serve/core/runs.h"
#include "serve/protocol/errors.h"
#include "serve/transport/line_io.h"
#include "zem/profile.h"
#include "zem/service.h"

namespace dravelin::serve::server {

// How `judgment.run` gets its model-service client for a profile (the HTTPS client unless a test says
// otherwise).
using ClientFactory =
    std::function<Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError>(const zem::Profile& profile)>;

struct BridgeState {
  transport::SharedIo io;
  core::ProgramStore programs;
  core::RunStore runs;
  // How long a capability call still waits for its reply once its run has been aborted.
  std::chrono::milliseconds abort_grace{5000};
  ClientFactory make_client;
};

// Calls the handler of the method named exactly `method`; an unknown name is "method not found".
Result<json::Value, protocol::ErrorObject> dispatch_bridge_method(BridgeState& state, std::string_view method,
                                                                  const json::Value& params);

}  // namespace dravelin::serve::server
