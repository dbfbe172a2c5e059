// The capability host of an SDK binding: each call and observation of the running program becomes a
// `capability.call` or `capability.observe` request to the SDK host, and the run waits for its reply.
//
// While it waits the bridge is a client on its own stdio: it holds the stdio lock from its request to the
// reply, keeps every line that is no reply for the server loop (requests in either form, batches, lines it
// cannot read as a request), notes replies to other ids on stderr and drops them, and acts at once on a
// `run.abort` for its own run (the flag is set, the abort answered, and the reply still awaited). A line that
// is not JSON fails the call. After such an abort the reply is
// awaited for a grace period only; then the call fails and the run stops at the abort.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"
#include "record/capability.h"
#include "runtime/runtime_error.h"
#include "serve/core/runs.h"
#include "serve/transport/line_io.h"

namespace dravelin::serve::server {

// The next id of a request to the SDK host: one counter for the whole process, from 1.
uint64_t next_host_request_id();

// One request to the SDK host and the `result` member of its reply (failures as `adapter_error`).
Result<json::Value, runtime::RuntimeError> host_round_trip(transport::BridgeIo& io, const core::RunLink& link,
                                                          std::string_view method, const json::Value& params,
                                                          std::chrono::milliseconds abort_grace);

class BridgeHost final : public record::CapabilityHost {
 public:
  BridgeHost(core::BindingSpec spec, transport::SharedIo io, std::chrono::milliseconds abort_grace);

  record::NeedKind kind() const override { return spec_.kind; }
  Result<runtime::Value, runtime::RuntimeError> call(std::string_view verb, runtime::CallArguments args) override;
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return spec_.manifest; }
  Result<record::Observation, runtime::RuntimeError> observe(const runtime::Handle& handle) override;

 private:
  core::BindingSpec spec_;
  transport::SharedIo io_;
  std::chrono::milliseconds abort_grace_;
};

}  // namespace dravelin::serve::server
