// Completion: what may be written at the cursor, read from the text of the line before it, the symbol index,
// the prelude's index and the documentation tables. Items are not filtered by the word being typed: the
// editor filters and sorts them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/core/world.h"
#include "lsp/protocol/types.h"

namespace dravelin::lsp {

// Where the cursor's line cannot be analysed (it failed to parse, or nothing did), completion analyses a copy
// of the text with that line replaced by a harmless assignment. Typing on one line keeps that copy the same,
// so the last one is kept and reused while it still matches.
class PatchedAnalyses {
 public:
  AnalysisPtr analyze(const Analysis& original, std::string patched_text);
  size_t analyses_built() const { return built_; }

 private:
  AnalysisPtr last_;
  size_t built_ = 0;
};

std::vector<CompletionItem> complete(World& world, const AnalysisPtr& analysis, size_t offset,
                                     PatchedAnalyses& patched);

// The fields of the value a judgment line's verb produces (`pick among`, `pick`, `rate`); none for any other.
std::vector<CompletionItem> field_set_of_detail(std::string_view detail);

// The dotted name that ends the text, split at every ".", empty segments kept.
std::vector<std::string> receiver_path(std::string_view text);

}  // namespace dravelin::lsp
