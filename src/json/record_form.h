// One description per record: a record's fields are listed once, each with its key, its member, how it is
// written and whether reading requires it, and the record's compact writer, its value writer and its reader
// all follow from that list, so that a field added is added in one place and writer and reader cannot drift.
//
//   struct StepRecord { uint64_t step; std::string action; ... };
//   constexpr auto describe(std::type_identity<StepRecord>) {   // found by argument-dependent lookup
//     using namespace json::record_form;
//     return fields_of<StepRecord>("struct StepRecord", required("step", &StepRecord::step), ...);
//   }
//   write_record(step, writer);                       // {"step":3,"action":...}
//   ReadResult<StepRecord> r = read_record<StepRecord>(value);
//
// Keys are written in declared order. Reading follows the shared rules of record_read.h (any key order,
// unknown keys skipped, "missing field", "duplicate field", the array form by position); a description may
// refuse the array form (`objects_only`), read a value reduced to a map (`read_as_map`) or keep the members
// that are none of its fields (`keeping_other_members`).
//
// Every field's value goes through `Codec<T>`: this header has the codecs of texts, numbers, booleans,
// optionals, lists, maps keyed by text, JSON values, described records and records with JSON members of their
// own; a layer adds its own types by specialising `Codec` in this namespace. A codec writes one JSON value at the output's place through
// `json::Writer` (compact text) or `json::ValueBuilder` (the value form), and reads one from a parsed value.
// Equality is the records' own `operator==`, field by field.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/result.h"
#include "json/reader.h"
#include "json/record_read.h"
#include "json/value.h"
#include "json/writer.h"

namespace dravelin::json::record_form {

namespace rr = json::record_read;
template <class T>
using ReadResult = rr::ReadResult<T>;

enum class Presence : uint8_t {
  Required,   // always written; a missing key is "missing field"
  Defaulted,  // always written; a missing key reads as the member's default
  Omitted,    // written only when it is not its default (false, empty, absent); a missing key reads as that
};

// The codec of a field type; specialised below and by the layers that add types.
template <class T, class Enable = void>
struct Codec;

template <class Record, class T, class C>
struct FieldSpec {
  using record_type = Record;
  using value_type = T;
  using codec = C;
  std::string_view key;
  T Record::*member;
  Presence presence;
};

template <class C, class T>
using CodecOr = std::conditional_t<std::is_void_v<C>, Codec<T>, C>;

// A field; `C` names a codec other than the type's own (a text written as a different form, say).
template <class C = void, class R, class T>
constexpr FieldSpec<R, T, CodecOr<C, T>> required(std::string_view key, T R::*member) {
  return {key, member, Presence::Required};
}
template <class C = void, class R, class T>
constexpr FieldSpec<R, T, CodecOr<C, T>> defaulted(std::string_view key, T R::*member) {
  return {key, member, Presence::Defaulted};
}
template <class C = void, class R, class T>
constexpr FieldSpec<R, T, CodecOr<C, T>> omitted(std::string_view key, T R::*member) {
  return {key, member, Presence::Omitted};
}

// The entries of an object that are none of a record's fields, for a record that keeps them.
using OtherMembers = std::map<std::string, json::Value, std::less<>>;

template <class R, class... F>
struct Description {
  std::string_view expecting;  // "struct StepRecord": the reader's name for the record in its messages
  std::tuple<F...> fields;     // declared order
  bool positional = true;      // also read from an array of the values in declared order
  rr::Origin origin = rr::Origin::Text;
  // Where the record keeps every other member of its object (written after the fields, in key order);
  // without it other members are skipped.
  OtherMembers R::*others = nullptr;
};

template <class R, class... F>
constexpr Description<R, F...> fields_of(std::string_view expecting, F... fields) {
  static_assert((std::is_same_v<typename F::record_type, R> && ...), "every field must be a member of the record");
  return Description<R, F...>{expecting, std::tuple<F...>{fields...}};
}

// The same description with other reading rules.
template <class R, class... F>
constexpr Description<R, F...> objects_only(Description<R, F...> d) {
  d.positional = false;
  return d;
}
template <class R, class... F>
constexpr Description<R, F...> read_as_map(Description<R, F...> d) {
  d.origin = rr::Origin::Map;
  return d;
}
template <class R, class... F>
constexpr Description<R, F...> keeping_other_members(Description<R, F...> d, OtherMembers R::*others) {
  d.others = others;
  return d;
}

// A record is described when `describe(std::type_identity<R>)` is found for it.
template <class R>
concept Described = requires { describe(std::type_identity<R>{}); };

template <Described R>
inline constexpr auto kDescription = describe(std::type_identity<R>{});

namespace detail {

template <class T>
bool is_default(const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return !value;
  } else if constexpr (requires { value.has_value(); }) {
    return !value.has_value();
  } else if constexpr (requires { value.empty(); }) {
    return value.empty();
  } else {
    return value == T{};
  }
}

template <class Out, class F>
void write_field(const F& field, const typename F::record_type& record, Out& out) {
  const auto& value = record.*(field.member);
  if (field.presence == Presence::Omitted && is_default(value)) return;
  out.key(field.key);
  F::codec::write(out, value);
}

template <class Tuple>
constexpr auto field_table(const Tuple& fields) {
  return std::apply(
      [](const auto&... f) {
        return std::array<rr::Field, sizeof...(f)>{rr::Field{f.key, f.presence == Presence::Required}...};
      },
      fields);
}

template <class R, class Tuple, size_t... I>
ReadResult<Unit> read_field_at(const Tuple& fields, size_t index, const json::Value& value, R& out,
                               std::index_sequence<I...>) {
  ReadResult<Unit> result = Unit{};
  auto read_one = [&](const auto& field) {
    using F = std::decay_t<decltype(field)>;
    auto read = F::codec::read(value);
    if (!read.ok()) {
      result = err(std::move(read).error());
    } else {
      out.*(field.member) = std::move(read).value();
    }
  };
  (void)read_one;  // a record without fields has nothing to read
  (void)((index == I ? (read_one(std::get<I>(fields)), true) : false) || ...);
  return result;
}

}  // namespace detail

