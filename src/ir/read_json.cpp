// The IR's JSON reader, driven by the same forms as the writers (json_forms.h).
//
// Every value is read into a default-constructed place of its owner (a list slot, a variant alternative, a boxed
// node's allocation), so no node is built on the stack and copied: each level of nesting costs a few small
// frames (the union dispatch, the record's fields, the field), which keeps the walk within a thread's stack at
// JSON depths well beyond what the compiler produces. Errors go into one message; functions return false.
#include "ir/read_json.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
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

// The failures are built out of line, so that the frames of the recursive walk hold no message temporaries.
#define DRAVELIN_COLD [[gnu::noinline, gnu::cold]]

DRAVELIN_COLD bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

// Found floats are described in the IR float form, as the document writes them.
DRAVELIN_COLD bool fail_type(std::string& error, const Value& found, std::string_view expected) {
  return fail(error, json::invalid_type_message(found, expected, json::FloatStyle::Ir));
}

DRAVELIN_COLD bool fail_value(std::string& error, const Value& found, std::string_view expected) {
  return fail(error, json::invalid_value_message(found, expected, json::FloatStyle::Ir));
}

DRAVELIN_COLD bool fail_missing(std::string& error, std::string_view key) {
  return fail(error, json::missing_field_message(key));
}

DRAVELIN_COLD bool fail_duplicate(std::string& error, std::string_view key) {
  return fail(error, json::duplicate_field_message(key));
}

