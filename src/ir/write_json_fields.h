// The entry writers that the IR's per-type JSON writers share: one `"key": value` entry of each kind, on top of
// the JSON layer's own field writers. Private to the write_json_*.cpp sources.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/box.h"
#include "ir/write_json.h"
#include "json/number_format.h"
#include "json/writer.h"
#include "syntax/unit_enums.h"

namespace dravelin::ir::json_entry {

// Floats go through the IR's own text form explicitly: the writer may be a recording line's, made for another.
template <class Out>
void f64(Out& out, std::string_view key, double value) {
  out.key(key).f64(value, json::FloatStyle::Ir);
}

// Omitted when absent.
template <class Out>
void opt_f64(Out& out, std::string_view key, const std::optional<double>& value) {
  if (value) f64(out, key, *value);
}

template <class Out>
void opt_string(Out& out, std::string_view key, const std::optional<std::string>& value) {
  if (value) out.field_string(key, *value);
}

template <class Out, class E>
void unit_enum(Out& out, std::string_view key, E value) {
  out.field_string(key, syntax::enum_name(value));
}

template <class Out, class T>
void record(Out& out, std::string_view key, const T& value) {
  out.key(key);
  write_json(value, out);
}

template <class Out, class T>
void record(Out& out, std::string_view key, const Box<T>& value) {
  record(out, key, *value);
}

// Omitted when absent.
template <class Out, class T>
void opt_record(Out& out, std::string_view key, const std::optional<T>& value) {
  if (value) record(out, key, *value);
}

// Always written, `[]` when empty.
template <class Out, class T>
void list(Out& out, std::string_view key, const std::vector<T>& items) {
  out.key(key).begin_array();
  for (const T& item : items) write_json(item, out);
  out.end_array();
}

// Omitted when empty.
template <class Out, class T>
void nonempty_list(Out& out, std::string_view key, const std::vector<T>& items) {
  if (!items.empty()) list(out, key, items);
}

// Omitted when absent; a present list is written even when it holds nothing.
template <class Out, class T>
void opt_list(Out& out, std::string_view key, const std::optional<std::vector<T>>& items) {
  if (items) list(out, key, *items);
}

template <class Out>
void nonempty_string_list(Out& out, std::string_view key, const std::vector<std::string>& texts) {
  if (!texts.empty()) out.field_string_list(key, texts);
}

template <class Out>
void span(Out& out, const Span& value) {
  record(out, "span", value);
}

}  // namespace dravelin::ir::json_entry

namespace dravelin::ir {

// The entries of a question without its braces: a `Judge` field writes them in an object of their own, the
// `Expr` variant "judge" after its tag entry.
template <class Out>
void write_judge_entries(const Judge& value, Out& out);

}  // namespace dravelin::ir

// Instantiates one writer for both outputs.
#define DRAVELIN_IR_WRITE_JSON_FOR_BOTH_OUTPUTS(T)                             \
  template void write_json<json::Writer>(const T&, json::Writer&);             \
  template void write_json<json::ValueBuilder>(const T&, json::ValueBuilder&);
