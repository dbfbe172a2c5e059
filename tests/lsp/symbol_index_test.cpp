#include "lsp/core/symbol_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/parse.h"

namespace dravelin::lsp {
namespace {

using Strings = std::vector<std::string>;

SymbolIndex index_text(const std::string& text) {
  auto program = syntax::parse_program(text);
  EXPECT_TRUE(program.ok()) << (program.ok() ? "" : syntax::debug_string(program.error()));
  return build_symbol_index(*program, text);
}

std::string text_at(const std::string& text, const syntax::Span& span) {
  return text.substr(span.start.offset, span.end.offset - span.start.offset);
}

// "kind name < parent | detail", one per symbol in push order.
Strings symbols(const SymbolIndex& index) {
  Strings out;
  for (const DeclaredSymbol& s : index.symbols) {
    std::string line = std::string(decl_kind_name(s.kind)) + " " + s.name;
    if (s.parent) line += " < " + index.symbols[*s.parent].name;
    line += " | " + s.detail;
    out.push_back(line);
  }
  return out;
}

std::string target_text(const SymbolIndex& index, const RefTarget& target) {
  if (const auto* local = std::get_if<ref::Local>(&target)) return "local " + index.symbols[local->symbol].name;
  if (const auto* file = std::get_if<ref::ModuleFile>(&target)) return "file " + file->path;
  if (const auto* capability = std::get_if<ref::ModuleCapability>(&target))
    return "capability " + capability->alias + "." + capability->capability;
  if (std::holds_alternative<ref::Unresolved>(target)) return "unresolved";
  return "other";
}

// "text role target [decl]", one per occurrence in stored order.
Strings occurrences(const std::string& text, const SymbolIndex& index) {
  Strings out;
  for (const Occurrence& o : index.occurrences) {
    std::string line = text_at(text, o.span) + " " + std::string(occurrence_role_name(o.role)) + " " +
                       target_text(index, o.target);
    if (o.is_declaration) line += " decl";
    out.push_back(line);
  }
  return out;
}

const std::string kIndexedProgram =
    "# A program with every kind of declaration.\n"
    "program triage\n"
    "\n"
    "use \"lib/web.zem\" as web with browser: page, shell\n"
    "\n"
    "in request: {title: text, meta: {tags: list}}\n"
    "out reply\n"
    "needs page: tool:\n"
    "  fetch(url, depth) -> text\n"
    "needs shell: tool\n"
    "\n"
    "judgment classify(request):\n"
    "  kind = request.body pick:\n"
    "    bug \"a defect\"\n"
    "    other\n"
    "  urgent = request feels \"someone is blocked\"\n"
    "\n"
    "task main budget calls 4:\n"
    "  return reply\n"
    "\n"
    "def summary(text, limit = 200):\n"
    "  return text\n"
    "\n"
    "machine follow_up(ticket) budget steps 12:\n"
    "  goal \"resolved\"\n"
    "  initial waiting\n"
    "  observe:\n"
    "    status ticket.status, max 100\n"
    "  state waiting:\n"
    "    on answered \"the reporter replied\" -> review\n"
    "    on lost \"nothing came\" -> nowhere\n"
    "  state review:\n"
    "    on fixed \"the fix is confirmed\" -> closed\n"
    "  state closed done\n"
    "  state review done\n";

TEST(SymbolIndex, DeclaresTheHeaderTheUnitsTheirMembersAndTheImports) {
  SymbolIndex index = index_text(kIndexedProgram);
  EXPECT_EQ(symbols(index),
            (Strings{
                "program triage | program triage",
                "input request | in request: {title: text, meta: {tags: list}}",
                "input_field title < request | title",
                "input_field meta < request | meta",
                "input_field tags < meta | tags",
                "output reply | out reply",
                "capability page | needs page: tool",
                "tool_verb fetch < page | fetch(url, depth) -> text",
                "parameter url < fetch | url",
                "parameter depth < fetch | depth",
                "capability shell | needs shell: tool",
                "unit classify | judgment classify(request)",
                "unit main | task main budget calls 4",
                "unit summary | def summary(text, limit = 200)",
                "unit follow_up | machine follow_up(ticket) budget steps 12",
                "module web | use \"lib/web.zem\" as web with browser: page, shell",
                "parameter request < classify | request",
                "judgment_result kind < classify | kind = request.body pick",
                "label bug < kind | bug \"a defect\"",
                "judgment_result urgent < classify | urgent = request feels \"someone is blocked\"",
                "parameter text < summary | text",
                "parameter limit < summary | limit",
                "parameter ticket < follow_up | ticket",
                "shaped_field status < follow_up | status ticket.status, max 100",
                "machine_state waiting < follow_up | state waiting",
                "machine_state review < follow_up | state review",
                "machine_state closed < follow_up | state closed done",
                "machine_state review < follow_up | state review done",
                "machine_event answered < waiting | on answered \"the reporter replied\" -> review",
                "machine_event lost < waiting | on lost \"nothing came\" -> nowhere",
                "machine_event fixed < review | on fixed \"the fix is confirmed\" -> closed",
            }));
}

TEST(SymbolIndex, RecordsDeclaringAndReferringOccurrencesInTextOrder) {
  SymbolIndex index = index_text(kIndexedProgram);
  Strings all = occurrences(kIndexedProgram, index);
  // The header and import part of the list, and the machine's states and transitions.
  EXPECT_EQ(Strings(all.begin(), all.begin() + 17),
            (Strings{
                "triage module local triage decl",
                "\"lib/web.zem\" module file lib/web.zem",
                "web module local web decl",
                "browser capability capability web.browser",
                "page capability local page",
                "shell capability capability web.shell",
                "request input local request decl",
                "title field local title decl",
                "text type_name unresolved",
                "meta field local meta decl",
                "tags field local tags decl",
                "list type_name unresolved",
                "reply output local reply decl",
                "page capability local page decl",
                "fetch verb local fetch decl",
                "url parameter local url decl",
                "depth parameter local depth decl",
            }));
  EXPECT_EQ(Strings(all.end() - 14, all.end()),
            (Strings{
                "waiting machine_state local waiting",
                "status field local status decl",
                "ticket parameter local ticket",
                "status field unresolved",
                "waiting machine_state local waiting decl",
                "answered machine_event local answered decl",
                "review machine_state local review",
                "lost machine_event local lost decl",
                "nowhere machine_state unresolved",
                "review machine_state local review decl",
                "fixed machine_event local fixed decl",
                "closed machine_state local closed",
                "closed machine_state local closed decl",
                "review machine_state local review decl",
            }));
  for (size_t i = 1; i < index.occurrences.size(); ++i)
    EXPECT_LE(index.occurrences[i - 1].span.start.offset, index.occurrences[i].span.start.offset);
}

TEST(SymbolIndex, NameMapsKeepTheFirstUnitAndTheLastCapability) {
  const std::string text =
      "program p\nneeds a: agent\nneeds a: tool\n\ntask f:\n  return 1\n\ndef f():\n  return 2\n";
  SymbolIndex index = index_text(text);
  ASSERT_EQ(index.unit_names.count("f"), 1u);
  EXPECT_EQ(index.symbols[index.unit_names.at("f")].detail, "task f");
  EXPECT_EQ(index.symbols[index.capability_names.at("a")].sub_kind, static_cast<uint8_t>(syntax::NeedKind::Tool));
  // Both units still have symbols and declaring occurrences.
  size_t unit_declarations = 0;
  for (const Occurrence& o : index.occurrences)
    if (o.is_declaration && index.symbols[std::get<ref::Local>(o.target).symbol].kind == DeclKind::Unit)
      ++unit_declarations;
  EXPECT_EQ(unit_declarations, 2u);
}

TEST(SymbolIndex, InterpolatedUsePathHasNoFileOccurrenceButAnAlias) {
  const std::string text = "program p\nuse \"lib/{name}.zem\" as m\n";
  SymbolIndex index = index_text(text);
  ASSERT_EQ(index.imports.size(), 1u);
  EXPECT_FALSE(index.imports[0].path);
  EXPECT_EQ(text_at(text, index.imports[0].path_span), "\"lib/{name}.zem\"");
  for (const Occurrence& o : index.occurrences) EXPECT_FALSE(std::holds_alternative<ref::ModuleFile>(o.target));
}

TEST(SymbolIndex, PathSpanStaysOnTheUseLineWithCharacterColumns) {
  const std::string text = "program p\nuse \"./\xC3\xA9.zem\" as m\n";
  SymbolIndex index = index_text(text);
  const syntax::Span& span = index.imports[0].path_span;
  EXPECT_EQ(span.start.line, 2u);
  EXPECT_EQ(span.start.column, 4u);
  EXPECT_EQ(span.end.column, 13u);  // nine characters: the quotes, "./", U+00E9 and ".zem"
  EXPECT_EQ(span.end.offset - span.start.offset, 10u);
}

TEST(SymbolIndex, ScopesBindParametersResultsAndObservedRecord) {
  SymbolIndex index = index_text(kIndexedProgram);
  ASSERT_EQ(index.scopes.size(), 4u);
  EXPECT_EQ(index.scopes[0].bindings.count("request"), 1u);
  EXPECT_EQ(index.scopes[0].bindings.count("kind"), 1u);
  const NameBinding& obs = index.scopes[3].bindings.at("obs");
  EXPECT_FALSE(obs.symbol);
  ASSERT_TRUE(std::holds_alternative<shape::Record>(obs.shape));
  EXPECT_EQ(std::get<shape::Record>(obs.shape).fields.size(), 1u);
  const NameBinding& request = index.program_names.at("request");
  ASSERT_TRUE(std::holds_alternative<shape::InputRecord>(request.shape));
  EXPECT_EQ(std::get<shape::InputRecord>(request.shape).fields.size(), 2u);
}

TEST(SymbolIndex, ChildrenComeInSourceOrderAndChildNamedFindsTheFirst) {
  SymbolIndex index = index_text(kIndexedProgram);
  const SymbolId machine = index.unit_names.at("follow_up");
  Strings names;
  for (SymbolId id : index.children(machine)) names.push_back(index.symbols[id].name);
  EXPECT_EQ(names, (Strings{"ticket", "status", "waiting", "review", "closed", "review"}));
  const std::optional<SymbolId> review = index.child_named(machine, "review");
  ASSERT_TRUE(review);
  EXPECT_EQ(index.symbols[*review].detail, "state review");
  EXPECT_FALSE(index.child_named(machine, "nothing"));
}

TEST(SymbolIndex, DetailIsEmptyWhenTheSpanSplitsACharacter) {
  // A span cut inside U+00E9 cannot give a first line; the builder must not produce broken text.
  const std::string text = "program p\njudgment j(t):\n  k = t feels \"\xC3\xA9\"\n";
  auto program = syntax::parse_program(text);
  ASSERT_TRUE(program.ok()) << syntax::debug_string(program.error());
  auto& judgment = std::get<syntax::ast::Judgment>(program->units[0].node);
  judgment.results[0].span.end.offset = static_cast<uint32_t>(text.find('\xA9'));
  SymbolIndex index = build_symbol_index(*program, text);
  ASSERT_EQ(index.symbols.back().name, "k");
  EXPECT_EQ(index.symbols.back().detail, "");
}

TEST(OccurrenceAt, NarrowestWinsEndsIncludedFirstAmongEquals) {
  SymbolIndex index;
  auto span = [](uint32_t start, uint32_t end) { return syntax::Span{{1, start, start}, {1, end, end}}; };
  index.occurrences = {
      Occurrence{ref::Unresolved{}, span(0, 10), false, OccurrenceRole::Variable},
      Occurrence{ref::Builtin{"a"}, span(4, 7), false, OccurrenceRole::Variable},
      Occurrence{ref::Builtin{"b"}, span(5, 8), false, OccurrenceRole::Variable},
  };
  EXPECT_EQ(occurrence_at(index, 7), &index.occurrences[1]);   // the end offset still hits
  EXPECT_EQ(occurrence_at(index, 8), &index.occurrences[2]);
  EXPECT_EQ(occurrence_at(index, 2), &index.occurrences[0]);
  EXPECT_EQ(occurrence_at(index, 11), nullptr);
}

}  // namespace
}  // namespace dravelin::lsp
