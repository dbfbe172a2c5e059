#include "runtime/value_json.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "runtime/value_bounds.h"

namespace dravelin::runtime {
namespace {

// ---- writers ----

json::Value probabilities_json(const ProbabilityMap& probabilities) {
  json::Object out;
  out.reserve(probabilities.size());
  // The map is already in key byte order, which is the object's order.
  for (const auto& [label, p] : probabilities) out.append(label, json::json_number(p));
  return json::Value(std::move(out));
}

// Handle fields are JSON as the host sent it, possibly with objects in document order. They are stored and
// written with every object an ordered map, so that a handle's JSON text (hashed for redaction, compared
// on replay) does not depend on the order in which a host happened to write its keys.
json::Value ordered_json(const json::Value& json) {
  if (const json::Array* items = json.if_array()) {
    json::Array out;
    out.reserve(items->size());
    for (const json::Value& item : *items) out.push_back(ordered_json(item));
    return json::Value(std::move(out));
  }
  if (const json::Object* object = json.if_object()) {
    json::Object out;
    for (const json::Member& member : object->entries()) out.set(member.key, ordered_json(member.value));
    return json::Value(std::move(out));
  }
  return json;
}

json::Value to_json(const Value& value, bool tagged);

json::Value choice_json(const Choice& choice, bool tagged) {
  json::Object out;
  out.set("confidence", json::json_number(choice.confidence));
  if (choice.index) out.set("index", *choice.index);
  if (const Value* item = choice.item.get()) out.set("item", to_json(*item, tagged));
  out.set("label", choice.label);
  out.set("probabilities", probabilities_json(choice.probabilities));
  if (tagged) out.set(std::string(kKindMarker), "choice");
  return json::Value(std::move(out));
}

json::Value level_json(const Level& level, bool tagged) {
  json::Object out;
  out.set("confidence", json::json_number(level.confidence));
  out.set("level", level.level);
  out.set("normalized", json::json_number(level.normalized));
  out.set("probabilities", probabilities_json(level.probabilities));
  out.set("score", json::json_number(level.score));
  if (tagged) {
    // Only the tagged form keeps the names, and only when there are some.
    if (!level.names.empty()) {
      json::Array names;
      names.reserve(level.names.size());
      for (const std::string& name : level.names) names.emplace_back(name);
      out.set("names", json::Value(std::move(names)));
    }
    out.set(std::string(kKindMarker), "level");
  }
  return json::Value(std::move(out));
}

json::Value handle_json(const Handle& handle, bool tagged) {
  json::Object out;
  for (const auto& [key, field] : handle.fields) out.append(key, ordered_json(field));
  // The handle's own capability and id win over fields of the same names, and the marker over a `$zem`
  // field.
  out.set("capability", handle.capability);
  out.set("id", handle.id);
  if (tagged) out.set(std::string(kKindMarker), "handle");
  return json::Value(std::move(out));
}

json::Value pause_result_json(const PauseResult& result, bool tagged) {
  json::Object out;
  out.set("answer", result.answer);
  out.set("text", result.text ? json::Value(*result.text) : json::Value());
  if (tagged) out.set(std::string(kKindMarker), "pause_result");
  return json::Value(std::move(out));
}

// The recursive path (to_json, list_json, record_json) keeps its frames small: a value nested to the limit
// must convert on a modest stack, sanitizers included, so the other kinds are built out of line.
json::Value list_json(const List& items, bool tagged) {
  json::Array out;
  out.reserve(items.size());
  for (const Value& item : items) out.push_back(to_json(item, tagged));
  return json::Value(std::move(out));
}

json::Value record_json(const Record& entries, bool tagged) {
  json::Object out;
  out.reserve(entries.size());
  for (const auto& [key, item] : entries) out.append(key, to_json(item, tagged));
  return json::Value(std::move(out));
}

[[gnu::noinline]] json::Value scalar_json(const Value& value, bool tagged) {
  switch (value.kind()) {
    case ValueKind::Text: return json::Value(value.as_text());
    case ValueKind::Number: return json::json_number(value.as_number());
    case ValueKind::Bool: return json::Value(value.as_bool());
    case ValueKind::Prob: {
      if (!tagged) return json::json_number(value.as_prob());
      json::Object out;
      out.set(std::string(kKindMarker), "prob");
      out.set("value", json::json_number(value.as_prob()));
      return json::Value(std::move(out));
    }
    case ValueKind::Level: return level_json(value.as_level(), tagged);
    case ValueKind::Handle: return handle_json(value.as_handle(), tagged);
    case ValueKind::PauseResult: return pause_result_json(value.as_pause_result(), tagged);
    default: return json::Value();
  }
}

json::Value to_json(const Value& value, bool tagged) {
  switch (value.kind()) {
    case ValueKind::None: return json::Value();
    case ValueKind::List: return list_json(value.as_list(), tagged);
    case ValueKind::Record: return record_json(value.as_record(), tagged);
    case ValueKind::Choice: return choice_json(value.as_choice(), tagged);
    default: return scalar_json(value, tagged);
  }
}

// ---- the tagged reader ----

std::string needs_numeric(std::string_view kind, std::string_view key) {
  return "a `" + std::string(kind) + "` value needs a numeric `" + std::string(key) + "`";
}

std::string needs_text(std::string_view kind, std::string_view key) {
  return "a `" + std::string(kind) + "` value needs a text `" + std::string(key) + "`";
}

double number_or_zero(const json::Object& object, std::string_view key) {
  const json::Value* found = object.find(key);
  if (found == nullptr) return 0;
  return found->to_f64().value_or(0);
}

// A whole number in 0..2^32-1 written as a JSON integer.
std::optional<uint32_t> whole_u32(const json::Value* json) {
  if (json == nullptr) return std::nullopt;
  const std::optional<uint64_t> n = json->to_u64();
  if (!n || *n > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(*n);
}

Result<ProbabilityMap, std::string> read_probabilities(const json::Object& object, std::string_view kind) {
  ProbabilityMap out;
  const json::Value* found = object.find("probabilities");
  if (found == nullptr) return out;
  const json::Object* members = found->if_object();
  if (members == nullptr) return err("a `" + std::string(kind) + "` value needs a `probabilities` object");
  for (const json::Member& member : members->entries()) {
    const std::optional<double> p = member.value.to_f64();
    if (!p) return err("probability `" + member.key + "` is not a number");
    out.insert_or_assign(member.key, *p);
  }
  return out;
}

Result<Value, std::string> read_prob(const json::Object& object) {
  const json::Value* found = object.find("value");
  const std::optional<double> p = found ? found->to_f64() : std::nullopt;
  if (!p) return err(needs_numeric("prob", "value"));
  return Value::prob(*p);
}

Result<Value, std::string> read_tagged(const json::Value& json, bool bounded);

Result<Value, std::string> read_choice(const json::Object& object, bool bounded) {
  Choice choice;
  const json::Value* label = object.find("label");
  if (label == nullptr || !label->is_string()) return err(needs_text("choice", "label"));
  choice.label = label->as_string();
  choice.confidence = number_or_zero(object, "confidence");
  choice.probabilities = TRY(read_probabilities(object, "choice"));
  // An index that is not a whole JSON number in range is dropped, not refused.
  choice.index = whole_u32(object.find("index"));
  const json::Value* item = object.find("item");
  if (item != nullptr && !item->is_null()) choice.item = TRY(read_tagged(*item, bounded));
  return Value::choice(std::move(choice));
}

Result<Value, std::string> read_level(const json::Object& object) {
  Level level;
  const std::optional<uint32_t> position = whole_u32(object.find("level"));
  if (!position) return err(std::string("a `level` value needs a whole `level`"));
  level.level = *position;
  const json::Value* score = object.find("score");
  const std::optional<double> score_value = score ? score->to_f64() : std::nullopt;
  if (!score_value) return err(needs_numeric("level", "score"));
  level.score = *score_value;
  level.normalized = number_or_zero(object, "normalized");
  level.confidence = number_or_zero(object, "confidence");
  level.probabilities = TRY(read_probabilities(object, "level"));
  if (const json::Value* names = object.find("names"); names != nullptr && names->is_array()) {
    level.names.reserve(names->as_array().size());
    for (const json::Value& name : names->as_array()) {
      if (!name.is_string()) return err(std::string("level `names` must be texts"));
      level.names.push_back(name.as_string());
    }
  }
  return Value::level(std::move(level));
}

Result<Value, std::string> read_handle(const json::Object& object) {
  Handle handle;
  const json::Value* capability = object.find("capability");
  if (capability == nullptr || !capability->is_string()) return err(needs_text("handle", "capability"));
  const json::Value* id = object.find("id");
  if (id == nullptr || !id->is_string()) return err(needs_text("handle", "id"));
  handle.capability = capability->as_string();
  handle.id = id->as_string();
  for (const json::Member& member : object.entries()) {
    if (member.key == kKindMarker || member.key == "capability" || member.key == "id") continue;
    handle.fields.insert_or_assign(member.key, ordered_json(member.value));
  }
  return Value::handle(std::move(handle));
}

Result<Value, std::string> read_pause_result(const json::Object& object) {
  PauseResult result;
  const json::Value* answer = object.find("answer");
  if (answer == nullptr || !answer->is_string()) return err(needs_text("pause_result", "answer"));
  result.answer = answer->as_string();
  // A text that is not a string is dropped, not refused.
  if (const json::Value* text = object.find("text"); text != nullptr && text->is_string()) {
    result.text = text->as_string();
  }
  return Value::pause_result(std::move(result));
}

[[gnu::noinline]] Result<Value, std::string> read_marked(const json::Object& object, const std::string& kind,
                                                        bool bounded) {
  if (kind == "prob") return read_prob(object);
  if (kind == "choice") return read_choice(object, bounded);
  if (kind == "level") return read_level(object);
  if (kind == "handle") return read_handle(object);
  if (kind == "pause_result") return read_pause_result(object);
  return err("unknown `$zem` kind `" + kind + "`");
}

}  // namespace

json::Value to_plain_json(const Value& value) { return to_json(value, false); }

json::Value to_tagged_json(const Value& value) { return to_json(value, true); }

Value from_plain_json(const json::Value& json) {
  switch (json.kind()) {
    case json::Kind::Null: return Value::none();
    case json::Kind::Bool: return Value::boolean(json.as_bool());
    case json::Kind::Int:
    case json::Kind::UInt:
    case json::Kind::Float: return Value::number(*json.to_f64());
    case json::Kind::String: return Value::text(json.as_string());
    case json::Kind::Array: {
      List items;
      items.reserve(json.as_array().size());
      for (const json::Value& item : json.as_array()) items.push_back(from_plain_json(item));
      return Value::list(std::move(items));
    }
    case json::Kind::Object: {
      Record entries;
      // In document order, so that a repeated key keeps its last value.
      for (const json::Member& member : json.as_object().entries()) {
        entries.insert_or_assign(member.key, from_plain_json(member.value));
      }
      return Value::record(std::move(entries));
    }
  }
  return Value::none();
}

namespace {

// Like the writers, the recursive path of the reader keeps its frames small; marked objects and scalars are
// read out of line.
//
// A value read from JSON is held to the same bounds as one a program builds: a reply or input of a few
// megabytes of short items would otherwise become a list many times that size in memory. Room is reserved for
// at most this many items up front, whatever the array claims.
constexpr size_t kReservedItems = 1 << 12;

Result<Value, std::string> tagged_list(const json::Array& items, bool bounded) {
  if (!bounded) {
    List out;
    out.reserve(items.size());
    for (const json::Value& item : items) out.push_back(TRY(read_tagged(item, false)));
    return Value::list(std::move(out));
  }
  ListBuilder out(std::min(items.size(), kReservedItems));
  for (const json::Value& item : items) {
    Result<Value, std::string> value = read_tagged(item, true);
    if (!value.ok()) return value;
    auto pushed = out.push(std::move(*value));
    if (!pushed.ok()) return err(std::move(pushed).error().message);
  }
  return std::move(out).build();
}

Result<Value, std::string> tagged_record(const json::Object& object, bool bounded) {
  if (!bounded) {
    Record out;
    for (const json::Member& member : object.entries()) {
      out.insert_or_assign(member.key, TRY(read_tagged(member.value, false)));
    }
    return Value::record(std::move(out));
  }
  RecordBuilder out;
  for (const json::Member& member : object.entries()) {
    Result<Value, std::string> value = read_tagged(member.value, true);
    if (!value.ok()) return value;
    auto set = out.set(member.key, std::move(*value));
    if (!set.ok()) return err(std::move(set).error().message);
  }
  return std::move(out).build();
}

[[gnu::noinline]] Result<Value, std::string> tagged_marked(const json::Object& object, const std::string& kind,
                                                          bool bounded) {
  Value value = TRY(read_marked(object, kind, bounded));
  // A handle keeps its fields as JSON, which can be as large as the text it came in.
  if (bounded && value_size(value) > kMaxValueBytes) return err(size_error().message);
  return value;
}

[[gnu::noinline]] Result<Value, std::string> tagged_scalar(const json::Value& json) { return from_plain_json(json); }

Result<Value, std::string> read_tagged(const json::Value& json, bool bounded) {
  if (const json::Array* items = json.if_array()) return tagged_list(*items, bounded);
  if (const json::Object* object = json.if_object()) {
    const json::Value* marker = object->find(kKindMarker);
    if (marker != nullptr && marker->is_string()) return tagged_marked(*object, marker->as_string(), bounded);
    return tagged_record(*object, bounded);
  }
  return tagged_scalar(json);
}

}  // namespace

Result<Value, std::string> from_tagged_json(const json::Value& json) { return read_tagged(json, true); }

Result<Value, std::string> from_recorded_tagged_json(const json::Value& json) { return read_tagged(json, false); }

json::Value tagged_members_to_json(const Record& members) {
  json::Object out;
  out.reserve(members.size());
  for (const auto& [name, value] : members) out.append(name, to_tagged_json(value));
  return json::Value(std::move(out));
}

Result<Record, std::string> tagged_members_from_json(const json::Object& object) {
  Record out;
  for (const json::Member& member : object.entries()) {
    out.insert_or_assign(member.key, TRY(from_tagged_json(member.value)));
  }
  return out;
}

Result<Handle, std::string> handle_from_json_map(const json::Value& json) {
  const json::Object* object = json.if_object();
  if (object == nullptr) return err(json::invalid_type_message(json, "struct Handle"));
  Handle handle;
  bool has_capability = false;
  bool has_id = false;
  // Entries in document order: a field of the wrong type is reported where it stands, before any
  // missing field.
  for (const json::Member& member : object->entries()) {
    const bool is_capability = member.key == "capability";
    if (is_capability || member.key == "id") {
      bool& seen = is_capability ? has_capability : has_id;
      if (seen) return err(json::duplicate_field_message(member.key));
      seen = true;
      if (!member.value.is_string()) return err(json::invalid_type_message(member.value, "a string"));
      (is_capability ? handle.capability : handle.id) = member.value.as_string();
      continue;
    }
    handle.fields.insert_or_assign(member.key, ordered_json(member.value));
  }
  if (!has_capability) return err(json::missing_field_message("capability"));
  if (!has_id) return err(json::missing_field_message("id"));
  return handle;
}

void write_tagged_value(json::Writer& writer, const Value& value) { writer.value(to_tagged_json(value)); }

Result<Value, json::ParseError> read_tagged_value(json::Reader& reader) {
  const json::Value json = TRY(reader.read_value());
  Result<Value, std::string> value = from_tagged_json(json);
  if (!value) return err(reader.error(std::move(value).error()));
  return std::move(value).value();
}

Result<Value, json::ParseError> parse_tagged_value(std::string_view text) {
  json::Reader reader(text);
  Value value = TRY(read_tagged_value(reader));
  TRY(reader.finish());
  return value;
}

}  // namespace dravelin::runtime
