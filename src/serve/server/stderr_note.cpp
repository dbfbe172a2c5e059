#include "serve/server/stderr_note.h"

#include <unistd.h>

#include <string>

namespace dravelin::serve::server {

void note_on_stderr(std::string_view text) {
  std::string line = "dravelin serve: ";
  line += text;
  line += '\n';
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace dravelin::serve::server
