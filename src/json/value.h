// The JSON value model: null, boolean, three kinds of number, string, array and object.
//
// Numbers keep their kind: a number read from text without fraction or exponent is `UInt` when it is
// non-negative and fits 64 bits, `Int` when it is negative and fits 64 bits, and `Float` otherwise (so "-0"
// and "18446744073709551616" are floats, as is every number with a fraction or an exponent).
//
// Objects keep their entries in a vector, in the order they were added, duplicate keys included: the
// reader's tree keeps document order and repeated keys, and lookup returns the LAST occurrence (the value
// a map built from the same text would hold). Objects built in memory (value JSON, IR documents, record
// fields, the whole-text readers) are ordered maps: `Object::set` and `Object::operator[]` keep the
// entries in ascending byte order of their keys, a key that is the beginning of another sorting first
// ("a" < "ab" < "b"), and replace the value of a key that is already there.
//
// Equality (`operator==`) compares values as JSON data:
//   - kinds must agree, except that `Int` and `UInt` are one integer kind compared by mathematical value;
//     an integer never equals a float (1 != 1.0);
//   - floats compare with IEEE `==` (NaN differs from itself, -0.0 equals 0.0);
//   - arrays compare element by element;
//   - objects compare as maps: the same keys, each with an equal (last-occurring) value, whatever the entry
//     order and however often a key was repeated.
// `identical` is the strict structural comparison: same kinds (Int and UInt apart), floats bit for bit,
// objects entry by entry in order with duplicates. It is what a lossless round trip preserves.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace dravelin::json {

enum class Kind : uint8_t { Null, Bool, Int, UInt, Float, String, Array, Object };

// The word for a kind, as used in messages: "null", "boolean", "integer", "integer", "floating point",
// "string", "sequence", "map".
std::string_view kind_name(Kind kind);

class Value;
struct Member;

using Array = std::vector<Value>;

// An object: entries in insertion order (duplicates allowed), or an ordered map when built with `set`.
class Object {
 public:
  using iterator = std::vector<Member>::iterator;
  using const_iterator = std::vector<Member>::const_iterator;

  Object() = default;
  Object(std::initializer_list<Member> members);  // ordered-map inserts, later keys replacing earlier ones

  size_t size() const;
  bool empty() const;
  void reserve(size_t n);
  void clear();

  // Entries in their stored order. Changing a key through a mutable iterator is allowed; the object then
  // re-checks its order on the next lookup.
  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;
  const std::vector<Member>& entries() const;
  std::vector<Member>& entries();
  std::vector<Member> take_entries() &&;

  // Lookup of the last entry with this key; nullptr when there is none.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const;
  // Number of entries with this key (2 or more only for parsed text with repeated keys).
  size_t count(std::string_view key) const;

  // Ordered-map insert: replaces the value of an existing key, else inserts the key at its place in byte
  // order. An object that is not yet an ordered map (parsed text, `append`) is first made one by
  // `sort_keys`. Returns the stored value.
  Value& set(std::string key, Value value);
  // Ordered-map access: the value of the key, inserted as null at its place when absent (see `set`).
  Value& operator[](std::string_view key);

  // Appends an entry at the end, keeping any earlier entry with the same key (document order).
  Value& append(std::string key, Value value);
  // Removes every entry with this key; returns how many were removed.
  size_t erase(std::string_view key);

  // Makes the object an ordered map: entries sorted by key bytes, a repeated key keeping its last value.
  void sort_keys();
  // True when the keys are strictly ascending (an ordered map without repeats).
  bool is_sorted_map() const;

  friend bool operator==(const Object& a, const Object& b);

 private:
  enum class Order : uint8_t { Unknown, Sorted, Unsorted };
  Order order() const;

  std::vector<Member> entries_;
  mutable Order order_ = Order::Sorted;  // empty is sorted
};

