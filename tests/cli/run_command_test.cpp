// `dravelin run` end to end: the built binary, answers piped on stdin, the local model service for judgments,
// recordings read back with jq.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli/local_service.h"
#include "cli/printed_outcomes.h"
#include "cli/run_program.h"
#include "cli/sample_programs.h"
#include "json/reader.h"
#include "json/writer.h"
#include "support/zem_server.h"
#include "support/files.h"

namespace dravelin::cli {
namespace {

using testing::Finished;
using testing::kGate;
using testing::outcomes;
using testing::run_program;
using testing::ZemServer;
using testing::ZemServerOptions;

constexpr const char* kGreeting = R"(program greet
in name: text
out greeting

task main:
  log info "hello" {name}
  greeting = "hi {name}"
)";

constexpr const char* kBudget = R"(program counted
out n

task main budget calls 1:
  n = 0
  s = "x"
  loop max 3:
    ok = s feels "fine"
    n = n + 1
)";

constexpr const char* kAsk = R"(program asked
out ok

task main:
  s = "x"
  ok = s feels "fine"
)";

// A text that a program could use to colour the terminal and print a line that looks like one of its own, with
// DEL, a C1 control and a backslash that spells an escape. As the terminal shows it, escaped, it reads exactly
// as its own JSON string does.
constexpr const char* kForged = R"(a\u001b[31mRED\nlog info main 1:1: forged\u007f\u0085\\u001b)";

constexpr const char* kShowsProgramText = R"(program shows
in msg: text
out answer
needs boss: person
needs pen: llm

task main:
  log info "{msg}" {m: msg}
  a = boss.ask(msg, options: [msg, "ok"])
  t = pen.write msg
  answer = a.answer
)";

constexpr const char* kAsksTwice = R"(program asks
out answers
needs boss: person

task main:
  a = boss.ask("first?")
  b = boss.ask("second?")
  answers = [a.answer, b.answer]
)";

using dravelin::test_files::read_file;

// Runs a shell command; its stdout, and its exit status in `status`.
std::string shell(const std::string& command, int* status) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

std::string kind_of(const json::Value& outcome) { return outcome.as_object().find("kind")->as_string(); }

class RunCommand : public testing::LocalServiceSuite<RunCommand> {
 protected:
  Finished run(const char* program, std::vector<std::string> extra = {}, const std::string& input = "") {
    std::vector<std::string> args = {"run", dir_.write("program.zem", program)};
    if (std::find(extra.begin(), extra.end(), "--profiles") == extra.end()) args.insert(args.end(), {"--profiles", profiles_});
    args.insert(args.end(), extra.begin(), extra.end());
    return run_program("dravelin", args, input);
  }

  std::string path(const std::string& name) const { return (dir_.path() / name).string(); }
};

TEST_F(RunCommand, ADoneRunPrintsItsOutcomeAndLogLines) {
  const Finished done = run(kGreeting, {"--input", R"({"name": "Ada"})"});
  ASSERT_EQ(done.status, 0) << done.err;
  const std::vector<json::Value> printed = outcomes(done.out);
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(kind_of(printed[0]), "done");
  EXPECT_EQ(*printed[0].as_object().find("outputs"), json::Value(json::Object{{"greeting", "hi Ada"}}));
  EXPECT_EQ(done.out.rfind("{\n  \"kind\": \"done\",\n  \"run_id\": \"run_", 0), 0u) << done.out;
  EXPECT_EQ(done.err, "log info main 6:3: hello {\"name\":\"Ada\"}\n");
}

