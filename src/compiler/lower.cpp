// Lowering of a linked module's units (names, parameters, budgets, thresholds, states, transitions, request
// groups and shape hashes) and of the root program's declarations.
#include "compiler/lower.h"

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>

#include "compiler/batch.h"
#include "compiler/lower_context.h"
#include "compiler/shape_hash.h"

namespace dravelin::compiler {

namespace {

namespace ast = syntax::ast;
using lowering::LoweringContext;

// A task or machine that sets no `calls` limit still gets one.
constexpr double kDefaultCalls = 50.0;

ir::Budget lower_budget(const std::vector<ast::BudgetLimit>& limits) {
  ir::Budget budget;
  for (const ast::BudgetLimit& limit : limits) {
    switch (limit.key) {
      case ast::BudgetKey::Calls: budget.calls = limit.value; break;
      case ast::BudgetKey::Minutes: budget.minutes = limit.value; break;
      case ast::BudgetKey::Usd: budget.usd = limit.value; break;
      case ast::BudgetKey::Steps: budget.steps = limit.value; break;
    }
  }
  if (!budget.calls) budget.calls = kDefaultCalls;
  return budget;
}

ir::Thresholds lower_thresholds(const std::vector<ast::Threshold>& entries) {
  ir::Thresholds thresholds;
  for (const ast::Threshold& entry : entries) {
    if (entry.name == "risk_confirm") {
      thresholds.risk_confirm = entry.value;
    } else if (entry.name == "min_confidence") {
      thresholds.min_confidence = entry.value;
    } else if (entry.name == "stop_confidence") {
      thresholds.stop_confidence = entry.value;
    } else if (entry.name == "done") {
      thresholds.done = entry.value;
    } else {
      thresholds.other.push_back(ir::NamedNumber{entry.name, entry.value});
    }
  }
  return thresholds;
}

std::vector<ir::DefParam> lower_params(const std::vector<ast::DefParam>& params, LoweringContext& ctx) {
  std::vector<ir::DefParam> out;
  out.reserve(params.size());
  for (const ast::DefParam& param : params) {
    std::optional<ir::Expr> default_value;
    if (param.default_value) default_value = lowering::lower_expr(*param.default_value, ctx);
    out.push_back(ir::DefParam{param.name, std::move(default_value)});
  }
  return out;
}

std::string qualified(const LoweringContext& ctx, const std::string& name) {
  return qualify_name(ctx.module.alias, name);
}

ir::Judgment lower_judgment(const ast::Judgment& unit, LoweringContext& ctx) {
  ir::Judgment out;
  out.results.reserve(unit.results.size());
  for (const ast::JudgmentResult& result : unit.results) {
    out.results.push_back(ir::JudgmentResult{result.name, lowering::lower_judge(result.question, ctx), result.span});
  }
  out.shape_hash = judgment_shape_hash(unit.name, out.results);
  // A judgment unit's questions are always asked together, in one request.
  for (ir::JudgmentResult& result : out.results) result.question.request_group = 0;
  out.logs.reserve(unit.logs.size());
  for (const ast::JudgmentLog& log : unit.logs) {
    // `after` never exceeds the number of result lines; the clamp only keeps a hand-built tree from wrapping.
    uint32_t after = log.after > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                                      : static_cast<uint32_t>(log.after);
    out.logs.push_back(ir::JudgmentLog{after, lowering::lower_expr(log.log, ctx), log.span});
  }
  out.params.reserve(unit.params.size());
  for (const ast::Ident& param : unit.params) out.params.push_back(param.name);
  out.name = qualified(ctx, unit.name);
  out.span = unit.span;
  return out;
}

// The body of a task or def, its capability calls numbered into requests from 0.
std::vector<ir::Stmt> lower_unit_body(const ast::Block& body, LoweringContext& ctx,
                                      const std::set<std::string>& capability_names) {
  std::vector<ir::Stmt> out = lowering::lower_block(body, ctx);
  uint32_t counter = 0;
  assign_request_groups(out, capability_names, counter);
  return out;
}

ir::Task lower_task(const ast::Task& unit, LoweringContext& ctx, const std::set<std::string>& capability_names) {
  ir::Task out;
  out.body = lower_unit_body(unit.body, ctx, capability_names);
  out.name = qualified(ctx, unit.name);
  out.params = lower_params(unit.params, ctx);
  out.budget = lower_budget(unit.budget);
  out.thresholds = lower_thresholds(unit.thresholds);
  out.span = unit.span;
  return out;
}

ir::Def lower_def(const ast::Def& unit, LoweringContext& ctx, const std::set<std::string>& capability_names) {
  ir::Def out;
  out.body = lower_unit_body(unit.body, ctx, capability_names);
  out.name = qualified(ctx, unit.name);
  out.params = lower_params(unit.params, ctx);
  out.span = unit.span;
  return out;
}

ir::Transition lower_transition(const ast::Transition& event, LoweringContext& ctx) {
  ir::Transition out;
  out.event = event.event;
  out.description = lowering::lower_expr(event.description, ctx);
  out.target = event.target;
  if (event.when) out.when = lowering::lower_expr(*event.when, ctx);
  out.risky = event.risky;
  if (event.body) out.body = lowering::lower_block(*event.body, ctx);
  out.span = event.span;
  return out;
}

ir::MachineState lower_machine_state(const ast::MachineState& state, LoweringContext& ctx) {
  ir::MachineState out;
  out.name = state.name;
  out.done = state.done;
  out.transitions.reserve(state.transitions.size());
  for (const ast::Transition& event : state.transitions) out.transitions.push_back(lower_transition(event, ctx));
  out.span = state.span;
  return out;
}

ir::Machine lower_machine(const ast::Machine& unit, LoweringContext& ctx,
                          const std::set<std::string>& capability_names) {
  ir::Machine out;
  out.name = qualified(ctx, unit.name);
  out.states.reserve(unit.states.size());
  for (const ast::MachineState& state : unit.states) out.states.push_back(lower_machine_state(state, ctx));
  // The declared state is kept even when no state bears its name: the checker reports that, not lowering.
  if (unit.initial) {
    out.initial = unit.initial->name;
  } else if (!unit.states.empty()) {
    out.initial = unit.states.front().name;
  }
  out.shape_hash = machine_shape_hash(unit.name, out.states);
  out.params = lower_params(unit.params, ctx);
  out.budget = lower_budget(unit.budget);
  out.thresholds = lower_thresholds(unit.thresholds);
  if (unit.goal) out.goal = lowering::lower_expr(*unit.goal, ctx);
  out.observe.reserve(unit.observe.size());
  for (const ast::ShapeField& field : unit.observe) out.observe.push_back(lowering::lower_shape_field(field, ctx));
  // One numbering for the whole machine: a step may take any transition, and their groups must stay apart.
  uint32_t counter = 0;
  for (ir::MachineState& state : out.states) {
    for (ir::Transition& event : state.transitions) assign_request_groups(event.body, capability_names, counter);
  }
  out.span = unit.span;
  return out;
}

ir::Shape lower_shape(const ast::Shape& shape);

ir::FieldShape lower_field_shape(const ast::FieldShape& field) {
  std::optional<ir::Shape> shape;
  if (field.shape) shape = lower_shape(*field.shape);
  return ir::FieldShape{field.name, std::move(shape)};
}

ir::Shape lower_shape(const ast::Shape& shape) {
  if (const auto* type = std::get_if<ast::Shape::Type>(&shape.node)) {
    return ir::Shape{ir::Shape::Type{type->name}};
  }
  ir::Shape::Record record;
  for (const ast::FieldShape& field : std::get<ast::Shape::Record>(shape.node).fields) {
    record.fields.push_back(lower_field_shape(field));
  }
  return ir::Shape{std::move(record)};
}

ir::ToolSignature lower_tool_signature(const ast::ToolSignature& signature) {
  ir::ToolSignature out;
  out.name = signature.name;
  out.params.reserve(signature.params.size());
  for (const ast::Ident& param : signature.params) out.params.push_back(param.name);
  out.returns = signature.returns;
  out.span = signature.span;
  return out;
}

}  // namespace

LoweredModule lower_program(const LinkedModule& module, const std::vector<LinkedModule>& modules) {
  return lower_program(module, ModuleIndex(modules));
}

LoweredModule lower_program(const LinkedModule& module, const ModuleIndex& modules) {
  // The names as the module itself declares them, not the root's names they are bound to.
  std::set<std::string> capability_names;
  for (const auto& [name, binding] : module.capabilities) capability_names.insert(name);

  LoweringContext ctx(module, modules);
  LoweredModule out;
  for (const ast::Unit& unit : module.program.units) {
    if (const auto* judgment = std::get_if<ast::Judgment>(&unit.node)) {
      out.judgments.push_back(lower_judgment(*judgment, ctx));
    } else if (const auto* task = std::get_if<ast::Task>(&unit.node)) {
      out.tasks.push_back(lower_task(*task, ctx, capability_names));
    } else if (const auto* def = std::get_if<ast::Def>(&unit.node)) {
      out.defs.push_back(lower_def(*def, ctx, capability_names));
    } else if (const auto* machine = std::get_if<ast::Machine>(&unit.node)) {
      out.machines.push_back(lower_machine(*machine, ctx, capability_names));
    }
  }
  out.diagnostics = std::move(ctx.diagnostics);
  return out;
}

LoweredDeclarations lower_declarations(const syntax::ast::Program& program) {
  LoweredDeclarations out;
  for (const ast::Decl& decl : program.decls) {
    if (const auto* input = std::get_if<ast::Input>(&decl.node)) {
      out.inputs.push_back(ir::Input{input->name, lower_shape(input->shape), input->span});
    } else if (const auto* output = std::get_if<ast::Output>(&decl.node)) {
      out.outputs.push_back(ir::Output{output->name, output->span});
    } else if (const auto* need = std::get_if<ast::Need>(&decl.node)) {
      ir::Need lowered{need->name, need->kind, {}, need->span};
      for (const ast::ToolSignature& signature : need->signatures) {
        lowered.signatures.push_back(lower_tool_signature(signature));
      }
      out.needs.push_back(std::move(lowered));
    }
  }
  return out;
}

}  // namespace dravelin::compiler