class Value {
 public:
  Value() noexcept : kind_(Kind::Null) { u_.i = 0; }
  Value(std::nullptr_t) noexcept : Value() {}
  Value(bool b) noexcept : kind_(Kind::Bool) { u_.b = b; }
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                          !std::is_same_v<T, char>, int> = 0>
  Value(T v) noexcept {
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Int;
      u_.i = static_cast<int64_t>(v);
    } else {
      kind_ = Kind::UInt;
      u_.u = static_cast<uint64_t>(v);
    }
  }
  Value(char) = delete;  // a character is no JSON value: write a string or an integer explicitly
  Value(double d) noexcept : kind_(Kind::Float) { u_.d = d; }
  Value(float f) noexcept : Value(static_cast<double>(f)) {}
  Value(std::string s) noexcept : kind_(Kind::String) { new (&u_.s) std::string(std::move(s)); }
  Value(std::string_view s) : Value(std::string(s)) {}
  Value(const char* s) : Value(std::string(s)) {}
  Value(Array a) noexcept : kind_(Kind::Array) { new (&u_.a) Array(std::move(a)); }
  Value(Object o) noexcept;

  Value(const Value& other);
  Value(Value&& other) noexcept;
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value() { destroy(); }

  static Value array() { return Value(Array{}); }
  static Value object();

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::Null; }
  bool is_bool() const { return kind_ == Kind::Bool; }
  bool is_int() const { return kind_ == Kind::Int; }      // signed integer kind
  bool is_uint() const { return kind_ == Kind::UInt; }    // unsigned integer kind
  bool is_integer() const { return kind_ == Kind::Int || kind_ == Kind::UInt; }
  bool is_float() const { return kind_ == Kind::Float; }
  bool is_number() const { return is_integer() || is_float(); }
  bool is_string() const { return kind_ == Kind::String; }
  bool is_array() const { return kind_ == Kind::Array; }
  bool is_object() const { return kind_ == Kind::Object; }

  // Unchecked access: the kind must match (asserted).
  bool as_bool() const { assert(is_bool()); return u_.b; }
  int64_t as_int() const { assert(is_int()); return u_.i; }
  uint64_t as_uint() const { assert(is_uint()); return u_.u; }
  double as_float() const { assert(is_float()); return u_.d; }
  const std::string& as_string() const& { assert(is_string()); return u_.s; }
  std::string& as_string() & { assert(is_string()); return u_.s; }
  std::string&& as_string() && { assert(is_string()); return std::move(u_.s); }
  const Array& as_array() const& { assert(is_array()); return u_.a; }
  Array& as_array() & { assert(is_array()); return u_.a; }
  Array&& as_array() && { assert(is_array()); return std::move(u_.a); }
  const Object& as_object() const& { assert(is_object()); return u_.o; }
  Object& as_object() & { assert(is_object()); return u_.o; }
  Object&& as_object() && { assert(is_object()); return std::move(u_.o); }

  // Checked access: nullptr when the kind differs.
  const std::string* if_string() const { return is_string() ? &u_.s : nullptr; }
  const Array* if_array() const { return is_array() ? &u_.a : nullptr; }
  Array* if_array() { return is_array() ? &u_.a : nullptr; }
  const Object* if_object() const { return is_object() ? &u_.o : nullptr; }
  Object* if_object() { return is_object() ? &u_.o : nullptr; }
  std::optional<bool> to_bool() const;
  // An integer of either kind that fits the target type; nullopt for floats and other kinds.
  std::optional<uint64_t> to_u64() const;
  std::optional<int64_t> to_i64() const;
  // Any number, integers converted to the nearest double; nullopt for other kinds.
  std::optional<double> to_f64() const;

  // Member lookup on an object (last occurrence); nullptr when this is no object or the key is absent.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);

  friend bool operator==(const Value& a, const Value& b);
  friend bool identical(const Value& a, const Value& b);

 private:
  void destroy() noexcept;
  void copy_from(const Value& other);
  void move_from(Value&& other) noexcept;

  Kind kind_;
  union U {
    U() {}
    ~U() {}
    bool b;
    int64_t i;
    uint64_t u;
    double d;
    std::string s;
    Array a;
    Object o;
  } u_;
};

