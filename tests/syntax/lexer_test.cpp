#include "syntax/lexer.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "syntax/utf8.h"

namespace dravelin::syntax {
namespace {

std::string pos_str(const Pos& p) { return std::to_string(p.line) + ":" + std::to_string(p.column); }
std::string span_str(const Span& s) { return pos_str(s.start) + "-" + pos_str(s.end); }
std::string offsets_str(const Span& s) {
  return std::to_string(s.start.offset) + ".." + std::to_string(s.end.offset);
}

std::string number_str(double v) {
  if (std::isnan(v)) return "nan";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Literal text with its control characters visible, so that expectations fit on one line.
std::string visible(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

std::string kind_str(const TokenKind& kind) {
  struct Render {
    std::string operator()(const tok::Ident& t) const { return "ident(" + t.text + ")"; }
    std::string operator()(const tok::Keyword& t) const { return "kw(" + std::string(keyword_text(t.keyword)) + ")"; }
    std::string operator()(const tok::Number& t) const { return "num(" + number_str(t.value) + ")"; }
    std::string operator()(const tok::Symbol& t) const { return "`" + std::string(symbol_text(t.symbol)) + "`"; }
    std::string operator()(const tok::Newline&) const { return "nl"; }
    std::string operator()(const tok::Indent&) const { return "indent"; }
    std::string operator()(const tok::Dedent&) const { return "dedent"; }
    std::string operator()(const tok::Eof&) const { return "eof"; }
    std::string operator()(const tok::Text& t) const {
      std::string out = t.triple_quoted ? "text3[" : "text[";
      for (size_t i = 0; i < t.parts.size(); ++i) {
        if (i) out += ' ';
        if (auto* lit = std::get_if<TextLiteralPart>(&t.parts[i])) {
          out += "\"" + visible(lit->text) + "\"";
        } else {
          out += "{" + visible(std::get<TextInterpolationPart>(t.parts[i]).source) + "}";
        }
      }
      return out + "]";
    }
  };
  return std::visit(Render{}, kind);
}

// `ident(a) nl eof`: the kinds only, for cases where spans are noise.
std::string kinds(const LexOutput& out) {
  std::string s;
  for (const Token& t : out.tokens) s += (s.empty() ? "" : " ") + kind_str(t.kind);
  return s;
}

// `ident(a)@1:0-1:1 nl@1:1-2:0 ...`
std::string with_spans(const LexOutput& out) {
  std::string s;
  for (const Token& t : out.tokens) s += (s.empty() ? "" : " ") + kind_str(t.kind) + "@" + span_str(t.span);
  return s;
}

// `indent@2:0-2:1 tabs are not allowed ...; ...`
std::string diags(const LexOutput& out) {
  std::string s;
  for (const Diagnostic& d : out.diagnostics) {
    if (!s.empty()) s += "; ";
    s += std::string(diagnostic_code_name(d.code)) + "@" + span_str(d.span) + " " + d.message;
  }
  return s;
}

struct Case {
  const char* name;
  std::string text;
  std::string tokens;
  std::string diagnostics = "";
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// ---------------------------------------------------------------------------------------------------
// Spans of ordinary tokens.

TEST(LexerSpans, StatementLine) {
  const LexOutput out = Lexer::scan("x = f(1, \"a\") -> y.z\n");
  EXPECT_EQ(with_spans(out),
            "ident(x)@1:0-1:1 `=`@1:2-1:3 ident(f)@1:4-1:5 `(`@1:5-1:6 num(1)@1:6-1:7 `,`@1:7-1:8 "
            "text[\"a\"]@1:9-1:12 `)`@1:12-1:13 `->`@1:14-1:16 ident(y)@1:17-1:18 `.`@1:18-1:19 "
            "ident(z)@1:19-1:20 nl@1:20-2:0 eof@2:0-2:0");
  EXPECT_EQ(diags(out), "");
}

TEST(LexerSpans, EverySymbolAndKeyword) {
  const LexOutput out = Lexer::scan("( ) [ ] { } , : . -> = == != < <= > >= + - * / %\nif elif max none");
  EXPECT_EQ(kinds(out),
            "`(` `)` `[` `]` `{` `}` `,` `:` `.` `->` `=` `==` `!=` `<` `<=` `>` `>=` `+` `-` `*` `/` `%` nl "
            "kw(if) kw(elif) kw(max) kw(none) nl eof");
  EXPECT_EQ(diags(out), "");
}

TEST(LexerSpans, WordsThatAreNotReservedStayIdentifiers) {
  EXPECT_EQ(kinds(Lexer::scan("log verify done with as tool risk ifx _if if_ x1")),
            "ident(log) ident(verify) ident(done) ident(with) ident(as) ident(tool) ident(risk) ident(ifx) "
            "ident(_if) ident(if_) ident(x1) nl eof");
}

// Columns count characters, offsets count bytes: é is two bytes, 日 and 本 three each.
TEST(LexerSpans, ColumnsCountCharactersOffsetsCountBytes) {
  const LexOutput out = Lexer::scan("t = \"é日本\" + x\né\ny");
  ASSERT_EQ(kinds(out), "ident(t) `=` text[\"é日本\"] `+` ident(x) nl ident(y) nl eof");
  EXPECT_EQ(span_str(out.tokens[2].span), "1:4-1:9");
  EXPECT_EQ(offsets_str(out.tokens[2].span), "4..14");
  EXPECT_EQ(span_str(out.tokens[4].span), "1:12-1:13");
  EXPECT_EQ(offsets_str(out.tokens[4].span), "17..18");
  EXPECT_EQ(span_str(out.tokens[5].span), "1:13-2:0");
  EXPECT_EQ(offsets_str(out.tokens[5].span), "18..19");
  // The é line is an error, but it still moves the next line's offset by two bytes.
  EXPECT_EQ(diags(out), "syntax@2:0-2:1 unexpected character `é`");
  EXPECT_EQ(offsets_str(out.diagnostics[0].span), "19..21");
  EXPECT_EQ(span_str(out.tokens[6].span), "3:0-3:1");
  EXPECT_EQ(offsets_str(out.tokens[6].span), "22..23");
}

// ---------------------------------------------------------------------------------------------------
// Layout: Newline, Indent, Dedent.

class LayoutTest : public testing::TestWithParam<Case> {};

TEST_P(LayoutTest, Tokens) {
  const Case& c = GetParam();
  const LexOutput out = Lexer::scan(c.text);
  EXPECT_EQ(with_spans(out), c.tokens);
  EXPECT_EQ(diags(out), c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Lexer, LayoutTest,
    testing::Values(
        Case{"empty", "", "eof@1:0-1:0"},
        Case{"only_blank_and_comment_lines", "\n  \n# a\n   # b\n", "eof@5:0-5:0"},
        Case{"block_then_back", "a\n  b\nc\n",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:3-3:0 dedent@3:0-3:0 "
             "ident(c)@3:0-3:1 nl@3:1-4:0 eof@4:0-4:0"},
        Case{"first_line_indented", "  a",
             "indent@1:0-1:2 ident(a)@1:2-1:3 nl@1:3-1:3 dedent@1:3-1:3 eof@1:3-1:3"},
        Case{"two_levels_closed_at_once", "a\n b\n   c\nd",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:1 ident(b)@2:1-2:2 nl@2:2-3:0 indent@3:0-3:3 "
             "ident(c)@3:3-3:4 nl@3:4-4:0 dedent@4:0-4:0 dedent@4:0-4:0 ident(d)@4:0-4:1 nl@4:1-4:1 "
             "eof@4:1-4:1"},
        Case{"end_inside_block_without_line_feed", "a\n  b",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:3-2:3 dedent@2:3-2:3 "
             "eof@2:3-2:3"},
        Case{"end_inside_block_with_line_feed", "a\n  b\n",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:3-3:0 dedent@3:0-3:0 "
             "eof@3:0-3:0"},
        Case{"blank_space_and_comment_lines_change_nothing", "a\n  b\n\n      \n # note\n  c\n",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:3-3:0 ident(c)@6:2-6:3 "
             "nl@6:3-7:0 dedent@7:0-7:0 eof@7:0-7:0"},
        Case{"trailing_comment_ends_line_once", "a # note\nb",
             "ident(a)@1:0-1:1 nl@1:8-2:0 ident(b)@2:0-2:1 nl@2:1-2:1 eof@2:1-2:1"},
        Case{"blank_line_with_tab_still_reports", "a\n \t\nb",
             "ident(a)@1:0-1:1 nl@1:1-2:0 ident(b)@3:0-3:1 nl@3:1-3:1 eof@3:1-3:1",
             "indent@2:1-2:2 tabs are not allowed in indentation; use spaces"},
        Case{"tab_in_indentation_counts_one_column", "a\n\tb",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:1 ident(b)@2:1-2:2 nl@2:2-2:2 dedent@2:2-2:2 "
             "eof@2:2-2:2",
             "indent@2:0-2:1 tabs are not allowed in indentation; use spaces"},
        Case{"tab_between_tokens", "a\tb", "ident(a)@1:0-1:1 ident(b)@1:2-1:3 nl@1:3-1:3 eof@1:3-1:3",
             "indent@1:1-1:2 tabs are not allowed; use spaces"},
        // A line of whitespace and a carriage return is as blank as one without: with CRLF line ends an
        // empty line inside a block must not close it.
        Case{"carriage_return_line_is_blank", "a\n  b\n\r\n  c",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:3-3:0 ident(c)@4:2-4:3 "
             "nl@4:3-4:3 dedent@4:3-4:3 eof@4:3-4:3"},
        Case{"crlf_blank_lines_inside_a_block", "a:\r\n  b\r\n\r\n    \r\n\r\r\n  c\r\nd\r\n",
             "ident(a)@1:0-1:1 `:`@1:1-1:2 nl@1:3-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:4-3:0 "
             "ident(c)@6:2-6:3 nl@6:4-7:0 dedent@7:0-7:0 ident(d)@7:0-7:1 nl@7:2-8:0 eof@8:0-8:0"},
        Case{"carriage_return_line_at_end_of_text", "a\n  b\n  \r",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:3-3:0 dedent@3:3-3:3 "
             "eof@3:3-3:3"},
        Case{"carriage_return_blank_line_with_tab_still_reports", "a\n\t\r\nb",
             "ident(a)@1:0-1:1 nl@1:1-2:0 ident(b)@3:0-3:1 nl@3:1-3:1 eof@3:1-3:1",
             "indent@2:0-2:1 tabs are not allowed in indentation; use spaces"},
        // Anything after the carriage return makes the line count, measured as before.
        Case{"carriage_return_before_a_token_counts", "a\n  b\n\r c",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:2 ident(b)@2:2-2:3 nl@2:3-3:0 dedent@3:0-3:0 "
             "ident(c)@3:2-3:3 nl@3:3-3:3 eof@3:3-3:3"},
        Case{"crlf_line_ends", "a\r\nb\r\n",
             "ident(a)@1:0-1:1 nl@1:2-2:0 ident(b)@2:0-2:1 nl@2:2-3:0 eof@3:0-3:0"},
        Case{"brackets_suspend_layout", "f(1,\n      2,\n\n 3)\nb",
             "ident(f)@1:0-1:1 `(`@1:1-1:2 num(1)@1:2-1:3 `,`@1:3-1:4 num(2)@2:6-2:7 `,`@2:7-2:8 "
             "num(3)@4:1-4:2 `)`@4:2-4:3 nl@4:3-5:0 ident(b)@5:0-5:1 nl@5:1-5:1 eof@5:1-5:1"},
        Case{"comment_inside_brackets", "[1, # one\n 2]",
             "`[`@1:0-1:1 num(1)@1:1-1:2 `,`@1:2-1:3 num(2)@2:1-2:2 `]`@2:2-2:3 nl@2:3-2:3 eof@2:3-2:3"},
        // Were the depth to go below zero, the `(` would not reopen layout suspension.
        Case{"surplus_closing_brackets", "])}\n(\n  a)\nb",
             "`]`@1:0-1:1 `)`@1:1-1:2 `}`@1:2-1:3 nl@1:3-2:0 `(`@2:0-2:1 ident(a)@3:2-3:3 `)`@3:3-3:4 "
             "nl@3:4-4:0 ident(b)@4:0-4:1 nl@4:1-4:1 eof@4:1-4:1"},
        Case{"mismatch_becomes_a_level", "a\n    b\n  c\n  d\ne",
             "ident(a)@1:0-1:1 nl@1:1-2:0 indent@2:0-2:4 ident(b)@2:4-2:5 nl@2:5-3:0 dedent@3:0-3:2 "
             "ident(c)@3:2-3:3 nl@3:3-4:0 ident(d)@4:2-4:3 nl@4:3-5:0 dedent@5:0-5:0 ident(e)@5:0-5:1 "
             "nl@5:1-5:1 eof@5:1-5:1",
             "indent@3:0-3:2 this line's indentation does not match any enclosing block"},
        Case{"spaces_only_at_end", "a\n    ", "ident(a)@1:0-1:1 nl@1:1-2:0 eof@2:4-2:4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LexerComments, RecordedInTextOrderWherever) {
  const LexOutput out = Lexer::scan("# top\na # end é\n  # alone\nb #\n[1, # in\n2]#x");
  ASSERT_EQ(out.comments.size(), 6u);
  std::string s;
  for (const Span& c : out.comments) s += span_str(c) + "/" + offsets_str(c) + " ";
  EXPECT_EQ(s, "1:0-1:5/0..5 2:2-2:9/8..16 3:2-3:9/19..26 4:2-4:3/29..30 5:4-5:8/35..39 6:2-6:4/42..44 ");
  EXPECT_EQ(kinds(out), "ident(a) nl ident(b) nl `[` num(1) `,` num(2) `]` nl eof");
}

// ---------------------------------------------------------------------------------------------------
// Numbers.

class NumberTest : public testing::TestWithParam<Case> {};

TEST_P(NumberTest, Tokens) {
  const Case& c = GetParam();
  const LexOutput out = Lexer::scan(c.text);
  EXPECT_EQ(kinds(out), c.tokens);
  EXPECT_EQ(diags(out), c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Lexer, NumberTest,
    testing::Values(
        Case{"integer", "42", "num(42) nl eof"},
        Case{"leading_zeros", "007", "num(7) nl eof"},
        Case{"fraction", "2.5", "num(2.5) nl eof"},
        Case{"percent", "15%", "num(0.15) nl eof"},
        Case{"thousands", "3k", "num(3000) nl eof"},
        Case{"fraction_thousands", "1.5k", "num(1500) nl eof"},
        Case{"k_before_symbol", "3k)", "num(3000) `)` nl eof"},
        Case{"k_starting_a_word", "3kb", "num(3) ident(kb) nl eof"},
        Case{"k_before_digit", "3k2", "num(3) ident(k2) nl eof"},
        Case{"k_before_underscore", "3k_", "num(3) ident(k_) nl eof"},
        Case{"one_suffix_only", "15%k", "num(0.15) ident(k) nl eof"},
        Case{"percent_after_k_is_a_symbol", "2k%", "num(2000) `%` nl eof"},
        Case{"trailing_dot", "1.", "num(1) `.` nl eof"},
        Case{"dot_then_word", "1.x", "num(1) `.` ident(x) nl eof"},
        Case{"two_dots_in_a_row", "1..2", "num(1) `.` `.` num(2) nl eof"},
        Case{"no_sign_no_exponent", "-1e5", "`-` num(1) ident(e5) nl eof"},
        Case{"nearest_float_ties_to_even", "9007199254740993", "num(9007199254740992) nl eof"},
        Case{"two_dots", "1.2.3", "num(nan) nl eof", "syntax@1:0-1:5 `1.2.3` is not a number"},
        Case{"two_dots_with_suffix", "x 1.2.3%", "ident(x) num(nan) nl eof",
             "syntax@1:2-1:8 `1.2.3` is not a number"},
        Case{"largest_finite", "179769313486231570000" + std::string(288, '0'), "num(1.7976931348623157e+308) nl eof"},
        Case{"too_many_digits", std::string(400, '9'), "num(nan) nl eof",
             "syntax@1:0-1:400 `" + std::string(400, '9') + "` is not a number"},
        Case{"k_overflows", "1" + std::string(306, '0') + "k", "num(nan) nl eof",
             "syntax@1:0-1:308 `1" + std::string(306, '0') + "` is not a number"},
        Case{"percent_brings_it_back_no_further", "2" + std::string(308, '0') + "%", "num(nan) nl eof",
             "syntax@1:0-1:310 `2" + std::string(308, '0') + "` is not a number"},
        Case{"underflow_is_zero", "0." + std::string(400, '0') + "1", "num(0) nl eof"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LexerNumbers, NotANumberNeverEqualsItself) {
  const LexOutput out = Lexer::scan("1.2.3");
  ASSERT_TRUE(out.tokens[0].is_number());
  EXPECT_NE(out.tokens[0].kind, out.tokens[0].kind);
  EXPECT_EQ(out.tokens[1].kind, TokenKind(tok::Newline{}));
}

// ---------------------------------------------------------------------------------------------------
// Text literals.

class TextTest : public testing::TestWithParam<Case> {};

TEST_P(TextTest, Tokens) {
  const Case& c = GetParam();
  const LexOutput out = Lexer::scan(c.text);
  EXPECT_EQ(with_spans(out), c.tokens);
  EXPECT_EQ(diags(out), c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Lexer, TextTest,
    testing::Values(
        Case{"empty", "\"\"", "text[]@1:0-1:2 nl@1:2-1:2 eof@1:2-1:2"},
        Case{"escapes", R"("a\nb\tc\rd\"e\\f\{g\qh")",
             R"(text["a\nb\tc\rd"e\f{gqh"]@1:0-1:24 nl@1:24-1:24 eof@1:24-1:24)"},
        Case{"escaped_line_feed_stays_open", "\"a\\\nb\"", "text[\"a\\nb\"]@1:0-2:2 nl@2:2-2:2 eof@2:2-2:2"},
        Case{"doubled_braces", "\"{{a}} }\"", "text[\"{a} }\"]@1:0-1:9 nl@1:9-1:9 eof@1:9-1:9"},
        Case{"only_an_interpolation", "\"{x}\"", "text[{x}]@1:0-1:5 nl@1:5-1:5 eof@1:5-1:5"},
        Case{"runs_and_interpolations", "\"a{x}b{y.z}{w}\"",
             "text[\"a\" {x} \"b\" {y.z} {w}]@1:0-1:15 nl@1:15-1:15 eof@1:15-1:15"},
        Case{"nested_braces", "\"{ {a: 1}.a }\"", "text[{ {a: 1}.a }]@1:0-1:14 nl@1:14-1:14 eof@1:14-1:14"},
        Case{"quoted_brace_in_interpolation", "\"{f(\"}\")}!\"",
             "text[{f(\"}\")} \"!\"]@1:0-1:11 nl@1:11-1:11 eof@1:11-1:11"},
        Case{"backslash_kept_in_interpolation_source", "\"{g(\"\\n\")}\"",
             "text[{g(\"\\n\")}]@1:0-1:11 nl@1:11-1:11 eof@1:11-1:11"},
        Case{"triple_quoted", "\"\"\"a \"b\" \"\"c\nd\"\"\"",
             "text3[\"a \"b\" \"\"c\\nd\"]@1:0-2:4 nl@2:4-2:4 eof@2:4-2:4"},
        Case{"triple_quoted_empty", "\"\"\"\"\"\"x", "text3[]@1:0-1:6 ident(x)@1:6-1:7 nl@1:7-1:7 eof@1:7-1:7"},
        Case{"empty_then_word", "\"\"x", "text[]@1:0-1:2 ident(x)@1:2-1:3 nl@1:3-1:3 eof@1:3-1:3"},
        Case{"line_feed_in_ordinary_interpolation", "\"{a\n+ b}\"",
             "text[{a\\n+ b}]@1:0-2:5 nl@2:5-2:5 eof@2:5-2:5"},
        Case{"tab_is_ordinary_inside", "\"a\tb\"", "text[\"a\\tb\"]@1:0-1:5 nl@1:5-1:5 eof@1:5-1:5"},
        Case{"broken_by_line_feed", "x = \"abc\ny",
             "ident(x)@1:0-1:1 `=`@1:2-1:3 text[\"abc\"]@1:4-1:8 nl@1:8-2:0 ident(y)@2:0-2:1 nl@2:1-2:1 "
             "eof@2:1-2:1",
             "syntax@1:4-1:8 unterminated text literal"},
        Case{"ends_at_end_of_text", "\"ab", "text[\"ab\"]@1:0-1:3 nl@1:3-1:3 eof@1:3-1:3",
             "syntax@1:0-1:3 unterminated text literal"},
        Case{"backslash_at_end_of_text", "\"a\\", "text[\"a\\\"]@1:0-1:3 nl@1:3-1:3 eof@1:3-1:3",
             "syntax@1:0-1:3 unterminated text literal"},
        Case{"triple_quoted_unclosed", "\"\"\"a\n\"\"", "text3[\"a\\n\"\"\"]@1:0-2:2 nl@2:2-2:2 eof@2:2-2:2",
             "syntax@1:0-2:2 unterminated text literal"},
        Case{"interpolation_unclosed", "\"a{b(\"}\"",
             "text[\"a\" {b(\"}\"}]@1:0-1:8 nl@1:8-1:8 eof@1:8-1:8",
             "syntax@1:3-1:8 unterminated interpolation; syntax@1:0-1:8 unterminated text literal"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LexerText, InterpolationSpansCoverExactlyTheSource) {
  const std::string text = "x = \"ab{c + 1}é{d}{\ne}\"";
  const LexOutput out = Lexer::scan(text);
  ASSERT_EQ(diags(out), "");
  ASSERT_EQ(kinds(out), "ident(x) `=` text[\"ab\" {c + 1} \"é\" {d} {\\ne}] nl eof");
  const auto& parts = std::get<tok::Text>(out.tokens[2].kind).parts;
  std::vector<std::string> spans;
  for (const auto& part : parts) {
    if (auto* interp = std::get_if<TextInterpolationPart>(&part)) {
      spans.push_back(span_str(interp->span) + "/" + offsets_str(interp->span));
      // The source is the very bytes the span covers, so its positions can be moved into the file.
      EXPECT_EQ(text.substr(interp->span.start.offset, interp->span.end.offset - interp->span.start.offset),
                interp->source);
    }
  }
  EXPECT_EQ(spans, (std::vector<std::string>{"1:8-1:13/8..13", "1:16-1:17/17..18", "1:19-2:1/20..22"}));
}

TEST(LexerText, InterpolationSourceLexesOnItsOwn) {
  const LexOutput out = Lexer::scan("\"{items[0].name + \"!\"}\"");
  const auto& part = std::get<TextInterpolationPart>(std::get<tok::Text>(out.tokens[0].kind).parts.at(0));
  auto inner = lex(part.source);
  ASSERT_TRUE(inner.ok());
  std::string s;
  for (const Token& t : *inner) s += kind_str(t.kind) + " ";
  EXPECT_EQ(s, "ident(items) `[` num(0) `]` `.` ident(name) `+` text[\"!\"] nl eof ");
}

// ---------------------------------------------------------------------------------------------------
// Identifiers and stray characters.

TEST(LexerWords, UppercaseLettersAreReportedButKeptAsWritten) {
  const LexOutput out = Lexer::scan("Foo IF x_Y if");
  EXPECT_EQ(kinds(out), "ident(Foo) ident(IF) ident(x_Y) kw(if) nl eof");
  EXPECT_EQ(diags(out),
            "uppercase_identifier@1:0-1:3 `Foo` contains an uppercase letter; identifiers are lowercase; "
            "uppercase_identifier@1:4-1:6 `IF` contains an uppercase letter; identifiers are lowercase; "
            "uppercase_identifier@1:7-1:10 `x_Y` contains an uppercase letter; identifiers are lowercase");
}

class UnexpectedTest : public testing::TestWithParam<Case> {};

TEST_P(UnexpectedTest, ReportedAndDropped) {
  const Case& c = GetParam();
  const LexOutput out = Lexer::scan(c.text);
  EXPECT_EQ(kinds(out), c.tokens);
  std::string s;
  for (const Diagnostic& d : out.diagnostics)
    s += std::string(diagnostic_code_name(d.code)) + "@" + span_str(d.span) + "/" + offsets_str(d.span) + " " +
         d.message + ";";
  EXPECT_EQ(s, c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Lexer, UnexpectedTest,
    testing::Values(
        Case{"lone_bang", "a ! b", "ident(a) ident(b) nl eof", "syntax@1:2-1:3/2..3 unexpected character `!`;"},
        Case{"bang_equals", "a != b", "ident(a) `!=` ident(b) nl eof", ""},
        Case{"at_sign", "@x", "ident(x) nl eof", "syntax@1:0-1:1/0..1 unexpected character `@`;"},
        Case{"control_character", std::string("a\x01"), "ident(a) nl eof",
             "syntax@1:1-1:2/1..2 unexpected character `\x01`;"},
        Case{"nul_byte", std::string("a\0b", 3), "ident(a) ident(b) nl eof",
             std::string("syntax@1:1-1:2/1..2 unexpected character `") + '\0' + "`;"},
        Case{"non_ascii_letter", "é", "eof", "syntax@1:0-1:1/0..2 unexpected character `é`;"},
        Case{"cjk_after_word", "ab日", "ident(ab) nl eof", "syntax@1:2-1:3/2..5 unexpected character `日`;"},
        Case{"astral", "\xF0\x9F\x98\x80", "eof", "syntax@1:0-1:1/0..4 unexpected character `\xF0\x9F\x98\x80`;"},
        // Each malformed byte is one character U+FFFD, one column and one byte wide.
        Case{"invalid_byte", "a\xFF" "b", "ident(a) ident(b) nl eof",
             "syntax@1:1-1:2/1..2 unexpected character `\xEF\xBF\xBD`;"},
        Case{"truncated_sequence_at_end", "a\xE6\x97", "ident(a) nl eof",
             "syntax@1:1-1:2/1..2 unexpected character `\xEF\xBF\xBD`;"
             "syntax@1:2-1:3/2..3 unexpected character `\xEF\xBF\xBD`;"},
        Case{"overlong_slash", "\xC0\xAFx", "ident(x) nl eof",
             "syntax@1:0-1:1/0..1 unexpected character `\xEF\xBF\xBD`;"
             "syntax@1:1-1:2/1..2 unexpected character `\xEF\xBF\xBD`;"},
        Case{"encoded_surrogate", "\xED\xA0\x80", "eof",
             "syntax@1:0-1:1/0..1 unexpected character `\xEF\xBF\xBD`;"
             "syntax@1:1-1:2/1..2 unexpected character `\xEF\xBF\xBD`;"
             "syntax@1:2-1:3/2..3 unexpected character `\xEF\xBF\xBD`;"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LexerText, InvalidBytesInsideLiteralsBecomeReplacementCharacters) {
  const std::string text = "\"a\xFF\xE6\x97{x\xFF}\"\nb";
  const LexOutput out = Lexer::scan(text);
  EXPECT_EQ(diags(out), "");
  ASSERT_EQ(kinds(out), "text[\"a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\" {x\xFF}] nl ident(b) nl eof");
  EXPECT_EQ(span_str(out.tokens[0].span), "1:0-1:10");
  EXPECT_EQ(offsets_str(out.tokens[0].span), "0..10");
  // The interpolation keeps its raw bytes: relexed, the bad byte is reported where it stands in the file.
  const auto& part = std::get<TextInterpolationPart>(std::get<tok::Text>(out.tokens[0].kind).parts.at(1));
  EXPECT_EQ(offsets_str(part.span), "6..8");
  EXPECT_EQ(part.source.size(), 2u);
  EXPECT_EQ(span_str(out.tokens[2].span), "2:0-2:1");
  EXPECT_EQ(out.tokens[2].span.start.offset, 11u);
}

// ---------------------------------------------------------------------------------------------------
// lex

TEST(Lex, SucceedsWithTokensOrFailsWithEveryDiagnostic) {
  auto good = lex("a # c\n");
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good->size(), 3u);

  auto bad = lex("A\n\tb !\n\"x");
  ASSERT_FALSE(bad.ok());
  ASSERT_EQ(bad.error().size(), 4u);
  EXPECT_EQ(bad.error()[0].code, DiagnosticCode::UppercaseIdentifier);
  EXPECT_EQ(bad.error()[1].code, DiagnosticCode::Indent);
  EXPECT_EQ(bad.error()[2].message, "unexpected character `!`");
  EXPECT_EQ(bad.error()[3].message, "unterminated text literal");
  for (const Diagnostic& d : bad.error()) {
    EXPECT_EQ(d.severity, Severity::Error);
    EXPECT_FALSE(d.file.has_value());
    EXPECT_TRUE(d.related.empty());
  }
}

// ---------------------------------------------------------------------------------------------------
// Whatever the bytes, the scan finishes and its output is well formed: positions agree with offsets,
// spans advance, the list ends in Eof, and Newline tokens never lead or repeat.

// Line and column of every character-start offset, counted from the front independently of the lexer.
std::vector<Pos> positions_of(std::string_view text) {
  std::vector<Pos> at(text.size() + 1, Pos{0, 0, 0});
  Pos p{1, 0, 0};
  size_t i = 0;
  while (i < text.size()) {
    at[i] = p;
    const Utf8Char ch = decode_utf8(text, i);
    i += ch.length;
    p.offset = static_cast<uint32_t>(i);
    if (ch.code == '\n') {
      ++p.line;
      p.column = 0;
    } else {
      ++p.column;
    }
  }
  at[i] = p;
  return at;
}

void expect_well_formed(const std::string& text) {
  SCOPED_TRACE(testing::Message() << "text: " << testing::PrintToString(text));
  const LexOutput out = Lexer::scan(text);
  const std::vector<Pos> at = positions_of(text);
  auto check_span = [&](const Span& s) {
    ASSERT_LE(s.start.offset, s.end.offset);
    ASSERT_LE(s.end.offset, text.size());
    EXPECT_EQ(s.start, at[s.start.offset]);
    EXPECT_EQ(s.end, at[s.end.offset]);
  };
  ASSERT_FALSE(out.tokens.empty());
  EXPECT_TRUE(out.tokens.back().is_eof());
  EXPECT_FALSE(out.tokens.front().is_newline());
  uint32_t last_end = 0;
  int depth = 0;
  for (size_t i = 0; i < out.tokens.size(); ++i) {
    const Token& t = out.tokens[i];
    check_span(t.span);
    EXPECT_GE(t.span.start.offset, last_end);
    last_end = t.span.end.offset;
    EXPECT_FALSE(i > 0 && t.is_newline() && out.tokens[i - 1].is_newline());
    depth += t.is_indent() ? 1 : t.is_dedent() ? -1 : 0;
    EXPECT_EQ(t.is_eof(), i + 1 == out.tokens.size());
    if (auto* text_tok = std::get_if<tok::Text>(&t.kind)) {
      for (size_t k = 0; k < text_tok->parts.size(); ++k) {
        if (auto* lit = std::get_if<TextLiteralPart>(&text_tok->parts[k])) {
          EXPECT_FALSE(lit->text.empty());
          EXPECT_FALSE(k > 0 && std::holds_alternative<TextLiteralPart>(text_tok->parts[k - 1]));
        } else {
          check_span(std::get<TextInterpolationPart>(text_tok->parts[k]).span);
        }
      }
    }
  }
  // Indent and Dedent pair up; only a mismatched line, which is an error, pushes a level silently.
  if (out.diagnostics.empty()) {
    EXPECT_EQ(depth, 0);
  }
  for (const Span& c : out.comments) check_span(c);
  for (const Diagnostic& d : out.diagnostics) check_span(d.span);
}

TEST(LexerRobustness, RandomTextsGiveWellFormedOutput) {
  const std::vector<std::string> fragments = {
      " ", "  ", "\n", "\r", "\t", "#", "\"", "\"\"\"", "{", "}", "{{", "(", ")", "[", "]", "\\", "a", "Ab",
      "if", "1", "2.5", ".", "%", "k", "!", "=", "-", ">", "é", "日", "\xFF", "\xE6\x97", "\xF0\x9F\x98\x80", "\0"};
  std::mt19937 rng(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 24);
    for (int i = 0; i < n; ++i) text += fragments[rng() % fragments.size()];
    expect_well_formed(text);
    if (HasFailure()) break;
  }
}

// ---------------------------------------------------------------------------------------------------
// UTF-8 decoding.

TEST(Utf8, DecodesWellFormedAndReplacesEachMalformedByte) {
  struct D {
    std::string bytes;
    char32_t code;
    uint32_t length;
  };
  const D cases[] = {
      {"A", 'A', 1},
      {"\xC3\xA9", 0xE9, 2},
      {"\xE6\x97\xA5", 0x65E5, 3},
      {"\xF0\x9F\x98\x80", 0x1F600, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      {"\xEF\xBF\xBD", 0xFFFD, 3},
      {"\x80", 0xFFFD, 1},              // stray continuation byte
      {"\xC1\xBF", 0xFFFD, 1},          // overlong two-byte form
      {"\xE0\x9F\xBF", 0xFFFD, 1},      // overlong three-byte form
      {"\xED\xA0\x80", 0xFFFD, 1},      // surrogate
      {"\xF4\x90\x80\x80", 0xFFFD, 1},  // past U+10FFFF
      {"\xF5\x80\x80\x80", 0xFFFD, 1},
      {"\xE6\x97", 0xFFFD, 1},          // cut short by the end
      {"\xE6\x41\xA5", 0xFFFD, 1},      // cut short by an ASCII byte
  };
  for (const D& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    const Utf8Char ch = decode_utf8(c.bytes, 0);
    EXPECT_EQ(static_cast<uint32_t>(ch.code), static_cast<uint32_t>(c.code));
    EXPECT_EQ(ch.length, c.length);
    if (c.code != 0xFFFD || c.length == 3) {
      std::string round;
      append_utf8(round, ch.code);
      EXPECT_EQ(round, c.bytes);
    }
  }
}

}  // namespace
}  // namespace dravelin::syntax
