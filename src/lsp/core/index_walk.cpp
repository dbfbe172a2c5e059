// Name resolution and the two passes over a unit's statements: the declaration pass, which gives every
// variable of the unit its symbol before anything is resolved (so a use above the first assignment still
// finds it), and the walk pass, which records an occurrence for every name used.
#include <algorithm>
#include <utility>

#include "base/overloaded.h"
#include "compiler/prelude.h"
#include "lsp/core/docs.h"
#include "lsp/core/index_builder.h"
#include "syntax/parse.h"

namespace dravelin::lsp::index_build {
namespace {

namespace ast = syntax::ast;
using syntax::Span;

std::vector<std::string> path_names(const std::vector<Segment>& path, size_t count) {
  std::vector<std::string> out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) out.emplace_back(path[i].name);
  return out;
}

bool is_handle_method(std::string_view name) {
  return name == "send" || name == "wait" || name == "stop" || name == "observe" || name == "spawn";
}

// The value a variable is first assigned tells what it holds, as far as member access cares.
ValueShape assigned_shape(const ast::Expr& value, const std::optional<std::vector<std::string>>& callee_unit) {
  if (const auto* call = std::get_if<ast::Expr::Call>(&value.node)) {
    if (auto callee = dotted_path(*call->callee); callee && callee->back().name == "spawn") return shape::AgentHandle{};
    if (callee_unit) return shape::UnitResult{*callee_unit};
    return shape::Opaque{};
  }
  if (auto path = dotted_path(value); path && path->size() == 2 && (*path)[1].name == "spawn")
    return shape::AgentHandle{};
  return shape::Opaque{};
}

}  // namespace

std::optional<std::vector<Segment>> dotted_path(const ast::Expr& expr) {
  std::vector<Segment> reversed;
  const ast::Expr* at = &expr;
  for (;;) {
    if (const auto* name = std::get_if<ast::Expr::Name>(&at->node)) {
      reversed.push_back(Segment{name->name, name->span});
      break;
    }
    const auto* field = std::get_if<ast::Expr::Field>(&at->node);
    if (field == nullptr) return std::nullopt;
    reversed.push_back(Segment{field->name, field->name_span});
    at = &*field->target;
  }
  std::reverse(reversed.begin(), reversed.end());
  return reversed;
}

const std::vector<std::string>& prelude_unit_names() {
  // The prelude is fixed text: one parse serves every index the process builds.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    auto program = syntax::parse_program(compiler::prelude_text());
    if (!program.ok()) return out;
    for (const ast::Unit& unit : program->units) {
      const auto* def = std::get_if<ast::Def>(&unit.node);
      if (def != nullptr && !def->name.starts_with('_')) out.push_back(def->name);
    }
    return out;
  }();
  return names;
}

const NameBinding* Builder::binding_of(std::string_view name) const {
  if (auto found = names_.find(name); found != names_.end()) return &found->second;
  if (auto found = index_.program_names.find(name); found != index_.program_names.end()) return &found->second;
  return nullptr;
}

