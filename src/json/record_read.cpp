#include "json/record_read.h"

#include <limits>
#include <utility>

#include "json/number_format.h"
#include "json/reader.h"

namespace dravelin::json::record_read {

std::string invalid_sequence_message(const json::Value& value) {
  return json::invalid_type_message(value, "a sequence");
}

ReadResult<std::string> read_string(const json::Value& value) {
  if (const std::string* text = value.if_string()) return *text;
  return err(json::invalid_type_message(value, "a string"));
}

ReadResult<std::optional<std::string>> read_opt_string(const json::Value& value) {
  if (value.is_null()) return std::optional<std::string>();
  std::string text = TRY(read_string(value));
  return std::optional<std::string>(std::move(text));
}

ReadResult<std::vector<std::string>> read_string_list(const json::Value& value) {
  return read_list<std::string>(value, read_string);
}

ReadResult<double> read_f64(const json::Value& value) {
  if (std::optional<double> number = value.to_f64()) return *number;
  return err(json::invalid_type_message(value, "f64"));
}

ReadResult<std::optional<double>> read_opt_f64(const json::Value& value) {
  if (value.is_null()) return std::optional<double>();
  double number = TRY(read_f64(value));
  return std::optional<double>(number);
}

ReadResult<uint32_t> read_u32(const json::Value& value) {
  if (value.is_uint()) {
    if (value.as_uint() <= std::numeric_limits<uint32_t>::max()) return static_cast<uint32_t>(value.as_uint());
    return err(json::invalid_value_message(value, "u32"));
  }
  if (value.is_int()) return err(json::invalid_value_message(value, "u32"));
  return err(json::invalid_type_message(value, "u32"));
}

ReadResult<uint64_t> read_u64(const json::Value& value) {
  if (value.is_uint()) return value.as_uint();
  if (value.is_int()) return err(json::invalid_value_message(value, "u64"));
  return err(json::invalid_type_message(value, "u64"));
}

ReadResult<std::map<std::string, double>> read_f64_map(const json::Value& value) {
  const json::Object* object = value.if_object();
  if (object == nullptr) return err(json::invalid_type_message(value, "a map"));
  std::map<std::string, double> out;
  for (const json::Member& member : *object) {
    out[member.key] = TRY(read_f64(member.value));
  }
  return out;
}

namespace {

std::string invalid_length_message(size_t n, std::string_view expected) {
  std::string out = "invalid length ";
  json::append_u64(out, n);
  out += ", expected ";
  out += expected;
  return out;
}

std::string element_count(size_t count) {
  std::string out;
  json::append_u64(out, count);
  out += count == 1 ? " element" : " elements";
  return out;
}

ReadResult<Unit> read_object_fields(const json::Object& object, const RecordForm& form,
                                    const FieldVisitor& visit, const OtherVisitor* others) {
  std::vector<bool> seen(form.fields.size(), false);
  for (const json::Member& member : object) {
    size_t index = 0;
    while (index < form.fields.size() && form.fields[index].name != member.key) ++index;
    if (index == form.fields.size()) {
      if (others != nullptr) TRY((*others)(member));
      continue;
    }
    if (seen[index]) return err(json::duplicate_field_message(member.key));
    seen[index] = true;
    TRY(visit(index, member.value));
  }
  for (size_t index = 0; index < form.fields.size(); ++index) {
    if (form.fields[index].required && !seen[index]) {
      return err(json::missing_field_message(form.fields[index].name));
    }
  }
  return Unit{};
}

ReadResult<Unit> read_array_fields(const json::Array& items, const RecordForm& form, const FieldVisitor& visit,
                                   size_t skip) {
  const size_t given = items.size() > skip ? items.size() - skip : 0;
  const size_t count = form.fields.size();
  for (size_t index = 0; index < count; ++index) {
    if (index < given) {
      TRY(visit(index, items[skip + index]));
    } else if (form.fields[index].required) {
      std::string expected(form.expecting);
      expected += " with ";
      expected += element_count(count);
      return err(invalid_length_message(index, expected));
    }
  }
  if (given > count) {
    if (form.origin == Origin::Map) return err(invalid_length_message(items.size(), "fewer elements in array"));
    return err(invalid_length_message(given, element_count(count) + " in sequence"));
  }
  return Unit{};
}

}  // namespace

ReadResult<size_t> read_variant_identifier(const json::Value& tag, std::span<const std::string_view> names) {
  if (const std::string* text = tag.if_string()) {
    for (size_t index = 0; index < names.size(); ++index) {
      if (names[index] == *text) return index;
    }
    return err(json::unknown_variant_message(*text, std::vector<std::string_view>(names.begin(), names.end())));
  }
  if (tag.is_uint()) {
    if (tag.as_uint() < names.size()) return static_cast<size_t>(tag.as_uint());
    std::string expected = "variant index 0 <= i < ";
    json::append_u64(expected, names.size());
    return err(json::invalid_value_message(tag, expected));
  }
  return err(json::invalid_type_message(tag, "variant identifier"));
}

ReadResult<Unit> read_record(const json::Value& value, const RecordForm& form, const FieldVisitor& visit,
                             size_t skip, const OtherVisitor* others) {
  if (const json::Object* object = value.if_object()) {
    if (form.origin == Origin::Map && !object->is_sorted_map()) {
      json::Object reduced = *object;
      reduced.sort_keys();
      return read_object_fields(reduced, form, visit, others);
    }
    return read_object_fields(*object, form, visit, others);
  }
  if (const json::Array* items = value.if_array(); items != nullptr && form.positional) {
    return read_array_fields(*items, form, visit, skip);
  }
  return err(json::invalid_type_message(value, form.expecting));
}

ReadResult<size_t> read_unit_variant(const json::Value& value, std::span<const std::string_view> names,
                                     bool empty_object_is_unit) {
  const std::string* name = value.if_string();
  const json::Value* content = nullptr;
  if (const json::Object* object = value.if_object()) {
    if (object->size() != 1) return err(json::invalid_value_message(value, "map with a single key"));
    name = &object->entries().front().key;
    content = &object->entries().front().value;
  }
  if (name == nullptr) return err(json::invalid_type_message(value, "string or map"));
  size_t index = 0;
  while (index < names.size() && names[index] != *name) ++index;
  if (index == names.size()) {
    return err(json::unknown_variant_message(*name, std::vector<std::string_view>(names.begin(), names.end())));
  }
  // A unit variant carries no data: only the unit forms may stand beside its name.
  if (content != nullptr && !content->is_null() &&
      !(empty_object_is_unit && content->is_object() && content->as_object().empty())) {
    return err(json::invalid_type_message(*content, "unit"));
  }
  return index;
}

ReadResult<size_t> read_tag(const json::Value& value, std::string_view tag_key,
                            std::span<const std::string_view> names, std::string_view expecting) {
  if (const json::Object* object = value.if_object()) {
    // The tag is decided before any field is read, wherever it stands in the object.
    std::optional<size_t> variant;
    for (const json::Member& member : *object) {
      if (member.key != tag_key) continue;
      if (variant) return err(json::duplicate_field_message(tag_key));
      variant = TRY(read_variant_identifier(member.value, names));
    }
    if (!variant) return err(json::missing_field_message(tag_key));
    return *variant;
  }
  if (const json::Array* items = value.if_array()) {
    if (items->empty()) return err(json::missing_field_message(tag_key));
    return read_variant_identifier(items->front(), names);
  }
  return err(json::invalid_type_message(value, expecting));
}

}  // namespace dravelin::json::record_read
