#include "syntax/lexer.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>

#include "syntax/token_chunks.h"
#include "syntax/utf8.h"

namespace dravelin::syntax {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_word_start(char c) { return (c >= 'a' && c <= 'z') || is_upper(c) || c == '_'; }
bool is_word_char(char c) { return is_word_start(c) || is_digit(c); }

// A run of digits with dots between them, as the number scanner collects it, to the nearest float.
// Runs that name no number (two dots) and runs too large for a finite float give NaN, so that the
// caller reports them instead of silently producing infinity.
double run_value(std::string_view run, int dots, bool whole_part_nonzero) {
  if (dots > 1) return kNaN;
  double value = 0;
  const char* end = run.data() + run.size();
  auto [ptr, ec] = std::from_chars(run.data(), end, value, std::chars_format::fixed);
  if (ec == std::errc::result_out_of_range) {
    // Below 1 the only way out of range is underflow, where zero is the nearest float.
    return whole_part_nonzero ? kNaN : 0.0;
  }
  if (ec != std::errc() || ptr != end) return kNaN;
  return value;
}

// One scan of one text into `Tokens` (a vector, or chunks for a parse that gives them back as it reads). Decodes
// UTF-8 as it goes: every decision the grammar makes is about ASCII, so only characters outside ASCII are decoded,
// and only to step over them and count their column.
template <class Tokens>
class Scanner {
 public:
  // Positions hold 32-bit byte offsets, so a text is read only as far as they reach; past that the
  // offsets would wrap and the scan could never end.
  explicit Scanner(std::string_view text) : text_(text.substr(0, std::numeric_limits<uint32_t>::max())) {}

  void run() {
    // Source text averages a token every three or four bytes; reserving for that spares most regrowth.
    if constexpr (std::is_same_v<Tokens, std::vector<Token>>) tokens.reserve(text_.size() / 3 + 16);
    bool at_line_start = true;
    for (;;) {
      if (at_line_start) {
        at_line_start = false;
        if (!begin_line()) break;
      }
      if (at_end()) break;
      const char c = cur();
      switch (c) {
        case ' ':
        case '\r':
          step_ascii();
          break;
        case '\t': {
          const Pos start = pos_;
          step_ascii();
          error(DiagnosticCode::Indent, "tabs are not allowed; use spaces", {start, pos_});
          break;
        }
        case '\n': {
          const Pos start = pos_;
          step();
          if (depth_ == 0) {
            if (!tokens.empty() && !tokens.back().is_newline()) push(tok::Newline{}, {start, pos_});
            at_line_start = true;
          }
          break;
        }
        case '#':
          comment();
          break;
        case '"':
          text_literal();
          break;
        default:
          if (is_digit(c)) {
            number();
          } else if (is_word_start(c)) {
            word();
          } else {
            symbol();
          }
      }
    }
    finish();
  }

  Tokens tokens;
  std::vector<Span> comments;
  std::vector<Diagnostic> diagnostics;

 private:
  bool at_end() const { return pos_.offset >= text_.size(); }
  char cur() const { return text_[pos_.offset]; }
  // The byte `i` places ahead; only ever asked after an ASCII character, so it is the start of the
  // next character. NUL past the end, which matches nothing the callers look for.
  char peek(size_t i) const {
    const size_t at = pos_.offset + i;
    return at < text_.size() ? text_[at] : '\0';
  }

  // Steps over the current character, which is ASCII and not a line feed.
  void step_ascii() {
    ++pos_.offset;
    ++pos_.column;
  }

  // Steps over the current character, whatever it is.
  void step() {
    const auto b = static_cast<unsigned char>(cur());
    if (b < 0x80) {
      ++pos_.offset;
      if (b == '\n') {
        ++pos_.line;
        pos_.column = 0;
      } else {
        ++pos_.column;
      }
      return;
    }
    pos_.offset += decode_utf8(text_, pos_.offset).length;
    ++pos_.column;
  }

