#include "runtime/value.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "json/number_format.h"
#include "json/reader.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace dravelin::runtime {
namespace {

struct KindInfo {
  std::string_view word;
  std::string_view variant;
};

constexpr std::array<KindInfo, kValueKindCount> kKinds = {{
    {"none", "None"},
    {"text", "Text"},
    {"number", "Number"},
    {"bool", "Bool"},
    {"list", "List"},
    {"record", "Record"},
    {"prob", "Prob"},
    {"choice", "Choice"},
    {"level", "Level"},
    {"handle", "Handle"},
    {"pause_result", "PauseResult"},
}};

bool has_children(const Value& value) {
  switch (value.kind()) {
    case ValueKind::List: return !value.as_list().empty();
    case ValueKind::Record: return !value.as_record().empty();
    case ValueKind::Choice: return value.as_choice().item.has_value();
    default: return false;
  }
}

}  // namespace

std::string_view type_word(ValueKind kind) { return kKinds[static_cast<size_t>(kind)].word; }

std::optional<ValueKind> value_kind_from_type_word(std::string_view word) {
  for (size_t i = 0; i < kKinds.size(); ++i) {
    if (kKinds[i].word == word) return static_cast<ValueKind>(i);
  }
  return std::nullopt;
}

std::string_view value_kind_variant(ValueKind kind) { return kKinds[static_cast<size_t>(kind)].variant; }

// ---- records ----

OptionalValue::OptionalValue(Value value) : p_(std::make_unique<Value>(std::move(value))) {}

OptionalValue::OptionalValue(const OptionalValue& other)
    : p_(other.p_ ? std::make_unique<Value>(*other.p_) : nullptr) {}

OptionalValue::OptionalValue(OptionalValue&& other) noexcept = default;

OptionalValue& OptionalValue::operator=(const OptionalValue& other) {
  if (this != &other) {
    OptionalValue copy(other);
    p_.swap(copy.p_);
  }
  return *this;
}

OptionalValue& OptionalValue::operator=(OptionalValue&& other) noexcept {
  // Released before the old value goes: `other` may live inside it.
  std::unique_ptr<Value> taken = std::move(other.p_);
  p_.swap(taken);
  return *this;
}

OptionalValue::~OptionalValue() = default;

void OptionalValue::reset() noexcept { p_.reset(); }

bool operator==(const OptionalValue& a, const OptionalValue& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a.has_value() || *a == *b;
}

bool operator==(const Choice& a, const Choice& b) {
  return a.label == b.label && a.confidence == b.confidence && a.probabilities == b.probabilities &&
         a.index == b.index && a.item == b.item;
}

bool operator==(const Level& a, const Level& b) {
  return a.level == b.level && a.score == b.score && a.normalized == b.normalized &&
         a.confidence == b.confidence && a.probabilities == b.probabilities && a.names == b.names;
}

bool operator==(const Handle& a, const Handle& b) {
  return a.capability == b.capability && a.id == b.id && a.fields == b.fields;
}

bool operator==(const PauseResult& a, const PauseResult& b) { return a.answer == b.answer && a.text == b.text; }

// ---- lifetime ----

void Value::swap(Value& other) noexcept {
  payload_.swap(other.payload_);
  std::swap(measure_, other.measure_);
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    swap(copy);
  }
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    // Detach `other` first: it may be part of the tree this value is about to drop. The old tree then goes
    // away with `detached`, through the non-recursive destructor.
    Value detached(std::move(other));
    swap(detached);
  }
  return *this;
}

void Value::drop_children() {
  if (!has_deep_children()) return;
  // Flatten the tree onto a work list, so that every value dropped below has only leaves left.
  std::vector<Value> pending;
  detach_deep_children(pending);
  while (!pending.empty()) {
    Value next = std::move(pending.back());
    pending.pop_back();
    next.detach_deep_children(pending);
  }
}

