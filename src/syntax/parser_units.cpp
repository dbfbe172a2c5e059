// The grammar of units (judgments, tasks, defs and machines) and of shape annotations.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "syntax/parser.h"

namespace dravelin::syntax {

namespace {

using ::dravelin::Unit;

// The lines of an indented body run until the block closes; Eof ends them too, so that the closing expect_dedent
// reports a list that stops short instead of looping past its end.
bool at_body_end(const Parser& p) { return p.current().is_dedent() || p.current().is_eof(); }

// A line ends with a Newline, or with nothing when the line's last construct closed an indented block of its own
// (a `pick:` question consumes its Dedent, and the next line starts at once).
Result<Unit, Diagnostic> expect_line_end(Parser& p) {
  if (p.previous() && p.previous()->is_dedent()) return Unit{};
  return p.expect_newline();
}

// `(` [name [= default] {, name [= default]}] `)`
Result<std::vector<ast::DefParam>, Diagnostic> parse_params(Parser& p) {
  TRY(p.expect_symbol(Symbol::LParen));
  std::vector<ast::DefParam> params;
  if (!p.current().is_symbol(Symbol::RParen)) {
    for (;;) {
      ast::Ident name = TRY(p.expect_ident("a parameter name"));
      std::optional<ast::Expr> default_value;
      if (p.current().is_symbol(Symbol::Assign)) {
        p.advance();
        default_value = TRY(parse_or(p));
      }
      Span s{name.span.start, p.last_end()};
      params.push_back(ast::DefParam{std::move(name.name), name.span, std::move(default_value), s});
      if (!p.current().is_symbol(Symbol::Comma)) break;
      p.advance();
    }
  }
  TRY(p.expect_symbol(Symbol::RParen));
  return params;
}

// [`budget` key number {, key number}]
Result<std::vector<ast::BudgetLimit>, Diagnostic> parse_budget(Parser& p) {
  std::vector<ast::BudgetLimit> limits;
  if (!p.current().is_keyword(Keyword::Budget)) return limits;
  p.advance();
  for (;;) {
    const auto* word = std::get_if<tok::Ident>(&p.current().kind);
    std::optional<ast::BudgetKey> key = word ? enum_from_name<ast::BudgetKey>(word->text) : std::nullopt;
    if (!key) return err(p.expect_failure("a budget key (`calls`, `minutes`, `usd` or `steps`)"));
    Span key_span = p.advance();
    NumberToken limit = TRY(p.expect_number("the budget's limit"));
    limits.push_back(ast::BudgetLimit{*key, limit.value, Span{key_span.start, limit.span.end}});
    if (!p.current().is_symbol(Symbol::Comma)) break;
    p.advance();
  }
  return limits;
}

// [`thresholds` name number {, name number}]
Result<std::vector<ast::Threshold>, Diagnostic> parse_thresholds(Parser& p) {
  std::vector<ast::Threshold> entries;
  if (!p.eat_word("thresholds")) return entries;
  for (;;) {
    ast::Ident name = TRY(p.expect_ident("a threshold name"));
    NumberToken value = TRY(p.expect_number("the threshold's value"));
    entries.push_back(
        ast::Threshold{std::move(name.name), name.span, value.value, Span{name.span.start, value.span.end}});
    if (!p.current().is_symbol(Symbol::Comma)) break;
    p.advance();
  }
  return entries;
}

Result<ast::Judgment, Diagnostic> parse_judgment_unit(Parser& p) {
  Span keyword = p.advance();
  ast::Ident name = TRY(p.expect_ident("the judgment's name"));
  std::vector<ast::Ident> params = TRY(parse_param_names(p));
  TRY(p.expect_symbol(Symbol::Colon));
  TRY(p.expect_block_start("of `name = judgment` lines after `judgment ...:`"));

  std::vector<ast::JudgmentResult> results;
  std::vector<ast::JudgmentLog> logs;
  Pos end = p.last_end();
  while (!at_body_end(p)) {
    if (is_log_expression_start(p)) {
      ast::Expr log = TRY(parse_or(p));
      Span s = ast::span(log);
      if (!std::holds_alternative<ast::Expr::Log>(log.node)) {
        return err(Parser::error(
            DiagnosticCode::Syntax,
            "a judgment body holds only `name = judgment` and `log` lines (spec sections 5.8 and 6.7)", s));
      }
      logs.push_back(ast::JudgmentLog{results.size(), std::move(log), s});
      end = s.end;
    } else {
      ast::Ident result = TRY(p.expect_ident("a result name (a judgment body holds only `name = judgment` lines)"));
      TRY(p.expect_symbol(Symbol::Assign));
      ast::Judge question = TRY(parse_judgment_expr(p));
      Span s{result.span.start, question.span.end};
      results.push_back(ast::JudgmentResult{std::move(result.name), result.span, std::move(question), s});
      end = s.end;
    }
    TRY(expect_line_end(p));
  }
  TRY(p.expect_dedent());
  return ast::Judgment{std::move(name.name), name.span,       std::move(params),
                       std::move(results),   std::move(logs), Span{keyword.start, end}};
}

Result<ast::Task, Diagnostic> parse_task(Parser& p) {
  Span keyword = p.advance();
  ast::Ident name = TRY(p.expect_ident("the task's name"));
  std::vector<ast::DefParam> params;
  if (p.current().is_symbol(Symbol::LParen)) params = TRY(parse_params(p));
  std::vector<ast::BudgetLimit> budget = TRY(parse_budget(p));
  std::vector<ast::Threshold> thresholds = TRY(parse_thresholds(p));
  TRY(p.expect_symbol(Symbol::Colon));
  ast::Block body = TRY(parse_block(p, "after `task ...:`"));
  Span s{keyword.start, body.span.end};
  return ast::Task{std::move(name.name), name.span, std::move(params), std::move(budget), std::move(thresholds),
                   std::move(body),      s};
}

Result<ast::Def, Diagnostic> parse_def(Parser& p) {
  Span keyword = p.advance();
  ast::Ident name = TRY(p.expect_ident("the def's name"));
  std::vector<ast::DefParam> params = TRY(parse_params(p));
  TRY(p.expect_symbol(Symbol::Colon));
  ast::Block body = TRY(parse_block(p, "after `def ...:`"));
  Span s{keyword.start, body.span.end};
  return ast::Def{std::move(name.name), name.span, std::move(params), std::move(body), s};
}

// `on` EVENT TEXT `->` TARGET [`when` EXPR] [`risky`], then `:` and a block, or the line end.
Result<ast::Transition, Diagnostic> parse_transition(Parser& p) {
  Span keyword = TRY(p.expect_keyword(Keyword::On));
  ast::Ident event = TRY(p.expect_ident("an event name"));
  if (!p.current().is_text()) {
    return err(Parser::error(
        DiagnosticCode::EventNoDescription,
        "`on " + event.name + "` needs a description text: it is what Zem reads (spec section 7.8)", event.span));
  }
  ast::Expr description = TRY(parse_text_expr(p, "the event's description"));
  TRY(p.expect_symbol(Symbol::Arrow));
  ast::Ident target = TRY(p.expect_ident("the target state's name"));
  std::optional<ast::Expr> when;
  if (p.current().is_keyword(Keyword::When)) {
    p.advance();
    when = TRY(parse_or(p));
  }
  bool risky = p.eat_word("risky");
  std::optional<ast::Block> body;
  Pos end;
  if (p.current().is_symbol(Symbol::Colon)) {
    p.advance();
    body = TRY(parse_block(p, "of actions after `on ...:`"));
    end = body->span.end;
  } else {
    end = p.last_end();
    TRY(p.expect_newline());
  }
  return ast::Transition{
      std::move(event.name), event.span, std::move(description), std::move(target.name),  target.span,
      std::move(when),       risky,      std::move(body),        Span{keyword.start, end}};
}

// `state` NAME, then `:` and a block of transitions, or `done`.
Result<ast::MachineState, Diagnostic> parse_state(Parser& p) {
  Span keyword = p.advance();
  ast::Ident name = TRY(p.expect_ident("the state's name"));
  if (p.current().is_symbol(Symbol::Colon)) {
    p.advance();
    TRY(p.expect_block_start("of `on` transitions after `state ...:`"));
    std::vector<ast::Transition> transitions;
    while (!at_body_end(p)) transitions.push_back(TRY(parse_transition(p)));
    TRY(p.expect_dedent());
    // The block is never empty: the lexer makes no Indent that a Dedent follows at once.
    Pos end = transitions.empty() ? name.span.end : transitions.back().span.end;
    return ast::MachineState{std::move(name.name), name.span, false, std::move(transitions), Span{keyword.start, end}};
  }
  if (p.at_word("done")) {
    Span done = p.advance();
    TRY(p.expect_newline());
    return ast::MachineState{std::move(name.name), name.span, true, {}, Span{keyword.start, done.end}};
  }
  return err(p.expect_failure("`done` or `:` after the state's name"));
}

// The `:` and the indented field list after the word `observe`.
Result<std::vector<ast::ShapeField>, Diagnostic> parse_observe(Parser& p) {
  TRY(p.expect_symbol(Symbol::Colon));
  TRY(p.expect_block_start("of fields after `observe:`"));
  std::vector<ast::ShapeField> fields;
  while (!at_body_end(p)) fields.push_back(TRY(parse_shape_field(p)));
  TRY(p.expect_dedent());
  return fields;
}

Result<ast::Machine, Diagnostic> parse_machine(Parser& p) {
  Span keyword = p.advance();
  ast::Machine m;
  ast::Ident name = TRY(p.expect_ident("the machine's name"));
  m.name = std::move(name.name);
  m.name_span = name.span;
  m.params = TRY(parse_params(p));
  m.budget = TRY(parse_budget(p));
  m.thresholds = TRY(parse_thresholds(p));
  TRY(p.expect_symbol(Symbol::Colon));
  TRY(p.expect_block_start("after `machine ...:`"));

  // The end of the body's last part; the Newline and Dedent tokens after it belong to no part.
  Pos end = p.last_end();
  if (p.at_word("goal")) {
    p.advance();
    m.goal = TRY(parse_text_expr(p, "the goal text"));
    end = ast::span(*m.goal).end;
    TRY(p.expect_newline());
  }
  if (p.current().is_keyword(Keyword::Initial)) {
    p.advance();
    m.initial = TRY(p.expect_ident("the initial state's name"));
    end = m.initial->span.end;
    TRY(p.expect_newline());
  }
  if (p.at_word("observe")) {
    Span observe = p.advance();
    m.observe = TRY(parse_observe(p));
    end = m.observe.empty() ? observe.end : m.observe.back().span.end;
  }
  while (!at_body_end(p)) {
    if (!p.current().is_keyword(Keyword::State)) {
      return err(
          p.expect_failure("`state` (a machine body is `goal`, `initial`, `observe:` and then states, in that order)"));
    }
    m.states.push_back(TRY(parse_state(p)));
    end = m.states.back().span.end;
  }
  TRY(p.expect_dedent());
  m.span = Span{keyword.start, end};
  return m;
}

}  // namespace

Result<std::vector<ast::Ident>, Diagnostic> parse_param_names(Parser& p) {
  TRY(p.expect_symbol(Symbol::LParen));
  std::vector<ast::Ident> params;
  if (!p.current().is_symbol(Symbol::RParen)) {
    for (;;) {
      params.push_back(TRY(p.expect_ident("a parameter name")));
      if (!p.current().is_symbol(Symbol::Comma)) break;
      p.advance();
    }
  }
  TRY(p.expect_symbol(Symbol::RParen));
  return params;
}

Result<ast::Unit, Diagnostic> parse_unit(Parser& p) {
  p.verify_spans.clear();
  if (const auto* word = std::get_if<tok::Keyword>(&p.current().kind)) {
    switch (word->keyword) {
      case Keyword::Judgment:
        return ast::Unit{TRY(parse_judgment_unit(p))};
      case Keyword::Task:
        return ast::Unit{TRY(parse_task(p))};
      case Keyword::Def:
        return ast::Unit{TRY(parse_def(p))};
      case Keyword::Machine:
        return ast::Unit{TRY(parse_machine(p))};
      case Keyword::Use:
        return err(p.expect_failure(
            "a unit (`use` declarations come before `in`, `out`, `needs` and every unit, spec section 3)"));
      case Keyword::In:
      case Keyword::Out:
      case Keyword::Needs:
        return err(
            p.expect_failure("a unit (`in`, `out` and `needs` declarations come before every unit, spec section 3)"));
      default:
        break;
    }
  }
  return err(p.expect_failure("`judgment`, `task`, `def` or `machine`"));
}

Result<ast::Shape, Diagnostic> parse_shape(Parser& p) {
  const Token& t = p.current();
  if (const auto* word = std::get_if<tok::Ident>(&t.kind)) {
    if (auto type = enum_from_name<ShapeTypeName>(word->text)) {
      Span s = p.advance();
      return ast::Shape{ast::Shape::Type{*type, s}};
    }
  }
  if (!t.is_symbol(Symbol::LBrace)) {
    return err(p.expect_failure("a shape (`text`, `number`, `bool`, `list`, `record` or `{ fields }`)"));
  }
  // Records nest in records; each one holds a level so that deep input ends in a diagnostic.
  auto level = TRY(p.enter());
  Span open = p.advance();
  std::vector<ast::FieldShape> fields;
  if (!p.current().is_symbol(Symbol::RBrace)) {
    for (;;) {
      ast::Ident name = TRY(p.expect_ident("a field name"));
      std::optional<ast::Shape> shape;
      if (p.current().is_symbol(Symbol::Colon)) {
        p.advance();
        shape = TRY(parse_shape(p));
      }
      Span s{name.span.start, p.last_end()};
      fields.push_back(ast::FieldShape{std::move(name.name), name.span, std::move(shape), s});
      if (!p.current().is_symbol(Symbol::Comma)) break;
      p.advance();
    }
  }
  Span close = TRY(p.expect_symbol(Symbol::RBrace));
  return ast::Shape{ast::Shape::Record{std::move(fields), Span{open.start, close.end}}};
}

}  // namespace dravelin::syntax
