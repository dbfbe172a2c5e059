// Lowering: one linked module's syntax tree to the IR's units, and the root's declarations.
#pragma once

#include <optional>
#include <string>
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
// The same with the modules already indexed, for callers that lower many of them.
LoweredModule lower_program(const LinkedModule& module, const ModuleIndex& modules);

struct LoweredDeclarations {
  std::vector<ir::Input> inputs;
  std::vector<ir::Output> outputs;
  std::vector<ir::Need> needs;
};

// The root program's `in`, `out` and `needs` declarations.
LoweredDeclarations lower_declarations(const syntax::ast::Program& program);

// The names that spell `expr` when it is a name or a chain of field accesses on a name (`a`, `a.b.c`), each with
// its own span; nothing for any other expression.
std::optional<std::vector<syntax::ast::Ident>> callee_path(const syntax::ast::Expr& expr);

// The canonical source text of an expression: how a judgment's subject names an index in its state path.
// Parentheses are never written, so `(a + b) * c` comes back as `a + b * c`.
std::string render_expr(const syntax::ast::Expr& expr);

// Whole numbers below 10^15 as integer digits (minus zero as 0); any other number as the shortest plain decimal
// that reads back the same, never with an exponent.
std::string render_number(double value);

}  // namespace dravelin::compiler
