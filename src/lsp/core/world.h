// Everything the language server knows: the open documents with their texts and versions, the source files
// of the workspace and of imported modules (read from disk on demand), the prelude, and a lazily built
// analysis of each. It also keeps the compiler's module sources in step with the editor, so that compiling an
// open document sees the unsaved texts of the others.
//
// The World belongs to the server's main loop and is never shared with another thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/module_sources.h"
#include "lsp/core/line_index.h"
#include "lsp/core/recover.h"
#include "lsp/core/symbol_index.h"
#include "lsp/protocol/types.h"

namespace dravelin::lsp {

// What is known of one text. Immutable once built, shared by the World and the requests that use it.
struct Analysis {
  std::string text;
  LineIndex line_index;
  TolerantParse parse;
  std::optional<std::filesystem::path> path;  // the file, canonical for a file read from disk
  std::optional<SymbolIndex> index;           // when the tolerant parse gave a program
  std::string uri;
};

using AnalysisPtr = std::shared_ptr<const Analysis>;

AnalysisPtr analyze_document(std::string uri, std::optional<std::filesystem::path> path, std::string text,
                             PositionEncoding encoding);

// The identity of a document: the text of its path's key (compiler::source_key) when it has a path, else its
// URI. An open document and the same file read from disk have the same key.
std::string document_key(const Analysis& analysis);

// A declared symbol of an indexed document.
struct ResolvedSymbol {
  AnalysisPtr analysis;
  SymbolId symbol = 0;

  const DeclaredSymbol& declared() const { return analysis->index->symbols[symbol]; }
  friend bool operator==(const ResolvedSymbol& a, const ResolvedSymbol& b) {
    return a.symbol == b.symbol && document_key(*a.analysis) == document_key(*b.analysis);
  }
};

// Bounds on what the World reads from disk.
struct DiskLimits {
  size_t max_workspace_files = 2000;
  // Directory entries looked at by one workspace walk, whatever they turn out to be: a root of "/" or of a
  // home directory ends the walk here instead of freezing the server.
  size_t max_walk_entries = 50000;
  // Larger files are not read: no source file is this big, and the file cache holds every file it reads.
  uint64_t max_file_bytes = 8 * 1024 * 1024;
};

// A directory walk's allowance of entries.
struct WalkBudget {
  size_t max_files;
  size_t entries_left;
  bool exhausted = false;  // an entry was left unlisted: the walk is over
};

// Appends the ".zem" files below `directory` in name order, depth first, skipping hidden directories,
// "node_modules" and "target", until `files` holds `budget.max_files` paths or the entries run out.
void scan_source_files(const std::filesystem::path& directory, std::vector<std::filesystem::path>& files,
                       WalkBudget& budget);

class World {
 public:
  World(PositionEncoding encoding, std::vector<std::filesystem::path> workspace_roots,
        compiler::ModuleSources module_sources, DiskLimits limits = {});

  void did_open(std::string uri, std::string text, int32_t version);
  // Each change applies to the text the one before left; a change of a URI that is not open is ignored.
  void did_change(const std::string& uri, const std::vector<ContentChange>& changes, int32_t version);
  void did_close(const std::string& uri);
  std::optional<int32_t> version(const std::string& uri) const;
  bool is_open(const std::string& uri) const { return documents_.count(uri) != 0; }
  // The URIs of the open documents, in byte order.
  std::vector<std::string> open_uris() const;

  // The analysis of an open document, or of the prelude for its URI; nothing otherwise. Never reads a file.
  AnalysisPtr analysis(const std::string& uri);
  // The analysis of a file: the open document of that file when there is one, else the file as read from
  // disk (cached until its modified time changes).
  AnalysisPtr analysis_for_path(const std::filesystem::path& path);
  // The module a `use` path names, seen from the analysed document.
  AnalysisPtr resolve_import(const Analysis& importer, std::string_view use_path);
  // The module reached by following import aliases from the document, one segment at a time.
  AnalysisPtr resolve_module(AnalysisPtr from, std::span<const std::string> segments);
  // The declaration an occurrence's target refers to.
  std::optional<ResolvedSymbol> defining_document(const AnalysisPtr& analysis, const RefTarget& target);
  // The keys of every document the analysed one imports, directly or not (its own key only through a cycle).
  std::set<std::string> transitive_imports(const AnalysisPtr& analysis);
  // The other open documents that import the document, directly or not.
  std::vector<std::string> dependents(const std::string& uri);
  // The open documents, other than the given ones, that import one of them, directly or not, in URI order.
  // One pass over the imports of every open document and of the modules they reach, whatever the number of
  // documents asked about.
  std::vector<std::string> dependents(std::span<const std::string> uris);
  // The open documents, then the workspace's source files that are not open.
  std::vector<AnalysisPtr> all_documents();

  // Files may have changed on disk: forgets every file read and the list of workspace files.
  void files_changed();

  const compiler::ModuleSources& module_sources() const { return module_sources_; }
  PositionEncoding encoding() const { return encoding_; }
  const AnalysisPtr& prelude() const { return prelude_; }
  size_t cached_file_count() const { return file_cache_.size(); }

 private:
  struct Document {
    std::string text;
    std::optional<std::filesystem::path> path;
    std::optional<std::filesystem::path> key;  // in the overlay and among the open files
    std::string uri;
    AnalysisPtr analysis;
    int32_t version = 0;
  };
  struct CachedFile {
    std::optional<int64_t> modified_ns;
    AnalysisPtr analysis;
  };

  std::optional<ResolvedSymbol> resolve_unit(const AnalysisPtr& analysis, const std::vector<std::string>& path);
  const std::vector<std::filesystem::path>& workspace_files();

  PositionEncoding encoding_;
  std::vector<std::filesystem::path> workspace_roots_;
  compiler::ModuleSources module_sources_;
  DiskLimits limits_;
  std::map<std::string, Document> documents_;
  // The URIs of the open documents under each overlay key: the first one stands for the file.
  std::map<std::filesystem::path, std::set<std::string>> open_files_;
  AnalysisPtr prelude_;
  std::map<std::filesystem::path, CachedFile> file_cache_;
  std::optional<std::vector<std::filesystem::path>> workspace_files_;
};

}  // namespace dravelin::lsp