TEST_F(RunCommand, AConfirmIsAnsweredOnStdin) {
  const Finished yes = run(kGate, {}, "  yes  \n");
  ASSERT_EQ(yes.status, 0) << yes.err;
  const std::vector<json::Value> printed = outcomes(yes.out);
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_EQ(kind_of(printed[0]), "confirm");
  EXPECT_EQ(kind_of(printed[1]), "done");
  // Each log line once, when the run first reaches it; the prompt between them.
  EXPECT_EQ(yes.err,
            "log info main 5:3: before the gate\n"
            "Gate asked for confirmation\noptions: yes, no\n"
            "log info main 8:3: after the gate\n");

  const Finished no = run(kGate, {}, "no\n");
  EXPECT_EQ(no.status, 3) << no.err;
  const std::vector<json::Value> stopped = outcomes(no.out);
  ASSERT_EQ(stopped.size(), 2u);
  EXPECT_EQ(*stopped[1].as_object().find("reason"), json::Value("Gate confirmation declined"));

  const Finished closed = run(kGate, {}, "");  // end of input is an empty answer
  EXPECT_EQ(closed.status, 3) << closed.err;
}

TEST_F(RunCommand, EscalationsAndStopsHandTheRunOver) {
  for (const char* body : {"  escalate \"a person must look\"\n", "  stop \"nothing to do\"\n"}) {
    const Finished done = run((std::string("program p\n\ntask main:\n") + body).c_str());
    EXPECT_EQ(done.status, 3) << body << done.err;
    EXPECT_EQ(outcomes(done.out).size(), 1u) << body;
    EXPECT_EQ(done.err, "") << body;
  }
}

TEST_F(RunCommand, ProgramTextIsShownEscapedOneLineEach) {
  const std::string forged = kForged;
  const Finished done = run(kShowsProgramText, {"--input", "{\"msg\": \"" + forged + "\"}", "--stub", "boss", "--stub", "pen"},
                            "ok\n");
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.err,
            "[stub] `boss` is using the built-in Person demonstration adapter\n"
            "[stub] `pen` is using the built-in Llm demonstration adapter\n"
            "log info main 8:3: " + forged + " {\"m\":\"" + forged + "\"}\n" +
            forged + "\noptions: " + forged + ", ok\n"
            "[stub:pen] write {\"positional\":[\"" + forged + "\"]}\n");
  // The outcomes on stdout are JSON, escaped by the JSON writer: the question reads back unchanged.
  const std::vector<json::Value> printed = outcomes(done.out);
  ASSERT_EQ(printed.size(), 2u);
  const json::Value* message = printed[0].as_object().find("message");
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->as_string(), "a\x1b[31mRED\nlog info main 1:1: forged\x7f\xc2\x85\\u001b");
}

