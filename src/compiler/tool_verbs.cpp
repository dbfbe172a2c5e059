#include "compiler/tool_verbs.h"

#include <type_traits>
#include <variant>
#include <vector>

namespace dravelin::compiler {

namespace {

using namespace ir;

template <class T, class V>
constexpr bool is = std::is_same_v<std::decay_t<V>, T>;

class VerbCollector {
 public:
  explicit VerbCollector(ToolVerbs& verbs) : verbs_(verbs) {}

  void expr(const Expr& e) {
    std::visit([this](const auto& node) { expr_node(node); }, e.node);
  }

  void optional_expr(const std::optional<Expr>& e) {
    if (e) expr(*e);
  }

  void judge(const Judge& j) {
    for (const SubjectStep& step : j.subject.path) {
      if (const auto* index = std::get_if<SubjectStep::Index>(&step.node)) expr(index->index);
    }
    std::visit(
        [this](const auto& verb) {
          using V = decltype(verb);
          if constexpr (is<JudgeVerb::Feels, V>) {
            expr(verb.condition);
          } else if constexpr (is<JudgeVerb::Pick, V>) {
            for (const PickLabel& label : verb.labels) {
              optional_expr(label.description);
              optional_expr(label.what);
              optional_expr(label.not_for);
              optional_expr(label.examples);
            }
          } else if constexpr (is<JudgeVerb::Rate, V>) {
            for (const RateLevel& level : verb.levels) expr(level.situation);
          } else {
            static_assert(is<JudgeVerb::PickAmong, V>);
            expr(verb.question);
          }
        },
        j.verb.node);
    if (j.detail) {
      optional_expr(j.detail->focus);
      optional_expr(j.detail->note);
      optional_expr(j.detail->compare);
      optional_expr(j.detail->yes);
      optional_expr(j.detail->no);
    }
  }

  void shape_field(const ShapeField& field) {
    expr(field.value);
    if (const auto* focus = std::get_if<ShapePolicy::Focus>(&field.policy.node)) expr(focus->on);
  }

  void params(const std::vector<DefParam>& params) {
    for (const DefParam& param : params) optional_expr(param.default_value);
  }

  void stmts(const std::vector<Stmt>& body) {
    for (const Stmt& s : body) std::visit([this](const auto& node) { stmt_node(node); }, s.node);
  }

 private:
  void expr_node(const Expr::Number&) {}
  void expr_node(const Expr::Text& e) {
    for (const TextPart& part : e.parts) {
      if (const auto* inter = std::get_if<TextPart::Interpolation>(&part.node)) expr(inter->expr);
    }
  }
  void expr_node(const Expr::Bool&) {}
  void expr_node(const Expr::None&) {}
  void expr_node(const Expr::Name&) {}
  void expr_node(const Expr::List& e) {
    for (const Expr& item : e.items) expr(item);
  }
  void expr_node(const Expr::Record& e) {
    for (const RecordField& field : e.fields) expr(field.value);
  }
  void expr_node(const Expr::Field& e) {
    if (const auto* target = std::get_if<Expr::Name>(&e.target->node)) {
      auto tool = verbs_.find(target->name);
      if (tool != verbs_.end()) tool->second.insert(e.name);
    }
    expr(*e.target);
  }
  void expr_node(const Expr::Index& e) {
    expr(*e.target);
    expr(*e.index);
  }
  void expr_node(const Expr::Call& e) {
    expr(*e.callee);
    for (const Arg& arg : e.args) expr(arg.value);
  }
  void expr_node(const Expr::Unary& e) { expr(*e.operand); }
  void expr_node(const Expr::Binary& e) {
    expr(*e.left);
    expr(*e.right);
  }
  void expr_node(const Expr::Is& e) { expr(*e.target); }
  void expr_node(const Expr::Comprehension& e) {
    expr(*e.expr);
    expr(*e.iterable);
    if (e.test) expr(**e.test);
  }
  void expr_node(const Expr::Focus& e) {
    expr(*e.text);
    expr(*e.on);
  }
  void expr_node(const Expr::Trail&) {}
  void expr_node(const Expr::Judge& e) { judge(*e.judge); }
  void expr_node(const Expr::Log& e) {
    expr(*e.value);
    for (const RecordField& field : e.fields) expr(field.value);
  }

  void stmt_node(const Stmt::Assign& s) { expr(s.value); }
  void stmt_node(const Stmt::Expr& s) { expr(s.expr); }
  void stmt_node(const Stmt::If& s) {
    for (const Branch& branch : s.branches) {
      expr(branch.test);
      stmts(branch.body);
    }
    if (s.otherwise) stmts(*s.otherwise);
  }
  void stmt_node(const Stmt::For& s) {
    expr(s.iterable);
    stmts(s.body);
  }
  void stmt_node(const Stmt::Loop& s) { stmts(s.body); }
  void stmt_node(const Stmt::Until& s) {
    expr(s.test);
    stmts(s.body);
  }
  void stmt_node(const Stmt::Gate& s) {
    optional_expr(s.risk);
    optional_expr(s.confidence);
    optional_expr(s.done);
    for (const GateArm& arm : s.arms) stmts(arm.body);
  }
  void stmt_node(const Stmt::Shape& s) {
    for (const ShapeField& field : s.fields) shape_field(field);
  }
  void stmt_node(const Stmt::Return& s) { optional_expr(s.value); }
  void stmt_node(const Stmt::Continue&) {}
  void stmt_node(const Stmt::Break&) {}
  void stmt_node(const Stmt::Stop& s) { expr(s.reason); }
  void stmt_node(const Stmt::Escalate& s) { expr(s.reason); }

  ToolVerbs& verbs_;
};

}  // namespace

ToolVerbs used_tool_verbs(const ir::Ir& ir) {
  ToolVerbs verbs;
  for (const Need& need : ir.needs) {
    if (need.kind == NeedKind::Tool) verbs[need.name];
  }
  VerbCollector walk(verbs);
  // A judgment's questions are walked in place: the walk only reads, so it needs no expression copy of them.
  for (const Judgment& judgment : ir.judgments) {
    for (const JudgmentResult& result : judgment.results) walk.judge(result.question);
    for (const JudgmentLog& log : judgment.logs) walk.expr(log.log);
  }
  for (const Task& task : ir.tasks) {
    walk.params(task.params);
    walk.stmts(task.body);
  }
  for (const Def& def : ir.defs) {
    walk.params(def.params);
    walk.stmts(def.body);
  }
  for (const Machine& machine : ir.machines) {
    walk.params(machine.params);
    walk.optional_expr(machine.goal);
    for (const ShapeField& field : machine.observe) walk.shape_field(field);
    for (const MachineState& state : machine.states) {
      for (const Transition& transition : state.transitions) {
        walk.expr(transition.description);
        walk.optional_expr(transition.when);
        walk.stmts(transition.body);
      }
    }
  }
  return verbs;
}

}  // namespace dravelin::compiler
