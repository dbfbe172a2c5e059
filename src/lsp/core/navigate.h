// Hover, go to definition and find references: each starts from the name under the cursor in the document's
// symbol index and follows it across documents through the World. Hover also explains the language's own
// words from the documentation tables where no name is declared.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "lsp/core/world.h"
#include "lsp/protocol/types.h"

namespace dravelin::lsp {

std::optional<Hover> hover(World& world, const AnalysisPtr& analysis, size_t offset);

// No or one location; none for a name declared in the prelude, which an editor cannot open.
std::vector<Location> goto_definition(World& world, const AnalysisPtr& analysis, size_t offset);

// By URI, then start line, then start character, without repeats.
std::vector<Location> find_references(World& world, const AnalysisPtr& analysis, size_t offset,
                                      bool include_declaration);

// The location of a declared symbol's name.
std::optional<Location> symbol_location(const Analysis& analysis, SymbolId symbol);

// The `#` comment lines right above the line on which a declaration starts, joined by line feeds; empty when
// there are none.
std::string doc_comment(std::string_view text, size_t declaration_start);

}  // namespace dravelin::lsp
