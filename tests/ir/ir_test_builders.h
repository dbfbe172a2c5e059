// Small IR values built by hand, for the tests of the IR and of what reads it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ir/nodes.h"

namespace dravelin::ir::build {

// A one-character span on `line`, its offset derived from the line so that spans of different lines differ in
// every number.
inline Span at(uint32_t line, uint32_t column = 0) {
  uint32_t offset = line * 100 + column;
  return Span{Pos{line, column, offset}, Pos{line, column + 1, offset + 1}};
}

inline Expr num(double value, Span span = at(1)) { return Expr{Expr::Number{value, span}}; }
inline Expr name(std::string n, Span span = at(1)) { return Expr{Expr::Name{std::move(n), span}}; }
inline Expr boolean(bool value, Span span = at(1)) { return Expr{Expr::Bool{value, span}}; }
inline Expr none(Span span = at(1)) { return Expr{Expr::None{span}}; }

inline TextPart lit(std::string value) { return TextPart{TextPart::Literal{std::move(value)}}; }
inline TextPart interp(Expr e) { return TextPart{TextPart::Interpolation{std::move(e)}}; }
inline Expr text(std::vector<TextPart> parts, Span span = at(1)) { return Expr{Expr::Text{std::move(parts), span}}; }
inline Expr text(std::string value, Span span = at(1)) { return text({lit(std::move(value))}, span); }

inline Expr list(std::vector<Expr> items, Span span = at(1)) { return Expr{Expr::List{std::move(items), span}}; }
inline Expr record(std::vector<RecordField> fields, Span span = at(1)) {
  return Expr{Expr::Record{std::move(fields), span}};
}
inline Expr field(Expr target, std::string n, Span span = at(1)) {
  return Expr{Expr::Field{std::move(target), std::move(n), span}};
}
// `root.a.b...`, each step a field of the one before.
inline Expr path(std::string root, std::vector<std::string> fields, Span span = at(1)) {
  Expr e = name(std::move(root), span);
  for (std::string& f : fields) e = field(std::move(e), std::move(f), span);
  return e;
}
inline Expr index(Expr target, Expr i, Span span = at(1)) {
  return Expr{Expr::Index{std::move(target), std::move(i), span}};
}
inline Expr call(Expr callee, std::vector<Arg> args = {}, Span span = at(1)) {
  return Expr{Expr::Call{std::move(callee), std::move(args), CallForm::Function, span}};
}
inline Arg arg(Expr value) { return Arg{std::nullopt, std::move(value)}; }
inline Arg named_arg(std::string n, Expr value) { return Arg{std::move(n), std::move(value)}; }
inline Expr unary(UnaryOp op, Expr operand, Span span = at(1)) {
  return Expr{Expr::Unary{op, std::move(operand), span}};
}
inline Expr binary(BinaryOp op, Expr left, Expr right, Span span = at(1)) {
  return Expr{Expr::Binary{op, std::move(left), std::move(right), span}};
}
inline Expr is(Expr target, std::string label, Span span = at(1)) {
  return Expr{Expr::Is{std::move(target), std::move(label), span}};
}
inline Expr comprehension(Expr e, std::vector<std::string> names, Expr iterable, std::optional<Expr> test,
                          Span span = at(1)) {
  std::optional<Box<Expr>> boxed;
  if (test) boxed.emplace(std::move(*test));
  return Expr{Expr::Comprehension{std::move(e), std::move(names), std::move(iterable), std::move(boxed), span}};
}
inline Expr focus(Expr t, Expr on, double max, Span span = at(1)) {
  return Expr{Expr::Focus{std::move(t), std::move(on), max, span}};
}
inline Expr trail(double count, Span span = at(1)) { return Expr{Expr::Trail{count, span}}; }
inline Expr log(Expr value, std::vector<RecordField> fields = {}, Span span = at(1)) {
  return Expr{Expr::Log{LogLevel::Info, std::move(value), std::move(fields), span}};
}

inline Subject subject(std::string root, std::vector<SubjectStep> steps = {}, Span span = at(1)) {
  std::string state_path = root;
  for (const SubjectStep& step : steps) {
    if (const auto* f = std::get_if<SubjectStep::Field>(&step.node)) state_path += "." + f->name;
    else state_path += "[?]";
  }
  return Subject{std::move(root), std::move(steps), std::move(state_path), span};
}
inline Judge feels(Subject s, Expr condition, Span span = at(1)) {
  return Judge{false, std::move(s), JudgeVerb{JudgeVerb::Feels{std::move(condition)}}, std::nullopt,
               kNoRequestGroup, span};
}
inline Judge pick(Subject s, std::vector<PickLabel> labels, Span span = at(1)) {
  return Judge{false, std::move(s), JudgeVerb{JudgeVerb::Pick{std::move(labels)}}, std::nullopt, kNoRequestGroup,
               span};
}
inline PickLabel label(std::string n, std::optional<Expr> description, Span span = at(1)) {
  return PickLabel{std::move(n), false, std::move(description), {}, {}, {}, span};
}
inline PickLabel escape_label(std::string n, Span span = at(1)) {
  return PickLabel{std::move(n), true, {}, {}, {}, {}, span};
}
inline Expr judge_expr(Judge j) { return Expr{Expr::Judge{std::move(j)}}; }

inline Stmt assign(std::string root, Expr value, Span span = at(1)) {
  return Stmt{Stmt::Assign{std::move(root), {}, std::move(value), span}};
}
inline Stmt expr_stmt(Expr e, Span span = at(1)) { return Stmt{Stmt::Expr{std::move(e), span}}; }
inline Stmt if_stmt(Expr test, std::vector<Stmt> body, std::optional<std::vector<Stmt>> otherwise,
                    Span span = at(1)) {
  std::vector<Branch> branches;
  branches.push_back(Branch{std::move(test), std::move(body), span});
  return Stmt{Stmt::If{std::move(branches), std::move(otherwise), span}};
}
inline Stmt loop(double max, std::vector<Stmt> body, Span span = at(1)) {
  return Stmt{Stmt::Loop{max, std::move(body), span}};
}
inline Stmt return_stmt(std::optional<Expr> value, Span span = at(1)) {
  return Stmt{Stmt::Return{std::move(value), span}};
}
inline Stmt brk(Span span = at(1)) { return Stmt{Stmt::Break{span}}; }
inline Stmt cont(Span span = at(1)) { return Stmt{Stmt::Continue{span}}; }

inline ShapeField shape_field(std::string n, Expr value, ShapePolicy policy = {}, Span span = at(1)) {
  return ShapeField{std::move(n), std::move(value), std::nullopt, std::move(policy), span};
}

inline Need need(std::string n, NeedKind kind, Span span = at(1)) { return Need{std::move(n), kind, {}, span}; }
inline Task task(std::string n, std::vector<Stmt> body, Span span = at(1)) {
  return Task{std::move(n), {}, Budget{50.0, {}, {}, {}}, {}, std::move(body), span};
}
inline Def def(std::string n, std::vector<Stmt> body, Span span = at(1)) {
  return Def{std::move(n), {}, std::move(body), span};
}
inline Judgment judgment(std::string n, std::vector<JudgmentResult> results, Span span = at(1)) {
  return Judgment{std::move(n), {}, std::move(results), {}, "sh1:0000000000000000", span};
}
inline Machine machine(std::string n, std::vector<MachineState> states, Span span = at(1)) {
  std::string initial = states.empty() ? std::string() : states.front().name;
  return Machine{std::move(n), {}, Budget{50.0, {}, {}, {}}, {}, std::nullopt, std::move(initial), {},
                 std::move(states), "sh1:0000000000000000", span};
}
inline Transition transition(std::string event, Expr description, std::string target, std::optional<Expr> when,
                             std::vector<Stmt> body, Span span = at(1)) {
  return Transition{std::move(event), std::move(description), std::move(target), std::move(when), false,
                    std::move(body), span};
}

}  // namespace dravelin::ir::build
