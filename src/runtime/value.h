// The runtime value: what a Dravelin program computes, receives and hands back.
//
// Eleven kinds, in a fixed order (the order of the kinds, of their type words and of every table over
// them): none, text, number, bool, list, record, prob, choice, level, handle, pause_result. There are no
// integers: numbers and probs are doubles, and a prob is a different kind from a number with the same
// value (it is what a yes/no judgment returns; no range is enforced).
//
// Values have value semantics: a value behaves as if it owned its whole tree, and nothing a program does with one
// value can be seen through another; there are no cycles. A copy costs O(1): the payload of a text, list, record
// or special kind lives in a counted node that copies share, and a value copies the node before it changes it
// (copy on write), so sharing is never observable. Numbers, probs, bools and none sit in the value itself.
// Records, probability maps and handle fields are ordered by key bytes, never by insertion. Dropping a value never
// recurses with the depth of the tree, so a deeply nested value built by a loop cannot exhaust the stack when it
// goes away.
//
// Every value knows its size and depth (`value_size`, `value_depth`) in constant time: a list, record or
// special kind measures itself from its children's measures when it is made and keeps the result in its node.
// Changing a payload in place (any non-const accessor) forgets it, and the next question measures again from the
// children. A value, and every value that shares its nodes, is used by one thread at a time: the counts are not
// atomic.
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

namespace value_detail {

// The heap part of a text, list, record or special value: its payload, how many values share it, and its
// measure once known. Values that share a node never change it; a value about to change a shared node copies it
// first (copy on write), so sharing is never observable.
struct Node {
  uint32_t refs = 1;
  // The measure of a list, record or special kind once known: the size in the low 32 bits, the depth in the 16
  // above them, and `kMeasured`; 0 while unknown. Saturating: no value that a run may hold comes near either limit.
  mutable uint64_t measure = 0;
};

template <class T>
struct NodeOf final : Node {
  template <class... A>
  explicit NodeOf(A&&... args) : payload(std::forward<A>(args)...) {}
  T payload;
};

template <ValueKind K>
struct PayloadOf;
template <>
struct PayloadOf<ValueKind::Text> {
  using type = std::string;
};
template <>
struct PayloadOf<ValueKind::List> {
  using type = List;
};
template <>
struct PayloadOf<ValueKind::Record> {
  using type = Record;
};
template <>
struct PayloadOf<ValueKind::Choice> {
  using type = Choice;
};
template <>
struct PayloadOf<ValueKind::Level> {
  using type = Level;
};
template <>
struct PayloadOf<ValueKind::Handle> {
  using type = Handle;
};
template <>
struct PayloadOf<ValueKind::PauseResult> {
  using type = PauseResult;
};

// The kinds whose payload lives in a node.
constexpr uint32_t kNodeKinds = (1u << static_cast<unsigned>(ValueKind::Text)) |
                                (1u << static_cast<unsigned>(ValueKind::List)) |
                                (1u << static_cast<unsigned>(ValueKind::Record)) |
                                (1u << static_cast<unsigned>(ValueKind::Choice)) |
                                (1u << static_cast<unsigned>(ValueKind::Level)) |
                                (1u << static_cast<unsigned>(ValueKind::Handle)) |
                                (1u << static_cast<unsigned>(ValueKind::PauseResult));
constexpr bool holds_node(ValueKind kind) { return (kNodeKinds >> static_cast<unsigned>(kind)) & 1u; }

// The payload a value of a node kind has without a node: what is left of it once it was moved from.
template <ValueKind K>
const typename PayloadOf<K>::type& empty_payload() {
  static const typename PayloadOf<K>::type empty{};
  return empty;
}

}  // namespace value_detail

// Sixteen bytes: the kind, and either the number or bool itself or a pointer to the shared node of every other
// kind. Copying a value costs one count; numbers, probs, bools and none allocate nothing.
class Value {
  template <ValueKind K>
  using PayloadOf = typename value_detail::PayloadOf<K>::type;
  template <ValueKind K>
  using NodeOf = value_detail::NodeOf<PayloadOf<K>>;

