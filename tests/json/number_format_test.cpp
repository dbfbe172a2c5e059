// The number text forms: examples of each form, and exact round trips.
#include "json/number_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "support/numbers.h"

namespace dravelin::json {
namespace {

struct Case {
  double value;
  const char* text;
};

using test_numbers::kInf;
using test_numbers::kNaN;

// The IR float text form: a full table of examples.
TEST(IrFloat, ExamplesTable) {
  const Case cases[] = {
      {1, "1.0"},
      {10, "10.0"},
      {2.5, "2.5"},
      {0.1, "0.1"},
      {1.0 / 3.0, "0.3333333333333333"},
      {0.00001, "0.00001"},
      {0.000001, "1e-6"},
      {0.00000015, "1.5e-7"},
      {1e15, "1000000000000000.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e+16"},
      {1.5e300, "1.5e+300"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {-0.0, "-0.0"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_ir_float(c.value), c.text) << c.text;
}

TEST(IrFloat, MoreLayout) {
  const Case cases[] = {
      {0, "0.0"},           {100, "100.0"},       {-2.5, "-2.5"},     {123456.789, "123456.789"},
      {1e-5, "0.00001"},    {1.25e-5, "0.0000125"}, {9.5e-6, "9.5e-6"}, {999999999999999.9, "999999999999999.9"},
      {1.5e16, "1.5e+16"},  {1e100, "1e+100"},    {-1e-300, "-1e-300"},
      {kNaN, "null"},       {kInf, "null"},       {-kInf, "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_ir_float(c.value), c.text) << c.text;
}

// The record-field form: shortest, keeps ".0" when whole.
TEST(RecordFloat, Examples) {
  const Case cases[] = {
      {1, "1.0"},           {0, "0.0"},           {50, "50.0"},          {60, "60.0"},
      {2.5, "2.5"},         {0.042, "0.042"},     {-0.0, "-0.0"},        {0.1 + 0.2, "0.30000000000000004"},
      {1e15, "1000000000000000.0"}, {1e16, "1e16"}, {1.5e300, "1.5e300"}, {1e-7, "1e-7"},
      {0.00001, "0.00001"}, {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
      {kNaN, "null"},       {kInf, "null"},       {-kInf, "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_record_float(c.value), c.text) << c.text;
}

// The value JSON number rule, with examples and edge cases.
TEST(ValueNumber, Examples) {
  const Case cases[] = {
      {3.0, "3"},
      {9007199254740991.0, "9007199254740991"},
      {9007199254740992.0, "9007199254740992.0"},
      {-9007199254740991.0, "-9007199254740991"},
      {-9007199254740992.0, "-9007199254740992.0"},
      {1e16, "1e16"},
      {-0.0, "0"},
      {0.0, "0"},
      {-7.0, "-7"},
      {0.5, "0.5"},
      {0.25, "0.25"},
      {12.34, "12.34"},
      {0.00001234, "0.00001234"},
      {1e-7, "1e-7"},
      {1.5e-7, "1.5e-7"},
      {1.5e300, "1.5e300"},
      {kNaN, "null"},
      {kInf, "null"},
      {-kInf, "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_value_number(c.value), c.text) << c.text;
  EXPECT_TRUE(value_number_is_integer(3.0));
  EXPECT_FALSE(value_number_is_integer(9007199254740992.0));
  EXPECT_FALSE(value_number_is_integer(0.5));
  EXPECT_FALSE(value_number_is_integer(kNaN));
}

// The shortest plain decimal (1000, 0.15, 2.5; no exponent; NaN, inf, -inf).
TEST(PlainDecimal, Examples) {
  const Case cases[] = {
      {1000, "1000"},
      {0.15, "0.15"},
      {2.5, "2.5"},
      {1500, "1500"},
      {2.0, "2"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e-7, "0.0000001"},
      {1e15, "1000000000000000"},
      {1e21, "1000000000000000000000"},
      {3, "3"},
      {-1, "-1"},
      {-0.0, "-0"},
      {0, "0"},
      {123456789012345.0, "123456789012345"},
      {kNaN, "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_plain_decimal(c.value), c.text) << c.text;
  // 1e300 renders as "1" followed by 300 zeros.
  EXPECT_EQ(format_plain_decimal(1e300), "1" + std::string(300, '0'));
  // The smallest subnormal: "0." then 323 zeros then 5.
  EXPECT_EQ(format_plain_decimal(5e-324), "0." + std::string(323, '0') + "5");
}

TEST(Integers, Exact) {
  EXPECT_EQ(format_u64(0), "0");
  EXPECT_EQ(format_u64(4294967295u), "4294967295");
  EXPECT_EQ(format_u64(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(format_i64(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(format_i64(-1), "-1");
  std::string out = "x";
  append_u64(out, 42);
  append_i64(out, -42);
  EXPECT_EQ(out, "x42-42");
}

TEST(ShortestDigits, Primitive) {
  ShortestDigits d = shortest_digits(1.5e300);
  EXPECT_EQ(std::string(d.digits, d.count), "15");
  EXPECT_EQ(d.exponent, 300);
  EXPECT_FALSE(d.negative);
  d = shortest_digits(-0.00012);
  EXPECT_EQ(std::string(d.digits, d.count), "12");
  EXPECT_EQ(d.exponent, -4);
  EXPECT_TRUE(d.negative);
  d = shortest_digits(0.0);
  EXPECT_EQ(std::string(d.digits, d.count), "0");
  EXPECT_EQ(d.exponent, 0);
  d = shortest_digits(-0.0);
  EXPECT_TRUE(d.negative);
  d = shortest_digits(std::numeric_limits<double>::max());
  EXPECT_EQ(std::string(d.digits, d.count), "17976931348623157");
  EXPECT_EQ(d.exponent, 308);
}

double read_back(const std::string& text) {
  double d = 0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), d);
  EXPECT_EQ(res.ec, std::errc()) << text;
  EXPECT_EQ(res.ptr, text.data() + text.size()) << text;
  return d;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every float form reads back to the same double, over random bit patterns.
TEST(AllForms, RoundTripRandomBits) {
  std::mt19937_64 rng(12345);
  int checked = 0;
  while (checked < 20000) {
    uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    ++checked;
    ASSERT_TRUE(same_bits(read_back(format_record_float(d)), d)) << format_record_float(d);
    ASSERT_TRUE(same_bits(read_back(format_ir_float(d)), d)) << format_ir_float(d);
    ASSERT_TRUE(same_bits(read_back(format_plain_decimal(d)), d)) << format_plain_decimal(d);
    const double v = read_back(format_value_number(d));
    ASSERT_TRUE(v == d) << format_value_number(d);  // -0.0 becomes 0 by the rule
  }
}

// Shortest: no form uses more significant digits than needed (17 at most).
TEST(AllForms, ShortestDigitCounts) {
  EXPECT_EQ(format_record_float(0.1), "0.1");
  EXPECT_EQ(format_record_float(5e-324), "5e-324");
  EXPECT_EQ(format_record_float(2.2250738585072014e-308), "2.2250738585072014e-308");
  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {
    uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    ShortestDigits s = shortest_digits(d);
    ASSERT_LE(s.count, 17);
    ASSERT_GE(s.count, 1);
    ASSERT_TRUE(s.count == 1 || s.digits[s.count - 1] != '0');
  }
}

}  // namespace
}  // namespace dravelin::json
