// The two JSON forms of a runtime value.
//
// The plain form is how a value looks to the outside world when its kind does not matter (the text form
// of lists and records, the state sent to the model service): a prob is a bare number, a choice, level,
// handle or pause result an ordinary object. Reading it back never fails and never yields a special kind.
//
// The tagged form keeps every kind: prob, choice, level, handle and pause_result objects carry the marker
// key `$zem` naming their kind, so a value written to a recording, the SDK bridge or an adapter reads back
// as the same kind. Its reader fails with a message on a malformed marked object.
//
// Every double that either writer emits follows the value number rule (`json::json_number`): a whole
// number of magnitude below 2^53 is a JSON integer (negative zero becomes 0), another finite number a
// float, NaN and the infinities null. Objects are ordered maps, so they are written with sorted keys.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
#include "runtime/value.h"

namespace dravelin::runtime {

// The marker key of the tagged form.
inline constexpr std::string_view kKindMarker = "$zem";

json::Value to_plain_json(const Value& value);
Value from_plain_json(const json::Value& json);

json::Value to_tagged_json(const Value& value);
// A value that arrives from outside (a run input, a host's reply, a bridge request) is held to the bounds of
// values while it is read, like one a program builds: past them, the reading fails with the size or nesting
// error's message ("a value may hold at most 8388608 bytes").
Result<Value, std::string> from_tagged_json(const json::Value& json);
// The same reader without those bounds, for the values a recording holds: every line a run writes reads back,
// also one holding a value somewhat past them (a choice that holds an element at the bound, a reply the run
// refused after recording it). The line's own cap bounds what it can hold.
Result<Value, std::string> from_recorded_tagged_json(const json::Value& json);

// A map of named values (inputs, outputs, a pause's context) as a JSON object of tagged values, and back.
// Reading takes every member, `$zem` included, as a name.
json::Value tagged_members_to_json(const Record& members);
Result<Record, std::string> tagged_members_from_json(const json::Object& object);

// The handle of a newly spawned agent, as a host returns it: an object with the texts `capability` and
// `id`; every other key (`$zem` too) becomes a field. Errors use the JSON reader's wording ("missing field
// `id`", "invalid type: integer `7`, expected a string", "... expected struct Handle").
Result<Handle, std::string> handle_from_json_map(const json::Value& json);

// A value as a member of a larger document. Writing writes the tagged form; reading reads one complete
// JSON value at the reader's place and converts it, a conversion failure becoming the reader's error at
// the end of that value.
void write_tagged_value(json::Writer& writer, const Value& value);
Result<Value, json::ParseError> read_tagged_value(json::Reader& reader);
// A whole text holding one tagged value (a run input given on the command line).
Result<Value, json::ParseError> parse_tagged_value(std::string_view text);

}  // namespace dravelin::runtime
