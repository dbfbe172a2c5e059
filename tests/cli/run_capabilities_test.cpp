// `dravelin run` with bound capabilities, end to end: every kind's verbs through the demonstration stubs and
// through adapters written in shell, jq and python; adapters that fail, talk nonsense, exit, hang or outlive
// their input. After every run nothing it started is alive and every adapter's `sh` was waited for.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/printed_outcomes.h"
#include "cli/run_reaped.h"
#include "json/reader.h"
#include "json/writer.h"
#include "support/zem_server.h"
#include "support/files.h"

namespace dravelin::cli {
namespace {

using testing::outcomes;
using testing::ReapedOptions;
using testing::ReapedRun;
using testing::run_reaped;
using testing::ScratchDir;
using Clock = std::chrono::steady_clock;

constexpr const char* kAllKinds = R"(program all_kinds
out o
needs coder: agent
needs boss: person
needs pen: llm
needs files: tool

task main:
  h = coder.spawn "fix the bug"
  h.send "add a test"
  seen = h.observe()
  waited = h.wait()
  h.stop()
  boss.notify "started"
  ok = boss.ask("merge?", options: ["merge", "hold"])
  text = pen.write "summary" using seen.last_message
  listing = files.list "/src"
  o = [h.id, seen.last_message, waited.last_message, ok.answer, text, listing]
)";

// The same answers in three languages, each marked with its own prefix. The shell one also keeps every
// request line it was sent in the file named by its first argument.
constexpr const char* kShellAdapter = R"(log=$1
while IFS= read -r line; do
  printf '%s\n' "$line" >> "$log"
  case "$line" in
    *'"operation":"observe"'*) echo '{"observation":{"status":"running","last_message":"sh looked","tail":"","pid":7}}' ;;
    *'"verb":"spawn"'*) echo '{"result":{"capability":"coder","id":"sh-1"}}' ;;
    *'"verb":"wait"'*) echo '{"result":{"status":"waiting","last_message":"sh idle","tail":""}}' ;;
    *'"verb":"write"'*) echo '{"result":"sh wrote"}' ;;
    *'"verb":"list"'*) echo '{"result":["a.c","b.c"]}' ;;
    *) echo '{"result":null}' ;;
  esac
done
)";

constexpr const char* kJqFilter = R"(
if .operation == "observe" then {observation: {status: "running", last_message: ("jq looked at " + .handle.id), tail: ""}}
elif .verb == "spawn" then {result: {capability: .capability, id: "jq-1"}}
elif .verb == "wait" then {result: {status: "waiting", last_message: "jq idle", tail: ""}}
elif .verb == "write" then {result: ("jq wrote " + .args.positional[0] + " of " + .args.named.using)}
elif .verb == "list" then {result: [.args.positional[0] + "/x.c"]}
else {result: null} end
)";

constexpr const char* kPythonAdapter = R"(import json, sys
for line in sys.stdin:
    request = json.loads(line)
    verb = request.get("verb")
    if request["operation"] == "observe":
        reply = {"observation": {"status": "running", "last_message": "py looked", "tail": "", "exit_code": None}}
    elif verb == "spawn":
        reply = {"result": {"capability": request["capability"], "id": "py-1", "pid": 42}}
    elif verb == "wait":
        reply = {"result": {"status": "exited", "last_message": "py idle", "tail": "", "exit_code": 0}}
    elif verb == "write":
        reply = {"result": "py wrote " + request["args"]["positional"][0]}
    elif verb == "list":
        reply = {"result": {"$zem": "prob", "value": 0.5}}
    else:
        reply = {"result": None}
    print(json.dumps(reply))
)";

using dravelin::test_files::read_file;

std::string member(const json::Value& outcome, std::string_view key) {
  const json::Value* found = outcome.find(key);
  return found == nullptr ? "(absent)" : json::to_compact(*found);
}

std::vector<std::string> kinds(const std::vector<json::Value>& printed) {
  std::vector<std::string> out;
  for (const json::Value& outcome : printed) out.push_back(member(outcome, "kind"));
  return out;
}

