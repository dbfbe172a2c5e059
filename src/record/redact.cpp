#include "record/redact.h"

#include <utility>

#include "json/writer.h"
#include "runtime/value_json.h"
#include "zem/size.h"

namespace dravelin::record {

namespace {

Redacted summarize(std::string_view text, const tokens::Tokenizer& tokens) {
  return summarize_text(text, tokens.count(text));
}

void redact_payload(Recorded<runtime::Value>& payload, const tokens::Tokenizer& tokens) {
  if (const runtime::Value* full = payload.if_full()) payload = Recorded<runtime::Value>::redacted(redact_value(*full, tokens));
}

}  // namespace

std::set<std::string, std::less<>> agent_capability_names(const Event::Start& start) {
  std::set<std::string, std::less<>> out;
  for (const BindingRecord& binding : start.bindings) {
    if (binding.kind == "agent") out.insert(binding.name);
  }
  return out;
}

Redacted redact_value(const runtime::Value& value, const tokens::Tokenizer& tokens) {
  return summarize(json::to_compact(runtime::to_tagged_json(value)), tokens);
}

Event redact_event(Event event, const tokens::Tokenizer& tokens,
                   const std::set<std::string, std::less<>>& agent_capabilities) {
  if (auto* request = std::get_if<Event::Request>(&event.data)) {
    if (const json::Object* state = request->state.if_full()) {
      std::string text;
      zem::write_state_json(*state, text);
      request->state = Recorded<json::Object>::redacted(summarize(text, tokens));
    }
  } else if (auto* call = std::get_if<Event::Call>(&event.data)) {
    // Only what an agent reports when waited on is summarised; other call results stay in full.
    if (call->verb == "wait" && agent_capabilities.contains(call->capability)) redact_payload(call->result, tokens);
  } else if (auto* observe = std::get_if<Event::Observe>(&event.data)) {
    if (const Observation* observation = observe->observation.if_full()) {
      std::string text;
      observation->write_json(text);
      observe->observation = Recorded<Observation>::redacted(summarize(text, tokens));
    }
  } else if (auto* log = std::get_if<Event::Log>(&event.data)) {
    if (const std::string* message = log->message.if_full()) {
      log->message = Recorded<std::string>::redacted(summarize(json::escape_string(*message), tokens));
    }
    for (auto& [name, value] : log->fields) redact_payload(value, tokens);
  }
  return event;
}

}  // namespace dravelin::record
