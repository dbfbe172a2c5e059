// The three output forms of the IR writers for one value, and the check that they describe the same JSON.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "ir/ir_test_builders.h"
#include "ir/write_json.h"
#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::ir::forms {

template <class T>
std::string compact(const T& value) {
  std::string text;
  json::Writer out(text, json::Layout::Compact, json::FloatStyle::Ir);
  write_json(value, out);
  return text;
}

template <class T>
std::string pretty(const T& value) {
  std::string text;
  json::Writer out(text, json::Layout::Pretty, json::FloatStyle::Ir);
  write_json(value, out);
  return text;
}

template <class T>
json::Value value_form(const T& value) {
  json::ValueBuilder out;
  write_json(value, out);
  return out.take();
}

// The compact span of `build::at(1)`, which most hand-built nodes carry.
inline const std::string& span1() {
  static const std::string text = compact(build::at(1));
  return text;
}

// `pattern` with every "$S" replaced by the compact text of `build::at(1)`.
inline std::string with_spans(std::string_view pattern) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.compare(i, 2, "$S") == 0) {
      out += span1();
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

// The pretty and compact texts parse to exactly the value form (kinds, integers apart from floats, float bits),
// list their keys in the same order, and the compact text is one line.
template <class T>
void expect_forms_agree(const T& value) {
  const std::string c = compact(value);
  const std::string p = pretty(value);
  const json::Value v = value_form(value);
  json::ReadOptions sorted;
  sorted.sort_objects = true;
  auto from_compact = json::parse(c, sorted);
  auto from_pretty = json::parse(p, sorted);
  ASSERT_TRUE(from_compact.ok()) << c;
  ASSERT_TRUE(from_pretty.ok()) << p;
  EXPECT_TRUE(json::identical(*from_compact, v)) << c << "\n" << json::to_compact(v, json::FloatStyle::Ir);
  EXPECT_TRUE(json::identical(*from_pretty, v)) << p;
  auto pretty_in_order = json::parse(p);
  ASSERT_TRUE(pretty_in_order.ok());
  EXPECT_EQ(json::to_compact(*pretty_in_order, json::FloatStyle::Ir), c);
  EXPECT_EQ(c.find('\n'), std::string::npos);
}

}  // namespace dravelin::ir::forms
