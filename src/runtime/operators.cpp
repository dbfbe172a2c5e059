#include "runtime/operators.h"

#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/value_bounds.h"

namespace dravelin::runtime {
namespace {

using syntax::BinaryOp;
using syntax::UnaryOp;

RuntimeError operator_error(std::string message, const syntax::Span& span) {
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message), false, span);
}

std::string_view written(BinaryOp op) {
  switch (op) {
    case BinaryOp::Lt: return "<";
    case BinaryOp::LtEq: return "<=";
    case BinaryOp::Gt: return ">";
    case BinaryOp::GtEq: return ">=";
    case BinaryOp::Add: return "+";
    case BinaryOp::Sub: return "-";
    case BinaryOp::Mul: return "*";
    case BinaryOp::Div: return "/";
    case BinaryOp::Rem: return "%";
    case BinaryOp::Or: return "or";
    case BinaryOp::And: return "and";
    case BinaryOp::Eq: return "==";
    case BinaryOp::NotEq: return "!=";
  }
  return "?";
}

// "`<op>` needs <what>, got <left type word> and <right type word>"
[[gnu::noinline]] RuntimeError pair_error(BinaryOp op, std::string_view what, const Value& left, const Value& right,
                        const syntax::Span& span) {
  std::string message = "`";
  message += written(op);
  message += "` needs ";
  message += what;
  message += ", got ";
  message += left.type_word();
  message += " and ";
  message += right.type_word();
  return operator_error(std::move(message), span);
}

[[gnu::noinline]] RuntimeError negation_error(const Value& operand, const syntax::Span& span) {
  return operator_error("unary `-` needs a number, got " + std::string(operand.type_word()), span);
}

// Both comparisons and the ordering tests are false whenever a NaN takes part, which the IEEE operators give
// directly.
bool compare_numbers(BinaryOp op, double a, double b) {
  switch (op) {
    case BinaryOp::Lt: return a < b;
    case BinaryOp::LtEq: return a <= b;
    case BinaryOp::Gt: return a > b;
    default: return a >= b;
  }
}

// std::string compares through char_traits<char>, which orders bytes as unsigned: byte order, a prefix first.
bool compare_texts(BinaryOp op, const std::string& a, const std::string& b) {
  int c = a.compare(b);
  switch (op) {
    case BinaryOp::Lt: return c < 0;
    case BinaryOp::LtEq: return c <= 0;
    case BinaryOp::Gt: return c > 0;
    default: return c >= 0;
  }
}

}  // namespace

bool Value::payload_truthy() const {
  switch (kind()) {
    case ValueKind::None: return false;
    case ValueKind::Text: return !as_text().empty();
    // NaN != 0 holds, so NaN is truthy; -0 == 0, so negative zero is not.
    case ValueKind::Number: return as_number() != 0;
    case ValueKind::Prob: return as_prob() != 0;
    case ValueKind::Bool: return as_bool();
    case ValueKind::List: return !as_list().empty();
    case ValueKind::Record: return !as_record().empty();
    case ValueKind::Choice:
    case ValueKind::Level:
    case ValueKind::Handle:
    case ValueKind::PauseResult: return true;
  }
  return false;
}

bool truthy(const Value& value) { return value.truthy(); }

// The two functions below sit on the recursive path of evaluation: they hold only the operands' results and leave
// every message to out-of-line helpers, so that deep expressions stay cheap in stack.

ValueResult eval_unary(EvalContext& context, UnaryOp op, const ir::Expr& operand, const syntax::Span& span,
                       Scopes& scopes) {
  ValueResult v = eval_expr(context, operand, scopes);
  if (!v.ok()) return v;
  if (op == UnaryOp::Not) return Value::boolean(!v->truthy());
  if (v->is_numeric()) return Value::number(-v->numeric());
  return err(negation_error(*v, span));
}

