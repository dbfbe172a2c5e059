// The reading rules that the program's records (model-service records, run records) share.
//
// A record is read from an already parsed JSON value, given either as an object or as an array of its
// values in declared order (a tagged record's array begins with its tag). The rules, with their messages:
//   - object keys may come in any order; keys the record does not define are skipped whatever they hold;
//   - a known key given twice: "duplicate field `<key>`";
//   - a required key that is missing: "missing field `<key>`", the first missing one in declared order;
//   - a value of the wrong JSON type: "invalid type: <found>, expected <what>";
//   - an array that ends before a required value: "invalid length <n>, expected <record> with <count>
//     elements", <n> being the missing value's position (after the tag) and <count> the field count
//     ("with 1 element" for a single field);
//   - an array with more values than fields: "invalid length <n>, expected <m> elements in sequence".
// Values are read in document order as they are met, so the first fault of the text is the one reported.
// Messages carry no position: the caller knows where the value stood.
//
// Some records are read the way a value reduced to a map reads (`Origin::Map`: the records that hosts send,
// such as observations and tool manifests): a key given twice keeps its last value, keys are met in
// ascending byte order, and an array with more values than fields is "invalid length <n>, expected fewer
// elements in array", <n> being the array's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/value.h"

namespace dravelin::json::record_read {

template <class T>
using ReadResult = Result<T, std::string>;

// Scalars and lists of the record fields.
ReadResult<std::string> read_string(const json::Value& value);               // "a string"
ReadResult<std::optional<std::string>> read_opt_string(const json::Value& value);  // null reads as absent
ReadResult<std::vector<std::string>> read_string_list(const json::Value& value);   // "a sequence"
ReadResult<double> read_f64(const json::Value& value);                       // any number; "f64"
ReadResult<std::optional<double>> read_opt_f64(const json::Value& value);    // null reads as absent
ReadResult<uint32_t> read_u32(const json::Value& value);                     // "u32"
ReadResult<uint64_t> read_u64(const json::Value& value);                     // "u64"
// An object of numbers, "a map"; of a key given twice the later value stays.
ReadResult<std::map<std::string, double>> read_f64_map(const json::Value& value);

// A list of records, each element read by `read_element`.
template <class T, class F>
ReadResult<std::vector<T>> read_list(const json::Value& value, F&& read_element);

struct Field {
  std::string_view name;
  bool required;
};

// How the JSON of a record was come by (see the rules above).
enum class Origin : uint8_t {
  Text,  // entries in document order, a known key given twice refused
  Map,   // a value reduced to a map: the last of repeated keys, in byte order
};

// The shape of one record (or of one variant of a tagged record).
struct RecordForm {
  std::string_view expecting;    // "struct ScoreLevel", "struct variant Question::Noul"
  std::span<const Field> fields;  // declared order
  bool positional = true;         // also read from an array; otherwise an array is an invalid type
  Origin origin = Origin::Text;
};

// Called once per field that the value gives, with the field's index in `RecordForm::fields`.
using FieldVisitor = std::function<ReadResult<Unit>(size_t field, const json::Value& value)>;
// Called with an object entry that is none of the record's fields (a record that keeps such entries).
using OtherVisitor = std::function<ReadResult<Unit>(const json::Member& entry)>;

// Reads the fields of a record given as an object or as an array; the first `skip` array elements are
// passed over (the tag of a tagged record). Any other JSON value is "invalid type: ..., expected
// <form.expecting>". Object entries that are none of the fields go to `others` when it is given, in the
// order they are met, and are skipped otherwise.
ReadResult<Unit> read_record(const json::Value& value, const RecordForm& form, const FieldVisitor& visit,
                             size_t skip = 0, const OtherVisitor* others = nullptr);

// Reads a field-less enumeration value: its name as a JSON string, or an object whose single entry is the
// name with null as its value (or an empty object, when `empty_object_is_unit`). Returns the index of the
// name in `names`. Refusals: "unknown variant `<name>`, expected <names>" (the name is settled before the
// value beside it is looked at), "invalid value: map, expected map with a single key", "invalid type:
// <found>, expected unit" and, for every other JSON value, "invalid type: <found>, expected string or map".
ReadResult<size_t> read_unit_variant(const json::Value& value, std::span<const std::string_view> names,
                                     bool empty_object_is_unit = true);

// The reading of a variant identifier (a tag value): one of `names`, or a non-negative index below their
// count; "unknown variant ...", "invalid value: integer `<n>`, expected variant index 0 <= i < <count>" or
// "invalid type: <found>, expected variant identifier".
ReadResult<size_t> read_variant_identifier(const json::Value& tag, std::span<const std::string_view> names);

// Finds the variant of a tagged record: the value of `tag_key` in an object (anywhere in it), or the first
// element of an array. The tag is one of `names` or its index; the messages are those of missing,
// duplicate, unknown and out-of-range tags. Any other JSON value is "invalid type: ..., expected
// <expecting>".
ReadResult<size_t> read_tag(const json::Value& value, std::string_view tag_key,
                            std::span<const std::string_view> names, std::string_view expecting);

// ---- template definitions ----

std::string invalid_sequence_message(const json::Value& value);

template <class T, class F>
ReadResult<std::vector<T>> read_list(const json::Value& value, F&& read_element) {
  const json::Array* items = value.if_array();
  if (items == nullptr) return err(invalid_sequence_message(value));
  std::vector<T> out;
  out.reserve(items->size());
  for (const json::Value& item : *items) {
    ReadResult<T> element = read_element(item);
    if (!element.ok()) return err(std::move(element).error());
    out.push_back(std::move(element).value());
  }
  return out;
}

}  // namespace dravelin::json::record_read
