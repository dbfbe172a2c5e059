#include "record/recording_reader.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <variant>

#include "base/regular_file.h"
#include "record/redact.h"
#include "record/sink.h"
#include "syntax/utf8.h"

namespace dravelin::record {

namespace {

using runtime::RuntimeError;
using runtime::RuntimeErrorCode;

constexpr size_t kInputBufferBytes = 8192;

RuntimeError diverged(std::string message) {
  return runtime::make_runtime_error(RuntimeErrorCode::ReplayDiverged, std::move(message));
}

RuntimeError file_error(std::string_view operation, std::string_view path, std::string_view cause) {
  std::string message = "could not ";
  message += operation;
  message += " the recording ";
  message += syntax::to_valid_utf8(path);
  message += ": ";
  message += cause;
  return diverged(std::move(message));
}

template <class T>
bool redacted(const Recorded<T>& payload) {
  return payload.is_redacted();
}

}  // namespace

RecordingReader::RecordingReader(std::string path) : path_(std::move(path)) {}

RecordingReader::~RecordingReader() {
  if (fd_ >= 0) ::close(fd_);
}

Result<size_t, RuntimeError> RecordingReader::fill() {
  if (start_ > 0) {
    // Keep the unread tail at the front so the buffer never grows past one line and one read.
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  if (buffer_.size() < end_ + kInputBufferBytes) buffer_.resize(end_ + kInputBufferBytes);
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data() + end_, kInputBufferBytes);
    if (got >= 0) {
      end_ += static_cast<size_t>(got);
      if (got == 0) eof_ = true;
      return static_cast<size_t>(got);
    }
    if (errno != EINTR) return err(file_error("read", path_, ::strerror(errno)));
  }
}

Result<RecordingReader::Line, RuntimeError> RecordingReader::next_line(std::string& text) {
  text.clear();
  bool any = false;
  for (;;) {
    if (start_ < end_) {
      any = true;
      const char* begin = buffer_.data() + start_;
      const size_t room = kMaxRecordingLineBytes + 1 - text.size();
      const void* newline = std::memchr(begin, '\n', std::min(end_ - start_, room));
      const size_t take = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - begin) + 1
                                             : std::min(end_ - start_, room);
      text.append(begin, take);
      start_ += take;
      consumed_ += take;
      if (newline != nullptr) return Line::Whole;
      // Past the cap the line can only be refused: the rest of it is never read, so a file without line
      // ends is not read whole.
      if (text.size() > kMaxRecordingLineBytes) return Line::OverTheCap;
    }
    if (eof_) return any ? Line::Whole : Line::None;
    TRY(fill());
  }
}

Result<std::optional<RecordedEvent>, RuntimeError> RecordingReader::read_next() {
  if (!opened_) {
    opened_ = true;
    if (path_.find('\0') != std::string::npos) return err(file_error("open", path_, ::strerror(EINVAL)));
    // Only a regular file is read: a device may never end and a pipe may never be written to.
    auto opened = open_regular_file(path_);
    if (!opened.ok()) return err(file_error("open", path_, opened.error()));
    fd_ = *opened;
  }
  if (fd_ < 0) return err(file_error("open", path_, ::strerror(EBADF)));
  const Line got = TRY(next_line(text_));
  if (got == Line::None) return std::optional<RecordedEvent>();
  ++line_;
  size_t length = text_.size();
  if (got == Line::Whole) {
    if (!syntax::is_valid_utf8(text_)) return err(file_error("read", path_, "stream did not contain valid UTF-8"));
    while (length > 0 && (text_[length - 1] == '\n' || text_[length - 1] == '\r')) --length;
  }
  // A line over the cap comes whole past it, so that the line reader refuses it for its length.
  auto read = RecordedEvent::read_line(std::string_view(text_.data(), length));
  if (!read.ok()) {
    return err(diverged("line " + std::to_string(line_) + " of the recording " + syntax::to_valid_utf8(path_) +
                        " is not a recorded event: " + read.error()));
  }
  return std::optional<RecordedEvent>(std::move(read).value());
}

