// Small text helpers of the language server's core.
#pragma once

#include <string_view>

namespace dravelin::lsp {

// The Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The text without trailing white space (Unicode White_Space).
std::string_view trim_end_white_space(std::string_view text);

// Whether the offset falls between two characters of the UTF-8 text (its ends included).
bool is_char_boundary(std::string_view text, size_t offset);

}  // namespace dravelin::lsp