ValueShape Builder::resolve_name(std::string_view name, const Span& span, bool allow_builtin) {
  RefTarget target = ref::Unresolved{};
  OccurrenceRole role = OccurrenceRole::Variable;
  ValueShape shape = shape::Opaque{};
  auto local = [&](SymbolId id, OccurrenceRole r) {
    target = ref::Local{id};
    role = r;
  };
  if (auto bound = names_.find(name); bound != names_.end()) {
    shape = bound->second.shape;
    if (bound->second.symbol) {
      const bool parameter = index_.symbols[*bound->second.symbol].kind == DeclKind::Parameter;
      local(*bound->second.symbol, parameter ? OccurrenceRole::Parameter : OccurrenceRole::Variable);
    }
  } else if (auto program = index_.program_names.find(name); program != index_.program_names.end()) {
    shape = program->second.shape;
    if (program->second.symbol) {
      const bool output = index_.symbols[*program->second.symbol].kind == DeclKind::Output;
      local(*program->second.symbol, output ? OccurrenceRole::Output : OccurrenceRole::Input);
    }
  } else if (auto capability = index_.capability_names.find(name); capability != index_.capability_names.end()) {
    local(capability->second, OccurrenceRole::Capability);
  } else if (auto unit = index_.unit_names.find(name);
             unit != index_.unit_names.end() && index_.symbols[unit->second].kind == DeclKind::Unit) {
    local(unit->second, static_cast<OccurrenceRole>(index_.symbols[unit->second].sub_kind));
  } else if (auto import = std::find_if(index_.imports.begin(), index_.imports.end(),
                                        [&](const ImportAlias& i) { return i.alias == name; });
             import != index_.imports.end()) {
    local(import->symbol, OccurrenceRole::Module);
  } else if (name == "std") {
    role = OccurrenceRole::Module;
  } else if (std::find(prelude_names_.begin(), prelude_names_.end(), name) != prelude_names_.end()) {
    target = ref::Unit{{std::string(name)}};
    role = OccurrenceRole::PreludeUnit;
  } else if (allow_builtin && is_builtin_function(name)) {
    target = ref::Builtin{std::string(name)};
    role = OccurrenceRole::BuiltinFunction;
  }
  bool declaration = false;
  if (const auto* l = std::get_if<ref::Local>(&target)) declaration = index_.symbols[l->symbol].selection_span == span;
  index_.occurrences.push_back(Occurrence{std::move(target), span, declaration, role});
  return shape;
}

void Builder::index_path(const std::vector<Segment>& path, bool in_call) {
  const ValueShape first = resolve_name(path[0].name, path[0].span, in_call && path.size() == 1);
  if (path.size() == 1) return;
  std::optional<SymbolId> head_symbol;
  if (const auto* local = std::get_if<ref::Local>(&index_.occurrences.back().target)) head_symbol = local->symbol;
  const bool head_unresolved = std::holds_alternative<ref::Unresolved>(index_.occurrences.back().target);
  const DeclaredSymbol* symbol = head_symbol ? &index_.symbols[*head_symbol] : nullptr;

  const bool module =
      (symbol != nullptr && symbol->kind == DeclKind::Module) || (path[0].name == "std" && head_unresolved);
  if (module) {
    for (size_t i = 1; i + 1 < path.size(); ++i)
      occur(ref::ModuleAlias{path_names(path, i + 1)}, path[i].span, OccurrenceRole::Module);
    occur(ref::Unit{path_names(path, path.size())}, path.back().span, OccurrenceRole::DefRef);
    return;
  }

  const Segment& member = path[1];
  const bool two_segment_callee = in_call && path.size() == 2;
  const OccurrenceRole unknown = two_segment_callee ? OccurrenceRole::Verb : OccurrenceRole::Field;
  auto method_or_unknown = [&](bool method) {
    if (method) {
      occur(ref::HandleMethod{std::string(member.name)}, member.span, OccurrenceRole::Verb);
    } else {
      occur(ref::Unresolved{}, member.span, unknown);
    }
  };
  auto field_among = [&](const std::vector<SymbolId>& fields) {
    RefTarget target = ref::Unresolved{};
    for (SymbolId field : fields) {
      if (index_.symbols[field].name != member.name) continue;
      target = ref::Local{field};
      break;
    }
    occur(std::move(target), member.span, OccurrenceRole::Field);
  };
  if (symbol != nullptr && symbol->kind == DeclKind::Capability) {
    if (auto verb = index_.child_named(*head_symbol, member.name)) {
      occur(ref::Local{*verb}, member.span, OccurrenceRole::Verb);
    } else {
      occur(ref::CapabilityVerb{std::string(member.name), static_cast<syntax::NeedKind>(symbol->sub_kind)}, member.span,
            OccurrenceRole::Verb);
    }
  } else {
    std::visit(Overloaded{
                   [&](const shape::UnitResult& result) {
                     occur(ref::UnitMember{result.unit, std::string(member.name)}, member.span, OccurrenceRole::Field);
                   },
                   [&](const shape::Record& record) { field_among(record.fields); },
                   [&](const shape::InputRecord& record) { field_among(record.fields); },
                   [&](const shape::AgentHandle&) { method_or_unknown(is_handle_method(member.name)); },
                   // A choice, or nothing known: only `stop` and `observe` are methods wherever they appear.
                   [&](const auto&) {
                     method_or_unknown(member.name == "stop" || member.name == "observe" ||
                                       (two_segment_callee && is_handle_method(member.name)));
                   },
               },
               first);
  }
  for (size_t i = 2; i < path.size(); ++i) occur(ref::Unresolved{}, path[i].span, OccurrenceRole::Field);
}

