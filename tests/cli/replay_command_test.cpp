// `dravelin replay` end to end: real recordings made by `dravelin run --record` while the local model service
// ran, then replayed (as they are, or tampered with) after that service has been stopped and with no key and no
// adapter, so that any attempt to reach outside would fail the replay.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/local_service.h"
#include "cli/run_in_place.h"
#include "cli/run_program.h"
#include "support/zem_server.h"
#include "support/files.h"

namespace dravelin::cli {
namespace {

namespace fs = std::filesystem;
using testing::Finished;
using testing::run_program;
using testing::ScopedEnv;
using testing::ScratchDir;
using testing::ZemServer;

// Logs with fields, a judgment, a random draw, a clock reading, NaN and infinity in values, a request state and
// a log, and a confirm answered on the terminal.
constexpr const char* kTriage = R"(program triage
in ticket: text
out verdict
out odd
out huge

task main thresholds risk_confirm 0.5:
  log info "opened" {ticket}
  odd = 0 / 0
  huge = 1 / 0
  log info "numbers" {odd, huge}
  urgent = odd feels "urgent"
  r = random()
  t = now()
  gate risk 0.9, confidence 0.9:
    proceed -> log debug "no confirmation needed"
  log info "after the gate"
  verdict = "{urgent}"
)";

constexpr const char* kEscalate = R"(program handed
out x

task main:
  log info "looking"
  escalate "a person must look"
  x = 1
)";

// A wait on an agent for minutes no host can wait for.
constexpr const char* kWaitForever = R"(program forever
needs coder: agent
out seen

task main:
  h = coder.spawn("fix")
  r = h.wait("idle", 1 / 0)
  seen = r.last_message
)";

// An agent that reports costs past the largest number.
constexpr const char* kCostly = R"(program costly
needs coder: agent
out seen

task main:
  h = coder.spawn("fix")
  a = h.observe()
  b = h.observe()
  seen = b.last_message
)";

constexpr const char* kCostlyAdapter = R"(while IFS= read -r line; do
  case "$line" in
    *'"operation":"observe"'*) echo '{"observation":{"status":"running","last_message":"spent","tail":"","usage":{"usd":1e308}}}' ;;
    *'"verb":"spawn"'*) echo '{"result":{"capability":"coder","id":"sh-1"}}' ;;
    *) echo '{"result":null}' ;;
  esac
done
)";

// The parser's deepest nesting of `if`s around a value as deep as values may be.
std::string deep_program(int ifs) {
  std::string text = "program deep\nout v\n\ntask main:\n  v = 1\n  loop max 399:\n    v = [v]\n  log info \"deep\" {v}\n";
  for (int i = 0; i < ifs; ++i) text += std::string(2 * static_cast<size_t>(i + 1), ' ') + "if true:\n";
  return text + std::string(2 * static_cast<size_t>(ifs + 1), ' ') + "v = [v]\n";
}

using dravelin::test_files::read_file;

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> lines_of(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string joined_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The index of the first line holding `needle`; fails the test when there is none.
size_t line_with(const std::vector<std::string>& lines, const std::string& needle) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(needle) != std::string::npos) return i;
  }
  ADD_FAILURE() << "no line holds " << needle;
  return 0;
}

void replace_once(std::string& text, const std::string& from, const std::string& to, bool last = false) {
  const size_t at = last ? text.rfind(from) : text.find(from);
  ASSERT_NE(at, std::string::npos) << from << " in " << text;
  text.replace(at, from.size(), to);
}

// A run recorded once for the whole suite: what `run` printed and where its recording lies.
struct Recorded {
  int status = -1;
  std::string out;
  std::string err;
  fs::path recording;
};

// The `log` lines of a terminal's stderr, without the prompts and answers between them.
std::string log_lines(const std::string& err) {
  std::string logs;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size() - 1;
    if (err.compare(start, 4, "log ") == 0) logs += err.substr(start, end + 1 - start);
    start = end + 1;
  }
  return logs;
}

class ReplayCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    ScopedEnv env;
    auto started = ZemServer::start();
    ASSERT_TRUE(started.ok()) << started.error();
    std::unique_ptr<ZemServer> server = std::move(started).value();
    testing::use_local_service(env, *server);
    const std::string profiles = dir_->write("profiles.json", testing::local_profiles(server->url()));
    const auto record = [&](const std::string& name, const std::string& program, const std::string& answers,
                            std::vector<std::string> extra) {
      Recorded& made = (*recordings_)[name];
      made.recording = dir_->path() / (name + ".jsonl");
      std::vector<std::string> args = {"run", dir_->write(name + ".zem", program), "--profiles", profiles,
                                       "--record", made.recording.string()};
      args.insert(args.end(), extra.begin(), extra.end());
      const Finished done = run_program("dravelin", args, answers);
      made.status = done.status;
      made.out = done.out;
      made.err = done.err;
    };
    recordings_ = new std::map<std::string, Recorded>();
    record("triage", kTriage, "yes\n", {"--input", R"({"ticket": "the printer is on fire"})"});
    record("redacted", kTriage, "yes\n", {"--input", R"({"ticket": "secret"})", "--redact"});
    record("escalated", kEscalate, "", {});
    record("wait_forever", kWaitForever, "", {"--stub", "coder"});
    record("costly", kCostly, "", {"--bind", "coder=sh " + dir_->write("costly.sh", kCostlyAdapter)});
    // The deepest program the compiler accepts.
    for (int ifs = 100; ifs > 50; --ifs) {
      record("deep", deep_program(ifs), "", {});
      if (recordings_->at("deep").status == 0) break;
      fs::remove(recordings_->at("deep").recording);
    }
    // Every replay below runs with the model service gone.
  }

  static void TearDownTestSuite() {
    delete recordings_;
    recordings_ = nullptr;
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(recordings_, nullptr);
    for (const auto& [name, made] : *recordings_) ASSERT_TRUE(fs::exists(made.recording)) << name << made.err;
    env_.unset("VELTRANE_API_KEY").unset("DRAVELIN_PROFILES").unset("DRAVELIN_PATH");
  }

  static const Recorded& recorded(const std::string& name) { return recordings_->at(name); }

  // A copy of a recording (and of its companion, when it has one) that a test may change.
  fs::path copy_of(const std::string& name) {
    const fs::path from = recorded(name).recording;
    const fs::path to = work_.path() / from.filename();
    fs::copy_file(from, to);
    const fs::path companion = from.string() + ".replay.jsonl";
    if (fs::exists(companion)) fs::copy_file(companion, to.string() + ".replay.jsonl");
    return to;
  }

  static Finished replay(const fs::path& recording) {
    return run_program("dravelin", {"replay", recording.string()});
  }

  static ScratchDir* dir_;
  static std::map<std::string, Recorded>* recordings_;
  ScopedEnv env_;
  ScratchDir work_;
};

ScratchDir* ReplayCommand::dir_ = nullptr;
std::map<std::string, Recorded>* ReplayCommand::recordings_ = nullptr;

TEST_F(ReplayCommand, AReplayPrintsTheRunsOutcomesAndLogLinesWithNoModelService) {
  for (const std::string name : {"triage", "redacted"}) {
    SCOPED_TRACE(name);
    const Recorded& run = recorded(name);
    ASSERT_EQ(run.status, 0) << run.err;
    const Finished again = replay(run.recording);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, run.out);
    if (name == "triage") {
      EXPECT_EQ(again.err, log_lines(run.err));
      EXPECT_NE(again.err.find("log info main 11:3: numbers {\"huge\":null,\"odd\":null}\n"), std::string::npos)
          << again.err;
    } else {
      // A redacted recording shows its log lines as it holds them: summaries, not the texts.
      EXPECT_EQ(again.err.find("secret"), std::string::npos) << again.err;
      EXPECT_NE(again.err.find("log info main 8:3: {\"redacted\":{\"hash\":\""), std::string::npos) << again.err;
    }
  }
  // The recording is read, never written.
  const std::string before = read_file(recorded("triage").recording);
  (void)replay(recorded("triage").recording);
  EXPECT_EQ(read_file(recorded("triage").recording), before);
}

