#include <utility>

#include "cli/adapter_hosts.h"
#include "json/reader.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace dravelin::cli {
namespace {

std::string quoted_name(std::string_view name) { return std::string("`").append(name) + "`"; }

}  // namespace

RuntimeError adapter_error(std::string message, bool retryable) {
  return runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, std::move(message), retryable);
}

json::Value adapter_call_request(std::string_view capability, std::string_view verb,
                                 const runtime::CallArguments& args) {
  json::Object request;
  request.set("args", record::call_arguments_to_json(args));
  request.set("capability", capability);
  request.set("operation", "call");
  request.set("verb", verb);
  return json::Value(std::move(request));
}

json::Value adapter_observe_request(std::string_view capability, const runtime::Handle& handle) {
  // The handle's fields first, so that its own `capability` and `id` are what the object holds.
  json::Object object;
  for (const auto& [key, value] : handle.fields) object.set(key, value);
  object.set("capability", handle.capability);
  object.set("id", handle.id);
  json::Object request;
  request.set("capability", capability);
  request.set("handle", json::Value(std::move(object)));
  request.set("operation", "observe");
  return json::Value(std::move(request));
}

Result<json::Value, RuntimeError> read_adapter_reply(const json::Value& reply, std::string_view capability,
                                                     std::string_view reply_key) {
  if (const json::Value* error = reply.find("error")) {
    const json::Value* message = error->find("message");
    const json::Value* retryable = error->find("retryable");
    return err(adapter_error(message != nullptr && message->is_string() ? message->as_string() : "adapter error",
                             retryable != nullptr && retryable->is_bool() && retryable->as_bool()));
  }
  if (const json::Value* answer = reply.find(reply_key)) return *answer;
  return err(adapter_error("adapter " + quoted_name(capability) + " reply lacks " + quoted_name(reply_key)));
}

Result<runtime::Value, RuntimeError> read_call_answer(NeedKind kind, std::string_view verb, const json::Value& answer) {
  if (kind == NeedKind::Agent && verb == "spawn") {
    Result<runtime::Handle, std::string> handle = runtime::handle_from_json_map(answer);
    if (!handle) return err(adapter_error(std::move(handle).error()));
    return runtime::Value::handle(std::move(handle).value());
  }
  Result<runtime::Value, std::string> value = runtime::from_tagged_json(answer);
  if (!value) return err(adapter_error(std::move(value).error()));
  return std::move(value).value();
}

// ---- the fleet and the host ----

AdapterFleet::~AdapterFleet() {
  std::vector<AdapterProcess*> all;
  all.reserve(processes_.size());
  for (const auto& process : processes_) all.push_back(process.get());
  end_adapter_processes(all, kAdapterGrace);
}

AdapterProcess& AdapterFleet::add(std::unique_ptr<AdapterProcess> process) {
  processes_.push_back(std::move(process));
  return *processes_.back();
}

ProcessAdapterHost::ProcessAdapterHost(std::string name, NeedKind kind, std::shared_ptr<AdapterFleet> fleet,
                                       AdapterProcess& process)
    : name_(std::move(name)), kind_(kind), fleet_(std::move(fleet)), process_(&process) {}

// The adapter sees the end of its input now; it is ended with the rest of its fleet.
ProcessAdapterHost::~ProcessAdapterHost() { process_->close_input(); }

Result<json::Value, RuntimeError> ProcessAdapterHost::exchange(const json::Value& request, std::string_view reply_key) {
  std::string line = json::to_compact(request);
  line += '\n';
  if (Result<Unit, std::string> written = process_->write_all(line); !written) {
    return err(adapter_error("could not write adapter " + quoted_name(name_) + ": " + written.error()));
  }
  Result<std::optional<std::string>, std::string> read = process_->read_line();
  if (!read) return err(adapter_error("could not read adapter " + quoted_name(name_) + ": " + read.error()));
  if (!read.value()) {
    // The stream can end a moment before `sh` does.
    return err(adapter_error("adapter " + quoted_name(name_) +
                             " exited unexpectedly: " + describe_child_state(process_->state(kExitPatience))));
  }
  Result<json::Value, json::ParseError> reply = json::parse_json_value(*read.value());
  if (!reply) {
    return err(adapter_error("adapter " + quoted_name(name_) + " returned malformed JSON: " + reply.error().text()));
  }
  return read_adapter_reply(reply.value(), name_, reply_key);
}

Result<runtime::Value, RuntimeError> ProcessAdapterHost::call(std::string_view verb, runtime::CallArguments args) {
  const json::Value answer = TRY(exchange(adapter_call_request(name_, verb, args), "result"));
  return read_call_answer(kind_, verb, answer);
}

Result<record::Observation, RuntimeError> ProcessAdapterHost::observe(const runtime::Handle& handle) {
  const json::Value answer = TRY(exchange(adapter_observe_request(name_, handle), "observation"));
  Result<record::Observation, std::string> observation = record::Observation::read_json(answer);
  if (!observation) return err(adapter_error(std::move(observation).error()));
  return std::move(observation).value();
}

}  // namespace dravelin::cli