TEST_F(RunCommand, AnAdaptersErrorMessageIsReportedEscaped) {
  const Finished done = run("program p\nneeds files: tool\n\ntask main:\n  x = files.list \"a\"\n",
                            {"--bind", R"(files=read l; printf '%s\n' '{"error":{"message":"bad\u001b[31m\nforged"}}'; cat >/dev/null)"});
  EXPECT_EQ(done.status, 1) << done.err;
  EXPECT_EQ(done.err.rfind(path("program.zem") + ":5:2: adapter_error: bad\\u001b[31m\\nforged\n", 0), 0u) << done.err;
  EXPECT_EQ(done.err.find('\x1b'), std::string::npos) << done.err;
}

TEST_F(RunCommand, AnOverlongAnswerEndsTheInputAsIfStdinHadClosed) {
  // 65 MiB in one line, and a line after it that must never be read as the next answer.
  const std::string answers = dir_.write("answers.txt", std::string(size_t{65} << 20, 'y') + "\nyes\n");
  const Finished done =
      run_program("dravelin", {"run", dir_.write("program.zem", kAsksTwice), "--stub", "boss"}, "", answers.c_str());
  ASSERT_EQ(done.status, 0) << done.err.substr(0, 2000);
  EXPECT_EQ(done.err,
            "[stub] `boss` is using the built-in Person demonstration adapter\n"
            "first?\noptions: yes, no\n"
            "dravelin: the answer is longer than 64 MiB; no further input is read\n"
            "second?\noptions: yes, no\n");
  const std::vector<json::Value> printed = outcomes(done.out);
  ASSERT_EQ(printed.size(), 3u);
  EXPECT_EQ(json::to_compact(*printed[2].as_object().find("outputs")), R"({"answers":["",""]})");
}

struct BudgetAnswer {
  std::string name;
  std::string input;
  int status;
  std::string err_tail;
  size_t printed;
};

class BudgetPrompt : public RunCommand, public ::testing::WithParamInterface<BudgetAnswer> {};

TEST_P(BudgetPrompt, AnswersExtendStopOrFail) {
  const BudgetAnswer& c = GetParam();
  const Finished done = run(kBudget, {}, c.input);
  EXPECT_EQ(done.status, c.status) << done.err;
  EXPECT_EQ(done.err.rfind("budget `Calls` reached 1; enter a new limit or leave blank to stop\n", 0), 0u)
      << done.err;
  ASSERT_GE(done.err.size(), c.err_tail.size());
  EXPECT_EQ(done.err.substr(done.err.size() - c.err_tail.size()), c.err_tail);
  EXPECT_EQ(outcomes(done.out).size(), c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BudgetPrompt,
    ::testing::Values(
        BudgetAnswer{"new_limits_until_done", "2\n3\n", 0,
                     "budget `Calls` reached 2; enter a new limit or leave blank to stop\n", 3},
        BudgetAnswer{"blank_stops_quietly", "  \n", 3, "leave blank to stop\n", 1},
        BudgetAnswer{"not_a_number", "abc\n", 1, "dravelin: invalid float literal\n", 1},
        BudgetAnswer{"infinity_is_refused", "inf\n", 1, "dravelin: a budget limit must be a finite number\n", 1},
        BudgetAnswer{"nan_is_refused", "NaN\n", 1, "dravelin: a budget limit must be a finite number\n", 1}),
    [](const ::testing::TestParamInfo<BudgetAnswer>& info) { return info.param.name; });

TEST_F(RunCommand, ARetryableErrorIsRetriedOnlyOnYes) {
  // The first two requests fail; every later one is answered.
  ZemServerOptions options;
  options.script = R"([{"status": 503}, {"status": 503}])";
  auto flaky = ZemServer::start(options);
  ASSERT_TRUE(flaky.ok()) << flaky.error();
  env_.set("SSL_CERT_FILE", (*flaky)->cert_file());
  profiles_ = dir_.write("flaky.json", testing::local_profiles((*flaky)->url()));

  const Finished declined = run(kAsk, {}, "Yes\n");
  EXPECT_EQ(declined.status, 1) << declined.err;
  EXPECT_NE(declined.err.find("zem_unavailable: "), std::string::npos) << declined.err;
  EXPECT_EQ(declined.err.substr(declined.err.size() - 13), "retry? [y/N]\n");
  const std::vector<json::Value> failed = outcomes(declined.out);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(*failed[0].as_object().find("retryable"), json::Value(true));

  const Finished retried = run(kAsk, {}, "y\n");
  EXPECT_EQ(retried.status, 0) << retried.err;
  const std::vector<json::Value> printed = outcomes(retried.out);
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_EQ(kind_of(printed[0]), "error");
  EXPECT_EQ(kind_of(printed[1]), "done");
  EXPECT_EQ((*flaky)->requests().size(), 3u);
}

TEST_F(RunCommand, AnErrorThatCannotBeRetriedIsRenderedAndPrinted) {
  const Finished done = run("program p\n\ntask main:\n  n = 5\n  x = n.missing\n");
  EXPECT_EQ(done.status, 1);
  const std::vector<json::Value> printed = outcomes(done.out);
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(kind_of(printed[0]), "error");
  EXPECT_EQ(*printed[0].as_object().find("retryable"), json::Value(false));
  EXPECT_EQ(done.err.rfind(path("program.zem") + ":5:", 0), 0u) << done.err;
  EXPECT_NE(done.err.find(": type_error: "), std::string::npos) << done.err;
  EXPECT_NE(done.err.find("\n  docs: "), std::string::npos) << done.err;
  EXPECT_EQ(done.err.find("dravelin: "), std::string::npos) << "an error outcome is no error exit";
}

TEST_F(RunCommand, ErrorsOfAProgramLinkingAModuleNameNoSourceFile) {
  dir_.write("lib.zem", "program lib\n\ndef twice(x):\n  return x * 2\n");
  const Finished done = run("program p\nuse \"./lib.zem\" as lib\n\ntask main:\n  n = 5\n  x = n.missing\n");
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.err.rfind("<source unavailable>:6:", 0), 0u) << done.err;
  EXPECT_NE(done.err.find("\n  | source file unavailable for linked program\n"), std::string::npos) << done.err;
}

struct StartFailure {
  std::string name;
  std::string program;
  std::vector<std::string> extra;
  std::string err_contains;
  std::string err_tail;
};

class RunStartFailures : public RunCommand, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(RunStartFailures, EndAtTheCommonErrorExitWithoutARecording) {
  const StartFailure& c = GetParam();
  std::vector<std::string> extra = c.extra;
  extra.insert(extra.end(), {"--record", path("never.jsonl")});
  const Finished done = run(c.program.c_str(), extra);
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.out, "");
  EXPECT_NE(done.err.find(c.err_contains), std::string::npos) << done.err;
  ASSERT_GE(done.err.size(), c.err_tail.size()) << done.err;
  EXPECT_EQ(done.err.substr(done.err.size() - c.err_tail.size()), c.err_tail) << done.err;
  EXPECT_FALSE(std::filesystem::exists(path("never.jsonl")));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RunStartFailures,
    ::testing::Values(
        StartFailure{"input_not_an_object", kGreeting, {"--input", "[1]"}, "",
                     "dravelin: --input is not a JSON object: invalid type: sequence, expected a map at line 1 column "
                     "0\n"},
        StartFailure{"input_with_trailing_text", kGreeting, {"--input", "{} {}"}, "",
                     "dravelin: --input is not a JSON object: trailing characters at line 1 column 4\n"},
        StartFailure{"no_task_main", "program p\n\ntask helper:\n  stop \"x\"\n", {},
                     ":0:0: type_error: `p` declares no task `main`\n", "dravelin: runtime failed\n"},
        StartFailure{"unbound_capability", "program p\nneeds mail: agent\n\ntask main:\n  stop \"x\"\n", {},
                     ":2:0: binding_missing: capability `mail` was not bound\n", "dravelin: runtime failed\n"},
        StartFailure{"unknown_profiles_file", kGreeting, {"--profiles", "/nonexistent/profiles.json"},
                     "profile_missing: could not read the profiles file", "dravelin: runtime failed\n"},
        StartFailure{"binding_an_undeclared_capability", kGreeting, {"--stub", "mail"}, "",
                     "dravelin: `mail` is not a declared capability\n"},
        StartFailure{"bind_without_a_command", kGreeting, {"--bind", "mail"}, "",
                     "dravelin: --bind must be NAME=COMMAND, got `mail`\n"},
        StartFailure{"bind_value_with_a_line_break", kGreeting, {"--bind", "mail\ndravelin: forged"}, "",
                     "dravelin: --bind must be NAME=COMMAND, got `mail\\ndravelin: forged`\n"},
        StartFailure{"compile_error", "program p\n\ntask main:\n  loop:\n    x = 1\n", {}, "unbounded_loop",
                     "dravelin: compile failed\n"}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return info.param.name; });

