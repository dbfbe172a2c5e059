#include "record/capability.h"

#include <utility>

#include "json/record_form.h"
#include "record/codecs.h"
#include "runtime/value_json.h"
#include "syntax/need_verbs.h"

namespace dravelin::record {

namespace form = json::record_form;
namespace rr = json::record_read;

// Manifests come from hosts as values reduced to maps.
constexpr auto describe(std::type_identity<ManifestVerb>) {
  return form::read_as_map(form::fields_of<ManifestVerb>("struct ManifestVerb",
                                                         form::defaulted("params", &ManifestVerb::params),
                                                         form::omitted("returns", &ManifestVerb::returns)));
}
// Written member by member, the named members in declared order and then the others in key order: the text a
// recorded observation's summary is taken over.
constexpr auto describe(std::type_identity<Observation>) {
  return form::keeping_other_members(
      form::objects_only(form::read_as_map(form::fields_of<Observation>(
          "struct Observation", form::required("status", &Observation::status),
          form::required("last_message", &Observation::last_message), form::required("tail", &Observation::tail),
          form::omitted("exit_code", &Observation::exit_code)))),
      &Observation::extra);
}
constexpr auto describe(std::type_identity<ToolManifest>) {
  return form::read_as_map(
      form::fields_of<ToolManifest>("struct ToolManifest", form::required("verbs", &ToolManifest::verbs)));
}

std::string_view need_kind_name(NeedKind kind) { return syntax::enum_name(kind); }

std::string_view need_kind_display_name(NeedKind kind) {
  static constexpr std::string_view kNames[] = {"Agent", "Person", "Llm", "Tool"};
  static_assert(std::size(kNames) == syntax::EnumNames<NeedKind>::count);
  return kNames[static_cast<size_t>(kind)];
}

std::span<const std::string_view> need_kind_verbs(NeedKind kind) { return syntax::need_kind_verbs(kind); }

json::Value call_arguments_to_json(const CallArguments& args) {
  json::Object out;
  if (!args.named.empty()) {
    json::Object named;
    for (const auto& [name, value] : args.named) named.set(name, runtime::to_tagged_json(value));
    out.set("named", json::Value(std::move(named)));
  }
  if (!args.positional.empty()) {
    json::Array positional;
    positional.reserve(args.positional.size());
    for (const runtime::Value& value : args.positional) positional.push_back(runtime::to_tagged_json(value));
    out.set("positional", json::Value(std::move(positional)));
  }
  return json::Value(std::move(out));
}

runtime::Value call_arguments_to_value(const CallArguments& args) {
  runtime::Record out;
  if (!args.named.empty()) {
    runtime::Record named;
    for (const auto& [name, value] : args.named) named.emplace(name, value);
    out.emplace("named", runtime::Value::record(std::move(named)));
  }
  if (!args.positional.empty()) out.emplace("positional", runtime::Value::list(args.positional));
  return runtime::Value::record(std::move(out));
}

json::Value handle_to_host_json(const runtime::Handle& handle) {
  json::Object out;
  out.append("capability", handle.capability);
  out.append("id", handle.id);
  for (const auto& [key, value] : handle.fields) out.append(key, value);
  return json::Value(std::move(out));
}

// ---- manifests ----

void ManifestVerb::write_json(json::Writer& out) const { form::write_record(*this, out); }
json::Value ManifestVerb::to_json_value() const { return form::to_value(*this); }
Result<ManifestVerb, std::string> ManifestVerb::read_json(const json::Value& value) {
  return form::read_record<ManifestVerb>(value);
}

void ToolManifest::write_json(json::Writer& out) const { form::write_record(*this, out); }
json::Value ToolManifest::to_json_value() const { return form::to_value(*this); }
Result<ToolManifest, std::string> ToolManifest::read_json(const json::Value& value) {
  // The single element of the array form must be the verbs object itself.
  if (const json::Array* items = value.if_array(); items != nullptr && items->size() == 1 &&
                                                   !items->front().is_object()) {
    return err(json::invalid_type_message(items->front(), "a map"));
  }
  return form::read_record<ToolManifest>(value);
}

// ---- observations ----

std::string_view agent_status_name(AgentStatus status) {
  return AgentStatusNames::names[static_cast<size_t>(status)];
}

void Observation::write_json(std::string& out) const {
  json::Writer writer(out);
  write_json(writer);
}

void Observation::write_json(json::Writer& out) const { form::write_record(*this, out); }

json::Value Observation::to_json_value() const { return form::to_value(*this); }

Result<Observation, std::string> Observation::read_json(const json::Value& value) {
  return form::read_record<Observation>(value);
}

}  // namespace dravelin::record
