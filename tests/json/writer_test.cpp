// The writers: the IR document layouts, escaping, field writers, the value builder, round trips.
#include "json/writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "json/reader.h"
#include "support/numbers.h"

namespace dravelin::json {
namespace {

using test_numbers::kNaN;
using test_numbers::kInf;

// An IR source span (start and end positions), written field by field in declared order.
template <class W>
void write_pos(W& w, uint32_t line, uint32_t column, uint32_t offset) {
  w.begin_object().field_u32("line", line).field_u32("column", column).field_u32("offset", offset).end_object();
}
template <class W>
void write_span(W& w) {
  w.begin_object().key("start");
  write_pos(w, 1, 0, 0);
  w.key("end");
  write_pos(w, 2, 4, 17);
  w.end_object();
}

TEST(Layout, SpanPretty) {
  std::string out;
  Writer w(out, Layout::Pretty, FloatStyle::Ir);
  write_span(w);
  EXPECT_EQ(out,
            "{\n"
            "  \"start\": {\n"
            "    \"line\": 1,\n"
            "    \"column\": 0,\n"
            "    \"offset\": 0\n"
            "  },\n"
            "  \"end\": {\n"
            "    \"line\": 2,\n"
            "    \"column\": 4,\n"
            "    \"offset\": 17\n"
            "  }\n"
            "}");
}

TEST(Layout, SpanCompact) {
  std::string out;
  Writer w(out);
  write_span(w);
  EXPECT_EQ(out, R"({"start":{"line":1,"column":0,"offset":0},"end":{"line":2,"column":4,"offset":17}})");
}

// The value form orders keys by bytes: Span `end`, `start`; Pos `column`, `line`, `offset`.
TEST(Layout, SpanValueForm) {
  ValueBuilder b;
  write_span(b);
  const Value v = b.take();
  EXPECT_EQ(to_compact(v), R"({"end":{"column":4,"line":2,"offset":17},"start":{"column":0,"line":1,"offset":0}})");
  // Parsing the compact and the pretty text gives the same value as the value form.
  std::string compact, pretty;
  Writer c(compact);
  write_span(c);
  Writer p(pretty, Layout::Pretty);
  write_span(p);
  EXPECT_EQ(*parse(compact), v);
  EXPECT_EQ(*parse(pretty), v);
}

TEST(Layout, PrettyEmptyContainersStayOnTheirLine) {
  std::string out;
  Writer w(out, Layout::Pretty);
  w.begin_object().key("body").begin_array().end_array().key("budget").begin_object().end_object();
  w.key("items").begin_array().i64(1).begin_array().end_array().begin_object().field_bool("x", true).end_object();
  w.end_array().end_object();
  EXPECT_EQ(out,
            "{\n"
            "  \"body\": [],\n"
            "  \"budget\": {},\n"
            "  \"items\": [\n"
            "    1,\n"
            "    [],\n"
            "    {\n"
            "      \"x\": true\n"
            "    }\n"
            "  ]\n"
            "}");
}

TEST(Layout, TopLevelScalarsAndEmpties) {
  EXPECT_EQ(to_pretty(Value::object()), "{}");
  EXPECT_EQ(to_pretty(Value::array()), "[]");
  EXPECT_EQ(to_pretty(Value(5)), "5");
  EXPECT_EQ(to_compact(Value()), "null");
  EXPECT_EQ(to_compact(Value(Array{Value(), true, false, -3, 7u, 2.5, "s"})), R"([null,true,false,-3,7,2.5,"s"])");
}

TEST(Layout, ValuePrettyMatchesStreaming) {
  auto v = parse(R"({"a":[1,{"b":[]},{}],"c":{"d":"e"}})");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(to_pretty(*v),
            "{\n"
            "  \"a\": [\n"
            "    1,\n"
            "    {\n"
            "      \"b\": []\n"
            "    },\n"
            "    {}\n"
            "  ],\n"
            "  \"c\": {\n"
            "    \"d\": \"e\"\n"
            "  }\n"
            "}");
}

TEST(Floats, StylesAndNonFinite) {
  Value v(Array{1.0, 100.0, 1e16, 1e-7, kNaN, kInf, -0.0, 9007199254740992.0});
  EXPECT_EQ(to_compact(v), "[1.0,100.0,1e16,1e-7,null,null,-0.0,9007199254740992.0]");
  EXPECT_EQ(to_compact(v, FloatStyle::Ir), "[1.0,100.0,1e+16,1e-7,null,null,-0.0,9007199254740992.0]");
}

// Strings: quote, backslash, the five short escapes, \u00XX lowercase, the rest unchanged.
TEST(Escaping, Rules) {
  EXPECT_EQ(escape_string(""), R"("")");
  EXPECT_EQ(escape_string("plain"), R"("plain")");
  EXPECT_EQ(escape_string("q\"b\\"), R"("q\"b\\")");
  EXPECT_EQ(escape_string("\b\t\n\f\r"), R"("\b\t\n\f\r")");
  EXPECT_EQ(escape_string(std::string("\0\x01\x1f\x0b", 4)), R"("\u0000\u0001\u001f\u000b")");
  EXPECT_EQ(escape_string("/\x7f"), "\"/\x7f\"");
  EXPECT_EQ(escape_string("caf\xc3\xa9 \xf0\x9f\x98\x80"), "\"caf\xc3\xa9 \xf0\x9f\x98\x80\"");
  // Edge case: quotation mark, backslash, line feed, tab, 0x01, slash and a non-ASCII letter.
  EXPECT_EQ(escape_string("\"\\\n\t\x01/\xc3\xa9"), "\"\\\"\\\\\\n\\t\\u0001/\xc3\xa9\"");
  std::string out = "x";
  append_escaped(out, "k");
  EXPECT_EQ(out, "x\"k\"");
}

TEST(Escaping, KeysToo) {
  std::string out;
  Writer w(out);
  w.begin_object().field_string("a\"b\n", "v").end_object();
  EXPECT_EQ(out, R"({"a\"b\n":"v"})");
}

// Field writer edge cases.
TEST(FieldWriters, Examples) {
  {
    std::string out;
    Writer(out).begin_object().field_f64("a", 1.5).end_object();
    EXPECT_EQ(out, R"({"a":1.5})");
  }
  {
    std::string out;
    Writer(out).begin_object().end_object();
    EXPECT_EQ(out, "{}");
  }
  {
    std::string out;
    Writer w(out);
    w.begin_object().field_f64("nan", kNaN).field_f64("inf", -kInf).field_opt_f64("absent", std::nullopt);
    w.field_opt_f64("present", 2.0).field_opt_f64("nonfinite", kInf).end_object();
    EXPECT_EQ(out, R"({"nan":null,"inf":null,"absent":null,"present":2.0,"nonfinite":null})");
  }
  {
    std::string out;
    Writer(out).begin_object().field_u32("zero", 0).field_u32("max", 4294967295u).end_object();
    EXPECT_EQ(out, R"({"zero":0,"max":4294967295})");
  }
  {
    std::string out;
    const std::vector<std::string> none;
    const std::vector<std::string> one{"x"};
    const std::vector<std::string> two{"x", "y"};
    Writer(out).begin_object().field_string_list("e", none).field_string_list("o", one).field_string_list("t", two).end_object();
    EXPECT_EQ(out, R"({"e":[],"o":["x"],"t":["x","y"]})");
  }
  {
    std::string out;
    Writer w(out);
    w.begin_tagged_object("node", "judge").field_bool("each", true);
    EXPECT_EQ(out, R"({"node":"judge","each":true)");
    w.end_object();
    EXPECT_EQ(out, R"({"node":"judge","each":true})");
  }
  {
    std::string out;
    Writer w(out);
    std::optional<std::string> name;
    std::optional<std::string> file = "f.zem";
    w.begin_object().field_opt_string("name", name).field_opt_string("file", file);
    w.field_opt_bool("sample", std::nullopt).field_opt_bool("strict", false).field_null("n");
    w.field_i64("neg", -4).field_u64("big", UINT64_MAX).field_tag("kind", "tool").end_object();
    EXPECT_EQ(out,
              R"({"name":null,"file":"f.zem","sample":null,"strict":false,"n":null,"neg":-4,"big":18446744073709551615,"kind":"tool"})");
  }
}

TEST(FieldWriters, IrFloatFieldsAndNumberRule) {
  std::string ir;
  Writer w(ir, Layout::Compact, FloatStyle::Ir);
  w.begin_object().field_f64("calls", 10).field_f64("big", 1e16).field_value_number("rule", 3.0).end_object();
  EXPECT_EQ(ir, R"({"calls":10.0,"big":1e+16,"rule":3})");
  std::string rec;
  Writer r(rec);
  r.begin_object().field_f64("limit", 50).field_f64("big", 1e16).field_value_number("x", 0.5);
  r.field_value_number("y", -0.0).field_value_number("z", kNaN).end_object();
  EXPECT_EQ(rec, R"({"limit":50.0,"big":1e16,"x":0.5,"y":0,"z":null})");
}

TEST(Writer, NestedValuesRawAndAppendToExistingBuffer) {
  std::string out = "prefix ";
  Writer w(out);
  Value inner(Object{{"b", 2}, {"a", Array{1, 2}}});
  w.begin_object().field_value("v", inner).key("raw").raw(R"({"pre":"rendered"})").key("list").begin_array();
  w.raw("1").value(inner).string("s").end_array().end_object();
  EXPECT_EQ(out, R"(prefix {"v":{"a":[1,2],"b":2},"raw":{"pre":"rendered"},"list":[1,{"a":[1,2],"b":2},"s"]})");
}

TEST(Writer, PrettyNestedValueInheritsDepth) {
  std::string out;
  Writer w(out, Layout::Pretty);
  w.begin_object().field_value("v", Value(Array{1, Object{{"k", "x"}}})).end_object();
  EXPECT_EQ(out,
            "{\n"
            "  \"v\": [\n"
            "    1,\n"
            "    {\n"
            "      \"k\": \"x\"\n"
            "    }\n"
            "  ]\n"
            "}");
}

TEST(ValueBuilder, OrderedMapsReplaceRepeatedKeys) {
  ValueBuilder b;
  b.begin_object().field_string("program", "p").field_string("ir_version", "0.1").field_string("defs", "d");
  b.field_f64("nan", kNaN).field_value_number("n", 2.0).field_f64("f", 2.0).field_string("defs", "again");
  b.key("list").begin_array().i64(-1).u64(1).null().end_array().end_object();
  const Value v = b.take();
  EXPECT_EQ(to_compact(v), R"({"defs":"again","f":2.0,"ir_version":"0.1","list":[-1,1,null],"n":2,"nan":null,"program":"p"})");
  ValueBuilder s;
  s.string("only");
  EXPECT_EQ(s.take(), Value("only"));
  EXPECT_TRUE(ValueBuilder().take().is_null());
}

TEST(RoundTrip, CompactAndPretty) {
  const char* docs[] = {
      R"({"a":[1,-2,3.5,1e300,-0.0,true,false,null,"x\"\\\n\u0001é"],"b":{},"c":[],"a":{"dup":1}})",
      R"([[[[[]]]],{"":""},18446744073709551615,-9223372036854775808,5e-324])",
      R"("just a string")",
      R"(0)",
  };
  for (const char* doc : docs) {
    auto v = parse(doc);
    ASSERT_TRUE(v.ok()) << doc;
    auto c = parse(to_compact(*v));
    ASSERT_TRUE(c.ok());
    EXPECT_TRUE(identical(*c, *v)) << to_compact(*v);
    auto p = parse(to_pretty(*v));
    ASSERT_TRUE(p.ok());
    EXPECT_TRUE(identical(*p, *v)) << to_pretty(*v);
    EXPECT_EQ(to_compact(*p), to_compact(*v));
    EXPECT_EQ(to_compact(*v).find('\n'), std::string::npos);
  }
}

TEST(RoundTrip, CompactOfParsedCompactIsByteIdentical) {
  const std::string line =
      R"({"ts":"2024-01-01T00:00:00.000Z","run_id":"run_1_1","seq":0,"event":"draw","kind":"random","value":0.5})";
  auto v = parse(line);
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(to_compact(*v), line);
}

}  // namespace
}  // namespace dravelin::json