class RunCapabilities : public ::testing::Test {
 protected:
  ReapedRun run(const std::string& program, std::vector<std::string> binding, ReapedOptions options = {}) {
    std::vector<std::string> args = {"run", dir_.write("program.zem", program)};
    args.insert(args.end(), binding.begin(), binding.end());
    ReapedRun done = run_reaped(args, options);
    EXPECT_EQ(done.leftovers, std::vector<std::string>{}) << "the run left processes behind";
    return done;
  }
  // Binds each of `names` to `command`.
  static std::vector<std::string> bind_all(const std::vector<std::string>& names, const std::string& command) {
    std::vector<std::string> out;
    for (const std::string& name : names) out.insert(out.end(), {"--bind", name + "=" + command});
    return out;
  }
  std::string path(const std::string& name) const { return (dir_.path() / name).string(); }

  ScratchDir dir_;
};

struct Binding {
  std::string name;
  std::string outputs;  // the compact JSON of the output `o`
};

class EveryKind : public RunCapabilities, public ::testing::WithParamInterface<Binding> {};

TEST_P(EveryKind, AnswersEachVerbThroughItsHost) {
  const Binding& c = GetParam();
  const std::vector<std::string> names = {"coder", "boss", "pen", "files"};
  std::vector<std::string> binding;
  if (c.name == "stubs") {
    for (const std::string& name : names) binding.insert(binding.end(), {"--stub", name});
  } else if (c.name == "shell") {
    binding = bind_all(names, "sh " + dir_.write("adapter.sh", kShellAdapter) + " " + path("requests.log"));
  } else if (c.name == "jq") {
    binding = bind_all(names, "jq -c --unbuffered -f " + dir_.write("adapter.jq", kJqFilter));
  } else {
    binding = bind_all(names, std::string(DRAVELIN_PYTHON3) + " -u " + dir_.write("adapter.py", kPythonAdapter));
  }
  ReapedOptions options;
  options.input = "merge\n";
  const ReapedRun done = run(kAllKinds, binding, options);
  ASSERT_EQ(done.status, 0) << done.err;
  const std::vector<json::Value> printed = outcomes(done.out);
  // The wait pauses and goes on by itself; the person's question is answered on stdin.
  ASSERT_EQ(kinds(printed), (std::vector<std::string>{R"("waiting")", R"("confirm")", R"("done")"}));
  EXPECT_EQ(member(printed[0], "on"), R"("coder")");
  EXPECT_EQ(member(printed[0], "condition"), R"("idle")");
  EXPECT_EQ(member(printed[1], "options"), R"(["merge","hold"])");
  const json::Value* outputs = printed[2].find("outputs");
  ASSERT_NE(outputs, nullptr);
  EXPECT_EQ(member(*outputs, "o"), c.outputs);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, EveryKind,
    ::testing::Values(
        Binding{"stubs",
                R"(["stub-1","built-in stub observation","built-in stub observation","merge","summary",{}])"},
        Binding{"shell", R"(["sh-1","sh looked","sh idle","merge","sh wrote",["a.c","b.c"]])"},
        Binding{"jq", R"(["jq-1","jq looked at jq-1","jq idle","merge","jq wrote summary of jq looked at jq-1",)"
                      R"(["/src/x.c"]])"},
        Binding{"python", R"(["py-1","py looked","py idle","merge","py wrote summary",{"$zem":"prob","value":0.5}])"}),
    [](const ::testing::TestParamInfo<Binding>& info) { return info.param.name; });

