// The runtime value: what a Dravelin program computes, receives and hands back.
//
// Eleven kinds, in a fixed order (the order of the kinds, of their type words and of every table over
// them): none, text, number, bool, list, record, prob, choice, level, handle, pause_result. There are no
// integers: numbers and probs are doubles, and a prob is a different kind from a number with the same
// value (it is what a yes/no judgment returns; no range is enforced).
//
// Values have value semantics: a value owns its whole tree, copies are deep, nothing is shared and there
// are no cycles. Records, probability maps and handle fields are ordered by key bytes, never by insertion.
// Dropping a value never recurses with the depth of the tree, so a deeply nested value built by a loop
// cannot exhaust the stack when it goes away.
//
// Every value knows its size and depth (`value_size`, `value_depth`) in constant time: a list, record or
// special kind measures itself from its children's measures when it is made and keeps the result. Changing a
// payload in place (any non-const accessor) forgets it, and the next question measures again from the
// children. A value is used by one thread at a time.
//
// Two equalities:
//   - `operator==` is structural: same kind, equal payloads field by field, doubles by IEEE `==`. It is what
//     replay uses to know that the program asks for the same thing again.
//   - `loosely_equals` is the language's `==`: a number equals a prob of the same value, lists and records
//     compare their elements loosely, every other pair structurally.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "runtime/runtime_error.h"

namespace dravelin::runtime {

enum class ValueKind : uint8_t { None, Text, Number, Bool, List, Record, Prob, Choice, Level, Handle, PauseResult };
inline constexpr size_t kValueKindCount = 11;

// "none", "text", "number", "bool", "list", "record", "prob", "choice", "level", "handle", "pause_result".
std::string_view type_word(ValueKind kind);
// The kind with exactly this type word, if any.
std::optional<ValueKind> value_kind_from_type_word(std::string_view word);
// "None", "Text", ... "PauseResult": the names the debug rendering shows.
std::string_view value_kind_variant(ValueKind kind);

class Value;

using List = std::vector<Value>;
// Keys in ascending byte order (std::string compares its bytes as unsigned).
using Record = std::map<std::string, Value, std::less<>>;
using ProbabilityMap = std::map<std::string, double, std::less<>>;
// A handle's extra fields, kept as the JSON the host sent; written with every object's keys in byte order.
using JsonFields = std::map<std::string, json::Value, std::less<>>;

// An optional value held by pointer, so that a value can hold another value: copies are deep, and a
// moved-from slot is empty.
class OptionalValue {
 public:
  OptionalValue() noexcept = default;
  OptionalValue(std::nullopt_t) noexcept {}
  OptionalValue(Value value);
  OptionalValue(const OptionalValue& other);
  OptionalValue(OptionalValue&& other) noexcept;
  OptionalValue& operator=(const OptionalValue& other);
  OptionalValue& operator=(OptionalValue&& other) noexcept;
  ~OptionalValue();

  bool has_value() const { return p_ != nullptr; }
  explicit operator bool() const { return p_ != nullptr; }
  // nullptr when empty.
  const Value* get() const { return p_.get(); }
  Value* get() { return p_.get(); }
  // The slot must hold a value (asserted).
  const Value& operator*() const { assert(p_); return *p_; }
  Value& operator*() { assert(p_); return *p_; }
  const Value* operator->() const { assert(p_); return p_.get(); }
  Value* operator->() { assert(p_); return p_.get(); }
  void reset() noexcept;

  // Both empty, or both holding structurally equal values.
  friend bool operator==(const OptionalValue& a, const OptionalValue& b);

 private:
  std::unique_ptr<Value> p_;
};

// The result of a `pick` or `pick among` judgment.
struct Choice {
  std::string label;
  double confidence = 0;
  ProbabilityMap probabilities;
  // Set by `pick among` only: the position of the chosen element and a copy of it.
  std::optional<uint32_t> index;
  OptionalValue item;

  friend bool operator==(const Choice& a, const Choice& b);
};

// The result of a `rate` judgment.
struct Level {
  uint32_t level = 0;      // position of the chosen level, 0 for the lowest
  double score = 0;        // on the same scale as `level`
  double normalized = 0;   // score / (levels - 1); 0 with fewer than two levels
  double confidence = 0;
  ProbabilityMap probabilities;
  std::vector<std::string> names;  // level names from the lowest, when the question names them