  // Appends the current character to `out` and steps over it; a malformed byte becomes U+FFFD so that
  // literal texts are always valid UTF-8.
  void take_char(std::string& out) {
    const auto b = static_cast<unsigned char>(cur());
    if (b < 0x80) {
      out += static_cast<char>(b);
      step();
      return;
    }
    const Utf8Char ch = decode_utf8(text_, pos_.offset);
    if (ch.code == kReplacementChar && ch.length == 1) {
      append_utf8(out, kReplacementChar);
    } else {
      out.append(text_.substr(pos_.offset, ch.length));
    }
    pos_.offset += ch.length;
    ++pos_.column;
  }

  // Appends the run of plain ASCII characters that starts here (none of them special to a text literal) and
  // steps over it in one go; a character outside ASCII is taken on its own. Text literals are most of a
  // program's bytes, so they are not copied a character at a time.
  void take_plain_run(std::string& out) {
    size_t end = pos_.offset;
    while (end < text_.size()) {
      const auto b = static_cast<unsigned char>(text_[end]);
      if (b >= 0x80 || b == '"' || b == '\\' || b == '{' || b == '}' || b == '\n') break;
      ++end;
    }
    if (end == pos_.offset) {
      take_char(out);
      return;
    }
    out.append(text_.substr(pos_.offset, end - pos_.offset));
    pos_.column += static_cast<uint32_t>(end - pos_.offset);
    pos_.offset = static_cast<uint32_t>(end);
  }

  // Takes the alternative itself: the token's kind is built in place, with no variant in between.
  template <class Kind>
  void push(Kind kind, Span span) {
    tokens.push_back(Token{TokenKind(std::in_place_type<Kind>, std::move(kind)), span});
  }

  void error(DiagnosticCode code, std::string message, Span span) {
    diagnostics.push_back(Diagnostic{code, Severity::Error, std::move(message), span, std::nullopt, {}});
  }

  // Measures the indentation of the line starting here and emits its layout tokens, passing over blank
  // and comment-only lines. False when the text ends first.
  bool begin_line() {
    for (;;) {
      const Pos line_start = pos_;
      uint32_t width = 0;
      while (!at_end() && (cur() == ' ' || cur() == '\t')) {
        const Pos start = pos_;
        const bool tab = cur() == '\t';
        step_ascii();
        ++width;
        if (tab) error(DiagnosticCode::Indent, "tabs are not allowed in indentation; use spaces", {start, pos_});
      }
      if (at_end()) return false;
      if (cur() == '\r' && only_returns_to_line_end()) {
        // A file saved with CRLF line ends holds such a line wherever a block has an empty line; were it
        // to count, its width 0 would close every open block.
        while (!at_end() && cur() == '\r') step_ascii();
        if (at_end()) return false;
      }
      if (cur() == '\n') {
        step();
        continue;
      }
      if (cur() == '#') {
        comment();
        if (!at_end()) step();
        continue;
      }
      indent_to(width, {line_start, pos_});
      return true;
    }
  }

  // Whether nothing but carriage returns stand between here and the line feed or the end of the text.
  bool only_returns_to_line_end() const {
    size_t at = pos_.offset;
    while (at < text_.size() && text_[at] == '\r') ++at;
    return at == text_.size() || text_[at] == '\n';
  }

  void indent_to(uint32_t width, Span span) {
    if (width > indents_.back()) {
      indents_.push_back(width);
      push(tok::Indent{}, span);
      return;
    }
    // The bottom level is 0, which no width is below, so the stack never empties.
    while (indents_.back() > width) {
      indents_.pop_back();
      push(tok::Dedent{}, span);
    }
    if (indents_.back() < width) {
      error(DiagnosticCode::Indent, "this line's indentation does not match any enclosing block", span);
      indents_.push_back(width);
    }
  }

  void comment() {
    const Pos start = pos_;
    const size_t line_feed = text_.find('\n', pos_.offset);
    const size_t end = line_feed == std::string_view::npos ? text_.size() : line_feed;
    // No byte of a multi-byte character is a line feed, so stepping cannot pass `end`.
    while (pos_.offset < end) step();
    comments.push_back({start, pos_});
  }

