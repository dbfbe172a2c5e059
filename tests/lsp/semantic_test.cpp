// Semantic tokens: the classification of every token of a text, and the five-integer encoding.
#include "lsp/core/semantic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lsp/core/recover.h"

namespace dravelin::lsp {
namespace {

using Strings = std::vector<std::string>;

// "text type+modifier+..." for every classified token.
Strings rendered(const std::string& text, bool with_index = true) {
  TolerantParse parse = recover_parse(text);
  std::optional<SymbolIndex> index;
  if (with_index && parse.program) index = build_symbol_index(*parse.program, text);
  Strings out;
  for (const ClassifiedToken& t : classify_document(text, index ? &*index : nullptr)) {
    std::string line =
        text.substr(t.start, t.end - t.start) + " " + std::string(kSemanticTokenTypeNames[static_cast<size_t>(t.type)]);
    for (size_t bit = 0; bit < std::size(kSemanticTokenModifierNames); ++bit)
      if (t.modifiers & (1u << bit)) line += "+" + std::string(kSemanticTokenModifierNames[bit]);
    out.push_back(line);
  }
  return out;
}

struct ClassifyCase {
  const char* name;
  std::string text;
  Strings expected;
};

void PrintTo(const ClassifyCase& c, std::ostream* os) { *os << c.name; }

class Classification : public testing::TestWithParam<ClassifyCase> {};

TEST_P(Classification, Tokens) { EXPECT_EQ(rendered(GetParam().text), GetParam().expected); }

const ClassifyCase kClassifyCases[] = {
    {"empty", "", {}},
    {"units_questions_and_labels",
     "program p\njudgment j(t):\n  k = t pick:\n    bug \"b\"\n    other\n  f = t feels \"x\"\n",
     {
         "program keyword",
         "p namespace+declaration",
         "judgment keyword+unitKind",
         "j function+declaration",
         "t parameter+declaration",
         "k property+declaration",
         "= operator",
         "t parameter",
         "pick keyword+judgmentVerb",
         "bug enumMember+declaration",
         "\"b\" string",
         "other keyword",
         "f property+declaration",
         "= operator",
         "t parameter",
         "feels keyword+judgmentVerb",
         "\"x\" string",
     }},
    {"interpolation",
     "program p\ntask main(name):\n  return \"hello {name}!\"\n",
     {
         "program keyword",
         "p namespace+declaration",
         "task keyword+unitKind",
         "main function+declaration",
         "name parameter+declaration",
         "return keyword",
         "\"hello { string",
         "name parameter",
         "}!\" string",
     }},
    {"comment_after_code",
     "program p # the program\n",
     {
         "program keyword",
         "p namespace+declaration",
         "# the program comment",
     }},
    {"log_words_and_a_variable_named_log",
     "program p\ntask main:\n  log info \"x\"\n  log = 1\n",
     {
         "program keyword",
         "p namespace+declaration",
         "task keyword+unitKind",
         "main function+declaration",
         "log keyword",
         "info enumMember+defaultLibrary",
         "\"x\" string",
         "log variable+declaration",
         "= operator",
         "1 number",
     }},
    {"needs_and_signatures",
     "program p\nneeds reviewer: agent\nneeds web: tool:\n  fetch(url) -> record\n",
     {
         "program keyword",
         "p namespace+declaration",
         "needs keyword",
         "reviewer interface+declaration+readonly",
         "agent type",
         "needs keyword",
         "web interface+declaration+readonly",
         "tool type",
         "fetch method+declaration",
         "url parameter+declaration",
         "-> operator",
         "record type",
     }},
    {"reserved_word_that_is_a_name",
     "program p\ntask main(xs):\n  return max(xs)\n",
     {
         "program keyword",
         "p namespace+declaration",
         "task keyword+unitKind",
         "main function+declaration",
         "xs parameter+declaration",
         "return keyword",
         "max function+defaultLibrary",
         "xs parameter",
     }},
    {"keywords_without_modifiers",
     "program p\ntask main:\n  loop max 2:\n    break\n  return none\n",
     {
         "program keyword",
         "p namespace+declaration",
         "task keyword+unitKind",
         "main function+declaration",
         "loop keyword",
         "max keyword",
         "2 number",
         "break keyword",
         "return keyword",
         "none keyword",
     }},
    {"calls_members_and_contextual_words",
     "program p\nneeds a: agent\ntask main:\n  h = a.spawn prompt \"go\"\n  h.wait idle, minutes 5\n  o = h.observe\n",
     {
         "program keyword",
         "p namespace+declaration",
         "needs keyword",
         "a interface+declaration+readonly",
         "agent type",
         "task keyword+unitKind",
         "main function+declaration",
         "h variable+declaration",
         "= operator",
         "a interface+readonly",
         "spawn method",
         "prompt keyword",
         "\"go\" string",
         "h variable",
         "wait method",
         "idle enumMember+defaultLibrary",
         "minutes parameter",
         "5 number",
         "o variable+declaration",
         "= operator",
         "h variable",
         "observe method",
     }},
};

INSTANTIATE_TEST_SUITE_P(Semantic, Classification, testing::ValuesIn(kClassifyCases),
                         [](const testing::TestParamInfo<ClassifyCase>& info) { return info.param.name; });

TEST(SemanticTokens, WithoutAnIndexNamesAreClassifiedByTheirNeighbours) {
  const std::string text = "program\nneeds a: agent\ntask t:\n  x = y.z\n  using\n  log\n  f() -> text\n";
  EXPECT_EQ(rendered(text, false),
            (Strings{"program keyword", "needs keyword", "a variable", "agent type", "task keyword+unitKind",
                     "t variable", "x variable", "= operator", "y variable", "z property", "using keyword",
                     "log variable", "f variable", "-> operator", "text type"}));
}

TEST(SemanticTokens, InterpolationsNestedBeyondTheParsersLimitStayStrings) {
  // Every level is lexed again, so an unbounded depth would exhaust the stack; the text does not parse.
  std::string inner = "x";
  for (int i = 0; i < 5000; ++i) inner = "\"{" + inner + "}\"";
  const std::string text = "program p\ntask main:\n  y = " + inner + "\n";
  const Strings tokens = rendered(text);
  ASSERT_FALSE(tokens.empty());
  EXPECT_EQ(std::count_if(tokens.begin(), tokens.end(), [](const std::string& t) { return t == "x variable"; }), 0);
  // The outer levels are still classified: a string piece per level down to the limit, then one string.
  EXPECT_EQ(std::count_if(tokens.begin(), tokens.end(), [](const std::string& t) { return t == "\"{ string"; }), 100);

  std::string shallow = "name";
  for (int i = 0; i < 50; ++i) shallow = "\"{" + shallow + "}\"";
  const Strings nested = rendered("program p\ntask main(name):\n  return " + shallow + "\n");
  EXPECT_EQ(nested[nested.size() - 51], "name parameter");
}

std::vector<uint32_t> encoded(const std::string& text, PositionEncoding encoding) {
  TolerantParse parse = recover_parse(text);
  std::optional<SymbolIndex> index;
  if (parse.program) index = build_symbol_index(*parse.program, text);
  return encode_semantic_tokens(text, LineIndex(text, encoding), classify_document(text, index ? &*index : nullptr));
}

TEST(SemanticTokens, EncodingIsRelativeAndSplitsMultiLineTokens) {
  const std::string text = "program p\ntask main:\n  x = \"\"\"\nab\n\ncd\"\"\"\n";
  const uint32_t string = static_cast<uint32_t>(SemanticTokenType::String);
  const std::vector<uint32_t> data = encoded(text, PositionEncoding::Utf16);
  ASSERT_EQ(data.size(), 9u * 5);
  // The variable `x`, the `=`, then one piece per line of the text literal (the empty line gives none).
  EXPECT_EQ(std::vector<uint32_t>(data.begin() + 20, data.end()),
            (std::vector<uint32_t>{1, 2, 1, static_cast<uint32_t>(SemanticTokenType::Variable),
                                   1,  //
                                   0, 2, 1, static_cast<uint32_t>(SemanticTokenType::Operator),
                                   0,  //
                                   0, 2, 3, string,
                                   0,  //
                                   1, 0, 2, string,
                                   0,  //
                                   2, 0, 5, string,
                                   0}));
}

TEST(SemanticTokens, CharactersAreCountedInTheNegotiatedEncoding) {
  const std::string text = "program p\ntask main:\n  log info \"\xF0\x9F\x98\x80\" + 1\n";
  struct Case {
    PositionEncoding encoding;
    uint32_t string_length;
    uint32_t operator_delta;
  } cases[] = {{PositionEncoding::Utf8, 6, 7}, {PositionEncoding::Utf16, 4, 5}, {PositionEncoding::Utf32, 3, 4}};
  for (const Case& c : cases) {
    const std::vector<uint32_t> data = encoded(text, c.encoding);
    ASSERT_EQ(data.size(), 9u * 5) << encoding_name(c.encoding);
    // program, p, task, main, log, info, the string, `+`, 1
    EXPECT_EQ(data[6 * 5 + 2], c.string_length) << encoding_name(c.encoding);
    EXPECT_EQ(data[7 * 5 + 1], c.operator_delta) << encoding_name(c.encoding);
  }
}

}  // namespace
}  // namespace dravelin::lsp
