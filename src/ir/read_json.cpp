// The IR's JSON reader, driven by the same forms as the writers (json_forms.h).
//
// Every value is read into a default-constructed place of its owner (a list slot, a variant alternative, a boxed
// node's allocation), so no node is built on the stack and copied: each level of nesting costs a few small
// frames (the union dispatch, the record's fields, the field), which keeps the walk within a thread's stack at
// JSON depths well beyond what the compiler produces. Errors go into one message; functions return false.
#include "ir/read_json.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "ir/json_forms.h"
#include "json/number_format.h"
#include "json/reader.h"

namespace dravelin::ir {

namespace {

using namespace json_form;
using json::Value;

// A list's first allocation follows the array's length only this far: the length is untrusted, and elements
// that do read grow the list as they come.
constexpr size_t kListReserveCap = 1024;

bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

// Found floats are described in the IR float form, as the document writes them.
bool fail_type(std::string& error, const Value& found, std::string_view expected) {
  return fail(error, json::invalid_type_message(found, expected, json::FloatStyle::Ir));
}

bool fail_value(std::string& error, const Value& found, std::string_view expected) {
  return fail(error, json::invalid_value_message(found, expected, json::FloatStyle::Ir));
}

std::string invalid_length(size_t n, std::string_view expected_start, size_t count, std::string_view tail) {
  std::string out = "invalid length ";
  json::append_u64(out, n);
  out += ", expected ";
  out += expected_start;
  json::append_u64(out, count);
  out += count == 1 ? " element" : " elements";
  out += tail;
  return out;
}

// An array that stops at required position `position` of a record of `count` keys.
bool fail_short(std::string& error, size_t position, std::string_view expecting, size_t count) {
  std::string start(expecting);
  start += " with ";
  return fail(error, invalid_length(position, start, count, ""));
}

// An array of `length` elements for a record of `count` keys.
bool fail_long(std::string& error, size_t length, size_t count) {
  return fail(error, invalid_length(length, "", count, " in sequence"));
}

// A tag value: a variant name, or a position below the number of variants.
bool read_variant_identifier(const Value& tag, std::span<const std::string_view> names, size_t& variant,
                             std::string& error) {
  if (const std::string* text = tag.if_string()) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == *text) {
        variant = i;
        return true;
      }
    }
    return fail(error, json::unknown_variant_message(*text, {names.begin(), names.end()}));
  }
  if (tag.is_uint()) {
    if (tag.as_uint() < names.size()) {
      variant = static_cast<size_t>(tag.as_uint());
      return true;
    }
    std::string expected = "variant index 0 <= i < ";
    json::append_u64(expected, names.size());
    return fail_value(error, tag, expected);
  }
  return fail_type(error, tag, "variant identifier");
}

// A unit enum: its name, or an object whose one key is the name and whose value is null or {}. The shape of the
// value is settled first, then the name, then the payload.
bool read_unit_enum_index(const Value& value, std::span<const std::string_view> names, size_t& index,
                          std::string& error) {
  std::string_view name;
  const Value* payload = nullptr;
  if (const std::string* text = value.if_string()) {
    name = *text;
  } else if (const json::Object* object = value.if_object()) {
    if (object->size() != 1) return fail_value(error, value, "map with a single key");
    name = object->entries().front().key;
    payload = &object->entries().front().value;
  } else {
    return fail_type(error, value, "string or map");
  }
  size_t i = 0;
  while (i < names.size() && names[i] != name) ++i;
  if (i == names.size()) return fail(error, json::unknown_variant_message(name, {names.begin(), names.end()}));
  if (payload != nullptr && !payload->is_null() && !(payload->is_object() && payload->as_object().empty())) {
    return fail_type(error, *payload, "unit");
  }
  index = i;
  return true;
}

bool read_scalar(const Value& value, std::string& out, std::string& error) {
  const std::string* text = value.if_string();
  if (text == nullptr) return fail_type(error, value, "a string");
  out = *text;
  return true;
}

bool read_scalar(const Value& value, bool& out, std::string& error) {
  if (!value.is_bool()) return fail_type(error, value, "a boolean");
  out = value.as_bool();
  return true;
}

// Any number; integers are converted to the nearest double.
bool read_scalar(const Value& value, double& out, std::string& error) {
  std::optional<double> number = value.to_f64();
  if (!number) return fail_type(error, value, "f64");
  out = *number;
  return true;
}

bool read_scalar(const Value& value, uint32_t& out, std::string& error) {
  if (value.is_uint() && value.as_uint() <= std::numeric_limits<uint32_t>::max()) {
    out = static_cast<uint32_t>(value.as_uint());
    return true;
  }
  if (value.is_integer()) return fail_value(error, value, "u32");
  return fail_type(error, value, "u32");
}

template <class T>
bool read_value(const Value& value, T& out, std::string& error);

// ---- records ----

template <class T>
using FieldReader = bool (*)(const Value&, T&, std::string&);