// The record's fields, by the description `d`, as entries of an object the caller has opened (a record written
// inline, after a tag).
template <class R, class... F, class Out>
void write_fields_with(const Description<R, F...>& d, const R& record, Out& out) {
  std::apply([&](const auto&... field) { (detail::write_field(field, record, out), ...); }, d.fields);
  if (d.others != nullptr) {
    for (const auto& [key, value] : record.*(d.others)) out.key(key).value(value);
  }
}

// Reads the fields of `value` by the description `d` into `out`, which holds the defaults of the fields that
// may be absent. `skip` and `others` as for `record_read::read_record`.
template <class R, class... F>
ReadResult<Unit> read_fields_with(const Description<R, F...>& d, const json::Value& value, R& out, size_t skip = 0,
                                  const rr::OtherVisitor* others = nullptr) {
  const auto table = detail::field_table(d.fields);
  const rr::RecordForm form{d.expecting, table, d.positional, d.origin};
  const rr::OtherVisitor keep = [&](const json::Member& entry) -> ReadResult<Unit> {
    (out.*(d.others)).insert_or_assign(entry.key, entry.value);
    return Unit{};
  };
  if (d.others != nullptr && others == nullptr) others = &keep;
  return rr::read_record(
      value, form,
      [&](size_t index, const json::Value& v) {
        return detail::read_field_at(d.fields, index, v, out, std::index_sequence_for<F...>{});
      },
      skip, others);
}

template <class R, class... F, class Out>
void write_record_with(const Description<R, F...>& d, const R& record, Out& out) {
  out.begin_object();
  write_fields_with(d, record, out);
  out.end_object();
}

template <class R, class... F>
ReadResult<R> read_record_with(const Description<R, F...>& d, const json::Value& value) {
  R out{};
  TRY(read_fields_with(d, value, out));
  return out;
}

// The same for a record with its own description.
template <Described R, class Out>
void write_fields(const R& record, Out& out) {
  write_fields_with(kDescription<R>, record, out);
}

template <Described R, class Out>
void write_record(const R& record, Out& out) {
  write_record_with(kDescription<R>, record, out);
}

template <Described R>
json::Value to_value(const R& record) {
  json::ValueBuilder builder;
  write_record(record, builder);
  return builder.take();
}

template <Described R>
ReadResult<Unit> read_fields_into(const json::Value& value, R& out, size_t skip = 0,
                                  const rr::OtherVisitor* others = nullptr) {
  return read_fields_with(kDescription<R>, value, out, skip, others);
}

template <Described R>
ReadResult<R> read_record(const json::Value& value) {
  return read_record_with(kDescription<R>, value);
}

// ---------------------------------------------------------------------------------------------------------------
// Codecs of the plain types.

template <>
struct Codec<std::string> {
  template <class Out>
  static void write(Out& out, const std::string& value) {
    out.string(value);
  }
  static ReadResult<std::string> read(const json::Value& value) { return rr::read_string(value); }
};

template <>
struct Codec<bool> {
  template <class Out>
  static void write(Out& out, bool value) {
    out.boolean(value);
  }
  static ReadResult<bool> read(const json::Value& value) {
    if (value.is_bool()) return value.as_bool();
    return err(json::invalid_type_message(value, "a boolean"));
  }
};

template <>
struct Codec<uint64_t> {
  template <class Out>
  static void write(Out& out, uint64_t value) {
    out.u64(value);
  }
  static ReadResult<uint64_t> read(const json::Value& value) { return rr::read_u64(value); }
};

template <>
struct Codec<uint32_t> {
  template <class Out>
  static void write(Out& out, uint32_t value) {
    out.u64(value);
  }
  static ReadResult<uint32_t> read(const json::Value& value) { return rr::read_u32(value); }
};

