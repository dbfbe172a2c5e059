#include <utility>

#include "cli/adapter_hosts.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace dravelin::cli {

StubHost::StubHost(std::string name, NeedKind kind, LineSink output)
    : name_(std::move(name)), kind_(kind), output_(std::move(output)) {}

record::Observation stub_observation() {
  record::Observation observation;
  observation.status = record::AgentStatus::Waiting;
  observation.last_message = "built-in stub observation";
  observation.tail = "built-in stub";
  return observation;
}

std::string stub_arguments_text(const runtime::CallArguments& args) {
  // Built entry by entry: the printed order is not the byte order of the keys.
  json::Object out;
  if (!args.positional.empty()) {
    json::Array positional;
    for (const runtime::Value& value : args.positional) positional.push_back(runtime::to_tagged_json(value));
    out.append("positional", json::Value(std::move(positional)));
  }
  if (!args.named.empty()) {
    json::Object named;
    for (const auto& [name, value] : args.named) named.set(name, runtime::to_tagged_json(value));
    out.append("named", json::Value(std::move(named)));
  }
  return json::to_compact(json::Value(std::move(out)));
}

Result<runtime::Value, RuntimeError> StubHost::call(std::string_view verb, runtime::CallArguments args) {
  output_("[stub:" + name_ + "] " + std::string(verb) + " " + stub_arguments_text(args));
  switch (kind_) {
    case NeedKind::Agent:
      if (verb == "spawn") {
        runtime::Handle handle;
        handle.capability = name_;
        handle.id = "stub-" + std::to_string(next_handle_++);
        return runtime::Value::handle(std::move(handle));
      }
      if (verb == "wait") return runtime::from_plain_json(stub_observation().to_json_value());
      if (verb == "send" || verb == "stop") return runtime::Value::none();
      break;
    case NeedKind::Person:
      if (verb == "notify") return runtime::Value::none();
      break;
    case NeedKind::Llm:
      if (verb == "write") {
        if (args.positional.empty()) return runtime::Value::text("");
        return std::move(args.positional.front());
      }
      break;
    case NeedKind::Tool:
      break;
  }
  return runtime::Value::record({});
}

Result<record::Observation, RuntimeError> StubHost::observe(const runtime::Handle&) { return stub_observation(); }

}  // namespace dravelin::cli
