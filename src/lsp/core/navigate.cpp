// Go to definition and find references.
#include "lsp/core/navigate.h"

#include <algorithm>
#include <map>

#include "lsp/core/uri.h"

namespace dravelin::lsp {
namespace {

// References to these kinds of symbol can come from any document; to the others only from their own.
bool referenced_across_documents(DeclKind kind) {
  switch (kind) {
    case DeclKind::Module:
    case DeclKind::Capability:
    case DeclKind::Unit:
    case DeclKind::Parameter:
    case DeclKind::JudgmentResult:
    case DeclKind::Label: return true;
    default: return false;
  }
}

std::string_view span_text(std::string_view text, const syntax::Span& span) {
  if (span.end.offset < span.start.offset || span.end.offset > text.size()) return {};
  return text.substr(span.start.offset, span.end.offset - span.start.offset);
}

}  // namespace

std::optional<Location> symbol_location(const Analysis& analysis, SymbolId symbol) {
  if (!analysis.index || symbol >= analysis.index->symbols.size()) return std::nullopt;
  return Location{analysis.uri,
                  analysis.line_index.range(analysis.text, analysis.index->symbols[symbol].selection_span)};
}

std::vector<Location> goto_definition(World& world, const AnalysisPtr& analysis, size_t offset) {
  if (!analysis->index) return {};
  const Occurrence* occurrence = occurrence_at(*analysis->index, offset);
  if (occurrence == nullptr) return {};
  std::optional<ResolvedSymbol> resolved = world.defining_document(analysis, occurrence->target);
  if (!resolved || resolved->analysis->uri == kPreludeUri) return {};
  if (std::holds_alternative<ref::ModuleFile>(occurrence->target)) return {Location{resolved->analysis->uri, Range{}}};
  if (std::optional<Location> location = symbol_location(*resolved->analysis, resolved->symbol)) return {*location};
  return {};
}

std::vector<Location> find_references(World& world, const AnalysisPtr& analysis, size_t offset,
                                      bool include_declaration) {
  if (!analysis->index) return {};
  const Occurrence* occurrence = occurrence_at(*analysis->index, offset);
  if (occurrence == nullptr) return {};
  const std::optional<ResolvedSymbol> definition = world.defining_document(analysis, occurrence->target);
  if (!definition) return {};
  const DeclaredSymbol& declared = definition->declared();
  const std::string definition_key = document_key(*definition->analysis);

  // Keys are paths made canonical on the file system: each document's is worked out once.
  std::map<const Analysis*, std::string> keys;
  auto key_of = [&](const Analysis& a) -> const std::string& {
    auto found = keys.find(&a);
    if (found == keys.end()) found = keys.emplace(&a, document_key(a)).first;
    return found->second;
  };
  auto is_definition = [&](const ResolvedSymbol& r) {
    return r.symbol == definition->symbol &&
           (r.analysis == definition->analysis || key_of(*r.analysis) == definition_key);
  };

  std::vector<AnalysisPtr> documents;
  if (referenced_across_documents(declared.kind)) {
    documents = world.all_documents();
  } else {
    documents.push_back(definition->analysis);
  }

  std::vector<Location> out;
  for (const AnalysisPtr& document : documents) {
    if (!document->index) continue;
    for (const Occurrence& o : document->index->occurrences) {
      if (std::holds_alternative<ref::Unresolved>(o.target)) continue;
      if (o.is_declaration && !include_declaration) continue;
      if (const auto* local = std::get_if<ref::Local>(&o.target)) {
        // A document's own symbols resolve to that document: no lookup is needed.
        if (local->symbol != definition->symbol || key_of(*document) != definition_key) continue;
      } else {
        // Every target but a module file names its symbol by the very text it stands on, so a name that
        // differs cannot resolve to the definition and is not looked up.
        if (!std::holds_alternative<ref::ModuleFile>(o.target) && span_text(document->text, o.span) != declared.name)
          continue;
        std::optional<ResolvedSymbol> resolved = world.defining_document(document, o.target);
        if (!resolved || !is_definition(*resolved)) continue;
      }
      out.push_back(Location{document->uri, document->line_index.range(document->text, o.span)});
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const Location& a, const Location& b) {
    if (a.uri != b.uri) return a.uri < b.uri;
    if (a.range.start.line != b.range.start.line) return a.range.start.line < b.range.start.line;
    return a.range.start.character < b.range.start.character;
  });
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace dravelin::lsp
