#include "interp/capability_verbs.h"

#include <variant>
#include <vector>

#include "interp/interpreter_internal.h"

namespace dravelin::interp {
namespace {

using ir::Expr;
using ir::Stmt;

class VerbWalk {
 public:
  // `in_scope` maps each capability name the unit may write to the program's name for it.
  VerbWalk(CapabilityVerbs& verbs, std::map<std::string, std::string> in_scope)
      : verbs_(verbs), in_scope_(std::move(in_scope)) {}

  void body(const std::vector<Stmt>& stmts) {
    for (const Stmt& stmt : stmts) std::visit([this](const auto& node) { this->stmt(node); }, stmt.node);
  }

 private:
  void expr(const Expr& e) {
    std::visit([this](const auto& node) { this->node(node); }, e.node);
  }
  void optional(const std::optional<Expr>& e) {
    if (e) expr(*e);
  }

  void node(const Expr::Field& e) {
    if (const auto* name = std::get_if<Expr::Name>(&e.target->node)) {
      if (auto found = in_scope_.find(name->name); found != in_scope_.end()) verbs_[found->second].insert(e.name);
    }
    expr(*e.target);
  }
  void node(const Expr::Text& e) {
    for (const ir::TextPart& part : e.parts) {
      if (const auto* inserted = std::get_if<ir::TextPart::Interpolation>(&part.node)) expr(inserted->expr);
    }
  }
  void node(const Expr::List& e) {
    for (const Expr& item : e.items) expr(item);
  }
  void node(const Expr::Record& e) {
    for (const ir::RecordField& field : e.fields) expr(field.value);
  }
  void node(const Expr::Index& e) {
    expr(*e.target);
    expr(*e.index);
  }
  void node(const Expr::Call& e) {
    expr(*e.callee);
    for (const ir::Arg& arg : e.args) expr(arg.value);
  }
  void node(const Expr::Unary& e) { expr(*e.operand); }
  void node(const Expr::Binary& e) {
    expr(*e.left);
    expr(*e.right);
  }
  void node(const Expr::Is& e) { expr(*e.target); }
  void node(const Expr::Comprehension& e) {
    expr(*e.iterable);
    if (e.test) expr(**e.test);
    expr(*e.expr);
  }
  void node(const Expr::Focus& e) {
    expr(*e.text);
    expr(*e.on);
  }
  void node(const Expr::Log& e) {
    expr(*e.value);
    for (const ir::RecordField& field : e.fields) expr(field.value);
  }
  // Numbers, booleans, none, names, `trail`, and judgments: a question is evaluated without effects.
  template <class Leaf>
  void node(const Leaf&) {}

  void stmt(const Stmt::Assign& s) { expr(s.value); }
  void stmt(const Stmt::Expr& s) { expr(s.expr); }
  void stmt(const Stmt::If& s) {
    for (const ir::Branch& branch : s.branches) {
      expr(branch.test);
      body(branch.body);
    }
    if (s.otherwise) body(*s.otherwise);
  }
  void stmt(const Stmt::For& s) {
    expr(s.iterable);
    body(s.body);
  }
  void stmt(const Stmt::Loop& s) { body(s.body); }
  void stmt(const Stmt::Until& s) {
    expr(s.test);
    body(s.body);
  }
  void stmt(const Stmt::Gate& s) {
    optional(s.risk);
    optional(s.confidence);
    optional(s.done);
    for (const ir::GateArm& arm : s.arms) body(arm.body);
  }
  void stmt(const Stmt::Shape& s) {
    for (const ir::ShapeField& field : s.fields) {
      expr(field.value);
      if (const auto* focus = std::get_if<ir::ShapePolicy::Focus>(&field.policy.node)) expr(focus->on);
    }
  }
  void stmt(const Stmt::Return& s) { optional(s.value); }
  void stmt(const Stmt::Stop& s) { expr(s.reason); }
  void stmt(const Stmt::Escalate& s) { expr(s.reason); }
  void stmt(const Stmt::Continue&) {}
  void stmt(const Stmt::Break&) {}

  CapabilityVerbs& verbs_;
  std::map<std::string, std::string> in_scope_;
};

// The capabilities a unit named `unit` may call, by the name it writes.
std::map<std::string, std::string> capabilities_of(const ir::Ir& ir, const std::string& unit) {
  std::map<std::string, std::string> in_scope;
  const std::string module = module_of(ir, unit);
  if (!module.empty()) {
    for (const ir::Module& m : ir.modules) {
      if (m.alias != module) continue;
      // The module's calls are written under the program's names; its own names count for what they map to.
      for (const ir::NeedMapping& mapping : m.mapping) in_scope.emplace(mapping.outer, mapping.outer);
      for (const ir::NeedMapping& mapping : m.mapping) in_scope.emplace(mapping.inner, mapping.outer);
      return in_scope;
    }
  }
  for (const ir::Need& need : ir.needs) in_scope.emplace(need.name, need.name);
  return in_scope;
}

}  // namespace

CapabilityVerbs collect_capability_verbs(const ir::Ir& ir) {
  CapabilityVerbs verbs;
  for (const ir::Task& task : ir.tasks) VerbWalk(verbs, capabilities_of(ir, task.name)).body(task.body);
  for (const ir::Def& def : ir.defs) VerbWalk(verbs, capabilities_of(ir, def.name)).body(def.body);
  for (const ir::Machine& machine : ir.machines) {
    VerbWalk walk(verbs, capabilities_of(ir, machine.name));
    for (const ir::MachineState& state : machine.states) {
      for (const ir::Transition& transition : state.transitions) walk.body(transition.body);
    }
  }
  return verbs;
}

}  // namespace dravelin::interp
