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

namespace {

template <class T>
void delete_node(value_detail::Node* node) {
  delete static_cast<value_detail::NodeOf<T>*>(node);
}

void delete_node(ValueKind kind, value_detail::Node* node) {
  switch (kind) {
    case ValueKind::Text: delete_node<std::string>(node); return;
    case ValueKind::List: delete_node<List>(node); return;
    case ValueKind::Record: delete_node<Record>(node); return;
    case ValueKind::Choice: delete_node<Choice>(node); return;
    case ValueKind::Level: delete_node<Level>(node); return;
    case ValueKind::Handle: delete_node<Handle>(node); return;
    case ValueKind::PauseResult: delete_node<PauseResult>(node); return;
    default: return;
  }
}

// The kinds whose payload holds values.
bool nests(ValueKind kind) { return kind == ValueKind::List || kind == ValueKind::Record || kind == ValueKind::Choice; }

}  // namespace

// The nodes to free form a chain through their own (now unused) count and measure fields, so that freeing a tree
// of any depth or sharing takes neither recursion nor an allocation.
void Value::destroy(ValueKind kind, Node* node) noexcept {
  Node* chain = nullptr;
  const auto push = [&chain](ValueKind k, Node* n) {
    n->refs = static_cast<uint32_t>(k);
    n->measure = reinterpret_cast<uintptr_t>(chain);
    chain = n;
  };
  // A child that holds the last reference to its node gives the node up here: nested nodes join the chain,
  // others go at once (they hold no values).
  const auto detach = [&push](Value& child) {
    if (!value_detail::holds_node(child.kind_) || child.node_ == nullptr) return;
    Node* n = child.node_;
    child.node_ = nullptr;
    if (--n->refs != 0) return;
    if (nests(child.kind_)) {
      push(child.kind_, n);
    } else {
      delete_node(child.kind_, n);
    }
  };
  push(kind, node);
  while (chain != nullptr) {
    Node* current = chain;
    const auto current_kind = static_cast<ValueKind>(current->refs);
    chain = reinterpret_cast<Node*>(static_cast<uintptr_t>(current->measure));
    switch (current_kind) {
      case ValueKind::List:
        for (Value& item : static_cast<NodeOf<ValueKind::List>*>(current)->payload) detach(item);
        break;
      case ValueKind::Record:
        for (auto& entry : static_cast<NodeOf<ValueKind::Record>*>(current)->payload) detach(entry.second);
        break;
      case ValueKind::Choice:
        if (Value* item = static_cast<NodeOf<ValueKind::Choice>*>(current)->payload.item.get()) detach(*item);
        break;
      default: break;
    }
    delete_node(current_kind, current);
  }
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

bool operator==(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case ValueKind::None: return true;
    case ValueKind::Number:
    case ValueKind::Prob: return a.number_ == b.number_;
    case ValueKind::Bool: return a.bool_ == b.bool_;
    case ValueKind::Text: return a.payload<ValueKind::Text>() == b.payload<ValueKind::Text>();
    case ValueKind::List: return a.payload<ValueKind::List>() == b.payload<ValueKind::List>();
    case ValueKind::Record: return a.payload<ValueKind::Record>() == b.payload<ValueKind::Record>();
    case ValueKind::Choice: return a.payload<ValueKind::Choice>() == b.payload<ValueKind::Choice>();
    case ValueKind::Level: return a.payload<ValueKind::Level>() == b.payload<ValueKind::Level>();
    case ValueKind::Handle: return a.payload<ValueKind::Handle>() == b.payload<ValueKind::Handle>();
    case ValueKind::PauseResult: return a.payload<ValueKind::PauseResult>() == b.payload<ValueKind::PauseResult>();
  }
  return false;
}


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
