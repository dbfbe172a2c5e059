// Tokens: what the lexer produces and the parser consumes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/diagnostic.h"

namespace dravelin::syntax {

enum class Keyword : uint8_t {
#define X(member, text) member,
#include "syntax/keywords.def"
#undef X
};

enum class Symbol : uint8_t {
#define X(member, text) member,
#include "syntax/symbols.def"
#undef X
};

std::string_view keyword_text(Keyword k);
std::optional<Keyword> keyword_from_text(std::string_view text);
std::string_view symbol_text(Symbol s);

// A run of literal characters, escapes applied; never empty.
struct TextLiteralPart {
  std::string text;
  friend bool operator==(const TextLiteralPart&, const TextLiteralPart&) = default;
};

// The raw source between `{` and `}`; `span` covers exactly that source.
struct TextInterpolationPart {
  std::string source;
  Span span;
  friend bool operator==(const TextInterpolationPart&, const TextInterpolationPart&) = default;
};

using TokenTextPart = std::variant<TextLiteralPart, TextInterpolationPart>;

namespace tok {
struct Ident {
  std::string text;
  friend bool operator==(const Ident&, const Ident&) = default;
};
struct Keyword {
  syntax::Keyword keyword;
  friend bool operator==(const Keyword&, const Keyword&) = default;
};
struct Number {
  double value;  // NaN never equals anything, as floats go
  friend bool operator==(const Number&, const Number&) = default;
};
struct Text {
  std::vector<TokenTextPart> parts;
  bool triple_quoted = false;
  friend bool operator==(const Text&, const Text&) = default;
};
struct Symbol {
  syntax::Symbol symbol;
  friend bool operator==(const Symbol&, const Symbol&) = default;
};
struct Newline {
  friend bool operator==(const Newline&, const Newline&) = default;
};
struct Indent {
  friend bool operator==(const Indent&, const Indent&) = default;
};
struct Dedent {
  friend bool operator==(const Dedent&, const Dedent&) = default;
};
struct Eof {
  friend bool operator==(const Eof&, const Eof&) = default;
};
}  // namespace tok

// Variant order is fixed: Ident, Keyword, Number, Text, Symbol, Newline, Indent, Dedent, Eof.
using TokenKind = std::variant<tok::Ident, tok::Keyword, tok::Number, tok::Text, tok::Symbol, tok::Newline,
                               tok::Indent, tok::Dedent, tok::Eof>;

struct Token {
  TokenKind kind;
  Span span;

  bool is_ident() const { return std::holds_alternative<tok::Ident>(kind); }
  bool is_ident(std::string_view text) const {
    auto* i = std::get_if<tok::Ident>(&kind);
    return i && i->text == text;
  }
  bool is_keyword() const { return std::holds_alternative<tok::Keyword>(kind); }
  bool is_keyword(Keyword k) const {
    auto* w = std::get_if<tok::Keyword>(&kind);
    return w && w->keyword == k;
  }
  bool is_symbol(Symbol s) const {
    auto* y = std::get_if<tok::Symbol>(&kind);
    return y && y->symbol == s;
  }
  bool is_number() const { return std::holds_alternative<tok::Number>(kind); }
  bool is_text() const { return std::holds_alternative<tok::Text>(kind); }
  bool is_newline() const { return std::holds_alternative<tok::Newline>(kind); }
  bool is_indent() const { return std::holds_alternative<tok::Indent>(kind); }
  bool is_dedent() const { return std::holds_alternative<tok::Dedent>(kind); }
  bool is_eof() const { return std::holds_alternative<tok::Eof>(kind); }
};

struct LexOutput {
  std::vector<Token> tokens;
  std::vector<Span> comments;
  std::vector<Diagnostic> diagnostics;
};

}  // namespace dravelin::syntax
