// Lowering: one linked module's syntax tree to the IR's units, and the root's declarations.
#pragma once

#include <vector>

#include "compiler/link.h"
#include "ir/nodes.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::compiler {

struct LoweredModule {
  std::vector<ir::Judgment> judgments;
  std::vector<ir::Task> tasks;
  std::vector<ir::Def> defs;
  std::vector<ir::Machine> machines;
  std::vector<syntax::Diagnostic> diagnostics;
};

// Never fails: problems travel in `diagnostics`. Runs on modules the checker found errors in too, so it relies
// on nothing the checker would have guaranteed.
LoweredModule lower_program(const LinkedModule& module, const std::vector<LinkedModule>& modules);

struct LoweredDeclarations {
  std::vector<ir::Input> inputs;
  std::vector<ir::Output> outputs;
  std::vector<ir::Need> needs;
};

// The root program's `in`, `out` and `needs` declarations.
LoweredDeclarations lower_declarations(const syntax::ast::Program& program);

}  // namespace dravelin::compiler