TEST_F(RunCommand, ARecordingHoldsEveryEventAsOneJsonLine) {
  const std::string recording = path("gate.jsonl");
  const Finished done = run(kGate, {"--record", recording}, "yes\n");
  ASSERT_EQ(done.status, 0) << done.err;
  const std::vector<json::Value> printed = outcomes(done.out);
  ASSERT_EQ(printed.size(), 2u);

  int status = -1;
  shell("jq -c . " + recording + " > /dev/null 2>&1", &status);
  EXPECT_EQ(status, 0) << "every line parses";
  const std::string events = shell("jq -r .event " + recording, &status);
  EXPECT_EQ(events.substr(0, 6), "start\n") << events;
  EXPECT_NE(events.find("pause\ndraw\nresume\n"), std::string::npos) << events;
  EXPECT_EQ(events.substr(events.size() - 4), "end\n") << events;
  const std::string seqs = shell("jq -r .seq " + recording + " | tr '\\n' ' '", &status);
  const std::string run_ids = shell("jq -r .run_id " + recording + " | sort -u", &status);
  EXPECT_EQ(std::count(run_ids.begin(), run_ids.end(), '\n'), 1) << run_ids;
  EXPECT_EQ(seqs.rfind("0 1 2 ", 0), 0u) << seqs;
  EXPECT_EQ(shell("head -1 " + recording + " | jq -c '[.sample, .profile.model, .ir.program]'", &status),
            "[false,\"zem-1.13.0\",\"gated\"]\n");

  // The confirm's recording_offset is where its pause line starts in the file.
  const std::string text = read_file(recording);
  const uint64_t offset = printed[0].as_object().find("recording_offset")->as_uint();
  ASSERT_LT(offset, text.size());
  EXPECT_TRUE(offset == 0 || text[offset - 1] == '\n');
  auto line = json::parse_json_value(std::string_view(text).substr(offset, text.find('\n', offset) - offset));
  ASSERT_TRUE(line.ok());
  EXPECT_EQ(*line->as_object().find("event"), json::Value("pause"));
  EXPECT_EQ(*line->as_object().find("payload")->as_object().find("recording_offset"), json::Value(offset));
}

