// The file recorder: the files it creates, the lines and offsets it writes, redaction with its companion, and
// what a failed write leaves behind (with a real file-size limit).
#include "record/sink.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/temp_dir.h"
#include "record/redact.h"
#include "record/timestamp.h"
#include "record_test_support.h"
#include "zem/profile.h"

namespace dravelin::record {
namespace {

using compiler::test_support::TempDir;
using runtime::Value;
using namespace test_support;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      out.push_back(text.substr(at));  // a torn last line
      break;
    }
    out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

mode_t mode_of(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

Event start_event() { return one_event_of_each_kind().front().event; }

Event log_event(std::string message) {
  return Event{Event::Log{LogLevel::Info, Recorded<std::string>::full(std::move(message)), {}, "main", {}}};
}

std::unique_ptr<FileRecorder> create(const std::filesystem::path& path, bool redact = false) {
  auto created = FileRecorder::create(path.string(), "run_7_1", redact);
  EXPECT_TRUE(created.ok()) << (created.ok() ? "" : created.error().text());
  return created.ok() ? std::move(created).value() : nullptr;
}

TEST(FileRecorder, LinesOffsetsAndSequenceNumbers) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  auto recorder = create(path);
  ASSERT_NE(recorder, nullptr);
  const zem::ProfileMap profiles = zem::bundled_profiles();
  recorder->with_metadata(ExecutionMetadata{ir::Ir::empty_named("triage"), profiles.at("zem-1.13.0"), Sample{}});

  const std::vector<Event> events = {start_event(), log_event("hello"), Event{Event::Abort{"aborted by host"}}};
  std::vector<uint64_t> offsets;
  for (const Event& event : events) {
    auto at = recorder->record(event);
    ASSERT_TRUE(at.ok()) << at.error().text();
    offsets.push_back(*at);
    EXPECT_EQ(recorder->offset(), std::filesystem::file_size(path));  // every line has reached the file
  }
  recorder->close();

  const std::string text = read_file(path);
  const std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(offsets, (std::vector<uint64_t>{0, lines[0].size() + 1, lines[0].size() + lines[1].size() + 2}));
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    auto read = RecordedEvent::read_line(lines[i]);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->seq, i);
    EXPECT_EQ(read->run_id, "run_7_1");
    EXPECT_EQ(read->event, events[i]);
    EXPECT_TRUE(parse_timestamp_ms(read->ts).ok()) << read->ts;
    // The metadata stands on the start line only.
    EXPECT_EQ(lines[i].find(R"("sample":false)") != std::string::npos, i == 0) << lines[i];
  }
  EXPECT_EQ(mode_of(path) & 0600, 0600u);
  EXPECT_FALSE(std::filesystem::exists(companion_path(path.string())));
}

TEST(FileRecorder, WithoutMetadataTheStartLineHasNone) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  auto recorder = create(path);
  ASSERT_NE(recorder, nullptr);
  ASSERT_TRUE(recorder->record(start_event()).ok());
  const std::string text = read_file(path);
  EXPECT_EQ(text.find("\"ir\""), std::string::npos);
  EXPECT_EQ(text.find("\"profile\""), std::string::npos);
  EXPECT_EQ(text.find("\"sample\""), std::string::npos);
}

TEST(FileRecorder, RedactionWritesSummariesAndAFullCompanionOfMode0600) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  const mode_t old_mask = ::umask(0277);
  auto recorder = create(path, /*redact=*/true);
  ::umask(old_mask);
  ASSERT_NE(recorder, nullptr);
  const std::string companion = companion_path(path.string());
  EXPECT_EQ(companion, path.string() + ".replay.jsonl");
  EXPECT_EQ(mode_of(companion), 0600u);
  EXPECT_EQ(mode_of(path), 0400u);  // 0666 less the mask

  const Event wait{Event::Call{"coder", "wait", Value::record({}), Recorded<Value>::full(Value::text("done")), 3}};
  const Event spawn{Event::Call{"coder", "spawn", Value::record({}), Recorded<Value>::full(Value::text("h")), 3}};
  const std::vector<Event> events = {start_event(), wait, spawn, log_event("hello")};
  for (const Event& event : events) ASSERT_TRUE(recorder->record(event).ok());
  recorder->close();

  const std::vector<std::string> recorded = lines_of(read_file(path));
  const std::vector<std::string> full = lines_of(read_file(companion));
  ASSERT_EQ(recorded.size(), events.size());
  ASSERT_EQ(full.size(), events.size());
  const auto chars4 = tokens::TokenizerKind::chars4().tokenizer();
  const auto agents = agent_capability_names(std::get<Event::Start>(events[0].data));
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    auto r = RecordedEvent::read_line(recorded[i]);
    auto c = RecordedEvent::read_line(full[i]);
    ASSERT_TRUE(r.ok()) << r.error();
    ASSERT_TRUE(c.ok()) << c.error();
    EXPECT_EQ(r->ts, c->ts);
    EXPECT_EQ(r->seq, c->seq);
    EXPECT_EQ(r->run_id, c->run_id);
    EXPECT_EQ(c->event, events[i]);
    EXPECT_EQ(r->event, redact_event(events[i], *chars4, agents));
  }
  EXPECT_TRUE(std::get<Event::Call>(RecordedEvent::read_line(recorded[1])->event.data).result.is_redacted());
  EXPECT_TRUE(std::get<Event::Call>(RecordedEvent::read_line(recorded[2])->event.data).result.is_full());
  // The offsets count the recording's lines only.
  EXPECT_EQ(recorder->offset(), std::filesystem::file_size(path));
}