  void word() {
    const Pos start = pos_;
    bool upper = false;
    while (!at_end() && is_word_char(cur())) {
      upper |= is_upper(cur());
      step_ascii();
    }
    const std::string_view text = text_.substr(start.offset, pos_.offset - start.offset);
    const Span span{start, pos_};
    if (upper) {
      std::string message = "`";
      message.append(text);
      message += "` contains an uppercase letter; identifiers are lowercase";
      error(DiagnosticCode::UppercaseIdentifier, std::move(message), span);
    } else if (auto keyword = keyword_from_text(text)) {
      push(tok::Keyword{*keyword}, span);
      return;
    }
    push(tok::Ident{std::string(text)}, span);
  }

  void number() {
    const Pos start = pos_;
    int dots = 0;
    bool whole_part_nonzero = false;
    while (!at_end()) {
      const char c = cur();
      if (is_digit(c)) {
        whole_part_nonzero |= dots == 0 && c != '0';
      } else if (c == '.' && is_digit(peek(1))) {
        ++dots;
      } else {
        break;
      }
      step_ascii();
    }
    const std::string_view run = text_.substr(start.offset, pos_.offset - start.offset);
    double value = run_value(run, dots, whole_part_nonzero);
    if (!at_end()) {
      if (cur() == '%') {
        step_ascii();
        value /= 100;
      } else if (cur() == 'k' && !is_word_char(peek(1))) {
        step_ascii();
        value *= 1000;
        if (std::isinf(value)) value = kNaN;
      }
    }
    const Span span{start, pos_};
    if (std::isnan(value)) {
      std::string message = "`";
      message.append(run);
      message += "` is not a number";
      error(DiagnosticCode::Syntax, std::move(message), span);
    }
    push(tok::Number{value}, span);
  }

  void symbol() {
    const Pos start = pos_;
    const char next = peek(1);
    Symbol symbol;
    bool pair = false;
    switch (cur()) {
      case '(': symbol = Symbol::LParen; ++depth_; break;
      case '[': symbol = Symbol::LBracket; ++depth_; break;
      case '{': symbol = Symbol::LBrace; ++depth_; break;
      case ')': symbol = Symbol::RParen; close_bracket(); break;
      case ']': symbol = Symbol::RBracket; close_bracket(); break;
      case '}': symbol = Symbol::RBrace; close_bracket(); break;
      case ',': symbol = Symbol::Comma; break;
      case ':': symbol = Symbol::Colon; break;
      case '.': symbol = Symbol::Dot; break;
      case '+': symbol = Symbol::Plus; break;
      case '*': symbol = Symbol::Star; break;
      case '/': symbol = Symbol::Slash; break;
      case '%': symbol = Symbol::Percent; break;
      case '-': pair = next == '>'; symbol = pair ? Symbol::Arrow : Symbol::Minus; break;
      case '=': pair = next == '='; symbol = pair ? Symbol::EqEq : Symbol::Assign; break;
      case '<': pair = next == '='; symbol = pair ? Symbol::LtEq : Symbol::Lt; break;
      case '>': pair = next == '='; symbol = pair ? Symbol::GtEq : Symbol::Gt; break;
      case '!':
        if (next == '=') {
          pair = true;
          symbol = Symbol::NotEq;
          break;
        }
        unexpected();
        return;
      default:
        unexpected();
        return;
    }
    step_ascii();
    if (pair) step_ascii();
    push(tok::Symbol{symbol}, {start, pos_});
  }

  void close_bracket() {
    if (depth_ > 0) --depth_;
  }

  void unexpected() {
    const Pos start = pos_;
    std::string message = "unexpected character `";
    take_char(message);
    message += '`';
    error(DiagnosticCode::Syntax, std::move(message), {start, pos_});
  }

  static void flush(std::string& run, tok::Text& text) {
    if (run.empty()) return;
    text.parts.emplace_back(TextLiteralPart{std::move(run)});
    run.clear();
  }