TEST_F(RunCommand, SampleIsWrittenIntoTheStartLine) {
  const std::string recording = path("sampled.jsonl");
  const Finished done = run(kGreeting, {"--input", R"({"name": "Ada"})", "--sample", "--record", recording});
  ASSERT_EQ(done.status, 0) << done.err;
  int status = -1;
  EXPECT_EQ(shell("head -1 " + recording + " | jq -c '[.event, .seq, .sample]'", &status), "[\"start\",0,true]\n");
}

TEST_F(RunCommand, AnExistingRecordingIsRefusedAndLeftAlone) {
  const std::string recording = dir_.write("taken.jsonl", "keep me\n");
  const Finished done = run(kGreeting, {"--input", R"({"name": "Ada"})", "--record", recording});
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.out, "");
  EXPECT_NE(done.err.find("adapter_error: could not create the recording " + recording), std::string::npos)
      << done.err;
  EXPECT_EQ(read_file(recording), "keep me\n");
}

TEST_F(RunCommand, ARedactedRecordingKeepsItsFullLinesInAPrivateCompanion) {
  const std::string recording = path("private.jsonl");
  const mode_t old_mask = umask(0);  // the companion stays private whatever the umask
  const Finished done = run(kGreeting, {"--input", R"({"name": "Ada"})", "--record", recording, "--redact"});
  umask(old_mask);
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.err.rfind("sensitive replay companion: " + recording + ".replay.jsonl\n", 0), 0u) << done.err;
  const auto perms = std::filesystem::status(recording + ".replay.jsonl").permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  int status = -1;
  EXPECT_EQ(shell("jq -c 'select(.event == \"log\") | .message | keys' " + recording, &status), "[\"redacted\"]\n");
  EXPECT_EQ(shell("jq -r 'select(.event == \"log\") | .message' " + recording + ".replay.jsonl", &status),
            "hello\n");
}

}  // namespace
}  // namespace dravelin::cli
