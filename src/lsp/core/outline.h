// Two views of a document's structure: the outline of its declarations, and the ranges an editor can fold.
#pragma once

#include <string_view>
#include <vector>

#include "lsp/core/line_index.h"
#include "lsp/core/symbol_index.h"
#include "lsp/protocol/types.h"
#include "syntax/token.h"

namespace dravelin::lsp {

// The declarations as a tree; parameters, variables and shaped fields (and what lies below them) are left out.
std::vector<DocumentSymbol> document_symbols(const SymbolIndex& index, std::string_view text,
                                             const LineIndex& line_index);

// Indented blocks, multi-line texts, runs of comment lines and the `use` lines, by (start line, end line).
std::vector<FoldingRange> folding_ranges(const syntax::LexOutput& lex);

}  // namespace dravelin::lsp