Result<std::optional<RecordedEvent>, RuntimeError> load_recording(RecordingReader& reader) {
  if (reader.pending) {
    std::optional<RecordedEvent> event = std::move(reader.pending);
    reader.pending.reset();
    return event;
  }
  return reader.read_next();
}

Result<std::vector<RecordedEvent>, RuntimeError> read_recording(const std::string& path) {
  RecordingReader reader(path);
  std::vector<RecordedEvent> events;
  while (auto next = TRY(load_recording(reader))) events.push_back(std::move(*next));
  return events;
}

bool has_redacted_payload(const Event& event) {
  if (const auto* request = std::get_if<Event::Request>(&event.data)) return redacted(request->state);
  if (const auto* call = std::get_if<Event::Call>(&event.data)) return redacted(call->result);
  if (const auto* observe = std::get_if<Event::Observe>(&event.data)) return redacted(observe->observation);
  if (const auto* log = std::get_if<Event::Log>(&event.data)) {
    if (redacted(log->message)) return true;
    for (const auto& [name, value] : log->fields) {
      if (redacted(value)) return true;
    }
  }
  return false;
}

RuntimeError companion_error(std::string_view companion, std::string_view message) {
  std::string text = "replay companion ";
  text += syntax::to_valid_utf8(companion);
  text += ' ';
  text += message;
  return diverged(std::move(text));
}

namespace {

// What the companion's line i must match: the primary line's envelope and its event.
struct PrimaryLine {
  const std::string& run_id;
  uint64_t seq;
  const std::optional<ExecutionMetadata>& metadata;
  Event& event;
};

template <class LineAt>
Result<Unit, RuntimeError> compare_with_companion(std::string_view path, size_t count, LineAt line_at,
                                                  const tokens::Tokenizer& tokens) {
  bool any_redacted = false;
  for (size_t i = 0; i < count && !any_redacted; ++i) any_redacted = has_redacted_payload(line_at(i).event);
  if (!any_redacted) return Unit{};

  const std::string companion = companion_path(path);
  // Every companion line is read before any is compared.
  std::vector<RecordedEvent> full = TRY(read_recording(companion));
  if (full.size() != count) {
    return err(companion_error(companion, "has " + std::to_string(full.size()) + " events but the primary has " +
                                              std::to_string(count)));
  }
  std::set<std::string, std::less<>> agents;
  for (size_t i = 0; i < count; ++i) {
    PrimaryLine primary = line_at(i);
    RecordedEvent& line = full[i];
    const std::string at = "event " + std::to_string(i);
    if (primary.run_id != line.run_id || primary.seq != line.seq) {
      return err(companion_error(companion, at + " has a different run id or sequence"));
    }
    if (primary.metadata != line.metadata || has_redacted_payload(line.event)) {
      return err(companion_error(companion, at + " is not the matching full event"));
    }
    if (const auto* start = std::get_if<Event::Start>(&line.event.data)) agents = agent_capability_names(*start);
    if (!(redact_event(line.event, tokens, agents) == primary.event)) {
      return err(companion_error(companion, at + " fails identity or payload validation"));
    }
    primary.event = std::move(line.event);
  }
  return Unit{};
}

}  // namespace

Result<std::vector<RecordedEvent>, RuntimeError> check_replay_companion(std::string_view path,
                                                                        std::vector<RecordedEvent> events,
                                                                        const tokens::Tokenizer& tokens) {
  TRY(compare_with_companion(
      path, events.size(),
      [&](size_t i) { return PrimaryLine{events[i].run_id, events[i].seq, events[i].metadata, events[i].event}; },
      tokens));
  return events;
}

Result<Unit, RuntimeError> complete_from_companion(std::string_view path, const std::string& run_id,
                                                   const std::optional<ExecutionMetadata>& metadata,
                                                   std::vector<Event>& events, const tokens::Tokenizer& tokens) {
  static const std::optional<ExecutionMetadata> kNone;
  return compare_with_companion(
      path, events.size(),
      [&](size_t i) { return PrimaryLine{run_id, i, i == 0 ? metadata : kNone, events[i]}; }, tokens);
}

}  // namespace dravelin::record
