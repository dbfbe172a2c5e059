// Compact renderings of syntax trees and diagnostics, shared by the parser tests:
//   `(or a (and b c))`, `a.b[c]`, `(call f x n=1)`, `(cmd f x)`, `{a: 1, b}`, `(judge each feels items)`.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "json/number_format.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::syntax::test_support {

// The code of every parse failure the tables expect.
inline constexpr DiagnosticCode kSyntax = DiagnosticCode::Syntax;

// "line:column" and "line:column-line:column".
inline std::string pos_str(Pos p) { return std::to_string(p.line) + ":" + std::to_string(p.column); }
inline std::string span_str(Span s) { return pos_str(s.start) + "-" + pos_str(s.end); }

// "<code> <span> <message>".
inline std::string render_failure(const Diagnostic& d) {
  return std::string(diagnostic_code_name(d.code)) + " " + span_str(d.span) + " " + d.message;
}

// A text literal with its interpolations as written: `"a{b}c"`.
inline std::string render_text(const ast::TextLit& t) {
  std::string out = "\"";
  for (const auto& part : t.parts) {
    if (const auto* lit = std::get_if<TextLiteralPart>(&part)) {
      out += lit->text;
    } else {
      out += "{" + std::get<TextInterpolationPart>(part).source + "}";
    }
  }
  return out + "\"";
}

// How a binary operator is written: by its symbol (`+`, `<=`) or by its enum name (`add`, `le`).
enum class OpStyle { Symbol, Name };

inline std::string binary_op(BinaryOp op, OpStyle style) {
  if (style == OpStyle::Name) return std::string(enum_name(op));
  static const char* const symbols[] = {"or", "and", "==", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%"};
  return symbols[static_cast<int>(op)];
}

std::string render_expr(const ast::Expr& e, OpStyle style = OpStyle::Symbol);

inline std::string render_fields(const std::vector<ast::RecordField>& fields, OpStyle style = OpStyle::Symbol) {
  std::string out = "{";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ", ";
    out += fields[i].name;
    if (fields[i].value) out += ": " + render_expr(*fields[i].value, style);
  }
  return out + "}";
}

// A judgment subject: `a.b[0].c`.
inline std::string render_subject(const ast::Subject& s, OpStyle style = OpStyle::Symbol) {
  std::string out = s.root;
  for (const auto& step : s.path) {
    if (const auto* f = std::get_if<ast::SubjectStep::Field>(&step.node)) {
      out += "." + f->name;
    } else {
      out += "[" + render_expr(std::get<ast::SubjectStep::Index>(step.node).expr, style) + "]";
    }
  }
  return out;
}

inline std::string render_expr(const ast::Expr& e, OpStyle style) {
  using ast::Expr;
  struct Render {
    std::string r(const Expr& e) const { return render_expr(e, style); }
    std::string operator()(const Expr::Number& n) const { return json::format_plain_decimal(n.value); }
    std::string operator()(const Expr::Text& n) const { return render_text(n.text); }
    std::string operator()(const Expr::Bool& n) const { return n.value ? "true" : "false"; }
    std::string operator()(const Expr::None&) const { return "none"; }
    std::string operator()(const Expr::Name& n) const { return n.name; }
    std::string operator()(const Expr::List& n) const {
      std::string out = "[";
      for (size_t i = 0; i < n.items.size(); ++i) out += (i ? " " : "") + r(n.items[i]);
      return out + "]";
    }
    std::string operator()(const Expr::Record& n) const { return render_fields(n.fields, style); }
    std::string operator()(const Expr::Field& n) const { return r(*n.target) + "." + n.name; }
    std::string operator()(const Expr::Index& n) const { return r(*n.target) + "[" + r(*n.index) + "]"; }
    std::string operator()(const Expr::Call& n) const {
      std::string out = n.form == CallForm::Command ? "(cmd " : "(call ";
      out += r(*n.callee);
      for (const auto& a : n.args) out += " " + (a.name ? a.name->name + "=" : "") + r(a.value);
      return out + ")";
    }
    std::string operator()(const Expr::Unary& n) const {
      return std::string(n.op == UnaryOp::Not ? "(not " : "(neg ") + r(*n.operand) + ")";
    }
    std::string operator()(const Expr::Binary& n) const {
      return "(" + binary_op(n.op, style) + " " + r(*n.left) + " " + r(*n.right) + ")";
    }
    std::string operator()(const Expr::Is& n) const { return "(is " + r(*n.target) + " " + n.label + ")"; }
    std::string operator()(const Expr::Comprehension& n) const {
      std::string out = "(comp " + r(*n.expr) + " (";
      for (size_t i = 0; i < n.names.size(); ++i) out += (i ? " " : "") + n.names[i].name;
      out += ") " + r(*n.iterable);
      if (n.test) out += " " + r(**n.test);
      return out + ")";
    }
    std::string operator()(const Expr::Focus& n) const {
      return "(focus " + r(*n.text) + " " + r(*n.on) + " " + json::format_plain_decimal(n.max) + ")";
    }
    std::string operator()(const Expr::Trail& n) const {
      return "(trail " + json::format_plain_decimal(n.count) + ")";
    }
    // Only the verb and the subject of a question; the judgment tests render the rest.
    std::string operator()(const Expr::Judge& n) const {
      static const char* const verbs[] = {"feels", "pick", "rate", "pick-among"};
      return std::string("(judge ") + (n.judge->each ? "each " : "") + verbs[n.judge->verb.node.index()] + " " +
             render_subject(n.judge->subject, style) + ")";
    }
    std::string operator()(const Expr::Log& n) const {
      std::string out = "(log " + std::string(enum_name(n.level)) + " " + r(*n.value);
      if (!n.fields.empty()) out += " " + render_fields(n.fields, style);
      return out + ")";
    }
    OpStyle style;
  };
  return std::visit(Render{style}, e.node);
}

}  // namespace dravelin::syntax::test_support