TEST_F(RunCapabilities, StubsAnnounceThemselvesAndPrintWhatTheyAreAsked) {
  ReapedOptions options;
  options.input = "hold\n";
  const ReapedRun done = run(kAllKinds, {"--stub", "files", "--stub", "pen", "--stub", "boss", "--stub", "coder"},
                             options);
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.err,
            "[stub] `coder` is using the built-in Agent demonstration adapter\n"
            "[stub] `boss` is using the built-in Person demonstration adapter\n"
            "[stub] `pen` is using the built-in Llm demonstration adapter\n"
            "[stub] `files` is using the built-in Tool demonstration adapter\n"
            "[stub:coder] spawn {\"positional\":[\"fix the bug\"]}\n"
            "[stub:coder] send {\"positional\":[{\"$zem\":\"handle\",\"capability\":\"coder\",\"id\":\"stub-1\"},"
            "\"add a test\"]}\n"
            "[stub:coder] wait {\"positional\":[{\"$zem\":\"handle\",\"capability\":\"coder\",\"id\":\"stub-1\"}]}\n"
            "[stub:coder] stop {\"positional\":[{\"$zem\":\"handle\",\"capability\":\"coder\",\"id\":\"stub-1\"}]}\n"
            "[stub:boss] notify {\"positional\":[\"started\"]}\n"
            "merge?\noptions: merge, hold\n"
            "[stub:pen] write {\"positional\":[\"summary\"],\"named\":{\"using\":\"built-in stub observation\"}}\n"
            "[stub:files] list {\"positional\":[\"/src\"]}\n");
}

TEST_F(RunCapabilities, AdaptersReceiveOneCompactRequestLinePerEffect) {
  const std::string adapter = "sh " + dir_.write("adapter.sh", kShellAdapter) + " " + path("requests.log");
  ReapedOptions options;
  options.input = "merge\n";
  const ReapedRun done = run(kAllKinds, bind_all({"coder", "files"}, adapter), options);
  // Only the capabilities bound: the others are refused before anything starts.
  EXPECT_EQ(done.status, 1);
  EXPECT_NE(done.err.find("binding_missing: capability `boss` was not bound"), std::string::npos) << done.err;
  EXPECT_FALSE(std::filesystem::exists(path("requests.log")));

  const ReapedRun bound = run(kAllKinds, bind_all({"coder", "boss", "pen", "files"}, adapter), options);
  ASSERT_EQ(bound.status, 0) << bound.err;
  const std::string handle = R"({"capability":"coder","id":"sh-1"})";
  const std::string tagged = R"({"$zem":"handle","capability":"coder","id":"sh-1"})";
  EXPECT_EQ(read_file(path("requests.log")),
            R"({"args":{"positional":["fix the bug"]},"capability":"coder","operation":"call","verb":"spawn"})"
            "\n"
            R"({"args":{"positional":[)" + tagged + R"(,"add a test"]},"capability":"coder","operation":"call","verb":"send"})"
            "\n"
            R"({"capability":"coder","handle":)" + handle + R"(,"operation":"observe"})"
            "\n"
            R"({"args":{"positional":[)" + tagged + R"(]},"capability":"coder","operation":"call","verb":"wait"})"
            "\n"
            R"({"args":{"positional":[)" + tagged + R"(]},"capability":"coder","operation":"call","verb":"stop"})"
            "\n"
            R"({"args":{"positional":["started"]},"capability":"boss","operation":"call","verb":"notify"})"
            "\n"
            R"({"args":{"named":{"using":"sh looked"},"positional":["summary"]},"capability":"pen","operation":"call","verb":"write"})"
            "\n"
            R"({"args":{"positional":["/src"]},"capability":"files","operation":"call","verb":"list"})"
            "\n");
}

TEST_F(RunCapabilities, TakeOverHandsTheRunToAPerson) {
  const ReapedRun done =
      run("program p\nneeds boss: person\n\ntask main:\n  boss.take_over()\n", {"--stub", "boss"});
  EXPECT_EQ(done.status, 3) << done.err;
  const std::vector<json::Value> printed = outcomes(done.out);
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(member(printed[0], "reason"), R"("boss.take_over")");
}

constexpr const char* kRead = "program p\nout o\nneeds files: tool\n\ntask main:\n  o = files.read \"a.txt\"\n";

struct Fault {
  std::string name;
  std::string adapter;  // the command bound to `files`
  std::string input;
  int status;
  std::string err_contains;   // also accepted: `or_contains`
  std::string or_contains;
  std::vector<std::string> printed;  // the kinds of the outcomes
};

