// Adapters as real subprocesses written in shell, jq and python: the exchanges, their failures, and how the
// adapters end. After every test no child of this process is left, zombies included.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cli/adapter_hosts.h"
#include "cli/adapter_process.h"
#include "cli/adapter_support.h"
#include "cli/adapters.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace {

using dravelin::cli::AdapterSetup;
using dravelin::cli::ProcessAdapterHost;
using dravelin::cli::setup_adapters;
using dravelin::runtime::CallArguments;
using dravelin::runtime::Value;
using dravelin::syntax::NeedKind;
using dravelin::testing::alive;
using dravelin::testing::eventually;
using dravelin::testing::live_group_members;
using dravelin::testing::program_with_needs;
using dravelin::testing::ps_children;
using dravelin::testing::shell_quoted;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string python(const std::string& script) {
  return std::string(DRAVELIN_PYTHON3) + " -u -c " + shell_quoted(script);
}

class Adapters : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_THAT(ps_children(getpid()), IsEmpty()); }

  // Binds the capability `t` of the given kind to the command.
  static AdapterSetup bind(NeedKind kind, const std::string& command) {
    auto setup = setup_adapters(program_with_needs({{"t", kind}}), {"t=" + command}, {});
    EXPECT_TRUE(setup.ok());
    return std::move(setup).value();
  }

  static ProcessAdapterHost& host(AdapterSetup& setup) {
    return dynamic_cast<ProcessAdapterHost&>(*setup.hosts.at("t"));
  }
};

// What an operation gave, in one line: "value <tagged JSON>", "observation <JSON>" or "error <message>"
// with " (retryable)" when it is.
std::string outcome(dravelin::record::CapabilityHost& host, const std::string& operation, CallArguments args = {}) {
  auto describe_error = [](const dravelin::runtime::RuntimeError& e) {
    EXPECT_EQ(e.code, dravelin::runtime::RuntimeErrorCode::AdapterError);
    return "error " + e.message + (e.retryable ? " (retryable)" : "");
  };
  if (operation == "observe") {
    dravelin::runtime::Handle handle;
    handle.capability = "t";
    handle.id = "w-1";
    auto observation = host.observe(handle);
    if (!observation) return describe_error(observation.error());
    std::string text;
    observation->write_json(text);
    return "observation " + text;
  }
  auto value = host.call(operation, std::move(args));
  if (!value) return describe_error(value.error());
  return "value " + dravelin::json::to_compact(dravelin::runtime::to_tagged_json(value.value()));
}

struct ExchangeCase {
  std::string name;
  NeedKind kind;
  std::string command;
  std::string operation;  // a verb, or "observe"
  std::string expected;
};
void PrintTo(const ExchangeCase& c, std::ostream* out) { *out << c.name; }

