// The IR reader on documents nested thousands of levels deep, far deeper than the compiler's own output: its
// recursion follows the JSON nesting with small frames, so reading (and failing to read) stays within the stack.
// The sanitizer build, whose frames are the largest, runs these too.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "ir/read_json.h"
#include "ir/write_json_forms.h"
#include "json/reader.h"

namespace dravelin::ir {
namespace {

// The JSON depth of every document here. (The JSON reader recurses too, and its frames bound how deep a document
// it can parse.)
constexpr int kDepth = 5000;

// `levels` copies of `open`, then `middle`, then `levels` copies of `close`.
std::string nest(const std::string& open, const std::string& middle, const std::string& close, int levels) {
  std::string text;
  text.reserve((open.size() + close.size()) * levels + middle.size());
  for (int i = 0; i < levels; ++i) text += open;
  text += middle;
  for (int i = 0; i < levels; ++i) text += close;
  return text;
}

json::Value parse_deep(const std::string& text) {
  json::ReadOptions options;
  options.recursion_limit = kDepth + 16;
  auto parsed = json::parse(text, options);
  EXPECT_TRUE(parsed.ok()) << parsed.error().text();
  return parsed.ok() ? std::move(parsed).value() : json::Value();
}

const std::string& span() { return forms::span1(); }

struct DeepCase {
  const char* name;
  std::string (*document)(const std::string& innermost);
  bool (*read)(const json::Value&, std::string& compact_or_error);
  const char* innermost;         // a valid innermost node
  const char* broken_innermost;  // the same node with a fault
  const char* error;             // the fault's message, unchanged from the deepest level
};

void PrintTo(const DeepCase& c, std::ostream* out) { *out << c.name; }

template <class T>
bool read_as(const json::Value& value, std::string& out) {
  auto read = read_json<T>(value);
  out = read.ok() ? forms::compact(*read) : read.error();
  return read.ok();
}

std::string unary_chain(const std::string& innermost) {
  return nest(R"({"node":"unary","op":"not","operand":)", innermost, R"(,"span":)" + span() + "}", kDepth);
}

// Each level is a statement, its branch list, the branch and its body: four JSON levels.
std::string if_chain(const std::string& innermost) {
  return nest(R"({"stmt":"if","branches":[{"test":{"node":"bool","value":true,"span":)" + span() + R"(},"body":[)",
              innermost, "],\"span\":" + span() + "}],\"span\":" + span() + "}", kDepth / 4);
}

// Each level is a field shape, its record shape and the field list: three JSON levels.
std::string shape_chain(const std::string& innermost) {
  return nest(R"({"shape":"record","fields":[{"name":"f","shape":)", innermost, "}]}", kDepth / 3);
}

// Lists in lists, in the array form of the nodes: two JSON levels each.
std::string list_chain(const std::string& innermost) {
  return nest(R"(["list",[)", innermost, "]," + span() + "]", kDepth / 2);
}

class DeepDocuments : public testing::TestWithParam<DeepCase> {};

TEST_P(DeepDocuments, ReadBackAndFailAtTheDeepestLevel) {
  const DeepCase& c = GetParam();
  const std::string valid = c.document(forms::with_spans(c.innermost));
  std::string got;
  ASSERT_TRUE(c.read(parse_deep(valid), got)) << got.substr(0, 200);
  // What is read writes out again as the same document (the array form comes back as objects).
  if (valid.front() == '{') {
    EXPECT_EQ(got, valid);
  }

  std::string error;
  EXPECT_FALSE(c.read(parse_deep(c.document(forms::with_spans(c.broken_innermost))), error));
  EXPECT_EQ(error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    IrRead, DeepDocuments,
    testing::Values(
        DeepCase{"NestedExpressions", unary_chain, read_as<Expr>, R"({"node":"name","name":"x","span":$S})",
                 R"({"node":"name","name":7,"span":$S})", "invalid type: integer `7`, expected a string"},
        DeepCase{"NestedStatements", if_chain, read_as<Stmt>, R"({"stmt":"break","span":$S})",
                 R"({"stmt":"break"})", "missing field `span`"},
        DeepCase{"NestedRecordShapes", shape_chain, read_as<Shape>, R"({"shape":"type","name":"text"})",
                 R"({"shape":"type","name":"date"})",
                 "unknown variant `date`, expected one of `text`, `number`, `bool`, `list`, `record`"},
        DeepCase{"NestedListsInArrayForm", list_chain, read_as<Expr>, R"(["none",$S])", R"(["none"])",
                 "invalid length 0, expected struct variant Expr::None with 1 element"}),
    [](const testing::TestParamInfo<DeepCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dravelin::ir