TEST(FileRecorder, ExistingFilesAreRefusedAndLeftUntouched) {
  TempDir dir;
  const auto existing = dir.write("run.jsonl", "keep me\n");
  auto refused = FileRecorder::create(existing.string(), "r", false);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, runtime::RuntimeErrorCode::AdapterError);
  EXPECT_FALSE(refused.error().retryable);
  EXPECT_EQ(refused.error().message, "could not create the recording " + existing.string() + ": File exists");
  EXPECT_EQ(read_file(existing), "keep me\n");

  // An existing companion refuses a redacted recording; the recording made just before is removed again.
  const auto fresh = dir.path() / "other.jsonl";
  const auto companion = dir.write("other.jsonl.replay.jsonl", "mine\n");
  auto no_companion = FileRecorder::create(fresh.string(), "r", true);
  ASSERT_FALSE(no_companion.ok());
  EXPECT_EQ(no_companion.error().message, "could not create the recording " + companion.string() + ": File exists");
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(read_file(companion), "mine\n");

  // Without redaction a file at the companion's path is neither looked at nor changed.
  auto plain = create(fresh);
  ASSERT_NE(plain, nullptr);
  ASSERT_TRUE(plain->record(start_event()).ok());
  EXPECT_EQ(read_file(companion), "mine\n");

  // A dangling symbolic link is an existing path too: nothing is created where it points.
  const auto link = dir.path() / "link.jsonl";
  std::filesystem::create_symlink(dir.path() / "target.jsonl", link);
  EXPECT_FALSE(FileRecorder::create(link.string(), "r", false).ok());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "target.jsonl"));
}

TEST(FileRecorder, PathsThatCannotBeCreated) {
  TempDir dir;
  auto nul = FileRecorder::create(dir.path().string() + std::string("/a\0b.jsonl", 10), "r", false);
  ASSERT_FALSE(nul.ok());
  EXPECT_EQ(nul.error().message, "could not create the recording " + dir.path().string() + std::string("/a\0b.jsonl", 10) +
                                     ": Invalid argument");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a"));
  auto missing_dir = FileRecorder::create((dir.path() / "no" / "r.jsonl").string(), "r", false);
  ASSERT_FALSE(missing_dir.ok());
  EXPECT_EQ(missing_dir.error().message,
            "could not create the recording " + (dir.path() / "no" / "r.jsonl").string() + ": No such file or directory");
  // A path that is not UTF-8 shows its stray bytes as the replacement character.
  auto invalid = FileRecorder::create((dir.path() / "no" / "\xff.jsonl").string(), "r", false);
  ASSERT_FALSE(invalid.ok());
  EXPECT_NE(invalid.error().message.find("/no/\xef\xbf\xbd.jsonl:"), std::string::npos) << invalid.error().message;
}

TEST(FileRecorder, ClosedRecordersRefuseEvents) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  auto recorder = create(path);
  ASSERT_NE(recorder, nullptr);
  ASSERT_TRUE(recorder->record(start_event()).ok());
  const uint64_t offset = recorder->offset();
  recorder->close();
  recorder->close();  // closing twice is harmless
  auto refused = recorder->record(log_event("late"));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "recording " + path.string() + " is already closed");
  EXPECT_EQ(recorder->offset(), offset);
  EXPECT_EQ(recorder->next_seq(), 1u);
  EXPECT_EQ(std::filesystem::file_size(path), offset);
}

TEST(FileRecorder, FilesAreClosedOnExec) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  auto recorder = create(path, /*redact=*/true);
  ASSERT_NE(recorder, nullptr);
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(entry.path(), ec);
    if (ec || (target != path && target.string() != companion_path(path.string()))) continue;
    const int fd = std::stoi(entry.path().filename().string());
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << target;
    ++checked;
  }
  EXPECT_EQ(checked, 2);
}

