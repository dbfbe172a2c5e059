// The parser's entry points.
#pragma once

#include <string_view>
#include <vector>

#include "base/result.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"
#include "syntax/token.h"

namespace dravelin::syntax {

// Parses a whole source text: the lexer's diagnostics (all of them), or the parser's first one.
Result<ast::Program, std::vector<Diagnostic>> parse_program(std::string_view text);

// Parses an already lexed token list ending with Eof (the caller keeps it); the parser's first diagnostic on
// failure.
Result<ast::Program, std::vector<Diagnostic>> parse_tokens(const std::vector<Token>& tokens);

// Parses the source of one text interpolation, whose first character stands at `base` in the file: every span,
// of the tree and of the diagnostics, points into the file. `log_shadowed` is the file's flag (it declares a unit
// named `log`). On failure, the lexer's diagnostics, or the parser's one diagnostic.
Result<ast::Expr, std::vector<Diagnostic>> parse_interpolation(std::string_view text, Pos base, bool log_shadowed);

// parse_interpolation with `log` read as the `log` form.
Result<ast::Expr, std::vector<Diagnostic>> parse_expression(std::string_view text, Pos base);

}  // namespace dravelin::syntax
