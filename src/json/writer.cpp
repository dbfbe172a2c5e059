// JSON writers: escaping, layouts, the streaming writer and the value builder.
#include "json/writer.h"

#include <cassert>
#include <cmath>

namespace dravelin::json {

namespace {

// 0: written unchanged; otherwise the character after the backslash ('u' for \u00XX).
struct EscapeTable {
  char code[256];
  constexpr EscapeTable() : code() {
    for (int i = 0; i < 0x20; ++i) code[i] = 'u';
    code[0x08] = 'b';
    code[0x09] = 't';
    code[0x0A] = 'n';
    code[0x0C] = 'f';
    code[0x0D] = 'r';
    code[0x22] = '"';
    code[0x5C] = '\\';
  }
};
constexpr EscapeTable kEscape;

}  // namespace

void append_escaped(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  const char* s = text.data();
  const size_t n = text.size();
  size_t run = 0;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const char code = kEscape.code[c];
    if (code == 0) continue;
    out.append(s + run, i - run);
    run = i + 1;
    out.push_back('\\');
    out.push_back(code);
    if (code == 'u') {
      static const char kHex[] = "0123456789abcdef";
      out.append("00", 2);
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  out.append(s + run, n - run);
  out.push_back('"');
}

std::string escape_string(std::string_view text) {
  std::string out;
  append_escaped(out, text);
  return out;
}

void write_value(std::string& out, const Value& value, const WriteOptions& options) {
  Writer(out, options.layout, options.floats).value(value);
}

std::string to_compact(const Value& value, FloatStyle floats) {
  std::string out;
  Writer(out, Layout::Compact, floats).value(value);
  return out;
}

std::string to_pretty(const Value& value, FloatStyle floats) {
  std::string out;
  Writer(out, Layout::Pretty, floats).value(value);
  return out;
}

// ---- Writer ----

void Writer::newline_indent() {
  out_.push_back('\n');
  out_.append(static_cast<size_t>(depth_) * 2, ' ');
}

// Separator and indentation before a value: nothing after a key or at the top level; before an array item
// "," (compact) or "\n"/",\n" and the indentation (pretty).
void Writer::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  assert((open_.empty() || open_.back() == '[') && "a value inside an object needs a key");
  if (depth_ == 0) return;
  if (layout_ == Layout::Pretty) {
    if (has_value_) out_.push_back(',');
    newline_indent();
  } else if (has_value_) {
    out_.push_back(',');
  }
}

Writer& Writer::key(std::string_view key) {
  assert(!open_.empty() && open_.back() == '{' && !after_key_ && "a key belongs in an object");
  if (layout_ == Layout::Pretty) {
    if (has_value_) out_.push_back(',');
    newline_indent();
    append_escaped(out_, key);
    out_.append(": ", 2);
  } else {
    if (has_value_) out_.push_back(',');
    append_escaped(out_, key);
    out_.push_back(':');
  }
  after_key_ = true;
  return *this;
}

Writer& Writer::begin_object() {
  before_value();
  out_.push_back('{');
  ++depth_;
  has_value_ = false;
  open_.push_back('{');
  return *this;
}

Writer& Writer::end_object() {
  assert(!open_.empty() && open_.back() == '{' && !after_key_);
  if (!open_.empty()) open_.pop_back();
  --depth_;
  if (layout_ == Layout::Pretty && has_value_) newline_indent();
  out_.push_back('}');
  has_value_ = true;
  return *this;
}

Writer& Writer::begin_array() {
  before_value();
  out_.push_back('[');
  ++depth_;
  has_value_ = false;
  open_.push_back('[');
  return *this;
}

Writer& Writer::end_array() {
  assert(!open_.empty() && open_.back() == '[');
  if (!open_.empty()) open_.pop_back();
  --depth_;
  if (layout_ == Layout::Pretty && has_value_) newline_indent();
  out_.push_back(']');
  has_value_ = true;
  return *this;
}

Writer& Writer::null() {
  before_value();
  out_.append("null", 4);
  has_value_ = true;
  return *this;
}

Writer& Writer::boolean(bool b) {
  before_value();
  if (b) {
    out_.append("true", 4);
  } else {
    out_.append("false", 5);
  }
  has_value_ = true;
  return *this;
}

Writer& Writer::u64(uint64_t v) {
  before_value();
  append_u64(out_, v);
  has_value_ = true;
  return *this;
}

Writer& Writer::i64(int64_t v) {
  before_value();
  append_i64(out_, v);
  has_value_ = true;
  return *this;
}

Writer& Writer::f64(double v) {
  before_value();
  append_float(out_, v, floats_);
  has_value_ = true;
  return *this;
}

Writer& Writer::f64(double v, FloatStyle style) {
  before_value();
  append_float(out_, v, style);
  has_value_ = true;
  return *this;
}

Writer& Writer::value_number(double v) {
  before_value();
  if (value_number_is_integer(v)) {
    append_i64(out_, static_cast<int64_t>(v));
  } else {
    append_float(out_, v, floats_);
  }
  has_value_ = true;
  return *this;
}

Writer& Writer::string(std::string_view text) {
  before_value();
  append_escaped(out_, text);
  has_value_ = true;
  return *this;
}

Writer& Writer::raw(std::string_view json) {
  before_value();
  out_.append(json);
  has_value_ = true;
  return *this;
}

Writer& Writer::value(const Value& v) {
  switch (v.kind()) {
    case Kind::Null: return null();
    case Kind::Bool: return boolean(v.as_bool());
    case Kind::Int: return i64(v.as_int());
    case Kind::UInt: return u64(v.as_uint());
    case Kind::Float: return f64(v.as_float());
    case Kind::String: return string(v.as_string());
    case Kind::Array:
      begin_array();
      for (const Value& item : v.as_array()) value(item);
      return end_array();
    case Kind::Object:
      begin_object();
      for (const Member& m : v.as_object().entries()) {
        key(m.key);
        value(m.value);
      }
      return end_object();
  }
  return *this;
}

// ---- ValueBuilder ----

Value& ValueBuilder::place(Value v) {
  if (open_.empty()) {
    assert(!has_root_ && "the value builder takes one value");
    root_ = std::move(v);
    has_root_ = true;
    return root_;
  }
  Value& container = *open_.back();
  if (container.is_array()) {
    Array& items = container.as_array();
    items.push_back(std::move(v));
    return items.back();
  }
  assert(has_key_ && "a value inside an object needs a key");
  has_key_ = false;
  return container.as_object().set(std::move(key_), std::move(v));
}

ValueBuilder& ValueBuilder::begin_object() {
  open_.push_back(&place(Value::object()));
  return *this;
}

ValueBuilder& ValueBuilder::end_object() {
  assert(!open_.empty() && open_.back()->is_object() && !has_key_);
  if (!open_.empty()) open_.pop_back();
  return *this;
}

ValueBuilder& ValueBuilder::begin_array() {
  open_.push_back(&place(Value::array()));
  return *this;
}

ValueBuilder& ValueBuilder::end_array() {
  assert(!open_.empty() && open_.back()->is_array());
  if (!open_.empty()) open_.pop_back();
  return *this;
}

ValueBuilder& ValueBuilder::key(std::string_view key) {
  assert(!open_.empty() && open_.back()->is_object() && !has_key_);
  key_.assign(key.data(), key.size());
  has_key_ = true;
  return *this;
}

ValueBuilder& ValueBuilder::null() {
  place(Value());
  return *this;
}

ValueBuilder& ValueBuilder::boolean(bool b) {
  place(Value(b));
  return *this;
}

ValueBuilder& ValueBuilder::u64(uint64_t v) {
  place(Value(v));
  return *this;
}

ValueBuilder& ValueBuilder::i64(int64_t v) {
  place(Value(v));
  return *this;
}

ValueBuilder& ValueBuilder::f64(double v) {
  place(std::isfinite(v) ? Value(v) : Value());
  return *this;
}

ValueBuilder& ValueBuilder::f64(double v, FloatStyle) { return f64(v); }

ValueBuilder& ValueBuilder::value_number(double v) {
  place(json_number(v));
  return *this;
}

ValueBuilder& ValueBuilder::string(std::string_view text) {
  place(Value(text));
  return *this;
}

ValueBuilder& ValueBuilder::value(const Value& v) {
  place(v);
  return *this;
}

ValueBuilder& ValueBuilder::value(Value&& v) {
  place(std::move(v));
  return *this;
}

Value ValueBuilder::take() {
  assert(open_.empty() && "every container must be closed");
  has_root_ = false;
  return std::move(root_);
}

}  // namespace dravelin::json
