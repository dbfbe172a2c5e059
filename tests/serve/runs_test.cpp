// The store of runs: starting a run with its bindings, ended runs reduced to their final kind, and an abort
// whose execution failed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "serve/core/runs.h"
#include "serve_test_support.h"

namespace dravelin::serve::core {
namespace {

constexpr const char* kDone = "program p\nout greeting\n\ntask main:\n  greeting = \"hi\"\n";
constexpr const char* kConfirm =
    "program p\n\ntask main thresholds risk_confirm 0.5:\n  gate risk 0.9, confidence 0.9:\n"
    "    proceed -> log debug \"no confirmation needed\"\n";
constexpr const char* kNeeds =
    "program p\nneeds files: tool:\n  open(path) -> handle\n  read(path) -> text\n"
    "needs helper: agent\n\ntask main:\n  stop \"x\"\n";

// A host that is never asked anything in these tests.
class IdleHost final : public record::CapabilityHost {
 public:
  explicit IdleHost(record::NeedKind kind) : kind_(kind) {}
  record::NeedKind kind() const override { return kind_; }
  Result<runtime::Value, runtime::RuntimeError> call(std::string_view, runtime::CallArguments) override {
    return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, "not here"));
  }
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<record::Observation, runtime::RuntimeError> observe(const runtime::Handle&) override {
    return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, "not here"));
  }

 private:
  record::NeedKind kind_;
};

class RunStoreTest : public ::testing::Test {
 protected:
  std::string load(const std::string& source) {
    auto loaded = programs_.load(LoadRequest{source, std::nullopt, {}});
    EXPECT_TRUE(loaded.ok());
    return loaded.ok() ? loaded->first : std::string();
  }

  Result<std::string, Failure> start(const std::string& program_id, std::vector<Binding> bindings = {},
                                     std::vector<std::string> paths = {}) {
    StartRequest request{program_id, "main", {}, std::move(bindings), std::move(paths)};
    return runs_.start(
        programs_, std::move(request),
        [this](BindingSpec spec) {
          specs_.push_back(spec);
          return std::make_unique<IdleHost>(spec.kind);
        },
        [this](const std::string&) -> interp::EventSink {
          return [this](const record::RecordedEvent& event) -> Result<Unit, runtime::RuntimeError> {
            seen_.push_back(event.event.kind());
            if (fail_on_ && event.event.kind() == *fail_on_) {
              return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, "stdout is gone"));
            }
            return Unit{};
          };
        });
  }

  static std::string failure_text(const Failure& failure) {
    if (const auto* invalid = std::get_if<InvalidParams>(&failure)) return "invalid: " + invalid->message;
    if (const auto* runtime = std::get_if<runtime::RuntimeError>(&failure)) return "runtime: " + runtime->message;
    if (const auto* refusal = std::get_if<runtime::ResumeError>(&failure)) return "refused: " + refusal->text();
    return "compile";
  }

  ProgramStore programs_;
  RunStore runs_;
  std::vector<BindingSpec> specs_;
  std::vector<record::EventKind> seen_;
  std::optional<record::EventKind> fail_on_;
};

TEST_F(RunStoreTest, AnEndedRunKeepsOnlyItsFinalKind) {
  auto id = start(load(kDone));
  ASSERT_TRUE(id.ok()) << failure_text(id.error());
  EXPECT_TRUE(seen_.empty()) << "nothing executes before the first next";
  auto done = runs_.next(*id);
  ASSERT_TRUE(done.ok()) << failure_text(done.error());
  EXPECT_EQ(done->kind(), record::PauseKind::Done);
  EXPECT_EQ(seen_.front(), record::EventKind::Start);
  EXPECT_EQ(runs_.live_run(*id), nullptr) << "the run itself, with its journal and hosts, is released";
  EXPECT_TRUE(runs_.has_ended(*id));

  EXPECT_EQ(failure_text(runs_.next(*id).error()), "refused: the run has ended with `done`");
  EXPECT_EQ(failure_text(runs_.abort(*id).error()), "refused: the run has ended with `done`");
  EXPECT_EQ(failure_text(runs_.resume(*id, record::Resume{}).error()), "refused: the run has ended with `done`");
  EXPECT_EQ(failure_text(runs_.inject(*id, "helper", "hi").error()), "refused: the run has ended with `done`");
}

