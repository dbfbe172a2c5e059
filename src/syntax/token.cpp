#include "syntax/token.h"

#include <array>

namespace dravelin::syntax {
namespace {

constexpr std::array kKeywordTexts = {
#define X(member, text) std::string_view(text),
#include "syntax/keywords.def"
#undef X
};

constexpr std::array kSymbolTexts = {
#define X(member, text) std::string_view(text),
#include "syntax/symbols.def"
#undef X
};

// Keyword lookup runs for every word the lexer meets, on every keystroke in the editor, so it compares
// only with the keywords that share the word's first letter instead of scanning the whole table.
struct KeywordIndex {
  // For each lowercase first letter, the range [begin, end) of `order` holding its keywords.
  std::array<uint8_t, 27> begin{};
  std::array<uint8_t, kKeywordTexts.size()> order{};

  constexpr KeywordIndex() {
    size_t n = 0;
    for (int letter = 0; letter < 26; ++letter) {
      begin[letter] = static_cast<uint8_t>(n);
      for (size_t k = 0; k < kKeywordTexts.size(); ++k)
        if (kKeywordTexts[k][0] == 'a' + letter) order[n++] = static_cast<uint8_t>(k);
    }
    begin[26] = static_cast<uint8_t>(n);
  }
};

constexpr KeywordIndex kKeywordIndex;
static_assert(kKeywordIndex.begin[26] == kKeywordTexts.size(), "every keyword starts with a lowercase letter");

}  // namespace

std::string_view keyword_text(Keyword k) { return kKeywordTexts[static_cast<size_t>(k)]; }

std::optional<Keyword> keyword_from_text(std::string_view text) {
  if (text.empty() || text[0] < 'a' || text[0] > 'z') return std::nullopt;
  const int letter = text[0] - 'a';
  for (size_t i = kKeywordIndex.begin[letter]; i < kKeywordIndex.begin[letter + 1]; ++i) {
    const uint8_t k = kKeywordIndex.order[i];
    if (kKeywordTexts[k] == text) return static_cast<Keyword>(k);
  }
  return std::nullopt;
}

std::string_view symbol_text(Symbol s) { return kSymbolTexts[static_cast<size_t>(s)]; }

}  // namespace dravelin::syntax
