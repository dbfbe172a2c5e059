// Semantic highlighting: the document lexed again, every token classified with the help of the symbol index
// (what each name refers to and how it is used), the comments added, and the result written in the
// protocol's five-integer form in the negotiated position encoding.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "lsp/core/line_index.h"
#include "lsp/core/semantic_legend.h"
#include "lsp/core/symbol_index.h"
#include "syntax/token.h"

namespace dravelin::lsp {

struct ClassifiedToken {
  uint32_t start = 0;  // byte offsets; the end is exclusive
  uint32_t end = 0;
  SemanticTokenType type = SemanticTokenType::Keyword;
  uint32_t modifiers = 0;  // bits of SemanticTokenModifier
  friend bool operator==(const ClassifiedToken&, const ClassifiedToken&) = default;
};

// Sorted by offsets, without overlaps. `index` is the document's symbol index when it has one.
std::vector<ClassifiedToken> classify_document(std::string_view text, const SymbolIndex* index);
// The same with the text's lexer output at hand (an analysis keeps it), which saves lexing the text again.
std::vector<ClassifiedToken> classify_document(const syntax::LexOutput& lexed, const SymbolIndex* index);

// The protocol's `data`: per token and per line it spans, the line and start relative to the piece before,
// the length, the type and the modifiers. The line ends inside a token belong to no piece.
std::vector<uint32_t> encode_semantic_tokens(std::string_view text, const LineIndex& line_index,
                                             const std::vector<ClassifiedToken>& tokens);

}  // namespace dravelin::lsp
