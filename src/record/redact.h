// Redaction: replacing an event's eligible full payloads with summaries, as a recorder with redaction on
// writes them to the recording (and the full event to its companion).
#pragma once

#include <set>
#include <string>

#include "record/event.h"
#include "record/recorded.h"
#include "runtime/value.h"
#include "tokens/tokenizer.h"

namespace dravelin::record {

// The names of the capabilities whose `wait` results are summarised: a start event's bindings of kind "agent".
std::set<std::string, std::less<>> agent_capability_names(const Event::Start& start);

// The event with every eligible payload that is still full summarised over its text, counted with `tokens`:
// a request's state (its compact JSON), a `wait` call's result on an agent capability (the compact tagged
// JSON), an observation (its member-by-member text), a log's message (as a JSON string literal, quotes
// included) and each log field value (the compact tagged JSON). Summaries stay as they are, so redacting twice
// changes nothing; every other event is returned unchanged.
Event redact_event(Event event, const tokens::Tokenizer& tokens,
                   const std::set<std::string, std::less<>>& agent_capabilities);

// The summary of a value: over the compact text of its tagged JSON.
Redacted redact_value(const runtime::Value& value, const tokens::Tokenizer& tokens);

}  // namespace dravelin::record
