#include "serve/server/stderr_note.h"

#include <unistd.h>

#include <string>

#include "syntax/terminal_text.h"

namespace dravelin::serve::server {

void note_on_stderr(std::string_view text) {
  std::string line = "dravelin serve: ";
  // The text may quote the peer's own bytes: escaped, it stays one line and drives no terminal.
  line += syntax::terminal_line(text);
  line += '\n';
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace dravelin::serve::server