TEST_F(ReplayCommand, TheDeepestProgramAndTheDeepestValueReplay) {
  const Recorded& deep = recorded("deep");
  ASSERT_EQ(deep.status, 0) << deep.err;
  const Finished again = replay(deep.recording);
  EXPECT_EQ(again.status, 0) << again.err.substr(0, 2000);
  EXPECT_EQ(again.out, deep.out);
  EXPECT_EQ(again.err, deep.err);
}

TEST_F(ReplayCommand, ARecordingThatStopsAtAPauseEndsWhereTheRunStopped) {
  const Recorded& escalated = recorded("escalated");
  ASSERT_EQ(escalated.status, 3) << escalated.err;
  const Finished handed = replay(escalated.recording);
  EXPECT_EQ(handed.status, 3) << handed.err;
  EXPECT_EQ(handed.out, escalated.out);
  EXPECT_EQ(handed.err, "log info main 5:3: looking\n");

  // The same run cut right after its confirm: printed, then status 1 with nothing more said.
  const fs::path cut = copy_of("triage");
  std::vector<std::string> lines = lines_of(cut);
  lines.resize(line_with(lines, "\"event\":\"pause\"") + 2);  // the pause and the clock reading after it
  write_file(cut, joined_lines(lines));
  const Finished waiting = replay(cut);
  EXPECT_EQ(waiting.status, 1) << waiting.err;
  const std::string& whole = recorded("triage").out;
  EXPECT_EQ(waiting.out, whole.substr(0, whole.find("\n}\n") + 3));
  EXPECT_EQ(waiting.err, "log info main 8:3: opened {\"ticket\":\"the printer is on fire\"}\n"
                         "log info main 11:3: numbers {\"huge\":null,\"odd\":null}\n");
}

// Numbers a run cannot record never reach its recording: the run stops at them or keeps them finite, so the
// recording it writes always replays to the same outcomes.
TEST_F(ReplayCommand, EveryRecordingARunWritesReplays) {
  struct Case {
    std::string name;
    int status;
    std::string printed;  // held by the run's stdout
  };
  const std::vector<Case> cases = {
      {"wait_forever", 1,
       "\"code\": \"type_error\",\n  \"message\": \"expected a finite number of minutes for `coder.wait`, got inf\""},
      {"costly", 0, "\"adapter_usd\": 1.7976931348623157e308"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Recorded& run = recorded(c.name);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.out.find(c.printed), std::string::npos) << run.out;
    const std::string text = read_file(run.recording);
    EXPECT_EQ(text.find("\"waiting\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\"adapter_usd\":null"), std::string::npos) << text;
    const Finished again = replay(run.recording);
    EXPECT_EQ(again.status, run.status) << again.err;
    EXPECT_EQ(again.out, run.out);
  }
}

// A recording or a companion that is no regular file is refused by name at once: nothing is read from it or
// waited on (a pipe without a writer would block an open, /dev/zero never ends).
TEST_F(ReplayCommand, OnlyRegularFilesAreReadAsRecordings) {
  const fs::path fifo = work_.path() / "pipe.jsonl";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path directory = work_.path() / "folder.jsonl";
  fs::create_directory(directory);
  // A redacted recording reads its companion, which here is a pipe.
  const fs::path redacted = copy_of("redacted");
  const fs::path companion = redacted.string() + ".replay.jsonl";
  fs::remove(companion);
  ASSERT_EQ(::mkfifo(companion.c_str(), 0600), 0);

  struct Case {
    std::string name;
    fs::path recording;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"endless device", "/dev/zero", "could not open the recording /dev/zero: not a regular file (a character device)"},
      {"pipe without a writer", fifo, "could not open the recording " + fifo.string() + ": not a regular file (a named pipe)"},
      {"directory", directory, "could not open the recording " + directory.string() + ": Is a directory"},
      {"companion that is a pipe", redacted,
       "could not open the recording " + companion.string() + ": not a regular file (a named pipe)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::Placement place;
    place.deadline_seconds = 20;
    const testing::Outcome refused = testing::run_in_place(place, {"replay", c.recording.string()});
    ASSERT_FALSE(refused.timed_out) << "the replay waited on " << c.recording;
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("replay_diverged: " + c.message + "\n"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("dravelin: replay could not start\n"), std::string::npos) << refused.err;
  }
}

