// Faults from outside, through the built binary: a recording that cannot be written, a run killed while it
// records, a model service that breaks off its replies, and adapters that die or flood while they answer. None of them may crash the program, leave a cut line
// in a recording or lose a line that was already recorded.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "cli/local_service.h"
#include "cli/run_reaped.h"
#include "cli/run_program.h"
#include "json/reader.h"
#include "record/recorded_event.h"
#include "support/zem_server.h"
#include "support/files.h"

namespace dravelin::cli {
namespace {

using testing::Finished;
using testing::run_program;
using testing::ScopedEnv;
using testing::ScratchDir;
using testing::ZemServer;
using testing::ZemServerOptions;

// Logs a line per turn, so that its recording grows line by line.
constexpr const char* kChatty = R"(program chatty
out n

task main:
  n = 0
  loop max 60:
    log info "tick" {n}
    n = n + 1
)";

// Waits for an answer on the terminal after its first lines are recorded.
constexpr const char* kWaits = R"(program waits
out after

task main thresholds risk_confirm 0.5:
  log info "before the gate"
  gate risk 0.9, confidence 0.9:
    proceed -> log debug "no confirmation needed"
  after = "confirmed"
)";

constexpr const char* kAsks = R"(program asks
out ok

task main:
  s = "x"
  ok = s feels "fine"
)";

using dravelin::test_files::read_file;

// The events of a recording that holds whole lines only, each a recorded event, numbered from 0 without a gap;
// a failure otherwise.
std::vector<std::string> whole_recorded_events(const std::string& text) {
  std::vector<std::string> kinds;
  if (!text.empty()) {
    EXPECT_EQ(text.back(), '\n') << "the recording ends inside a line";
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    auto event = record::RecordedEvent::read_line(std::string_view(text).substr(start, end - start));
    EXPECT_TRUE(event.ok()) << "line " << kinds.size() << ": " << (event.ok() ? "" : event.error());
    if (!event.ok()) break;
    EXPECT_EQ(event->seq, kinds.size());
    kinds.emplace_back(record::event_kind_name(event->event.kind()));
    start = end + 1;
  }
  return kinds;
}

// The sanitizers report on stderr; a report is a crash even where the exit status looks ordinary.
void expect_no_crash(const Finished& done) {
  EXPECT_GE(done.status, 0) << "ended by a signal";
  EXPECT_EQ(done.err.find("Sanitizer"), std::string::npos) << done.err;
  EXPECT_EQ(done.err.find("runtime error:"), std::string::npos) << done.err;
}

class FaultInjection : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_.path() / name).string(); }

  Finished run(const char* program, std::vector<std::string> extra, const std::string& input = "") {
    std::vector<std::string> args = {"run", dir_.write("program.zem", program)};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_program("dravelin", args, input);
  }

  ScopedEnv env_;
  ScratchDir dir_;
};

// ---- a recording that cannot be written ----

struct SizeLimitCase {
  std::string name;
  bool signal_ignored;  // SIGXFSZ ignored: the write itself fails part way instead of ending the process
};

class RecordingPastASizeLimit : public FaultInjection, public ::testing::WithParamInterface<SizeLimitCase> {};

TEST_P(RecordingPastASizeLimit, EndsTheRunWithWholeLinesKept) {
  const Finished full = run(kChatty, {"--record", path("full.jsonl")});
  ASSERT_EQ(full.status, 0) << full.err;
  const std::string full_text = read_file(path("full.jsonl"));
  const std::vector<std::string> full_events = whole_recorded_events(full_text);
  ASSERT_GT(full_events.size(), 40u);

  // The limit falls in the middle of a line halfway through the recording.
  size_t line_start = 0;
  for (size_t i = 0; i < full_events.size() / 2; ++i) line_start = full_text.find('\n', line_start) + 1;
  const size_t line_end = full_text.find('\n', line_start);
  const rlim_t limit = (line_start + line_end) / 2;

  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const auto previous = std::signal(SIGXFSZ, GetParam().signal_ignored ? SIG_IGN : SIG_DFL);
  const Finished cut = run(kChatty, {"--record", path("cut.jsonl")});
  std::signal(SIGXFSZ, previous);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);

  expect_no_crash(cut);
  EXPECT_EQ(cut.status, 1) << cut.err;
  EXPECT_NE(cut.out.find("could not write the recording " + path("cut.jsonl") + ": File too large"),
            std::string::npos)
      << cut.out;
  const std::string cut_text = read_file(path("cut.jsonl"));
  EXPECT_LE(cut_text.size(), limit);
  const std::vector<std::string> kept = whole_recorded_events(cut_text);
  // Every line that fitted is there, in the order of the full run.
  ASSERT_GE(kept.size() + 2, full_events.size() / 2);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), full_events.begin())) << "the kept lines are the run's first";
}