// A field's value into its member: an optional one takes null as absent.
template <class T, size_t I>
bool read_field(const Value& value, T& out, std::string& error) {
  auto& member = out.*(std::get<I>(Form<T>::fields).member);
  if constexpr (is_optional_v<std::remove_cvref_t<decltype(member)>>) {
    if (value.is_null()) {
      member.reset();
      return true;
    }
    return read_value(value, member.emplace(), error);
  } else {
    return read_value(value, member, error);
  }
}

template <class T, size_t... I>
constexpr std::array<FieldReader<T>, sizeof...(I)> field_readers(std::index_sequence<I...>) {
  return {&read_field<T, I>...};
}

template <class T>
size_t field_index(std::string_view key) {
  constexpr auto& keys = kKeys<T>;
  size_t i = 0;
  while (i < keys.size() && keys[i] != key) ++i;
  return i;
}

// The fields of a record, or of a variant after its tag: an object whose `tag` entry (when the tag is not empty)
// was taken out already, or an array from element `skip` on.
template <class T>
[[gnu::noinline]] bool read_fields(const Value& value, size_t skip, std::string_view tag, T& out,
                                   std::string& error) {
  if constexpr (InlineVariant<T>) {
    return read_fields(value, skip, tag, *(out.*Form<T>::inline_record), error);
  } else {
    constexpr size_t count = field_count<T>();
    static_assert(count < 32, "the seen keys are kept in a word");
    static constexpr auto readers = field_readers<T>(std::make_index_sequence<count>());
    if (const json::Object* object = value.if_object()) {
      uint32_t seen = 0;
      for (const json::Member& member : *object) {
        if (!tag.empty() && member.key == tag) continue;
        const size_t i = field_index<T>(member.key);
        if (i == count) continue;
        const uint32_t bit = uint32_t{1} << i;
        if (seen & bit) return fail(error, json::duplicate_field_message(member.key));
        seen |= bit;
        if (!readers[i](member.value, out, error)) return false;
      }
      if (const uint32_t missing = kRequired<T> & ~seen) {
        return fail(error, json::missing_field_message(kKeys<T>[std::countr_zero(missing)]));
      }
      return true;
    }
    const json::Array& items = value.as_array();
    const size_t given = items.size() - skip;
    for (size_t i = 0; i < count; ++i) {
      if (i < given) {
        if (!readers[i](items[skip + i], out, error)) return false;
      } else if (kRequired<T> & (uint32_t{1} << i)) {
        return fail_short(error, i, Form<T>::expecting, count);
      }
    }
    if (given > count) return fail_long(error, given, count);
    return true;
  }
}

template <class T>
bool read_record(const Value& value, T& out, std::string& error) {
  if (!value.is_object() && !value.is_array()) return fail_type(error, value, Form<T>::expecting);
  return read_fields(value, 0, {}, out, error);
}

// ---- tagged unions ----

template <class U>
using VariantReader = bool (*)(const Value&, size_t, std::string_view, U&, std::string&);

template <class U, size_t I>
bool read_variant(const Value& value, size_t skip, std::string_view tag, U& out, std::string& error) {
  return read_fields(value, skip, tag, out.node.template emplace<I>(), error);
}

template <class U, size_t... I>
constexpr std::array<VariantReader<U>, sizeof...(I)> variant_readers(std::index_sequence<I...>) {
  return {&read_variant<U, I>...};
}

// The tag is settled first, wherever it stands in the object; the variant then reads the rest.
template <class U>
[[gnu::noinline]] bool read_union(const Value& value, U& out, std::string& error) {
  using Names = VariantNames<U>;
  static constexpr auto readers =
      variant_readers<U>(std::make_index_sequence<std::variant_size_v<typename U::Node>>());
  size_t variant = 0;
  if (const json::Object* object = value.if_object()) {
    bool found = false;
    for (const json::Member& member : *object) {
      if (member.key != Names::tag) continue;
      if (found) return fail(error, json::duplicate_field_message(Names::tag));
      found = true;
      if (!read_variant_identifier(member.value, Names::names, variant, error)) return false;
    }
    if (!found) return fail(error, json::missing_field_message(Names::tag));
    return readers[variant](value, 0, Names::tag, out, error);
  }
  if (const json::Array* items = value.if_array()) {
    if (items->empty()) return fail(error, json::missing_field_message(Names::tag));
    if (!read_variant_identifier(items->front(), Names::names, variant, error)) return false;
    return readers[variant](value, 1, {}, out, error);
  }
  return fail_type(error, value, UnionForm<U>::expecting);
}

// ---- lists and the dispatch by type ----

template <class T>
[[gnu::noinline]] bool read_list(const Value& value, std::vector<T>& out, std::string& error) {
  const json::Array* items = value.if_array();
  if (items == nullptr) return fail_type(error, value, "a sequence");
  out.reserve(std::min(items->size(), kListReserveCap));
  for (const Value& item : *items) {
    if (!read_value(item, out.emplace_back(), error)) return false;
  }
  return true;
}

