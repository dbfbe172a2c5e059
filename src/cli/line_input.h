// Lines read from a stream that someone else writes (a cases file, the answers typed at prompts), each held to
// a limit: a line that never ends must end in a refusal, not in exhausted memory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "base/result.h"

namespace dravelin::cli {

// The longest line read: as long as a recording line may be, where an answer or a case's values end up anyway.
inline constexpr size_t kMaxInputLineBytes = size_t{64} << 20;

// "64 MiB" for a whole number of mebibytes, else "4096 bytes".
std::string byte_size_text(size_t bytes);

enum class LineRead {
  Line,     // a line, without its "\n" (the last one may lack it)
  End,      // nothing was left to read
  TooLong,  // more than the limit before a "\n": the line is left empty, and the stream stands somewhere inside
            // it, since skipping the rest of an endless line would never end
};

// Reads the next line of `stream` into `line`. The error is the operating system's text.
Result<LineRead, std::string> read_line(std::FILE* stream, std::string& line, size_t max_bytes = kMaxInputLineBytes);

}  // namespace dravelin::cli
