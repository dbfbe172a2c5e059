// What one link has already resolved, read and parsed. A file imported along many routes (a diamond, or layers
// of them) is linked once per route, but its text is read and parsed only the first time: the file system is
// taken to hold still for the duration of one link, so every later import of the file sees the same answer.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "compiler/module_sources.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::compiler {

// A module's text read and parsed: its program, the parser's diagnostics (their files not yet set), or the
// read error.
using LoadedModule = std::variant<syntax::ast::Program, std::vector<syntax::Diagnostic>, ReadError>;

class ModuleCache {
 public:
  explicit ModuleCache(const ModuleSources& sources) : sources_(&sources) {}

  // ModuleSources::resolve, asked once per importer and written path.
  Result<std::filesystem::path, syntax::DiagnosticCode> resolve(const std::filesystem::path& importer,
                                                                const std::string& written);

  // ModuleSources::key (canonical_path for files on disk), computed once per path.
  const std::filesystem::path& canonical(const std::filesystem::path& path);

  // The module whose canonical path is `canonical`, read from `resolved` (one of its spellings) and parsed on
  // the first request only.
  const LoadedModule& load(const std::filesystem::path& resolved, const std::filesystem::path& canonical);

 private:
  const ModuleSources* sources_;
  std::map<std::pair<std::filesystem::path, std::string>, std::optional<std::filesystem::path>> resolved_;
  std::map<std::filesystem::path, std::filesystem::path> canonical_;
  // Map nodes never move, so the references that load() hands out stay valid while the map grows.
  std::map<std::filesystem::path, LoadedModule> loaded_;
};

}  // namespace dravelin::compiler
