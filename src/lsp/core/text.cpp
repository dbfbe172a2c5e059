#include "lsp/core/text.h"

#include "syntax/utf8.h"

namespace dravelin::lsp {

std::string_view trim_end_white_space(std::string_view text) {
  for (;;) {
    if (text.empty()) return text;
    // Step back to the first byte of the last character.
    size_t start = text.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const syntax::Utf8Char c = syntax::decode_utf8(text, start);
    if (start + c.length != text.size() || !is_white_space(c.code)) return text;
    text.remove_suffix(c.length);
  }
}

bool is_char_boundary(std::string_view text, size_t offset) {
  if (offset == 0 || offset == text.size()) return true;
  if (offset > text.size()) return false;
  return (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80;
}

}  // namespace dravelin::lsp