TEST_F(RunStoreTest, AnAbortThatCouldNotBeRecordedIsAnsweredWithItsError) {
  auto id = start(load(kConfirm));
  ASSERT_TRUE(id.ok());
  auto paused = runs_.next(*id);
  ASSERT_TRUE(paused.ok());
  ASSERT_EQ(paused->kind(), record::PauseKind::Confirm);

  fail_on_ = record::EventKind::Abort;
  auto aborted = runs_.abort(*id);
  ASSERT_FALSE(aborted.ok()) << "the abort event never reached the host";
  EXPECT_EQ(failure_text(aborted.error()), "runtime: stdout is gone");
}

TEST_F(RunStoreTest, AnAbortOfAPausedRunStopsIt) {
  auto id = start(load(kConfirm));
  ASSERT_TRUE(id.ok());
  ASSERT_TRUE(runs_.next(*id).ok());
  ASSERT_TRUE(runs_.abort(*id).ok());
  EXPECT_EQ(seen_.back(), record::EventKind::End);
  EXPECT_EQ(failure_text(runs_.next(*id).error()), "refused: the run has ended with `stopped`");
}

TEST_F(RunStoreTest, RefusesBindingsThatDoNotFitTheProgram) {
  const std::string program = load(kNeeds);
  struct Case {
    std::string name;
    std::vector<Binding> bindings;
    std::vector<std::string> paths;
    std::string failure;
  } cases[] = {
      {"twice", {{"files", "tool", {}}, {"files", "agent", {}}}, {}, "invalid: capability `files` was bound more than once"},
      {"undeclared", {{"mail", "tool", {}}}, {}, "invalid: `mail` is not a declared capability"},
      {"other_kind", {{"files", "agent", {}}}, {}, "invalid: capability `files` is `tool`, not `agent`"},
      {"no_kind", {{"files", "robot", {}}}, {}, "invalid: capability `files` is `tool`, not `robot`"},
      {"paths", {}, {"lib"}, "invalid: `paths` belongs to program.load; task.start uses the already linked program"},
      {"unbound", {{"files", "tool", {}}}, {}, "runtime: capability `helper` was not bound"},
  };
  for (Case& c : cases) {
    auto started = start(program, std::move(c.bindings), std::move(c.paths));
    ASSERT_FALSE(started.ok()) << c.name;
    EXPECT_EQ(failure_text(started.error()), c.failure) << c.name;
  }
  EXPECT_EQ(failure_text(start("program_9").error()), "invalid: unknown program_id `program_9`");
}

TEST_F(RunStoreTest, FillsEveryHostsLinkWithItsRun) {
  auto id = start(load(kNeeds), {{"helper", "agent", {}}, {"files", "tool", record::ToolManifest{{{"read", {}}}}}});
  ASSERT_TRUE(id.ok()) << failure_text(id.error());
  ASSERT_EQ(specs_.size(), 2u);
  for (const BindingSpec& spec : specs_) EXPECT_EQ(spec.link->run_id(), *id) << spec.name;
  EXPECT_EQ(specs_[1].handle_verbs, (std::set<std::string>{"open"}));
  EXPECT_TRUE(specs_[0].handle_verbs.empty());
  EXPECT_TRUE(specs_[1].manifest.has_value());

  run::Run* run = runs_.live_run(*id);
  ASSERT_NE(run, nullptr);
  EXPECT_TRUE(specs_[0].link->request_abort());
  EXPECT_TRUE(run->abort_flag()->load()) << "the link sets the run's own flag";
}

}  // namespace
}  // namespace dravelin::serve::core
