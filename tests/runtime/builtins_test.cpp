// Built-in dispatch, parameter lookup and the exact wording of every argument failure.
#include "runtime/builtins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "builtins_test_support.h"
#include "support/numbers.h"

namespace dravelin::runtime::testing {
namespace {

using test_numbers::kNaN;

TEST(BuiltinNames, ExactlyTheTwentyThreeNames) {
  const std::vector<std::string> names = {"len",   "max",  "min",  "sum",   "top",    "now",   "zip",    "join",
                                          "head",  "tail", "hash", "keys",  "text",   "bool",  "count",  "split",
                                          "lines", "chunk", "items", "tokens", "random", "values", "number"};
  for (const std::string& name : names) EXPECT_TRUE(is_builtin(name)) << name;
  for (const char* name : {"", "Len", "len ", "std.len", "focus", "trail", "log", "print", "round", "abs"}) {
    EXPECT_FALSE(is_builtin(name)) << name;
  }
}

using BuiltinArguments = BuiltinsTest;

TEST_F(BuiltinArguments, PositionalWinsOverNamedAndExtrasAreIgnored) {
  const ResultCase cases[] = {
      {"len", named({{"x", txt("abc")}}), num(3)},
      {"len", args({txt("ab")}, {{"x", list({num(1), num(2), num(3)})}}), num(2)},
      {"len", args({txt("ab"), num(5)}, {{"other", num(1)}}), num(2)},
      {"head", args({txt("abcdef")}, {{"n", num(2)}}), txt("ab")},
      {"zip", named({{"ys", list({num(2)})}, {"xs", list({num(1)})}}), list({list({num(1), num(2)})})},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(BuiltinArguments, UnknownNameIsRefusedNotTrusted) {
  expect_failure({"nope", args({num(1)}), "`nope` is not a built-in function"});
}

// Every failure a built-in raises itself, in the order its checks run.
TEST_F(BuiltinArguments, FailuresAreWordedExactly) {
  const List three = {txt("a"), txt("b"), txt("c")};
  const FailureCase cases[] = {
      // Missing parameters, and a later parameter looked at only once the earlier ones pass.
      {"len", args({}), "`len` needs an argument `x`"},
      {"hash", args({}), "`hash` needs an argument `x`"},
      {"tokens", named({{"text", txt("a")}}), "`tokens` needs an argument `x`"},
      {"top", args({list(three)}), "`top` needs an argument `by`"},
      {"top", args({num(5)}), "expected a list for `top`, got number"},
      {"top", args({list(three), list({num(1), num(2), num(3)})}), "`top` needs an argument `n`"},
      {"split", args({txt("a,b")}), "`split` needs an argument `sep`"},
      {"chunk", args({txt("abc")}), "`chunk` needs an argument `tokens`"},
      {"number", args({}), "`number` needs an argument `x`"},

      {"len", args({rec({{"a", num(1)}})}), "expected a list or text for `len`, got record"},
      {"len", args({num(3)}), "expected a list or text for `len`, got number"},
      {"max", args({list({num(1), txt("a")})}), "expected a number for `max`, got text"},
      {"max", args({txt("1,2")}), "expected a list for `max`, got text"},
      {"min", args({Value::none()}), "expected a list for `min`, got none"},
      {"sum", args({list({num(1), boolean(true)})}), "expected a number for `sum`, got bool"},

      {"top", args({list(three), list({num(0.1), txt("x"), num(0.3)}), num(1)}),
       "expected a number for `top`, got text"},
      {"top", args({list(three), num(0.5), num(1)}), "expected a list for `top`, got number"},
      {"top", args({list(three), list({num(0.2), num(0.9), num(0.9)}), txt("2")}),
       "expected a number for `top(..., n k)`, got text"},
      {"top", args({list(three), list({num(0.2), num(0.9)}), num(2)}), "`top` pairs 3 items with 2 probs"},

      {"zip", args({num(1), list({})}), "expected a list for `zip`, got number"},
      {"zip", args({list({}), txt("ab")}), "expected a list for `zip`, got text"},
      {"zip", args({Value::none(), txt("ab")}), "expected a list for `zip`, got none"},
      {"join", args({txt("abc"), txt(",")}), "expected a list for `join`, got text"},

      {"head", args({list({}), num(1)}), "expected a text for `head`, got list"},
      {"head", args({txt("abc"), txt("2")}), "expected a number for head, got text"},
      {"tail", args({txt("abc"), boolean(true)}), "expected a number for tail, got bool"},
      {"tail", args({prob(0.5), num(1)}), "expected a text for `tail`, got prob"},

      {"keys", args({list({})}), "expected a record for `keys`, got list"},
      {"items", args({txt("a")}), "expected a record for `items`, got text"},
      {"values", args({Value::none()}), "expected a record for `values`, got none"},

      // `count` checks every item before it looks at its bounds, which are named only.
      {"count", args({list({num(0.1), txt("x")})}), "expected a number for `count`, got text"},
      {"count", args({list({num(0.2)})}), "`count` needs exactly one of `above` or `below`"},
      {"count", args({list({num(0.2)}), num(0.5)}), "`count` needs exactly one of `above` or `below`"},
      {"count", args({list({num(0.2)})}, {{"above", num(0.1)}, {"below", num(0.9)}}),
       "`count` needs exactly one of `above` or `below`"},
      {"count", args({list({num(0.2)})}, {{"above", txt("0.1")}}),
       "expected a number for `count(..., above p)`, got text"},
      {"count", args({list({num(0.2)})}, {{"below", Value::none()}}),
       "expected a number for `count(..., below p)`, got none"},

      {"split", args({num(1), txt(",")}), "expected a text for `split`, got number"},
      {"split", args({txt("a,b"), list({})}), "expected a text for `split`, got list"},
      {"split", args({txt("a,b"), txt("")}), "`split` needs a non-empty separator"},
      {"lines", args({num(1)}), "expected a text for `lines`, got number"},

      {"chunk", args({list({}), num(3)}), "expected a text for `chunk`, got list"},
      {"chunk", args({txt("abc"), txt("3")}), "expected a number for `chunk(..., tokens n)`, got text"},
      {"chunk", args({txt("abc"), num(0)}), "`chunk` needs a token count of at least one"},
      {"chunk", args({txt("abc"), num(0.5)}), "`chunk` needs a token count of at least one"},
      {"chunk", args({txt("abc"), num(-4)}), "`chunk` needs a token count of at least one"},
      {"chunk", args({txt("abc"), num(kNaN)}), "`chunk` needs a token count of at least one"},

      {"number", args({Value::none()}), "expected a number, bool or text for `number`, got none"},
      {"number", args({list({txt("1")})}), "expected a number, bool or text for `number`, got list"},
  };
  for (const FailureCase& c : cases) expect_failure(c);
}

}  // namespace
}  // namespace dravelin::runtime::testing