bool identical(const Value& a, const Value& b);

// One object entry.
struct Member {
  std::string key;
  Value value;
};

// The number rule of the value JSON forms: a finite whole double of magnitude
// below 2^53 becomes an integer value (UInt when >= 0, negative zero included; Int when negative), any other
// finite double a float value, NaN and the infinities null.
Value json_number(double value);

// ---- inline definitions that need Member complete ----

inline Value::Value(Object o) noexcept : kind_(Kind::Object) { new (&u_.o) Object(std::move(o)); }
inline Value Value::object() { return Value(Object{}); }

inline Value::Value(const Value& other) : kind_(Kind::Null) { copy_from(other); }
inline Value::Value(Value&& other) noexcept : kind_(Kind::Null) { move_from(std::move(other)); }
inline Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value tmp(other);
    destroy();
    move_from(std::move(tmp));
  }
  return *this;
}
inline Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    // `other` may live inside this value's tree: detach it before this value is destroyed.
    Value tmp(std::move(other));
    destroy();
    move_from(std::move(tmp));
  }
  return *this;
}

inline void Value::destroy() noexcept {
  switch (kind_) {
    case Kind::String: u_.s.~basic_string(); break;
    case Kind::Array: u_.a.~Array(); break;
    case Kind::Object: u_.o.~Object(); break;
    default: break;
  }
  kind_ = Kind::Null;
}

inline void Value::move_from(Value&& other) noexcept {
  // Precondition: this is Null (destroyed).
  switch (other.kind_) {
    case Kind::String: new (&u_.s) std::string(std::move(other.u_.s)); break;
    case Kind::Array: new (&u_.a) Array(std::move(other.u_.a)); break;
    case Kind::Object: new (&u_.o) Object(std::move(other.u_.o)); break;
    case Kind::Bool: u_.b = other.u_.b; break;
    case Kind::Int: u_.i = other.u_.i; break;
    case Kind::UInt: u_.u = other.u_.u; break;
    case Kind::Float: u_.d = other.u_.d; break;
    case Kind::Null: break;
  }
  kind_ = other.kind_;
  other.destroy();
}

inline size_t Object::size() const { return entries_.size(); }
inline bool Object::empty() const { return entries_.empty(); }
inline void Object::reserve(size_t n) { entries_.reserve(n); }
inline Object::iterator Object::begin() { order_ = Order::Unknown; return entries_.begin(); }
inline Object::iterator Object::end() { order_ = Order::Unknown; return entries_.end(); }
inline Object::const_iterator Object::begin() const { return entries_.begin(); }
inline Object::const_iterator Object::end() const { return entries_.end(); }
inline const std::vector<Member>& Object::entries() const { return entries_; }
inline std::vector<Member>& Object::entries() { order_ = Order::Unknown; return entries_; }
inline std::vector<Member> Object::take_entries() && {
  order_ = Order::Sorted;
  return std::move(entries_);
}
inline bool Object::contains(std::string_view key) const { return find(key) != nullptr; }
inline Value* Object::find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Object*>(this)->find(key));
}

inline Value& Object::append(std::string key, Value value) {
  if (order_ == Order::Sorted && !entries_.empty() && !(std::string_view(entries_.back().key) < key)) {
    order_ = Order::Unsorted;
  }
  entries_.push_back(Member{std::move(key), std::move(value)});
  return entries_.back().value;
}

inline const Value* Value::find(std::string_view key) const {
  return is_object() ? u_.o.find(key) : nullptr;
}
inline Value* Value::find(std::string_view key) { return is_object() ? u_.o.find(key) : nullptr; }

inline bool operator!=(const Value& a, const Value& b) { return !(a == b); }
inline bool operator!=(const Object& a, const Object& b) { return !(a == b); }

}  // namespace dravelin::json
