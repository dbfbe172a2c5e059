// The declarations of a document: its program, header, units and imports, and the fixed members of each unit
// (parameters, results, observed fields, states and events).
#include <algorithm>
#include <utility>

#include "base/overloaded.h"
#include "lsp/core/index_builder.h"
#include "lsp/core/text.h"
#include "syntax/utf8.h"

namespace dravelin::lsp::index_build {
namespace {

namespace ast = syntax::ast;
using syntax::Span;

// The text of a `use` path when it holds no interpolation.
std::optional<std::string> plain_path(const ast::TextLit& path) {
  std::string text;
  for (const syntax::TokenTextPart& part : path.parts) {
    const auto* literal = std::get_if<syntax::TextLiteralPart>(&part);
    if (literal == nullptr) return std::nullopt;
    text += literal->text;
  }
  return text;
}

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

SymbolId Builder::push(DeclaredSymbol symbol) {
  index_.symbols.push_back(std::move(symbol));
  return static_cast<SymbolId>(index_.symbols.size() - 1);
}

SymbolId Builder::declare(DeclaredSymbol symbol, OccurrenceRole role) {
  const Span name = symbol.selection_span;
  const SymbolId id = push(std::move(symbol));
  index_.occurrences.push_back(Occurrence{ref::Local{id}, name, true, role});
  return id;
}

void Builder::occur(RefTarget target, const Span& span, OccurrenceRole role) {
  index_.occurrences.push_back(Occurrence{std::move(target), span, false, role});
}

std::string Builder::first_line(const Span& span) const {
  const size_t start = span.start.offset;
  const size_t end = span.end.offset;
  if (start > text_.size() || end > text_.size() || !is_char_boundary(text_, start) ||
      !is_char_boundary(text_, end))
    return "";
  if (end <= start) return "";
  std::string_view line = text_.substr(start, end - start);
  line = line.substr(0, line.find('\n'));
  line = trim_end_white_space(line);
  if (line.ends_with(':')) line.remove_suffix(1);
  return std::string(trim_end_white_space(line));
}

Span Builder::sub_span(const Span& from, size_t start, size_t end) const {
  auto at = [&](size_t offset) {
    uint32_t column = from.start.column;
    for (size_t i = from.start.offset; i < offset && i < text_.size();) {
      i += syntax::decode_utf8(text_, i).length;
      ++column;
    }
    return syntax::Pos{from.start.line, column, static_cast<uint32_t>(offset)};
  };
  return Span{at(start), at(end)};
}

Span Builder::word_span(const Span& from, size_t start) const {
  size_t end = std::min(start, text_.size());
  while (end < text_.size() && is_word_byte(text_[end])) ++end;
  return sub_span(from, start, end);
}

void Builder::declare_program(const ast::Program& program) {
  DeclaredSymbol symbol;
  symbol.name = program.name;
  symbol.detail = "program " + program.name;
  symbol.selection_span = program.name_span;
  symbol.span = program.span;
  symbol.kind = DeclKind::Program;
  declare(std::move(symbol), OccurrenceRole::Module);
}

void Builder::declare_fields(const std::vector<ast::FieldShape>& fields, SymbolId parent,
                             std::vector<SymbolId>* top_level) {
  for (const ast::FieldShape& field : fields) {
    DeclaredSymbol symbol{parent, field.name, field.name, field.name_span, field.span, DeclKind::InputField, 0};
    const SymbolId id = declare(std::move(symbol), OccurrenceRole::Field);
    if (top_level != nullptr) top_level->push_back(id);
    if (!field.shape) continue;
    std::visit(Overloaded{
                   [&](const ast::Shape::Type& type) { occur(ref::Unresolved{}, type.span, OccurrenceRole::TypeName); },
                   [&](const ast::Shape::Record& record) { declare_fields(record.fields, id, nullptr); },
               },
               field.shape->node);
  }
}

void Builder::declare_input(const ast::Input& input) {
  DeclaredSymbol symbol{std::nullopt, input.name, first_line(input.span), input.name_span, input.span,
                        DeclKind::Input, 0};
  const SymbolId id = declare(std::move(symbol), OccurrenceRole::Input);
  std::vector<SymbolId> fields;
  std::visit(Overloaded{
                 [&](const ast::Shape::Type& type) { occur(ref::Unresolved{}, type.span, OccurrenceRole::TypeName); },
                 [&](const ast::Shape::Record& record) { declare_fields(record.fields, id, &fields); },
             },
             input.shape.node);
  NameBinding binding{id, shape::Opaque{}};
  if (!fields.empty()) binding.shape = shape::InputRecord{std::move(fields)};
  index_.program_names[input.name] = std::move(binding);
}

void Builder::declare_output(const ast::Output& output) {
  DeclaredSymbol symbol{std::nullopt, output.name, first_line(output.span), output.name_span, output.span,
                        DeclKind::Output, 0};
  const SymbolId id = declare(std::move(symbol), OccurrenceRole::Output);
  index_.program_names[output.name] = NameBinding{id, shape::Opaque{}};
}

void Builder::declare_need(const ast::Need& need) {
  DeclaredSymbol symbol{std::nullopt, need.name, first_line(need.span), need.name_span, need.span,
                        DeclKind::Capability, static_cast<uint8_t>(need.kind)};
  const SymbolId id = declare(std::move(symbol), OccurrenceRole::Capability);
  index_.capability_names[need.name] = id;
  if (need.kind != syntax::NeedKind::Tool) return;
  for (const ast::ToolSignature& verb : need.signatures) {
    DeclaredSymbol verb_symbol{id, verb.name, first_line(verb.span), verb.name_span, verb.span,
                               DeclKind::ToolVerb, 0};
    const SymbolId verb_id = declare(std::move(verb_symbol), OccurrenceRole::Verb);
    for (const ast::Ident& param : verb.params) {
      declare(DeclaredSymbol{verb_id, param.name, param.name, param.span, param.span, DeclKind::Parameter, 0},
              OccurrenceRole::Parameter);
    }
  }
}

void Builder::declare_unit(const ast::Unit& unit) {
  const auto kind = static_cast<uint8_t>(unit.node.index());
  std::visit(
      [&](const auto& u) {
        DeclaredSymbol symbol{std::nullopt, u.name, first_line(u.span), u.name_span, u.span, DeclKind::Unit,
                              kind};
        const SymbolId id = declare(std::move(symbol), static_cast<OccurrenceRole>(kind));
        index_.unit_names.emplace(u.name, id);
        unit_symbols_.push_back(id);
      },
      unit.node);
}

void Builder::declare_use(const ast::UseDecl& use) {
  DeclaredSymbol symbol{std::nullopt, use.alias, first_line(use.span), use.alias_span, use.span,
                        DeclKind::Module, 0};
  const SymbolId id = declare(std::move(symbol), OccurrenceRole::Module);

  // The quoted path, found in the declaration's own text.
  Span path_span = use.span;
  const size_t start = use.span.start.offset;
  const size_t end = std::max(start, static_cast<size_t>(use.span.end.offset));
  if (end <= text_.size()) {
    std::string_view declaration = text_.substr(start, end - start);
    const size_t open = declaration.find('"');
    if (open != std::string_view::npos) {
      const size_t close = declaration.find('"', open + 1);
      const size_t stop = close == std::string_view::npos ? declaration.size() : close + 1;
      path_span = sub_span(use.span, start + open, start + stop);
    }
  }
  std::optional<std::string> path = plain_path(use.path);
  if (path) occur(ref::ModuleFile{*path}, path_span, OccurrenceRole::Module);

  for (const ast::NeedMapping& entry : use.mapping) {
    occur(ref::ModuleCapability{use.alias, entry.inner}, entry.inner_span, OccurrenceRole::Capability);
    if (!entry.outer) continue;
    auto found = index_.capability_names.find(entry.outer->name);
    RefTarget target = ref::Unresolved{};
    if (found != index_.capability_names.end()) target = ref::Local{found->second};
    occur(std::move(target), entry.outer->span, OccurrenceRole::Capability);
  }
  index_.imports.push_back(ImportAlias{use.alias, std::move(path), id, path_span, use.span});
}

void Builder::index_params(const std::vector<ast::DefParam>& params, SymbolId unit) {
  for (const ast::DefParam& param : params) {
    const SymbolId id = declare(
        DeclaredSymbol{unit, param.name, param.name, param.name_span, param.span, DeclKind::Parameter, 0},
        OccurrenceRole::Parameter);
    names_[param.name] = NameBinding{id, shape::Opaque{}};
  }
  for (const ast::DefParam& param : params)
    if (param.default_value) walk_expr(*param.default_value, false);
}

void Builder::index_judgment(const ast::Judgment& judgment, SymbolId unit) {
  for (const ast::Ident& param : judgment.params) {
    const SymbolId id =
        declare(DeclaredSymbol{unit, param.name, param.name, param.span, param.span, DeclKind::Parameter, 0},
                OccurrenceRole::Parameter);
    names_[param.name] = NameBinding{id, shape::Opaque{}};
  }
  for (const ast::JudgmentResult& result : judgment.results) {
    const SymbolId id = declare(DeclaredSymbol{unit, result.name, first_line(result.span), result.name_span,
                                               result.span, DeclKind::JudgmentResult, 0},
                                OccurrenceRole::Field);
    // The result is not yet a name inside its own question.
    walk_judge(result.question, id);
    names_[result.name] = NameBinding{id, shape::Opaque{}};
  }
  for (const ast::JudgmentLog& log : judgment.logs) walk_expr(log.log, false);
}

void Builder::index_machine(const ast::Machine& machine, SymbolId unit) {
  index_params(machine.params, unit);
  index_keys(machine.budget, machine.thresholds);
  if (machine.goal) walk_expr(*machine.goal, false);
  std::vector<SymbolId> observed;
  for (const ast::ShapeField& field : machine.observe) {
    observed.push_back(declare(DeclaredSymbol{unit, field.name, first_line(field.span), field.name_span,
                                              field.span, DeclKind::ShapedField, 0},
                               OccurrenceRole::Field));
    walk_expr(field.value, false);
  }
  names_["obs"] = NameBinding{std::nullopt, shape::Record{std::move(observed)}};

  std::map<std::string, SymbolId, std::less<>> first_state;
  std::vector<SymbolId> states;
  for (const ast::MachineState& state : machine.states) {
    const SymbolId id = declare(DeclaredSymbol{unit, state.name, first_line(state.span), state.name_span,
                                               state.span, DeclKind::MachineState, 0},
                                OccurrenceRole::MachineState);
    first_state.emplace(state.name, id);
    states.push_back(id);
  }
  auto state_target = [&](const std::string& name) -> RefTarget {
    auto found = first_state.find(name);
    if (found == first_state.end()) return ref::Unresolved{};
    return ref::Local{found->second};
  };
  if (machine.initial) occur(state_target(machine.initial->name), machine.initial->span, OccurrenceRole::MachineState);
  // Every action block's variables exist before any event is walked, whichever event assigns them first.
  for (const ast::MachineState& state : machine.states)
    for (const ast::Transition& event : state.transitions)
      if (event.body) declare_pass(*event.body);
  for (size_t s = 0; s < machine.states.size(); ++s) {
    for (const ast::Transition& event : machine.states[s].transitions) {
      declare(DeclaredSymbol{states[s], event.event, first_line(event.span), event.event_span, event.span,
                             DeclKind::MachineEvent, 0},
              OccurrenceRole::MachineEvent);
      if (event.when) walk_expr(*event.when, false);
      occur(state_target(event.target), event.target_span, OccurrenceRole::MachineState);
      if (event.body) walk_pass(*event.body);
    }
  }
}

void Builder::index_unit(const ast::Unit& unit, SymbolId symbol) {
  names_.clear();
  current_unit_ = symbol;
  std::visit(Overloaded{
                 [&](const ast::Judgment& judgment) { index_judgment(judgment, symbol); },
                 [&](const ast::Task& task) {
                   index_params(task.params, symbol);
                   index_keys(task.budget, task.thresholds);
                   declare_pass(task.body);
                   walk_pass(task.body);
                 },
                 [&](const ast::Def& def) {
                   index_params(def.params, symbol);
                   declare_pass(def.body);
                   walk_pass(def.body);
                 },
                 [&](const ast::Machine& machine) { index_machine(machine, symbol); },
             },
             unit.node);
  const Span span = std::visit([](const auto& u) { return u.span; }, unit.node);
  index_.scopes.push_back(UnitScope{symbol, span, std::move(names_)});
  names_.clear();
  current_unit_.reset();
}

SymbolIndex Builder::build(const ast::Program& program) {
  declare_program(program);
  for (const ast::Decl& decl : program.decls) {
    std::visit(Overloaded{
                   [&](const ast::Input& input) { declare_input(input); },
                   [&](const ast::Output& output) { declare_output(output); },
                   [&](const ast::Need& need) { declare_need(need); },
               },
               decl.node);
  }
  for (const ast::Unit& unit : program.units) declare_unit(unit);
  for (const ast::UseDecl& use : program.uses) declare_use(use);
  for (size_t i = 0; i < program.units.size(); ++i) index_unit(program.units[i], unit_symbols_[i]);
  std::stable_sort(index_.occurrences.begin(), index_.occurrences.end(), [](const Occurrence& a, const Occurrence& b) {
    if (a.span.start.offset != b.span.start.offset) return a.span.start.offset < b.span.start.offset;
    return a.span.end.offset < b.span.end.offset;
  });
  return std::move(index_);
}

}  // namespace dravelin::lsp::index_build