  template <ValueKind K, class T>
  static Value make(T&& payload) {
    Value out;
    out.kind_ = K;
    out.node_ = new NodeOf<K>(std::forward<T>(payload));
    return out;
  }

  template <ValueKind K>
  const PayloadOf<K>& payload() const {
    assert(kind_ == K);
    return node_ != nullptr ? static_cast<const NodeOf<K>*>(node_)->payload : value_detail::empty_payload<K>();
  }
  // The payload for changing: the node copied first when it is shared, and its measure forgotten (the caller may
  // change it).
  template <ValueKind K>
  PayloadOf<K>& mutable_payload() {
    assert(kind_ == K);
    if (node_ == nullptr || node_->refs != 1) unshare<K>();
    node_->measure = 0;
    return static_cast<NodeOf<K>*>(node_)->payload;
  }
  template <ValueKind K>
  [[gnu::noinline]] void unshare() {
    Node* copy = node_ != nullptr ? new NodeOf<K>(static_cast<const NodeOf<K>*>(node_)->payload) : new NodeOf<K>();
    release();
    node_ = copy;
  }
  template <ValueKind K>
  const PayloadOf<K>* if_kind() const {
    return kind_ == K ? &payload<K>() : nullptr;
  }
  template <ValueKind K>
  PayloadOf<K>* if_kind() {
    return kind_ == K ? &mutable_payload<K>() : nullptr;
  }

  using Node = value_detail::Node;

 public:
  // None.
  Value() noexcept : number_(0) {}

  static Value none() { return Value(); }
  static Value text(std::string text) { return make<ValueKind::Text>(std::move(text)); }
  static Value number(double number) { return Value(ValueKind::Number, number); }
  static Value boolean(bool b) {
    Value out;
    out.kind_ = ValueKind::Bool;
    out.bool_ = b;
    return out;
  }
  static Value list(List items) { return make<ValueKind::List>(std::move(items)).measured(); }
  static Value record(Record entries) { return make<ValueKind::Record>(std::move(entries)).measured(); }
  static Value prob(double p) { return Value(ValueKind::Prob, p); }
  static Value choice(Choice c) { return make<ValueKind::Choice>(std::move(c)).measured(); }
  static Value level(Level l) { return make<ValueKind::Level>(std::move(l)).measured(); }
  static Value handle(Handle h) { return make<ValueKind::Handle>(std::move(h)).measured(); }
  static Value pause_result(PauseResult r) { return make<ValueKind::PauseResult>(std::move(r)).measured(); }

  Value(const Value& other) noexcept : kind_(other.kind_), bits_(other.bits_) {
    if (value_detail::holds_node(kind_) && node_ != nullptr) ++node_->refs;
  }
  // The moved-from value keeps its kind with an empty payload (an empty text, list or record).
  Value(Value&& other) noexcept : kind_(other.kind_), bits_(other.bits_) {
    if (value_detail::holds_node(kind_)) other.node_ = nullptr;
  }
  Value& operator=(const Value& other) noexcept {
    Value copy(other);
    swap(copy);
    return *this;
  }
  // Safe when `other` lives inside this value's own tree (`v = std::move(v.as_list()[0])`): `other` is taken
  // before the old payload goes.
  Value& operator=(Value&& other) noexcept {
    Value taken(std::move(other));
    swap(taken);
    return *this;
  }
  // Dropping a payload that nests values never recurses with the depth of the tree (value.cpp).
  ~Value() { release(); }

  ValueKind kind() const { return kind_; }
  std::string_view type_word() const { return runtime::type_word(kind()); }

