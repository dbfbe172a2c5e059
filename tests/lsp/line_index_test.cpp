#include "lsp/core/line_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "syntax/utf8.h"

namespace dravelin::lsp {
namespace {

using E = PositionEncoding;

std::string show(const Position& p) { return std::to_string(p.line) + ":" + std::to_string(p.character); }

struct PositionCase {
  const char* name;
  std::string text;
  E encoding;
  size_t offset;
  Position expected;
};
// Cases show their names in test listings, not their bytes.
void PrintTo(const PositionCase& c, std::ostream* os) { *os << c.name; }

class OffsetToPosition : public testing::TestWithParam<PositionCase> {};

TEST_P(OffsetToPosition, Converts) {
  const PositionCase& c = GetParam();
  LineIndex index(c.text, c.encoding);
  EXPECT_EQ(show(index.position(c.text, c.offset)), show(c.expected));
}

const std::string kEAcute = "\xC3\xA9";             // U+00E9, two bytes
const std::string kEmoji = "\xF0\x9F\x98\x80";      // U+1F600, four bytes, a surrogate pair in UTF-16
const std::string kCombining = "e\xCC\x81";         // e and U+0301: two code points, three bytes
const std::string kWide = "\xE6\xBC\xA2";           // U+6F22, three bytes, one UTF-16 unit

INSTANTIATE_TEST_SUITE_P(
    Cases, OffsetToPosition,
    testing::Values(
        PositionCase{"EmptyText", "", E::Utf16, 0, {0, 0}},
        PositionCase{"CarriageReturnIsACharacter", "a\r\nb", E::Utf16, 2, {0, 2}},
        PositionCase{"AfterLineFeed", "a\r\nb", E::Utf16, 3, {1, 0}},
        PositionCase{"InsideTwoByteCharacterLandsOnItsStart", kEAcute, E::Utf8, 1, {0, 0}},
        PositionCase{"AfterTwoByteCharacterUtf8", kEAcute, E::Utf8, 2, {0, 2}},
        PositionCase{"AfterTwoByteCharacterUtf16", kEAcute, E::Utf16, 2, {0, 1}},
        PositionCase{"AfterTwoByteCharacterUtf32", kEAcute, E::Utf32, 2, {0, 1}},
        PositionCase{"AfterEmojiUtf8", kEmoji + "x", E::Utf8, 4, {0, 4}},
        PositionCase{"AfterEmojiUtf16", kEmoji + "x", E::Utf16, 4, {0, 2}},
        PositionCase{"AfterEmojiUtf32", kEmoji + "x", E::Utf32, 4, {0, 1}},
        PositionCase{"AfterCombiningMarkUtf16", kCombining + "x", E::Utf16, 3, {0, 2}},
        PositionCase{"AfterCombiningMarkUtf8", kCombining + "x", E::Utf8, 3, {0, 3}},
        PositionCase{"AfterWideCharacterUtf16", kWide + "x", E::Utf16, 3, {0, 1}},
        PositionCase{"SecondLineAfterEmoji", "a\n" + kEmoji + kEmoji, E::Utf16, 10, {1, 4}},
        PositionCase{"PastTheEndIsTheEnd", "ab\ncd", E::Utf16, 99, {1, 2}},
        PositionCase{"EmptyLastLine", "x\n", E::Utf16, 2, {1, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

struct OffsetCase {
  const char* name;
  std::string text;
  E encoding;
  Position position;
  size_t expected;
};
void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.name; }

class PositionToOffset : public testing::TestWithParam<OffsetCase> {};

TEST_P(PositionToOffset, Converts) {
  const OffsetCase& c = GetParam();
  LineIndex index(c.text, c.encoding);
  EXPECT_EQ(index.offset(c.text, c.position), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionToOffset,
    testing::Values(
        OffsetCase{"EmptyTextAnyPosition", "", E::Utf16, {5, 7}, 0},
        OffsetCase{"PastLineEndStopsBeforeLineFeed", "a\r\nb", E::Utf16, {0, 99}, 2},
        OffsetCase{"LineBeyondTheLastIsTheEnd", "ab\ncd", E::Utf16, {7, 0}, 5},
        OffsetCase{"EmptyLine", "a\n\nb", E::Utf16, {1, 3}, 2},
        OffsetCase{"HalfASurrogatePairGoesPastIt", kEmoji, E::Utf16, {0, 1}, 4},
        OffsetCase{"AfterSurrogatePair", kEmoji + "x", E::Utf16, {0, 2}, 4},
        OffsetCase{"EmojiUtf32", kEmoji + "x", E::Utf32, {0, 1}, 4},
        OffsetCase{"InsideMultiByteUtf8GoesPastIt", kEAcute + "x", E::Utf8, {0, 1}, 2},
        OffsetCase{"CombiningMarkCountsAsItsOwnCharacter", kCombining + "x", E::Utf16, {0, 1}, 1},
        OffsetCase{"AfterCombiningMark", kCombining + "x", E::Utf16, {0, 2}, 3},
        OffsetCase{"SecondLine", "ab\n" + kWide + "c", E::Utf16, {1, 1}, 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineIndex, RoundTripsEveryCharacterBoundaryInEveryEncoding) {
  const std::string text = "a" + kEmoji + "\r\n" + kCombining + kWide + "\n\n" + kEAcute + "z";
  for (E encoding : {E::Utf8, E::Utf16, E::Utf32}) {
    LineIndex index(text, encoding);
    for (size_t offset = 0; offset <= text.size(); ++offset) {
      if (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) continue;
      EXPECT_EQ(index.offset(text, index.position(text, offset)), offset)
          << "offset " << offset << " in " << encoding_name(encoding);
    }
  }
}

TEST(LineIndex, CursorAgreesWithPositionWhateverTheOrderOfOffsets) {
  const std::string text = "a" + kEmoji + "\r\n" + kCombining + kWide + "\n\n" + kEAcute + "z";
  for (E encoding : {E::Utf8, E::Utf16, E::Utf32}) {
    LineIndex index(text, encoding);
    // Every offset in order (continuation bytes included, which count from their character's start), then
    // offsets that go back, stay on a line, jump lines and pass the end.
    std::vector<size_t> offsets;
    for (size_t offset = 0; offset <= text.size(); ++offset) offsets.push_back(offset);
    for (size_t offset : {text.size(), size_t{2}, size_t{9}, size_t{1}, size_t{0}, size_t{13}, text.size() + 5})
      offsets.push_back(offset);
    LineIndex::Cursor cursor(index, text);
    for (size_t offset : offsets)
      EXPECT_EQ(show(cursor.position(offset)), show(index.position(text, offset)))
          << "offset " << offset << " in " << encoding_name(encoding);
  }
}

// The count from the line start that every conversion must agree with, whatever it starts from.
Position counted(std::string_view text, size_t offset, E encoding) {
  offset = std::min(offset, text.size());
  while (offset > 0 && offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) --offset;
  const size_t feed = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
  const size_t line_start = feed == std::string_view::npos ? 0 : feed + 1;
  const auto line = static_cast<uint32_t>(std::count(text.begin(), text.begin() + line_start, '\n'));
  uint32_t units = 0;
  for (size_t i = line_start; i < offset;) {
    const syntax::Utf8Char c = syntax::decode_utf8(text, i);
    units += encoding == E::Utf8 ? c.length : encoding == E::Utf16 && c.code >= 0x10000 ? 2 : 1;
    i += c.length;
  }
  return {line, units};
}

TEST(LineIndex, LongLinesConvertAsACountFromTheLineStartWould) {
  // Long lines of mixed widths, with malformed bytes (a stray continuation, a cut sequence) among them, so
  // that characters straddle every place a walk could start from; short lines between them.
  std::string line;
  for (int i = 0; i < 40; ++i) line += "ab" + kEmoji + kEAcute + "cd" + kWide + (i % 7 == 0 ? "\x80" : "") + (i % 11 == 0 ? "\xE6\xBC" : "");
  const std::string text = line + "\nshort\n" + line + "\r\n\n" + line;
  for (E encoding : {E::Utf8, E::Utf16, E::Utf32}) {
    LineIndex index(text, encoding);
    LineIndex::Cursor cursor(index, text);
    for (size_t offset = 0; offset <= text.size() + 1; ++offset) {
      const Position expected = counted(text, offset, encoding);
      ASSERT_EQ(show(index.position(text, offset)), show(expected)) << "offset " << offset << " in " << encoding_name(encoding);
      ASSERT_EQ(show(cursor.position(offset)), show(expected)) << "offset " << offset << " in " << encoding_name(encoding);
    }
    // Every character count of every line, past the end included, lands where the walk from the line start
    // stops: at or just after the count, never inside a character.
    for (uint32_t l = 0; l < index.line_count(); ++l) {
      const size_t start = index.line_start(l);
      const size_t end = l + 1 < index.line_count() ? index.line_start(l + 1) - 1 : text.size();
      size_t walked = start;
      uint32_t units = 0;
      for (uint32_t character = 0; character <= counted(text, end, encoding).character + 2; ++character) {
        while (walked < end && units < character) {
          const syntax::Utf8Char c = syntax::decode_utf8(text, walked);
          units += encoding == E::Utf8 ? c.length : encoding == E::Utf16 && c.code >= 0x10000 ? 2 : 1;
          walked += c.length;
        }
        ASSERT_EQ(index.offset(text, {l, character}), walked)
            << "line " << l << " character " << character << " in " << encoding_name(encoding);
      }
    }
  }
}

TEST(LineIndex, RangeUsesOffsetsOnlyAndNeverEndsBeforeItStarts) {
  const std::string text = "abc\ndef";
  LineIndex index(text, E::Utf16);
  syntax::Span span{{9, 9, 5}, {1, 1, 2}};  // the end lies before the start; lines and columns are nonsense
  Range range = index.range(text, span);
  EXPECT_EQ(show(range.start), "1:1");
  EXPECT_EQ(show(range.end), "1:1");
}

struct NegotiationCase {
  const char* name;
  std::optional<std::vector<std::string>> offered;
  E expected;
};
void PrintTo(const NegotiationCase& c, std::ostream* os) { *os << c.name; }

class Negotiation : public testing::TestWithParam<NegotiationCase> {};

TEST_P(Negotiation, PicksTheFirstKnownOffer) {
  EXPECT_EQ(negotiate_position_encoding(GetParam().offered), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Negotiation,
    testing::Values(NegotiationCase{"Utf32First", std::vector<std::string>{"utf-32", "utf-8"}, E::Utf32},
                    NegotiationCase{"UnknownSkipped", std::vector<std::string>{"latin-1", "utf-8"}, E::Utf8},
                    NegotiationCase{"Utf16First", std::vector<std::string>{"utf-16", "utf-8"}, E::Utf16},
                    NegotiationCase{"EmptyList", std::vector<std::string>{}, E::Utf16},
                    NegotiationCase{"NoList", std::nullopt, E::Utf16}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dravelin::lsp
