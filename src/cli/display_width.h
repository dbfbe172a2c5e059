// Terminal column counts of text, so that carets under a source excerpt line up with what the
// terminal actually drew above them.
#pragma once

#include <cstddef>
#include <string_view>

namespace dravelin::cli {

// 0 for combining marks, format characters and conjoining Hangul vowels and finals; 2 for East
// Asian Wide and Fullwidth characters; 1 for everything else, control characters included.
int char_display_width(char32_t c);

// The sum of the character widths of UTF-8 text; a byte that does not start a well-formed sequence
// counts as one replacement character.
size_t display_width(std::string_view text);

}  // namespace dravelin::cli
