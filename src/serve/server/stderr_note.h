// Short notes for whoever reads the bridge's stderr; stdout carries protocol lines only.
#pragma once

#include <string_view>

namespace dravelin::serve::server {

// Writes "dravelin serve: <text>", control characters escaped, and a line feed to stderr; a failed write is
// ignored.
void note_on_stderr(std::string_view text);

}  // namespace dravelin::serve::server
