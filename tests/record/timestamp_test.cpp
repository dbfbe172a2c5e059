// Timestamps: the fixed-width UTC text of a millisecond count and its reading back.
#include "record/timestamp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravelin::record {
namespace {

TEST(Timestamp, KnownPointsFormatAndParse) {
  struct Case {
    uint64_t ms;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951'782'400'000, "2000-02-29T00:00:00.000Z"},
      {1'677'715'200'000, "2023-03-02T00:00:00.000Z"},
      {1'704'164'645'006, "2024-01-02T03:04:05.006Z"},
      {253'402'300'799'999, "9999-12-31T23:59:59.999Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_timestamp_ms(c.ms), c.text);
    auto parsed = parse_timestamp_ms(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.error().message;
    EXPECT_EQ(*parsed, static_cast<int64_t>(c.ms));
  }
  // Past the year 9999 the year takes a fifth digit, and such a text no longer parses.
  EXPECT_EQ(format_timestamp_ms(253'402'300'800'000), "10000-01-01T00:00:00.000Z");
  EXPECT_FALSE(parse_timestamp_ms("10000-01-01T00:00:00.000Z").ok());
  // The largest count formats without overflow.
  EXPECT_EQ(format_timestamp_ms(UINT64_MAX).back(), 'Z');
}

TEST(Timestamp, EveryDayOfTheFourHundredYearCycleRoundTrips) {
  // Each day from 1970 to past 2400 at a varying time of day, and the last millisecond of every day.
  for (uint64_t day = 0; day < 160'000; ++day) {
    for (const uint64_t ms : {day * 86'400'000 + (day * 7'919) % 86'400'000, day * 86'400'000 + 86'399'999}) {
      const std::string text = format_timestamp_ms(ms);
      ASSERT_EQ(text.size(), 24u) << ms;
      auto parsed = parse_timestamp_ms(text);
      ASSERT_TRUE(parsed.ok()) << text;
      ASSERT_EQ(*parsed, static_cast<int64_t>(ms)) << text;
    }
  }
}

TEST(Timestamp, Refusals) {
  const std::vector<std::string> refused = {
      "1969-12-31T23:59:59.999Z",    // before the epoch
      "2024-01-02T03:04:05.006z",    // lowercase z
      "2024-01-02T03:04:05.006+00:00",
      "2024-01-02T03:04:05Z",        // no milliseconds
      "2024-01-02T24:00:00.000Z",
      "2024-01-02T23:60:00.000Z",
      "2024-01-02T23:59:60.000Z",
      "2024-00-02T00:00:00.000Z",
      "2024-13-02T00:00:00.000Z",
      "2024-01-00T00:00:00.000Z",
      "2024-01-32T00:00:00.000Z",
      "2024-01-0xT00:00:00.000Z",
      "+024-01-02T00:00:00.000Z",    // a sign is no digit
      " 024-01-02T00:00:00.000Z",
      "2024\xc3\xa9" "1-02T00:00:00.000Z",  // a two-byte character in place of a separator
      "",
  };
  for (const std::string& text : refused) {
    auto parsed = parse_timestamp_ms(text);
    ASSERT_FALSE(parsed.ok()) << text;
    EXPECT_EQ(parsed.error().code, runtime::RuntimeErrorCode::ReplayDiverged);
    EXPECT_FALSE(parsed.error().retryable);
    EXPECT_TRUE(parsed.error().span.is_zero());
    EXPECT_EQ(parsed.error().message, "`" + text + "` is not a recorded clock reading");
  }
}

TEST(Timestamp, LenientWhereTheFormatAllows) {
  // Any single-byte separator, and a day past its month's end running into the next month.
  auto spaced = parse_timestamp_ms("2023-03-02 00_00:00/000Z");
  ASSERT_TRUE(spaced.ok());
  EXPECT_EQ(*spaced, 1'677'715'200'000);
  auto overflowing_day = parse_timestamp_ms("2023-02-30T00:00:00.000Z");
  ASSERT_TRUE(overflowing_day.ok());
  EXPECT_EQ(*overflowing_day, 1'677'715'200'000);
}

TEST(Timestamp, SystemClockIsAfterTheEpoch) { EXPECT_GT(system_clock_ms(), 1'600'000'000'000u); }

}  // namespace
}  // namespace dravelin::record