template <class T>
bool read_value(const Value& value, T& out, std::string& error) {
  if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool> || std::is_same_v<T, double> ||
                std::is_same_v<T, uint32_t>) {
    return read_scalar(value, out, error);
  } else if constexpr (UnitEnum<T>) {
    size_t index = 0;
    if (!read_unit_enum_index(value, syntax::EnumNames<T>::names, index, error)) return false;
    out = static_cast<T>(index);
    return true;
  } else if constexpr (is_vector_v<T>) {
    return read_list(value, out, error);
  } else if constexpr (is_box_v<T>) {
    return read_value(value, *out, error);
  } else if constexpr (TaggedUnion<T>) {
    return read_union(value, out, error);
  } else {
    static_assert(Described<T>, "every IR type has a JSON form");
    return read_record(value, out, error);
  }
}

}  // namespace

template <class T>
ReadResult<T> read_json(const json::Value& value) {
  T out{};
  std::string error;
  if (!read_value(value, out, error)) return err(std::move(error));
  return out;
}

template <class E>
ReadResult<E> read_unit_enum_json(const json::Value& value) {
  static_assert(UnitEnum<E>);
  size_t index = 0;
  std::string error;
  if (!read_unit_enum_index(value, syntax::EnumNames<E>::names, index, error)) return err(std::move(error));
  return static_cast<E>(index);
}

ReadResult<Ir> read_ir_json(const json::Value& value) { return read_json<Ir>(value); }

ReadResult<Ir> read_ir_json_text(std::string_view text) {
  json::ReadOptions options;
  options.recursion_limit = kIrJsonNestingLimit;
  auto parsed = json::parse(text, options);
  if (!parsed.ok()) return err(parsed.error().text());
  return read_ir_json(*parsed);
}

#define DRAVELIN_IR_READ_JSON(T) template ReadResult<T> read_json<T>(const json::Value&);
DRAVELIN_IR_READ_JSON(Ir)
DRAVELIN_IR_READ_JSON(Span)
DRAVELIN_IR_READ_JSON(Pos)
DRAVELIN_IR_READ_JSON(Input)
DRAVELIN_IR_READ_JSON(Output)
DRAVELIN_IR_READ_JSON(Need)
DRAVELIN_IR_READ_JSON(ToolSignature)
DRAVELIN_IR_READ_JSON(Module)
DRAVELIN_IR_READ_JSON(NeedMapping)
DRAVELIN_IR_READ_JSON(Task)
DRAVELIN_IR_READ_JSON(Def)
DRAVELIN_IR_READ_JSON(DefParam)
DRAVELIN_IR_READ_JSON(Budget)
DRAVELIN_IR_READ_JSON(Thresholds)
DRAVELIN_IR_READ_JSON(NamedNumber)
DRAVELIN_IR_READ_JSON(Machine)
DRAVELIN_IR_READ_JSON(MachineState)
DRAVELIN_IR_READ_JSON(Transition)
DRAVELIN_IR_READ_JSON(Expr)
DRAVELIN_IR_READ_JSON(Stmt)
DRAVELIN_IR_READ_JSON(TextPart)
DRAVELIN_IR_READ_JSON(Arg)
DRAVELIN_IR_READ_JSON(RecordField)
DRAVELIN_IR_READ_JSON(Branch)
DRAVELIN_IR_READ_JSON(GateArm)
DRAVELIN_IR_READ_JSON(Judgment)
DRAVELIN_IR_READ_JSON(JudgmentResult)
DRAVELIN_IR_READ_JSON(JudgmentLog)
DRAVELIN_IR_READ_JSON(Judge)
DRAVELIN_IR_READ_JSON(Subject)
DRAVELIN_IR_READ_JSON(SubjectStep)
DRAVELIN_IR_READ_JSON(JudgeVerb)
DRAVELIN_IR_READ_JSON(PickLabel)
DRAVELIN_IR_READ_JSON(RateLevel)
DRAVELIN_IR_READ_JSON(Detail)
DRAVELIN_IR_READ_JSON(Shape)
DRAVELIN_IR_READ_JSON(FieldShape)
DRAVELIN_IR_READ_JSON(ShapeField)
DRAVELIN_IR_READ_JSON(ShapePolicy)
#undef DRAVELIN_IR_READ_JSON

template ReadResult<NeedKind> read_unit_enum_json<NeedKind>(const json::Value&);
template ReadResult<ToolReturnType> read_unit_enum_json<ToolReturnType>(const json::Value&);
template ReadResult<ShapeTypeName> read_unit_enum_json<ShapeTypeName>(const json::Value&);
template ReadResult<UnaryOp> read_unit_enum_json<UnaryOp>(const json::Value&);
template ReadResult<BinaryOp> read_unit_enum_json<BinaryOp>(const json::Value&);
template ReadResult<CallForm> read_unit_enum_json<CallForm>(const json::Value&);
template ReadResult<LogLevel> read_unit_enum_json<LogLevel>(const json::Value&);
template ReadResult<Verdict> read_unit_enum_json<Verdict>(const json::Value&);
template ReadResult<syntax::ast::BudgetKey> read_unit_enum_json<syntax::ast::BudgetKey>(const json::Value&);

}  // namespace dravelin::ir
