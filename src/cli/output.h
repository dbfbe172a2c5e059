// The process's own stdout and stderr. Every write of the command line goes through here, so that a write that
// fails (a full disk, a closed pipe) is remembered and ends the process with status 1 instead of going unseen.
#pragma once

#include <cstdio>
#include <string_view>

namespace dravelin::cli {

// Writes the whole text to `stream` and flushes it, so that a failure shows at the write that met it. False
// when the text could not be written; the first failure on stdout or stderr is kept for `finish_output`.
bool write_text(std::FILE* stream, std::string_view text);

// The last step of the process: flushes stdout and closes it (a write may still be buffered, and some file
// systems report a lost write only at close), and flushes stderr. When a write to either has failed, the
// status is 1, and a failure of stdout is reported on stderr as "dravelin: cannot write to stdout: " and the
// system's text, once; otherwise `status` is returned unchanged.
int finish_output(int status);

}  // namespace dravelin::cli
