#include "compiler/compile.h"

#include <utility>

#include "compiler/check.h"
#include "compiler/link.h"
#include "compiler/lower.h"
#include "syntax/parse.h"

namespace dravelin::compiler {
namespace {

using syntax::Diagnostic;

void fill_missing_file(std::vector<Diagnostic>& diagnostics, const std::optional<std::string>& file) {
  if (!file) return;
  for (auto& d : diagnostics)
    if (!d.file) d.file = *file;
}

template <class T>
void append(std::vector<T>& to, std::vector<T>&& from) {
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

ir::Module module_entry(const LinkedModule& m) {
  ir::Module entry;
  entry.alias = m.alias;
  entry.program = m.program.name;
  entry.path = m.use_path;
  entry.mapping = m.mapping;
  entry.span = m.span;
  return entry;
}

// Checks, lowers and assembles a linked program; the root's declarations come from the first module.
CompileResult compile_linked(Result<std::vector<LinkedModule>, std::vector<Diagnostic>> linked,
                             const std::optional<std::filesystem::path>& path) {
  std::optional<std::string> file;
  if (path) file = display_path(*path);

  if (!linked.ok()) {
    std::vector<Diagnostic> diagnostics = std::move(linked).error();
    fill_missing_file(diagnostics, file);
    return err(std::move(diagnostics));
  }
  const std::vector<LinkedModule>& modules = *linked;
  const syntax::ast::Program& program = modules.front().program;

  ir::Ir ir;
  ir.ir_version = ir::kIrVersion;
  ir.program = program.name;
  LoweredDeclarations declarations = lower_declarations(program);
  ir.inputs = std::move(declarations.inputs);
  ir.outputs = std::move(declarations.outputs);
  ir.needs = std::move(declarations.needs);
  ir.file = file;
  ir.span = program.span;

  // Every module is checked and lowered, even after an earlier one had errors, so one compile reports them all.
  std::vector<Diagnostic> diagnostics;
  const ModuleIndex index(modules);
  for (const LinkedModule& module : modules) {
    append(diagnostics, check_program(module, index));
    LoweredModule lowered = lower_program(module, index);
    append(diagnostics, std::move(lowered.diagnostics));
    append(ir.judgments, std::move(lowered.judgments));
    append(ir.tasks, std::move(lowered.tasks));
    append(ir.defs, std::move(lowered.defs));
    append(ir.machines, std::move(lowered.machines));
    ir.modules.push_back(module_entry(module));
  }
  fill_missing_file(diagnostics, file);

  for (const Diagnostic& d : diagnostics)
    if (d.severity == syntax::Severity::Error) return err(std::move(diagnostics));
  return Compiled{std::move(ir), std::move(diagnostics)};
}

}  // namespace

CompileResult compile_file(const std::filesystem::path& path, const ModuleSources& sources) {
  const std::string file = display_path(path);
  auto text = sources.read_text(path);
  if (!text.ok()) {
    Diagnostic d = syntax::make_diagnostic(syntax::DiagnosticCode::UseNotFound,
                                           "cannot read `" + file + "`: " + text.error().message, syntax::Span{});
    d.file = file;
    return err(std::vector<Diagnostic>{std::move(d)});
  }
  auto parsed = syntax::parse_program(*text);
  if (!parsed.ok()) {
    std::vector<Diagnostic> diagnostics = std::move(parsed).error();
    fill_missing_file(diagnostics, file);
    return err(std::move(diagnostics));
  }
  return compile_source(std::move(parsed).value(), path, sources);
}

CompileResult compile_source(const syntax::ast::Program& program, const std::optional<std::filesystem::path>& path,
                             const ModuleSources& sources) {
  return compile_linked(link_program(program, path, sources), path);
}

CompileResult compile_source(syntax::ast::Program&& program, const std::optional<std::filesystem::path>& path,
                             const ModuleSources& sources) {
  return compile_linked(link_program(std::move(program), path, sources), path);
}

}  // namespace dravelin::compiler