  bool is_none() const { return kind_ == ValueKind::None; }
  bool is_text() const { return kind_ == ValueKind::Text; }
  bool is_number() const { return kind_ == ValueKind::Number; }
  bool is_bool() const { return kind_ == ValueKind::Bool; }
  bool is_list() const { return kind_ == ValueKind::List; }
  bool is_record() const { return kind_ == ValueKind::Record; }
  bool is_prob() const { return kind_ == ValueKind::Prob; }
  bool is_choice() const { return kind_ == ValueKind::Choice; }
  bool is_level() const { return kind_ == ValueKind::Level; }
  bool is_handle() const { return kind_ == ValueKind::Handle; }
  bool is_pause_result() const { return kind_ == ValueKind::PauseResult; }
  // A number or a prob: the kinds that arithmetic and comparisons accept.
  bool is_numeric() const { return kind_ == ValueKind::Number || kind_ == ValueKind::Prob; }

  // Unchecked access: the kind must match (asserted). The non-const accessors give a payload of this value's
  // own, copied first when it is shared: read through a const value to read without copying.
  const std::string& as_text() const { return payload<ValueKind::Text>(); }
  std::string& as_text() { return mutable_payload<ValueKind::Text>(); }
  double as_number() const { assert(is_number()); return number_; }
  bool as_bool() const { assert(is_bool()); return bool_; }
  const List& as_list() const { return payload<ValueKind::List>(); }
  List& as_list() { return mutable_payload<ValueKind::List>(); }
  const Record& as_record() const { return payload<ValueKind::Record>(); }
  Record& as_record() { return mutable_payload<ValueKind::Record>(); }
  double as_prob() const { assert(is_prob()); return number_; }
  const Choice& as_choice() const { return payload<ValueKind::Choice>(); }
  Choice& as_choice() { return mutable_payload<ValueKind::Choice>(); }
  const Level& as_level() const { return payload<ValueKind::Level>(); }
  Level& as_level() { return mutable_payload<ValueKind::Level>(); }
  const Handle& as_handle() const { return payload<ValueKind::Handle>(); }
  Handle& as_handle() { return mutable_payload<ValueKind::Handle>(); }
  const PauseResult& as_pause_result() const { return payload<ValueKind::PauseResult>(); }
  PauseResult& as_pause_result() { return mutable_payload<ValueKind::PauseResult>(); }

  // Checked access: nullptr (or nullopt) when the kind differs.
  const std::string* if_text() const { return if_kind<ValueKind::Text>(); }
  std::optional<double> if_number() const {
    if (kind_ == ValueKind::Number) return number_;
    return std::nullopt;
  }
  std::optional<bool> if_bool() const {
    if (kind_ == ValueKind::Bool) return bool_;
    return std::nullopt;
  }
  const List* if_list() const { return if_kind<ValueKind::List>(); }
  List* if_list() { return if_kind<ValueKind::List>(); }
  const Record* if_record() const { return if_kind<ValueKind::Record>(); }
  Record* if_record() { return if_kind<ValueKind::Record>(); }
  std::optional<double> if_prob() const {
    if (kind_ == ValueKind::Prob) return number_;
    return std::nullopt;
  }
  const Choice* if_choice() const { return if_kind<ValueKind::Choice>(); }
  const Level* if_level() const { return if_kind<ValueKind::Level>(); }
  const Handle* if_handle() const { return if_kind<ValueKind::Handle>(); }
  const PauseResult* if_pause_result() const { return if_kind<ValueKind::PauseResult>(); }
  // The double of a number or a prob.
  std::optional<double> if_numeric() const {
    if (is_numeric()) return number_;
    return std::nullopt;
  }
  // The double of a number or a prob, unchecked (asserted).
  double numeric() const {
    assert(is_numeric());
    return number_;
  }

  // Whether this value shares its payload with another value: changing it then copies the payload first.
  bool shared() const { return value_detail::holds_node(kind_) && node_ != nullptr && node_->refs > 1; }

  // The text form: none is empty, a text itself, numbers and probs in the number text form, bools
  // "true"/"false", a choice its label, a level its position, and lists, records, handles and pause results
  // their compact plain JSON.
  std::string to_text() const;
  void append_text(std::string& out) const;

