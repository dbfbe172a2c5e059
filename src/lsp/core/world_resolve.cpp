// Following names across documents: imports, module paths, the declaration a name refers to, and the
// documents that import one another.
#include <algorithm>
#include <utility>

#include "base/overloaded.h"
#include "lsp/core/uri.h"
#include "lsp/core/world.h"

namespace dravelin::lsp {
namespace {

namespace fs = std::filesystem;

std::optional<SymbolId> unit_named(const SymbolIndex& index, const std::string& name) {
  auto found = index.unit_names.find(name);
  if (found == index.unit_names.end() || index.symbols[found->second].kind != DeclKind::Unit) return std::nullopt;
  return found->second;
}

const ImportAlias* import_named(const SymbolIndex& index, std::string_view alias) {
  for (const ImportAlias& import : index.imports)
    if (import.alias == alias) return &import;
  return nullptr;
}

}  // namespace

AnalysisPtr World::resolve_import(const Analysis& importer, std::string_view use_path) {
  const fs::path from = importer.path ? *importer.path : fs::path("./<source>");
  auto resolved = module_sources_.resolve(from, use_path);
  if (!resolved.ok()) return nullptr;
  return analysis_for_path(*resolved);
}

AnalysisPtr World::resolve_module(AnalysisPtr from, std::span<const std::string> segments) {
  AnalysisPtr current = std::move(from);
  for (size_t i = 0; i < segments.size(); ++i) {
    const std::string& segment = segments[i];
    const bool has_std_alias = current->index && import_named(*current->index, "std") != nullptr;
    if (segment == "std" && !has_std_alias) return i + 1 == segments.size() ? prelude_ : nullptr;
    if (!current->index) return nullptr;
    const ImportAlias* import = import_named(*current->index, segment);
    if (import == nullptr || !import->path) return nullptr;
    current = resolve_import(*current, *import->path);
    if (!current) return nullptr;
  }
  return current;
}

std::optional<ResolvedSymbol> World::resolve_unit(const AnalysisPtr& analysis, const std::vector<std::string>& path) {
  if (path.empty()) return std::nullopt;
  if (path.size() == 1) {
    if (analysis->index)
      if (auto id = unit_named(*analysis->index, path[0])) return ResolvedSymbol{analysis, *id};
    if (prelude_->index)
      if (auto id = unit_named(*prelude_->index, path[0])) return ResolvedSymbol{prelude_, *id};
    return std::nullopt;
  }
  AnalysisPtr module = resolve_module(analysis, std::span(path).first(path.size() - 1));
  if (!module || !module->index) return std::nullopt;
  if (auto id = unit_named(*module->index, path.back())) return ResolvedSymbol{module, *id};
  return std::nullopt;
}

std::optional<ResolvedSymbol> World::defining_document(const AnalysisPtr& analysis, const RefTarget& target) {
  using Found = std::optional<ResolvedSymbol>;
  auto member_of = [&](const std::vector<std::string>& unit, const std::string& name) -> Found {
    Found owner = resolve_unit(analysis, unit);
    if (!owner) return std::nullopt;
    auto child = owner->analysis->index->child_named(owner->symbol, name);
    if (!child) return std::nullopt;
    return ResolvedSymbol{owner->analysis, *child};
  };
  return std::visit(
      Overloaded{
          [&](const ref::Local& local) -> Found {
            if (!analysis->index || local.symbol >= analysis->index->symbols.size()) return std::nullopt;
            return ResolvedSymbol{analysis, local.symbol};
          },
          [&](const ref::Unit& unit) -> Found { return resolve_unit(analysis, unit.path); },
          [&](const ref::ModuleAlias& alias) -> Found {
            if (alias.path.empty()) return std::nullopt;
            AnalysisPtr module = resolve_module(analysis, std::span(alias.path).first(alias.path.size() - 1));
            if (!module || !module->index) return std::nullopt;
            const ImportAlias* import = import_named(*module->index, alias.path.back());
            if (import == nullptr) return std::nullopt;
            return ResolvedSymbol{module, import->symbol};
          },
          [&](const ref::UnitMember& member) -> Found { return member_of(member.unit, member.member); },
          [&](const ref::MemberLabel& label) -> Found {
            Found owner = member_of(label.unit, label.member);
            if (!owner) return std::nullopt;
            const SymbolIndex& index = *owner->analysis->index;
            for (SymbolId id : index.labels_of(owner->symbol))
              if (index.symbols[id].name == label.label) return ResolvedSymbol{owner->analysis, id};
            return std::nullopt;
          },
          [&](const ref::UnitParameter& parameter) -> Found {
            Found found = member_of(parameter.unit, parameter.name);
            if (!found || found->declared().kind != DeclKind::Parameter) return std::nullopt;
            return found;
          },
          [&](const ref::ModuleCapability& capability) -> Found {
            const std::string alias[] = {capability.alias};
            AnalysisPtr module = resolve_module(analysis, alias);
            if (!module || !module->index) return std::nullopt;
            auto found = module->index->capability_names.find(capability.capability);
            if (found == module->index->capability_names.end()) return std::nullopt;
            return ResolvedSymbol{module, found->second};
          },
          [&](const ref::ModuleFile& file) -> Found {
            AnalysisPtr module = resolve_import(*analysis, file.path);
            if (!module || !module->index || module->index->symbols.empty()) return std::nullopt;
            return ResolvedSymbol{module, 0};
          },
          [&](const ref::Label& label) -> Found {
            if (!analysis->index) return std::nullopt;
            for (SymbolId id : analysis->index->labels())
              if (analysis->index->symbols[id].name == label.name) return ResolvedSymbol{analysis, id};
            return std::nullopt;
          },
          [](const auto&) -> Found { return std::nullopt; },
      },
      target);
}

std::set<std::string> World::transitive_imports(const AnalysisPtr& analysis) {
  std::set<std::string> keys;
  std::vector<AnalysisPtr> stack{analysis};
  while (!stack.empty()) {
    AnalysisPtr current = std::move(stack.back());
    stack.pop_back();
    if (!current->index) continue;
    for (const ImportAlias& import : current->index->imports) {
      if (!import.path) continue;
      AnalysisPtr module = resolve_import(*current, *import.path);
      if (!module) continue;
      if (keys.insert(document_key(*module)).second) stack.push_back(std::move(module));
    }
  }
  return keys;
}

std::vector<std::string> World::dependents(const std::string& uri) { return dependents(std::span(&uri, 1)); }

std::vector<std::string> World::dependents(std::span<const std::string> uris) {
  std::set<std::string> wanted;
  for (const std::string& uri : uris)
    if (AnalysisPtr a = analysis(uri)) wanted.insert(document_key(*a));
  if (wanted.empty()) return {};

  // The modules reached from the open documents, one node per document key, expanded from the analysis that
  // resolving an import gave first (as transitive_imports does); each import of each analysis resolved once.
  std::map<std::string, size_t> ids;
  std::vector<AnalysisPtr> nodes;
  std::vector<std::vector<size_t>> importers;  // per node, the nodes with an import of it
  std::map<const Analysis*, std::vector<size_t>> imports;
  // By value: the analysis may be one of `nodes`, which grows below.
  auto imports_of = [&](AnalysisPtr a) -> const std::vector<size_t>& {
    auto found = imports.find(a.get());
    if (found != imports.end()) return found->second;
    std::vector<size_t> targets;
    if (a->index) {
      for (const ImportAlias& import : a->index->imports) {
        if (!import.path) continue;
        AnalysisPtr module = resolve_import(*a, *import.path);
        if (!module) continue;
        auto [id, added] = ids.emplace(document_key(*module), nodes.size());
        if (added) {
          nodes.push_back(std::move(module));
          importers.emplace_back();
        }
        targets.push_back(id->second);
      }
    }
    return imports.emplace(a.get(), std::move(targets)).first->second;
  };

  std::set<std::string> asked(uris.begin(), uris.end());
  std::vector<std::pair<std::string, std::vector<size_t>>> candidates;
  for (const std::string& uri : open_uris()) {
    if (asked.count(uri) != 0) continue;
    if (AnalysisPtr a = analysis(uri)) candidates.emplace_back(uri, imports_of(a));
  }
  for (size_t node = 0; node < nodes.size(); ++node) {
    for (size_t target : imports_of(nodes[node])) importers[target].push_back(node);
  }

  // Backwards from the documents asked about: every node that reaches one of them.
  std::vector<bool> reaches(nodes.size(), false);
  std::vector<size_t> stack;
  for (const std::string& key : wanted) {
    auto found = ids.find(key);
    if (found == ids.end()) continue;
    reaches[found->second] = true;
    stack.push_back(found->second);
  }
  while (!stack.empty()) {
    const size_t node = stack.back();
    stack.pop_back();
    for (size_t importer : importers[node]) {
      if (reaches[importer]) continue;
      reaches[importer] = true;
      stack.push_back(importer);
    }
  }

  std::vector<std::string> out;
  for (const auto& [uri, targets] : candidates)
    if (std::any_of(targets.begin(), targets.end(), [&](size_t t) { return reaches[t]; })) out.push_back(uri);
  return out;
}

}  // namespace dravelin::lsp
