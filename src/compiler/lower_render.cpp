// The canonical source text of an expression, as a judgment's state path writes its index steps.
#include <cmath>
#include <cstdint>
#include <string>

#include "compiler/lower.h"
#include "json/number_format.h"

namespace dravelin::compiler {

namespace {

namespace ast = syntax::ast;

std::string_view binary_symbol(syntax::BinaryOp op) {
  using syntax::BinaryOp;
  switch (op) {
    case BinaryOp::Or: return "or";
    case BinaryOp::And: return "and";
    case BinaryOp::Eq: return "==";
    case BinaryOp::NotEq: return "!=";
    case BinaryOp::Lt: return "<";
    case BinaryOp::LtEq: return "<=";
    case BinaryOp::Gt: return ">";
    case BinaryOp::GtEq: return ">=";
    case BinaryOp::Add: return "+";
    case BinaryOp::Sub: return "-";
    case BinaryOp::Mul: return "*";
    case BinaryOp::Div: return "/";
    case BinaryOp::Rem: return "%";
  }
  return "?";
}

void render(const ast::Expr& expr, std::string& out);

void render_text(const ast::TextLit& text, std::string& out) {
  out += '"';
  for (const syntax::TokenTextPart& part : text.parts) {
    if (const auto* literal = std::get_if<syntax::TextLiteralPart>(&part)) {
      for (char c : literal->text) {
        if (c == '"') out += '\\';
        out += c;
      }
    } else {
      out += '{';
      out += std::get<syntax::TextInterpolationPart>(part).source;
      out += '}';
    }
  }
  out += '"';
}

void render_fields(const std::vector<ast::RecordField>& fields, std::string& out) {
  out += "{ ";
  bool first = true;
  for (const ast::RecordField& field : fields) {
    if (!first) out += ", ";
    first = false;
    out += field.name;
    if (field.value) {
      out += ": ";
      render(*field.value, out);
    }
  }
  out += " }";
}

void render(const ast::Expr& expr, std::string& out) {
  using E = ast::Expr;
  if (const auto* n = std::get_if<E::Number>(&expr.node)) {
    out += render_number(n->value);
  } else if (const auto* t = std::get_if<E::Text>(&expr.node)) {
    render_text(t->text, out);
  } else if (const auto* b = std::get_if<E::Bool>(&expr.node)) {
    out += b->value ? "true" : "false";
  } else if (std::holds_alternative<E::None>(expr.node)) {
    out += "none";
  } else if (const auto* name = std::get_if<E::Name>(&expr.node)) {
    out += name->name;
  } else if (const auto* list = std::get_if<E::List>(&expr.node)) {
    out += '[';
    for (size_t i = 0; i < list->items.size(); ++i) {
      if (i > 0) out += ", ";
      render(list->items[i], out);
    }
    out += ']';
  } else if (const auto* record = std::get_if<E::Record>(&expr.node)) {
    render_fields(record->fields, out);
  } else if (const auto* field = std::get_if<E::Field>(&expr.node)) {
    render(*field->target, out);
    out += '.';
    out += field->name;
  } else if (const auto* index = std::get_if<E::Index>(&expr.node)) {
    render(*index->target, out);
    out += '[';
    render(*index->index, out);
    out += ']';
  } else if (const auto* call = std::get_if<E::Call>(&expr.node)) {
    // One written form for both call forms: a named argument reads `name: value` either way.
    render(*call->callee, out);
    out += '(';
    for (size_t i = 0; i < call->args.size(); ++i) {
      if (i > 0) out += ", ";
      if (call->args[i].name) {
        out += call->args[i].name->name;
        out += ": ";
      }
      render(call->args[i].value, out);
    }
    out += ')';
  } else if (const auto* unary = std::get_if<E::Unary>(&expr.node)) {
    out += unary->op == syntax::UnaryOp::Not ? "not " : "-";
    render(*unary->operand, out);
  } else if (const auto* binary = std::get_if<E::Binary>(&expr.node)) {
    render(*binary->left, out);
    out += ' ';
    out += binary_symbol(binary->op);
    out += ' ';
    render(*binary->right, out);
  } else if (const auto* is = std::get_if<E::Is>(&expr.node)) {
    render(*is->target, out);
    out += " is ";
    out += is->label;
  } else if (const auto* comp = std::get_if<E::Comprehension>(&expr.node)) {
    out += '[';
    render(*comp->expr, out);
    out += " for ";
    for (size_t i = 0; i < comp->names.size(); ++i) {
      if (i > 0) out += ", ";
      out += comp->names[i].name;
    }
    out += " in ";
    render(*comp->iterable, out);
    if (comp->test) {
      out += " if ";
      render(**comp->test, out);
    }
    out += ']';
  } else if (const auto* focus = std::get_if<E::Focus>(&expr.node)) {
    out += "focus ";
    render(*focus->text, out);
    out += " on ";
    render(*focus->on, out);
    out += ", max ";
    out += render_number(focus->max);
  } else if (const auto* trail = std::get_if<E::Trail>(&expr.node)) {
    out += "trail ";
    out += render_number(trail->count);
  } else if (const auto* judge = std::get_if<E::Judge>(&expr.node)) {
    out += judge->judge->subject.root;
  } else if (const auto* log = std::get_if<E::Log>(&expr.node)) {
    out += "log ";
    out += syntax::enum_name(log->level);
    out += ' ';
    render(*log->value, out);
    if (!log->fields.empty()) {
      out += ' ';
      render_fields(log->fields, out);
    }
  }
}

}  // namespace

std::string render_number(double value) {
  // The range test comes first: casting a double beyond int64 to an integer is undefined.
  if (std::isfinite(value) && std::fabs(value) < 1e15 && std::trunc(value) == value) {
    return json::format_i64(static_cast<int64_t>(value));
  }
  return json::format_plain_decimal(value);
}

std::string render_expr(const syntax::ast::Expr& expr) {
  std::string out;
  render(expr, out);
  return out;
}

}  // namespace dravelin::compiler