// A tampered copy of a recording and what its replay reports: a refusal before the run starts (status 1,
// "replay could not start"), or an outcome of the replayed run that diverged.
struct Tamper {
  std::string name;
  std::string recording;
  std::function<void(std::vector<std::string>& lines, std::vector<std::string>& companion)> change;
  std::string message;  // held by stderr; "<path>" stands for the recording's path
  bool refused_at_start = true;
};

void PrintTo(const Tamper& tamper, std::ostream* out) { *out << tamper.name; }

class TamperedRecording : public ReplayCommand, public ::testing::WithParamInterface<Tamper> {};

TEST_P(TamperedRecording, IsRefusedWithItsMessage) {
  const Tamper& tamper = GetParam();
  const fs::path path = copy_of(tamper.recording);
  const fs::path companion_path = path.string() + ".replay.jsonl";
  std::vector<std::string> lines = lines_of(path);
  std::vector<std::string> companion = fs::exists(companion_path) ? lines_of(companion_path) : std::vector<std::string>();
  tamper.change(lines, companion);
  write_file(path, joined_lines(lines));
  if (fs::exists(companion_path)) {
    if (companion.empty()) {
      fs::remove(companion_path);
    } else {
      write_file(companion_path, joined_lines(companion));
    }
  }

  const Finished replayed = replay(path);
  std::string message = tamper.message;
  if (const size_t at = message.find("<path>"); at != std::string::npos) message.replace(at, 6, path.string());
  EXPECT_EQ(replayed.status, 1) << replayed.err;
  EXPECT_NE(replayed.err.find(message), std::string::npos) << replayed.err;
  if (tamper.refused_at_start) {
    EXPECT_EQ(replayed.out, "");
    EXPECT_NE(replayed.err.find("<source unavailable>:0:0: replay_diverged: "), std::string::npos) << replayed.err;
    const std::string last_words = "dravelin: replay could not start\n";
    EXPECT_TRUE(replayed.err.size() >= last_words.size() &&
                replayed.err.compare(replayed.err.size() - last_words.size(), last_words.size(), last_words) == 0)
        << replayed.err;
  } else {
    // The run diverged: its last outcome is the error, never a success.
    const size_t last = replayed.out.rfind("{\n  \"kind\": ");
    ASSERT_NE(last, std::string::npos) << replayed.out;
    const std::string error_outcome = "{\n  \"kind\": \"error\",\n";
    EXPECT_EQ(replayed.out.compare(last, error_outcome.size(), error_outcome), 0) << replayed.out;
    EXPECT_NE(replayed.out.find("\"code\": \"replay_diverged\""), std::string::npos) << replayed.out;

    // The replay is cut where it diverged, so the error's line would start where the event it met starts.
    const size_t event = replayed.out.find(" at event ", last);
    ASSERT_NE(event, std::string::npos) << replayed.out;
    const size_t index = std::stoul(replayed.out.substr(event + 10));
    ASSERT_LE(index, lines.size());
    size_t offset = 0;
    for (size_t i = 0; i < index; ++i) offset += lines[i].size() + 1;
    EXPECT_NE(replayed.out.find("\"recording_offset\": " + std::to_string(offset) + ",", last), std::string::npos)
        << "line " << index << " starts at " << offset << ":\n" << replayed.out.substr(last);
  }
}

Tamper at_start(std::string name, std::string recording,
                std::function<void(std::vector<std::string>&, std::vector<std::string>&)> change, std::string message) {
  return Tamper{std::move(name), std::move(recording), std::move(change), std::move(message), true};
}

