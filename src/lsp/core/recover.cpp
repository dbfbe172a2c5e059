#include "lsp/core/recover.h"

#include <algorithm>
#include <string>

#include "lsp/core/text.h"
#include "syntax/lexer.h"
#include "syntax/parse.h"
#include "syntax/utf8.h"

namespace dravelin::lsp {
namespace {

using syntax::Diagnostic;
using syntax::Token;

// The chunk holding the offset; the last chunk for an offset past the end.
size_t chunk_of(const std::vector<ByteRange>& chunks, size_t offset) {
  auto it = std::upper_bound(chunks.begin(), chunks.end(), offset,
                             [](size_t off, const ByteRange& chunk) { return off < chunk.start; });
  if (it == chunks.begin()) return 0;
  const size_t index = static_cast<size_t>(it - chunks.begin()) - 1;
  return offset < chunks[index].end ? index : chunks.size() - 1;
}

std::string blanked_text(std::string_view text, const std::vector<ByteRange>& chunks,
                         const std::vector<bool>& blanked) {
  std::string out(text);
  for (size_t i = 0; i < chunks.size(); ++i) {
    if (!blanked[i]) continue;
    for (size_t b = chunks[i].start; b < chunks[i].end; ++b)
      if (out[b] != '\n') out[b] = ' ';
  }
  return out;
}

// Where an attempt's first error falls among the attempt's tokens.
struct ErrorPlace {
  bool at_end = true;              // no token starts at or after it, or the first that does is the end of file
  bool starts_code_line = false;   // a token other than an indent or dedent starts there, in column 0
};

ErrorPlace locate(const std::vector<Token>& tokens, uint32_t offset) {
  ErrorPlace place;
  bool found_first = false;
  for (const Token& token : tokens) {
    if (!found_first && token.span.start.offset >= offset) {
      found_first = true;
      place.at_end = token.is_eof();
    }
    if (token.span.start.offset == offset && token.span.start.column == 0 && !token.is_indent() &&
        !token.is_dedent())
      place.starts_code_line = true;
  }
  return place;
}

}  // namespace

std::vector<ByteRange> top_level_chunks(std::string_view text, const syntax::LexOutput& lex) {
  std::vector<ByteRange> long_texts;
  for (const Token& token : lex.tokens) {
    const auto* literal = std::get_if<syntax::tok::Text>(&token.kind);
    if (literal != nullptr && literal->triple_quoted)
      long_texts.push_back({token.span.start.offset, token.span.end.offset});
  }
  std::vector<size_t> starts;
  size_t next_long = 0;
  for (size_t line = 0; line < text.size();) {
    const size_t newline = text.find('\n', line);
    const size_t line_end = newline == std::string_view::npos ? text.size() : newline + 1;
    while (next_long < long_texts.size() && long_texts[next_long].end <= line) ++next_long;
    const bool inside_long_text = next_long < long_texts.size() && long_texts[next_long].start < line &&
                                  line < long_texts[next_long].end;
    const char32_t first = syntax::decode_utf8(text, line).code;
    if (!is_white_space(first) && first != '#' && !inside_long_text) starts.push_back(line);
    line = line_end;
  }
  if (starts.empty()) return {ByteRange{0, text.size()}};
  starts.front() = 0;
  std::vector<ByteRange> chunks;
  chunks.reserve(starts.size());
  for (size_t i = 0; i < starts.size(); ++i)
    chunks.push_back({starts[i], i + 1 < starts.size() ? starts[i + 1] : text.size()});
  return chunks;
}

TolerantParse recover_parse(std::string_view text) {
  TolerantParse result;
  result.lex = syntax::Lexer::scan(text);
  const std::vector<ByteRange> chunks = top_level_chunks(text, result.lex);
  std::vector<bool> blanked(chunks.size(), false);

  for (const Diagnostic& d : result.lex.diagnostics) {
    if (d.severity != syntax::Severity::Error) continue;
    result.diagnostics.push_back(d);
    blanked[chunk_of(chunks, d.span.start.offset)] = true;
  }

  std::optional<uint32_t> previous_offset;  // of the previous attempt's first error, once a retry happened
  size_t blanked_last = 0;
  for (int attempt = 1;; ++attempt) {
    if (blanked[0]) break;
    std::vector<Token> relexed;
    const bool any_blanked = std::find(blanked.begin(), blanked.end(), true) != blanked.end();
    if (any_blanked) relexed = syntax::Lexer::scan(blanked_text(text, chunks, blanked)).tokens;
    const std::vector<Token>& tokens = any_blanked ? relexed : result.lex.tokens;
    ++result.attempts;
    auto parsed = syntax::parse_tokens(tokens);
    if (parsed.ok()) {
      result.program = std::move(parsed).value();
      break;
    }
    if (parsed.error().empty()) break;
    Diagnostic first = std::move(parsed.error().front());
    const uint32_t offset = first.span.start.offset;
    const bool same_place = previous_offset && *previous_offset == offset;
    // Blanking the chunk before did not move the error: that chunk was innocent.
    if (same_place) blanked[blanked_last] = false;

    const ErrorPlace place = locate(tokens, offset);
    std::optional<size_t> blamed;
    if (place.at_end) {
      for (size_t i = chunks.size(); i-- > 0;) {
        if (!blanked[i]) {
          blamed = i;
          break;
        }
      }
    } else {
      blamed = chunk_of(chunks, offset);
    }
    // An error on the first token of a top-level line usually means the unit above it is unfinished.
    if (blamed && !place.at_end && !same_place &&
        (offset == chunks[*blamed].start || place.starts_code_line)) {
      for (size_t i = *blamed; i-- > 0;) {
        if (blanked[i]) continue;
        if (i != 0) blamed = i;
        break;
      }
    }
    if (!blamed || *blamed == 0 || blanked[*blamed]) {
      result.diagnostics.push_back(std::move(first));
      break;
    }
    if (std::find(result.diagnostics.begin(), result.diagnostics.end(), first) == result.diagnostics.end())
      result.diagnostics.push_back(std::move(first));
    blanked[*blamed] = true;
    blanked_last = *blamed;
    previous_offset = offset;
    if (attempt >= kMaxParseAttempts) break;
  }

  std::stable_sort(result.diagnostics.begin(), result.diagnostics.end(),
                   [](const Diagnostic& a, const Diagnostic& b) {
                     return a.span.start.offset < b.span.start.offset;
                   });
  result.diagnostics.erase(std::unique(result.diagnostics.begin(), result.diagnostics.end()),
                           result.diagnostics.end());
  for (size_t i = 0; i < chunks.size(); ++i)
    if (blanked[i]) result.blanked.push_back(chunks[i]);
  return result;
}

}  // namespace dravelin::lsp
