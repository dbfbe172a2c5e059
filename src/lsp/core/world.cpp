#include "lsp/core/world.h"

#include <algorithm>
#include <utility>

#include "compiler/prelude.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp {

AnalysisPtr analyze_document(std::string uri, std::optional<std::filesystem::path> path, std::string text,
                             PositionEncoding encoding) {
  LineIndex line_index(text, encoding);
  TolerantParse parse = recover_parse(text);
  std::optional<SymbolIndex> index;
  if (parse.program) index = build_symbol_index(*parse.program, text);
  return std::make_shared<const Analysis>(Analysis{std::move(text), std::move(line_index), std::move(parse),
                                                   std::move(path), std::move(index), std::move(uri)});
}

std::string document_key(const Analysis& analysis) {
  if (analysis.path) return compiler::display_path(compiler::source_key(*analysis.path, {}));
  return analysis.uri;
}

World::World(PositionEncoding encoding, std::vector<std::filesystem::path> workspace_roots,
             compiler::ModuleSources module_sources, DiskLimits limits)
    : encoding_(encoding),
      workspace_roots_(std::move(workspace_roots)),
      module_sources_(std::move(module_sources)),
      limits_(limits),
      prelude_(analyze_document(std::string(kPreludeUri), std::nullopt, std::string(compiler::prelude_text()),
                                encoding)) {}

void World::did_open(std::string uri, std::string text, int32_t version) {
  did_close(uri);
  Document document;
  document.path = uri_to_path(uri);
  if (document.path) {
    document.key = module_sources_.key(*document.path);
    module_sources_.overlay[*document.key] = text;
    open_files_[*document.key].insert(uri);
  }
  document.text = std::move(text);
  document.uri = uri;
  document.version = version;
  documents_.insert_or_assign(std::move(uri), std::move(document));
}

void World::did_change(const std::string& uri, const std::vector<ContentChange>& changes, int32_t version) {
  auto found = documents_.find(uri);
  if (found == documents_.end()) return;
  Document& document = found->second;
  for (const ContentChange& change : changes) {
    if (!change.range) {
      document.text = change.text;
      continue;
    }
    const LineIndex lines(document.text, encoding_);
    const size_t start = lines.offset(document.text, change.range->start);
    const size_t end = std::max(start, lines.offset(document.text, change.range->end));
    document.text.replace(start, end - start, change.text);
  }
  document.version = version;
  document.analysis.reset();
  if (document.key) module_sources_.overlay[*document.key] = document.text;
}

void World::did_close(const std::string& uri) {
  auto found = documents_.find(uri);
  if (found == documents_.end()) return;
  if (const std::optional<std::filesystem::path>& key = found->second.key) {
    auto file = open_files_.find(*key);
    file->second.erase(uri);
    if (file->second.empty()) {
      open_files_.erase(file);
      module_sources_.overlay.erase(*key);
    } else {
      // Another URI of the same file is still open: its text stays what imports of the file read.
      module_sources_.overlay[*key] = documents_.at(*file->second.begin()).text;
    }
  }
  documents_.erase(found);
}

std::optional<int32_t> World::version(const std::string& uri) const {
  auto found = documents_.find(uri);
  if (found == documents_.end()) return std::nullopt;
  return found->second.version;
}

std::vector<std::string> World::open_uris() const {
  std::vector<std::string> uris;
  uris.reserve(documents_.size());
  for (const auto& [uri, document] : documents_) uris.push_back(uri);
  return uris;
}

AnalysisPtr World::analysis(const std::string& uri) {
  if (uri == kPreludeUri) return prelude_;
  auto found = documents_.find(uri);
  if (found == documents_.end()) return nullptr;
  Document& document = found->second;
  if (!document.analysis)
    document.analysis = analyze_document(document.uri, document.path, document.text, encoding_);
  return document.analysis;
}

}  // namespace dravelin::lsp
