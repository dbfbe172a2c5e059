// Test names for the table cases of the parser tests, which are known by their source snippets: a failing
// instance then says which snippet failed instead of printing the case's bytes.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace dravelin::syntax::test_support {

// The snippet in the letters, digits and underscores that test names allow: words and numbers are kept,
// symbols and line feeds with their indentation are spelt out, other characters separate words. Long
// snippets are cut after `kMaxNameLength` characters; gtest refuses a name used twice in one suite.
inline std::string source_case_name(std::string_view src) {
  constexpr size_t kMaxNameLength = 72;
  struct Spelling {
    std::string_view symbol;
    std::string_view word;
  };
  // Two-character symbols first, so that `->` is not read as `-` and `>`.
  static constexpr Spelling kSpellings[] = {
      {"->", "to"},    {"==", "eq"},    {"!=", "ne"},     {"<=", "le"},    {">=", "ge"},    {"<", "lt"},
      {">", "gt"},     {"+", "plus"},   {"-", "minus"},   {"*", "times"},  {"/", "div"},    {"%", "pct"},
      {"=", "set"},    {".", "dot"},    {",", "comma"},   {":", "colon"},  {"(", "lp"},     {")", "rp"},
      {"[", "lb"},     {"]", "rb"},     {"{", "lc"},      {"}", "rc"},     {"\"", "q"},     {"#", "hash"},
      {"\\", "bs"},
  };
  // Nearly every snippet ends in a line feed; it tells none apart.
  while (src.ends_with('\n')) src.remove_suffix(1);
  std::string name;
  auto add_word = [&name](std::string_view word) {
    if (!name.empty() && name.back() != '_') name += '_';
    name.append(word);
  };
  bool in_word = false;
  for (size_t i = 0; i < src.size();) {
    const char c = src[i];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      if (!in_word && !name.empty() && name.back() != '_') name += '_';
      name += c;
      in_word = true;
      ++i;
      continue;
    }
    in_word = false;
    if (c == '\n') {
      // Indentation is part of what a snippet means: "nl2" is a line feed and two spaces.
      size_t spaces = 0;
      while (i + 1 + spaces < src.size() && src[i + 1 + spaces] == ' ') ++spaces;
      add_word(spaces == 0 ? std::string("nl") : "nl" + std::to_string(spaces));
      i += 1 + spaces;
      continue;
    }
    size_t taken = 1;
    for (const Spelling& s : kSpellings) {
      if (src.substr(i).starts_with(s.symbol)) {
        add_word(s.word);
        taken = s.symbol.size();
        break;
      }
    }
    i += taken;
  }
  if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "empty" : name;
}

// How gtest shows such a case (in test lists and beside a failure): the snippet, quoted and escaped.
inline void print_source(std::string_view src, std::ostream* os) { *os << testing::PrintToString(src); }

// The name generator for cases that have a `src` member.
struct NameBySource {
  template <class Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    return source_case_name(info.param.src);
  }
};

}  // namespace dravelin::syntax::test_support
