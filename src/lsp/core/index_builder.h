// The state of one symbol-index build, shared by the files that fill the index: the declarations
// (index_declarations.cpp), name resolution and the statement walk (index_walk.cpp), and the expression and
// judgment walk (index_expressions.cpp).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/core/symbol_index.h"
#include "syntax/ast.h"

namespace dravelin::lsp::index_build {

// One name of a dotted path (`a`, `a.b`, `a.b.c`).
struct Segment {
  std::string_view name;
  syntax::Span span;
};

// The segments of a name or of a chain of field accesses ending in a name; nothing for any other expression.
std::optional<std::vector<Segment>> dotted_path(const syntax::ast::Expr& expr);

// The names of the prelude's public defs, parsed once from the prelude text the program carries.
const std::vector<std::string>& prelude_unit_names();

class Builder {
 public:
  explicit Builder(std::string_view text) : text_(text), prelude_names_(prelude_unit_names()) {}

  SymbolIndex build(const syntax::ast::Program& program);

 private:
  // Appends a symbol; its index.
  SymbolId push(DeclaredSymbol symbol);
  // Appends a symbol and its declaring occurrence on the symbol's name.
  SymbolId declare(DeclaredSymbol symbol, OccurrenceRole role);
  void occur(RefTarget target, const syntax::Span& span, OccurrenceRole role);

  // The declaration's first source line, without trailing white space and one trailing colon.
  std::string first_line(const syntax::Span& span) const;
  // The span of the bytes [start, end) of the text, on the line of `from`, which they lie in.
  syntax::Span sub_span(const syntax::Span& from, size_t start, size_t end) const;
  // The span of the run of ASCII letters, digits and "_" starting at `start` (empty when there is none).
  syntax::Span word_span(const syntax::Span& from, size_t start) const;

  // ---- declarations (index_declarations.cpp) ----
  void declare_program(const syntax::ast::Program& program);
  void declare_input(const syntax::ast::Input& input);
  void declare_fields(const std::vector<syntax::ast::FieldShape>& fields, SymbolId parent,
                      std::vector<SymbolId>* top_level);
  void declare_output(const syntax::ast::Output& output);
  void declare_need(const syntax::ast::Need& need);
  void declare_unit(const syntax::ast::Unit& unit);
  void declare_use(const syntax::ast::UseDecl& use);

  void index_unit(const syntax::ast::Unit& unit, SymbolId symbol);
  void index_judgment(const syntax::ast::Judgment& judgment, SymbolId unit);
  void index_params(const std::vector<syntax::ast::DefParam>& params, SymbolId unit);
  void index_machine(const syntax::ast::Machine& machine, SymbolId unit);

  // ---- names and statements (index_walk.cpp) ----
  // Pushes one occurrence for a used name; the shape of what it is bound to.
  ValueShape resolve_name(std::string_view name, const syntax::Span& span, bool allow_builtin);
  // One occurrence per segment; `in_call` when the path is the callee of a call.
  void index_path(const std::vector<Segment>& path, bool in_call);
  // The binding of a name in the unit, else among the inputs and outputs.
  const NameBinding* binding_of(std::string_view name) const;
  // The unit path a callee names, when it names a unit.
  std::optional<std::vector<std::string>> unit_callee(const syntax::ast::Expr& callee) const;
  void declare_variable(const std::string& name, const syntax::Span& name_span, const syntax::Span& span,
                        ValueShape shape);
  void declare_pass(const syntax::ast::Block& block);
  void walk_pass(const syntax::ast::Block& block);
  void walk_stmt(const syntax::ast::Stmt& stmt);
  void index_keys(const std::vector<syntax::ast::BudgetLimit>& budget,
                  const std::vector<syntax::ast::Threshold>& thresholds);

  // ---- expressions and judgments (index_expressions.cpp) ----
  void walk_expr(const syntax::ast::Expr& expr, bool in_call);
  void walk_call(const syntax::ast::Expr::Call& call);
  void walk_is(const syntax::ast::Expr::Is& test);
  void walk_fields(const std::vector<syntax::ast::RecordField>& fields);
  void walk_text(const syntax::ast::TextLit& text);
  void walk_log(const syntax::ast::Expr::Log& log);
  void walk_judge(const syntax::ast::Judge& judge, std::optional<SymbolId> label_parent);
  void walk_detail(const syntax::ast::Detail& detail);

  std::string_view text_;
  const std::vector<std::string>& prelude_names_;
  SymbolIndex index_;
  std::vector<SymbolId> unit_symbols_;                     // in unit order
  std::map<std::string, NameBinding, std::less<>> names_;  // the names of the unit being indexed
  std::optional<SymbolId> current_unit_;
};

}  // namespace dravelin::lsp::index_build