class Exchanges : public Adapters, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(Exchanges, GiveTheAnswerOrTheAdaptersFailure) {
  AdapterSetup setup = bind(GetParam().kind, GetParam().command);
  EXPECT_EQ(outcome(*setup.hosts.at("t"), GetParam().operation), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, Exchanges,
    ::testing::Values(
        ExchangeCase{"ShellResult", NeedKind::Tool, R"(while read -r l; do echo '{"result":{"n":1}}'; done)", "run",
                     R"(value {"n":1})"},
        ExchangeCase{"JqSeesTheRequest", NeedKind::Tool, "jq -c --unbuffered '{result: .}'", "run",
                     R"(value {"args":{},"capability":"t","operation":"call","verb":"run"})"},
        ExchangeCase{"JqRetryableError", NeedKind::Tool,
                     R"(jq -c --unbuffered '{error: {message: ("busy with " + .verb), retryable: true}}')", "run",
                     "error busy with run (retryable)"},
        ExchangeCase{"ErrorWithoutRetryable", NeedKind::Person, R"(read -r l; echo '{"error":{"message":"no"}}')",
                     "ask", "error no"},
        ExchangeCase{"ErrorWithoutMessage", NeedKind::Tool, R"(read -r l; echo '{"error":{},"result":1}')", "run",
                     "error adapter error"},
        ExchangeCase{"SpawnOnAnAgentGivesAHandle", NeedKind::Agent,
                     R"(jq -c --unbuffered '{result: {capability: .capability, id: "w-1", cwd: "/tmp"}}')", "spawn",
                     R"(value {"$zem":"handle","capability":"t","cwd":"/tmp","id":"w-1"})"},
        ExchangeCase{"SpawnAnsweredWithText", NeedKind::Agent, R"(read -r l; echo '{"result":"w-1"}')", "spawn",
                     R"(error invalid type: string "w-1", expected struct Handle)"},
        ExchangeCase{"PythonObservation", NeedKind::Agent,
                     python("import sys, json\n"
                            "for line in sys.stdin:\n"
                            "    request = json.loads(line)\n"
                            "    print(json.dumps({'observation': {'status': 'exited', 'last_message': "
                            "request['handle']['id'], 'tail': 'ok', 'exit_code': 0, 'pid': 12}}))\n"),
                     "observe",
                     R"(observation {"status":"exited","last_message":"w-1","tail":"ok","exit_code":0,"pid":12})"},
        ExchangeCase{"ObservationThatIsNoObject", NeedKind::Agent, R"(read -r l; echo '{"observation":"x"}')",
                     "observe", R"(error invalid type: string "x", expected struct Observation)"},
        ExchangeCase{"ObservationAnsweredAsResult", NeedKind::Agent, R"(read -r l; echo '{"result":{}}')", "observe",
                     "error adapter `t` reply lacks `observation`"},
        ExchangeCase{"ReplyLackingBoth", NeedKind::Tool, R"(read -r l; echo '{"ok":1}')", "run",
                     "error adapter `t` reply lacks `result`"},
        ExchangeCase{"GarbageLine", NeedKind::Tool, "read -r l; echo 'not json'", "run",
                     "error adapter `t` returned malformed JSON: expected ident at line 1 column 2"},
        ExchangeCase{"EmptyLine", NeedKind::Tool, "read -r l; echo", "run",
                     "error adapter `t` returned malformed JSON: EOF while parsing a value at line 1 column 0"},
        ExchangeCase{"TwoValuesOnOneLine", NeedKind::Tool, R"(read -r l; echo '{"result":1} {}')", "run",
                     "error adapter `t` returned malformed JSON: trailing characters at line 1 column 14"},
        ExchangeCase{"LineThatIsNotUtf8", NeedKind::Tool, R"(read -r l; printf '{"result":"\377"}\n')", "run",
                     "error could not read adapter `t`: the line is not valid UTF-8"},
        ExchangeCase{"LastLineWithoutLineEnd", NeedKind::Tool, R"(read -r l; printf '{"result":2}')", "run", "value 2"},
        ExchangeCase{"ExitAfterReading", NeedKind::Tool, "read -r l; exit 3", "run",
                     "error adapter `t` exited unexpectedly: exit status 3 (wait status 768)"},
        ExchangeCase{"KilledAfterReading", NeedKind::Tool, "read -r l; kill -KILL $$", "run",
                     "error adapter `t` exited unexpectedly: killed by signal 9 (wait status 9)"},
        ExchangeCase{"StdoutClosedWhileRunning", NeedKind::Tool, "exec >&-; read -r l; exec sleep 30", "run",
                     "error adapter `t` exited unexpectedly: no exit status known"}),
    [](const ::testing::TestParamInfo<ExchangeCase>& info) { return info.param.name; });

TEST_F(Adapters, TheRequestLineArrivesExactlyAsWritten) {
  AdapterSetup setup = bind(NeedKind::Tool, python("import sys, json\n"
                                                   "for line in sys.stdin:\n"
                                                   "    print(json.dumps({'result': line}))\n"));
  CallArguments args;
  args.positional = {Value::number(1), Value::prob(0.5)};
  args.named.emplace("k", Value::text("é\"\n"));
  EXPECT_EQ(outcome(*setup.hosts.at("t"), "run", args),
            "value " + dravelin::json::to_compact(dravelin::json::Value(
                           R"({"args":{"named":{"k":"é\"\n"},"positional":[1,{"$zem":"prob","value":0.5}]},)"
                           R"("capability":"t","operation":"call","verb":"run"})"
                           "\n")));
}

