// What every lowering routine shares: the module being lowered, the linked program and the diagnostics raised on
// the way. Private to the lowering files.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/link.h"
#include "ir/nodes.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::compiler::lowering {

namespace ast = syntax::ast;

struct LoweringContext {
  LoweringContext(const LinkedModule& module, const ModuleIndex& modules)
      : module(module),
        modules(modules),
        log_shadowed(module.program.has_unit("log")),
        file(module_display_name(module)) {}
  // Indexes the modules itself: for lowering one module on its own.
  LoweringContext(const LinkedModule& module, const std::vector<LinkedModule>& modules)
      : owned_index_(std::make_unique<ModuleIndex>(modules)),
        module(module),
        modules(*owned_index_),
        log_shadowed(module.program.has_unit("log")),
        file(module_display_name(module)) {}

 private:
  std::unique_ptr<ModuleIndex> owned_index_;

 public:
  const LinkedModule& module;
  const ModuleIndex& modules;
  std::vector<syntax::Diagnostic> diagnostics;
  // Interpolations are parsed again with the file's own reading of `log`.
  bool log_shadowed;
  // The `file` of every diagnostic lowering raises about this module.
  std::optional<std::string> file;

  void warn(syntax::DiagnosticCode code, std::string message, syntax::Span span);
};

// Statements and expressions (lower_code.cpp).
ir::Expr lower_expr(const ast::Expr& expr, LoweringContext& ctx);
std::optional<ir::Expr> lower_optional(const std::optional<ast::Expr>& expr, LoweringContext& ctx);
ir::Stmt lower_stmt(const ast::Stmt& stmt, LoweringContext& ctx);
std::vector<ir::Stmt> lower_block(const ast::Block& block, LoweringContext& ctx);
ir::ShapeField lower_shape_field(const ast::ShapeField& field, LoweringContext& ctx);
std::vector<ir::TextPart> lower_text_parts(const ast::TextLit& text, LoweringContext& ctx);
// The root program's capability a module's capability name is bound to; any other name unchanged.
std::string bound_name(std::string_view name, const LoweringContext& ctx);

// Judgment questions (lower_judge.cpp). The result is in no request group yet.
ir::Judge lower_judge(const ast::Judge& judge, LoweringContext& ctx);

}  // namespace dravelin::compiler::lowering