template <>
struct Codec<int32_t> {
  template <class Out>
  static void write(Out& out, int32_t value) {
    out.i64(value);
  }
  static ReadResult<int32_t> read(const json::Value& value) {
    if (value.is_integer()) {
      const std::optional<int64_t> number = value.to_i64();
      if (number && *number >= std::numeric_limits<int32_t>::min() &&
          *number <= std::numeric_limits<int32_t>::max()) {
        return static_cast<int32_t>(*number);
      }
      return err(json::invalid_value_message(value, "i32"));
    }
    return err(json::invalid_type_message(value, "i32"));
  }
};

// A 64-bit float: the writer's float form, null when not finite; any JSON number reads.
template <>
struct Codec<double> {
  template <class Out>
  static void write(Out& out, double value) {
    out.f64(value);
  }
  static ReadResult<double> read(const json::Value& value) { return rr::read_f64(value); }
};

// A JSON value, held and written unchanged.
template <>
struct Codec<json::Value> {
  template <class Out>
  static void write(Out& out, const json::Value& value) {
    out.value(value);
  }
  static ReadResult<json::Value> read(const json::Value& value) { return value; }
};

// Absent is null; null reads as absent.
template <class T>
struct Codec<std::optional<T>> {
  template <class Out>
  static void write(Out& out, const std::optional<T>& value) {
    if (value) {
      Codec<T>::write(out, *value);
    } else {
      out.null();
    }
  }
  static ReadResult<std::optional<T>> read(const json::Value& value) {
    if (value.is_null()) return std::optional<T>();
    T inner = TRY(Codec<T>::read(value));
    return std::optional<T>(std::move(inner));
  }
};

// An array in list order; "a sequence".
template <class T>
struct Codec<std::vector<T>> {
  template <class Out>
  static void write(Out& out, const std::vector<T>& items) {
    out.begin_array();
    for (const T& item : items) Codec<T>::write(out, item);
    out.end_array();
  }
  static ReadResult<std::vector<T>> read(const json::Value& value) {
    return rr::read_list<T>(value, [](const json::Value& item) { return Codec<T>::read(item); });
  }
};

// An object in the map's key order; "a map"; of a key given twice the later value stays.
template <class T, class Compare>
struct Codec<std::map<std::string, T, Compare>> {
  using Map = std::map<std::string, T, Compare>;
  template <class Out>
  static void write(Out& out, const Map& map) {
    out.begin_object();
    for (const auto& [key, value] : map) {
      out.key(key);
      Codec<T>::write(out, value);
    }
    out.end_object();
  }
  static ReadResult<Map> read(const json::Value& value) {
    const json::Object* object = value.if_object();
    if (object == nullptr) return err(json::invalid_type_message(value, "a map"));
    Map out;
    for (const json::Member& member : *object) {
      T item = TRY(Codec<T>::read(member.value));
      out.insert_or_assign(member.key, std::move(item));
    }
    return out;
  }
};

// A record with JSON members of its own (`write_json(json::Writer&)`, `to_json_value()` and a static
// `read_json(const json::Value&)`): a record whose writer and reader live with it.
template <class T>
concept HasJsonMembers = requires(const T& t, json::Writer& w, const json::Value& v) {
  t.write_json(w);
  { t.to_json_value() } -> std::same_as<json::Value>;
  T::read_json(v);
};

// Such a record is always written and read through its members, also where its description is in sight, so
// that every part of the program instantiates one and the same codec for it.
template <HasJsonMembers T>
struct Codec<T> {
  static void write(json::Writer& out, const T& value) { value.write_json(out); }
  static void write(json::ValueBuilder& out, const T& value) { out.value(value.to_json_value()); }
  static ReadResult<T> read(const json::Value& value) { return T::read_json(value); }
};

// A described record without members of its own: its object. Its description must be in sight wherever the
// codec is used (such records are described and used in one source file).
template <class R>
  requires(Described<R> && !HasJsonMembers<R>)
struct Codec<R> {
  template <class Out>
  static void write(Out& out, const R& value) {
    write_record(value, out);
  }
  static ReadResult<R> read(const json::Value& value) { return read_record<R>(value); }
};

// A field-less enumeration written as its name: `Names::names` lists them in the enum's order; read by
// `record_read::read_unit_variant` (`Names::empty_object_is_unit` says whether `{"name": {}}` reads too).
template <class E, class Names>
struct NamedEnumCodec {
  template <class Out>
  static void write(Out& out, E value) {
    out.string(Names::names[static_cast<size_t>(value)]);
  }
  static ReadResult<E> read(const json::Value& value) {
    const size_t index = TRY(rr::read_unit_variant(value, Names::names, Names::empty_object_is_unit));
    return static_cast<E>(index);
  }
};

}  // namespace dravelin::json::record_form