  friend bool operator==(const Level& a, const Level& b);
};

// A running agent, as its capability's host returned it from `spawn`.
struct Handle {
  std::string capability;
  std::string id;
  JsonFields fields;

  friend bool operator==(const Handle& a, const Handle& b);
};

// What a confirm pause hands back to the program when it is resumed.
struct PauseResult {
  std::string answer;
  std::optional<std::string> text;

  friend bool operator==(const PauseResult& a, const PauseResult& b);
};

class Value {
  using Payload = std::variant<std::monostate, std::string, double, bool, List, Record, double, Choice, Level,
                               Handle, PauseResult>;
  template <ValueKind K>
  using PayloadOf = std::variant_alternative_t<static_cast<size_t>(K), Payload>;

  template <ValueKind K>
  static constexpr std::in_place_index_t<static_cast<size_t>(K)> in{};

  template <size_t I, class T>
  Value(std::in_place_index_t<I> index, T&& payload) : payload_(index, std::forward<T>(payload)) {}

  template <ValueKind K>
  const PayloadOf<K>* if_kind() const {
    return std::get_if<static_cast<size_t>(K)>(&payload_);
  }
  template <ValueKind K>
  PayloadOf<K>* if_kind() {
    measure_ = 0;  // the caller may change the payload
    return std::get_if<static_cast<size_t>(K)>(&payload_);
  }
  template <ValueKind K>
  const PayloadOf<K>& get() const {
    const PayloadOf<K>* p = if_kind<K>();
    assert(p != nullptr);
    return *p;
  }
  template <ValueKind K>
  PayloadOf<K>& get() {
    PayloadOf<K>* p = if_kind<K>();
    assert(p != nullptr);
    return *p;
  }

 public:
  // None.
  Value() noexcept = default;

  static Value none() { return Value(); }
  static Value text(std::string text) { return Value(in<ValueKind::Text>, std::move(text)); }
  static Value number(double number) { return Value(in<ValueKind::Number>, number); }
  static Value boolean(bool b) { return Value(in<ValueKind::Bool>, b); }
  static Value list(List items) { return Value(in<ValueKind::List>, std::move(items)).measured(); }
  static Value record(Record entries) { return Value(in<ValueKind::Record>, std::move(entries)).measured(); }
  static Value prob(double p) { return Value(in<ValueKind::Prob>, p); }
  static Value choice(Choice c) { return Value(in<ValueKind::Choice>, std::move(c)).measured(); }
  static Value level(Level l) { return Value(in<ValueKind::Level>, std::move(l)).measured(); }
  static Value handle(Handle h) { return Value(in<ValueKind::Handle>, std::move(h)).measured(); }
  static Value pause_result(PauseResult r) { return Value(in<ValueKind::PauseResult>, std::move(r)).measured(); }

  Value(const Value& other) = default;
  // The moved-from value keeps a valid (emptied) payload whose measure is no longer known.
  Value(Value&& other) noexcept : payload_(std::move(other.payload_)), measure_(other.measure_) { other.measure_ = 0; }
  Value& operator=(const Value& other);
  // Safe when `other` lives inside this value's own tree (`v = std::move(v.as_list()[0])`).
  Value& operator=(Value&& other) noexcept;
  // Only the kinds that hold values take the out-of-line path; dropping a scalar costs nothing more.
  ~Value() {
    const ValueKind k = kind();
    if (k == ValueKind::List || k == ValueKind::Record || k == ValueKind::Choice) drop_children();
  }

  ValueKind kind() const { return static_cast<ValueKind>(payload_.index()); }
  std::string_view type_word() const { return runtime::type_word(kind()); }

  bool is_none() const { return kind() == ValueKind::None; }
  bool is_text() const { return kind() == ValueKind::Text; }
  bool is_number() const { return kind() == ValueKind::Number; }
  bool is_bool() const { return kind() == ValueKind::Bool; }
  bool is_list() const { return kind() == ValueKind::List; }
  bool is_record() const { return kind() == ValueKind::Record; }
  bool is_prob() const { return kind() == ValueKind::Prob; }
  bool is_choice() const { return kind() == ValueKind::Choice; }
  bool is_level() const { return kind() == ValueKind::Level; }
  bool is_handle() const { return kind() == ValueKind::Handle; }
  bool is_pause_result() const { return kind() == ValueKind::PauseResult; }
  // A number or a prob: the kinds that arithmetic and comparisons accept.
  bool is_numeric() const { return is_number() || is_prob(); }