Tamper in_run(std::string name, std::string recording,
              std::function<void(std::vector<std::string>&, std::vector<std::string>&)> change, std::string message) {
  return Tamper{std::move(name), std::move(recording), std::move(change), std::move(message), false};
}

using Lines = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Cases, TamperedRecording,
    ::testing::Values(
        at_start("truncated_last_line", "triage", [](Lines& l, Lines&) { l.back().resize(l.back().size() - 20); },
                 "is not a recorded event: EOF while parsing"),
        at_start("blank_line", "triage", [](Lines& l, Lines&) { l.insert(l.begin() + 1, ""); },
                 "line 2 of the recording <path> is not a recorded event: EOF while parsing a value at line 1 column 0"),
        at_start("unknown_event", "triage",
                 [](Lines& l, Lines&) { replace_once(l[line_with(l, "\"event\":\"log\"")], "\"event\":\"log\"", "\"event\":\"gossip\""); },
                 "is not a recorded event: unknown variant `gossip`, expected one of `start`, `request`"),
        at_start("duplicate_key", "triage",
                 [](Lines& l, Lines&) {
                   replace_once(l[line_with(l, "\"event\":\"log\"")], "\"level\":\"info\"", "\"level\":\"info\",\"level\":\"info\"");
                 },
                 "is not a recorded event: duplicate field `level`"),
        at_start("unsupported_version", "triage",
                 [](Lines& l, Lines&) { replace_once(l[0], "\"ir_version\":\"0.1\"", "\"ir_version\":\"0.9\"", true); },
                 "the recording IR version `0.9` is not supported by runtime version `0.1`"),
        at_start("embedded_version", "triage",
                 [](Lines& l, Lines&) { replace_once(l[0], "\"ir_version\":\"0.1\"", "\"ir_version\":\"0.9\""); },
                 "the recording start IR version `0.1` does not match the embedded IR version `0.9`"),
        at_start("missing_start", "triage", [](Lines& l, Lines&) { l.erase(l.begin()); },
                 "the recording does not begin with a start event"),
        at_start("empty", "triage", [](Lines& l, Lines&) { l.clear(); }, "the recording has no leading start event"),
        at_start("wrong_sequence", "triage", [](Lines& l, Lines&) { replace_once(l[1], "\"seq\":1,", "\"seq\":2,"); },
                 "event 1 has sequence 2 instead of 1"),
        at_start("wrong_run_id", "triage", [](Lines& l, Lines&) { replace_once(l[2], "\"run_id\":\"run_", "\"run_id\":\"other_"); },
                 "event 2 has a different run id from the leading start event"),
        at_start("second_start", "triage",
                 [](Lines& l, Lines&) {
                   std::string again = l[0];
                   replace_once(again, "\"seq\":0,", "\"seq\":1,");
                   l.insert(l.begin() + 1, again);
                 },
                 "event 1 is a second start event"),
        at_start("metadata_outside_the_start_line", "triage",
                 [](Lines& l, Lines&) {
                   const size_t from = l[0].find("\"ir\":");
                   const size_t to = l[0].find("\"event\":");
                   std::string moved = l[1];
                   replace_once(moved, "\"seq\":1,", "\"seq\":1," + l[0].substr(from, to - from));
                   l[1] = moved;
                 },
                 "event 1 carries execution metadata outside the start event"),
        at_start("metadata_missing", "triage",
                 [](Lines& l, Lines&) { replace_once(l[0], "\"sample\":false,", ""); },
                 "the recording start event lacks linked IR, resolved profile or sample metadata"),
        at_start("edited_companion", "redacted",
                 [](Lines&, Lines& c) { replace_once(c[line_with(c, "\"event\":\"log\"")], "secret", "public"); },
                 "replay companion <path>.replay.jsonl event 2 fails identity or payload validation"),
        at_start("redacted_companion", "redacted",
                 [](Lines& l, Lines& c) {
                   const size_t log = line_with(l, "\"event\":\"log\"");
                   c[log] = l[log];
                 },
                 "replay companion <path>.replay.jsonl event 2 is not the matching full event"),
        at_start("companion_with_an_extra_line", "redacted",
                 [](Lines&, Lines& c) { c.push_back(c.back()); },
                 "replay companion <path>.replay.jsonl has "),
        at_start("missing_companion", "redacted", [](Lines&, Lines& c) { c.clear(); },
                 "could not open the recording <path>.replay.jsonl: No such file or directory"),
        in_run("extra_events", "triage",
               [](Lines& l, Lines&) {
                 std::string extra = l[line_with(l, "\"event\":\"log\"")];
                 const size_t at = extra.find("\"seq\":");
                 extra.replace(at, extra.find(',', at) - at, "\"seq\":" + std::to_string(l.size()));
                 l.push_back(extra);
               },
               "but found a `info` log"),
        in_run("edited_log", "triage",
               [](Lines& l, Lines&) { replace_once(l[line_with(l, "\"after the gate\"")], "after the gate", "before it"); },
               "expected the same `info` log (level, message and fields)"),
        in_run("edited_request_state", "triage",
               [](Lines& l, Lines&) { replace_once(l[line_with(l, "\"event\":\"request\"")], "\"odd\":null", "\"odd\":1.0"); },
               "expected the same Zem request"),
        in_run("edited_outputs", "triage",
               [](Lines& l, Lines&) {
                 for (const char* kind : {"\"event\":\"end\"", "\"kind\":\"done\""}) {
                   replace_once(l[line_with(l, kind)], "\"verdict\":\"", "\"verdict\":\"not ");
                 }
               },
               "replay_diverged"),
        in_run("edited_end_only", "triage",
               [](Lines& l, Lines&) { replace_once(l[line_with(l, "\"event\":\"end\"")], "\"verdict\":\"", "\"verdict\":\"not "); },
               "but found the end of the run as `done`"),
        in_run("resume_that_does_not_fit_its_pause", "triage",
               [](Lines& l, Lines&) { replace_once(l[line_with(l, "\"event\":\"resume\"")], "{\"answer\":\"yes\"}", "{\"retry\":true}"); },
               "expected a resume that fits the `confirm` pause"),
        in_run("random_draw_holding_text", "triage",
               [](Lines& l, Lines&) {
                 std::string& line = l[line_with(l, "\"kind\":\"random\"")];
                 const size_t at = line.find("\"value\":");
                 line.replace(at, line.find('}', at) - at, "\"value\":\"0.5\"");
               },
               "expected a random draw holding a number from 0 up to 1"),
        in_run("random_draw_out_of_range", "triage",
               [](Lines& l, Lines&) {
                 std::string& line = l[line_with(l, "\"kind\":\"random\"")];
                 const size_t at = line.find("\"value\":");
                 line.replace(at, line.find('}', at) - at, "\"value\":7.0");
               },
               "expected a random draw holding a number from 0 up to 1"),
        in_run("clock_reading_holding_a_number", "triage",
               [](Lines& l, Lines&) {
                 std::string& line = l[line_with(l, "\"kind\":\"now\"")];
                 const size_t at = line.find("\"value\":");
                 line.replace(at, line.find('}', at) - at, "\"value\":12");
               },
               "expected a clock reading holding a timestamp text"),
        in_run("pause_line_whose_kinds_differ", "triage",
               [](Lines& l, Lines&) { replace_once(l[line_with(l, "\"event\":\"pause\"")], "\"kind\":\"confirm\"", "\"kind\":\"done\""); },
               "pause whose line names one kind")),
    [](const ::testing::TestParamInfo<Tamper>& info) { return info.param.name; });

TEST_F(ReplayCommand, AMissingRecordingIsRefused) {
  const Finished missing = replay(work_.path() / "nothing.jsonl");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("could not open the recording "), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("nothing.jsonl: No such file or directory"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace dravelin::cli
