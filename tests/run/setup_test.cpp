#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/run.h"
#include "run/run_test_support.h"
#include "support/zem_server.h"

namespace dravelin::run {
namespace {

using dravelin::testing::ScopedEnv;
using dravelin::testing::ScratchDir;
using runtime::RuntimeErrorCode;
using testing::compile_or_fail;
using testing::ManifestHost;

constexpr const char* kTwoNeeds = R"(program office
needs mail: agent
needs files: tool

task main:
  a = files.read "notes"
  b = files.move "notes"
  c = files.delete "notes"
  m = mail.spawn "notes"
  m.send "thanks"
  stop "done"
)";

// Hosts by capability name: a list of manifest verbs, or none for a host without a manifest.
using HostSpec = std::map<std::string, std::optional<std::vector<std::string>>>;

record::CapabilityHosts make_hosts(const ir::Ir& program, const HostSpec& spec) {
  record::CapabilityHosts hosts;
  for (const auto& [name, verbs] : spec) {
    record::NeedKind kind = record::NeedKind::Tool;
    for (const ir::Need& need : program.needs)
      if (need.name == name) kind = need.kind;
    hosts.emplace(name, std::make_unique<ManifestHost>(kind, verbs));
  }
  return hosts;
}

struct RefusalCase {
  std::string name;
  std::string task;
  std::function<void(record::RunOptions&)> options;
  HostSpec hosts;
  RuntimeErrorCode code;
  std::string message;
  std::optional<std::string> span_of;  // the need whose declaration the error points at
};

class StartRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(StartRefusals, RefuseBeforeAnythingIsCreated) {
  const RefusalCase& c = GetParam();
  ScopedEnv env;
  env.unset("DRAVELIN_PROFILES");
  ScratchDir dir;
  const ir::Ir program = compile_or_fail(kTwoNeeds);
  record::RunOptions options;
  c.options(options);
  const std::string recording = (dir.path() / "out.jsonl").string();
  if (!options.replay) options.record = recording;

