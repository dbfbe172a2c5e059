// Built-ins over texts: join, head, tail, text, split, lines and the reading rules of number.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "builtins_test_support.h"
#include "support/numbers.h"

namespace dravelin::runtime::testing {
namespace {

using test_numbers::kInf;

using TextBuiltins = BuiltinsTest;

TEST_F(TextBuiltins, JoinRendersItemsAndPicksItsSeparator) {
  const Value mixed = list({txt("a"), num(1), boolean(true)});
  const ResultCase cases[] = {
      {"join", args({mixed}), txt("a\n1\ntrue")},
      {"join", args({mixed, txt(", ")}), txt("a, 1, true")},
      {"join", args({mixed}, {{"sep", txt(", ")}}), txt("a, 1, true")},
      // A second positional argument is the separator even when `sep` is named too.
      {"join", args({mixed, txt("+")}, {{"sep", txt(", ")}}), txt("a+1+true")},
      {"join", args({list({txt("a"), txt("b")}), num(0.5)}), txt("a0.5b")},
      {"join", args({list({txt("a"), txt("b")})}, {{"sep", Value::none()}}), txt("ab")},
      {"join", named({{"texts", list({txt("x"), list({num(1), num(2)})})}}), txt("x\n[1,2]")},
      {"join", args({list({})}), txt("")},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(TextBuiltins, HeadAndTailCountCharactersNotBytes) {
  const ResultCase cases[] = {
      {"head", args({txt("abc"), num(5)}), txt("abc")},
      {"head", args({txt("abc"), num(-1)}), txt("")},
      {"head", args({txt("abc"), num(1.9)}), txt("a")},
      {"head", args({txt("abc"), num(std::nan(""))}), txt("")},
      {"head", args({txt("abc"), num(kInf)}), txt("abc")},
      {"head", args({txt("h\u00e9llo"), num(2)}), txt("h\u00e9")},
      {"head", args({txt("\U0001F44Dx"), prob(1)}), txt("\U0001F44D")},
      {"tail", args({txt("abc"), num(2)}), txt("bc")},
      {"tail", args({txt("abc"), num(10)}), txt("abc")},
      {"tail", args({txt("abc"), num(0)}), txt("")},
      {"tail", args({txt("abc"), num(-2)}), txt("")},
      {"tail", args({txt("h\u00e9llo"), num(4)}), txt("\u00e9llo")},
      {"tail", args({txt("ab\U0001F44D"), num(1)}), txt("\U0001F44D")},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(TextBuiltins, TextRendersAnyValue) {
  PauseResult answer;
  answer.answer = "yes";
  const ResultCase cases[] = {
      {"text", args({num(3)}), txt("3")},
      {"text", args({Value::none()}), txt("")},
      {"text", args({prob(0.75)}), txt("0.75")},
      {"text", args({list({txt("a"), txt("b")})}), txt("[\"a\",\"b\"]")},
      {"text", args({Value::pause_result(answer)}), txt("{\"answer\":\"yes\",\"text\":null}")},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(TextBuiltins, SplitKeepsEmptyPiecesAndNeverOverlaps) {
  const ResultCase cases[] = {
      {"split", args({txt("a,,b"), txt(",")}), list({txt("a"), txt(""), txt("b")})},
      {"split", args({txt(""), txt(",")}), list({txt("")})},
      {"split", args({txt(",a"), txt(",")}), list({txt(""), txt("a")})},
      {"split", args({txt("a,"), txt(",")}), list({txt("a"), txt("")})},
      {"split", args({txt("a::b::c"), txt("::")}), list({txt("a"), txt("b"), txt("c")})},
      {"split", args({txt("aaa"), txt("aa")}), list({txt(""), txt("a")})},
      {"split", args({txt("abc"), txt("x")}), list({txt("abc")})},
      {"split", named({{"text", txt("1 2")}, {"sep", txt(" ")}}), list({txt("1"), txt("2")})},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(TextBuiltins, LinesCutAtLineFeedsAndDropTheirCarriageReturns) {
  const ResultCase cases[] = {
      {"lines", args({txt("a\r\nb\n")}), list({txt("a"), txt("b")})},
      {"lines", args({txt("a\n\nb")}), list({txt("a"), txt(""), txt("b")})},
      {"lines", args({txt("")}), list({})},
      {"lines", args({txt("\n")}), list({txt("")})},
      {"lines", args({txt("\n\n")}), list({txt(""), txt("")})},
      {"lines", args({txt("one")}), list({txt("one")})},
      // A carriage return inside a line stays; only one directly before the line's end goes.
      {"lines", args({txt("a\rb\r\r\nc")}), list({txt("a\rb\r"), txt("c")})},
      {"lines", args({txt("a\r")}), list({txt("a")})},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(TextBuiltins, NumberReadsTextsWithSuffixesAndWhiteSpace) {
  const ResultCase cases[] = {
      {"number", args({txt("42")}), num(42)},
      {"number", args({txt("  12.5 \n")}), num(12.5)},
      {"number", args({txt("50%")}), num(0.5)},
      {"number", args({txt("12 %")}), num(0.12)},
      {"number", args({txt(" 7.5 % ")}), num(0.075)},
      {"number", args({txt("3k")}), num(3000)},
      {"number", args({txt("2.5 k")}), num(2500)},
      {"number", args({txt("1e3")}), num(1000)},
      {"number", args({txt("1E-2")}), num(0.01)},
      {"number", args({txt("+2")}), num(2)},
      {"number", args({txt("-3.25")}), num(-3.25)},
      {"number", args({txt(".5")}), num(0.5)},
      {"number", args({txt("5.")}), num(5)},
      {"number", args({txt("007")}), num(7)},
      // Unicode White_Space, not only ASCII: no-break space, ideographic space, line separator, NEL.
      {"number", args({txt("\u00a0 7\u3000")}), num(7)},
      {"number", args({txt("\u2028\u00859\u202f")}), num(9)},
      {"number", args({txt("inf")}), num(kInf)},
      {"number", args({txt("-Infinity")}), num(-kInf)},
      {"number", args({txt("INF%")}), num(kInf)},
      {"number", args({txt("1e400")}), num(kInf)},
      {"number", args({txt("-1e400")}), num(-kInf)},
      {"number", args({txt("1e-400")}), num(0)},
      {"number", args({txt("4.9e-324")}), num(4.9e-324)},
      {"number", args({boolean(true)}), num(1)},
      {"number", args({boolean(false)}), num(0)},
      {"number", args({prob(0.3)}), num(0.3)},
      {"number", args({num(-8)}), num(-8)},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(TextBuiltins, NumberKeepsSignsOfZeroAndNaN) {
  Value negative_zero = call("number", args({txt("-0")})).value();
  ASSERT_TRUE(negative_zero.is_number());
  EXPECT_TRUE(std::signbit(negative_zero.as_number()));

  for (const char* text : {"nan", "NaN", "-nan", " NAN ", "nan%", "nank"}) {
    Value v = call("number", args({txt(text)})).value();
    ASSERT_TRUE(v.is_number()) << text;
    EXPECT_TRUE(std::isnan(v.as_number())) << text;
  }
}

TEST_F(TextBuiltins, NumberRefusesEverythingElseQuotingTheTextAsGiven) {
  const FailureCase cases[] = {
      {"number", args({txt("3K")}), "`number` cannot read \"3K\" as a number"},
      {"number", args({txt("")}), "`number` cannot read \"\" as a number"},
      {"number", args({txt("   ")}), "`number` cannot read \"   \" as a number"},
      {"number", args({txt("%")}), "`number` cannot read \"%\" as a number"},
      {"number", args({txt(" k ")}), "`number` cannot read \" k \" as a number"},
      {"number", args({txt("12%%")}), "`number` cannot read \"12%%\" as a number"},
      {"number", args({txt("5k%")}), "`number` cannot read \"5k%\" as a number"},
      {"number", args({txt("1e")}), "`number` cannot read \"1e\" as a number"},
      {"number", args({txt("e3")}), "`number` cannot read \"e3\" as a number"},
      {"number", args({txt(".")}), "`number` cannot read \".\" as a number"},
      {"number", args({txt("-")}), "`number` cannot read \"-\" as a number"},
      {"number", args({txt("+-1")}), "`number` cannot read \"+-1\" as a number"},
      {"number", args({txt("0x10")}), "`number` cannot read \"0x10\" as a number"},
      {"number", args({txt("1_000")}), "`number` cannot read \"1_000\" as a number"},
      {"number", args({txt("1,5")}), "`number` cannot read \"1,5\" as a number"},
      {"number", args({txt("nan(1)")}), "`number` cannot read \"nan(1)\" as a number"},
      {"number", args({txt("infin")}), "`number` cannot read \"infin\" as a number"},
      {"number", args({txt("1 2")}), "`number` cannot read \"1 2\" as a number"},
      // Quotes, backslashes and control characters are escaped; other characters pass unchanged.
      {"number", args({txt(" x\t\"\\\n")}), "`number` cannot read \" x\\t\\\"\\\\\\n\" as a number"},
      {"number", args({txt(std::string("a\0b\x1b", 4))}), "`number` cannot read \"a\\0b\\u{1b}\" as a number"},
      {"number", args({txt("\u00e9\u0085")}), "`number` cannot read \"\u00e9\\u{85}\" as a number"},
  };
  for (const FailureCase& c : cases) expect_failure(c);
}

}  // namespace
}  // namespace dravelin::runtime::testing
