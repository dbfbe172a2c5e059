#include "serve/core/programs.h"

#include <filesystem>
#include <utility>

#include "compiler/compile.h"
#include "compiler/module_sources.h"
#include "syntax/parse.h"

namespace dravelin::serve::core {

Result<std::pair<std::string, const ir::Ir*>, Failure> ProgramStore::load(const LoadRequest& request) {
  if (request.source.has_value() == request.path.has_value()) {
    return err(Failure{InvalidParams{"program.load requires exactly one of `source` or `path`"}});
  }
  compiler::ModuleSources sources = compiler::ModuleSources::from_env();
  std::vector<std::filesystem::path> roots(request.paths.begin(), request.paths.end());
  roots.insert(roots.end(), sources.roots.begin(), sources.roots.end());
  sources.roots = std::move(roots);

  compiler::CompileResult compiled = [&]() -> compiler::CompileResult {
    if (request.path) return compiler::compile_file(*request.path, sources);
    auto parsed = syntax::parse_program(*request.source);
    if (!parsed.ok()) return err(std::move(parsed).error());
    return compiler::compile_source(std::move(parsed).value(), std::nullopt, sources);
  }();
  if (!compiled.ok()) return err(Failure{CompileFailure{std::move(compiled).error()}});

  std::string id = "program_" + std::to_string(next_number_++);
  auto [at, inserted] = programs_.insert_or_assign(id, std::move(compiled->ir));
  return std::pair<std::string, const ir::Ir*>(std::move(id), &at->second);
}

Result<const ir::Ir*, Failure> ProgramStore::find(const std::string& id) const {
  auto at = programs_.find(id);
  if (at == programs_.end()) return err(Failure{InvalidParams{"unknown program_id `" + id + "`"}});
  return &at->second;
}

}  // namespace dravelin::serve::core
