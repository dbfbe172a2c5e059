#include "serve/server/bridge_host.h"

#include <atomic>
#include <utility>

#include "json/reader.h"
#include "json/writer.h"
#include "serve/protocol/envelope.h"
#include "serve/protocol/errors.h"
#include "serve/protocol/methods.h"
#include "serve/protocol/results.h"
#include "runtime/value_json.h"

namespace dravelin::serve::server {
namespace {

using runtime::RuntimeError;

std::atomic<uint64_t> host_request_counter{1};

RuntimeError adapter_error(std::string message) { return protocol::host_io_failure(std::move(message)); }

// A `run.abort` for the run this host serves.
bool aborts_own_run(const json::Value& message, const core::RunLink& link) {
  const json::Value* version = message.find("jsonrpc");
  const json::Value* method = message.find("method");
  const json::Value* params = message.find("params");
  const json::Value* run_id = params != nullptr ? params->find("run_id") : nullptr;
  return version != nullptr && version->is_string() && version->as_string() == "2.0" && method->as_string() == "run.abort" &&
         run_id != nullptr && run_id->is_string() && run_id->as_string() == link.run_id();
}

std::string grace_text(std::chrono::milliseconds grace) {
  const auto ms = grace.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

}  // namespace

uint64_t next_host_request_id() { return host_request_counter.fetch_add(1); }

Result<json::Value, RuntimeError> host_round_trip(transport::BridgeIo& io, const core::RunLink& link,
                                                  std::string_view method, const json::Value& params,
                                                  std::chrono::milliseconds abort_grace) {
  const uint64_t id = next_host_request_id();
  transport::BridgeIo::Held held = io.hold();
  if (auto written = held.write_line(protocol::request_line(id, method, params)); !written.ok()) {
    return err(adapter_error(written.error().message));
  }
  // Set once the run has been aborted: the reply is awaited until then only.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  for (;;) {
    auto read = held.read_line(deadline);
    if (!read.ok()) return err(adapter_error(read.error().message));
    switch (read->kind) {
      case transport::LineRead::Kind::Line: break;
      case transport::LineRead::Kind::End: return err(adapter_error("the host closed stdin during a capability call"));
      case transport::LineRead::Kind::TimedOut:
        return err(adapter_error("the host did not answer the capability call within " + grace_text(abort_grace) +
                                 " of the run's abort"));
      case transport::LineRead::Kind::TooLong:
        return err(adapter_error("the host returned malformed JSON: a line longer than " +
                                 std::to_string(transport::kMaxLineBytes) + " bytes"));
    }
    const std::string& line = read->text;
    auto parsed = json::parse_json_value(line);
    if (!parsed.ok()) return err(adapter_error("the host returned malformed JSON: " + parsed.error().text()));
    const json::Value& message = *parsed;

    const json::Value* request_method = message.find("method");
    if (request_method != nullptr && request_method->is_string()) {
      if (!aborts_own_run(message, link)) {
        held.pending().push_back(line);
        continue;
      }
      const json::Value* request_id = message.find("id");
      if (request_id != nullptr && !protocol::is_valid_id(*request_id)) {
        auto answered = held.write_line(
            protocol::error_line(protocol::MessageId::null(), protocol::invalid_request(std::string(protocol::kBadIdDetail))));
        if (!answered.ok()) return err(adapter_error(answered.error().message));
        continue;
      }
      link.request_abort();
      if (request_id != nullptr) {
        auto answered = held.write_line(protocol::result_line(protocol::MessageId::of(line, *request_id), protocol::ok_result()));
        if (!answered.ok()) return err(adapter_error(answered.error().message));
      }
      if (!deadline) deadline = std::chrono::steady_clock::now() + abort_grace;
      continue;
    }

    const json::Value* reply_id = message.find("id");
    if (reply_id == nullptr || !reply_id->is_uint() || reply_id->as_uint() != id) continue;  // answers nothing of ours
    if (const json::Value* error = message.find("error")) return err(protocol::host_error_to_runtime_error(*error));
    const json::Value* result = message.find("result");
    if (result == nullptr) return err(adapter_error("the host reply had neither result nor error"));
    if (const json::Value* error = result->find("error")) return err(protocol::host_error_to_runtime_error(*error));
    return *result;
  }
}

BridgeHost::BridgeHost(core::BindingSpec spec, transport::SharedIo io, std::chrono::milliseconds abort_grace)
    : spec_(std::move(spec)), io_(std::move(io)), abort_grace_(abort_grace) {}

Result<runtime::Value, RuntimeError> BridgeHost::call(std::string_view verb, runtime::CallArguments args) {
  protocol::CapabilityCallParams params{spec_.link->run_id(), spec_.name, std::string(verb), std::move(args)};
  json::Value reply = TRY(host_round_trip(*io_, *spec_.link, protocol::kCapabilityCall, params.to_json_value(), abort_grace_));
  const json::Value* found = reply.find("result");
  const json::Value answer = found != nullptr ? *found : json::Value();

  if (spec_.kind == record::NeedKind::Tool && spec_.handle_verbs.count(std::string(verb)) != 0) {
    const json::Object* object = answer.if_object();
    if (object == nullptr) return err(adapter_error("adapter `" + spec_.name + "` returned a non-object handle"));
    const json::Value* handle_id = object->find("id");
    if (handle_id == nullptr || !handle_id->is_string()) {
      return err(adapter_error("adapter `" + spec_.name + "` returned a handle without a string id"));
    }
    runtime::Handle handle{spec_.name, handle_id->as_string(), {}};
    for (const json::Member& member : *object) {
      if (member.key == "id" || member.key == "capability" || member.key == runtime::kKindMarker) continue;
      handle.fields.insert_or_assign(member.key, member.value);
    }
    return runtime::Value::handle(std::move(handle));
  }
  if (spec_.kind == record::NeedKind::Agent && verb == "spawn") {
    auto handle = runtime::handle_from_json_map(answer);
    if (!handle.ok()) return err(adapter_error(std::move(handle).error()));
    return runtime::Value::handle(std::move(handle).value());
  }
  auto value = runtime::from_tagged_json(answer);
  if (!value.ok()) return err(adapter_error(std::move(value).error()));
  return std::move(value).value();
}

Result<record::Observation, RuntimeError> BridgeHost::observe(const runtime::Handle& handle) {
  protocol::CapabilityObserveParams params{spec_.link->run_id(), spec_.name, handle};
  json::Value reply =
      TRY(host_round_trip(*io_, *spec_.link, protocol::kCapabilityObserve, params.to_json_value(), abort_grace_));
  const json::Value* found = reply.find("observation");
  auto observation = record::Observation::read_json(found != nullptr ? *found : json::Value());
  if (!observation.ok()) return err(adapter_error(std::move(observation).error()));
  return std::move(observation).value();
}

}  // namespace dravelin::serve::server
