// Statements and blocks: the bodies of tasks, defs and machine actions, and everything nested inside them.
#include <array>

#include "syntax/parser.h"

namespace dravelin::syntax {

using ast::Expr;
using ast::Stmt;

namespace {

Span stmt_span(const Stmt& stmt) {
  return std::visit([](const auto& node) { return node.span; }, stmt.node);
}

bool at_judgment_verb(const Parser& p) {
  const Token& t = p.current();
  return t.is_keyword(Keyword::Feels) || t.is_keyword(Keyword::Pick) || t.is_keyword(Keyword::Rate);
}

bool at_comma_then_keyword(const Parser& p, Keyword keyword) {
  return p.current().is_symbol(Symbol::Comma) && p.peek(1).is_keyword(keyword);
}

// Assignments and expression statements may end without a Newline when their value closed an indented block of
// its own (a `pick:` or `rate:` question): the block's Dedent is already behind the cursor and the next
// statement starts right here.
Result<::dravelin::Unit, Diagnostic> expect_value_line_end(Parser& p) {
  if (p.current().is_newline()) {
    p.advance();
    return ::dravelin::Unit{};
  }
  if (p.previous() && p.previous()->is_dedent()) return ::dravelin::Unit{};
  return err(p.expect_failure("the end of the line"));
}

// A name, or a name followed by `.field` steps: a command without arguments or a member effect.
bool is_name_path(const Expr& expr) {
  const Expr* e = &expr;
  while (const auto* field = std::get_if<Expr::Field>(&e->node)) e = &*field->target;
  return std::holds_alternative<Expr::Name>(e->node);
}

bool stands_as_statement(const Expr& expr) {
  return std::holds_alternative<Expr::Call>(expr.node) || std::holds_alternative<Expr::Log>(expr.node) ||
         is_name_path(expr);
}

// The right-hand side of an assignment, or the value of a shape field. A judgment is allowed only in the first.
[[gnu::noinline]] Result<Expr, Diagnostic> parse_assignment_value(Parser& p, bool shape_field) {
  if (p.current().is_keyword(Keyword::Each)) {
    if (shape_field) {
      return err(p.expect_failure("a command or an expression (a shape field cannot be a judgment; assign it first)"));
    }
    ast::Judge judge = TRY(parse_judgment_expr(p));
    return Expr{Expr::Judge{std::move(judge)}};
  }
  Pos start = p.current_span().start;
  Expr value = TRY(parse_or(p));
  if (at_judgment_verb(p)) {
    if (shape_field) {
      return err(p.expect_failure("the end of the field (a shape field cannot be a judgment; assign it first)"));
    }
    ast::Judge judge = TRY(parse_judgment(p, /*each=*/false, std::move(value), start));
    return Expr{Expr::Judge{std::move(judge)}};
  }
  return parse_command_call(p, std::move(value), /*stop_at_max=*/shape_field);
}

// `NAME = shape [strict]:` and its field block; the cursor is on `shape`.
[[gnu::noinline]] Result<Stmt, Diagnostic> parse_shape_statement(Parser& p, ast::AssignTarget target, Pos start) {
  p.advance();
  bool strict = p.eat_word("strict");
  Span colon = TRY(p.expect_symbol(Symbol::Colon));
  TRY(p.expect_block_start("of fields after `shape:`"));
  auto level = TRY(p.enter());
  std::vector<ast::ShapeField> fields;
  Pos end = colon.end;
  while (!p.current().is_dedent() && !p.current().is_eof()) {
    fields.push_back(TRY(parse_shape_field(p)));
    end = fields.back().span.end;
  }
  TRY(p.expect_dedent());
  return Stmt{Stmt::Shape{std::move(target.root), target.root_span, strict, std::move(fields), Span{start, end}}};
}

// Statements that begin with an identifier: assignments, shape statements and expression statements.
[[gnu::noinline]] Result<Stmt, Diagnostic> parse_name_statement(Parser& p) {
  Pos start = p.current_span().start;
  Expr expr = TRY(parse_or(p));
  if (at_judgment_verb(p)) {
    return err(p.expect_failure("`=` (a judgment's answer must be assigned to a name, spec section 6)"));
  }

  if (!p.current().is_symbol(Symbol::Assign)) {
    expr = TRY(parse_command_call(p, std::move(expr), /*stop_at_max=*/false));
    if (!stands_as_statement(expr)) {
      return err(Parser::error(
          DiagnosticCode::Syntax,
          "expected a statement; an expression on its own does nothing (assign it, call something or `log` it)",
          ast::span(expr)));
    }
    TRY(expect_value_line_end(p));
    Span s{start, ast::span(expr).end};
    return Stmt{Stmt::Expr{std::move(expr), s}};
  }

  std::optional<ast::AssignTarget> target = ast::assign_target_from_expr(expr);
  if (!target) {
    return err(Parser::error(DiagnosticCode::Syntax,
                             "cannot assign to this expression; a target is a name or a field path (spec section 5.3)",
                             ast::span(expr)));
  }
  p.advance();
  if (p.current().is_keyword(Keyword::Shape)) {
    if (!target->path.empty()) {
      return err(Parser::error(DiagnosticCode::Syntax,
                               "`shape` assigns to a plain name, not a field path (spec section 7.2)", target->span));
    }
    return parse_shape_statement(p, std::move(*target), start);
  }
  Expr value = TRY(parse_assignment_value(p, /*shape_field=*/false));
  TRY(expect_value_line_end(p));
  Span s{start, ast::span(value).end};
  return Stmt{Stmt::Assign{std::move(*target), std::move(value), s}};
}

// A condition, `:` and its block; the `if` or `elif` before it is already consumed.
Result<ast::Branch, Diagnostic> parse_branch(Parser& p, std::string_view what) {
  Pos start = p.current_span().start;
  Expr test = TRY(parse_or(p));
  TRY(p.expect_symbol(Symbol::Colon));
  ast::Block body = TRY(parse_block(p, what));
  Span s{start, body.span.end};
  return ast::Branch{std::move(test), std::move(body), s};
}

[[gnu::noinline]] Result<Stmt, Diagnostic> parse_if(Parser& p) {
  Pos start = p.advance().start;
  Stmt::If node;
  node.branches.push_back(TRY(parse_branch(p, "after `if ...:`")));
  while (p.current().is_keyword(Keyword::Elif)) {
    p.advance();
    node.branches.push_back(TRY(parse_branch(p, "after `elif ...:`")));
  }
  Pos end = node.branches.back().span.end;
  if (p.current().is_keyword(Keyword::Else)) {
    p.advance();
    TRY(p.expect_symbol(Symbol::Colon));
    node.otherwise = TRY(parse_block(p, "after `else:`"));
    end = node.otherwise->span.end;
  }
  node.span = Span{start, end};
  return Stmt{std::move(node)};
}

[[gnu::noinline]] Result<Stmt, Diagnostic> parse_for(Parser& p) {
  Pos start = p.advance().start;
  std::vector<ast::Ident> names = TRY(parse_for_names(p));
  TRY(p.expect_keyword(Keyword::In));
  Expr iterable = TRY(parse_or(p));
  TRY(p.expect_symbol(Symbol::Colon));
  ast::Block body = TRY(parse_block(p, "after `for ...:`"));
  Span s{start, body.span.end};
  return Stmt{Stmt::For{std::move(names), std::move(iterable), std::move(body), s}};
}

[[gnu::noinline]] Result<Stmt, Diagnostic> parse_loop(Parser& p) {
  Span loop_word = p.advance();
  if (!p.current().is_keyword(Keyword::Max)) {
    return err(Parser::error(DiagnosticCode::UnboundedLoop,
                             "`loop` needs `max N`: every loop has a compile-time bound (spec section 5.5)",
                             loop_word));
  }
  p.advance();
  NumberToken max = TRY(p.expect_number("the loop's bound after `max`"));
  TRY(p.expect_symbol(Symbol::Colon));
  ast::Block body = TRY(parse_block(p, "after `loop max N:`"));
  Span s{loop_word.start, body.span.end};
  return Stmt{Stmt::Loop{max.value, std::move(body), s}};
}

[[gnu::noinline]] Result<Stmt, Diagnostic> parse_until(Parser& p) {
  Pos start = p.advance().start;
  bool verify = p.at_word("verify") && p.peek(1).is_symbol(Symbol::LParen);
  std::optional<Expr> test;
  if (verify) {
    Span verify_word = p.advance();
    p.advance();
    test = TRY(parse_or(p));
    TRY(p.expect_symbol(Symbol::RParen));
    // One verification loop per unit: its test is what the whole unit is checked against.
    if (!p.verify_spans.empty()) {
      return err(Parser::error(DiagnosticCode::VerifyTwice,
                               "a task may declare `verify` once, on its outermost loop (spec section 7.4)",
                               verify_word));
    }
    p.verify_spans.push_back(verify_word);
  } else {
    test = TRY(parse_or(p));
  }
  if (!at_comma_then_keyword(p, Keyword::Max)) {
    return err(Parser::error(DiagnosticCode::UnboundedLoop,
                             "`until` needs `, max N`: every loop has a compile-time bound (spec section 5.5)",
                             Span{start, p.last_end()}));
  }
  p.advance();
  p.advance();
  NumberToken max = TRY(p.expect_number("the loop's bound after `max`"));
  TRY(p.expect_symbol(Symbol::Colon));
  ast::Block body = TRY(parse_block(p, "after `until ..., max N:`"));
  Span s{start, body.span.end};
  return Stmt{Stmt::Until{std::move(*test), max.value, verify, std::move(body), s}};
}

std::optional<Verdict> verdict_of(const Token& t) {
  const auto* word = std::get_if<tok::Keyword>(&t.kind);
  if (!word) return std::nullopt;
  switch (word->keyword) {
    case Keyword::Proceed:
      return Verdict::Proceed;
    case Keyword::Confirm:
      return Verdict::Confirm;
    case Keyword::Escalate:
      return Verdict::Escalate;
    case Keyword::Stop:
      return Verdict::Stop;
    default:
      return std::nullopt;
  }
}

// `VERDICT -> ` then either a block or, on the same line, exactly one statement.
[[gnu::noinline]] Result<ast::GateArm, Diagnostic> parse_gate_arm(Parser& p) {
  std::optional<Verdict> verdict = verdict_of(p.current());
  if (!verdict) return err(p.expect_failure("a gate arm (`proceed`, `confirm`, `escalate` or `stop`)"));
  Pos start = p.advance().start;
  TRY(p.expect_symbol(Symbol::Arrow));
  ast::Block body;
  if (p.current().is_newline()) {
    body = TRY(parse_block(p, "after `->`"));
  } else {
    Stmt stmt = TRY(parse_statement(p));
    body.span = stmt_span(stmt);
    body.stmts.push_back(std::move(stmt));
  }
  Span s{start, body.span.end};
  return ast::GateArm{*verdict, std::move(body), s};
}

[[gnu::noinline]] Result<Stmt, Diagnostic> parse_gate(Parser& p) {
  Pos start = p.advance().start;
  Stmt::Gate node;
  for (;;) {
    const Token& t = p.current();
    std::optional<Expr>* slot = nullptr;
    if (t.is_ident("risk")) {
      slot = &node.risk;
    } else if (t.is_ident("confidence")) {
      slot = &node.confidence;
    } else if (t.is_ident("done")) {
      slot = &node.done;
    } else {
      return err(p.expect_failure("a gate argument (`risk`, `confidence` or `done`)"));
    }
    if (slot->has_value()) {
      return err(Parser::error(DiagnosticCode::DuplicateName,
                               "the gate argument `" + std::get<tok::Ident>(t.kind).text +
                                   "` is given twice (spec section 12)",
                               t.span));
    }
    p.advance();
    *slot = TRY(parse_or(p));
    if (!p.current().is_symbol(Symbol::Comma)) break;
    p.advance();
  }
  Span colon = TRY(p.expect_symbol(Symbol::Colon));
  TRY(p.expect_block_start("of arms after `gate ...:`"));
  // The arm list is a block of its own (arms may nest further statements), so it holds a level too.
  auto level = TRY(p.enter());
  Pos end = colon.end;
  std::array<bool, 4> seen{};
  while (!p.current().is_dedent() && !p.current().is_eof()) {
    ast::GateArm arm = TRY(parse_gate_arm(p));
    bool& written = seen[static_cast<std::size_t>(arm.verdict)];
    if (written) {
      return err(Parser::error(DiagnosticCode::DuplicateName, "this gate arm is written twice (spec section 12)",
                               arm.span));
    }
    written = true;
    end = arm.span.end;
    node.arms.push_back(std::move(arm));
  }
  TRY(p.expect_dedent());
  node.span = Span{start, end};
  return Stmt{std::move(node)};
}

[[gnu::noinline]] Result<Stmt, Diagnostic> parse_return(Parser& p) {
  Pos start = p.advance().start;
  std::optional<Expr> value;
  if (!p.current().is_newline()) value = TRY(parse_or(p));
  Span s{start, p.last_end()};
  TRY(p.expect_newline());
  return Stmt{Stmt::Return{std::move(value), s}};
}

// `stop "reason"` or `escalate "reason"`.
template <class Node>
Result<Stmt, Diagnostic> parse_reason_statement(Parser& p, std::string_view what) {
  Pos start = p.advance().start;
  Expr reason = TRY(parse_text_expr(p, what));
  Span s{start, ast::span(reason).end};
  TRY(p.expect_newline());
  return Stmt{Node{std::move(reason), s}};
}

template <class Node>
Result<Stmt, Diagnostic> parse_bare_keyword_statement(Parser& p) {
  Span word = p.advance();
  TRY(p.expect_newline());
  return Stmt{Node{word}};
}

}  // namespace

Result<ast::Block, Diagnostic> parse_block(Parser& p, std::string_view what) {
  TRY(p.expect_block_start(what));
  auto level = TRY(p.enter());
  Pos start = p.current_span().start;
  ast::Block block;
  block.span = Span{start, start};
  while (!p.current().is_dedent() && !p.current().is_eof()) {
    block.stmts.push_back(TRY(parse_statement(p)));
    block.span.end = stmt_span(block.stmts.back()).end;
  }
  TRY(p.expect_dedent());
  return block;
}

Result<Stmt, Diagnostic> parse_statement(Parser& p) {
  const Token& t = p.current();
  if (t.is_ident()) return parse_name_statement(p);
  const auto* word = std::get_if<tok::Keyword>(&t.kind);
  if (!word) return err(p.expect_failure("a statement"));
  switch (word->keyword) {
    case Keyword::If:
      return parse_if(p);
    case Keyword::For:
      return parse_for(p);
    case Keyword::Loop:
      return parse_loop(p);
    case Keyword::Until:
      return parse_until(p);
    case Keyword::Gate:
      return parse_gate(p);
    case Keyword::Return:
      return parse_return(p);
    case Keyword::Continue:
      return parse_bare_keyword_statement<Stmt::Continue>(p);
    case Keyword::Break:
      return parse_bare_keyword_statement<Stmt::Break>(p);
    case Keyword::Stop:
      return parse_reason_statement<Stmt::Stop>(p, "the reason text after `stop`");
    case Keyword::Escalate:
      return parse_reason_statement<Stmt::Escalate>(p, "the reason text after `escalate`");
    case Keyword::Elif:
      return err(p.expect_failure("a statement (`elif` has no `if` at this indentation)"));
    case Keyword::Else:
      return err(p.expect_failure("a statement (`else` has no `if` at this indentation)"));
    default:
      return err(p.expect_failure("a statement"));
  }
}

Result<ast::ShapeField, Diagnostic> parse_shape_field(Parser& p) {
  ast::Ident name = TRY(p.expect_ident("a field name"));
  Expr value = TRY(parse_assignment_value(p, /*shape_field=*/true));
  std::optional<double> max;
  bool tail = false;
  if (at_comma_then_keyword(p, Keyword::Max)) {
    p.advance();
    p.advance();
    max = TRY(p.expect_number("the field's token cap after `max`")).value;
    if (p.current().is_symbol(Symbol::Comma) && p.peek(1).is_ident("tail")) {
      p.advance();
      p.advance();
      tail = true;
    }
  }
  Span s{name.span.start, p.last_end()};
  TRY(p.expect_newline());
  return ast::ShapeField{std::move(name.name), name.span, std::move(value), max, tail, s};
}

}  // namespace dravelin::syntax
