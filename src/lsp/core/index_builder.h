// The state of one symbol-index build, shared by the files that fill the index.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "lsp/core/symbol_index.h"
#include "syntax/ast.h"

namespace dravelin::lsp::index_build {

class Builder {
 public:
  explicit Builder(std::string_view text) : text_(text) {}

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

  std::string_view text_;
  SymbolIndex index_;
  std::vector<SymbolId> unit_symbols_;       // in unit order
  std::map<std::string, NameBinding> names_;  // the names of the unit being indexed
};

}  // namespace dravelin::lsp::index_build
