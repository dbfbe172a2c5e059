// The lexer: source text to tokens, with layout tokens for indentation.
#pragma once

#include <string_view>
#include <vector>

#include "base/result.h"
#include "syntax/token.h"
#include "syntax/token_chunks.h"

namespace dravelin::syntax {

class Lexer {
 public:
  // Scans the whole text, reporting every lexical problem; never stops early.
  static LexOutput scan(std::string_view text);
};

// The tokens, or every diagnostic when any of them is an error.
Result<std::vector<Token>, std::vector<Diagnostic>> lex(std::string_view text);

// lex into chunks, for a parse that gives back the tokens it has read past.
Result<TokenChunks, std::vector<Diagnostic>> lex_chunks(std::string_view text);

}  // namespace dravelin::syntax
