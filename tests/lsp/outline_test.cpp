#include "lsp/core/outline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lsp/core/world.h"
#include "syntax/lexer.h"
#include "syntax/parse.h"

namespace dravelin::lsp {
namespace {

using Strings = std::vector<std::string>;

std::string show_range(const Range& r) {
  return std::to_string(r.start.line) + ":" + std::to_string(r.start.character) + "-" +
         std::to_string(r.end.line) + ":" + std::to_string(r.end.character);
}

// One line per symbol, indented by depth: "name (kind) range [detail]".
void flatten(const std::vector<DocumentSymbol>& symbols, int depth, Strings& out) {
  for (const DocumentSymbol& s : symbols) {
    std::string line(depth * 2, ' ');
    line += s.name + " (" + std::to_string(static_cast<int>(s.kind)) + ") " + show_range(s.range);
    if (s.detail) line += " [" + *s.detail + "]";
    out.push_back(line);
    flatten(s.children, depth + 1, out);
  }
}

Strings outline(const std::string& text) {
  AnalysisPtr analysis = analyze_document("untitled:a", std::nullopt, text, PositionEncoding::Utf16);
  EXPECT_TRUE(analysis->index);
  Strings out;
  flatten(document_symbols(*analysis->index, analysis->text, analysis->line_index), 0, out);
  return out;
}

TEST(Outline, TreeOfDeclarationsWithoutParametersVariablesOrShapedFields) {
  const std::string text =
      "program p\n"
      "use \"./m.zem\" as m\n"
      "in req: {title: text}\n"
      "needs web: tool:\n"
      "  fetch(url) -> text\n"
      "\n"
      "judgment classify(req):\n"
      "  urgent = req feels \"blocked\"\n"
      "\n"
      "machine flow(t):\n"
      "  initial a\n"
      "  observe:\n"
      "    s t.status, max 10\n"
      "  state a:\n"
      "    on go \"went\" -> b\n"
      "  state b done\n";
  EXPECT_EQ(outline(text), (Strings{
                               "m (2) 1:0-1:18 [use \"./m.zem\" as m]",
                               "req (13) 2:0-2:21 [in req: {title: text}]",
                               "  title (8) 2:9-2:20",
                               "web (11) 3:0-4:20 [needs web: tool]",
                               "  fetch (6) 4:2-4:20 [fetch(url) -> text]",
                               "classify (12) 6:0-7:30 [judgment classify(req)]",
                               "  urgent (7) 7:2-7:30 [urgent = req feels \"blocked\"]",
                               "flow (5) 9:0-15:14 [machine flow(t)]",
                               "  a (10) 13:2-14:21 [state a]",
                               "    go (24) 14:4-14:21 [on go \"went\" -> b]",
                               "  b (10) 15:2-15:14 [state b done]",
                           }));
}

TEST(Outline, SelectionOutsideTheRangeBecomesTheRangeAndStrayChildrenAreLeftOut) {
  const std::string text = "program p\n\ntask a:\n  return 1\n\ntask b:\n  return 2\n";
  auto program = syntax::parse_program(text);
  ASSERT_TRUE(program.ok());
  SymbolIndex index = build_symbol_index(*program, text);
  LineIndex lines(text, PositionEncoding::Utf16);
  const SymbolId a = index.unit_names.at("a");
  const SymbolId b = index.unit_names.at("b");
  index.symbols[a].selection_span = index.symbols[b].selection_span;  // a name outside its declaration
  index.symbols[b].parent = a;                                        // a child outside its parent
  std::vector<DocumentSymbol> symbols = document_symbols(index, text, lines);
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0].selection_range, symbols[0].range);
  EXPECT_TRUE(symbols[0].children.empty());
}

std::vector<std::string> folds(const std::string& text) {
  Strings out;
  for (const FoldingRange& r : folding_ranges(syntax::Lexer::scan(text)))
    out.push_back(std::to_string(r.start_line) + "-" + std::to_string(r.end_line) + (r.kind ? " " + *r.kind : ""));
  return out;
}

TEST(Folding, BlocksTextsCommentsAndImports) {
  const std::string text =
      "# one\n"                      // 0
      "# two\n"                      // 1
      "# three\n"                    // 2
      "program p\n"                  // 3
      "use \"./a.zem\" as a\n"       // 4
      "in x: text\n"                 // 5
      "use \"./b.zem\" as b\n"       // 6
      "\n"                           // 7
      "task main:\n"                 // 8
      "  t = \"\"\"\n"               // 9
      "one\n"                        // 10
      "two\n"                        // 11
      "\"\"\"\n"                     // 12
      "  if t:\n"                    // 13
      "    return 1\n"               // 14
      "  # trailing comment\n"       // 15
      "  return 2  # after code\n"   // 16
      "\n"                           // 17
      "def one():\n"                 // 18
      "  return 1\n";                // 19
  EXPECT_EQ(folds(text), (Strings{"0-2 comment", "4-6 imports", "8-16", "9-12", "13-14", "15-16 comment", "18-19"}));
}

TEST(Folding, CommentsSeparatedByCodeAndSingleUseGiveNothing) {
  EXPECT_EQ(folds("# a\nprogram p\n# b\nuse \"./a.zem\" as a\n"), Strings{});
}

TEST(Folding, RangesWithTheSameStartAreOrderedByEnd) {
  const std::string text = "task t:\n  if a:\n    if b:\n      return 1\n";
  EXPECT_EQ(folds(text), (Strings{"0-3", "1-3", "2-3"}));
}

}  // namespace
}  // namespace dravelin::lsp