  auto run = start_task_run(program, c.task, options, make_hosts(program, c.hosts));
  ASSERT_FALSE(run.ok());
  EXPECT_EQ(run.error().code, c.code);
  EXPECT_EQ(run.error().message, c.message);
  EXPECT_FALSE(run.error().retryable);
  syntax::Span span;
  if (c.span_of) {
    for (const ir::Need& need : program.needs)
      if (need.name == *c.span_of) span = need.span;
    EXPECT_NE(span.start.line, 0u);
  }
  EXPECT_EQ(run.error().span, span);
  EXPECT_FALSE(std::filesystem::exists(recording)) << "a refused run created its recording";
}

INSTANTIATE_TEST_SUITE_P(
    Run, StartRefusals,
    ::testing::Values(
        RefusalCase{"record_with_replay_before_task_lookup", "nope",
                    [](record::RunOptions& o) {
                      o.replay = "/nonexistent/in.jsonl";
                      o.record = "/nonexistent/out.jsonl";
                    },
                    {}, RuntimeErrorCode::TypeError, "the `record` and `replay` options are mutually exclusive",
                    std::nullopt},
        RefusalCase{"task_not_declared", "Main", [](record::RunOptions&) {}, {{"mail", {}}, {"files", {}}},
                    RuntimeErrorCode::TypeError, "`office` declares no task `Main`", std::nullopt},
        RefusalCase{"first_unbound_capability_in_declaration_order", "main", [](record::RunOptions&) {},
                    {{"files", {}}}, RuntimeErrorCode::BindingMissing, "capability `mail` was not bound", "mail"},
        RefusalCase{"manifest_lacks_verbs_listed_in_byte_order", "main", [](record::RunOptions&) {},
                    {{"mail", {}}, {"files", std::vector<std::string>{"read"}}}, RuntimeErrorCode::VerbMissing,
                    "the adapter bound to `files` does not declare `delete`, `move`", "files"},
        RefusalCase{"manifest_of_an_agent_lacks_a_verb_called_on_its_name", "main", [](record::RunOptions&) {},
                    {{"mail", std::vector<std::string>{"send"}}, {"files", {}}}, RuntimeErrorCode::VerbMissing,
                    "the adapter bound to `mail` does not declare `spawn`", "mail"},
        RefusalCase{"unknown_model_before_the_recording", "main",
                    [](record::RunOptions& o) { o.model = "zem-nowhere"; },
                    {{"mail", {}}, {"files", std::vector<std::string>{"read", "move", "delete"}}},
                    RuntimeErrorCode::ProfileMissing,
                    "no profile for model `zem-nowhere`; set DRAVELIN_PROFILES or pass `profiles`", std::nullopt},
        // Two inputs of control characters, each within a value's bound, take six bytes a character in the start
        // line: more than a line holds.
        RefusalCase{"start_line_too_long_for_a_recording", "main",
                    [](record::RunOptions& o) {
                      const runtime::Value wide = runtime::Value::text(std::string(size_t{11} << 19, '\x01'));
                      o.inputs = runtime::Record{{"t", wide}, {"u", wide}};
                    },
                    {{"mail", {}}, {"files", {}}}, RuntimeErrorCode::TypeError,
                    "a `start` event would be longer than the 67108864 bytes a recording line may hold",
                    std::nullopt}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(RunCreate, ChecksTheTaskBeforeCreatingTheRecording) {
  ScratchDir dir;
  record::RunOptions options;
  options.record = (dir.path() / "out.jsonl").string();
  auto run = Run::create(compile_or_fail("program p\n\ntask main:\n  stop \"x\"\n"), "other", options, {});
  ASSERT_FALSE(run.ok());
  EXPECT_EQ(run.error().message, "`p` declares no task `other`");
  EXPECT_FALSE(std::filesystem::exists(*options.record));
}

TEST(RunCreate, ReplayMarkWithoutARecordingIsRefused) {
  auto run = Run::create(ir::Ir::empty_named("replay"), "", {}, {}, true);
  ASSERT_FALSE(run.ok());
  EXPECT_EQ(run.error().code, RuntimeErrorCode::ReplayDiverged);
  EXPECT_EQ(run.error().message, "the recording start event lacks linked IR, resolved profile or sample metadata");
}

TEST(RunCreate, AHostWithoutManifestAndAFullManifestPass) {
  ScopedEnv env;
  env.unset("DRAVELIN_PROFILES");
  const ir::Ir program = compile_or_fail(kTwoNeeds);
  auto run = start_task_run(program, "main", {},
                            make_hosts(program, {{"mail", {}}, {"files", std::vector<std::string>{"delete", "move",
                                                                                                   "read", "stat"}}}));
  ASSERT_TRUE(run.ok()) << run.error();
  EXPECT_EQ(run->status(), RunStatus::Idle);
  EXPECT_EQ(run->state().profile().model, "zem-1.13.0");  // zem-latest, through its alias
  EXPECT_TRUE(run->state().journal.events.empty());
  EXPECT_FALSE(run->last_pause());
}

TEST(RunCreate, IdsCountRunsOfTheProcess) {
  const ir::Ir program = compile_or_fail("program p\n\ntask main:\n  stop \"x\"\n");
  auto first = Run::create(program, "main", {}, {});
  auto second = Run::create(program, "main", {}, {});
  ASSERT_TRUE(first.ok() && second.ok());
  const std::string prefix = "run_" + std::to_string(getpid()) + "_";
  ASSERT_EQ(first->id().rfind(prefix, 0), 0u) << first->id();
  ASSERT_EQ(second->id().rfind(prefix, 0), 0u) << second->id();
  EXPECT_EQ(std::stoull(second->id().substr(prefix.size())), std::stoull(first->id().substr(prefix.size())) + 1);
}

TEST(RunCreate, ASeededSampleFixesTheRandomSource) {
  const ir::Ir program = compile_or_fail("program p\n\ntask main:\n  stop \"x\"\n");
  record::RunOptions seeded;
  seeded.sample = record::Sample{record::Sample::Seeded{7}};
  auto a = Run::create(program, "main", seeded, {});
  auto b = Run::create(program, "main", seeded, {});
  auto unseeded = Run::create(program, "main", {}, {});
  ASSERT_TRUE(a.ok() && b.ok() && unseeded.ok());
  EXPECT_EQ(a->state().journal.random, b->state().journal.random);
  EXPECT_EQ(a->state().journal.random, zem::Xoshiro256StarStar::from_seed(7).state());
  EXPECT_NE(unseeded->state().journal.random, a->state().journal.random);
  EXPECT_EQ(a->state().metadata.sample, *seeded.sample);
  EXPECT_EQ(unseeded->state().metadata.sample, record::Sample{});  // absent is written as false
}

TEST(RunCreate, AnExistingRecordingIsRefusedAndLeftUntouched) {
  ScratchDir dir;
  const std::string path = dir.write("taken.jsonl", "precious\n");
  record::RunOptions options;
  options.record = path;
  auto run = Run::create(compile_or_fail("program p\n\ntask main:\n  stop \"x\"\n"), "main", options, {});
  ASSERT_FALSE(run.ok());
  EXPECT_EQ(run.error().code, RuntimeErrorCode::AdapterError);
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "precious\n");
}

TEST(RunCreate, TheRecordingIsCreatedEmpty) {
  ScratchDir dir;
  record::RunOptions options;
  options.record = (dir.path() / "new.jsonl").string();
  auto run = Run::create(compile_or_fail("program p\n\ntask main:\n  stop \"x\"\n"), "main", options, {});
  ASSERT_TRUE(run.ok()) << run.error();
  EXPECT_TRUE(std::filesystem::exists(*options.record));
  EXPECT_EQ(std::filesystem::file_size(*options.record), 0u);
}

// The descriptors this process holds open on `path`, found through /proc/self/fd.
std::vector<int> descriptors_on(const std::filesystem::path& path) {
  std::vector<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), ec);
    if (!ec && target == path) fds.push_back(std::stoi(entry.path().filename().string()));
  }
  return fds;
}

TEST(RunCreate, RecordingFilesAreClosedOnExec) {
  ScratchDir dir;
  record::RunOptions options;
  options.record = (std::filesystem::canonical(dir.path()) / "secret.jsonl").string();
  options.redact = true;
  auto run = Run::create(compile_or_fail("program p\n\ntask main:\n  stop \"x\"\n"), "main", options, {});
  ASSERT_TRUE(run.ok()) << run.error();
  for (const std::string& path : {*options.record, *options.record + ".replay.jsonl"}) {
    const std::vector<int> fds = descriptors_on(path);
    ASSERT_EQ(fds.size(), 1u) << path;
    EXPECT_NE(fcntl(fds.front(), F_GETFD) & FD_CLOEXEC, 0) << path << " would leak into child processes";
  }
  EXPECT_EQ(std::filesystem::status(*options.record + ".replay.jsonl").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace dravelin::run
