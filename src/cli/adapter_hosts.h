// The two host types behind `--bind` and `--stub`, and the reading of an adapter's reply.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "cli/adapter_process.h"
#include "cli/adapters.h"
#include "json/value.h"
#include "record/capability.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"

namespace dravelin::cli {

using record::NeedKind;
using runtime::RuntimeError;

// A built-in demonstration host: prints every call it answers and answers it with a canned value.
class StubHost final : public record::CapabilityHost {
 public:
  StubHost(std::string name, NeedKind kind, LineSink output);

  NeedKind kind() const override { return kind_; }
  Result<runtime::Value, RuntimeError> call(std::string_view verb, runtime::CallArguments args) override;
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<record::Observation, RuntimeError> observe(const runtime::Handle& handle) override;

 private:
  std::string name_;
  uint64_t next_handle_ = 1;
  NeedKind kind_;
  LineSink output_;
};

// The stubs' one observation: waiting, "built-in stub observation", "built-in stub".
record::Observation stub_observation();

// The arguments as the stubs print them: `positional` before `named`, each left out when empty.
std::string stub_arguments_text(const runtime::CallArguments& args);

// The adapters started by one set-up. Each host closes its adapter's input when it is dropped; the adapters
// are ended together when the last host holding the fleet goes.
class AdapterFleet {
 public:
  AdapterFleet() = default;
  AdapterFleet(const AdapterFleet&) = delete;
  AdapterFleet& operator=(const AdapterFleet&) = delete;
  ~AdapterFleet();

  AdapterProcess& add(std::unique_ptr<AdapterProcess> process);

 private:
  std::vector<std::unique_ptr<AdapterProcess>> processes_;
};

// A persistent `sh -c COMMAND` subprocess spoken to in JSON lines.
class ProcessAdapterHost final : public record::CapabilityHost {
 public:
  ProcessAdapterHost(std::string name, NeedKind kind, std::shared_ptr<AdapterFleet> fleet, AdapterProcess& process);
  ProcessAdapterHost(const ProcessAdapterHost&) = delete;
  ProcessAdapterHost& operator=(const ProcessAdapterHost&) = delete;
  ~ProcessAdapterHost() override;

  NeedKind kind() const override { return kind_; }
  Result<runtime::Value, RuntimeError> call(std::string_view verb, runtime::CallArguments args) override;
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<record::Observation, RuntimeError> observe(const runtime::Handle& handle) override;

  // Writes one request line and reads one reply line; the member under `reply_key` of the reply.
  Result<json::Value, RuntimeError> exchange(const json::Value& request, std::string_view reply_key);

  AdapterProcess& process() { return *process_; }

 private:
  std::string name_;
  NeedKind kind_;
  std::shared_ptr<AdapterFleet> fleet_;
  AdapterProcess* process_;
};

// The request lines, every object's members in byte order of their keys.
json::Value adapter_call_request(std::string_view capability, std::string_view verb,
                                 const runtime::CallArguments& args);
json::Value adapter_observe_request(std::string_view capability, const runtime::Handle& handle);

// The answer a reply carries under `reply_key`, or the failure it reports: its own `error`, or the missing key.
Result<json::Value, RuntimeError> read_adapter_reply(const json::Value& reply, std::string_view capability,
                                                     std::string_view reply_key);

// What a call's answer means: a handle for `spawn` on an agent, else a value in the tagged form.
Result<runtime::Value, RuntimeError> read_call_answer(NeedKind kind, std::string_view verb, const json::Value& answer);

// An `adapter_error` with an all-zero span.
RuntimeError adapter_error(std::string message, bool retryable = false);

}  // namespace dravelin::cli