  void text_literal() {
    const Pos start = pos_;
    tok::Text text;
    text.triple_quoted = peek(1) == '"' && peek(2) == '"';
    step_ascii();
    if (text.triple_quoted) {
      step_ascii();
      step_ascii();
    }
    std::string run;
    bool closed = false;
    bool broken = false;
    while (!at_end() && !closed && !broken) {
      switch (cur()) {
        case '"':
          if (!text.triple_quoted || (peek(1) == '"' && peek(2) == '"')) {
            const int quotes = text.triple_quoted ? 3 : 1;
            for (int i = 0; i < quotes; ++i) step_ascii();
            closed = true;
          } else {
            take_char(run);
          }
          break;
        case '\n':
          // A line feed ends an ordinary literal unclosed and is left to end the line.
          if (text.triple_quoted) {
            take_char(run);
          } else {
            broken = true;
          }
          break;
        case '\\':
          step_ascii();
          if (at_end()) {
            run += '\\';
            break;
          }
          switch (cur()) {
            case 'n': run += '\n'; step_ascii(); break;
            case 'r': run += '\r'; step_ascii(); break;
            case 't': run += '\t'; step_ascii(); break;
            default: take_char(run);
          }
          break;
        case '{':
          if (peek(1) == '{') {
            run += '{';
            step_ascii();
            step_ascii();
          } else {
            flush(run, text);
            interpolation(text);
          }
          break;
        case '}':
          run += '}';
          step_ascii();
          if (!at_end() && cur() == '}') step_ascii();
          break;
        default:
          take_plain_run(run);
      }
    }
    flush(run, text);
    if (!closed) error(DiagnosticCode::Syntax, "unterminated text literal", {start, pos_});
    push(std::move(text), {start, pos_});
  }

  // Collects the raw source of one `{...}` up to its matching `}`. Braces inside quotes do not count.
  void interpolation(tok::Text& text) {
    step_ascii();
    const Pos start = pos_;
    uint32_t depth = 1;
    bool quoted = false;
    while (!at_end()) {
      const char c = cur();
      if (c == '"') {
        quoted = !quoted;
      } else if (!quoted && c == '{') {
        ++depth;
      } else if (!quoted && c == '}' && --depth == 0) {
        const Pos end = pos_;
        step_ascii();
        add_interpolation(text, {start, end});
        return;
      }
      step();
    }
    error(DiagnosticCode::Syntax, "unterminated interpolation", {start, pos_});
    add_interpolation(text, {start, pos_});
  }

  // The source is the original bytes, so that its offsets line up with the span when it is lexed again.
  void add_interpolation(tok::Text& text, Span span) {
    const auto source = text_.substr(span.start.offset, span.end.offset - span.start.offset);
    text.parts.emplace_back(TextInterpolationPart{std::string(source), span});
  }

  void finish() {
    const Span end{pos_, pos_};
    if (!tokens.empty() && !tokens.back().is_newline()) push(tok::Newline{}, end);
    for (size_t i = 1; i < indents_.size(); ++i) push(tok::Dedent{}, end);
    push(tok::Eof{}, end);
  }

  std::string_view text_;
  Pos pos_{1, 0, 0};
  std::vector<uint32_t> indents_{0};
  uint32_t depth_ = 0;
};

}  // namespace

LexOutput Lexer::scan(std::string_view text) {
  Scanner<std::vector<Token>> scanner(text);
  scanner.run();
  return LexOutput{std::move(scanner.tokens), std::move(scanner.comments), std::move(scanner.diagnostics)};
}

namespace {

template <class Tokens>
Result<Tokens, std::vector<Diagnostic>> lex_into(std::string_view text) {
  Scanner<Tokens> scanner(text);
  scanner.run();
  for (const Diagnostic& d : scanner.diagnostics)
    if (d.severity == Severity::Error) return err(std::move(scanner.diagnostics));
  return std::move(scanner.tokens);
}

}  // namespace

Result<std::vector<Token>, std::vector<Diagnostic>> lex(std::string_view text) {
  return lex_into<std::vector<Token>>(text);
}

Result<TokenChunks, std::vector<Diagnostic>> lex_chunks(std::string_view text) { return lex_into<TokenChunks>(text); }

}  // namespace dravelin::syntax