std::optional<std::vector<std::string>> Builder::unit_callee(const ast::Expr& callee) const {
  auto path = dotted_path(callee);
  if (!path) return std::nullopt;
  const std::string_view first = (*path)[0].name;
  if (path->size() == 1) {
    if (names_.find(first) != names_.end()) return std::nullopt;
    const bool unit = index_.unit_names.find(first) != index_.unit_names.end() ||
                      std::find(prelude_names_.begin(), prelude_names_.end(), first) != prelude_names_.end();
    if (!unit) return std::nullopt;
  } else {
    const bool module = first == "std" || std::any_of(index_.imports.begin(), index_.imports.end(),
                                                      [&](const ImportAlias& i) { return i.alias == first; });
    if (!module) return std::nullopt;
  }
  return path_names(*path, path->size());
}

void Builder::declare_variable(const std::string& name, const Span& name_span, const Span& span, ValueShape shape) {
  if (names_.find(name) != names_.end() || index_.program_names.find(name) != index_.program_names.end()) return;
  const SymbolId id =
      push(DeclaredSymbol{current_unit_, name, first_line(span), name_span, span, DeclKind::Variable, 0});
  names_[name] = NameBinding{id, std::move(shape)};
}

void Builder::declare_pass(const ast::Block& block) {
  for (const ast::Stmt& stmt : block.stmts) {
    std::visit(Overloaded{
                   [&](const ast::Stmt::Assign& assign) {
                     if (!assign.target.path.empty()) return;
                     std::optional<std::vector<std::string>> callee;
                     if (const auto* call = std::get_if<ast::Expr::Call>(&assign.value.node))
                       callee = unit_callee(*call->callee);
                     declare_variable(assign.target.root, assign.target.root_span, assign.span,
                                      assigned_shape(assign.value, callee));
                   },
                   [&](const ast::Stmt::If& branches) {
                     for (const ast::Branch& branch : branches.branches) declare_pass(branch.body);
                     if (branches.otherwise) declare_pass(*branches.otherwise);
                   },
                   [&](const ast::Stmt::For& loop) {
                     for (const ast::Ident& name : loop.names)
                       declare_variable(name.name, name.span, name.span, shape::Opaque{});
                     declare_pass(loop.body);
                   },
                   [&](const ast::Stmt::Loop& loop) { declare_pass(loop.body); },
                   [&](const ast::Stmt::Until& loop) { declare_pass(loop.body); },
                   [&](const ast::Stmt::Gate& gate) {
                     for (const ast::GateArm& arm : gate.arms) declare_pass(arm.body);
                   },
                   [&](const ast::Stmt::Shape& shaped) {
                     declare_variable(shaped.target, shaped.target_span, shaped.span, shape::Opaque{});
                   },
                   [](const auto&) {},
               },
               stmt.node);
  }
}

void Builder::walk_pass(const ast::Block& block) {
  for (const ast::Stmt& stmt : block.stmts) walk_stmt(stmt);
}