  // Unchecked access: the kind must match (asserted).
  const std::string& as_text() const { return get<ValueKind::Text>(); }
  std::string& as_text() { return get<ValueKind::Text>(); }
  double as_number() const { return get<ValueKind::Number>(); }
  bool as_bool() const { return get<ValueKind::Bool>(); }
  const List& as_list() const { return get<ValueKind::List>(); }
  List& as_list() { return get<ValueKind::List>(); }
  const Record& as_record() const { return get<ValueKind::Record>(); }
  Record& as_record() { return get<ValueKind::Record>(); }
  double as_prob() const { return get<ValueKind::Prob>(); }
  const Choice& as_choice() const { return get<ValueKind::Choice>(); }
  Choice& as_choice() { return get<ValueKind::Choice>(); }
  const Level& as_level() const { return get<ValueKind::Level>(); }
  Level& as_level() { return get<ValueKind::Level>(); }
  const Handle& as_handle() const { return get<ValueKind::Handle>(); }
  Handle& as_handle() { return get<ValueKind::Handle>(); }
  const PauseResult& as_pause_result() const { return get<ValueKind::PauseResult>(); }
  PauseResult& as_pause_result() { return get<ValueKind::PauseResult>(); }

  // Checked access: nullptr (or nullopt) when the kind differs.
  const std::string* if_text() const { return if_kind<ValueKind::Text>(); }
  std::optional<double> if_number() const;
  std::optional<bool> if_bool() const;
  const List* if_list() const { return if_kind<ValueKind::List>(); }
  List* if_list() { return if_kind<ValueKind::List>(); }
  const Record* if_record() const { return if_kind<ValueKind::Record>(); }
  Record* if_record() { return if_kind<ValueKind::Record>(); }
  std::optional<double> if_prob() const;
  const Choice* if_choice() const { return if_kind<ValueKind::Choice>(); }
  const Level* if_level() const { return if_kind<ValueKind::Level>(); }
  const Handle* if_handle() const { return if_kind<ValueKind::Handle>(); }
  const PauseResult* if_pause_result() const { return if_kind<ValueKind::PauseResult>(); }
  // The double of a number or a prob.
  std::optional<double> if_numeric() const;

  // The text form: none is empty, a text itself, numbers and probs in the number text form, bools
  // "true"/"false", a choice its label, a level its position, and lists, records, handles and pause results
  // their compact plain JSON.
  std::string to_text() const;
  void append_text(std::string& out) const;

  // The language's `==`.
  bool loosely_equals(const Value& other) const;

  // The language's truthiness: none never; text, list and record when not empty; number and prob when not 0
  // (NaN counts as true); a bool itself; choice, level, handle and pause_result always. Defined with the
  // operators (operators.cpp).
  bool truthy() const;

  // Structural equality.
  friend bool operator==(const Value& a, const Value& b);

  // Inline: a list literal or a field assignment asks for the sizes of the scalars it holds.
  friend size_t value_size(const Value& value) {
    if (value.measure_ & kMeasured) return static_cast<uint32_t>(value.measure_);
    switch (value.kind()) {
      case ValueKind::None: return 4;
      case ValueKind::Bool: return 5;
      case ValueKind::Number: return kNumberBytes;
      case ValueKind::Text: return value.get<ValueKind::Text>().size();
      default: return value.unmeasured_size();
    }
  }
  friend size_t value_depth(const Value& value) {
    if (value.measure_ & kMeasured) return static_cast<uint16_t>(value.measure_ >> 32);
    switch (value.kind()) {
      case ValueKind::None:
      case ValueKind::Text:
      case ValueKind::Number:
      case ValueKind::Bool: return 0;
      default: return value.unmeasured_depth();
    }
  }
  friend class ListBuilder;
  friend class RecordBuilder;
  friend Result<Value, RuntimeError> concat_lists(const Value& left, const Value& right);
  friend Result<Unit, RuntimeError> set_field_at_path(Value& root, const std::vector<std::string>& path,
                                                      Value value);

