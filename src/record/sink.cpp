#include "record/sink.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "json/number_format.h"
#include "record/redact.h"
#include "record/timestamp.h"
#include "syntax/utf8.h"

namespace dravelin::record {

namespace {

using runtime::RuntimeError;
using runtime::RuntimeErrorCode;

RuntimeError sink_error(std::string message) {
  return runtime::make_runtime_error(RuntimeErrorCode::AdapterError, std::move(message));
}

std::string os_error_text(int error) { return ::strerror(error); }

RuntimeError file_error(std::string_view operation, std::string_view path, int error) {
  std::string message = "could not ";
  message += operation;
  message += " the recording ";
  message += syntax::to_valid_utf8(path);
  message += ": ";
  message += os_error_text(error);
  return sink_error(std::move(message));
}

// Creates the file new, close-on-exec; `secure` makes it readable and writable by its owner alone, whatever
// the file-creation mask.
Result<int, RuntimeError> create_recording_file(const std::string& path, bool secure) {
  // A path with a NUL byte would name a different, shorter path to the system.
  if (path.find('\0') != std::string::npos) return err(file_error("create", path, EINVAL));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, secure ? 0600 : 0666);
  if (fd < 0) return err(file_error("create", path, errno));
  if (secure) {
    int rc = 0;
    do {
      rc = ::fchmod(fd, 0600);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(path.c_str());
      return err(file_error("secure", path, error));
    }
  }
  return fd;
}

// Whether growing a file to `size` bytes passes the process's file-size limit while the signal for passing it
// still ends the process. Checked before writing so that a limit does not kill the run in the middle of a
// line; where the signal is ignored or handled, the write itself fails and is cut back like any other.
bool would_be_killed_past_size_limit(uint64_t size) {
  struct sigaction action {};
  if (::sigaction(SIGXFSZ, nullptr, &action) != 0 || action.sa_handler != SIG_DFL) return false;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return false;
  return size > limit.rlim_cur;
}

// Writes the whole text at the end of the file; the error number of a failure.
std::optional<int> write_whole(int fd, uint64_t size, std::string_view text) {
  if (would_be_killed_past_size_limit(size + text.size())) return EFBIG;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return std::nullopt;
}

// `what` is "a recording event" or "a replay companion event".
RuntimeError line_too_long(std::string_view what, size_t length) {
  std::string message = "could not serialize ";
  message += what;
  message += ": the line would be ";
  json::append_u64(message, length);
  message += " bytes long, more than the ";
  json::append_u64(message, kMaxRecordingLineBytes);
  message += " bytes a recording line may hold";
  return sink_error(std::move(message));
}

}  // namespace

std::string companion_path(std::string_view path) {
  std::string out(path);
  out += ".replay.jsonl";
  return out;
}

Result<std::unique_ptr<FileRecorder>, RuntimeError> FileRecorder::create(std::string path, std::string run_id,
                                                                         bool redact) {
  const int recording = TRY(create_recording_file(path, false));
  std::optional<File> companion;
  if (redact) {
    auto created = create_recording_file(companion_path(path), true);
    if (!created.ok()) {
      ::close(recording);
      ::unlink(path.c_str());
      return err(std::move(created).error());
    }
    companion = File{*created, 0};
  }
  return std::unique_ptr<FileRecorder>(
      new FileRecorder(std::move(path), std::move(run_id), redact, File{recording, 0}, companion));
}

FileRecorder::FileRecorder(std::string path, std::string run_id, bool redact, File recording,
                           std::optional<File> companion)
    : path_(std::move(path)),
      run_id_(std::move(run_id)),
      redact_(redact),
      counter_(tokens::TokenizerKind::chars4().tokenizer()),
      recording_(recording),
      companion_(companion) {}

FileRecorder::~FileRecorder() { close(); }

FileRecorder& FileRecorder::with_metadata(ExecutionMetadata metadata) {
  metadata_ = std::move(metadata);
  return *this;
}

FileRecorder& FileRecorder::with_token_counter(std::unique_ptr<tokens::Tokenizer> counter) {
  if (counter) counter_ = std::move(counter);
  return *this;
}

void FileRecorder::close() {
  if (recording_.fd >= 0) {
    ::close(recording_.fd);
    recording_.fd = -1;
  }
  if (companion_ && companion_->fd >= 0) {
    ::close(companion_->fd);
    companion_->fd = -1;
  }
}

void FileRecorder::cut_back() {
  // Both files end at their last whole line; a failure to cut leaves nothing better to do, and every later
  // event is refused either way.
  if (recording_.fd >= 0) (void)::ftruncate(recording_.fd, static_cast<off_t>(recording_.size));
  if (companion_ && companion_->fd >= 0) (void)::ftruncate(companion_->fd, static_cast<off_t>(companion_->size));
}

Result<uint64_t, RuntimeError> FileRecorder::record(const Event& event) {
  const auto* start = std::get_if<Event::Start>(&event.data);
  if (start != nullptr) agent_capabilities_ = agent_capability_names(*start);
  const std::string ts = format_timestamp_ms(system_clock_ms());
  const ExecutionMetadata* metadata = start != nullptr && metadata_ ? &*metadata_ : nullptr;

  // Both lines are made before either is written, so that a line that cannot be written never leaves its
  // twin behind in the other file.
  std::string line;
  line.reserve(128);
  std::string full_line;
  if (redact_) {
    write_recorded_line(line, ts, run_id_, seq_, metadata, redact_event(event, *counter_, agent_capabilities_));
    line += '\n';
    full_line.reserve(128);
    write_recorded_line(full_line, ts, run_id_, seq_, metadata, event);
    full_line += '\n';
  } else {
    write_recorded_line(line, ts, run_id_, seq_, metadata, event);
    line += '\n';
  }
  if (line.size() > kMaxRecordingLineBytes) return err(line_too_long("a recording event", line.size()));
  if (full_line.size() > kMaxRecordingLineBytes) {
    return err(line_too_long("a replay companion event", full_line.size()));
  }

  if (recording_.fd < 0) return err(sink_error("recording " + syntax::to_valid_utf8(path_) + " is already closed"));
  if (failed_) return err(sink_error(*failed_));
  if (const std::optional<int> error = write_whole(recording_.fd, recording_.size, line)) {
    RuntimeError failure = file_error("write", path_, *error);
    failed_ = failure.message;
    cut_back();
    return err(std::move(failure));
  }
  // The companion is open exactly when the recording is: both are created together and closed together.
  if (redact_) {
    if (const std::optional<int> error = write_whole(companion_->fd, companion_->size, full_line)) {
      // The recording's line has no twin: both files go back to the last event they share.
      RuntimeError failure = file_error("write", companion_path(path_), *error);
      failed_ = failure.message;
      cut_back();
      return err(std::move(failure));
    }
    companion_->size += full_line.size();
  }
  const uint64_t at = recording_.size;
  recording_.size += line.size();
  ++seq_;
  return at;
}

}  // namespace dravelin::record