INSTANTIATE_TEST_SUITE_P(Limits, RecordingPastASizeLimit,
                         ::testing::Values(SizeLimitCase{"SignalAtItsDefault", false},
                                           SizeLimitCase{"SignalIgnored", true}),
                         [](const ::testing::TestParamInfo<SizeLimitCase>& info) { return info.param.name; });

TEST_F(FaultInjection, ARecordingThatCannotBeCreatedEndsTheRunBeforeItStarts) {
  struct Case {
    const char* name;
    std::string recording;
    bool needs_permissions;  // a superuser writes into any directory
  };
  const std::filesystem::path locked = dir_.path() / "locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::vector<Case> cases = {
      {"a directory without write permission", (locked / "r.jsonl").string(), true},
      {"a file system that holds no files", "/proc/dravelin-recording.jsonl", false},
      {"a directory that does not exist", path("missing/r.jsonl"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_permissions && geteuid() == 0) continue;
    const Finished done = run(kChatty, {"--record", c.recording});
    expect_no_crash(done);
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.out, "");
    EXPECT_NE(done.err.find("adapter_error: could not create the recording " + c.recording), std::string::npos)
        << done.err;
    EXPECT_FALSE(std::filesystem::exists(c.recording));
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

// ---- a run killed while it records ----

TEST_F(FaultInjection, ARunKilledWhileItRecordsLeavesWholeLinesAndReplayEndsCleanly) {
  const std::string recording = path("killed.jsonl");
  const std::string program = dir_.write("program.zem", kWaits);
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(input[0], 0);
    close(input[1]);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    execl(DRAVELIN_BINARY, "dravelin", "run", program.c_str(), "--record", recording.c_str(), nullptr);
    _exit(127);
  }
  close(input[0]);
  // The run waits for its answer once the pause is recorded; it is killed there.
  const auto deadline = std::chrono::steady_clock::now() + testing::kRunLimit;
  while (read_file(recording).find("\"event\":\"pause\"") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(input[1]);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";

  const std::string text = read_file(recording);
  const std::vector<std::string> events = whole_recorded_events(text);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "start");
  EXPECT_NE(std::find(events.begin(), events.end(), "pause"), events.end());

  // What the kill left, and the same recording cut inside its last line as a kill in the middle of a write
  // would leave it.
  const std::string cut = dir_.write("cut.jsonl", text.substr(0, text.size() - 10));
  for (const std::string& file : {recording, cut}) {
    SCOPED_TRACE(file);
    const Finished replayed = run_program("dravelin", {"replay", file});
    expect_no_crash(replayed);
    if (file == cut) {
      EXPECT_NE(replayed.status, 0);
      EXPECT_NE(replayed.err.find("dravelin: "), std::string::npos) << replayed.err;
    }
  }
}

// ---- a model service that breaks off ----

struct ServiceFault {
  std::string name;
  std::string script;   // the local service's scripted step for the run's one request
  std::string message;  // part of the error outcome's message
};

class ServiceFaults : public FaultInjection, public ::testing::WithParamInterface<ServiceFault> {};

TEST_P(ServiceFaults, EndTheRequestWithARetryableError) {
  ZemServerOptions options;
  options.script = GetParam().script;
  auto server = ZemServer::start(options);
  ASSERT_TRUE(server.ok()) << server.error();
  testing::use_local_service(env_, **server);
  const std::string profiles = dir_.write("profiles.json", testing::local_profiles((*server)->url()));

  const Finished done = run(kAsks, {"--profiles", profiles, "--record", path("asked.jsonl")}, "n\n");
  expect_no_crash(done);
  EXPECT_EQ(done.status, 1) << done.err;
  EXPECT_NE(done.err.find("zem_unavailable: "), std::string::npos) << done.err;
  EXPECT_EQ(done.err.substr(done.err.size() - 13), "retry? [y/N]\n") << done.err;
  auto outcome = json::parse_json_value(done.out);
  ASSERT_TRUE(outcome.ok()) << done.out;
  EXPECT_EQ(*outcome->find("kind"), json::Value("error"));
  EXPECT_EQ(*outcome->find("retryable"), json::Value(true));
  EXPECT_NE(outcome->find("message")->as_string().find(GetParam().message), std::string::npos) << done.out;
  // The failed request is in the recording as an effect error, after the request itself.
  const std::vector<std::string> events = whole_recorded_events(read_file(path("asked.jsonl")));
  EXPECT_NE(std::find(events.begin(), events.end(), "effect_error"), events.end());
}

