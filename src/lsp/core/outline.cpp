#include "lsp/core/outline.h"

#include <algorithm>
#include <utility>

namespace dravelin::lsp {
namespace {

std::optional<SymbolKind> outline_kind(const DeclaredSymbol& symbol) {
  switch (symbol.kind) {
    case DeclKind::Module: return SymbolKind::Module;
    case DeclKind::Input: return SymbolKind::Variable;
    case DeclKind::InputField: return SymbolKind::Field;
    case DeclKind::Output: return SymbolKind::Variable;
    case DeclKind::Capability: return SymbolKind::Interface;
    case DeclKind::ToolVerb: return SymbolKind::Method;
    case DeclKind::Unit:
      return symbol.sub_kind == static_cast<uint8_t>(UnitKind::Machine) ? SymbolKind::Class : SymbolKind::Function;
    case DeclKind::JudgmentResult: return SymbolKind::Property;
    case DeclKind::MachineState: return SymbolKind::Enum;
    case DeclKind::MachineEvent: return SymbolKind::Event;
    case DeclKind::Label: return SymbolKind::EnumMember;
    case DeclKind::Program:
    case DeclKind::Parameter:
    case DeclKind::Variable:
    case DeclKind::ShapedField: break;
  }
  return std::nullopt;
}

bool before(const Position& a, const Position& b) { return a < b; }

class OutlineBuilder {
 public:
  OutlineBuilder(const SymbolIndex& index, std::string_view text, const LineIndex& lines)
      : index_(index), text_(text), lines_(lines), children_(index.symbols.size()) {
    // Every symbol's children at once, in declaration order; sorted by start below, as `children` sorts them.
    for (size_t i = 0; i < index.symbols.size(); ++i) {
      const auto& parent = index.symbols[i].parent;
      if (parent) children_[*parent].push_back(static_cast<SymbolId>(i));
    }
    for (auto& list : children_) sort_by_start(list);
  }

  std::vector<DocumentSymbol> top_level() {
    std::vector<DocumentSymbol> out;
    for (SymbolId id : index_.children(std::nullopt)) {
      if (index_.symbols[id].kind == DeclKind::Program) continue;
      if (auto symbol = convert(id)) out.push_back(std::move(*symbol));
    }
    return out;
  }

 private:
  void sort_by_start(std::vector<SymbolId>& ids) const {
    std::stable_sort(ids.begin(), ids.end(), [&](SymbolId a, SymbolId b) {
      return index_.symbols[a].span.start.offset < index_.symbols[b].span.start.offset;
    });
  }

  std::optional<DocumentSymbol> convert(SymbolId id) {
    const DeclaredSymbol& symbol = index_.symbols[id];
    std::optional<SymbolKind> kind = outline_kind(symbol);
    if (!kind) return std::nullopt;
    DocumentSymbol out;
    out.name = symbol.name;
    if (symbol.detail != symbol.name) out.detail = symbol.detail;
    out.kind = *kind;
    out.range = lines_.range(text_, symbol.span);
    out.selection_range = lines_.range(text_, symbol.selection_span);
    if (before(out.selection_range.start, out.range.start) || before(out.range.end, out.selection_range.end))
      out.selection_range = out.range;
    for (SymbolId child : children_[id]) {
      const DeclaredSymbol& c = index_.symbols[child];
      if (c.span.start.offset < symbol.span.start.offset || c.span.end.offset > symbol.span.end.offset) continue;
      if (auto converted = convert(child)) out.children.push_back(std::move(*converted));
    }
    return out;
  }

  const SymbolIndex& index_;
  std::string_view text_;
  const LineIndex& lines_;
  std::vector<std::vector<SymbolId>> children_;
};

// Folding lines are zero-based.
uint32_t zero_based(uint32_t line) { return line == 0 ? 0 : line - 1; }

}  // namespace

std::vector<DocumentSymbol> document_symbols(const SymbolIndex& index, std::string_view text,
                                             const LineIndex& line_index) {
  return OutlineBuilder(index, text, line_index).top_level();
}

std::vector<FoldingRange> folding_ranges(const syntax::LexOutput& lex) {
  std::vector<FoldingRange> ranges;
  uint32_t last_line = 0;
  std::vector<uint32_t> open_blocks;
  for (const syntax::Token& token : lex.tokens) {
    if (token.is_indent()) {
      open_blocks.push_back(last_line);
    } else if (token.is_dedent()) {
      if (open_blocks.empty()) continue;
      const uint32_t start = open_blocks.back();
      open_blocks.pop_back();
      if (start < last_line) ranges.push_back({start, last_line, std::nullopt});
    } else if (!token.is_newline() && !token.is_eof()) {
      last_line = zero_based(token.span.end.line);
      const uint32_t first_line = zero_based(token.span.start.line);
      if (token.is_text() && first_line < last_line) ranges.push_back({first_line, last_line, std::nullopt});
    }
  }

  if (lex.comments.size() >= 2) {
    uint32_t run_start = zero_based(lex.comments.front().start.line);
    uint32_t run_end = run_start;
    auto close_run = [&] {
      if (run_start < run_end) ranges.push_back({run_start, run_end, std::string("comment")});
    };
    for (size_t i = 1; i < lex.comments.size(); ++i) {
      const uint32_t line = zero_based(lex.comments[i].start.line);
      if (line == run_end + 1) {
        run_end = line;
        continue;
      }
      close_run();
      run_start = run_end = line;
    }
    close_run();
  }

  std::optional<uint32_t> first_use;
  uint32_t last_use = 0;
  for (const syntax::Token& token : lex.tokens) {
    if (!token.is_keyword(syntax::Keyword::Use) || token.span.start.column != 0) continue;
    const uint32_t line = zero_based(token.span.start.line);
    if (!first_use) first_use = line;
    last_use = line;
  }
  if (first_use && *first_use < last_use) ranges.push_back({*first_use, last_use, std::string("imports")});

  std::stable_sort(ranges.begin(), ranges.end(), [](const FoldingRange& a, const FoldingRange& b) {
    if (a.start_line != b.start_line) return a.start_line < b.start_line;
    return a.end_line < b.end_line;
  });
  return ranges;
}

}  // namespace dravelin::lsp
