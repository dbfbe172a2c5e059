// Built-ins over lists and records: len, max, min, sum, top, zip, keys, items, values, count and chunk.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "builtins_test_support.h"
#include "support/numbers.h"

namespace dravelin::runtime::testing {
namespace {

using test_numbers::kNaN;

using ListBuiltins = BuiltinsTest;

TEST_F(ListBuiltins, LenCountsCharactersAndItems) {
  const ResultCase cases[] = {
      {"len", args({txt("h\u00e9llo")}), num(5)},
      {"len", args({txt("\U0001F44Da")}), num(2)},
      {"len", args({txt("")}), num(0)},
      {"len", args({list({num(1), list({num(2), num(3)})})}), num(2)},
      {"len", args({list({})}), num(0)},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(ListBuiltins, MaxMinAndSumGiveNumbers) {
  const ResultCase cases[] = {
      {"max", args({list({})}), Value::none()},
      {"min", args({list({})}), Value::none()},
      {"max", args({list({num(3), num(-1), num(7), num(2)})}), num(7)},
      {"min", args({list({num(3), num(-1), num(7), num(2)})}), num(-1)},
      // Probs go in, a number comes out.
      {"max", args({list({prob(0.3), prob(0.8)})}), num(0.8)},
      {"min", args({list({prob(0.3), num(0.8)})}), num(0.3)},
      // NaN items are passed over wherever they stand.
      {"max", args({list({num(kNaN), num(1), num(3), num(kNaN)})}), num(3)},
      {"min", args({list({num(3), num(kNaN), num(1)})}), num(1)},
      {"max", args({list({num(-std::numeric_limits<double>::infinity()), num(kNaN)})}),
       num(-std::numeric_limits<double>::infinity())},
      {"sum", args({list({num(1), num(2.5), prob(0.5)})}), num(4)},
      {"sum", named({{"xs", list({num(0.1), num(0.2)})}}), num(0.1 + 0.2)},
  };
  for (const ResultCase& c : cases) expect_result(c);

  Value all_nan = call("max", args({list({num(kNaN), num(kNaN)})})).value();
  ASSERT_TRUE(all_nan.is_number());
  EXPECT_TRUE(std::isnan(all_nan.as_number()));
}

TEST_F(ListBuiltins, EmptySumIsNegativeZero) {
  Value sum = call("sum", args({list({})})).value();
  ASSERT_TRUE(sum.is_number());
  EXPECT_TRUE(std::signbit(sum.as_number()));
  EXPECT_EQ(sum.to_text(), "-0");
  EXPECT_TRUE(sum.loosely_equals(num(0)));
}

TEST_F(ListBuiltins, TopIsStableAndCopiesTheKeptItems) {
  const Value items = list({txt("a"), txt("b"), txt("c")});
  const Value scores = list({num(0.2), prob(0.9), num(0.9)});
  const ResultCase cases[] = {
      {"top", args({items, scores, num(2)}), list({txt("b"), txt("c")})},
      {"top", args({items, scores, num(0)}), list({})},
      {"top", args({items, scores, num(10)}), list({txt("b"), txt("c"), txt("a")})},
      {"top", args({items, scores, num(1.9)}), list({txt("b")})},
      {"top", args({items, scores, num(-1)}), list({})},
      {"top", args({items, scores, num(kNaN)}), list({})},
      {"top", args({list({}), list({}), num(3)}), list({})},
      {"top", named({{"items", items}, {"by", list({num(1), num(2), num(3)})}, {"n", num(2)}}),
       list({txt("c"), txt("b")})},
      // Equal scores keep their input order however many there are.
      {"top", args({list({num(0), num(1), num(2), num(3), num(4)}), list({num(1), num(1), num(5), num(1), num(1)}),
                    num(5)}),
       list({num(2), num(0), num(1), num(3), num(4)})},
      // NaN scores rank below every other score, in input order.
      {"top", args({list({txt("w"), txt("x"), txt("y"), txt("z")}),
                    list({num(kNaN), num(0.5), num(kNaN), num(-1)}), num(4)}),
       list({txt("x"), txt("z"), txt("w"), txt("y")})},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(ListBuiltins, ZipPairsUpToTheShorterList) {
  const ResultCase cases[] = {
      {"zip", args({list({num(1), num(2), num(3)}), list({txt("x"), txt("y")})}),
       list({list({num(1), txt("x")}), list({num(2), txt("y")})})},
      {"zip", args({list({}), list({num(1)})}), list({})},
      {"zip", args({list({list({num(1)})}), list({rec({{"a", num(2)}})})}),
       list({list({list({num(1)}), rec({{"a", num(2)}})})})},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(ListBuiltins, RecordsListInFieldOrder) {
  const Value r = rec({{"b", num(1)}, {"a", list({num(2)})}});
  const ResultCase cases[] = {
      {"keys", args({r}), list({txt("a"), txt("b")})},
      {"values", args({r}), list({list({num(2)}), num(1)})},
      {"items", args({r}), list({list({txt("a"), list({num(2)})}), list({txt("b"), num(1)})})},
      {"keys", args({rec({})}), list({})},
      {"items", args({rec({})}), list({})},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(ListBuiltins, CountIsStrictAndSkipsNaN) {
  const Value probs = list({num(0.2), prob(0.7), num(0.9), num(kNaN)});
  const ResultCase cases[] = {
      {"count", args({probs}, {{"above", num(0.7)}}), num(1)},
      {"count", args({probs}, {{"below", num(0.7)}}), num(1)},
      {"count", args({probs}, {{"above", prob(0.1)}}), num(3)},
      {"count", args({probs}, {{"below", num(kNaN)}}), num(0)},
      {"count", args({list({})}, {{"above", num(0)}}), num(0)},
      {"count", named({{"probs", list({num(1), num(2)})}, {"below", num(2)}}), num(1)},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

// Counts one token per byte and remembers every text it was asked about.
class ByteTokenizer : public Tokenizer {
 public:
  uint64_t count(std::string_view text) const override {
    ++measurements;
    return text.size();
  }
  mutable size_t measurements = 0;
};

class ChunkBuiltin : public BuiltinsTest {
 protected:
  List chunk(std::string_view text, double n) {
    EvalContext context{host, bytes};
    ValueResult result = call_builtin(context, "chunk", args({txt(std::string(text)), num(n)}));
    EXPECT_TRUE(result.ok()) << result.error();
    return result.ok() ? result.value().as_list() : List{};
  }

  static std::string joined(const List& chunks) {
    std::string out;
    for (const Value& c : chunks) out += c.as_text();
    return out;
  }

  ByteTokenizer bytes;
};

TEST_F(ChunkBuiltin, PacksWholeLinesAndCutsOversizedOnes) {
  struct Case {
    std::string text;
    double n;
    List expected;
  };
  const Case cases[] = {
      {"", 5, {}},
      {"ab\ncd", 100, {txt("ab\ncd")}},
      {"ab\ncd\nefgh\n", 6, {txt("ab\ncd\n"), txt("efgh\n")}},
      // A line exactly at the limit fits; one more byte does not.
      {"abc\n", 4, {txt("abc\n")}},
      {"abc\nd", 4, {txt("abc\n"), txt("d")}},
      // An oversized line closes the chunk before it and is cut into the longest pieces that fit.
      {"ab\nabcdefgh\ncd", 3, {txt("ab\n"), txt("abc"), txt("def"), txt("gh\n"), txt("cd")}},
      {"abcdefgh", 3.9, {txt("abc"), txt("def"), txt("gh")}},
      {"\n\n\n", 2, {txt("\n\n"), txt("\n")}},
      // A lone character over the limit is a piece of its own; a cut never splits a character.
      {"a\u00e9b", 1, {txt("a"), txt("\u00e9"), txt("b")}},
      {"\u00e9\u00e9\u00e9", 5, {txt("\u00e9\u00e9"), txt("\u00e9")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const List chunks = chunk(c.text, c.n);
    EXPECT_EQ(chunks, c.expected);
    EXPECT_EQ(joined(chunks), c.text);
  }
}

TEST_F(ChunkBuiltin, BisectionMeasuresLogarithmicallyPerPiece) {
  const std::string line(4096, 'a');
  const List chunks = chunk(line, 1000);
  ASSERT_EQ(chunks.size(), 5u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(chunks[i].as_text().size(), 1000u);
  EXPECT_EQ(chunks[4].as_text().size(), 96u);
  // One measurement of the segment, then at most about log2(4096) per piece: a character-by-character search
  // would need thousands.
  EXPECT_LE(bytes.measurements, 1u + 5u * 13u);
}

TEST_F(ChunkBuiltin, UsesTheContextTokenizer) {
  // chars4 allows eight characters per two tokens.
  const ResultCase cases[] = {
      {"chunk", args({txt("abcdefghijklmnopqrst"), num(2)}), list({txt("abcdefgh"), txt("ijklmnop"), txt("qrst")})},
      {"chunk", named({{"text", txt("abc\ndef\n")}, {"tokens", num(2)}}), list({txt("abc\ndef\n")})},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

}  // namespace
}  // namespace dravelin::runtime::testing