void Builder::walk_stmt(const ast::Stmt& stmt) {
  std::visit(Overloaded{
                 [&](const ast::Stmt::Assign& assign) {
                   resolve_name(assign.target.root, assign.target.root_span, false);
                   std::optional<SymbolId> root;
                   if (const auto* local = std::get_if<ref::Local>(&index_.occurrences.back().target))
                     root = local->symbol;
                   for (const ast::Ident& step : assign.target.path)
                     occur(ref::Unresolved{}, step.span, OccurrenceRole::Field);
                   const auto* judge = std::get_if<ast::Expr::Judge>(&assign.value.node);
                   if (judge == nullptr) {
                     walk_expr(assign.value, false);
                     return;
                   }
                   const bool plain = assign.target.path.empty();
                   std::optional<SymbolId> parent = current_unit_;
                   if (plain && root) parent = root;
                   walk_judge(*judge->judge, parent);
                   if (!plain || !parent) return;
                   // The answer to an inline pick or rate can be tested against that question's own labels.
                   std::vector<SymbolId> labels = index_.labels_of(*parent);
                   auto bound = names_.find(assign.target.root);
                   if (!labels.empty() && bound != names_.end()) bound->second.shape = shape::Choice{std::move(labels)};
                 },
                 [&](const ast::Stmt::Expr& expr) { walk_expr(expr.expr, false); },
                 [&](const ast::Stmt::If& branches) {
                   for (const ast::Branch& branch : branches.branches) {
                     walk_expr(branch.test, false);
                     walk_pass(branch.body);
                   }
                   if (branches.otherwise) walk_pass(*branches.otherwise);
                 },
                 [&](const ast::Stmt::For& loop) {
                   for (const ast::Ident& name : loop.names) resolve_name(name.name, name.span, false);
                   walk_expr(loop.iterable, false);
                   walk_pass(loop.body);
                 },
                 [&](const ast::Stmt::Loop& loop) { walk_pass(loop.body); },
                 [&](const ast::Stmt::Until& loop) {
                   walk_expr(loop.test, false);
                   walk_pass(loop.body);
                 },
                 [&](const ast::Stmt::Gate& gate) {
                   if (gate.risk) walk_expr(*gate.risk, false);
                   if (gate.confidence) walk_expr(*gate.confidence, false);
                   if (gate.done) walk_expr(*gate.done, false);
                   for (const ast::GateArm& arm : gate.arms) walk_pass(arm.body);
                 },
                 [&](const ast::Stmt::Shape& shaped) {
                   resolve_name(shaped.target, shaped.target_span, false);
                   auto bound = names_.find(shaped.target);
                   // An output (or anything else the unit does not bind) has no symbol of its own here: its fields
                   // hang off the program.
                   SymbolId parent = 0;
                   if (bound != names_.end() && bound->second.symbol) parent = *bound->second.symbol;
                   std::vector<SymbolId> fields;
                   for (const ast::ShapeField& field : shaped.fields) {
                     fields.push_back(declare(DeclaredSymbol{parent, field.name, first_line(field.span),
                                                             field.name_span, field.span, DeclKind::ShapedField, 0},
                                              OccurrenceRole::Field));
                     walk_expr(field.value, false);
                   }
                   bound = names_.find(shaped.target);
                   if (bound != names_.end()) bound->second.shape = shape::Record{std::move(fields)};
                 },
                 [&](const ast::Stmt::Return& ret) {
                   if (ret.value) walk_expr(*ret.value, false);
                 },
                 [&](const ast::Stmt::Stop& stop) { walk_expr(stop.reason, false); },
                 [&](const ast::Stmt::Escalate& escalate) { walk_expr(escalate.reason, false); },
                 [](const auto&) {},  // continue, break
             },
             stmt.node);
}

void Builder::index_keys(const std::vector<ast::BudgetLimit>& budget, const std::vector<ast::Threshold>& thresholds) {
  for (const ast::BudgetLimit& limit : budget)
    occur(ref::Unresolved{}, word_span(limit.span, limit.span.start.offset), OccurrenceRole::Field);
  for (const ast::Threshold& threshold : thresholds)
    occur(ref::Unresolved{}, threshold.name_span, OccurrenceRole::Field);
}

}  // namespace dravelin::lsp::index_build