bool Value::has_deep_children() const {
  switch (kind()) {
    case ValueKind::List:
      for (const Value& item : as_list()) {
        if (has_children(item)) return true;
      }
      return false;
    case ValueKind::Record:
      for (const auto& entry : as_record()) {
        if (has_children(entry.second)) return true;
      }
      return false;
    case ValueKind::Choice: {
      const Value* item = as_choice().item.get();
      return item != nullptr && has_children(*item);
    }
    default: return false;
  }
}

void Value::detach_deep_children(std::vector<Value>& out) {
  switch (kind()) {
    case ValueKind::List:
      for (Value& item : as_list()) {
        if (has_children(item)) out.push_back(std::move(item));
      }
      break;
    case ValueKind::Record:
      for (auto& entry : as_record()) {
        if (has_children(entry.second)) out.push_back(std::move(entry.second));
      }
      break;
    case ValueKind::Choice: {
      Choice& choice = as_choice();
      if (choice.item && has_children(*choice.item)) {
        out.push_back(std::move(*choice.item));
        choice.item.reset();
      }
      break;
    }
    default: break;
  }
}

// ---- access ----

std::optional<double> Value::if_number() const {
  if (const double* n = if_kind<ValueKind::Number>()) return *n;
  return std::nullopt;
}

std::optional<bool> Value::if_bool() const {
  if (const bool* b = if_kind<ValueKind::Bool>()) return *b;
  return std::nullopt;
}

std::optional<double> Value::if_prob() const {
  if (const double* p = if_kind<ValueKind::Prob>()) return *p;
  return std::nullopt;
}

std::optional<double> Value::if_numeric() const {
  if (const double* n = if_kind<ValueKind::Number>()) return *n;
  return if_prob();
}

// ---- text form ----

void append_number_text(std::string& out, double value) {
  // The shortest digits placed positionally: whole numbers come out without a point, at any magnitude,
  // which also covers the integer form of whole numbers below 1e15.
  json::append_plain_decimal(out, value);
}

std::string number_text(double value) {
  std::string out;
  append_number_text(out, value);
  return out;
}

void Value::append_text(std::string& out) const {
  switch (kind()) {
    case ValueKind::None: return;
    case ValueKind::Text: out += as_text(); return;
    case ValueKind::Number: append_number_text(out, as_number()); return;
    case ValueKind::Prob: append_number_text(out, as_prob()); return;
    case ValueKind::Bool: out += as_bool() ? "true" : "false"; return;
    case ValueKind::Choice: out += as_choice().label; return;
    case ValueKind::Level: json::append_u64(out, as_level().level); return;
    case ValueKind::List:
    case ValueKind::Record:
    case ValueKind::Handle:
    case ValueKind::PauseResult: json::write_value(out, to_plain_json(*this)); return;
  }
}

std::string Value::to_text() const {
  std::string out;
  append_text(out);
  return out;
}

// ---- equality ----

bool Value::loosely_equals(const Value& other) const {
  if (const auto a = if_numeric()) {
    if (const auto b = other.if_numeric()) return *a == *b;
    return false;
  }
  if (const List* a = if_list()) {
    const List* b = other.if_list();
    if (b == nullptr || a->size() != b->size()) return false;
    for (size_t i = 0; i < a->size(); ++i) {
      if (!(*a)[i].loosely_equals((*b)[i])) return false;
    }
    return true;
  }
  if (const Record* a = if_record()) {
    const Record* b = other.if_record();
    if (b == nullptr || a->size() != b->size()) return false;
    for (const auto& [key, item] : *a) {
      const auto found = b->find(key);
      if (found == b->end() || !item.loosely_equals(found->second)) return false;
    }
    return true;
  }
  return *this == other;
}

bool operator==(const Value& a, const Value& b) { return a.payload_ == b.payload_; }

// ---- errors ----

RuntimeError expected_type_error(std::string_view what, const Value& value) {
  std::string message = "expected ";
  message += what;
  message += ", got ";
  message += value.type_word();
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message));
}

// ---- debug rendering ----

