// For the parser tests: lexing a snippet for a parser, and the cases of the table-driven tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "case_names.h"
#include "syntax/lexer.h"
#include "syntax/parser.h"
#include "tree_render.h"

namespace dravelin::syntax::test_support {

// The tokens of `text`; a lexing failure fails the test and gives a lone Eof token, so a parser can still run.
inline std::vector<Token> tokens_of(std::string_view text) {
  auto r = lex(text);
  EXPECT_TRUE(r.ok()) << text;
  return r.ok() ? *r : std::vector<Token>{Token{tok::Eof{}, Span{}}};
}

// A snippet's tokens and a parser over them. The tokens live here, since the parser only borrows them.
struct LexedParser {
  explicit LexedParser(std::string_view src, bool log_shadowed = false, uint32_t depth = 0)
      : tokens(tokens_of(src)), parser(tokens, log_shadowed, depth) {}
  LexedParser(const LexedParser&) = delete;
  LexedParser& operator=(const LexedParser&) = delete;

  std::vector<Token> tokens;
  Parser parser;
};

// Parameters of the table-driven parser tests: a snippet and its expected rendering, or a snippet and the one
// diagnostic it must give (its span as "line:column-line:column").
struct TreeCase {
  const char* src;
  const char* tree;
};

struct FailureCase {
  const char* src;
  DiagnosticCode code;
  const char* message;
  const char* span;
};

inline void PrintTo(const TreeCase& c, std::ostream* os) { print_source(c.src, os); }
inline void PrintTo(const FailureCase& c, std::ostream* os) { print_source(c.src, os); }

// Expects `d` to be the error the case names, with no file and no related locations.
inline void expect_failure(const Diagnostic& d, const FailureCase& c) {
  EXPECT_EQ(d.code, c.code) << c.src;
  EXPECT_EQ(d.severity, Severity::Error) << c.src;
  EXPECT_EQ(d.message, c.message) << c.src;
  EXPECT_EQ(span_str(d.span), c.span) << c.src;
  EXPECT_FALSE(d.file.has_value());
  EXPECT_TRUE(d.related.empty());
}

}  // namespace dravelin::syntax::test_support
