#include "lsp/core/symbol_index.h"

#include <algorithm>

#include "lsp/core/index_builder.h"

namespace dravelin::lsp {
namespace {

constexpr std::string_view kDeclKindNames[] = {
#define X(member, name) name,
    DRAVELIN_DECL_KINDS(X)
#undef X
};

constexpr std::string_view kRoleNames[] = {
#define X(member, name) name,
    DRAVELIN_OCCURRENCE_ROLES(X)
#undef X
};

}  // namespace

std::string_view decl_kind_name(DeclKind kind) { return kDeclKindNames[static_cast<size_t>(kind)]; }

std::string_view occurrence_role_name(OccurrenceRole role) { return kRoleNames[static_cast<size_t>(role)]; }

std::vector<SymbolId> SymbolIndex::children(std::optional<SymbolId> parent) const {
  std::vector<SymbolId> out;
  for (size_t i = 0; i < symbols.size(); ++i)
    if (symbols[i].parent == parent) out.push_back(static_cast<SymbolId>(i));
  std::stable_sort(out.begin(), out.end(), [&](SymbolId a, SymbolId b) {
    return symbols[a].span.start.offset < symbols[b].span.start.offset;
  });
  return out;
}

std::optional<SymbolId> SymbolIndex::child_named(SymbolId parent, std::string_view name) const {
  for (size_t i = 0; i < symbols.size(); ++i)
    if (symbols[i].parent == parent && symbols[i].name == name) return static_cast<SymbolId>(i);
  return std::nullopt;
}

std::vector<SymbolId> SymbolIndex::labels() const {
  std::vector<SymbolId> out;
  for (size_t i = 0; i < symbols.size(); ++i)
    if (symbols[i].kind == DeclKind::Label) out.push_back(static_cast<SymbolId>(i));
  return out;
}

std::vector<SymbolId> SymbolIndex::labels_of(SymbolId parent) const {
  std::vector<SymbolId> out;
  for (size_t i = 0; i < symbols.size(); ++i)
    if (symbols[i].kind == DeclKind::Label && symbols[i].parent == parent) out.push_back(static_cast<SymbolId>(i));
  return out;
}

SymbolIndex build_symbol_index(const syntax::ast::Program& program, std::string_view text) {
  return index_build::Builder(text).build(program);
}

const Occurrence* occurrence_at(const SymbolIndex& index, size_t offset) {
  const Occurrence* best = nullptr;
  for (const Occurrence& occurrence : index.occurrences) {
    if (occurrence.span.start.offset > offset || offset > occurrence.span.end.offset) continue;
    if (best == nullptr || occurrence.span.end.offset - occurrence.span.start.offset <
                               best->span.end.offset - best->span.start.offset)
      best = &occurrence;
  }
  return best;
}

}  // namespace dravelin::lsp
