#include "cli/display_width.h"

#include <gtest/gtest.h>

namespace dravelin::cli {
namespace {

TEST(CharDisplayWidth, TableEdgesAndClasses) {
  struct Case {
    char32_t c;
    int width;
    const char* what;
  };
  const Case cases[] = {
      {U'a', 1, "ascii"},
      {U'\t', 1, "control characters are not zero-width"},
      {0x00AD, 1, "soft hyphen is drawn"},
      {0x00E9, 1, "precomposed e acute"},
      {0x0300, 0, "first combining grave accent"},
      {0x036F, 0, "last of the combining diacritics block"},
      {0x0370, 1, "greek after the diacritics"},
      {0x200B, 0, "zero width space"},
      {0x200D, 0, "zero width joiner"},
      {0xFE0F, 0, "variation selector 16"},
      {0xE0001, 0, "language tag"},
      {0x10FF, 1, "before hangul jamo"},
      {0x1100, 2, "first hangul initial consonant"},
      {0x115F, 2, "last hangul initial consonant"},
      {0x1160, 0, "first hangul medial vowel"},
      {0x11FF, 0, "last hangul final consonant"},
      {0x1200, 1, "ethiopic after hangul jamo"},
      {0x3000, 2, "ideographic space, fullwidth"},
      {0x3029, 2, "wide ideographic number"},
      {0x302A, 0, "combining mark inside a wide block"},
      {0x4E2D, 2, "cjk ideograph"},
      {0x9FFF, 2, "end of the unified ideographs"},
      {0xAC00, 2, "first hangul syllable"},
      {0xD7A3, 2, "last hangul syllable"},
      {0xFF01, 2, "fullwidth exclamation mark"},
      {0xFF61, 1, "halfwidth ideographic full stop"},
      {0x2764, 1, "heavy heart has text presentation"},
      {0x1F600, 2, "grinning face"},
      {0x1F469, 2, "woman"},
      {0x1F4BB, 2, "personal computer"},
      {0x2A6DF, 2, "cjk extension b"},
      {0x2FFFD, 2, "unassigned in plane 2 defaults to wide"},
      {0x3FFFD, 2, "unassigned in plane 3 defaults to wide"},
      {0x40000, 1, "plane 4"},
      {0xE000, 1, "private use"},
      {0x10FFFF, 1, "last code point"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(char_display_width(c.c), c.width) << c.what;
  }
}

TEST(DisplayWidth, SumsCharactersOfUtf8Text) {
  struct Case {
    const char* text;
    size_t width;
  };
  const Case cases[] = {
      {"", 0},
      {"loop max 3", 10},
      {"名前", 4},
      {"e\u0301t\u00e9", 3},                  // decomposed and precomposed accents
      {"\U0001F469\u200D\U0001F4BB", 4},     // a joined sequence counts its parts
      {"\u1100\u1161\u11A8", 2},             // conjoining jamo draw as one syllable
      {"ｈｉ!", 5},
      {"a\xffz", 3},                          // a stray byte is one replacement character
      {"\xe4\xb8", 2},                        // a cut-off sequence, each byte on its own
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display_width(c.text), c.width) << c.text;
  }
}

}  // namespace
}  // namespace dravelin::cli
