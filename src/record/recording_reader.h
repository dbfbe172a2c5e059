// Reading a recording back: every line of the file becomes a `RecordedEvent`, and a recording whose payloads
// are redacted is completed from its companion once each companion line has been checked against its line.
//
// Every failure is `replay_diverged`, not retryable, without a span:
//   "could not open the recording <path>: <os error>" (also "not a regular file (a named pipe)" and the like)
//   "could not read the recording <path>: <os error>" (also "stream did not contain valid UTF-8")
//   "line <n> of the recording <path> is not a recorded event: <the line reader's message>"
//   "replay companion <companion path> <what differs>"
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "record/recorded_event.h"
#include "runtime/runtime_error.h"
#include "tokens/tokenizer.h"

namespace dravelin::record {

// Reads a recording one line at a time. Nothing is opened until the first read, and only a regular file is
// opened: a pipe, a device, a socket or a directory is refused without being read or waited on. A line is read
// only up to the recording line cap that recorders keep to: a longer one is refused without being read whole.
class RecordingReader {
 public:
  explicit RecordingReader(std::string path);
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  // The next event; nothing at the end of the file. Lines are numbered from 1; trailing carriage returns and
  // line feeds are dropped, and an empty line is refused like any other line that is not an event.
  Result<std::optional<RecordedEvent>, runtime::RuntimeError> read_next();

  const std::string& path() const { return path_; }
  uint64_t line() const { return line_; }
  // The bytes read so far, line ends included.
  uint64_t bytes_read() const { return consumed_; }

  // Handed out by `load_recording` before anything else is read.
  std::optional<RecordedEvent> pending;

 private:
  enum class Line { None, Whole, OverTheCap };
  // Fills `text` with the next line's bytes, its line feed included: the whole line, or the first bytes past the
  // cap of a longer one. None at the end of the file.
  Result<Line, runtime::RuntimeError> next_line(std::string& text);
  Result<size_t, runtime::RuntimeError> fill();

  std::string path_;
  int fd_ = -1;
  bool opened_ = false;
  std::string buffer_;
  size_t start_ = 0;  // the first byte of `buffer_` not yet handed out
  size_t end_ = 0;    // the end of the bytes read into `buffer_`
  bool eof_ = false;
  uint64_t line_ = 0;
  uint64_t consumed_ = 0;
  std::string text_;  // the current line, reused from line to line
};

// The reader's pending event, cleared, when it holds one; else its next event.
Result<std::optional<RecordedEvent>, runtime::RuntimeError> load_recording(RecordingReader& reader);

// Every event of the file, in order.
Result<std::vector<RecordedEvent>, runtime::RuntimeError> read_recording(const std::string& path);

// Whether the event holds a summary in place of one of its payloads.
bool has_redacted_payload(const Event& event);

// The events with every summary replaced by the companion's full payload. Without summaries the events come
// back unchanged and the companion is not opened. Otherwise the companion (`companion_path(path)`) must hold
// as many lines, each with the same run id, sequence number and metadata as its line, no summary of its own,
// and an event that the recorder, redacting with `tokens`, would have written as that line's event.
Result<std::vector<RecordedEvent>, runtime::RuntimeError> check_replay_companion(std::string_view path,
                                                                                 std::vector<RecordedEvent> events,
                                                                                 const tokens::Tokenizer& tokens);

// The same check for the events of a recording whose lines passed the replay set-up's checks, kept without their
// envelopes: line i carries `run_id`, sequence number i, and `metadata` on line 0 only. Completes `events` in
// place.
Result<Unit, runtime::RuntimeError> complete_from_companion(std::string_view path, const std::string& run_id,
                                                            const std::optional<ExecutionMetadata>& metadata,
                                                            std::vector<Event>& events,
                                                            const tokens::Tokenizer& tokens);

// "replay companion <companion path> <message>", `replay_diverged`.
runtime::RuntimeError companion_error(std::string_view companion, std::string_view message);

}  // namespace dravelin::record