TEST(FileRecorder, OverlongLinesAreRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  auto recorder = create(path);
  ASSERT_NE(recorder, nullptr);
  ASSERT_TRUE(recorder->record(start_event()).ok());
  const uint64_t offset = recorder->offset();
  auto refused = recorder->record(log_event(std::string(kMaxRecordingLineBytes, 'x')));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message.rfind("could not serialize a recording event: the line would be ", 0), 0u)
      << refused.error().message;
  EXPECT_EQ(std::filesystem::file_size(path), offset);
  // Nothing was written, so the recording goes on.
  auto next = recorder->record(log_event("short"));
  ASSERT_TRUE(next.ok()) << next.error().text();
  EXPECT_EQ(*next, offset);
}

// What a child process reports of its recording under a file-size limit.
struct LimitOutcome {
  int exit_code = -1;
  std::string recording;
  std::string companion;
};

// Records events of about 300 bytes (with `redact`, companion lines are longer) in a child process whose files
// may not grow past `limit` bytes. The child exits 0 when a write failed with the expected message and every
// later event was refused, 1 otherwise, 2 when the limit was never reached.
LimitOutcome record_under_size_limit(const std::filesystem::path& path, rlim_t limit, bool ignore_signal,
                                     bool redact) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (ignore_signal) ::signal(SIGXFSZ, SIG_IGN);
    auto created = FileRecorder::create(path.string(), "run_7_1", redact);
    if (!created.ok()) ::_exit(1);
    auto& recorder = **created;
    const struct rlimit size_limit {limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &size_limit) != 0) ::_exit(1);
    if (!recorder.record(start_event()).ok()) ::_exit(1);
    for (int i = 0; i < 100; ++i) {
      const Event event = log_event("line " + std::to_string(i) + " " + std::string(200, 'x'));
      auto result = recorder.record(event);
      if (result.ok()) continue;
      const std::string expected_path = redact ? companion_path(path.string()) : path.string();
      if (result.error().message != "could not write the recording " + expected_path + ": File too large") ::_exit(1);
      if (result.error().code != runtime::RuntimeErrorCode::AdapterError) ::_exit(1);
      // Refused from now on, with the same failure, even for an event that would fit.
      auto later = recorder.record(Event{Event::Abort{"x"}});
      ::_exit(!later.ok() && later.error().message == result.error().message ? 0 : 1);
    }
    ::_exit(2);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  LimitOutcome out;
  out.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  out.recording = read_file(path);
  if (redact) out.companion = read_file(companion_path(path.string()));
  return out;
}

// Every line whole and readable, numbered from 0.
void expect_whole_lines(const std::string& text, size_t limit) {
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), limit);
  EXPECT_EQ(text.back(), '\n');
  const std::vector<std::string> lines = lines_of(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    auto read = RecordedEvent::read_line(lines[i]);
    ASSERT_TRUE(read.ok()) << "line " << i << ": " << read.error();
    EXPECT_EQ(read->seq, i);
  }
}

TEST(FileRecorderFailedWrites, APartialWriteIsCutBackToTheLastWholeLine) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  // 1000 is not a multiple of the line length, so the line that crosses it is written in part before the write
  // fails.
  const LimitOutcome outcome = record_under_size_limit(path, 1000, /*ignore_signal=*/true, /*redact=*/false);
  EXPECT_EQ(outcome.exit_code, 0);
  expect_whole_lines(outcome.recording, 1000);
  // Short of the limit: the line that crossed it was written as far as the limit allowed, then cut off.
  EXPECT_LT(outcome.recording.size(), 1000u);
}

TEST(FileRecorderFailedWrites, TheLimitDoesNotKillTheRunWhenItsSignalIsNotIgnored) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  const LimitOutcome outcome = record_under_size_limit(path, 1000, /*ignore_signal=*/false, /*redact=*/false);
  EXPECT_EQ(outcome.exit_code, 0);
  expect_whole_lines(outcome.recording, 1000);
}

TEST(FileRecorderFailedWrites, ACompanionFailureCutsBothFilesBackToTheirLastSharedEvent) {
  TempDir dir;
  const auto path = dir.path() / "run.jsonl";
  // The companion's full lines are longer, so the companion reaches the limit while the recording's line of the
  // same event has already been written.
  const LimitOutcome outcome = record_under_size_limit(path, 1500, /*ignore_signal=*/true, /*redact=*/true);
  EXPECT_EQ(outcome.exit_code, 0);
  expect_whole_lines(outcome.recording, 1500);
  expect_whole_lines(outcome.companion, 1500);
  EXPECT_EQ(lines_of(outcome.recording).size(), lines_of(outcome.companion).size());
}

}  // namespace
}  // namespace dravelin::record
