// How an IR type's JSON form is described: once per record, and both the writers and the reader are driven from
// that description, so that a field added is added in one place and the two cannot drift apart.
//
// A record's form is `Form<T>`: its expecting text (the words that name it in a reader's errors) and its fields
// in declared order, each a key, the member it holds and when the writer leaves it out:
//   - `always`: written whatever it holds; the reader requires the key;
//   - `when_present`: an optional, omitted when absent (never written as null); the reader takes a missing key
//     or null as absent;
//   - `when_nonempty`: a list, omitted when it has no items; the reader takes a missing key as the empty list
//     and refuses null like any other non-list.
// The value kind of a field follows from the member's type: texts, booleans, floats (the IR float form),
// unsigned 32-bit integers, unit enums (by name), lists, boxes, records (their own `Form`) and tagged unions.
//
// A tagged union is described by `UnionForm<U>` (its expecting text) together with `VariantNames<U>` of the IR
// model (tag key and variant names); each variant is a record with a `Form` of its own. A variant whose form
// names an `inline_record` (the `Expr` variant "judge") carries that record's entries in its own object.
//
// Private to the IR's JSON sources (json_forms.h holds the tables).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/box.h"
#include "ir/nodes.h"
#include "syntax/unit_enums.h"

namespace dravelin::ir::json_form {

enum class Presence : uint8_t { Always, WhenPresent, WhenNonempty };

template <class Owner, class Member>
struct Field {
  using owner_type = Owner;
  using member_type = Member;
  std::string_view key;
  Member Owner::*member;
  Presence presence;
};

template <class T>
inline constexpr bool is_optional_v = false;
template <class T>
inline constexpr bool is_optional_v<std::optional<T>> = true;

template <class T>
inline constexpr bool is_vector_v = false;
template <class T>
inline constexpr bool is_vector_v<std::vector<T>> = true;

template <class T>
inline constexpr bool is_box_v = false;
template <class T>
inline constexpr bool is_box_v<Box<T>> = true;

template <class Owner, class Member>
constexpr Field<Owner, Member> always(std::string_view key, Member Owner::*member) {
  static_assert(!is_optional_v<Member>, "an optional field is omitted when absent");
  return {key, member, Presence::Always};
}

template <class Owner, class Member>
constexpr Field<Owner, Member> when_present(std::string_view key, Member Owner::*member) {
  static_assert(is_optional_v<Member>, "only an optional can be absent");
  return {key, member, Presence::WhenPresent};
}

template <class Owner, class Member>
constexpr Field<Owner, Member> when_nonempty(std::string_view key, Member Owner::*member) {
  static_assert(is_vector_v<Member>, "only a list can be empty");
  return {key, member, Presence::WhenNonempty};
}

// The form of a record or of a union's variant: `expecting` and `fields` (a tuple of `Field`s), or, for a
// variant that wraps a whole record, `inline_record` (a member pointer to the boxed record).
template <class T>
struct Form;

// The form of a tagged union: its `expecting` text.
template <class U>
struct UnionForm;

template <class T>
concept TaggedUnion = requires { UnionForm<T>::expecting; VariantNames<T>::tag; };

template <class T>
concept InlineVariant = requires { Form<T>::inline_record; };

template <class T>
concept Described = requires { Form<T>::expecting; };

template <class T>
concept UnitEnum = std::is_enum_v<T> && requires { syntax::EnumNames<T>::count; };

template <class T>
constexpr size_t field_count() {
  return std::tuple_size_v<std::remove_cvref_t<decltype(Form<T>::fields)>>;
}

// The keys of a record in declared order.
template <class T, size_t... I>
constexpr auto keys_of(std::index_sequence<I...>) {
  return std::array<std::string_view, sizeof...(I)>{std::get<I>(Form<T>::fields).key...};
}
template <class T>
inline constexpr auto kKeys = keys_of<T>(std::make_index_sequence<field_count<T>()>());

// Which keys the reader requires (bit i for field i).
template <class T, size_t... I>
constexpr uint32_t required_of(std::index_sequence<I...>) {
  return ((std::get<I>(Form<T>::fields).presence == Presence::Always ? (uint32_t{1} << I) : 0u) | ... | 0u);
}
template <class T>
inline constexpr uint32_t kRequired = required_of<T>(std::make_index_sequence<field_count<T>()>());

}  // namespace dravelin::ir::json_form