INSTANTIATE_TEST_SUITE_P(
    Breaks, ServiceFaults,
    ::testing::Values(ServiceFault{"ConnectionDroppedMidBody", R"([{"cut_bytes": 12}])", ""},
                      ServiceFault{"ConnectionClosedWithoutAReply", R"([{"close": true}])", ""},
                      ServiceFault{"BodyOverTheCap", R"([{"pad_bytes": 67108864}])",
                                   "the reply body is larger than 64 MiB"}),
    [](const ::testing::TestParamInfo<ServiceFault>& info) { return info.param.name; });

// ---- adapters that die or flood while they answer ----

constexpr const char* kReads = "program p\nout o\nneeds files: tool\n\ntask main:\n  o = files.read \"a.txt\"\n";

struct AdapterFault {
  std::string name;
  std::string adapter;  // the command bound to `files`
  int status;
  std::string err_contains;  // empty: the run must end without an error
  std::string outcome_kind;
};

class AdapterBreaks : public FaultInjection, public ::testing::WithParamInterface<AdapterFault> {};

// Whatever the adapter does, the run ends in time with its words, the recording holds whole lines (the failed
// call among them as an effect error), and nothing the run started outlives it or goes unreaped.
TEST_P(AdapterBreaks, EndTheRunWithWholeLinesAndNoChildLeft) {
  const AdapterFault& c = GetParam();
  const std::string recording = path("bound.jsonl");
  testing::ReapedOptions options;
  options.limit = std::chrono::seconds{60};
  const auto started = std::chrono::steady_clock::now();
  const testing::ReapedRun done = testing::run_reaped(
      {"run", dir_.write("program.zem", kReads), "--record", recording, "--bind", "files=" + c.adapter}, options);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds{30});
  EXPECT_EQ(done.signal, 0) << "ended by a signal";
  EXPECT_EQ(done.leftovers, std::vector<std::string>{}) << "the run left processes behind";
  EXPECT_EQ(done.err.find("Sanitizer"), std::string::npos) << done.err;
  EXPECT_EQ(done.status, c.status) << done.err;
  if (c.err_contains.empty()) {
    EXPECT_EQ(done.err, "");
  } else {
    EXPECT_NE(done.err.find(c.err_contains), std::string::npos) << done.err;
  }
  auto outcome = json::parse_json_value(done.out);
  ASSERT_TRUE(outcome.ok()) << done.out;
  EXPECT_EQ(*outcome->find("kind"), json::Value(c.outcome_kind)) << done.out;
  const std::vector<std::string> events = whole_recorded_events(read_file(recording));
  EXPECT_EQ(std::count(events.begin(), events.end(), "effect_error"), c.status == 0 ? 0 : 1)
      << ::testing::PrintToString(events);
}

INSTANTIATE_TEST_SUITE_P(
    MidReply, AdapterBreaks,
    ::testing::Values(
        AdapterFault{"ExitsHalfwayThroughItsReply", R"(read -r l; printf '{"result":"ha'; exit 0)", 1,
                     "adapter_error: adapter `files` returned malformed JSON: ", "error"},
        AdapterFault{"KilledHalfwayThroughItsReply", R"(read -r l; printf '{"result":"ha'; kill -9 $$)", 1,
                     "adapter_error: adapter `files` returned malformed JSON: ", "error"},
        // A reply written in pieces with pauses between them is one line all the same.
        AdapterFault{"ReplyInPieces",
                     R"(read -r l; printf '{"res'; sleep 0.3; printf 'ult":'; sleep 0.3; printf '"whole"}\n'; )"
                     "cat >/dev/null",
                     0, "", "done"},
        // An endless line that never ends: refused at the cap, and the adapter, still writing, is ended.
        AdapterFault{"FloodsOneEndlessLine", "read -r l; exec cat /dev/zero", 1,
                     "adapter_error: could not read adapter `files`: the line is longer than 64 MiB", "error"},
        // Replies nobody asked for after the one that was: the run ends and so does the flood.
        AdapterFault{"FloodsLinesAfterItsReply", R"(read -r l; while :; do echo '{"result":"again"}'; done)", 0, "",
                     "done"}),
    [](const ::testing::TestParamInfo<AdapterFault>& info) { return info.param.name; });

}  // namespace
}  // namespace dravelin::cli
