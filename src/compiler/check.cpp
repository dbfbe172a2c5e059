// The checker's entry point: set-up, the unit passes, and the order and files of the findings.
#include "compiler/check.h"

#include <algorithm>
#include <variant>

#include "compiler/check_context.h"

namespace dravelin::compiler {

std::vector<syntax::Diagnostic> check_program(const LinkedModule& module, const std::vector<LinkedModule>& modules) {
  return check_program(module, ModuleIndex(modules));
}

std::vector<syntax::Diagnostic> check_program(const LinkedModule& module, const ModuleIndex& modules) {
  check::Checker checker(module, modules);
  for (const syntax::ast::Decl& decl : module.program.decls) {
    if (const auto* input = std::get_if<syntax::ast::Input>(&decl.node)) checker.input_names.insert(input->name);
  }
  for (const syntax::ast::Unit& unit : module.program.units) {
    checker.unit_names.emplace(syntax::ast::unit_name(unit), unit_kind(unit));
  }
  if (module.alias != "std") checker.prelude_names = prelude_public_names(modules);
  checker.log_shadowed = module.program.has_unit("log");

  check::check_units_as_whole(checker);
  for (const syntax::ast::Unit& unit : module.program.units) check::check_unit(checker, unit);

  std::vector<syntax::Diagnostic> diagnostics = std::move(checker.diagnostics);
  // Stable, so findings at one place keep the order in which the rules found them.
  std::stable_sort(diagnostics.begin(), diagnostics.end(),
                   [](const syntax::Diagnostic& a, const syntax::Diagnostic& b) {
                     if (a.span.start.line != b.span.start.line) return a.span.start.line < b.span.start.line;
                     return a.span.start.column < b.span.start.column;
                   });
  std::optional<std::string> file = module_display_name(module);
  if (file) {
    for (syntax::Diagnostic& d : diagnostics) {
      if (!d.file) d.file = file;
    }
  }
  return diagnostics;
}

}  // namespace dravelin::compiler
