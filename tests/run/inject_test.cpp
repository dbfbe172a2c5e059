// Messages injected into a run that waits on an agent: sent and recorded while the run stays paused, refused
// unless the run waits on that agent, and refused where a replayed recording goes on past the pause, since the
// message would land after the recorded end and the next execution would meet it in place of its own effects.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "record/event.h"
#include "run/run.h"
#include "run/run_test_support.h"
#include "runtime/value_json.h"
#include "support/zem_server.h"

namespace dravelin::run {
namespace {

namespace fs = std::filesystem;
using dravelin::testing::ScopedEnv;
using dravelin::testing::ScratchDir;
using record::Pause;
using record::PauseKind;
using runtime::Handle;
using runtime::ResumeError;
using runtime::Value;
using testing::compile_or_fail;
using RunHandle = dravelin::run::Run;

// An agent that hands out one handle, answers every wait with an observation carrying the message it was
// last sent (or "idle"), and writes down each call into `calls`, which the test keeps.
class AgentHost final : public record::CapabilityHost {
 public:
  struct Call {
    std::string verb;
    runtime::CallArguments args;
  };

  explicit AgentHost(std::vector<Call>* calls) : calls_(calls) {}

  record::NeedKind kind() const override { return record::NeedKind::Agent; }
  Result<Value, runtime::RuntimeError> call(std::string_view verb, runtime::CallArguments args) override {
    calls_->push_back(Call{std::string(verb), args});
    if (verb == "spawn") return Value::handle(Handle{"coder", "w-1", {}});
    if (verb == "send") {
      last_sent_ = args.positional.at(1).as_text();
      return Value::none();
    }
    record::Observation observation;
    observation.status = record::AgentStatus::Running;
    observation.last_message = last_sent_;
    observation.tail = "...";
    return runtime::from_plain_json(observation.to_json_value());
  }
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<record::Observation, runtime::RuntimeError> observe(const Handle&) override {
    return err(runtime::make_runtime_error(runtime::RuntimeErrorCode::AdapterError, "observe is not scripted"));
  }

 private:
  std::vector<Call>* calls_;
  std::string last_sent_ = "idle";
};

// Two waits on one agent: the run pauses at each before the agent is asked.
constexpr const char* kTwoWaits = R"(program p
out first
out second
needs coder: agent

task main:
  h = coder.spawn "fix it"
  a = h.wait()
  b = h.wait()
  first = a.last_message
  second = b.last_message
)";

class Injection : public ::testing::Test {
 protected:
  void SetUp() override { env_.unset("DRAVELIN_PROFILES").unset("DRAVELIN_PATH"); }

  record::CapabilityHosts hosts() {
    record::CapabilityHosts out;
    out.emplace("coder", std::make_unique<AgentHost>(&calls_));
    return out;
  }

  RunHandle start(record::RunOptions options) {
    auto started = start_task_run(compile_or_fail(kTwoWaits), "main", std::move(options), hosts());
    EXPECT_TRUE(started.ok()) << started.error();
    return std::move(started).value();
  }

  RunHandle replay(const fs::path& recording) {
    record::RunOptions options;
    options.replay = recording.string();
    auto created = RunHandle::create(ir::Ir::empty_named("replay"), "", std::move(options), hosts(), true);
    EXPECT_TRUE(created.ok()) << created.error();
    return std::move(created).value();
  }

  static Pause next_ok(RunHandle& run) {
    auto outcome = run.next();
    EXPECT_TRUE(outcome.ok()) << outcome.error();
    return outcome.ok() ? std::move(outcome).value() : Pause{};
  }

  static std::string output(const Pause& pause, const std::string& name) {
    const auto* done = std::get_if<Pause::Done>(&pause.detail);
    if (done == nullptr) return "<not done: " + std::string(runtime::pause_kind_name(pause.kind())) + ">";
    auto found = done->outputs.find(name);
    return found == done->outputs.end() || !found->second.is_text() ? "<none>" : found->second.as_text();
  }

