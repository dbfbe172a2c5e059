// The expression grammar, from `or` down to literals, names and postfix chains, and the interpolation entry points.
#include <algorithm>
#include <unordered_set>

#include "syntax/lexer.h"
#include "syntax/parse.h"
#include "syntax/parser.h"

namespace dravelin::syntax {

using ast::Expr;

static_assert(int(Symbol::NotEq) - int(Symbol::EqEq) == int(BinaryOp::NotEq) - int(BinaryOp::Eq) &&
                  int(Symbol::Lt) - int(Symbol::EqEq) == int(BinaryOp::Lt) - int(BinaryOp::Eq) &&
                  int(Symbol::LtEq) - int(Symbol::EqEq) == int(BinaryOp::LtEq) - int(BinaryOp::Eq) &&
                  int(Symbol::Gt) - int(Symbol::EqEq) == int(BinaryOp::Gt) - int(BinaryOp::Eq) &&
                  int(Symbol::GtEq) - int(Symbol::EqEq) == int(BinaryOp::GtEq) - int(BinaryOp::Eq),
              "comparison symbols map onto binary operators by offset");
static_assert(int(Symbol::Slash) - int(Symbol::Star) == int(BinaryOp::Div) - int(BinaryOp::Mul) &&
                  int(Symbol::Percent) - int(Symbol::Star) == int(BinaryOp::Rem) - int(BinaryOp::Mul),
              "multiplicative symbols map onto binary operators by offset");

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Nesting of chains. Recursive constructs hold a nesting guard while they parse their parts, but binary operators
// and postfix steps build their nodes in loops, each step wrapping the tree built so far; those loops must not
// build trees deeper than the rest of the system can walk. Every subtree handed to a wrap has already passed this
// check, so the recursive walk below never goes deeper than the limit.

uint32_t height(const Expr& e);

uint32_t height_of(const std::optional<Expr>& e) { return e ? height(*e) : 0; }

uint32_t fields_height(const std::vector<ast::RecordField>& fields) {
  uint32_t h = 0;
  for (const auto& f : fields) h = std::max(h, height_of(f.value));
  return h;
}

// The number of nodes on the longest path from `e` down to a leaf.
uint32_t height(const Expr& e) {
  uint32_t below = std::visit(
      [](const auto& n) -> uint32_t {
        using N = std::decay_t<decltype(n)>;
        if constexpr (std::is_same_v<N, Expr::List>) {
          uint32_t h = 0;
          for (const auto& item : n.items) h = std::max(h, height(item));
          return h;
        } else if constexpr (std::is_same_v<N, Expr::Record>) {
          return fields_height(n.fields);
        } else if constexpr (std::is_same_v<N, Expr::Field> || std::is_same_v<N, Expr::Is>) {
          return height(*n.target);
        } else if constexpr (std::is_same_v<N, Expr::Index>) {
          return std::max(height(*n.target), height(*n.index));
        } else if constexpr (std::is_same_v<N, Expr::Call>) {
          uint32_t h = height(*n.callee);
          for (const auto& a : n.args) h = std::max(h, height(a.value));
          return h;
        } else if constexpr (std::is_same_v<N, Expr::Unary>) {
          return height(*n.operand);
        } else if constexpr (std::is_same_v<N, Expr::Binary>) {
          return std::max(height(*n.left), height(*n.right));
        } else if constexpr (std::is_same_v<N, Expr::Comprehension>) {
          return std::max({height(*n.expr), height(*n.iterable), n.test ? height(**n.test) : 0u});
        } else if constexpr (std::is_same_v<N, Expr::Focus>) {
          return std::max(height(*n.text), height(*n.on));
        } else if constexpr (std::is_same_v<N, Expr::Log>) {
          return std::max(height(*n.value), fields_height(n.fields));
        } else {
          // Literals and names; also judgments, which stand only as whole right-hand sides and are never
          // wrapped by an expression step.
          return 0;
        }
      },
      e.node);
  return below + 1;
}

// Accepts a node built by a loop step when its leaves stay within the nesting limit, counted from the level that
// the parser is at now.
Result<Expr, Diagnostic> bounded(const Parser& p, Expr e) {
  if (p.depth() + height(e) - 1 > kMaxNesting) return err(p.nesting_failure());
  return e;
}

// ---------------------------------------------------------------------------------------------------------------
// Token classes.

bool is_keyword_among(const Token& t, std::initializer_list<Keyword> words) {
  const auto* w = std::get_if<tok::Keyword>(&t.kind);
  if (!w) return false;
  for (Keyword k : words) {
    if (w->keyword == k) return true;
  }
  return false;
}

// The reserved words that begin a value and can stand as an argument without a name.
bool is_value_keyword(const Token& t) {
  return is_keyword_among(t, {Keyword::Focus, Keyword::Trail, Keyword::Not, Keyword::True, Keyword::False,
                              Keyword::None});
}

// A token that starts an argument value, in the positions where the grammar decides by one token that a word
// before it is an argument name (and, in command form, that arguments follow at all).
bool starts_argument_value(const Token& t) {
  return t.is_ident() || t.is_number() || t.is_text() || t.is_symbol(Symbol::LBrace) || is_value_keyword(t);
}

// A token that can start the value of a `log` form.
bool starts_log_value(const Token& t) {
  return t.is_ident() || t.is_number() || t.is_text() || t.is_symbol(Symbol::LParen) ||
         t.is_symbol(Symbol::LBracket) || t.is_symbol(Symbol::LBrace) || t.is_symbol(Symbol::Minus) ||
         is_keyword_among(t, {Keyword::Focus, Keyword::Trail, Keyword::Max, Keyword::Not, Keyword::True,
                              Keyword::False, Keyword::None});
}

// The identifier `using` at `ahead` tokens from the current one, followed by a value: in command form it joins
// one more argument without a comma.
bool starts_using_argument(const Parser& p, std::size_t ahead) {
  return p.peek(ahead).is_ident("using") && starts_argument_value(p.peek(ahead + 1));
}

std::optional<BinaryOp> comparison_op(const Token& t) {
  const auto* s = std::get_if<tok::Symbol>(&t.kind);
  if (!s || s->symbol < Symbol::EqEq || s->symbol > Symbol::GtEq) return std::nullopt;
  return static_cast<BinaryOp>(int(BinaryOp::Eq) + (int(s->symbol) - int(Symbol::EqEq)));
}

std::optional<BinaryOp> multiplicative_op(const Token& t) {
  const auto* s = std::get_if<tok::Symbol>(&t.kind);
  if (!s || s->symbol < Symbol::Star || s->symbol > Symbol::Percent) return std::nullopt;
  return static_cast<BinaryOp>(int(BinaryOp::Mul) + (int(s->symbol) - int(Symbol::Star)));
}

// ---------------------------------------------------------------------------------------------------------------
// Primary forms. The functions on the recursive path of nested expressions stay out of line: inlined together
// they would make one large frame for every level of nesting, whatever form each level takes.

[[gnu::noinline]] Result<Expr, Diagnostic> parse_log(Parser& p) {
  Span log_word = p.advance();
  const Token& level_token = p.current();
  const std::string level_text = std::get<tok::Ident>(level_token.kind).text;
  auto level = enum_from_name<LogLevel>(level_text);
  if (!level) {
    return err(Parser::error(
        DiagnosticCode::LogLevel,
        "`" + level_text + "` is not a log level; write `debug`, `info`, `warn` or `error` (spec section 5.8)",
        level_token.span));
  }
  p.advance();
  Expr value = TRY(parse_or(p));
  std::vector<ast::RecordField> fields;
  if (p.current().is_symbol(Symbol::LBrace)) {
    fields = TRY(parse_record_literal(p)).fields;
    std::unordered_set<std::string_view> seen;
    for (const auto& field : fields) {
      if (!seen.insert(field.name).second) {
        return err(Parser::error(DiagnosticCode::DuplicateName,
                                 "the log field `" + field.name + "` is given twice (spec section 12)",
                                 field.name_span));
      }
    }
  }
  return Expr{Expr::Log{*level, std::move(value), std::move(fields), Span{log_word.start, p.last_end()}}};
}

[[gnu::noinline]] Result<Expr, Diagnostic> parse_focus(Parser& p) {
  Span focus_word = p.advance();
  Expr text = TRY(parse_or(p));
  TRY(p.expect_keyword(Keyword::On));
  Expr on = TRY(parse_text_expr(p, "the purpose text after `on`"));
  if (!p.current().is_symbol(Symbol::Comma) || !p.peek(1).is_keyword(Keyword::Max)) {
    return err(p.expect_failure("`, max N` (a `focus` always states its token cap)"));
  }
  p.advance();
  p.advance();
  NumberToken max = TRY(p.expect_number("the token cap after `max`"));
  return Expr{Expr::Focus{std::move(text), std::move(on), max.value, Span{focus_word.start, max.span.end}}};
}

[[gnu::noinline]] Result<Expr, Diagnostic> parse_trail(Parser& p) {
  Span trail_word = p.advance();
  const auto* number = std::get_if<tok::Number>(&p.current().kind);
  if (!number) return err(p.expect_failure("the number of records after `trail`"));
  double count = number->value;
  Span number_span = p.advance();
  return Expr{Expr::Trail{count, Span{trail_word.start, number_span.end}}};
}

[[gnu::noinline]] Result<Expr, Diagnostic> parse_list_or_comprehension(Parser& p) {
  Span open = p.advance();
  if (p.current().is_symbol(Symbol::RBracket)) {
    Span close = p.advance();
    return Expr{Expr::List{{}, Span{open.start, close.end}}};
  }
  Expr first = TRY(parse_or(p));
  if (p.current().is_keyword(Keyword::For)) {
    p.advance();
    std::vector<ast::Ident> names = TRY(parse_for_names(p));
    TRY(p.expect_keyword(Keyword::In));
    Expr iterable = TRY(parse_or(p));
    std::optional<Box<Expr>> test;
    if (p.current().is_keyword(Keyword::If)) {
      p.advance();
      test = TRY(parse_or(p));
    }
    Span close = TRY(p.expect_symbol(Symbol::RBracket));
    return Expr{Expr::Comprehension{std::move(first), std::move(names), std::move(iterable), std::move(test),
                                    Span{open.start, close.end}}};
  }
  std::vector<Expr> items;
  items.push_back(std::move(first));
  while (p.current().is_symbol(Symbol::Comma)) {
    p.advance();
    items.push_back(TRY(parse_or(p)));
  }
  Span close = TRY(p.expect_symbol(Symbol::RBracket));
  return Expr{Expr::List{std::move(items), Span{open.start, close.end}}};
}

[[gnu::noinline]] Result<Expr, Diagnostic> parse_primary(Parser& p) {
  const Token& t = p.current();
  if (const auto* ident = std::get_if<tok::Ident>(&t.kind)) {
    if (is_log_expression_start(p)) return parse_log(p);
    Token* owned = p.current_to_take();
    Expr name{Expr::Name{owned ? std::move(std::get<tok::Ident>(owned->kind).text) : ident->text, t.span}};
    p.advance();
    return name;
  }
  if (const auto* number = std::get_if<tok::Number>(&t.kind)) {
    Expr result{Expr::Number{number->value, t.span}};
    p.advance();
    return result;
  }
  if (t.is_text()) return parse_text_expr(p, "an expression");
  if (const auto* word = std::get_if<tok::Keyword>(&t.kind)) {
    switch (word->keyword) {
      case Keyword::True:
      case Keyword::False: {
        Expr result{Expr::Bool{word->keyword == Keyword::True, t.span}};
        p.advance();
        return result;
      }
      case Keyword::None: {
        Expr result{Expr::None{t.span}};
        p.advance();
        return result;
      }
      case Keyword::Focus:
        return parse_focus(p);
      case Keyword::Trail:
        return parse_trail(p);
      case Keyword::Max:
        // The builtin `max(...)` stays callable although `max` is reserved for loop and cap bounds.
        if (p.peek(1).is_symbol(Symbol::LParen)) {
          Expr result{Expr::Name{"max", t.span}};
          p.advance();
          return result;
        }
        break;
      default:
        break;
    }
    return err(p.expect_failure("an expression"));
  }
  if (t.is_symbol(Symbol::LParen)) {
    p.advance();
    Expr inner = TRY(parse_or(p));
    TRY(p.expect_symbol(Symbol::RParen));
    return inner;
  }
  if (t.is_symbol(Symbol::LBracket)) return parse_list_or_comprehension(p);
  if (t.is_symbol(Symbol::LBrace)) return Expr{TRY(parse_record_literal(p))};
  return err(p.expect_failure("an expression"));
}

// Moves a position of an interpolation's own text to where that text stands in the file.
Pos into_file(Pos pos, Pos base) {
  Pos moved;
  if (pos.line <= 1) {
    moved.line = base.line;
    moved.column = pos.column + base.column;
  } else {
    moved.line = base.line + pos.line - 1;
    moved.column = pos.column;
  }
  moved.offset = pos.offset + base.offset;
  return moved;
}

Span into_file(Span span, Pos base) { return Span{into_file(span.start, base), into_file(span.end, base)}; }

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Precedence levels.

Expr combine_operands(BinaryOp op, Expr left, Expr right) {
  Span s{ast::span(left).start, ast::span(right).end};
  return Expr{Expr::Binary{op, std::move(left), std::move(right), s}};
}

Result<Expr, Diagnostic> parse_or(Parser& p) {
  auto level = TRY(p.enter());
  Expr left = TRY(parse_and(p));
  while (p.current().is_keyword(Keyword::Or)) {
    p.advance();
    Expr right = TRY(parse_and(p));
    left = TRY(bounded(p, combine_operands(BinaryOp::Or, std::move(left), std::move(right))));
  }
  return left;
}

Result<Expr, Diagnostic> parse_and(Parser& p) {
  Expr left = TRY(parse_not(p));
  while (p.current().is_keyword(Keyword::And)) {
    p.advance();
    Expr right = TRY(parse_not(p));
    left = TRY(bounded(p, combine_operands(BinaryOp::And, std::move(left), std::move(right))));
  }
  return left;
}

Result<Expr, Diagnostic> parse_not(Parser& p) {
  if (!p.current().is_keyword(Keyword::Not)) return parse_comparison(p);
  auto level = TRY(p.enter());
  Span op = p.advance();
  Expr operand = TRY(parse_not(p));
  Span s{op.start, ast::span(operand).end};
  return Expr{Expr::Unary{UnaryOp::Not, std::move(operand), s}};
}

Result<Expr, Diagnostic> parse_comparison(Parser& p) {
  Expr left = TRY(parse_additive(p));
  if (auto op = comparison_op(p.current())) {
    p.advance();
    Expr right = TRY(parse_additive(p));
    return bounded(p, combine_operands(*op, std::move(left), std::move(right)));
  }
  if (p.current().is_keyword(Keyword::Is)) {
    p.advance();
    const Token& label = p.current();
    std::string text;
    if (const auto* ident = std::get_if<tok::Ident>(&label.kind)) {
      text = ident->text;
    } else if (is_keyword_among(label, {Keyword::Other, Keyword::None})) {
      text = keyword_text(std::get<tok::Keyword>(label.kind).keyword);
    } else {
      return err(p.expect_failure("a label name after `is`"));
    }
    Span label_span = p.advance();
    Span s{ast::span(left).start, label_span.end};
    return bounded(p, Expr{Expr::Is{std::move(left), std::move(text), label_span, s}});
  }
  return left;
}

Result<Expr, Diagnostic> parse_additive(Parser& p) {
  Expr left = TRY(parse_multiplicative(p));
  for (;;) {
    BinaryOp op;
    if (p.current().is_symbol(Symbol::Plus)) {
      op = BinaryOp::Add;
    } else if (p.current().is_symbol(Symbol::Minus)) {
      op = BinaryOp::Sub;
    } else {
      return left;
    }
    p.advance();
    Expr right = TRY(parse_multiplicative(p));
    left = TRY(bounded(p, combine_operands(op, std::move(left), std::move(right))));
  }
}

Result<Expr, Diagnostic> parse_multiplicative(Parser& p) {
  Expr left = TRY(parse_unary(p));
  while (auto op = multiplicative_op(p.current())) {
    p.advance();
    Expr right = TRY(parse_unary(p));
    left = TRY(bounded(p, combine_operands(*op, std::move(left), std::move(right))));
  }
  return left;
}

Result<Expr, Diagnostic> parse_unary(Parser& p) {
  if (!p.current().is_symbol(Symbol::Minus)) return parse_postfix(p);
  auto level = TRY(p.enter());
  Span op = p.advance();
  Expr operand = TRY(parse_unary(p));
  Span s{op.start, ast::span(operand).end};
  return Expr{Expr::Unary{UnaryOp::Neg, std::move(operand), s}};
}

namespace {

bool at_postfix_step(const Parser& p) {
  const Token& t = p.current();
  return t.is_symbol(Symbol::Dot) || t.is_symbol(Symbol::LBracket) || t.is_symbol(Symbol::LParen);
}

// One `.name`, `[index]` or `(arguments)` step around `e`, in a chain that began at `start`.
[[gnu::noinline]] Result<Expr, Diagnostic> parse_postfix_step(Parser& p, Expr e, Pos start) {
  if (p.current().is_symbol(Symbol::Dot)) {
    p.advance();
    ast::Ident name = TRY(p.expect_name("a field name after `.`"));
    Span s{start, name.span.end};
    return Expr{Expr::Field{std::move(e), std::move(name.name), name.span, s}};
  }
  if (p.current().is_symbol(Symbol::LBracket)) {
    p.advance();
    Expr index = TRY(parse_or(p));
    Span close = TRY(p.expect_symbol(Symbol::RBracket));
    return Expr{Expr::Index{std::move(e), std::move(index), Span{start, close.end}}};
  }
  p.advance();
  std::vector<ast::Arg> args;
  if (!p.current().is_symbol(Symbol::RParen)) {
    for (;;) {
      args.push_back(TRY(parse_argument(p, /*allow_colon=*/true)));
      if (!p.current().is_symbol(Symbol::Comma)) break;
      p.advance();
    }
  }
  Span close = TRY(p.expect_symbol(Symbol::RParen));
  return Expr{Expr::Call{std::move(e), std::move(args), CallForm::Function, Span{start, close.end}}};
}

}  // namespace

Result<Expr, Diagnostic> parse_postfix(Parser& p) {
  Pos start = p.current_span().start;
  Expr e = TRY(parse_primary(p));
  while (at_postfix_step(p)) {
    e = TRY(parse_postfix_step(p, std::move(e), start));
    e = TRY(bounded(p, std::move(e)));
  }
  return e;
}

// ---------------------------------------------------------------------------------------------------------------
// Grammar shared with statements, units and judgments.

Result<ast::TextLit, Diagnostic> parse_text_literal(Parser& p, std::string_view what) {
  const auto* text = std::get_if<tok::Text>(&p.current().kind);
  if (!text) return err(p.expect_failure(what));
  ast::TextLit lit{{}, text->triple_quoted, {}, p.log_shadowed};
  for (const TokenTextPart& part : text->parts) {
    const auto* interpolation = std::get_if<TextInterpolationPart>(&part);
    if (!interpolation) continue;
    auto parsed = parse_interpolation(interpolation->source, interpolation->span.start, p.log_shadowed, p.depth());
    if (!parsed.ok()) {
      std::vector<Diagnostic> diagnostics = std::move(parsed).error();
      if (diagnostics.empty()) {
        return err(Parser::error(DiagnosticCode::Syntax, "malformed interpolation", interpolation->span));
      }
      return err(std::move(diagnostics.front()));
    }
    lit.interpolations.push_back(std::move(parsed).value());
  }
  if (Token* owned = p.current_to_take()) {
    lit.parts = std::move(std::get<tok::Text>(owned->kind).parts);
  } else {
    lit.parts = text->parts;
  }
  p.advance();
  return lit;
}

Result<Expr, Diagnostic> parse_text_expr(Parser& p, std::string_view what) {
  Span s = p.current_span();
  ast::TextLit lit = TRY(parse_text_literal(p, what));
  return Expr{Expr::Text{std::move(lit), s}};
}

Result<Expr::Record, Diagnostic> parse_record_literal(Parser& p) {
  Span open = TRY(p.expect_symbol(Symbol::LBrace));
  std::vector<ast::RecordField> fields;
  if (!p.current().is_symbol(Symbol::RBrace)) {
    for (;;) {
      bool reserved = p.current().is_keyword();
      ast::Ident name = TRY(p.expect_name("a field name"));
      std::optional<Expr> value;
      if (p.current().is_symbol(Symbol::Colon)) {
        p.advance();
        value = TRY(parse_or(p));
      } else if (reserved) {
        return err(p.expect_failure("`:` (`{ " + name.name + " }` shorthand needs a variable, and `" + name.name +
                                    "` is reserved)"));
      }
      Span s{name.span.start, p.last_end()};
      fields.push_back(ast::RecordField{std::move(name.name), name.span, std::move(value), s});
      if (!p.current().is_symbol(Symbol::Comma)) break;
      p.advance();
    }
  }
  Span close = TRY(p.expect_symbol(Symbol::RBrace));
  return Expr::Record{std::move(fields), Span{open.start, close.end}};
}

bool is_log_expression_start(const Parser& p) {
  return !p.log_shadowed && p.current().is_ident("log") && p.peek(1).is_ident() && starts_log_value(p.peek(2));
}

Result<ast::Arg, Diagnostic> parse_argument(Parser& p, bool allow_colon) {
  Pos start = p.current_span().start;
  bool named = false;
  if (!is_log_expression_start(p)) {
    const Token& first = p.current();
    const Token& second = p.peek(1);
    bool can_name = first.is_ident() || (first.is_keyword() && !is_value_keyword(first));
    named = can_name && ((allow_colon && second.is_symbol(Symbol::Colon)) || starts_argument_value(second));
    // In command form `prompt using notes` is the argument `prompt` and then the named argument `using`: a
    // `using` that continues the arguments does not make the word before it a name.
    if (named && !allow_colon && starts_using_argument(p, 1)) named = false;
  }
  std::optional<ast::Ident> name;
  if (named) {
    name = TRY(p.expect_name("an argument name"));
    if (allow_colon && p.current().is_symbol(Symbol::Colon)) p.advance();
  }
  Expr value = TRY(parse_or(p));
  Span s{start, ast::span(value).end};
  return ast::Arg{std::move(name), std::move(value), s};
}

Result<Expr, Diagnostic> parse_command_call(Parser& p, Expr expr, bool stop_at_max) {
  const Expr* root = &expr;
  while (const auto* field = std::get_if<Expr::Field>(&root->node)) root = &*field->target;
  if (!std::holds_alternative<Expr::Name>(root->node)) return expr;

  const Token& next = p.current();
  bool arguments_follow =
      starts_argument_value(next) || (next.is_keyword() && starts_argument_value(p.peek(1)));
  if (!arguments_follow) return expr;

  std::vector<ast::Arg> args;
  for (;;) {
    args.push_back(TRY(parse_argument(p, /*allow_colon=*/false)));
    if (p.current().is_symbol(Symbol::Comma)) {
      // A shape field's `, max N` belongs to the field, not to the call.
      if (stop_at_max && p.peek(1).is_keyword(Keyword::Max)) break;
      p.advance();
      continue;
    }
    // `using` joins a further argument without a comma, and is that argument's name.
    if (starts_using_argument(p, 0)) continue;
    break;
  }
  Span s{ast::span(expr).start, args.back().span.end};
  return bounded(p, Expr{Expr::Call{std::move(expr), std::move(args), CallForm::Command, s}});
}

Result<std::vector<ast::Ident>, Diagnostic> parse_for_names(Parser& p) {
  std::vector<ast::Ident> names;
  names.push_back(TRY(p.expect_ident("a loop variable")));
  if (p.current().is_symbol(Symbol::Comma)) {
    p.advance();
    names.push_back(TRY(p.expect_ident("a second loop variable")));
  }
  return names;
}

// ---------------------------------------------------------------------------------------------------------------
// Entry points.

Result<Expr, std::vector<Diagnostic>> parse_interpolation(std::string_view text, Pos base, bool log_shadowed,
                                                          uint32_t depth) {
  auto lexed = lex(text);
  if (!lexed.ok()) {
    std::vector<Diagnostic> diagnostics = std::move(lexed).error();
    for (Diagnostic& d : diagnostics) d.span = into_file(d.span, base);
    return err(std::move(diagnostics));
  }
  std::vector<Token> tokens;
  tokens.reserve(lexed->size());
  for (Token& token : *lexed) {
    if (token.is_newline() || token.is_indent() || token.is_dedent()) continue;
    token.span = into_file(token.span, base);
    // A text inside the interpolation keeps its own interpolations' spans; they move with it, so that parsing
    // them again (here, and in every later phase) places them in the file too.
    if (auto* inner = std::get_if<tok::Text>(&token.kind)) {
      for (TokenTextPart& part : inner->parts) {
        if (auto* nested = std::get_if<TextInterpolationPart>(&part)) nested->span = into_file(nested->span, base);
      }
    }
    tokens.push_back(std::move(token));
  }

  Parser p(tokens, log_shadowed, depth, Parser::OwnTokens{});
  auto parsed = parse_or(p);
  Diagnostic failure;
  if (parsed.ok()) {
    if (p.current().is_eof()) return std::move(parsed).value();
    failure = p.expect_failure("the end of the interpolation");
  } else {
    failure = std::move(parsed).error();
  }
  replace_all(failure.message, "the end of the file", "the end of the interpolation");
  return err(std::vector<Diagnostic>{std::move(failure)});
}

Result<Expr, std::vector<Diagnostic>> parse_interpolation(std::string_view text, Pos base, bool log_shadowed) {
  return parse_interpolation(text, base, log_shadowed, 0);
}

Result<Expr, std::vector<Diagnostic>> parse_expression(std::string_view text, Pos base) {
  return parse_interpolation(text, base, false);
}

}  // namespace dravelin::syntax
