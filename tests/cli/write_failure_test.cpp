// Every command with stdout, or stderr, on a full device: a write that fails ends the command with status 1, a
// failed stdout is reported on stderr, and a run cut short still closes its recording with its end event.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/local_service.h"
#include "cli/printed_outcomes.h"
#include "cli/run_program.h"
#include "cli/sample_programs.h"
#include "json/reader.h"
#include "support/zem_server.h"

namespace dravelin::cli {
namespace {

using testing::Finished;
using testing::kClean;
using testing::kGate;
using testing::kWarningsOnly;
using testing::FullStream;
using testing::run_program;
using testing::run_program_with;
namespace fs = std::filesystem;

constexpr const char* kGreetingProgram = R"(program greet
out greeting

task main:
  log info "hello"
  greeting = "hi"
)";

constexpr const char* kDesk = R"(program desk

judgment triage(ticket):
  kind = ticket.body pick:
    bug "a defect in something that exists"
    feature "a wish for something new"
    other
  log info "picked" {kind}
)";

constexpr const char* kRepeatScript = R"([{"repeat": 100000, "answers": {
  "kind": {"choice": "bug", "probabilities": {"bug": 0.7, "feature": 0.2, "other": 0.1}}}}])";

const std::string kStdoutLost = "dravelin: cannot write to stdout: No space left on device\n";

std::string lsp_frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kLspSession =
    lsp_frame(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}})") +
    lsp_frame(R"({"jsonrpc":"2.0","method":"initialized","params":{}})") +
    lsp_frame(R"({"jsonrpc":"2.0","id":2,"method":"shutdown"})") + lsp_frame(R"({"jsonrpc":"2.0","method":"exit"})");

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<json::Value> recorded_events(const std::string& path) {
  std::vector<json::Value> events;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    auto parsed = json::parse_json_value(line);
    EXPECT_TRUE(parsed.ok()) << line;
    if (parsed.ok()) events.push_back(std::move(parsed).value());
  }
  return events;
}

std::string member(const json::Value& event, const char* name) {
  const json::Value* value = event.find(name);
  return value != nullptr && value->is_string() ? value->as_string() : std::string();
}

class WriteFailure : public testing::LocalServiceSuite<WriteFailure> {
 public:
  static std::string service_script() { return kRepeatScript; }

 protected:
  void SetUp() override {
    LocalServiceSuite::SetUp();
    files_ = {
        {"{clean}", dir_.write("clean.zem", kClean)},
        {"{warned}", dir_.write("warned.zem", kWarningsOnly)},
        {"{greeting}", dir_.write("greeting.zem", kGreetingProgram)},
        {"{gate}", dir_.write("gate.zem", kGate)},
        {"{desk}", dir_.write("desk.zem", kDesk)},
        {"{profiles}", profiles_},
        {"{cases}", dir_.write("cases.jsonl", R"({"state": {"ticket": {"body": "a"}}, "expected": {"kind": "bug"}})"
                                              "\n")},
        {"{recording}", (dir_.path() / "answered.jsonl").string()},
        {"{dir}", dir_.path().string()},
    };
    // A whole run to replay.
    const Finished recorded =
        run_program("dravelin", {"run", file("{gate}"), "--record", file("{recording}")}, "yes\n");
    ASSERT_EQ(recorded.status, 0) << recorded.err;
  }

  std::string file(const std::string& name) const {
    for (const auto& [key, path] : files_)
      if (key == name) return path;
    return name;
  }

  // The arguments with every "{name}" replaced by its file.
  std::vector<std::string> expand(const std::vector<std::string>& args) const {
    std::vector<std::string> out;
    for (const std::string& arg : args) out.push_back(file(arg));
    return out;
  }

  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(WriteFailure, StdoutOnAFullDeviceEndsEveryCommandWithStatusOne) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err_has;   // stderr holds this; when empty, stderr is `err_ends` alone
    std::string err_ends;  // stderr ends with this
  };
  const Case cases[] = {
      {"compile", {"compile", "{clean}"}, "", 1, "", kStdoutLost},
      {"compile with a warning", {"compile", "{warned}"}, "", 1, "warning: machine_unreachable_done", kStdoutLost},
      {"help", {"--help"}, "", 1, "", kStdoutLost},
      {"help subcommand", {"help", "run"}, "", 1, "", kStdoutLost},
      {"version", {"-V"}, "", 1, "", kStdoutLost},
      {"judge", {"judge", "{desk}", "triage", "--state", R"({"ticket": {"body": "x"}})", "--profiles", "{profiles}"},
       "", 1, "log info triage 8:3: picked", kStdoutLost},
      {"eval", {"eval", "{desk}", "triage", "--cases", "{cases}", "--profiles", "{profiles}"}, "", 1, "", kStdoutLost},
      {"run", {"run", "{greeting}"}, "", 1, "log info main 5:3: hello\n", kStdoutLost},
      {"replay", {"replay", "{recording}"}, "", 1, "log info main 5:3: before the gate\n", kStdoutLost},
      {"setup", {"setup", "--agent", "codex", "--project", "{dir}"}, "", 1, "", kStdoutLost},
      // The servers report their own I/O errors.
      {"serve", {"serve"}, R"({"jsonrpc":"2.0","id":1,"method":"run.next","params":{}})" "\n", 1, "",
       "dravelin: No space left on device\n"},
      {"lsp", {"lsp"}, kLspSession, 1, "dravelin: ", "cannot write the output: No space left on device\n"},
      // Nothing written is nothing lost.
      {"check", {"check", "{clean}"}, "", 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished done = run_program_with(FullStream::out, "dravelin", expand(c.args), c.input);
    EXPECT_EQ(done.status, c.status) << done.err;
    if (c.err_has.empty()) {
      EXPECT_EQ(done.err, c.err_ends);
    } else {
      EXPECT_NE(done.err.find(c.err_has), std::string::npos) << done.err;
      EXPECT_TRUE(ends_with(done.err, c.err_ends)) << done.err;
      // Said once, at the end.
      EXPECT_EQ(done.err.find(c.err_ends), done.err.size() - c.err_ends.size()) << done.err;
    }
  }
  // The skill is installed all the same: only its report was lost.
  EXPECT_TRUE(fs::exists(dir_.path() / ".agents/skills/dravelin/SKILL.md"));
}