TEST_F(Adapters, AFailedExchangeLeavesTheNextOneToTheNextLine) {
  AdapterSetup setup =
      bind(NeedKind::Tool, R"(read -r l; echo garbage; read -r l; printf '\377\n'; read -r l; echo '{"ok":1}';)"
                           R"( while read -r l; do echo '{"result":"fine"}'; done)");
  auto& h = *setup.hosts.at("t");
  EXPECT_EQ(outcome(h, "a"), "error adapter `t` returned malformed JSON: expected value at line 1 column 1");
  EXPECT_EQ(outcome(h, "b"), "error could not read adapter `t`: the line is not valid UTF-8");
  EXPECT_EQ(outcome(h, "c"), "error adapter `t` reply lacks `result`");
  EXPECT_EQ(outcome(h, "d"), R"(value "fine")");
  EXPECT_EQ(outcome(h, "e"), R"(value "fine")");
}

TEST_F(Adapters, LongLinesGoBothWays) {
  AdapterSetup setup = bind(NeedKind::Llm, python("import sys, json\n"
                                                  "for line in sys.stdin:\n"
                                                  "    text = json.loads(line)['args']['positional'][0]\n"
                                                  "    print(json.dumps({'result': text[::-1]}))\n"));
  std::string text;
  for (int i = 0; i < 300000; ++i) text += static_cast<char>('a' + i % 26);
  auto answer = setup.hosts.at("t")->call("write", dravelin::testing::positional({Value::text(text)}));
  ASSERT_TRUE(answer.ok()) << answer.error();
  ASSERT_TRUE(answer->is_text());
  EXPECT_EQ(answer->as_text(), std::string(text.rbegin(), text.rend()));
}

// An adapter that floods stdout without a line end gets a clear error instead of the run's memory; the reader
// drops the overlong line, and the line after it is read as usual.
TEST_F(Adapters, AnOverlongLineIsRefusedAndSkippedToItsEnd) {
  auto started = dravelin::cli::AdapterProcess::start(
      "head -c 50000 /dev/zero | tr '\\0' x; echo; echo after; head -c 3000 /dev/zero | tr '\\0' y; echo");
  ASSERT_TRUE(started.ok()) << started.error();
  dravelin::cli::AdapterProcess& process = **started;
  // Each read takes no more than the limit of the overlong line, so a flood never holds a read for long.
  int refusals = 0;
  auto read = process.read_line(4096);
  for (; !read.ok() && refusals < 20; read = process.read_line(4096)) {
    EXPECT_EQ(read.error(), "the line is longer than 4096 bytes");
    ++refusals;
  }
  EXPECT_GE(refusals, 1);
  EXPECT_LE(refusals, 50000 / 4096 + 1);
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read->value_or("<end>"), "after");
  auto third = process.read_line(4096);
  ASSERT_TRUE(third.ok()) << third.error();
  EXPECT_EQ(third->value_or("<end>"), std::string(3000, 'y'));
  process.kill_and_reap();
}

TEST_F(Adapters, AnAdapterThatFloodsStdoutFailsTheCallAndIsReaped) {
  AdapterSetup setup = bind(NeedKind::Tool, "read -r l; exec yes x | tr -d '\\n'");
  EXPECT_EQ(outcome(*setup.hosts.at("t"), "run"), "error could not read adapter `t`: the line is longer than 64 MiB");
}

TEST_F(Adapters, AWriteToAnAdapterThatHasEndedIsAnErrorNotSigpipe) {
  struct sigaction current {};
  sigaction(SIGPIPE, nullptr, &current);
  ASSERT_EQ(current.sa_handler, SIG_DFL) << "the test needs SIGPIPE at its default action";
  AdapterSetup setup = bind(NeedKind::Tool, "exit 5");
  EXPECT_EQ(host(setup).process().state(milliseconds{5000}), 5 << 8);
  EXPECT_EQ(outcome(*setup.hosts.at("t"), "run"), "error could not write adapter `t`: Broken pipe");
  EXPECT_EQ(outcome(*setup.hosts.at("t"), "run"), "error could not write adapter `t`: Broken pipe");
}

