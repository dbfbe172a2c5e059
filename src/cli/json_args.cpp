#include "cli/json_args.h"

#include <optional>
#include <utility>

#include "json/reader.h"
#include "runtime/value_json.h"

namespace dravelin::cli {
namespace {

constexpr std::string_view kEvalCase = "struct EvalCase";

// A member of a case, which must be an object itself.
Result<json::Object, std::string> case_object(json::Value value) {
  if (!value.is_object()) return err(json::invalid_type_message(value, "a map"));
  return std::move(value).as_object();
}

// Makes every object in `value` an ordered map (a repeated key keeping its last value). The reader bounds the
// nesting, and so this recursion.
void sort_deep(json::Value& value) {
  if (value.is_array()) {
    for (json::Value& item : value.as_array()) sort_deep(item);
  } else if (value.is_object()) {
    json::Object& object = value.as_object();
    object.sort_keys();
    for (json::Member& member : object) sort_deep(member.value);
  }
}

}  // namespace

Result<runtime::Record, std::string> parse_value_object(std::string_view text) {
  auto object = json::parse_json_object(text);
  if (!object.ok()) return err(object.error().text());
  runtime::Record values;
  for (const json::Member& member : *object) {
    auto value = runtime::from_tagged_json(member.value);
    if (!value.ok()) return err(std::move(value).error());
    values.insert_or_assign(member.key, std::move(value).value());
  }
  return values;
}

Result<EvalCase, std::string> parse_eval_case(std::string_view line) {
  // Read in document order first, so that a repeated member is seen; members are sorted below.
  auto parsed = json::parse(line);
  if (!parsed.ok()) return err(parsed.error().text());
  json::Value row = std::move(parsed).value();

  std::optional<json::Value> state;
  std::optional<json::Value> expected;
  if (row.is_array()) {
    json::Array& items = row.as_array();
    if (items.size() != 2) {
      return err("invalid length " + std::to_string(items.size()) + ", expected " + std::string(kEvalCase) +
                 " with 2 elements");
    }
    state = std::move(items[0]);
    expected = std::move(items[1]);
  } else if (row.is_object()) {
    for (json::Member& member : row.as_object()) {
      std::optional<json::Value>* slot =
          member.key == "state" ? &state : member.key == "expected" ? &expected : nullptr;
      if (slot == nullptr) continue;
      if (*slot) return err(json::duplicate_field_message(member.key));
      *slot = std::move(member.value);
    }
    if (!state) return err(json::missing_field_message("state"));
    if (!expected) return err(json::missing_field_message("expected"));
  } else {
    return err(json::invalid_type_message(row, kEvalCase));
  }
  // Sorted at every level, as the whole-text object reader gives them.
  sort_deep(*state);
  sort_deep(*expected);
  EvalCase result;
  result.state = TRY(case_object(std::move(*state)));
  result.expected = TRY(case_object(std::move(*expected)));
  return result;
}

}  // namespace dravelin::cli
