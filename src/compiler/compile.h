// The compile pipeline: source to IR through parse, link, check and lower.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "base/result.h"
#include "compiler/module_sources.h"
#include "ir/nodes.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::compiler {

struct Compiled {
  ir::Ir ir;
  std::vector<syntax::Diagnostic> warnings;  // every one a warning; often empty
};

// On failure: every diagnostic of the phase that ended the compile (at least one error).
using CompileResult = Result<Compiled, std::vector<syntax::Diagnostic>>;

// Reads, parses and compiles the file at `path`.
CompileResult compile_file(const std::filesystem::path& path, const ModuleSources& sources);

// Compiles an already parsed root program; `path` is its file, when it has one.
CompileResult compile_source(const syntax::ast::Program& program, const std::optional<std::filesystem::path>& path,
                             const ModuleSources& sources);
// The same, taking over the program instead of copying it.
CompileResult compile_source(syntax::ast::Program&& program, const std::optional<std::filesystem::path>& path,
                             const ModuleSources& sources);

}  // namespace dravelin::compiler
