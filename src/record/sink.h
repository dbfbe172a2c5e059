// Where a recorded run's events go: one line per event, appended to a new JSON Lines file as it happens.
//
// `FileRecorder` creates the recording new (an existing path is refused and left untouched), close-on-exec,
// with permission bits 0666 less the umask. With redaction on it writes eligible payloads as summaries and
// keeps a companion file (the path followed by ".replay.jsonl", created new with exactly 0600 whatever the
// umask) holding the same lines in full, which is what makes a redacted recording replayable.
//
// Every line reaches the operating system before `record` returns. A write that fails, or writes only part of
// a line, leaves no torn line behind: both files are cut back to their last whole line, and the recorder then
// refuses every further event, so the recording stays a readable prefix of the run whose byte offsets and
// sequence numbers agree with what `record` returned.
//
// Every failure is `adapter_error`, not retryable, without a span: "could not create the recording <path>:
// <os error>", "could not secure ...", "could not write ...", "could not serialize a recording event: ...",
// "recording <path> is already closed".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/result.h"
#include "record/event.h"
#include "record/recorded_event.h"
#include "runtime/runtime_error.h"
#include "tokens/tokenizer.h"

namespace dravelin::record {

// A run's recording. Owned by exactly one run and used from its thread.
class RecordingSink {
 public:
  virtual ~RecordingSink() = default;
  // Writes the event as the next line; returns the byte offset at which the line starts.
  virtual Result<uint64_t, runtime::RuntimeError> record(const Event& event) = 0;
  // The bytes written so far: where the next line will start.
  virtual uint64_t offset() const = 0;
  // Closes the files; never fails. Later events are refused.
  virtual void close() = 0;
};

// The recording's companion: the path followed by ".replay.jsonl".
std::string companion_path(std::string_view path);

class FileRecorder final : public RecordingSink {
 public:
  // Creates the recording (and, with `redact`, its companion) for the run `run_id`: offset 0, seq 0, no
  // metadata, the chars4 counter. When the companion cannot be created the recording is removed again.
  static Result<std::unique_ptr<FileRecorder>, runtime::RuntimeError> create(std::string path, std::string run_id,
                                                                             bool redact);

  ~FileRecorder() override;
  FileRecorder(const FileRecorder&) = delete;
  FileRecorder& operator=(const FileRecorder&) = delete;

  // The metadata of the start line.
  FileRecorder& with_metadata(ExecutionMetadata metadata);
  // The counter of redaction summaries' tokens (the resolved profile's).
  FileRecorder& with_token_counter(std::unique_ptr<tokens::Tokenizer> counter);

  Result<uint64_t, runtime::RuntimeError> record(const Event& event) override;
  uint64_t offset() const override { return recording_.size; }
  void close() override;

  const std::string& path() const { return path_; }
  uint64_t next_seq() const { return seq_; }

 private:
  struct File {
    int fd = -1;
    uint64_t size = 0;  // bytes of whole lines written: for the recording, its offset
  };

  FileRecorder(std::string path, std::string run_id, bool redact, File recording, std::optional<File> companion);
  Result<Unit, runtime::RuntimeError> append(File& file, std::string_view file_path, std::string_view line,
                                             std::string_view closed_message);
  void cut_back();

  std::string path_;
  std::string run_id_;
  bool redact_;
  std::optional<ExecutionMetadata> metadata_;
  std::unique_ptr<tokens::Tokenizer> counter_;
  std::set<std::string, std::less<>> agent_capabilities_;
  File recording_;
  std::optional<File> companion_;
  uint64_t seq_ = 0;
  // The reason of the write that failed; every later event is refused with it.
  std::optional<std::string> failed_;
};

}  // namespace dravelin::record
