#include "syntax/terminal_text.h"

#include "syntax/utf8.h"

namespace dravelin::syntax {
namespace {

void append_escape(std::string& out, char32_t c) {
  switch (c) {
    case '\b': out += "\\b"; return;
    case '\f': out += "\\f"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    default: break;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[(c >> 4) & 0xF];
  out += kHex[c & 0xF];
}

bool is_control(char32_t c) { return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F); }

}  // namespace

void append_for_terminal(std::string& out, std::string_view text, Backslashes backslashes) {
  out.reserve(out.size() + text.size());
  size_t run = 0;  // start of the bytes not yet copied
  for (size_t at = 0; at < text.size();) {
    const Utf8Char c = decode_utf8(text, at);
    const bool malformed = c.code == syntax::kReplacementChar && c.length == 1;
    const bool escaped = is_control(c.code) || (c.code == '\\' && backslashes == Backslashes::Escaped);
    if (!malformed && !escaped) {
      at += c.length;
      continue;
    }
    out.append(text, run, at - run);
    if (malformed) {
      syntax::append_utf8(out, syntax::kReplacementChar);
      at += malformed_length(text, at);
    } else {
      if (c.code == '\\') {
        out += "\\\\";
      } else {
        append_escape(out, c.code);
      }
      at += c.length;
    }
    run = at;
  }
  out.append(text, run, text.size() - run);
}

std::string terminal_text(std::string_view text) {
  std::string out;
  append_for_terminal(out, text, Backslashes::Escaped);
  return out;
}

std::string terminal_line(std::string_view text) {
  std::string out;
  append_for_terminal(out, text, Backslashes::Kept);
  return out;
}

}  // namespace dravelin::syntax
