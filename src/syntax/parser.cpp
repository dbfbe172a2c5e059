// The parser's cursor and the way its failures describe the offending token.
#include "syntax/parser.h"

#include "json/number_format.h"

namespace dravelin::syntax {

namespace {

const Token& past_end_token() {
  static const Token eof{tok::Eof{}, Span{}};
  return eof;
}

struct Describe {
  std::string operator()(const tok::Ident& t) const { return "`" + t.text + "`"; }
  std::string operator()(const tok::Keyword& t) const {
    return "the reserved word `" + std::string(keyword_text(t.keyword)) + "`";
  }
  std::string operator()(const tok::Number& t) const {
    return "the number `" + json::format_plain_decimal(t.value) + "`";
  }
  std::string operator()(const tok::Text&) const { return "a text literal"; }
  std::string operator()(const tok::Symbol& t) const { return std::string("`").append(symbol_text(t.symbol)) + "`"; }
  std::string operator()(const tok::Newline&) const { return "the end of the line"; }
  std::string operator()(const tok::Indent&) const { return "an indented block"; }
  std::string operator()(const tok::Dedent&) const { return "the end of the block"; }
  std::string operator()(const tok::Eof&) const { return "the end of the file"; }
};

std::string backticked(std::string_view text) { return std::string("`").append(text) + "`"; }

}  // namespace

std::string describe_token(const Token& token) { return std::visit(Describe{}, token.kind); }

const Token& Parser::peek(std::size_t ahead) const {
  std::size_t i = pos + ahead;
  return i < token_count() ? at(i) : past_end_token();
}

const Token* Parser::previous() const { return pos > 0 && pos <= token_count() ? &at(pos - 1) : nullptr; }

Span Parser::current_span() const { return current().span; }

Span Parser::advance() {
  Span s = current_span();
  if (pos < token_count()) ++pos;
  return s;
}

Pos Parser::last_end() const { return pos == 0 ? Pos{} : at(pos - 1).span.end; }

bool Parser::eat_word(std::string_view text) {
  if (!at_word(text)) return false;
  advance();
  return true;
}

Result<Span, Diagnostic> Parser::expect_symbol(Symbol symbol) {
  if (!current().is_symbol(symbol)) return err(expect_failure(backticked(symbol_text(symbol))));
  return advance();
}

Result<Span, Diagnostic> Parser::expect_keyword(Keyword keyword) {
  if (!current().is_keyword(keyword)) return err(expect_failure(backticked(keyword_text(keyword))));
  return advance();
}

Result<Span, Diagnostic> Parser::expect_word(std::string_view text) {
  if (!at_word(text)) return err(expect_failure(backticked(text)));
  return advance();
}

Result<ast::Ident, Diagnostic> Parser::expect_ident(std::string_view what) {
  const auto* ident = std::get_if<tok::Ident>(&current().kind);
  if (!ident) return err(expect_failure(what));
  Token* owned = current_to_take();
  ast::Ident result{owned ? std::move(std::get<tok::Ident>(owned->kind).text) : ident->text, current_span()};
  advance();
  return result;
}

Result<ast::Ident, Diagnostic> Parser::expect_name(std::string_view what) {
  const Token& t = current();
  if (const auto* ident = std::get_if<tok::Ident>(&t.kind)) {
    Token* owned = current_to_take();
    ast::Ident result{owned ? std::move(std::get<tok::Ident>(owned->kind).text) : ident->text, t.span};
    advance();
    return result;
  }
  if (const auto* word = std::get_if<tok::Keyword>(&t.kind)) {
    ast::Ident result{std::string(keyword_text(word->keyword)), t.span};
    advance();
    return result;
  }
  return err(expect_failure(what));
}

Result<NumberToken, Diagnostic> Parser::expect_number(std::string_view what) {
  const auto* number = std::get_if<tok::Number>(&current().kind);
  if (!number) return err(expect_failure(what));
  NumberToken result{number->value, current_span()};
  advance();
  return result;
}

Result<::dravelin::Unit, Diagnostic> Parser::expect_newline() {
  if (!current().is_newline()) return err(expect_failure("the end of the line"));
  advance();
  return ::dravelin::Unit{};
}

Result<::dravelin::Unit, Diagnostic> Parser::expect_block_start(std::string_view what) {
  if (!current().is_newline()) return err(expect_failure("the end of the line"));
  advance();
  if (!current().is_indent()) return err(expect_failure("an indented block " + std::string(what)));
  advance();
  return ::dravelin::Unit{};
}

Result<::dravelin::Unit, Diagnostic> Parser::expect_dedent() {
  if (!current().is_dedent()) return err(expect_failure("the end of the block"));
  advance();
  return ::dravelin::Unit{};
}

Diagnostic Parser::expect_failure(std::string_view what) const {
  std::string message = "expected ";
  message += what;
  message += ", found ";
  message += describe_token(current());
  return error(DiagnosticCode::Syntax, std::move(message), current_span());
}

Diagnostic Parser::error(DiagnosticCode code, std::string message, Span span) {
  return make_diagnostic(code, std::move(message), span);
}

Result<NestingGuard, Diagnostic> Parser::enter() {
  if (depth_ >= kMaxNesting) return err(nesting_failure());
  ++depth_;
  return NestingGuard(*this);
}

Diagnostic Parser::nesting_failure() const {
  return error(DiagnosticCode::Syntax,
               "this nests too deeply; the limit is " + std::to_string(kMaxNesting) + " levels of nesting",
               current_span());
}

}  // namespace dravelin::syntax
