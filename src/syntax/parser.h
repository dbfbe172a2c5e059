// The parser's state and cursor, shared by every grammar file. Internal to the syntax library; the entry points
// that the rest of the system calls are in syntax/parse.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"
#include "syntax/token.h"
#include "syntax/token_chunks.h"

namespace dravelin::syntax {

// How many levels of nested constructs one parse accepts. The grammar itself recurses without bound, and every
// later phase walks the tree recursively, so input nested deeper than this is refused instead of exhausting the
// stack.
inline constexpr uint32_t kMaxNesting = 100;

// "`)`", "the reserved word `in`", "the number `0.15`", "the end of the file", ...
std::string describe_token(const Token& token);

class Parser;

// Holds one level of nesting while it lives. Obtained from Parser::enter.
class [[nodiscard]] NestingGuard {
 public:
  NestingGuard(NestingGuard&& other) noexcept : parser_(std::exchange(other.parser_, nullptr)) {}
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  NestingGuard& operator=(NestingGuard&&) = delete;
  ~NestingGuard();

 private:
  friend class Parser;
  explicit NestingGuard(Parser& parser) : parser_(&parser) {}
  Parser* parser_;
};

struct NumberToken {
  double value = 0;
  Span span;
};

class Parser {
 public:
  // `tokens` must outlive the parser and end with an Eof token. `depth` is the nesting already used by an
  // enclosing parse (a text interpolation is parsed by a parser of its own inside the parse of its text).
  Parser(const std::vector<Token>& tokens, bool log_shadowed, uint32_t depth = 0)
      : log_shadowed(log_shadowed), tokens_(&tokens), depth_(depth) {}
  // Over a token list that belongs to the parse alone: the texts of consumed tokens are moved into the tree
  // instead of copied, since nothing reads a token's text after it is consumed.
  struct OwnTokens {};
  Parser(std::vector<Token>& tokens, bool log_shadowed, uint32_t depth, OwnTokens)
      : log_shadowed(log_shadowed), tokens_(&tokens), owned_(&tokens), depth_(depth) {}

  // Over chunks that belong to the parse alone: texts move into the tree as above, and release_read gives back
  // the chunks already read.
  Parser(TokenChunks& tokens, bool log_shadowed) : log_shadowed(log_shadowed), chunks_(&tokens) {}

  // The token list of a parser over a vector.
  const std::vector<Token>& tokens() const { return *tokens_; }

  std::size_t pos = 0;
  // The file declares a unit named `log`, so `log` is an ordinary name.
  bool log_shadowed = false;
  // The `verify` words met in the current unit.
  std::vector<Span> verify_spans;

  // Cursor. Past the end of the list the current token is an Eof token whose span reads as the zero span.
  const Token& current() const { return peek(0); }
  // The current token for taking its texts over as it is consumed, or null when the tokens are the caller's.
  Token* current_to_take() {
    if (chunks_) return pos < chunks_->size() ? &(*chunks_)[pos] : nullptr;
    return owned_ && pos < owned_->size() ? &(*owned_)[pos] : nullptr;
  }
  const Token& peek(std::size_t ahead) const;
  // The token before the current one; null at the start.
  const Token* previous() const;
  // Gives back the chunks of tokens wholly before the previous one. Only where no token before the current one
  // is held: between the units of a file.
  void release_read() {
    if (chunks_ && pos > 0) chunks_->release_before(pos - 1);
  }
  Span current_span() const;
  // Consumes the current token and returns its span; never moves past the end of the list.
  Span advance();
  // The end of the token before `pos`; the zero position at the start.
  Pos last_end() const;

  bool at_word(std::string_view text) const { return current().is_ident(text); }
  bool eat_word(std::string_view text);

  Result<Span, Diagnostic> expect_symbol(Symbol symbol);
  Result<Span, Diagnostic> expect_keyword(Keyword keyword);
  Result<Span, Diagnostic> expect_word(std::string_view text);
  Result<ast::Ident, Diagnostic> expect_ident(std::string_view what);
  // An identifier or any reserved word, whose text is then the name.
  Result<ast::Ident, Diagnostic> expect_name(std::string_view what);
  Result<NumberToken, Diagnostic> expect_number(std::string_view what);
  Result<::dravelin::Unit, Diagnostic> expect_newline();
  // A Newline and then an Indent; `what` completes "an indented block ...".
  Result<::dravelin::Unit, Diagnostic> expect_block_start(std::string_view what);
  Result<::dravelin::Unit, Diagnostic> expect_dedent();

  // "expected " + what + ", found " + the current token, at the current token.
  Diagnostic expect_failure(std::string_view what) const;
  // An error diagnostic with the parser's defaults: no file, no related locations.
  static Diagnostic error(DiagnosticCode code, std::string message, Span span);

