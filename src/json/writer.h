// JSON writers: string escaping, compact and pretty layout of a `Value`, a streaming writer that appends
// records field by field to a buffer, and a builder with the same interface that makes a `Value` tree.
//
// Layouts (as the IR documents use them):
//   - compact: no whitespace at all; `{"a":1,"b":[true,null]}`;
//   - pretty: every entry and item on its own line, indented by two spaces per level, `"key": value`;
//     a non-empty container closes on its own line at the indentation of the line that opened it; an empty
//     one is `{}` or `[]`; no newline after the last bracket.
// Strings (everywhere JSON is written): `"` and `\` are escaped with a backslash; backspace,
// tab, line feed, form feed and carriage return as \b \t \n \f \r; other bytes below 0x20 as \u00XX with
// lowercase hex digits; everything else (slash, DEL, non-ASCII UTF-8) unchanged.
// Numbers: integers exactly; floats in the writer's FloatStyle (`Record` by default: "1.0", "1e16"; `Ir`:
// "1.0", "1e+16"); a float that is not finite is written `null`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/number_format.h"
#include "json/value.h"

namespace dravelin::json {

enum class Layout : uint8_t { Compact, Pretty };

struct WriteOptions {
  Layout layout = Layout::Compact;
  FloatStyle floats = FloatStyle::Record;
};

// Appends `text` as a JSON string, quotes included.
void append_escaped(std::string& out, std::string_view text);
std::string escape_string(std::string_view text);

// Appends a whole value in the chosen layout. Objects are written in their stored entry order (an ordered
// map in key order; a parsed object in document order, repeated keys included).
void write_value(std::string& out, const Value& value, const WriteOptions& options = {});
std::string to_compact(const Value& value, FloatStyle floats = FloatStyle::Record);
std::string to_pretty(const Value& value, FloatStyle floats = FloatStyle::Record);

// The record field writers, shared by `Writer` and `ValueBuilder`: each writes one `key: value`
// entry into the object being written (the separator is the writer's business).
template <class Derived>
class FieldWriters {
 public:
  Derived& field_string(std::string_view key, std::string_view text) { return self().key(key).string(text); }
  // null when absent
  Derived& field_opt_string(std::string_view key, const std::optional<std::string_view>& text) {
    self().key(key);
    return text ? self().string(*text) : self().null();
  }
  // The writer's float form; null when not finite.
  Derived& field_f64(std::string_view key, double value) { return self().key(key).f64(value); }
  // null when absent or not finite
  Derived& field_opt_f64(std::string_view key, const std::optional<double>& value) {
    self().key(key);
    return value ? self().f64(*value) : self().null();
  }
  // The value JSON number rule: whole doubles below 2^53 as integers, else floats, null when not finite.
  Derived& field_value_number(std::string_view key, double value) { return self().key(key).value_number(value); }
  Derived& field_u32(std::string_view key, uint32_t value) { return self().key(key).u64(value); }
  Derived& field_u64(std::string_view key, uint64_t value) { return self().key(key).u64(value); }
  Derived& field_i64(std::string_view key, int64_t value) { return self().key(key).i64(value); }
  Derived& field_bool(std::string_view key, bool value) { return self().key(key).boolean(value); }
  Derived& field_opt_bool(std::string_view key, const std::optional<bool>& value) {
    self().key(key);
    return value ? self().boolean(*value) : self().null();
  }
  Derived& field_null(std::string_view key) { return self().key(key).null(); }
  // A list of texts: `[` the texts `,`-separated `]`; `[]` when empty.
  template <class Range>
  Derived& field_string_list(std::string_view key, const Range& texts) {
    self().key(key).begin_array();
    for (const auto& t : texts) self().string(t);
    return self().end_array();
  }
  // The tag entry of a tagged union (its first entry).
  Derived& field_tag(std::string_view key, std::string_view variant) { return field_string(key, variant); }
  Derived& field_value(std::string_view key, const Value& value) { return self().key(key).value(value); }
  // Opens an object whose first entry is the tag (a tagged union's object).
  Derived& begin_tagged_object(std::string_view tag_key, std::string_view variant) {
    self().begin_object();
    return field_tag(tag_key, variant);
  }

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};

// Streaming writer: appends JSON text to a caller's buffer in document order, with no value tree.
// Values written at an array's level are its items; inside an object every value follows a `key`.
// Misuse (a value in an object without a key, unbalanced brackets) is a programming error (asserted).
//
//   std::string line;
//   Writer w(line);                     // compact
//   w.begin_object().field_string("ts", ts).field_u64("seq", 3).key("ir");
//   ir.write_json(w);                   // nested records write through the same writer
//   w.end_object();
class Writer : public FieldWriters<Writer> {
 public:
  explicit Writer(std::string& out, Layout layout = Layout::Compact, FloatStyle floats = FloatStyle::Record)
      : out_(out), layout_(layout), floats_(floats) {}

  Writer& begin_object();
  Writer& end_object();
  Writer& begin_array();
  Writer& end_array();
  Writer& key(std::string_view key);

  Writer& null();
  Writer& boolean(bool b);
  Writer& u64(uint64_t v);
  Writer& i64(int64_t v);
  Writer& f64(double v);           // the writer's float form, null when not finite
  // A float in the given form whatever the writer's own, for a document with a float form of its own
  // (an IR document nested in a recording line keeps "1e+16").
  Writer& f64(double v, FloatStyle style);
  Writer& value_number(double v);  // the value JSON number rule
  Writer& string(std::string_view text);
  Writer& value(const Value& v);   // a whole value tree, in this writer's layout
  // Already-written JSON text of one value, inserted unchanged (callers keep it in the right layout).
  Writer& raw(std::string_view json);

  std::string& buffer() { return out_; }
  Layout layout() const { return layout_; }
  FloatStyle floats() const { return floats_; }
  int depth() const { return depth_; }

 private:
  void before_value();
  void newline_indent();

  std::string& out_;
  Layout layout_;
  FloatStyle floats_;
  int depth_ = 0;
  bool has_value_ = false;  // a value has been written in the innermost open container
  bool after_key_ = false;
  std::vector<char> open_;  // '{' or '[' per open container, to check balance (asserted)
};

// The value form: the same interface as `Writer`, building a `Value`. Objects are ordered maps: entries
// are inserted by key bytes, a key written twice replacing its earlier value. Integers become
// UInt/Int values, finite floats Float values, floats that are not finite null.
class ValueBuilder : public FieldWriters<ValueBuilder> {
 public:
  ValueBuilder() = default;

  ValueBuilder& begin_object();
  ValueBuilder& end_object();
  ValueBuilder& begin_array();
  ValueBuilder& end_array();
  ValueBuilder& key(std::string_view key);

  ValueBuilder& null();
  ValueBuilder& boolean(bool b);
  ValueBuilder& u64(uint64_t v);
  ValueBuilder& i64(int64_t v);
  ValueBuilder& f64(double v);
  ValueBuilder& f64(double v, FloatStyle style);  // as f64(v): a float value has no text form yet
  ValueBuilder& value_number(double v);
  ValueBuilder& string(std::string_view text);
  ValueBuilder& value(const Value& v);
  ValueBuilder& value(Value&& v);

  // The finished value (null when nothing was written). All containers must be closed.
  Value take();

 private:
  Value& place(Value v);

  Value root_;
  bool has_root_ = false;
  std::vector<Value*> open_;  // the open containers, innermost last
  std::string key_;
  bool has_key_ = false;
};

}  // namespace dravelin::json
