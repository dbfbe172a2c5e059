#include "cli/line_input.h"

#include <cerrno>
#include <cstring>

#include "record/recorded_event.h"

namespace dravelin::cli {

static_assert(kMaxInputLineBytes == record::kMaxRecordingLineBytes);

std::string byte_size_text(size_t bytes) {
  if (bytes >= (size_t{1} << 20) && bytes % (size_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

Result<LineRead, std::string> read_line(std::FILE* stream, std::string& line, size_t max_bytes) {
  line.clear();
  // Bytes are taken one by one, so that nothing after the line end leaves the stream's buffer (the next prompt
  // reads it), and gathered in a chunk before they go into the line.
  char chunk[8192];
  size_t held = 0;
  bool any = false;
  auto keep = [&]() {
    if (line.size() + held > max_bytes) return false;
    line.append(chunk, held);
    held = 0;
    return true;
  };
  flockfile(stream);
  for (;;) {
    const int c = getc_unlocked(stream);
    if (c == EOF || c == '\n') {
      const bool failed = c == EOF && ferror_unlocked(stream);
      const int error = errno;
      funlockfile(stream);
      if (failed) return err(std::string(std::strerror(error)));
      if (!keep()) {
        line.clear();
        return LineRead::TooLong;
      }
      return c == '\n' || any ? LineRead::Line : LineRead::End;
    }
    any = true;
    chunk[held++] = static_cast<char>(c);
    if (held == sizeof chunk && !keep()) {
      funlockfile(stream);
      line.clear();
      return LineRead::TooLong;
    }
  }
}

}  // namespace dravelin::cli
