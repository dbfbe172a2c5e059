// The error-tolerant parse of a document: the ordinary lexer and parser, run again with the blamed top-level
// chunk blanked each time the parse fails, until it succeeds or nothing more can be blamed.
//
// Blanking keeps every line feed and replaces every other character by as many spaces as it has bytes, so
// every span of the tree and of the diagnostics is a span of the text as written.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/ast.h"
#include "syntax/diagnostic.h"
#include "syntax/token.h"

namespace dravelin::lsp {

// At most this many parses are tried for one text.
inline constexpr int kMaxParseAttempts = 64;

struct ByteRange {
  size_t start = 0;
  size_t end = 0;  // exclusive
  friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

struct TolerantParse {
  syntax::LexOutput lex;                        // of the unchanged text
  std::vector<syntax::Diagnostic> diagnostics;  // syntax errors, sorted by start, no repeats
  std::vector<ByteRange> blanked;               // the chunks blanked in the end, in text order
  std::optional<syntax::ast::Program> program;  // when some attempt parsed
  int attempts = 0;                             // parses tried
};

TolerantParse recover_parse(std::string_view text);

// The chunks of a text: the ranges that start at each line beginning with code in column 0 (the first one
// widened to the start of the text), tiling it without gaps.
std::vector<ByteRange> top_level_chunks(std::string_view text, const syntax::LexOutput& lex);

}  // namespace dravelin::lsp