TEST_F(Adapters, AShellThatEndsWhileABackgroundChildHoldsStdoutIsSeenToEnd) {
  AdapterSetup setup = bind(NeedKind::Tool, "sleep 30 & read -r l; exit 4");
  const pid_t group = host(setup).process().pid();
  ASSERT_TRUE(eventually([&] { return live_group_members(group).size() == 2; }));
  const std::vector<pid_t> members = live_group_members(group);
  const auto start = Clock::now();
  EXPECT_EQ(outcome(*setup.hosts.at("t"), "run"),
            "error adapter `t` exited unexpectedly: exit status 4 (wait status 1024)");
  EXPECT_LT(Clock::now() - start, milliseconds{5000}) << "the background child lives for 30 s";
  setup.hosts.clear();
  for (pid_t pid : members) EXPECT_TRUE(eventually([&] { return !alive(pid); })) << pid;
}

// ---- ending ----

TEST_F(Adapters, AnAdapterFinishesItsWorkAfterItsInputCloses) {
  const std::filesystem::path mark = dravelin::testing::fresh_directory() / "finished";
  AdapterSetup setup = bind(NeedKind::Tool, "cat >/dev/null; sleep 0.2; echo done > " + shell_quoted(mark.string()));
  const auto start = Clock::now();
  setup.hosts.clear();
  EXPECT_TRUE(std::filesystem::exists(mark)) << "killed before it finished";
  EXPECT_GE(Clock::now() - start, milliseconds{200});
}

TEST_F(Adapters, AdaptersThatIgnoreTheEndOfInputAreKilledTogetherAfterTheGrace) {
  auto setup =
      setup_adapters(program_with_needs({{"a", NeedKind::Tool}, {"b", NeedKind::Agent}, {"c", NeedKind::Tool}}),
                     {"a=exec sleep 30", "b=trap '' TERM; while :; do sleep 1; done", "c=exec sleep 30"}, {});
  ASSERT_TRUE(setup.ok());
  const pid_t b = dynamic_cast<ProcessAdapterHost&>(*setup->hosts.at("b")).process().pid();
  ASSERT_TRUE(eventually([&] { return live_group_members(b).size() == 2; }));
  const std::vector<pid_t> members = live_group_members(b);
  const auto start = Clock::now();
  setup->hosts.clear();
  const auto took = Clock::now() - start;
  EXPECT_GE(took, milliseconds{900});
  EXPECT_LT(took, milliseconds{2500}) << "the adapters are waited for jointly";
  for (pid_t pid : members) EXPECT_TRUE(eventually([&] { return !alive(pid); })) << pid;
}

TEST_F(Adapters, TheWholeProcessGroupEndsWithTheAdapter) {
  AdapterSetup setup = bind(NeedKind::Tool, "sleep 30 & exec cat >/dev/null");
  const pid_t group = host(setup).process().pid();
  ASSERT_TRUE(eventually([&] { return live_group_members(group).size() == 2; }));
  const std::vector<pid_t> members = live_group_members(group);
  setup.hosts.clear();
  for (pid_t pid : members) EXPECT_TRUE(eventually([&] { return !alive(pid); })) << pid;
}

TEST_F(Adapters, NoAdapterHoldsAnothersInputOpen) {
  const std::filesystem::path mark = dravelin::testing::fresh_directory() / "a-saw-the-end";
  auto setup = setup_adapters(program_with_needs({{"a", NeedKind::Tool}, {"b", NeedKind::Tool}}),
                              {"a=cat >/dev/null; echo done > " + shell_quoted(mark.string()), "b=exec sleep 30"}, {});
  ASSERT_TRUE(setup.ok());
  // Dropping `a` alone closes its input; `b`, started after it, must not hold a copy.
  setup->hosts.erase("a");
  EXPECT_TRUE(eventually([&] { return std::filesystem::exists(mark); }));
}

}  // namespace
