#include "syntax/token.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravelin::syntax {
namespace {

TEST(Keywords, EveryKeywordReadsBackFromItsText) {
  const std::vector<std::string> texts = {
      "program", "use",   "in",      "out",   "needs",    "judgment", "task",   "def",  "machine", "return",
      "feels",   "pick",  "rate",    "each",  "other",    "among",    "on",     "shape", "focus",  "trail",
      "max",     "state", "when",    "stay",  "initial",  "until",    "loop",   "for",  "if",      "elif",
      "else",    "and",   "or",      "not",   "is",       "continue", "break",  "stop", "escalate", "gate",
      "proceed", "confirm", "budget", "true", "false",    "none"};
  for (size_t i = 0; i < texts.size(); ++i) {
    const auto k = static_cast<Keyword>(i);
    EXPECT_EQ(keyword_text(k), texts[i]);
    EXPECT_EQ(keyword_from_text(texts[i]), k) << texts[i];
  }
}

TEST(Keywords, OtherWordsAreNotKeywords) {
  for (const char* word : {"", "log", "verify", "done", "with", "If", "IF", "programs", "progra", "_if", "z", "1"})
    EXPECT_EQ(keyword_from_text(word), std::nullopt) << word;
}

TEST(Symbols, TextsInDeclaredOrder) {
  const std::vector<std::string> texts = {"(", ")", "[", "]", "{", "}", ",", ":", ".", "->", "=",
                                          "==", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%"};
  for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(symbol_text(static_cast<Symbol>(i)), texts[i]);
}

}  // namespace
}  // namespace dravelin::syntax
