#include "syntax/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace dravelin::syntax {
namespace {

TEST(TerminalText, ControlsAndMalformedBytesNeverReachTheTerminal) {
  struct Case {
    const char* what;
    std::string text;
    std::string shown;  // terminal_text
    std::string line;   // terminal_line
  };
  const Case cases[] = {
      {"plain text and tabs", "a\tb é 名", "a\tb é 名", "a\tb é 名"},
      {"line ends and the short escapes", "a\nb\rc\bd\fe", "a\\nb\\rc\\bd\\fe", "a\\nb\\rc\\bd\\fe"},
      {"other C0 controls", std::string("\x1b[31m\x01\0z", 8), "\\u001b[31m\\u0001\\u0000z",
       "\\u001b[31m\\u0001\\u0000z"},
      {"DEL", "a\x7f", "a\\u007f", "a\\u007f"},
      {"C1 controls as UTF-8, first and last", "\xc2\x80\xc2\x85\xc2\x9b\xc2\x9f", "\\u0080\\u0085\\u009b\\u009f",
       "\\u0080\\u0085\\u009b\\u009f"},
      {"the first character after C1 is kept", "\xc2\xa0", "\xc2\xa0", "\xc2\xa0"},
      {"a backslash is escaped only in a text shown whole", "\\u001b", "\\\\u001b", "\\u001b"},
      {"a lone C1 byte is not UTF-8", "a\x9b" "b", "a\xef\xbf\xbd" "b", "a\xef\xbf\xbd" "b"},
      {"a truncated sequence is one replacement", "a\xe2\x82z\xff", "a\xef\xbf\xbdz\xef\xbf\xbd",
       "a\xef\xbf\xbdz\xef\xbf\xbd"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(terminal_text(c.text), c.shown) << c.what;
    EXPECT_EQ(terminal_line(c.text), c.line) << c.what;
  }
}

}  // namespace
}  // namespace dravelin::syntax