  // Enters one level of nesting, or fails at the current token when the limit is reached. Every construct that
  // can nest (expressions, interpolations, blocks) holds a guard while it parses its inner parts.
  Result<NestingGuard, Diagnostic> enter();
  uint32_t depth() const { return depth_; }
  Diagnostic nesting_failure() const;

 private:
  friend class NestingGuard;
  std::size_t token_count() const { return chunks_ ? chunks_->size() : tokens_->size(); }
  const Token& at(std::size_t i) const { return chunks_ ? (*chunks_)[i] : (*tokens_)[i]; }

  const std::vector<Token>* tokens_ = nullptr;
  std::vector<Token>* owned_ = nullptr;
  TokenChunks* chunks_ = nullptr;
  uint32_t depth_ = 0;
};

inline NestingGuard::~NestingGuard() {
  if (parser_) --parser_->depth_;
}

// ---------------------------------------------------------------------------------------------------------------
// The expression grammar (parser_expr.cpp), used by every other grammar file.

// One expression at the loosest level; everything that needs "an expression" calls this.
Result<ast::Expr, Diagnostic> parse_or(Parser& p);
Result<ast::Expr, Diagnostic> parse_and(Parser& p);
Result<ast::Expr, Diagnostic> parse_not(Parser& p);
Result<ast::Expr, Diagnostic> parse_comparison(Parser& p);
Result<ast::Expr, Diagnostic> parse_additive(Parser& p);
Result<ast::Expr, Diagnostic> parse_multiplicative(Parser& p);
Result<ast::Expr, Diagnostic> parse_unary(Parser& p);
Result<ast::Expr, Diagnostic> parse_postfix(Parser& p);

// The current token must be a text; each interpolation in it must parse. Otherwise expect_failure(what).
Result<ast::TextLit, Diagnostic> parse_text_literal(Parser& p, std::string_view what);
// parse_text_literal as a Text expression spanning the token.
Result<ast::Expr, Diagnostic> parse_text_expr(Parser& p, std::string_view what);
// A `{ ... }` record literal.
Result<ast::Expr::Record, Diagnostic> parse_record_literal(Parser& p);
// One call argument, named or positional; `allow_colon` admits `name: value`.
Result<ast::Arg, Diagnostic> parse_argument(Parser& p, bool allow_colon);
// Turns `expr` into a command-form call when command arguments follow it, else returns it unchanged. With
// `stop_at_max`, a `,` followed by `max` ends the arguments and is left for the caller.
Result<ast::Expr, Diagnostic> parse_command_call(Parser& p, ast::Expr expr, bool stop_at_max);
// Whether the tokens at the current position begin a `log` form.
bool is_log_expression_start(const Parser& p);
// A Binary node spanning both operands.
ast::Expr combine_operands(BinaryOp op, ast::Expr left, ast::Expr right);
// The one or two loop variables of a comprehension or a `for`.
Result<std::vector<ast::Ident>, Diagnostic> parse_for_names(Parser& p);

// ---------------------------------------------------------------------------------------------------------------
// Statements and blocks (parser_stmt.cpp).

// An indented block of statements; `what` completes "an indented block ..." when the block is missing.
Result<ast::Block, Diagnostic> parse_block(Parser& p, std::string_view what);
Result<ast::Stmt, Diagnostic> parse_statement(Parser& p);
// One field of a `shape:` statement or of a machine's `observe:` block.
Result<ast::ShapeField, Diagnostic> parse_shape_field(Parser& p);

// ---------------------------------------------------------------------------------------------------------------
// Judgment questions (parser_judge.cpp).

// An optional `each`, the subject, then the question.
Result<ast::Judge, Diagnostic> parse_judgment_expr(Parser& p);
// The question after a subject that is already parsed; the current token is the verb.
Result<ast::Judge, Diagnostic> parse_judgment(Parser& p, bool each, ast::Expr subject, Pos start);

// ---------------------------------------------------------------------------------------------------------------
// Units, the file header and declarations (parser_units.cpp).

Result<ast::Unit, Diagnostic> parse_unit(Parser& p);
// `(` [name {, name}] `)`: the bare parameter names of a judgment unit or of a tool verb's signature.
Result<std::vector<ast::Ident>, Diagnostic> parse_param_names(Parser& p);
// One shape annotation: a type name or a record of field shapes.
Result<ast::Shape, Diagnostic> parse_shape(Parser& p);

// parse_interpolation (syntax/parse.h) with the nesting that the enclosing parse has already used.
Result<ast::Expr, std::vector<Diagnostic>> parse_interpolation(std::string_view text, Pos base, bool log_shadowed,
                                                               uint32_t depth);

}  // namespace dravelin::syntax