TEST_F(WriteFailure, StderrOnAFullDeviceEndsEveryCommandWithStatusOne) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out_has;  // what stdout still shows
  };
  const Case cases[] = {
      {"compile with a warning", {"compile", "{warned}"}, 1, "\"ir_version\""},
      {"check with a warning", {"check", "{warned}"}, 1, ""},
      {"usage error", {"nosuch"}, 1, ""},
      {"judge", {"judge", "{desk}", "triage", "--state", R"({"ticket": {"body": "x"}})", "--profiles", "{profiles}"}, 1,
       "\"label\": \"bug\""},
      {"run", {"run", "{greeting}"}, 1, "\"kind\": \"done\""},
      {"replay", {"replay", "{recording}"}, 1, "\"kind\": \"done\""},
      // Nothing written is nothing lost.
      {"check", {"check", "{clean}"}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished done = run_program_with(FullStream::err, "dravelin", expand(c.args));
    EXPECT_EQ(done.status, c.status);
    if (c.out_has.empty()) {
      EXPECT_EQ(done.out, "");
    } else {
      EXPECT_NE(done.out.find(c.out_has), std::string::npos) << done.out;
    }
  }
}

// A run whose confirmation can no longer be shown (its outcome on stdout, or its question on stderr) asks
// nothing and reads no answer; it is cancelled, so that its recording still ends with its end event.
TEST_F(WriteFailure, ARunThatCannotAskIsCancelledAndItsRecordingEnds) {
  struct Case {
    const char* name;
    FullStream full;
  };
  const Case cases[] = {{"outcome lost", FullStream::out}, {"question lost", FullStream::err}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string recording = (dir_.path() / (std::string(c.name) + ".jsonl")).string();
    const Finished done =
        run_program_with(c.full, "dravelin", {"run", file("{gate}"), "--record", recording}, "yes\n");
    EXPECT_EQ(done.status, 1) << done.err;
    if (c.full == FullStream::out) {
      EXPECT_EQ(done.err, "log info main 5:3: before the gate\n" + kStdoutLost);
    } else {
      const std::vector<json::Value> printed = testing::outcomes(done.out);
      ASSERT_EQ(printed.size(), 1u) << done.out;
      EXPECT_EQ(member(printed[0], "kind"), "confirm");
    }

    const std::vector<json::Value> events = recorded_events(recording);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(member(events[events.size() - 3], "event"), "abort");
    EXPECT_EQ(member(events[events.size() - 3], "reason"), "aborted by host");
    EXPECT_EQ(member(events.back(), "event"), "end");
    EXPECT_EQ(member(events.back(), "kind"), "stopped");
    // The answer on stdin was never taken: the gate's second half did not run.
    for (const json::Value& event : events) EXPECT_NE(member(event, "message"), "after the gate");
  }
}

// A run started with stdout closed: the recording it opens must not take stdout's place, or the printed outcome
// would land in the middle of the recording.
TEST_F(WriteFailure, ARunStartedWithStdoutClosedKeepsItsRecordingWhole) {
  const std::string recording = (dir_.path() / "closed.jsonl").string();
  const Finished done =
      run_program_with(FullStream::closed_out, "dravelin", {"run", file("{greeting}"), "--record", recording});
  EXPECT_EQ(done.status, 0) << done.err;
  const std::vector<json::Value> events = recorded_events(recording);
  ASSERT_FALSE(events.empty());
  for (const json::Value& event : events) EXPECT_TRUE(event.is_object());
  EXPECT_EQ(member(events.back(), "event"), "end");
  EXPECT_EQ(member(events.back(), "kind"), "done");
}

}  // namespace
}  // namespace dravelin::cli