 private:
  // Measures the payload of a list, record or special kind from its children and keeps the result
  // (value_bounds.cpp).
  void measure() const;
  void set_measure(size_t bytes, size_t depth) const;
  // The longest JSON text of a double ("-2.2250738585072014e-308"); NaN and the infinities are shorter (null).
  static constexpr size_t kNumberBytes = 24;
  // Probs (measured on the spot) and the payloads not measured since they last changed.
  size_t unmeasured_size() const;
  size_t unmeasured_depth() const;
  // The work of `set_field_at_path` at `path[step]` below this value (value_bounds.cpp).
  Result<int64_t, RuntimeError> set_below(const std::vector<std::string>& path, size_t step, Value& value,
                                          size_t root_bytes);
  Value measured() && {
    measure();
    return std::move(*this);
  }
  void swap(Value& other) noexcept;

  // Moves the children that have children of their own into `out`, so that dropping this value only
  // drops leaves and shallow containers.
  void detach_deep_children(std::vector<Value>& out);
  // Flattens the tree so that what the payload's own destructor drops has no grandchildren.
  void drop_children();
  bool has_deep_children() const;

  Payload payload_;
  // The measure of a list, record or special kind once known (scalars are measured on the spot): the size in
  // the low 32 bits, the depth in the 16 above them, and `kMeasured`; 0 while unknown. One word, so that moving
  // a value costs one more copy. Saturating: no value that a run may hold comes near either limit.
  static constexpr uint64_t kMeasured = uint64_t{1} << 63;
  mutable uint64_t measure_ = 0;
};

// How deeply a value may nest. Every level of its tagged JSON form counts: a list, a record, and the objects of
// the special kinds with theirs (a choice's probabilities and item, a level's probabilities, a handle's fields).
// Building a deeper list or record is a `type_error` (`nesting_error`), so that every walk over a value (copy,
// comparison, text and JSON forms) stays well within the stack, and every value a run can hold fits in a
// recording line and reads back from it (the recording reader's depth limit leaves room for this one).
inline constexpr size_t kMaxValueDepth = 400;

// How large a value may grow (`value_size`). Growing a text, list or record past it is a `type_error`
// (`size_error`), so that a loop that doubles a value stops with an error instead of exhausting memory. The
// tagged JSON of a value is at most six times its size plus two (escaping takes a text's byte to at most six),
// which keeps every value a run may hold, with room to spare, inside one recording line (64 MiB).
inline constexpr size_t kMaxValueBytes = size_t{8} << 20;

// The levels of the value's tagged JSON form: 0 for none, text, number and bool; one more than the deepest
// child for a list or record. Constant time.
size_t value_depth(const Value& value);
// The size of a value, in constant time: for a text its bytes; for any other value the length of its compact
// tagged JSON form with every text in it counted by its bytes and quotes (escapes left out) and every number
// as 24 bytes, its longest form.
size_t value_size(const Value& value);
// What a value takes as an element of a list or a field of a record: its size, and a text's quotes.
inline size_t element_size(const Value& value) { return value_size(value) + (value.is_text() ? 2 : 0); }
// "a value may nest at most 400 levels deep": a spanless, non-retryable `type_error`.
RuntimeError nesting_error();
// "a value may hold at most 8388608 bytes": a spanless, non-retryable `type_error`.
RuntimeError size_error();

// The number text form: a whole number of magnitude below 1e15 as an integer ("3", "-12", "-0"); any other
// finite number as the shortest digits that read back the same, positionally, never with an exponent
// ("0.1", "0.0000001", "1" and 21 zeros); "NaN", "inf", "-inf".
std::string number_text(double value);
void append_number_text(std::string& out, double value);

// The type error of a value of the wrong kind: code `type_error`, not retryable, empty span, message
// "expected <what>, got <type word>". `what` begins with an article: "a list to iterate".
RuntimeError expected_type_error(std::string_view what, const Value& value);

// A rendering for diagnostics that names the variants and the records' fields:
// `List([Text("a"), Number(1.0)])`, `Choice(Choice { label: "yes", ... })`.
std::string debug_string(const Value& value);
std::ostream& operator<<(std::ostream& out, const Value& value);

}  // namespace dravelin::runtime
