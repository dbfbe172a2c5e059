#include "lsp/core/recover.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/lexer.h"

namespace dravelin::lsp {
namespace {

std::vector<std::string> unit_names(const TolerantParse& parse) {
  std::vector<std::string> names;
  if (parse.program)
    for (const auto& unit : parse.program->units) names.push_back(syntax::ast::unit_name(unit));
  return names;
}

// Each diagnostic as "line:column code: message".
std::vector<std::string> findings(const TolerantParse& parse) {
  std::vector<std::string> out;
  for (const auto& d : parse.diagnostics) {
    out.push_back(std::to_string(d.span.start.line) + ":" + std::to_string(d.span.start.column) + " " +
                  std::string(syntax::diagnostic_code_name(d.code)) + ": " + d.message);
  }
  return out;
}

std::vector<std::string> chunk_texts(const std::string& text) {
  std::vector<std::string> out;
  for (const ByteRange& chunk : top_level_chunks(text, syntax::Lexer::scan(text)))
    out.push_back(text.substr(chunk.start, chunk.end - chunk.start));
  return out;
}

using Strings = std::vector<std::string>;

TEST(RecoverParse, CleanTextParsesOnce) {
  const std::string text = "program p\n\ntask a:\n  return 1\n\ntask b:\n  return 2\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_EQ(unit_names(parse), (Strings{"a", "b"}));
  EXPECT_TRUE(parse.diagnostics.empty());
  EXPECT_TRUE(parse.blanked.empty());
  EXPECT_EQ(parse.attempts, 1);
}

TEST(RecoverParse, BrokenUnitIsBlankedWholeAndTheOthersKept) {
  const std::string text = "program p\n\ntask a:\n  x = 1 +\n  return x\n\ntask b:\n  return 2\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_EQ(unit_names(parse), (Strings{"b"}));
  EXPECT_EQ(findings(parse), (Strings{"4:9 syntax: expected an expression, found the end of the line"}));
  ASSERT_EQ(parse.blanked.size(), 1u);
  EXPECT_EQ(text.substr(parse.blanked[0].start, parse.blanked[0].end - parse.blanked[0].start),
            "task a:\n  x = 1 +\n  return x\n\n");
}

TEST(RecoverParse, ErrorsInSeveralUnitsAreAllFoundInTextOrder) {
  const std::string text =
      "program p\n\ntask a:\n  x = 1 +\n\ntask b:\n  return 2\n\ntask c:\n  y = (\n\ntask d:\n  return 4\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_EQ(unit_names(parse), (Strings{"b", "d"}));
  ASSERT_EQ(parse.diagnostics.size(), 2u);
  EXPECT_EQ(parse.diagnostics[0].span.start.line, 4u);
  EXPECT_EQ(parse.diagnostics[1].span.start.line, 12u);
}

TEST(RecoverParse, TopLevelLineFailingAtItsFirstTokenBlamesTheUnfinishedUnitAbove) {
  // Inside brackets a line end is no token, so the error surfaces on the next unit's first word.
  const std::string text = "program p\n\ntask a:\n  x = (1 +\ntask b:\n  return 2\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_EQ(unit_names(parse), (Strings{"b"}));
  ASSERT_EQ(parse.diagnostics.size(), 1u);
  EXPECT_EQ(parse.diagnostics[0].span.start.line, 5u);
}

TEST(RecoverParse, ErrorThatStaysAfterABlankRestoresTheInnocentChunk) {
  const std::string text = "program p\n\ntask a:\n  return 1\n)\ntask c:\n  return 3\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_EQ(unit_names(parse), (Strings{"a", "c"}));
  ASSERT_EQ(parse.diagnostics.size(), 1u);
  EXPECT_EQ(parse.diagnostics[0].span.start.line, 5u);
  ASSERT_EQ(parse.blanked.size(), 1u);
  EXPECT_EQ(text.substr(parse.blanked[0].start, parse.blanked[0].end - parse.blanked[0].start), ")\n");
}

TEST(RecoverParse, ErrorInTheFirstChunkGivesNoProgram) {
  TolerantParse parse = recover_parse("program\n\ntask a:\n  return 1\n");
  EXPECT_FALSE(parse.program);
  EXPECT_EQ(findings(parse), (Strings{"1:7 syntax: expected the program name, found the end of the line"}));
}

TEST(RecoverParse, SingleChunkErrorIsReportedOnce) {
  TolerantParse parse = recover_parse("  not code at column zero\n");
  EXPECT_FALSE(parse.program);
  EXPECT_EQ(parse.diagnostics.size(), 1u);
  EXPECT_EQ(parse.attempts, 1);
}

TEST(RecoverParse, LexerErrorBlanksItsChunkBeforeTheFirstParse) {
  const std::string text = "program p\n\ntask a:\n  x = \"open\n\ntask b:\n  return 2\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_EQ(unit_names(parse), (Strings{"b"}));
  ASSERT_EQ(parse.diagnostics.size(), 1u);
  EXPECT_EQ(parse.diagnostics[0].span.start.line, 4u);
}

TEST(RecoverParse, LexerErrorInTheFirstChunkLeavesOnlyTheLexerErrors) {
  const std::string text = "program p\n\tx\n\ntask a:\n  return 1\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_FALSE(parse.program);
  syntax::LexOutput lex = syntax::Lexer::scan(text);
  std::vector<syntax::Diagnostic> errors;
  for (const auto& d : lex.diagnostics)
    if (d.severity == syntax::Severity::Error) errors.push_back(d);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(parse.diagnostics, errors);
  EXPECT_EQ(parse.attempts, 0);
}

TEST(RecoverParse, BlankingKeepsByteOffsetsOfMultiByteText) {
  const std::string text =
      "program p\n\ntask a:\n  x = \"\xC3\xA9\xF0\x9F\x98\x80\" +\n\ntask b:\n  return 2\n";
  TolerantParse parse = recover_parse(text);
  ASSERT_EQ(unit_names(parse), (Strings{"b"}));
  const auto& task = std::get<syntax::ast::Task>(parse.program->units[0].node);
  EXPECT_EQ(task.name_span.start.offset, text.find("b:"));
  EXPECT_EQ(parse.diagnostics[0].span.start.offset, text.find(" +") + 2);
}

TEST(RecoverParse, NeverMoreThanTheAttemptLimit) {
  std::string text = "program p\n\n";
  for (int i = 0; i < 80; ++i) text += "task t" + std::to_string(i) + ":\n  x = 1 +\n";
  text += "task last:\n  return 1\n";
  TolerantParse parse = recover_parse(text);
  EXPECT_LE(parse.attempts, kMaxParseAttempts);
  EXPECT_FALSE(parse.program);
  EXPECT_EQ(parse.diagnostics.size(), static_cast<size_t>(kMaxParseAttempts));
}

TEST(TopLevelChunks, OnlyCodeInColumnZeroStartsAChunk) {
  const std::string text =
      "# leading comment\n"
      "program p\n"
      "use \"./m.zem\" as m\n"
      "# a comment line\n"
      "task a:\n"
      "  x = \"\"\"\n"
      "inner line in column zero\n"
      "\"\"\"\n"
      "  return x\n"
      "\n"
      "\xC2\xA0 no-break space first\n"
      "def f():\n"
      "  return 1\n";
  EXPECT_EQ(chunk_texts(text),
            (Strings{"# leading comment\nprogram p\n", "use \"./m.zem\" as m\n# a comment line\n",
                     "task a:\n  x = \"\"\"\ninner line in column zero\n\"\"\"\n  return x\n\n\xC2\xA0 no-break space first\n",
                     "def f():\n  return 1\n"}));
}

TEST(TopLevelChunks, TextWithoutCodeInColumnZeroIsOneChunk) {
  EXPECT_EQ(chunk_texts(""), (Strings{""}));
  EXPECT_EQ(chunk_texts("  indented\n# comment\n"), (Strings{"  indented\n# comment\n"}));
}

}  // namespace
}  // namespace dravelin::lsp
