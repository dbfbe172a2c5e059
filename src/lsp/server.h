// The language server: LSP over stdio for editors, serving diagnostics, outlines and folding of Dravelin
// documents.
#pragma once

#include <string>

#include "base/result.h"

namespace dravelin::lsp {

// Serves one client over the two file descriptors (stdin and stdout for `dravelin lsp`) until it sends
// `exit` after `shutdown`, or its input ends. An error is the reason the server ended otherwise: a protocol
// violation, `exit` before `shutdown`, or a failure to read or write.
Result<Unit, std::string> run_language_server(int input_fd = 0, int output_fd = 1);

}  // namespace dravelin::lsp
