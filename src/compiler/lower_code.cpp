// Lowering of statements and expressions: mostly a copy by position, plus capability bindings, unit calls
// resolved to their IR names, record shorthands and interpolations parsed again from their sources.
#include <utility>

#include "base/overloaded.h"
#include "compiler/lower.h"
#include "compiler/lower_context.h"
#include "syntax/parse.h"

namespace dravelin::compiler {

std::optional<std::vector<syntax::ast::Ident>> callee_path(const syntax::ast::Expr& expr) {
  namespace ast = syntax::ast;
  std::vector<ast::Ident> reversed;
  const ast::Expr* cur = &expr;
  for (;;) {
    if (const auto* field = std::get_if<ast::Expr::Field>(&cur->node)) {
      reversed.push_back(ast::Ident{field->name, field->name_span});
      cur = &*field->target;
    } else if (const auto* name = std::get_if<ast::Expr::Name>(&cur->node)) {
      reversed.push_back(ast::Ident{name->name, name->span});
      return std::vector<ast::Ident>(reversed.rbegin(), reversed.rend());
    } else {
      return std::nullopt;
    }
  }
}

namespace lowering {

namespace {

std::vector<ir::RecordField> lower_record_fields(const std::vector<ast::RecordField>& fields, LoweringContext& ctx) {
  std::vector<ir::RecordField> out;
  out.reserve(fields.size());
  for (const ast::RecordField& field : fields) {
    // `{ name }` reads the variable of that name.
    ir::Expr value = field.value ? lower_expr(*field.value, ctx)
                                 : ir::Expr{ir::Expr::Name{bound_name(field.name, ctx), field.name_span}};
    out.push_back(ir::RecordField{field.name, std::move(value)});
  }
  return out;
}

std::vector<std::string> names_of(const std::vector<ast::Ident>& idents) {
  std::vector<std::string> out;
  out.reserve(idents.size());
  for (const ast::Ident& ident : idents) out.push_back(ident.name);
  return out;
}

// A call of a unit names the unit by its IR name; every other callee stays as written. A private unit of another
// module resolves too: the checker has reported it, and the IR still names what the source meant.
ir::Expr lower_callee(const ast::Expr& callee, LoweringContext& ctx) {
  if (std::optional<std::vector<ast::Ident>> path = callee_path(callee); path && path->size() <= 2) {
    std::vector<std::string> parts = names_of(*path);
    CalleeResolution resolution = resolve_callee(ctx.modules, ctx.module, parts);
    if (const auto* found = std::get_if<callee::Found>(&resolution)) {
      return ir::Expr{ir::Expr::Name{found->qualified, ast::span(callee)}};
    }
    if (const auto* hidden = std::get_if<callee::Private>(&resolution)) {
      return ir::Expr{ir::Expr::Name{hidden->qualified, ast::span(callee)}};
    }
  }
  return lower_expr(callee, ctx);
}

}  // namespace

std::optional<ir::Expr> lower_optional(const std::optional<ast::Expr>& expr, LoweringContext& ctx) {
  if (!expr) return std::nullopt;
  return lower_expr(*expr, ctx);
}

void LoweringContext::warn(syntax::DiagnosticCode code, std::string message, syntax::Span span) {
  syntax::Diagnostic d = syntax::make_diagnostic(code, std::move(message), span);
  d.severity = syntax::Severity::Warning;
  d.file = file;
  diagnostics.push_back(std::move(d));
}

std::string bound_name(std::string_view name, const LoweringContext& ctx) {
  auto it = ctx.module.capabilities.find(std::string(name));
  if (it != ctx.module.capabilities.end()) return it->second.name;
  return std::string(name);
}

std::vector<ir::TextPart> lower_text_parts(const ast::TextLit& text, LoweringContext& ctx) {
  std::vector<ir::TextPart> out;
  out.reserve(text.parts.size());
  const std::vector<ast::Expr>* kept = ast::interpolation_exprs(text, ctx.log_shadowed);
  std::size_t next_kept = 0;
  for (const syntax::TokenTextPart& part : text.parts) {
    if (const auto* literal = std::get_if<syntax::TextLiteralPart>(&part)) {
      out.push_back(ir::TextPart{ir::TextPart::Literal{literal->text}});
      continue;
    }
    if (kept) {
      out.push_back(ir::TextPart{ir::TextPart::Interpolation{lower_expr((*kept)[next_kept++], ctx)}});
      continue;
    }
    const auto& interpolation = std::get<syntax::TextInterpolationPart>(part);
    auto parsed = syntax::parse_interpolation(interpolation.source, interpolation.span.start, ctx.log_shadowed);
    if (parsed.ok()) {
      out.push_back(ir::TextPart{ir::TextPart::Interpolation{lower_expr(*parsed, ctx)}});
      continue;
    }
    // The parser accepted this source once already; should it not parse now, the text still lowers whole.
    for (syntax::Diagnostic& d : parsed.error()) {
      if (!d.file) d.file = ctx.file;
      ctx.diagnostics.push_back(std::move(d));
    }
    out.push_back(ir::TextPart{ir::TextPart::Interpolation{ir::Expr{ir::Expr::None{interpolation.span}}}});
  }
  return out;
}

ir::Expr lower_expr(const ast::Expr& expr, LoweringContext& ctx) {
  using E = ast::Expr;
  using IE = ir::Expr;
  return std::visit(
      Overloaded{
          [&](const E::Number& n) { return IE{IE::Number{n.value, n.span}}; },
          [&](const E::Text& t) { return IE{IE::Text{lower_text_parts(t.text, ctx), t.span}}; },
          [&](const E::Bool& b) { return IE{IE::Bool{b.value, b.span}}; },
          [&](const E::None& n) { return IE{IE::None{n.span}}; },
          [&](const E::Name& n) { return IE{IE::Name{bound_name(n.name, ctx), n.span}}; },
          [&](const E::List& l) {
            std::vector<IE> items;
            items.reserve(l.items.size());
            for (const ast::Expr& item : l.items) items.push_back(lower_expr(item, ctx));
            return IE{IE::List{std::move(items), l.span}};
          },
          [&](const E::Record& r) { return IE{IE::Record{lower_record_fields(r.fields, ctx), r.span}}; },
          [&](const E::Field& f) { return IE{IE::Field{lower_expr(*f.target, ctx), f.name, f.span}}; },
          [&](const E::Index& i) {
            IE target = lower_expr(*i.target, ctx);
            return IE{IE::Index{std::move(target), lower_expr(*i.index, ctx), i.span}};
          },
          [&](const E::Call& c) {
            IE callee = lower_callee(*c.callee, ctx);
            std::vector<ir::Arg> args;
            args.reserve(c.args.size());
            for (const ast::Arg& a : c.args) {
              std::optional<std::string> name;
              if (a.name) name = a.name->name;
              args.push_back(ir::Arg{std::move(name), lower_expr(a.value, ctx)});
            }
            return IE{IE::Call{std::move(callee), std::move(args), c.form, c.span}};
          },
          [&](const E::Unary& u) { return IE{IE::Unary{u.op, lower_expr(*u.operand, ctx), u.span}}; },
          [&](const E::Binary& b) {
            IE left = lower_expr(*b.left, ctx);
            return IE{IE::Binary{b.op, std::move(left), lower_expr(*b.right, ctx), b.span}};
          },
          [&](const E::Is& i) { return IE{IE::Is{lower_expr(*i.target, ctx), i.label, i.span}}; },
          [&](const E::Comprehension& c) {
            IE element = lower_expr(*c.expr, ctx);
            IE iterable = lower_expr(*c.iterable, ctx);
            std::optional<Box<IE>> test;
            if (c.test) test.emplace(lower_expr(**c.test, ctx));
            return IE{IE::Comprehension{std::move(element), names_of(c.names), std::move(iterable), std::move(test),
                                        c.span}};
          },
          [&](const E::Focus& f) {
            IE text = lower_expr(*f.text, ctx);
            return IE{IE::Focus{std::move(text), lower_expr(*f.on, ctx), f.max, f.span}};
          },
          [&](const E::Trail& t) { return IE{IE::Trail{t.count, t.span}}; },
          [&](const E::Judge& j) { return IE{IE::Judge{lower_judge(*j.judge, ctx)}}; },
          [&](const E::Log& l) {
            IE value = lower_expr(*l.value, ctx);
            return IE{IE::Log{l.level, std::move(value), lower_record_fields(l.fields, ctx), l.span}};
          },
      },
      expr.node);
}

std::vector<ir::Stmt> lower_block(const ast::Block& block, LoweringContext& ctx) {
  std::vector<ir::Stmt> out;
  out.reserve(block.stmts.size());
  for (const ast::Stmt& stmt : block.stmts) out.push_back(lower_stmt(stmt, ctx));
  return out;
}

ir::ShapeField lower_shape_field(const ast::ShapeField& field, LoweringContext& ctx) {
  ir::Expr value = lower_expr(field.value, ctx);
  ir::ShapePolicy policy{ir::ShapePolicy::Head{}};
  if (field.tail) {
    policy.node = ir::ShapePolicy::Tail{};
  } else if (const auto* focus = std::get_if<ast::Expr::Focus>(&field.value.node)) {
    policy.node = ir::ShapePolicy::Focus{lower_expr(*focus->on, ctx)};
  }
  return ir::ShapeField{field.name, std::move(value), field.max, std::move(policy), field.span};
}

ir::Stmt lower_stmt(const ast::Stmt& stmt, LoweringContext& ctx) {
  using S = ast::Stmt;
  using IS = ir::Stmt;
  return std::visit(
      Overloaded{
          [&](const S::Assign& a) {
            return IS{IS::Assign{a.target.root, names_of(a.target.path), lower_expr(a.value, ctx), a.span}};
          },
          [&](const S::Expr& e) { return IS{IS::Expr{lower_expr(e.expr, ctx), e.span}}; },
          [&](const S::If& i) {
            std::vector<ir::Branch> branches;
            branches.reserve(i.branches.size());
            for (const ast::Branch& b : i.branches) {
              ir::Expr test = lower_expr(b.test, ctx);
              branches.push_back(ir::Branch{std::move(test), lower_block(b.body, ctx), b.span});
            }
            std::optional<std::vector<ir::Stmt>> otherwise;
            if (i.otherwise) otherwise = lower_block(*i.otherwise, ctx);
            return IS{IS::If{std::move(branches), std::move(otherwise), i.span}};
          },
          [&](const S::For& f) {
            ir::Expr iterable = lower_expr(f.iterable, ctx);
            return IS{IS::For{names_of(f.names), std::move(iterable), lower_block(f.body, ctx), f.span}};
          },
          [&](const S::Loop& l) { return IS{IS::Loop{l.max, lower_block(l.body, ctx), l.span}}; },
          [&](const S::Until& u) {
            ir::Expr test = lower_expr(u.test, ctx);
            return IS{IS::Until{std::move(test), u.verify, u.max, lower_block(u.body, ctx), u.span}};
          },
          [&](const S::Gate& g) {
            std::optional<ir::Expr> risk = lower_optional(g.risk, ctx);
            std::optional<ir::Expr> confidence = lower_optional(g.confidence, ctx);
            std::optional<ir::Expr> done = lower_optional(g.done, ctx);
            std::vector<ir::GateArm> arms;
            arms.reserve(g.arms.size());
            for (const ast::GateArm& arm : g.arms) {
              arms.push_back(ir::GateArm{arm.verdict, lower_block(arm.body, ctx), arm.span});
            }
            return IS{IS::Gate{std::move(risk), std::move(confidence), std::move(done), std::move(arms), g.span}};
          },
          [&](const S::Shape& s) {
            std::vector<ir::ShapeField> fields;
            fields.reserve(s.fields.size());
            for (const ast::ShapeField& field : s.fields) fields.push_back(lower_shape_field(field, ctx));
            return IS{IS::Shape{s.target, s.strict, std::move(fields), s.span}};
          },
          [&](const S::Return& r) { return IS{IS::Return{lower_optional(r.value, ctx), r.span}}; },
          [&](const S::Continue& c) { return IS{IS::Continue{c.span}}; },
          [&](const S::Break& b) { return IS{IS::Break{b.span}}; },
          [&](const S::Stop& s) { return IS{IS::Stop{lower_expr(s.reason, ctx), s.span}}; },
          [&](const S::Escalate& e) { return IS{IS::Escalate{lower_expr(e.reason, ctx), e.span}}; },
      },
      stmt.node);
}

}  // namespace lowering
}  // namespace dravelin::compiler