DRAVELIN_COLD bool fail_unknown_variant(std::string& error, std::string_view name,
                                        std::span<const std::string_view> names) {
  return fail(error, json::unknown_variant_message(name, {names.begin(), names.end()}));
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
DRAVELIN_COLD bool fail_short(std::string& error, size_t position, std::string_view expecting, size_t count) {
  std::string start(expecting);
  start += " with ";
  return fail(error, invalid_length(position, start, count, ""));
}

// An array of `length` elements for a record of `count` keys.
DRAVELIN_COLD bool fail_long(std::string& error, size_t length, size_t count) {
  return fail(error, invalid_length(length, "", count, " in sequence"));
}

// A tag value: a variant name, or a position below the number of variants.
[[gnu::noinline]] bool read_variant_identifier(const Value& tag, std::span<const std::string_view> names, size_t& variant,
                             std::string& error) {
  if (const std::string* text = tag.if_string()) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == *text) {
        variant = i;
        return true;
      }
    }
    return fail_unknown_variant(error, *text, names);
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
[[gnu::noinline]] bool read_unit_enum_index(const Value& value, std::span<const std::string_view> names, size_t& index,
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
  if (i == names.size()) return fail_unknown_variant(error, name, names);
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

// Keys are compared by hand, on plain pointers and sizes: under the sanitizers an inlined comparison of string
// objects would give the walk's frames addressable temporaries with red zones around each.
bool same_key(const char* a, size_t a_size, const char* b, size_t b_size) {
  return a_size == b_size && (a_size == 0 || std::memcmp(a, b, a_size) == 0);
}

// ---- records ----

// The reader of one field, given its record as `out`.
using FieldReader = bool (*)(const Value&, void* out, std::string&);

// What the walk over a record's fields needs of its form.
struct FieldsForm {
  std::string_view expecting;
  const std::string_view* keys;  // declared order
  const FieldReader* readers;    // one per key
  uint32_t count;
  uint32_t required;  // bit i: key i is required
};

// A field's value into its member: an optional one takes null as absent.
template <class T, size_t I>
bool read_field(const Value& value, void* record, std::string& error) {
  auto& member = static_cast<T*>(record)->*(std::get<I>(Form<T>::fields).member);
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
constexpr std::array<FieldReader, sizeof...(I)> field_readers(std::index_sequence<I...>) {
  return {&read_field<T, I>...};
}

template <class T>
struct FieldsFormOf {
  static constexpr size_t count = field_count<T>();
  static_assert(count < 32, "the seen keys are kept in a word");
  static constexpr auto readers = field_readers<T>(std::make_index_sequence<count>());
  static constexpr FieldsForm form{Form<T>::expecting, kKeys<T>.data(), readers.data(), count, kRequired<T>};
};

// The fields of a record from an object whose `tag` entries (when there is a tag) were read already. One walk
// serves every record, so the recursion passes through one small frame per record level. Strings are passed by
// pointer throughout the walk, for the same reason as `same_key`.
[[gnu::noinline]] bool read_object_fields(const json::Object& object, const std::string_view* tag,
                                          const FieldsForm& form, void* out, std::string& error) {
  uint32_t seen = 0;
  const json::Member* member = object.entries().data();
  const json::Member* const end = member + object.entries().size();
  for (; member != end; ++member) {
    const char* key = member->key.data();
    const size_t key_size = member->key.size();
    if (tag != nullptr && same_key(key, key_size, tag->data(), tag->size())) continue;
    uint32_t i = 0;
    while (i < form.count && !same_key(key, key_size, form.keys[i].data(), form.keys[i].size())) ++i;
    if (i == form.count) continue;
    const uint32_t bit = uint32_t{1} << i;
    if (seen & bit) return fail_duplicate(error, form.keys[i]);
    seen |= bit;
    if (!form.readers[i](member->value, out, error)) return false;
  }
  if (const uint32_t missing = form.required & ~seen) return fail_missing(error, form.keys[std::countr_zero(missing)]);
  return true;
}

// The fields of a record from an array, from element `skip` on: element i holds key i; a missing optional value
// at the end takes its absent or empty value.
[[gnu::noinline]] bool read_array_fields(const json::Array& items, size_t skip, const FieldsForm& form, void* out,
                                         std::string& error) {
  const size_t given = items.size() - skip;
  for (uint32_t i = 0; i < form.count; ++i) {
    if (i < given) {
      if (!form.readers[i](items[skip + i], out, error)) return false;
    } else if (form.required & (uint32_t{1} << i)) {
      return fail_short(error, i, form.expecting, form.count);
    }
  }
  if (given > form.count) return fail_long(error, given, form.count);
  return true;
}

// The fields of a record, or of a variant after its tag (`skip` and `tag` say where the tag stood).
bool read_fields(const Value& value, size_t skip, const std::string_view* tag, const FieldsForm& form, void* out,
                 std::string& error) {
  if (const json::Object* object = value.if_object()) return read_object_fields(*object, tag, form, out, error);
  return read_array_fields(value.as_array(), skip, form, out, error);
}

template <class T>
bool read_fields_of(const Value& value, size_t skip, const std::string_view* tag, T& out, std::string& error) {
  if constexpr (InlineVariant<T>) {
    return read_fields_of(value, skip, tag, *(out.*Form<T>::inline_record), error);
  } else {
    return read_fields(value, skip, tag, FieldsFormOf<T>::form, &out, error);
  }
}

template <class T>
bool read_record(const Value& value, T& out, std::string& error) {
  if (!value.is_object() && !value.is_array()) return fail_type(error, value, Form<T>::expecting);
  return read_fields_of(value, 0, nullptr, out, error);
}

// ---- tagged unions ----

template <class U>
using VariantReader = bool (*)(const Value&, size_t, const std::string_view*, U&, std::string&);

// Out of line, like `append_default`: what replacing a variant or growing a list takes stays off the walk's frames.
template <size_t I, class Node>
[[gnu::noinline]] std::variant_alternative_t<I, Node>& emplace_default(Node& node) {
  return node.template emplace<I>();
}

template <class U, size_t I>
bool read_variant(const Value& value, size_t skip, const std::string_view* tag, U& out, std::string& error) {
  return read_fields_of(value, skip, tag, emplace_default<I>(out.node), error);
}

template <class U, size_t... I>
constexpr std::array<VariantReader<U>, sizeof...(I)> variant_readers(std::index_sequence<I...>) {
  return {&read_variant<U, I>...};
}

// The tag of a union's value, settled before any field is read, wherever it stands in the object; `skip` is 1
// for the array form, whose first element is the tag.
[[gnu::noinline]] bool read_tag(const Value& value, std::string_view tag, std::span<const std::string_view> names,
                                std::string_view expecting, size_t& variant, size_t& skip, std::string& error) {
  if (const json::Object* object = value.if_object()) {
    bool found = false;
    for (const json::Member& member : *object) {
      if (!same_key(member.key.data(), member.key.size(), tag.data(), tag.size())) continue;
      if (found) return fail_duplicate(error, tag);
      found = true;
      if (!read_variant_identifier(member.value, names, variant, error)) return false;
    }
    if (!found) return fail_missing(error, tag);
    skip = 0;
    return true;
  }
  if (const json::Array* items = value.if_array()) {
    if (items->empty()) return fail_missing(error, tag);
    skip = 1;
    return read_variant_identifier(items->front(), names, variant, error);
  }
  return fail_type(error, value, expecting);
}

template <class U>
bool read_union(const Value& value, U& out, std::string& error) {
  using Names = VariantNames<U>;
  static constexpr auto readers =
      variant_readers<U>(std::make_index_sequence<std::variant_size_v<typename U::Node>>());
  size_t variant = 0;
  size_t skip = 0;
  if (!read_tag(value, Names::tag, Names::names, UnionForm<U>::expecting, variant, skip, error)) return false;
  return readers[variant](value, skip, skip == 0 ? &Names::tag : nullptr, out, error);
}

// ---- lists and the dispatch by type ----

template <class T>
[[gnu::noinline]] T& append_default(std::vector<T>& list) {
  return list.emplace_back();
}

template <class T>
bool read_list(const Value& value, std::vector<T>& out, std::string& error) {
  const json::Array* items = value.if_array();
  if (items == nullptr) return fail_type(error, value, "a sequence");
  out.reserve(items->size() < kListReserveCap ? items->size() : kListReserveCap);
  for (size_t i = 0; i < items->size(); ++i) {
    if (!read_value((*items)[i], append_default(out), error)) return false;
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

#undef DRAVELIN_COLD

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
  options.recursion_limit = kIrJsonNestingLimit + 1;  // the JSON reader refuses the level it is given
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