  // The verbs the agent was asked, in order.
  std::vector<std::string> verbs() const {
    std::vector<std::string> out;
    for (const AgentHost::Call& call : calls_) out.push_back(call.verb);
    return out;
  }

  ScopedEnv env_;
  ScratchDir dir_;
  std::vector<AgentHost::Call> calls_;
};

TEST_F(Injection, ReachesOnlyTheAgentTheRunWaitsOnAndIsRecordedWhileTheRunStaysPaused) {
  RunHandle run = start({});
  EXPECT_EQ(run.inject("coder", "early").error(), ResumeError::not_paused()) << "an idle run waits on nothing";
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Waiting);
  EXPECT_EQ(run.inject("helper", "hi").error(), ResumeError::not_paused());

  ASSERT_TRUE(run.inject("coder", "hello").ok());
  EXPECT_EQ(run.status(), RunStatus::Paused);
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[1].verb, "send");
  EXPECT_EQ(calls_[1].args.positional,
            (std::vector<Value>{Value::handle(Handle{"coder", "w-1", {}}), Value::text("hello")}));
  const auto* sent = std::get_if<record::Event::Call>(&run.state().journal.events.back().data);
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(sent->verb, "send");

  // The next executions pass the injected call and ask the agent live.
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Waiting);
  const Pause done = next_ok(run);
  EXPECT_EQ(output(done, "first"), "hello");
  EXPECT_EQ(output(done, "second"), "hello");
  EXPECT_EQ(verbs(), (std::vector<std::string>{"spawn", "send", "wait", "wait"}));
  EXPECT_EQ(run.inject("coder", "late").error(), ResumeError::ended(PauseKind::Done));
}

// The recording holds both waiting pauses, a message injected at each, and the resume of the first; it ends at
// the second. A replay stopped at the first pause refuses an injection and goes on exactly as recorded; at the
// second, where the recording ends, the injection is taken and the run goes live.
TEST_F(Injection, IntoAReplayIsRefusedWhereTheRecordingGoesOnPastThePause) {
  const fs::path recording = dir_.path() / "waits.jsonl";
  {
    record::RunOptions options;
    options.record = recording.string();
    RunHandle run = start(options);
    ASSERT_EQ(next_ok(run).kind(), PauseKind::Waiting);
    ASSERT_TRUE(run.inject("coder", "one").ok());
    ASSERT_EQ(next_ok(run).kind(), PauseKind::Waiting);
    ASSERT_TRUE(run.inject("coder", "two").ok());
  }
  calls_.clear();

  RunHandle run = replay(recording);
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Waiting);
  const size_t recorded = run.state().journal.events.size();
  (void)run.take_queued();

  const auto refused = run.inject("coder", "too soon");
  ASSERT_FALSE(refused.ok());
  const auto* runtime = std::get_if<ResumeError::Runtime>(&refused.error().reason);
  ASSERT_NE(runtime, nullptr) << refused.error();
  EXPECT_EQ(runtime->error.code, runtime::RuntimeErrorCode::ReplayDiverged);
  EXPECT_FALSE(runtime->error.retryable);
  EXPECT_EQ(runtime->error.message,
            "a message cannot be injected into `coder` here: the recording being replayed continues past this pause");
  EXPECT_EQ(run.status(), RunStatus::Paused);
  EXPECT_TRUE(calls_.empty()) << "the agent was sent nothing";
  EXPECT_EQ(run.state().journal.events.size(), recorded);
  EXPECT_TRUE(run.take_queued().empty());

  // Untouched, the replay reaches the recording's end: the second pause, after its recorded injection.
  ASSERT_EQ(next_ok(run).kind(), PauseKind::Waiting);
  EXPECT_TRUE(calls_.empty()) << "every effect so far was served from the recording";
  ASSERT_TRUE(run.inject("coder", "three").ok());
  const Pause done = next_ok(run);
  EXPECT_EQ(output(done, "first"), "one") << "the first wait is served from the recording";
  EXPECT_EQ(output(done, "second"), "three");
  EXPECT_EQ(verbs(), (std::vector<std::string>{"send", "wait"}));
}

}  // namespace
}  // namespace dravelin::run