class AdapterFaults : public RunCapabilities, public ::testing::WithParamInterface<Fault> {};

TEST_P(AdapterFaults, EndTheRunCleanly) {
  const Fault& c = GetParam();
  ReapedOptions options;
  options.input = c.input;
  const auto started = Clock::now();
  const ReapedRun done = run(kRead, {"--bind", "files=" + c.adapter}, options);
  // Nothing waits for a background child or an adapter that ignores its input closing for long.
  EXPECT_LT(Clock::now() - started, std::chrono::seconds{15});
  EXPECT_EQ(done.signal, 0) << "ended by a signal";
  EXPECT_EQ(done.status, c.status) << done.err;
  const bool found = done.err.find(c.err_contains) != std::string::npos ||
                     (!c.or_contains.empty() && done.err.find(c.or_contains) != std::string::npos);
  EXPECT_TRUE(found) << done.err;
  EXPECT_EQ(kinds(outcomes(done.out)), c.printed);
}

const std::vector<std::string> kError = {R"("error")"};

INSTANTIATE_TEST_SUITE_P(
    Replies, AdapterFaults,
    ::testing::Values(
        Fault{"result", "jq -c --unbuffered '{result: .args.positional[0]}'", "", 0, "", "", {R"("done")"}},
        Fault{"error_not_retryable", R"(read -r l; echo '{"error":{"message":"disk on fire"}}')", "", 1,
              "adapter_error: disk on fire", "", kError},
        Fault{"error_retryable_declined", R"(read -r l; echo '{"error":{"message":"busy","retryable":true}}')",
              "n\n", 1, "retry? [y/N]\n", "", kError},
        Fault{"error_retryable_then_retried",
              "n=0; while read -r l; do n=$((n+1)); if [ $n = 1 ]; then "
              R"(echo '{"error":{"message":"busy","retryable":true}}'; else echo '{"result":"fine"}'; fi; done)",
              "y\n", 0, "adapter_error: busy", "", {R"("error")", R"("done")"}},
        Fault{"reply_lacking_both", R"(read -r l; echo '{"ok":1}')", "", 1,
              "adapter_error: adapter `files` reply lacks `result`", "", kError},
        Fault{"garbage_line", "read -r l; echo 'this is not json'", "", 1,
              "adapter_error: adapter `files` returned malformed JSON: ", "", kError},
        Fault{"exits_after_reading", "read -r l; exit 3", "", 1,
              "adapter `files` exited unexpectedly: exit status 3 (wait status 768)", "", kError},
        Fault{"exits_at_once", "exit 3", "", 1, "adapter `files` exited unexpectedly: exit status 3",
              "could not write adapter `files`: Broken pipe", kError},
        Fault{"background_child_holds_stdout", "sleep 30 & read -r l; exit 0", "", 1,
              "adapter `files` exited unexpectedly: exit status 0 (wait status 0)", "", kError},
        Fault{"ignores_the_end_of_its_input",
              R"(while read -r l; do echo '{"result":"ok"}'; done; trap '' TERM; sleep 30)", "", 0, "", "",
              {R"("done")"}}),
    [](const ::testing::TestParamInfo<Fault>& info) { return info.param.name; });

TEST_F(RunCapabilities, SigintDuringACallThatNeverGetsAnAnswerEndsEveryAdapter) {
  ReapedOptions options;
  options.interrupt_on = "never answering";
  const auto started = Clock::now();
  const ReapedRun done = run("program p\nout o\nneeds files: tool\nneeds helper: tool\n\ntask main:\n"
                             "  o = files.read \"a.txt\"\n",
                             {"--bind", "files=sleep 30 & read -r l; echo 'never answering' >&2; sleep 30",
                              "--bind", "helper=jq -c --unbuffered ."},
                             options);
  EXPECT_EQ(done.status, -1);
  EXPECT_EQ(done.signal, SIGINT);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds{15});
  EXPECT_EQ(done.out, "");
}

}  // namespace
}  // namespace dravelin::cli