namespace {

void append_quoted(std::string& out, std::string_view text) {
  // The reader's description of a string is `string "<escaped>"`: the quoted part is the debug form.
  constexpr std::string_view prefix = "string ";
  out += std::string_view(json::describe_string(text)).substr(prefix.size());
}

void append_float(std::string& out, double value) {
  if (std::isfinite(value)) {
    json::append_record_float(out, value);
  } else {
    json::append_plain_decimal(out, value);
  }
}

void append_probabilities(std::string& out, const ProbabilityMap& probabilities) {
  out += '{';
  bool first = true;
  for (const auto& [label, p] : probabilities) {
    if (!first) out += ", ";
    first = false;
    append_quoted(out, label);
    out += ": ";
    append_float(out, p);
  }
  out += '}';
}

void append_debug(std::string& out, const Value& value) {
  out += value_kind_variant(value.kind());
  switch (value.kind()) {
    case ValueKind::None: return;
    case ValueKind::Text: out += '('; append_quoted(out, value.as_text()); break;
    case ValueKind::Number: out += '('; append_float(out, value.as_number()); break;
    case ValueKind::Prob: out += '('; append_float(out, value.as_prob()); break;
    case ValueKind::Bool: out += value.as_bool() ? "(true" : "(false"; break;
    case ValueKind::List: {
      out += "([";
      bool first = true;
      for (const Value& item : value.as_list()) {
        if (!first) out += ", ";
        first = false;
        append_debug(out, item);
      }
      out += ']';
      break;
    }
    case ValueKind::Record: {
      out += "({";
      bool first = true;
      for (const auto& [key, item] : value.as_record()) {
        if (!first) out += ", ";
        first = false;
        append_quoted(out, key);
        out += ": ";
        append_debug(out, item);
      }
      out += '}';
      break;
    }
    case ValueKind::Choice: {
      const Choice& c = value.as_choice();
      out += "(Choice { label: ";
      append_quoted(out, c.label);
      out += ", confidence: ";
      append_float(out, c.confidence);
      out += ", probabilities: ";
      append_probabilities(out, c.probabilities);
      out += ", index: ";
      if (c.index) {
        out += "Some(";
        json::append_u64(out, *c.index);
        out += ')';
      } else {
        out += "None";
      }
      out += ", item: ";
      if (const Value* item = c.item.get()) {
        out += "Some(";
        append_debug(out, *item);
        out += ')';
      } else {
        out += "None";
      }
      out += " }";
      break;
    }
    case ValueKind::Level: {
      const Level& l = value.as_level();
      out += "(Level { level: ";
      json::append_u64(out, l.level);
      out += ", score: ";
      append_float(out, l.score);
      out += ", normalized: ";
      append_float(out, l.normalized);
      out += ", confidence: ";
      append_float(out, l.confidence);
      out += ", probabilities: ";
      append_probabilities(out, l.probabilities);
      out += ", names: [";
      for (size_t i = 0; i < l.names.size(); ++i) {
        if (i) out += ", ";
        append_quoted(out, l.names[i]);
      }
      out += "] }";
      break;
    }
    case ValueKind::Handle: {
      const Handle& h = value.as_handle();
      out += "(Handle { capability: ";
      append_quoted(out, h.capability);
      out += ", id: ";
      append_quoted(out, h.id);
      out += ", fields: {";
      bool first = true;
      for (const auto& [key, field] : h.fields) {
        if (!first) out += ", ";
        first = false;
        append_quoted(out, key);
        out += ": ";
        json::write_value(out, field);
      }
      out += "} }";
      break;
    }
    case ValueKind::PauseResult: {
      const PauseResult& r = value.as_pause_result();
      out += "(PauseResult { answer: ";
      append_quoted(out, r.answer);
      out += ", text: ";
      if (r.text) {
        out += "Some(";
        append_quoted(out, *r.text);
        out += ')';
      } else {
        out += "None";
      }
      out += " }";
      break;
    }
  }
  out += ')';
}

}  // namespace

std::string debug_string(const Value& value) {
  std::string out;
  append_debug(out, value);
  return out;
}

std::ostream& operator<<(std::ostream& out, const Value& value) { return out << debug_string(value); }

}  // namespace dravelin::runtime
