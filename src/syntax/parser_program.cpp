// The top of the grammar: the file header, its declarations, and the entry points that parse a whole program.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "syntax/lexer.h"
#include "syntax/parse.h"
#include "syntax/parser.h"

namespace dravelin::syntax {

namespace {

// Whether the tokens declare a unit named `log`: a unit keyword directly followed by the identifier `log`. Such a
// file reads `log` as an ordinary name throughout, so the flag must be known before the first unit is parsed.
template <class Tokens>
bool declares_log_unit(const Tokens& tokens) {
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    const auto* word = std::get_if<tok::Keyword>(&tokens[i].kind);
    if (!word) continue;
    switch (word->keyword) {
      case Keyword::Judgment:
      case Keyword::Task:
      case Keyword::Def:
      case Keyword::Machine:
        if (tokens[i + 1].is_ident("log")) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

// One entry of a `with` clause: `inner` or `inner: outer`.
Result<ast::NeedMapping, Diagnostic> parse_mapping(Parser& p) {
  ast::Ident inner = TRY(p.expect_ident("a capability name"));
  std::optional<ast::Ident> outer;
  if (p.current().is_symbol(Symbol::Colon)) {
    p.advance();
    outer = TRY(p.expect_ident("the importer's capability name"));
  }
  Span s{inner.span.start, p.last_end()};
  return ast::NeedMapping{std::move(inner.name), inner.span, std::move(outer), s};
}

// `use` PATH `as` ALIAS [`with` mapping {, mapping}], line end.
Result<ast::UseDecl, Diagnostic> parse_use(Parser& p) {
  Span keyword = TRY(p.expect_keyword(Keyword::Use));
  ast::TextLit path = TRY(parse_text_literal(p, "the module path"));
  TRY(p.expect_word("as"));
  ast::Ident alias = TRY(p.expect_ident("a module alias"));
  std::vector<ast::NeedMapping> mapping;
  if (p.eat_word("with")) {
    for (;;) {
      mapping.push_back(TRY(parse_mapping(p)));
      if (!p.current().is_symbol(Symbol::Comma)) break;
      p.advance();
    }
  }
  Span s{keyword.start, p.last_end()};
  TRY(p.expect_newline());
  return ast::UseDecl{std::move(path), std::move(alias.name), alias.span, std::move(mapping), s};
}

Result<ast::Input, Diagnostic> parse_input(Parser& p) {
  Span keyword = p.advance();
  ast::Ident name = TRY(p.expect_ident("an input name"));
  TRY(p.expect_symbol(Symbol::Colon));
  ast::Shape shape = TRY(parse_shape(p));
  Span s{keyword.start, p.last_end()};
  TRY(p.expect_newline());
  return ast::Input{std::move(name.name), name.span, std::move(shape), s};
}

Result<ast::Output, Diagnostic> parse_output(Parser& p) {
  Span keyword = p.advance();
  ast::Ident name = TRY(p.expect_ident("an output name"));
  TRY(p.expect_newline());
  return ast::Output{std::move(name.name), name.span, Span{keyword.start, name.span.end}};
}

// The return type of a verb: one of the identifiers `text` ... `handle`, or the reserved word `none`.
std::optional<ToolReturnType> return_type(const Token& t) {
  if (t.is_keyword(Keyword::None)) return ToolReturnType::None;
  const auto* word = std::get_if<tok::Ident>(&t.kind);
  if (!word) return std::nullopt;
  auto type = enum_from_name<ToolReturnType>(word->text);
  if (type == ToolReturnType::None) return std::nullopt;
  return type;
}

// VERB `(` [param {, param}] `)` `->` TYPE, line end.
Result<ast::ToolSignature, Diagnostic> parse_signature(Parser& p) {
  ast::Ident verb = TRY(p.expect_ident("a verb name"));
  std::vector<ast::Ident> params = TRY(parse_param_names(p));
  TRY(p.expect_symbol(Symbol::Arrow));
  std::optional<ToolReturnType> returns = return_type(p.current());
  if (!returns) {
    return err(p.expect_failure("a return type (`text`, `number`, `bool`, `list`, `record`, `handle` or `none`)"));
  }
  Span type = p.advance();
  TRY(p.expect_newline());
  return ast::ToolSignature{std::move(verb.name), verb.span, std::move(params), *returns,
                            Span{verb.span.start, type.end}};
}

// `needs` NAME `:` KIND, then the line end, or for a tool `:` and an indented block of verb signatures.
Result<ast::Need, Diagnostic> parse_need(Parser& p) {
  Span keyword = p.advance();
  ast::Ident name = TRY(p.expect_ident("a capability name"));
  TRY(p.expect_symbol(Symbol::Colon));
  const auto* word = std::get_if<tok::Ident>(&p.current().kind);
  std::optional<NeedKind> kind = word ? enum_from_name<NeedKind>(word->text) : std::nullopt;
  if (!kind) return err(p.expect_failure("a capability kind (`agent`, `person`, `llm` or `tool`)"));
  Span kind_span = p.advance();
  ast::Need need{std::move(name.name), name.span, *kind, {}, Span{keyword.start, kind_span.end}};
  if (!p.current().is_symbol(Symbol::Colon)) {
    TRY(p.expect_newline());
    return need;
  }
  if (*kind != NeedKind::Tool) {
    return err(p.expect_failure("the end of the line (only a `tool` declares a signature block, spec section 9.4)"));
  }
  p.advance();
  TRY(p.expect_block_start("of verb signatures after `tool:`"));
  while (!p.current().is_dedent() && !p.current().is_eof()) {
    need.signatures.push_back(TRY(parse_signature(p)));
    need.span.end = need.signatures.back().span.end;
  }
  TRY(p.expect_dedent());
  return need;
}

Result<ast::Program, Diagnostic> parse_file(Parser& p) {
  ast::Program program;
  Pos start = p.current_span().start;
  TRY(p.expect_keyword(Keyword::Program));
  ast::Ident name = TRY(p.expect_ident("the program name"));
  program.name = std::move(name.name);
  program.name_span = name.span;
  TRY(p.expect_newline());

  while (p.current().is_keyword(Keyword::Use)) program.uses.push_back(TRY(parse_use(p)));
  for (;;) {
    const Token& t = p.current();
    if (t.is_keyword(Keyword::In)) {
      program.decls.push_back(ast::Decl{TRY(parse_input(p))});
    } else if (t.is_keyword(Keyword::Out)) {
      program.decls.push_back(ast::Decl{TRY(parse_output(p))});
    } else if (t.is_keyword(Keyword::Needs)) {
      program.decls.push_back(ast::Decl{TRY(parse_need(p))});
    } else {
      break;
    }
  }
  while (!p.current().is_eof()) {
    program.units.push_back(TRY(parse_unit(p)));
    // No token is held between units, so the ones read so far can go.
    p.release_read();
  }
  program.span = Span{start, p.last_end()};
  return program;
}

}  // namespace

Result<ast::Program, std::vector<Diagnostic>> parse_tokens(const std::vector<Token>& tokens) {
  Parser p(tokens, declares_log_unit(tokens));
  auto parsed = parse_file(p);
  if (!parsed.ok()) return err(std::vector<Diagnostic>{std::move(parsed).error()});
  return std::move(parsed).value();
}

Result<ast::Program, std::vector<Diagnostic>> parse_program(std::string_view text) {
  auto lexed = lex_chunks(text);
  if (!lexed.ok()) return err(std::move(lexed).error());
  // The tokens are this parse's own, so their texts move into the tree and their chunks go once read.
  TokenChunks& tokens = *lexed;
  Parser p(tokens, declares_log_unit(tokens));
  auto parsed = parse_file(p);
  if (!parsed.ok()) return err(std::vector<Diagnostic>{std::move(parsed).error()});
  return std::move(parsed).value();
}

}  // namespace dravelin::syntax
