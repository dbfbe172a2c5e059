// Reading a recording file line by line: line ends, numbering, refusals, the shared line cap, and the companion
// check of a redacted recording.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "compiler/temp_dir.h"
#include "record/recording_reader.h"
#include "record/redact.h"
#include "record/sink.h"
#include "tokens/tokenizer.h"

namespace dravelin::record {
namespace {

using compiler::test_support::TempDir;

std::string line_of(uint64_t seq, const std::string& event) {
  return R"({"ts":"2024-05-01T12:00:00.000Z","run_id":"run_1_1","seq":)" + std::to_string(seq) + "," + event + "}";
}

const std::string kStart =
    line_of(0, R"("event":"start","program":"p","task":"main","inputs":{},"bindings":[],"ir_version":"0.1")");
const std::string kLog = line_of(
    1, R"("event":"log","level":"info","message":"hello","task":"main","source":{"start":{"line":1,"column":0,"offset":0},"end":{"line":1,"column":0,"offset":0}})");

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

Result<std::vector<RecordedEvent>, runtime::RuntimeError> read_text(TempDir& dir, const std::string& text) {
  return read_recording(dir.write("r.jsonl", text).string());
}

TEST(RecordingReader, LineEndsAndTheLastLineWithoutOne) {
  TempDir dir;
  for (const std::string& text : {kStart + "\n" + kLog + "\n", kStart + "\r\n" + kLog + "\r\n", kStart + "\n" + kLog,
                                  kStart + "\r\r\n" + kLog + "\r"}) {
    auto read = read_text(dir, text);
    ASSERT_TRUE(read.ok()) << read.error();
    ASSERT_EQ(read->size(), 2u);
    EXPECT_EQ((*read)[1].event.kind(), EventKind::Log);
  }
  auto empty = read_text(dir, "");
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->empty());
}

TEST(RecordingReader, RefusalsNameTheLineAndTheFile) {
  TempDir dir;
  const std::string path = (dir.path() / "r.jsonl").string();
  struct Case {
    std::string name;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"blank_line", kStart + "\n\n" + kLog + "\n",
       "line 2 of the recording " + path + " is not a recorded event: EOF while parsing a value at line 1 column 0"},
      {"cut_last_line", kStart + "\n" + kLog.substr(0, 40),
       "line 2 of the recording " + path + " is not a recorded event: EOF while parsing"},
      {"not_utf8", kStart + "\n" + line_of(1, "\"event\":\"abort\",\"reason\":\"\xff\"") + "\n",
       "could not read the recording " + path + ": stream did not contain valid UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(path, c.text);
    auto read = read_recording(path);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().code, runtime::RuntimeErrorCode::ReplayDiverged);
    EXPECT_EQ(read.error().message.substr(0, c.message.size()), c.message) << read.error().message;
  }
  auto missing = read_recording((dir.path() / "none.jsonl").string());
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message,
            "could not open the recording " + (dir.path() / "none.jsonl").string() + ": No such file or directory");
}

// A line longer than any recorder writes is refused with the line reader's own words, without being held whole.
TEST(RecordingReader, ALineOverTheCapIsRefused) {
  TempDir dir;
  std::string text = kStart + "\n";
  text += std::string(kMaxRecordingLineBytes + 100, ' ') + "\n" + kLog + "\n";
  RecordingReader reader(dir.write("long.jsonl", text).string());
  auto first = reader.read_next();
  ASSERT_TRUE(first.ok() && first->has_value());
  auto second = reader.read_next();
  ASSERT_FALSE(second.ok());
  EXPECT_NE(second.error().message.find("line 2 of the recording "), std::string::npos);
  EXPECT_NE(second.error().message.find(std::to_string(kMaxRecordingLineBytes) + " bytes a recording line may hold"),
            std::string::npos)
      << second.error().message;
}

// A file with no line end at all (here a sparse gigabyte) is refused once the cap is passed, not read to its end.
TEST(RecordingReader, AFileWithoutLineEndsIsReadOnlyUpToTheCap) {
  TempDir dir;
  const std::string path = dir.write("endless.jsonl", kStart).string();
  ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
  RecordingReader reader(path);
  auto refused = reader.read_next();
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "line 1 of the recording " + path + " is not a recorded event: the line is longer "
                                     "than the " + std::to_string(kMaxRecordingLineBytes) +
                                     " bytes a recording line may hold at line 1 column 0");
  EXPECT_LE(reader.bytes_read(), kMaxRecordingLineBytes + 1);
}

TEST(RecordingReader, APendingEventIsHandedOutFirst) {
  TempDir dir;
  RecordingReader reader(dir.write("r.jsonl", kStart + "\n").string());
  reader.pending = RecordedEvent{"ts", "run_9_9", 0, std::nullopt, Event{Event::Abort{"x"}}};
  auto pending = load_recording(reader);
  ASSERT_TRUE(pending.ok() && pending->has_value());
  EXPECT_EQ((*pending)->run_id, "run_9_9");
  auto start = load_recording(reader);
  ASSERT_TRUE(start.ok() && start->has_value());
  EXPECT_EQ((*start)->event.kind(), EventKind::Start);
  auto end = load_recording(reader);
  ASSERT_TRUE(end.ok());
  EXPECT_FALSE(end->has_value());
  EXPECT_EQ(reader.line(), 1u);
}

// A redacted recording written by the recorder is completed from its companion; a recording without summaries
// never opens one.
TEST(ReplayCompanion, FullPayloadsComeFromACheckedCompanion) {
  TempDir dir;
  const std::string path = (dir.path() / "red.jsonl").string();
  auto recorder = FileRecorder::create(path, "run_1_1", true);
  ASSERT_TRUE(recorder.ok());
  ASSERT_TRUE((*recorder)->record(Event{Event::Start{"p", "main", {}, {}, "0.1"}}).ok());
  Event::Log log;
  log.message = Recorded<std::string>::full("the secret");
  log.task = "main";
  ASSERT_TRUE((*recorder)->record(Event{log}).ok());
  (*recorder)->close();

  const auto chars4 = tokens::TokenizerKind::chars4().tokenizer();
  auto lines = read_recording(path);
  ASSERT_TRUE(lines.ok());
  ASSERT_TRUE(std::get<Event::Log>((*lines)[1].event.data).message.is_redacted());
  auto full = check_replay_companion(path, *lines, *chars4);
  ASSERT_TRUE(full.ok()) << full.error();
  EXPECT_EQ(*std::get<Event::Log>((*full)[1].event.data).message.if_full(), "the secret");
  EXPECT_EQ((*full)[1].ts, (*lines)[1].ts);

  // Without summaries the companion is not looked at, even when it is gone.
  std::remove(companion_path(path).c_str());
  auto plain = read_text(dir, kStart + "\n" + kLog + "\n");
  ASSERT_TRUE(plain.ok());
  EXPECT_TRUE(check_replay_companion(path, *plain, *chars4).ok());
  auto lost = check_replay_companion(path, *lines, *chars4);
  ASSERT_FALSE(lost.ok());
  EXPECT_EQ(lost.error().message,
            "could not open the recording " + companion_path(path) + ": No such file or directory");
}

}  // namespace
}  // namespace dravelin::record