  // The language's `==`.
  bool loosely_equals(const Value& other) const;

  // The language's truthiness: none never; text, list and record when not empty; number and prob when not 0
  // (NaN counts as true); a bool itself; choice, level, handle and pause_result always. Bools and numbers are
  // answered inline; the rest with the operators (operators.cpp).
  bool truthy() const {
    if (kind_ == ValueKind::Bool) return bool_;
    // NaN != 0 holds, so NaN is truthy; -0 == 0, so negative zero is not.
    if (kind_ == ValueKind::Number) return number_ != 0;
    return payload_truthy();
  }

  // Structural equality.
  friend bool operator==(const Value& a, const Value& b);

  // Inline: a list literal or a field assignment asks for the sizes of the scalars it holds.
  friend size_t value_size(const Value& value) {
    switch (value.kind_) {
      case ValueKind::None: return 4;
      case ValueKind::Bool: return 5;
      case ValueKind::Number: return kNumberBytes;
      case ValueKind::Prob: return kProbBytes;
      case ValueKind::Text: return value.payload<ValueKind::Text>().size();
      default:
        if (value.node_ != nullptr && (value.node_->measure & kMeasured)) {
          return static_cast<uint32_t>(value.node_->measure);
        }
        return value.unmeasured_size();
    }
  }
  friend size_t value_depth(const Value& value) {
    switch (value.kind_) {
      case ValueKind::None:
      case ValueKind::Text:
      case ValueKind::Number:
      case ValueKind::Bool: return 0;
      case ValueKind::Prob: return 1;
      default:
        if (value.node_ != nullptr && (value.node_->measure & kMeasured)) {
          return static_cast<uint16_t>(value.node_->measure >> 32);
        }
        return value.unmeasured_depth();
    }
  }
  friend class ListBuilder;
  friend class RecordBuilder;
  friend Result<Value, RuntimeError> concat_lists(const Value& left, const Value& right);
  friend Result<Unit, RuntimeError> append_to_list(Value& list, const Value& right);
  friend Result<Unit, RuntimeError> set_field_at_path(Value& root, const std::vector<std::string>& path,
                                                      Value value);

 private:
  Value(ValueKind kind, double number) : kind_(kind), number_(number) {}

  bool payload_truthy() const;

  // Measures the payload of a list, record or special kind from its children and keeps the result in the node
  // (value_bounds.cpp); returns the measure's word.
  uint64_t measure() const;
  static uint64_t measure_word(size_t bytes, size_t depth);
  // The node must be there.
  void set_measure(size_t bytes, size_t depth) const;
  // The longest JSON text of a double ("-2.2250738585072014e-308"); NaN and the infinities are shorter (null).
  static constexpr size_t kNumberBytes = 24;
  // `{"$zem":"prob","value":` and `}` around the number.
  static constexpr size_t kProbBytes = 23 + kNumberBytes + 1;
  // The payloads not measured since they last changed.
  size_t unmeasured_size() const;
  size_t unmeasured_depth() const;
  // The work of `set_field_at_path` at `path[step]` below this value (value_bounds.cpp).
  Result<int64_t, RuntimeError> set_below(const std::vector<std::string>& path, size_t step, Value& value,
                                          size_t root_bytes);
  Value measured() && {
    measure();
    return std::move(*this);
  }
  void swap(Value& other) noexcept {
    std::swap(kind_, other.kind_);
    std::swap(bits_, other.bits_);
  }
  void release() noexcept {
    if (value_detail::holds_node(kind_) && node_ != nullptr && --node_->refs == 0) destroy(kind_, node_);
  }
  // Frees a node no value refers to any more, and with it the nodes only it held, without recursing with the
  // depth of the tree (value.cpp).
  static void destroy(ValueKind kind, Node* node) noexcept;

  static constexpr uint64_t kMeasured = uint64_t{1} << 63;

  ValueKind kind_ = ValueKind::None;
  union {
    double number_;
    bool bool_;
    Node* node_;
    uint64_t bits_;
  };
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
