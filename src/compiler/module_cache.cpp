#include "compiler/module_cache.h"

#include "syntax/parse.h"

namespace dravelin::compiler {

namespace fs = std::filesystem;

Result<fs::path, syntax::DiagnosticCode> ModuleCache::resolve(const fs::path& importer, const std::string& written) {
  auto key = std::make_pair(importer, written);
  auto it = resolved_.find(key);
  if (it == resolved_.end()) {
    Result<fs::path, syntax::DiagnosticCode> found = sources_->resolve(importer, written);
    std::optional<fs::path> value;
    if (found.ok()) value = std::move(found).value();
    it = resolved_.emplace(std::move(key), std::move(value)).first;
  }
  if (!it->second) return err(syntax::DiagnosticCode::UseNotFound);
  return *it->second;
}

const fs::path& ModuleCache::canonical(const fs::path& path) {
  auto it = canonical_.find(path);
  if (it == canonical_.end()) it = canonical_.emplace(path, sources_->key(path)).first;
  return it->second;
}

const LoadedModule& ModuleCache::load(const fs::path& resolved, const fs::path& canonical) {
  auto it = loaded_.find(canonical);
  if (it != loaded_.end()) return it->second;
  LoadedModule loaded;
  Result<std::string, ReadError> text = sources_->read_text(resolved, canonical);
  if (!text.ok()) {
    loaded = std::move(text).error();
  } else {
    auto parsed = syntax::parse_program(*text);
    if (parsed.ok()) {
      loaded = std::move(parsed).value();
    } else {
      loaded = std::move(parsed).error();
    }
  }
  return loaded_.emplace(canonical, std::move(loaded)).first->second;
}

}  // namespace dravelin::compiler
