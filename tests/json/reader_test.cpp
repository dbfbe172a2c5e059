// The reader: error texts with positions, number kinds, strings,
// duplicate keys, the whole-text readers and the pull reader.
#include "json/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "json/writer.h"

namespace dravelin::json {
namespace {

struct ErrorCase {
  std::string input;
  std::string text;  // the full error text
};

std::string error_text(std::string_view input) {
  auto r = parse(input);
  if (r.ok()) return "<ok: " + to_compact(*r) + ">";
  return r.error().text();
}

void check_errors(const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    EXPECT_EQ(error_text(c.input), c.text) << "input: " << c.input;
    // The ordered-map reader and the skipping reader refuse the same way.
    auto sorted = parse_json_value(c.input);
    ASSERT_FALSE(sorted.ok()) << c.input;
    EXPECT_EQ(sorted.error().text(), c.text) << c.input;
    Reader skipper(c.input);
    auto skipped = skipper.skip_value();
    std::string skip_text = skipped.ok() ? (skipper.finish().ok() ? "<ok>" : skipper.finish().error().text())
                                         : skipped.error().text();
    EXPECT_EQ(skip_text, c.text) << c.input;
  }
}

TEST(ReaderErrors, EndOfText) {
  check_errors({
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {" \n\t\r ", "EOF while parsing a value at line 2 column 3"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"[1, ", "EOF while parsing a value at line 1 column 4"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"ab\\", "EOF while parsing a string at line 1 column 4"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\ud800", "EOF while parsing a string at line 1 column 7"},
      {"\"\\ud800\\", "EOF while parsing a string at line 1 column 8"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"t", "EOF while parsing a value at line 1 column 1"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1e+", "EOF while parsing a value at line 1 column 3"},
  });
}

TEST(ReaderErrors, TrailingCharacters) {
  check_errors({
      {"1 2", "trailing characters at line 1 column 3"},
      {"{}x", "trailing characters at line 1 column 3"},
      {"{} ,", "trailing characters at line 1 column 4"},
      {"[]\n]", "trailing characters at line 2 column 1"},
      {"1x", "trailing characters at line 1 column 2"},
      {"nullx", "trailing characters at line 1 column 5"},
      {"0x10", "trailing characters at line 1 column 2"},
      {"\"a\"\"b\"", "trailing characters at line 1 column 4"},
      {"{}\n\n  }", "trailing characters at line 3 column 3"},
  });
  EXPECT_TRUE(parse("{} \t\r\n ").ok());
}

std::string nest(int levels, const std::string& open, const std::string& close, const std::string& inner) {
  std::string s;
  for (int i = 0; i < levels; ++i) s += open;
  s += inner;
  for (int i = 0; i < levels; ++i) s += close;
  return s;
}

// Nesting limit: the line's own object is level 1; a value that would open level 128 is refused.
TEST(ReaderErrors, RecursionLimit) {
  EXPECT_TRUE(parse(nest(127, "[", "]", "")).ok());
  EXPECT_TRUE(parse(nest(127, "{\"a\":", "}", "1")).ok());
  EXPECT_FALSE(parse(nest(64, "[{\"k\":", "}]", "null")).ok());  // 128 levels: 64 arrays, 64 objects
  EXPECT_TRUE(parse(nest(63, "[{\"k\":", "}]", "[null]")).ok());  // 127 levels
  check_errors({
      {nest(128, "[", "]", ""), "recursion limit exceeded at line 1 column 128"},
      {nest(129, "[", "]", ""), "recursion limit exceeded at line 1 column 128"},
      {nest(128, "{\"a\":", "}", "1"), "recursion limit exceeded at line 1 column 636"},
      {nest(128, "[ ", "]", ""), "recursion limit exceeded at line 1 column 255"},
      {nest(100000, "[", "]", ""), "recursion limit exceeded at line 1 column 128"},
  });
  // Levels are given back when containers close: many siblings at level 127 are fine.
  std::string wide = nest(126, "[", "]", "[],[],{},[1,2],{\"a\":1}");
  EXPECT_TRUE(parse(wide).ok()) << error_text(wide);
  // A custom limit.
  ReadOptions shallow;
  shallow.recursion_limit = 3;
  EXPECT_TRUE(parse("[[1]]", shallow).ok());
  EXPECT_EQ(parse("[[[1]]]", shallow).error().text(), "recursion limit exceeded at line 1 column 3");
}

TEST(ReaderErrors, Escapes) {
  check_errors({
      {"\"\\q\"", "invalid escape at line 1 column 3"},
      {"\"\\U0041\"", "invalid escape at line 1 column 3"},
      {"\"\\x41\"", "invalid escape at line 1 column 3"},
      {"\"\\u12G4\"", "invalid escape at line 1 column 7"},
      {"\"\\u 123\"", "invalid escape at line 1 column 7"},
      {"\"\\udc00\"", "lone trailing surrogate in hex escape at line 1 column 7"},
      {"\"\\ud800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\ud800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\ud800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\ud800\\ud800\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\ud800\\uzzzz\"", "invalid escape at line 1 column 13"},
  });
}

TEST(ReaderErrors, Numbers) {
  check_errors({
      {"01", "invalid number at line 1 column 2"},
      {"-01", "invalid number at line 1 column 3"},
      {"00", "invalid number at line 1 column 2"},
      {"-a", "invalid number at line 1 column 2"},
      {"--1", "invalid number at line 1 column 2"},
      {"1.a", "invalid number at line 1 column 3"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"1ea", "invalid number at line 1 column 3"},
      {"1e+a", "invalid number at line 1 column 4"},
      {"+1", "expected value at line 1 column 1"},
      {".5", "expected value at line 1 column 1"},
      {"[01]", "invalid number at line 1 column 3"},
      {"1e400", "number out of range at line 1 column 5"},
      {"-1e400", "number out of range at line 1 column 6"},
      {"123456789e999999999999999999", "number out of range at line 1 column 28"},
      {"[1.5e309]", "number out of range at line 1 column 8"},
      {"Infinity", "expected value at line 1 column 1"},
      {"NaN", "expected value at line 1 column 1"},
  });
}

TEST(ReaderErrors, ControlCharactersInStrings) {
  check_errors({
      {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {std::string("\"\0\"", 3), "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {"\"\x1f\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {"{\"a\x01\":1}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"},
  });
  EXPECT_TRUE(parse("\"\x7f\"").ok());  // DEL is no control character here
}

TEST(ReaderErrors, Syntax) {
  check_errors({
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"[,1]", "expected value at line 1 column 2"},
      {"[1,,2]", "expected value at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\"=1}", "expected `:` at line 1 column 5"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{,}", "key must be a string at line 1 column 2"},
      {"{a:1}", "key must be a string at line 1 column 2"},
      {"{\"a\":}", "expected value at line 1 column 6"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{\"a\":1]", "expected `,` or `}` at line 1 column 7"},
      {"[1}", "expected `,` or `]` at line 1 column 3"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"trux", "expected ident at line 1 column 4"},
      {"nulL", "expected ident at line 1 column 4"},
      {"fals e", "expected ident at line 1 column 5"},
      {"x", "expected value at line 1 column 1"},
      {"'a'", "expected value at line 1 column 1"},
      {"]", "expected value at line 1 column 1"},
      {"\xef\xbb\xbf{}", "expected value at line 1 column 1"},  // a byte order mark is no whitespace
      {"\xff", "expected value at line 1 column 1"},
      {"[\n  1,\n  x\n]", "expected value at line 3 column 3"},
      {"{\n  \"a\": tru\n}", "expected ident at line 3 column 0"},
  });
}

TEST(ReaderErrors, InvalidUtf8InStrings) {
  check_errors({
      {"\"a\xff" "b\"", "invalid UTF-8 in string at line 1 column 3"},
      {"\"\xc0\xaf\"", "invalid UTF-8 in string at line 1 column 2"},          // overlong
      {"\"\xe0\x80\xaf\"", "invalid UTF-8 in string at line 1 column 2"},      // overlong
      {"\"\xed\xa0\x80\"", "invalid UTF-8 in string at line 1 column 2"},      // an encoded surrogate
      {"\"\xf4\x90\x80\x80\"", "invalid UTF-8 in string at line 1 column 2"},  // above U+10FFFF
      {"\"\xe2\x82\"", "invalid UTF-8 in string at line 1 column 2"},          // truncated
      {"\"\xe2\x82", "invalid UTF-8 in string at line 1 column 2"},            // truncated at the end
      {"\"\x80\"", "invalid UTF-8 in string at line 1 column 2"},              // a lone continuation byte
      {"{\"\xfe\":1}", "invalid UTF-8 in string at line 1 column 3"},
  });
}

TEST(Reader, ErrorCarriesCodeMessageAndPosition) {
  auto r = parse("[1,\n 2 3]");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, ErrorCode::ExpectedListCommaOrEnd);
  EXPECT_EQ(r.error().message, "expected `,` or `]`");
  EXPECT_EQ(r.error().line, 2u);
  EXPECT_EQ(r.error().column, 4u);
  EXPECT_EQ(r.error().text(), "expected `,` or `]` at line 2 column 4");
  ParseError bare;
  bare.message = "no position";
  EXPECT_EQ(bare.text(), "no position");
}

// ---- values ----

TEST(ReaderNumbers, Kinds) {
  struct NumberCase {
    const char* input;
    Value expected;
  };
  const NumberCase cases[] = {
      {"0", Value(uint64_t{0})},
      {"7", Value(uint64_t{7})},
      {"18446744073709551615", Value(UINT64_MAX)},
      {"18446744073709551616", Value(18446744073709551616.0)},
      {"-1", Value(int64_t{-1})},
      {"-9223372036854775808", Value(INT64_MIN)},
      {"-9223372036854775809", Value(-9223372036854775809.0)},
      {"-18446744073709551615", Value(-18446744073709551615.0)},
      {"-0", Value(-0.0)},
      {"0.0", Value(0.0)},
      {"-0.0", Value(-0.0)},
      {"1.0", Value(1.0)},
      {"1e2", Value(100.0)},
      {"1E2", Value(100.0)},
      {"1e+2", Value(100.0)},
      {"25e-1", Value(2.5)},
      {"3e0", Value(3.0)},
      {"0.30000000000000004", Value(0.30000000000000004)},
      {"2.2250738585072011e-308", Value(2.2250738585072011e-308)},
      {"5e-324", Value(5e-324)},
      {"1.7976931348623157e308", Value(1.7976931348623157e308)},
      {"1e-400", Value(0.0)},
      {"-1e-400", Value(-0.0)},
      {"0e999999", Value(0.0)},
      {"123456789012345678901234567890", Value(123456789012345678901234567890.0)},
  };
  for (const NumberCase& c : cases) {
    auto r = parse(c.input);
    ASSERT_TRUE(r.ok()) << c.input << ": " << r.error().text();
    EXPECT_TRUE(identical(*r, c.expected)) << c.input << " read as " << to_compact(*r);
  }
}

TEST(ReaderNumbers, ExactRoundTripOfShortestText) {
  // Numbers written by the writer read back bit for bit.
  const double values[] = {0.1, 1.0 / 3.0, 1e-300, 4.9406564584124654e-324, 1.7976931348623157e308,
                           123.456, -2.5e-7, 9007199254740993.0};
  for (double d : values) {
    auto r = parse(format_record_float(d));
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(identical(*r, Value(d))) << format_record_float(d);
  }
}

TEST(ReaderStrings, Decoding) {
  struct StringCase {
    std::string input;
    std::string expected;
  };
  const StringCase cases[] = {
      {R"("")", ""},
      {R"("plain")", "plain"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0041\u00e9\u20AC")", "A\xc3\xa9\xe2\x82\xac"},
      {R"("\u0000")", std::string("\0", 1)},
      {R"("\ud83d\ude00")", "\xf0\x9f\x98\x80"},  // U+1F600 from a surrogate pair
      {R"("\uD834\uDD1E")", "\xf0\x9d\x84\x9e"},  // U+1D11E, upper-case hex
      {R"("\udbff\udfff")", "\xf4\x8f\xbf\xbf"},  // U+10FFFF
      {"\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"\"\xef\xbf\xbf\"", "\xef\xbf\xbf"},
      {"\"a/b\x7f\"", "a/b\x7f"},
  };
  for (const StringCase& c : cases) {
    auto r = parse(c.input);
    ASSERT_TRUE(r.ok()) << c.input << ": " << r.error().text();
    ASSERT_TRUE(r->is_string());
    EXPECT_EQ(r->as_string(), c.expected) << c.input;
  }
}

TEST(ReaderObjects, DuplicateKeysKeptInDocumentOrder) {
  auto r = parse(R"({"b":1,"a":2,"b":3,"a":{"x":1,"x":2}})");
  ASSERT_TRUE(r.ok());
  const Object& o = r->as_object();
  ASSERT_EQ(o.size(), 4u);
  EXPECT_EQ(o.entries()[0].key, "b");
  EXPECT_EQ(o.entries()[1].key, "a");
  EXPECT_EQ(o.entries()[2].key, "b");
  EXPECT_EQ(o.entries()[3].key, "a");
  EXPECT_EQ(*o.find("b"), Value(3));  // the last occurrence
  EXPECT_EQ(o.find("a")->as_object().size(), 2u);
  EXPECT_EQ(*o.find("a")->find("x"), Value(2));
  EXPECT_EQ(to_compact(*r), R"({"b":1,"a":2,"b":3,"a":{"x":1,"x":2}})");
}

TEST(ReaderObjects, KeysWithEscapesMatchExactly) {
  auto r = parse(R"({"t\u0073":1,"TS":2})");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r->find("ts"), Value(1));
  EXPECT_EQ(*r->find("TS"), Value(2));
}

// Whole-text readers: objects ordered by member name, a repeated member keeps its last value.
TEST(WholeText, ParseJsonValueMakesOrderedMaps) {
  auto r = parse_json_value(R"( {"b":1,"a":[{"z":1,"y":2,"z":3}],"b":2} )");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(to_compact(*r), R"({"a":[{"y":2,"z":3}],"b":2})");
  EXPECT_TRUE(r->as_object().is_sorted_map());
}

TEST(WholeText, ParseJsonObject) {
  auto r = parse_json_object("{\"b\":1,\"ab\":2,\"a\":3,\"b\":4}\n");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(to_compact(Value(*r)), R"({"a":3,"ab":2,"b":4})");
  EXPECT_TRUE(parse_json_object("{}").ok());
}

TEST(WholeText, ParseJsonObjectRefusals) {
  const ErrorCase cases[] = {
      {"[1]", "invalid type: sequence, expected a map at line 1 column 0"},
      {"  [1]", "invalid type: sequence, expected a map at line 1 column 2"},
      {"  5 ", "invalid type: integer `5`, expected a map at line 1 column 3"},
      {"-12", "invalid type: integer `-12`, expected a map at line 1 column 3"},
      {"1.5", "invalid type: floating point `1.5`, expected a map at line 1 column 3"},
      {"2.0", "invalid type: floating point `2.0`, expected a map at line 1 column 3"},
      {"\"x\"", "invalid type: string \"x\", expected a map at line 1 column 3"},
      {"null", "invalid type: null, expected a map at line 1 column 4"},
      {"true", "invalid type: boolean `true`, expected a map at line 1 column 4"},
      {"false", "invalid type: boolean `false`, expected a map at line 1 column 5"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"01", "invalid number at line 1 column 2"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"x", "expected value at line 1 column 1"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {" \n", "EOF while parsing a value at line 2 column 0"},
      {"{} x", "trailing characters at line 1 column 4"},
      {"{}{}", "trailing characters at line 1 column 3"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
  };
  for (const ErrorCase& c : cases) {
    auto r = parse_json_object(c.input);
    ASSERT_FALSE(r.ok()) << c.input;
    EXPECT_EQ(r.error().text(), c.text) << c.input;
  }
}

// ---- found descriptions and message builders ----

TEST(Messages, DescribeFound) {
  EXPECT_EQ(describe_found(Value()), "null");
  EXPECT_EQ(describe_found(Value(true)), "boolean `true`");
  EXPECT_EQ(describe_found(Value(false)), "boolean `false`");
  EXPECT_EQ(describe_found(Value(5u)), "integer `5`");
  EXPECT_EQ(describe_found(Value(-1)), "integer `-1`");
  EXPECT_EQ(describe_found(Value(1.5)), "floating point `1.5`");
  EXPECT_EQ(describe_found(Value(1.0)), "floating point `1.0`");
  EXPECT_EQ(describe_found(Value(3.0), FloatStyle::Ir), "floating point `3.0`");
  EXPECT_EQ(describe_found(Value(1e16)), "floating point `1e16`");
  EXPECT_EQ(describe_found(Value(1e16), FloatStyle::Ir), "floating point `1e+16`");
  EXPECT_EQ(describe_found(Value(std::numeric_limits<double>::quiet_NaN())), "floating point `NaN`");
  EXPECT_EQ(describe_found(Value("abc")), "string \"abc\"");
  EXPECT_EQ(describe_found(Value(std::string("q\"b\\t\tr\rn\nz\0u\x01", 14))),
            "string \"q\\\"b\\\\t\\tr\\rn\\nz\\0u\\u{1}\"");
  EXPECT_EQ(describe_found(Value("\x1f\x7f")), "string \"\\u{1f}\\u{7f}\"");
  EXPECT_EQ(describe_found(Value("caf\xc3\xa9")), "string \"caf\xc3\xa9\"");
  EXPECT_EQ(describe_found(Value::array()), "sequence");
  EXPECT_EQ(describe_found(Value::object()), "map");
}

TEST(Messages, Builders) {
  EXPECT_EQ(invalid_type_message(Value(), "a boolean"), "invalid type: null, expected a boolean");
  EXPECT_EQ(invalid_value_message(Value(-1), "u64"), "invalid value: integer `-1`, expected u64");
  EXPECT_EQ(invalid_value_message(Value(4294967296u), "u32"), "invalid value: integer `4294967296`, expected u32");
  EXPECT_EQ(missing_field_message("ts"), "missing field `ts`");
  EXPECT_EQ(duplicate_field_message("reason"), "duplicate field `reason`");
  EXPECT_EQ(unknown_variant_message("x", {"random", "now"}), "unknown variant `x`, expected `random` or `now`");
  EXPECT_EQ(unknown_variant_message("x", {"only"}), "unknown variant `x`, expected `only`");
  EXPECT_EQ(unknown_variant_message("Observe", {"observed", "error", "no_change"}),
            "unknown variant `Observe`, expected one of `observed`, `error`, `no_change`");
}

// ---- the pull reader ----

// A miniature of the recording line reader: envelope keys read straight from the text, every
// other key held back, checks at the closing brace.
std::string read_envelope(std::string_view line) {
  Reader r(line);
  const int c = r.peek();
  if (c < 0) return r.peek_error(ErrorCode::EofWhileParsingValue).text();
  if (c != '{') return r.invalid_type("struct RecordedEvent").text();
  if (auto b = r.begin_object(); !b.ok()) return b.error().text();
  bool have_ts = false;
  bool have_seq = false;
  std::vector<std::pair<std::string, Value>> pending;
  std::string key;
  for (;;) {
    auto more = r.next_key(key);
    if (!more.ok()) return more.error().text();
    if (!*more) break;
    if (key == "ts" && have_ts) return r.error(duplicate_field_message("ts")).text();
    if (key == "seq" && have_seq) return r.error(duplicate_field_message("seq")).text();
    if (auto col = r.colon(); !col.ok()) return col.error().text();
    if (key == "ts") {
      if (r.peek() != '"') return r.invalid_type("a string").text();
      auto v = r.read_value();
      if (!v.ok()) return v.error().text();
      have_ts = true;
    } else if (key == "seq") {
      const int p = r.peek();
      if (p != '-' && (p < '0' || p > '9')) return r.invalid_type("u64").text();
      auto v = r.read_value();
      if (!v.ok()) return v.error().text();
      if (v->is_int()) return r.error(invalid_value_message(*v, "u64")).text();
      if (!v->is_uint()) return r.error(invalid_type_message(*v, "u64")).text();
      have_seq = true;
    } else {
      auto v = r.read_value();
      if (!v.ok()) return v.error().text();
      pending.emplace_back(key, std::move(*v));
    }
  }
  if (auto e = r.end_object(); !e.ok()) return e.error().text();
  if (!have_ts) return r.error(missing_field_message("ts")).text();
  if (!have_seq) return r.error(missing_field_message("seq")).text();
  if (auto f = r.finish(); !f.ok()) return f.error().text();
  return "ok " + std::to_string(pending.size());
}

TEST(PullReader, EnvelopeMessagesAndPositions) {
  const ErrorCase cases[] = {
      {R"({"ts":"t","seq":0,"event":"abort","reason":"x"})", "ok 2"},
      {R"({"event":"abort","seq":0,"ts":"t"})", "ok 1"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"[1]", "invalid type: sequence, expected struct RecordedEvent at line 1 column 0"},
      {"\"x\"", "invalid type: string \"x\", expected struct RecordedEvent at line 1 column 3"},
      {"12", "invalid type: integer `12`, expected struct RecordedEvent at line 1 column 2"},
      {R"({"ts":[1],"seq":0})", "invalid type: sequence, expected a string at line 1 column 6"},
      {R"({"ts":5,"seq":0})", "invalid type: integer `5`, expected a string at line 1 column 7"},
      {R"({"ts":null,"seq":0})", "invalid type: null, expected a string at line 1 column 10"},
      {R"({"ts":"t","seq":-1})", "invalid value: integer `-1`, expected u64 at line 1 column 18"},
      {R"({"ts":"t","seq":1.5})", "invalid type: floating point `1.5`, expected u64 at line 1 column 19"},
      {R"({"ts":"t","seq":"0"})", "invalid type: string \"0\", expected u64 at line 1 column 19"},
      {R"({"ts":"t","ts":"u","seq":0})", "duplicate field `ts` at line 1 column 14"},
      {R"({"seq":0})", "missing field `ts` at line 1 column 9"},
      {R"({"ts":"t" })", "missing field `seq` at line 1 column 11"},
      {R"({"ts":"t","seq":0} x)", "trailing characters at line 1 column 20"},
      {R"({"ts":"t","seq":0,"x":[1,})", "expected value at line 1 column 26"},
      {R"({"ts":"t","seq":0,"x":[1,]})", "trailing comma at line 1 column 26"},
  };
  for (const ErrorCase& c : cases) EXPECT_EQ(read_envelope(c.input), c.text) << c.input;
}

TEST(PullReader, ArraysAndNestedDepth) {
  Reader r(" [ 1 , [2], {\"a\": [3]} ] ");
  ASSERT_TRUE(r.begin_array().ok());
  std::vector<std::string> items;
  for (;;) {
    auto more = r.next_element();
    ASSERT_TRUE(more.ok());
    if (!*more) break;
    if (r.peek() == '[') {
      ASSERT_TRUE(r.begin_array().ok());
      while (*r.next_element()) items.push_back(to_compact(*r.read_value()));
      ASSERT_TRUE(r.end_array().ok());
    } else {
      items.push_back(to_compact(*r.read_value()));
    }
  }
  ASSERT_TRUE(r.end_array().ok());
  ASSERT_TRUE(r.finish().ok());
  EXPECT_EQ(items, (std::vector<std::string>{"1", "2", R"({"a":[3]})"}));

  // The pull reader shares the nesting budget with read_value.
  ReadOptions opts;
  opts.recursion_limit = 3;
  Reader d("[[[1]]]", opts);
  ASSERT_TRUE(d.begin_array().ok());
  ASSERT_TRUE(*d.next_element());
  auto v = d.read_value();
  ASSERT_FALSE(v.ok());
  EXPECT_EQ(v.error().text(), "recursion limit exceeded at line 1 column 3");
}

TEST(PullReader, SkipValueChecksSyntax) {
  Reader r(R"({"skip":[1,{"a":"\ud83d\ude00"}],"keep":2})");
  ASSERT_TRUE(r.begin_object().ok());
  std::string key;
  ASSERT_TRUE(*r.next_key(key));
  EXPECT_EQ(key, "skip");
  ASSERT_TRUE(r.colon().ok());
  ASSERT_TRUE(r.skip_value().ok());
  ASSERT_TRUE(*r.next_key(key));
  EXPECT_EQ(key, "keep");
  ASSERT_TRUE(r.colon().ok());
  EXPECT_EQ(*r.read_value(), Value(2));
  EXPECT_FALSE(*r.next_key(key));
  ASSERT_TRUE(r.end_object().ok());
  EXPECT_TRUE(r.finish().ok());

  Reader bad(R"([1,{"a":"\ud800"}])");
  auto s = bad.skip_value();
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().text(), "unexpected end of hex escape at line 1 column 16");
}

TEST(Reader, PositionOfIndex) {
  const std::string text = "ab\ncd\n\nef";
  EXPECT_EQ(position_of_index(text, 0).line, 1u);
  EXPECT_EQ(position_of_index(text, 2).column, 2u);
  EXPECT_EQ(position_of_index(text, 3).line, 2u);
  EXPECT_EQ(position_of_index(text, 3).column, 0u);
  EXPECT_EQ(position_of_index(text, 7).line, 4u);
  EXPECT_EQ(position_of_index(text, 99).column, 2u);  // capped at the end
}

}  // namespace
}  // namespace dravelin::json
