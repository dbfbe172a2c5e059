#include "serve/server/bridge_host.h"

#include <atomic>
#include <utility>

#include "json/reader.h"
#include "json/writer.h"
#include "serve/protocol/envelope.h"
#include "serve/protocol/errors.h"
#include "serve/protocol/methods.h"
#include "serve/protocol/params.h"
#include "serve/protocol/results.h"
#include "serve/server/stderr_note.h"
#include "runtime/value_json.h"

namespace dravelin::serve::server {
namespace {

using runtime::RuntimeError;

std::atomic<uint64_t> host_request_counter{1};

RuntimeError adapter_error(std::string message) { return protocol::host_io_failure(std::move(message)); }

// The reply to request `id`: an object without `method` whose `id` is that integer.
bool answers(const json::Value& message, uint64_t id) {
  if (!message.is_object() || message.find("method") != nullptr) return false;
  const json::Value* reply_id = message.find("id");
  return reply_id != nullptr && reply_id->is_uint() && reply_id->as_uint() == id;
}

// A reply to some request: an object with an `id`, a `result` or an `error`, and no `method`. Anything else
// is a message for the server loop.
bool is_reply(const json::Value& message) {
  return message.is_object() && message.find("method") == nullptr && message.find("id") != nullptr &&
         (message.find("result") != nullptr || message.find("error") != nullptr);
}

// A `run.abort` for the run this host serves, in either form the server loop reads.
bool aborts_own_run(const protocol::Request& request, const core::RunLink& link) {
  if (request.jsonrpc != "2.0" || request.method != "run.abort") return false;
  auto params = protocol::RunParams::read(request.params);
  return params.ok() && params->run_id == link.run_id();
}

// An id as it was written, shortened for a note.
std::string id_for_note(std::string_view line, const json::Value& id) {
  constexpr size_t kLongest = 64;
  std::string text = protocol::MessageId::of(line, id).text;
  if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
  return text;
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
    // A line that is not JSON is taken for the host's reply, garbled: waiting on would wait for a reply that
    // was already sent.
    auto parsed = json::parse_json_value(line);
    if (!parsed.ok()) return err(adapter_error("the host returned malformed JSON: " + parsed.error().text()));
    const json::Value& message = *parsed;

    if (answers(message, id)) {
      if (const json::Value* error = message.find("error")) return err(protocol::host_error_to_runtime_error(*error));
      const json::Value* result = message.find("result");
      if (result == nullptr) return err(adapter_error("the host reply had neither result nor error"));
      if (const json::Value* error = result->find("error")) return err(protocol::host_error_to_runtime_error(*error));
      return *result;
    }
    if (is_reply(message)) {
      note_on_stderr("dropped a response to id " + id_for_note(line, *message.find("id")) +
                     " while a capability call waited for id " + std::to_string(id));
      continue;
    }
    // Every other line is served by the server loop once the request that drove the run has been answered,
    // whatever it holds; only an abort of this run is acted on at once.
    auto request = protocol::Request::read(message);
    if (!request.ok() || !aborts_own_run(*request, link)) {
      held.pending().push_back(line);
      continue;
    }
    if (request->id && !protocol::is_valid_id(*request->id)) {
      auto answered = held.write_line(
          protocol::error_line(protocol::MessageId::null(), protocol::invalid_request(std::string(protocol::kBadIdDetail))));
      if (!answered.ok()) return err(adapter_error(answered.error().message));
      continue;
    }
    link.request_abort();
    if (request->id) {
      auto answered = held.write_line(protocol::result_line(protocol::MessageId::of(line, *request->id), protocol::ok_result()));
      if (!answered.ok()) return err(adapter_error(answered.error().message));
    }
    if (!deadline) deadline = std::chrono::steady_clock::now() + abort_grace;
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