namespace {

// Two numbers or probs under an operator that takes them, answered without the general dispatch: the same
// results as `apply_binary` gives them (a sum of probs is a number; `==` of numerics is IEEE equality).
bool numeric_binary(BinaryOp op, double a, double b, Value& out) {
  switch (op) {
    case BinaryOp::Add: out = Value::number(a + b); return true;
    case BinaryOp::Sub: out = Value::number(a - b); return true;
    case BinaryOp::Mul: out = Value::number(a * b); return true;
    case BinaryOp::Div: out = Value::number(a / b); return true;
    case BinaryOp::Rem: out = Value::number(std::fmod(a, b)); return true;
    case BinaryOp::Lt:
    case BinaryOp::LtEq:
    case BinaryOp::Gt:
    case BinaryOp::GtEq: out = Value::boolean(compare_numbers(op, a, b)); return true;
    case BinaryOp::Eq: out = Value::boolean(a == b); return true;
    case BinaryOp::NotEq: out = Value::boolean(!(a == b)); return true;
    default: return false;
  }
}

}  // namespace

ValueResult eval_binary(EvalContext& context, BinaryOp op, const ir::Expr& left, const ir::Expr& right,
                        const syntax::Span& span, Scopes& scopes) {
  ValueResult l = eval_expr(context, left, scopes);
  if (!l.ok()) return l;
  if (op == BinaryOp::Or || op == BinaryOp::And) {
    // `or` stops at a truthy left operand, `and` at a falsy one; either way the result is a bool.
    bool left_truthy = l->truthy();
    if (op == BinaryOp::Or && left_truthy) return Value::boolean(true);
    if (op == BinaryOp::And && !left_truthy) return Value::boolean(false);
    ValueResult r = eval_expr(context, right, scopes);
    if (!r.ok()) return r;
    return Value::boolean(r->truthy());
  }
  ValueResult r = eval_expr(context, right, scopes);
  if (!r.ok()) return r;
  if (l->is_numeric() && r->is_numeric()) {
    Value out;
    if (numeric_binary(op, l->numeric(), r->numeric(), out)) return out;
  }
  // A left list or text that nothing else holds (the result of a call, a literal, an earlier `+`) is extended in
  // place: the same value and the same bound check as a new join, without copying the left side.
  if (op == BinaryOp::Add && l->kind() == r->kind() && (l->is_list() || l->is_text()) && !l->shared()) {
    auto joined = l->is_list() ? append_to_list(*l, *r) : append_to_text(*l, std::as_const(*r).as_text());
    if (!joined.ok()) return err(with_span_if_missing(std::move(joined).error(), span));
    return l;
  }
  return apply_binary(op, *l, *r, span);
}

[[gnu::noinline]] ValueResult apply_binary(BinaryOp op, const Value& left, const Value& right,
                                           const syntax::Span& span) {
  std::optional<double> a = left.if_numeric();
  std::optional<double> b = right.if_numeric();
  switch (op) {
    case BinaryOp::Or: return Value::boolean(left.truthy() || right.truthy());
    case BinaryOp::And: return Value::boolean(left.truthy() && right.truthy());
    case BinaryOp::Eq: return Value::boolean(left.loosely_equals(right));
    case BinaryOp::NotEq: return Value::boolean(!left.loosely_equals(right));
    case BinaryOp::Lt:
    case BinaryOp::LtEq:
    case BinaryOp::Gt:
    case BinaryOp::GtEq:
      if (left.is_text() && right.is_text()) return Value::boolean(compare_texts(op, left.as_text(), right.as_text()));
      if (a && b) return Value::boolean(compare_numbers(op, *a, *b));
      return err(pair_error(op, "two numbers or two texts", left, right, span));
    case BinaryOp::Add:
      if (a && b) return Value::number(*a + *b);
      if ((left.is_text() && right.is_text()) || (left.is_list() && right.is_list())) {
        ValueResult joined = left.is_text() ? concat_texts(left.as_text(), right.as_text()) : concat_lists(left, right);
        if (!joined.ok()) return err(with_span_if_missing(std::move(joined).error(), span));
        return joined;
      }
      return err(pair_error(op, "two numbers, two texts or two lists", left, right, span));
    case BinaryOp::Sub:
    case BinaryOp::Mul:
    case BinaryOp::Div:
    case BinaryOp::Rem:
      if (!a || !b) return err(pair_error(op, "two numbers", left, right, span));
      switch (op) {
        case BinaryOp::Sub: return Value::number(*a - *b);
        case BinaryOp::Mul: return Value::number(*a * *b);
        case BinaryOp::Div: return Value::number(*a / *b);
        // fmod truncates the quotient toward zero, is exact and keeps the left operand's sign; x % 0 is NaN.
        default: return Value::number(std::fmod(*a, *b));
      }
  }
  return err(operator_error("unknown operator", span));
}

}  // namespace dravelin::runtime
