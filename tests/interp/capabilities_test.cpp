// Capability verbs in a run against scripted hosts: what reaches the hosts, the refusals of the kind/verb
// table, retries after an error pause, handles, observations and the step records `trail` reads, the pauses of
// people and waiting agents, and the journal serving all of it again on resume and replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "interp/capability_verbs.h"
#include "interp/run_harness.h"
#include "json/writer.h"
#include "runtime/value_json.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using record::BudgetKey;
using record::NeedKind;
using record::Observation;
using record::StepOutcome;
using record::StepRecord;
using runtime::CallArguments;
using runtime::Handle;

RuntimeError adapter_failure(std::string message, bool retryable) {
  return runtime::make_runtime_error(RuntimeErrorCode::AdapterError, std::move(message), retryable);
}

Observation observation_of(std::string last_message) {
  Observation observation;
  observation.status = record::AgentStatus::Running;
  observation.last_message = std::move(last_message);
  observation.tail = "...";
  return observation;
}

// Answers from queues the test fills; without a queued answer `spawn` gives a fresh handle, every other verb
// none, and an observation says "working".
class ScriptedHost final : public record::CapabilityHost {
 public:
  struct Call {
    std::string verb;
    CallArguments args;
  };

  explicit ScriptedHost(std::string name, NeedKind kind) : name_(std::move(name)), kind_(kind) {}

  NeedKind kind() const override { return kind_; }
  Result<Value, RuntimeError> call(std::string_view verb, CallArguments args) override {
    calls.push_back(Call{std::string(verb), std::move(args)});
    if (!answers.empty()) {
      auto next = std::move(answers.front());
      answers.pop_front();
      return next;
    }
    if (verb == "spawn") return Value::handle(Handle{name_, "w-" + std::to_string(++spawned_), {}});
    return Value::none();
  }
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<Observation, RuntimeError> observe(const Handle& handle) override {
    observed.push_back(handle);
    if (!observations.empty()) {
      auto next = std::move(observations.front());
      observations.pop_front();
      return next;
    }
    return observation_of("working");
  }

  std::deque<Result<Value, RuntimeError>> answers;
  std::deque<Result<Observation, RuntimeError>> observations;
  std::vector<Call> calls;
  std::vector<Handle> observed;

 private:
  std::string name_;
  NeedKind kind_;
  int spawned_ = 0;
};

// A test run whose capabilities are bound to scripted hosts the test keeps.
class CapabilityRun {
 public:
  CapabilityRun(const std::string& source, const std::vector<std::pair<std::string, NeedKind>>& bound,
                runtime::Record inputs = {})
      : test(source, std::move(inputs)) {
    for (const auto& [name, kind] : bound) bind(name, kind);
  }

  ScriptedHost& bind(const std::string& name, NeedKind kind) {
    auto owned = std::make_unique<ScriptedHost>(name, kind);
    ScriptedHost& host = *owned;
    test.run.hosts.insert_or_assign(name, std::move(owned));
    hosts[name] = &host;
    return host;
  }
  ScriptedHost& host(const std::string& name) { return *hosts.at(name); }

  std::vector<StepRecord> steps() const {
    std::vector<StepRecord> out;
    for (const auto* step : test.events_of<Event::Step>()) out.push_back(step->record);
    return out;
  }

  TestRun test;
  std::map<std::string, ScriptedHost*> hosts;
};

Value output(const Pause& pause, const std::string& name) {
  const auto& outputs = detail<Pause::Done>(pause).outputs;
  auto found = outputs.find(name);
  return found == outputs.end() ? Value::none() : found->second;
}

std::string tagged(const Value& value) { return json::to_compact(runtime::to_tagged_json(value)); }

StepRecord step(uint64_t n, std::string action, std::string target, std::string args, bool changed,
                StepOutcome outcome) {
  return StepRecord{n, std::move(action), std::move(target), std::move(args), changed, outcome};
}

TEST(CapabilityCalls, EveryKindsVerbsReachTheirHostWithAHandleFirst) {
  CapabilityRun run(
      "program p\nout o\nneeds coder: agent\nneeds boss: person\nneeds pen: llm\nneeds files: tool\n\n"
      "task main:\n"
      "  h = coder.spawn(\"fix the bug\", repo: \"core\")\n"
      "  h.send \"add a test\"\n"
      "  h.stop()\n"
      "  boss.notify \"started\"\n"
      "  listing = files.list(\"/src\", depth: 2)\n"
      "  text = pen.write \"a summary\" using listing\n"
      "  o = [h.capability, h.id, text]\n",
      {{"coder", NeedKind::Agent}, {"boss", NeedKind::Person}, {"pen", NeedKind::Llm}, {"files", NeedKind::Tool}});
  run.host("files").answers.push_back(Value::list({Value::text("a.c")}));
  run.host("pen").answers.push_back(Value::text("all fine"));
  TaskOutcome outcome = run.test.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(tagged(output(outcome.pause, "o")), R"(["coder","w-1","all fine"])");

  auto sent = [&](const std::string& host) {
    std::vector<std::string> out;
    for (const auto& call : run.host(host).calls) {
      out.push_back(call.verb + " " + json::to_compact(record::call_arguments_to_json(call.args)));
    }
    return out;
  };
  const std::string handle = R"({"$zem":"handle","capability":"coder","id":"w-1"})";
  EXPECT_EQ(sent("coder"), (std::vector<std::string>{
                               R"(spawn {"named":{"repo":"core"},"positional":["fix the bug"]})",
                               R"(send {"positional":[)" + handle + R"(,"add a test"]})",
                               R"(stop {"positional":[)" + handle + "]}",
                           }));
  EXPECT_EQ(sent("boss"), std::vector<std::string>{R"(notify {"positional":["started"]})"});
  EXPECT_EQ(sent("files"), std::vector<std::string>{R"(list {"named":{"depth":2},"positional":["/src"]})"});
  EXPECT_EQ(sent("pen"), std::vector<std::string>{R"(write {"named":{"using":["a.c"]},"positional":["a summary"]})"});

  // Only `write` is charged, as one call with the tokens of its instruction, material and output.
  EXPECT_EQ(outcome.usage.calls, 1u);
  EXPECT_GT(outcome.usage.tokens, 0u);
  const auto generated = run.test.events_of<Event::Generate>();
  ASSERT_EQ(generated.size(), 1u);
  EXPECT_EQ(generated[0]->output, "all fine");
  EXPECT_EQ(run.test.events_of<Event::Call>().size(), 5u);
}

struct Refusal {
  std::string name;
  std::string needs;
  std::string body;
  std::function<void(CapabilityRun&)> script;
  std::string message;
};

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, EndTheRunWithATypeError) {
  const Refusal& c = GetParam();
  CapabilityRun run("program p\nout o\n" + c.needs + "\ntask main:\n" + c.body, {});
  for (const ir::Need& need : run.test.run.ir().needs) run.bind(need.name, need.kind);
  if (c.script) c.script(run);
  TaskOutcome outcome = run.test.execute();
  const auto& error = detail<Pause::Error>(outcome.pause);
  EXPECT_EQ(error.code, RuntimeErrorCode::TypeError);
  EXPECT_EQ(error.message, c.message);
  EXPECT_FALSE(error.retryable);
}

INSTANTIATE_TEST_SUITE_P(
    KindVerbTable, Refusals,
    ::testing::Values(
        Refusal{"agent_handle_has_no_ask", "needs coder: agent\n", "  h = coder.spawn \"x\"\n  o = h.ask \"why?\"\n",
                nullptr, "`coder` is agent and has no verb `ask`"},
        Refusal{"observe_on_the_capability", "needs coder: agent\n", "  o = coder.observe()\n", nullptr,
                "`observe` is written on a handle, not on `coder` itself"},
        Refusal{"wait_on_the_capability", "needs coder: agent\n", "  o = coder.wait()\n", nullptr,
                "`wait` is written on a handle, not on `coder` itself"},
        Refusal{"spawn_without_a_handle", "needs coder: agent\n", "  o = coder.spawn \"x\"\n",
                [](CapabilityRun& run) { run.host("coder").answers.push_back(Value::text("w-1")); },
                "expected a handle from `spawn`, got text"},
        Refusal{"tool_result_of_another_type", "needs files: tool:\n  read(path) -> text\n",
                "  o = files.read \"a.txt\"\n",
                [](CapabilityRun& run) { run.host("files").answers.push_back(Value::number(3)); },
                "`files.read` is declared to return text but the adapter returned number"},
        Refusal{"handle_of_an_undeclared_capability", "needs files: tool\n",
                "  h = files.open \"a.txt\"\n  o = h.close()\n",
                [](CapabilityRun& run) {
                  run.host("files").answers.push_back(Value::handle(Handle{"ghost", "g-1", {}}));
                },
                "`ghost` is not a declared capability"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST(CapabilityCalls, ToolResultsMatchTheirSignatureAndAProbCountsAsANumber) {
  CapabilityRun run(
      "program p\nout o\nneeds t: tool:\n  score(x) -> number\n  fetch(x) -> record\nneeds u: tool\n\n"
      "task main:\n  o = [t.score(1), t.fetch(2), u.other(3)]\n",
      {{"t", NeedKind::Tool}, {"u", NeedKind::Tool}});
  run.host("t").answers = {Value::prob(0.25), Value::record({})};
  run.host("u").answers = {Value::text("anything goes")};
  TaskOutcome outcome = run.test.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(output(outcome.pause, "o"), Value::list({Value::prob(0.25), Value::record({}), Value::text("anything goes")}));
}

TEST(StepRecords, ObservationsSettleTheStepsBeforeThemAndTrailReadsThem) {
  CapabilityRun run(
      "program p\nout o\nneeds coder: agent\n\n"
      "task main:\n"
      "  h = coder.spawn \"fix it\"\n"
      "  h.send(\"add a test\", urgent: true)\n"
      "  first = h.observe()\n"
      "  h.send \"again\"\n"
      "  second = h.observe()\n"
      "  o = [trail 2, trail 5, first.last_message]\n",
      {{"coder", NeedKind::Agent}});
  TaskOutcome outcome = run.test.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);

  const std::string handle_text = R"({"capability":"coder","id":"w-1"})";
  // The first look at a handle counts as a change; the same content again does not.
  const std::vector<StepRecord> expected = {
      step(1, "spawn", "coder", "fix it", true, StepOutcome::Observed),
      step(2, "send", "w-1", handle_text + ", add a test, urgent true", true, StepOutcome::Observed),
      step(3, "send", "w-1", handle_text + ", again", false, StepOutcome::NoChange),
  };
  EXPECT_EQ(run.steps(), expected);
  const Value all = Value::list(record::step_records_to_values(expected));
  const Value last_two = Value::list(record::step_records_to_values({expected[1], expected[2]}));
  EXPECT_EQ(output(outcome.pause, "o"), Value::list({last_two, all, Value::text("working")}));
  // Each step event follows the observation that settled it.
  const std::vector<std::string> kinds = run.test.kinds();
  const std::vector<std::string> effects(kinds.begin() + 2, kinds.begin() + 10);
  EXPECT_EQ(effects, (std::vector<std::string>{"call", "call", "observe", "step", "step", "call", "observe", "step"}));
}

TEST(StepRecords, LongArgumentsAreCutToTheirHead) {
  CapabilityRun run("program p\nin long: text\nneeds files: tool\n\ntask main:\n  files.put(long, mode: \"w\")\n",
                    {{"files", NeedKind::Tool}}, runtime::Record{{"long", Value::text(std::string(2000, 'x'))}});
  run.host("files").answers.push_back(err(adapter_failure("disk full", false)));
  ASSERT_EQ(run.test.execute().pause.kind(), PauseKind::Error);
  // 200 tokens of four characters each: the named argument after the long text is cut away.
  EXPECT_EQ(run.steps(),
            std::vector<StepRecord>{step(1, "put", "files", std::string(800, 'x'), false, StepOutcome::Error)});
}

TEST(StepRecords, AFailedCallLeavesAnErrorStepAtOnceButADivergedOneNone) {
  const std::string source =
      "program p\nout o\nneeds coder: agent\n\ntask main:\n  h = coder.spawn \"x\"\n  h.send \"go\"\n  o = 1\n";
  CapabilityRun live(source, {{"coder", NeedKind::Agent}});
  live.host("coder").answers.push_back(Value::handle(Handle{"coder", "w-1", {}}));
  live.host("coder").answers.push_back(err(adapter_failure("agent is gone", false)));
  TaskOutcome failed = live.test.execute();
  const auto& error = detail<Pause::Error>(failed.pause);
  EXPECT_EQ(error.code, RuntimeErrorCode::AdapterError);
  EXPECT_EQ(error.message, "agent is gone");
  // The send's step is settled as an error straight away; the spawn's stays pending, as nothing observed it.
  EXPECT_EQ(live.steps(), std::vector<StepRecord>{step(2, "send", "w-1", R"({"capability":"coder","id":"w-1"}, go)",
                                                       false, StepOutcome::Error)});

  // A replay of a recording in which the program sent something else diverges there, and leaves no step.
  CapabilityRun recorded(source, {{"coder", NeedKind::Agent}});
  ASSERT_EQ(recorded.test.execute().pause.kind(), PauseKind::Done);
  CapabilityRun replay(
      "program p\nout o\nneeds coder: agent\n\ntask main:\n  h = coder.spawn \"x\"\n  h.send \"stop\"\n  o = 1\n", {});
  replay.test.run.journal.events = recorded.test.run.journal.events;
  replay.test.run.journal.replaying = true;
  TaskOutcome diverged = replay.test.execute();
  EXPECT_EQ(detail<Pause::Error>(diverged.pause).code, RuntimeErrorCode::ReplayDiverged);
  for (const auto* event : replay.test.events_of<Event::Step>()) {
    EXPECT_NE(event->record.action, "send") << "a diverged call left a step record";
  }
}

TEST(Retries, ARetryableFailurePausesAndARetryMakesTheCallAgain) {
  CapabilityRun run("program p\nout o\nneeds files: tool\n\ntask main:\n  o = files.read \"a.txt\"\n",
                    {{"files", NeedKind::Tool}});
  ScriptedHost& files = run.host("files");
  files.answers.push_back(err(adapter_failure("busy", true)));
  files.answers.push_back(err(adapter_failure("still busy", true)));
  files.answers.push_back(Value::text("contents"));

  const TaskOutcome failed = run.test.execute();
  const auto& first = detail<Pause::Error>(failed.pause);
  EXPECT_EQ(first.message, "busy");
  EXPECT_TRUE(first.retryable);
  EXPECT_EQ(detail<Pause::Error>(run.test.resume(Resume{Resume::Retry{true}}).pause).message, "still busy");
  TaskOutcome done = run.test.resume(Resume{Resume::Retry{true}});
  ASSERT_EQ(done.pause.kind(), PauseKind::Done) << describe(done.pause);
  EXPECT_EQ(output(done.pause, "o"), Value::text("contents"));
  // Every attempt reached the host once; the executions after each resume were served the earlier failures.
  EXPECT_EQ(files.calls.size(), 3u);
  const std::vector<std::string> kinds = run.test.kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "effect_error"), 2);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "call"), 1);
  EXPECT_EQ(run.steps(), std::vector<StepRecord>{});  // pending: nothing observed the read
}

TEST(Retries, AFailedWriteIsNotChargedAndIsTriedAgainFromItsBudgetCheck) {
  CapabilityRun run("program p\nout o\nneeds pen: llm\n\ntask main budget calls 1:\n  o = pen.write \"hello\"\n",
                    {{"pen", NeedKind::Llm}});
  run.host("pen").answers.push_back(err(adapter_failure("overloaded", true)));
  run.host("pen").answers.push_back(Value::text("hi"));
  EXPECT_EQ(detail<Pause::Error>(run.test.execute().pause).message, "overloaded");
  TaskOutcome done = run.test.resume(Resume{Resume::Retry{true}});
  ASSERT_EQ(done.pause.kind(), PauseKind::Done) << describe(done.pause);
  EXPECT_EQ(output(done.pause, "o"), Value::text("hi"));
  EXPECT_EQ(done.usage.calls, 1u);
}

TEST(Budgets, OnlyWriteIsChargedAgainstTheCallsBudget) {
  CapabilityRun run(
      "program p\nout o\nneeds coder: agent\nneeds pen: llm\nneeds t: tool\n\n"
      "task main budget calls 1:\n"
      "  h = coder.spawn \"x\"\n  h.send \"y\"\n  t.poke()\n"
      "  o = pen.write \"one\"\n  o = pen.write \"two\"\n",
      {{"coder", NeedKind::Agent}, {"pen", NeedKind::Llm}, {"t", NeedKind::Tool}});
  TaskOutcome outcome = run.test.execute();
  const auto& budget = detail<Pause::Budget>(outcome.pause);
  EXPECT_EQ(budget.key, BudgetKey::Calls);
  EXPECT_EQ(budget.used, 1);
  EXPECT_EQ(run.host("pen").calls.size(), 1u);
  TaskOutcome done = run.test.resume(Resume{Resume::Extend{{{BudgetKey::Calls, 2}}}});
  ASSERT_EQ(done.pause.kind(), PauseKind::Done) << describe(done.pause);
  EXPECT_EQ(done.usage.calls, 2u);
}

TEST(People, AskPausesForAnAnswerAndTakeOverEscalates) {
  CapabilityRun run(
      "program p\nout o\nneeds boss: person\n\ntask main:\n"
      "  a = boss.ask(\"ship it?\", options: [\"ship\", \"hold\"])\n"
      "  b = boss.ask \"sure?\"\n"
      "  c = boss.take_over()\n"
      "  o = [a.answer, a.text, b.answer, c]\n",
      {{"boss", NeedKind::Person}});
  const TaskOutcome asked = run.test.execute();
  const auto& first = detail<Pause::Confirm>(asked.pause);
  EXPECT_EQ(first.message, "ship it?");
  EXPECT_EQ(first.options, (std::vector<std::string>{"ship", "hold"}));
  EXPECT_TRUE(first.context.empty());
  TaskOutcome second = run.test.resume(Resume{Resume::Answer{"ship", std::string("today")}});
  EXPECT_EQ(detail<Pause::Confirm>(second.pause).options, (std::vector<std::string>{"yes", "no"}));
  TaskOutcome third = run.test.answer("yes");
  EXPECT_EQ(detail<Pause::Escalate>(third.pause).reason, "boss.take_over");
  TaskOutcome done = run.test.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(done.pause.kind(), PauseKind::Done) << describe(done.pause);
  EXPECT_EQ(output(done.pause, "o"),
            Value::list({Value::text("ship"), Value::text("today"), Value::text("yes"), Value::none()}));
  // People answer through pauses, never through the host.
  EXPECT_TRUE(run.host("boss").calls.empty());
}

struct WaitCase {
  std::string name;
  std::string call;
  std::string condition;
  double timeout_minutes;
  std::optional<Value> answer;  // the host's answer to `wait`; an observation when absent
  std::string outcome;          // the tagged output, or the error message
};

class Waits : public ::testing::TestWithParam<WaitCase> {};

TEST_P(Waits, PauseThenAskTheAgentOnceResumed) {
  const WaitCase& c = GetParam();
  CapabilityRun run("program p\nout o\nneeds coder: agent\n\ntask main:\n  h = coder.spawn \"x\"\n  o = " + c.call +
                        "\n",
                    {{"coder", NeedKind::Agent}});
  TaskOutcome waiting = run.test.execute();
  const auto& pause = detail<Pause::Waiting>(waiting.pause);
  EXPECT_EQ(pause.on, "coder");
  EXPECT_EQ(pause.condition, c.condition);
  EXPECT_EQ(pause.timeout_minutes, c.timeout_minutes);
  ASSERT_TRUE(waiting.pending_wait.has_value());
  EXPECT_EQ(waiting.pending_wait->id, "w-1");
  EXPECT_EQ(run.host("coder").calls.size(), 1u);

  run.host("coder").answers.push_back(
      c.answer ? *c.answer : runtime::from_plain_json(observation_of("idle now").to_json_value()));
  TaskOutcome after = run.test.resume(Resume{Resume::Nothing{}});
  EXPECT_FALSE(after.pending_wait.has_value());
  ASSERT_EQ(run.host("coder").calls.size(), 2u);
  EXPECT_EQ(run.host("coder").calls[1].verb, "wait");
  ASSERT_FALSE(run.host("coder").calls[1].args.positional.empty());
  EXPECT_EQ(run.host("coder").calls[1].args.positional.front(), Value::handle(Handle{"coder", "w-1", {}}));
  if (after.pause.kind() == PauseKind::Done) {
    EXPECT_EQ(tagged(output(after.pause, "o")), c.outcome);
  } else {
    EXPECT_EQ(detail<Pause::Error>(after.pause).message, c.outcome);
  }
}

INSTANTIATE_TEST_SUITE_P(
    WaitingAgents, Waits,
    ::testing::Values(
        WaitCase{"idle_without_arguments", "h.wait()", "idle", 0, std::nullopt,
                 R"({"last_message":"idle now","status":"running","tail":"..."})"},
        WaitCase{"condition_and_named_minutes", "h.wait(\"done\", minutes: 5)", "done", 5, std::nullopt,
                 R"({"last_message":"idle now","status":"running","tail":"..."})"},
        WaitCase{"second_positional_minutes", "h.wait(\"ready\", 2.5)", "ready", 2.5, std::nullopt,
                 R"({"last_message":"idle now","status":"running","tail":"..."})"},
        WaitCase{"answer_that_is_no_observation", "h.wait()", "idle", 0, Value::text("done"),
                 "`coder.wait` returned something other than an observation: invalid type: string \"done\", "
                 "expected struct Observation"}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

// Minutes a host cannot wait for are refused at the `wait` itself: no waiting pause is raised or recorded, and
// the agent is never asked.
TEST(CapabilityCalls, WaitRefusesMinutesThatAreNotFinite) {
  struct Case {
    std::string call;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"h.wait(\"done\", 1 / 0)", "expected a finite number of minutes for `coder.wait`, got inf"},
      {"h.wait(minutes: 0 / 0)", "expected a finite number of minutes for `coder.wait`, got NaN"},
      {"h.wait(\"done\", minutes: -1 / 0)", "expected a finite number of minutes for `coder.wait`, got -inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    CapabilityRun run("program p\nout o\nneeds coder: agent\n\ntask main:\n  h = coder.spawn \"x\"\n  o = " +
                          c.call + "\n",
                      {{"coder", NeedKind::Agent}});
    TaskOutcome outcome = run.test.execute();
    const auto& error = detail<Pause::Error>(outcome.pause);
    EXPECT_EQ(error.code, RuntimeErrorCode::TypeError);
    EXPECT_EQ(error.message, c.message);
    EXPECT_FALSE(error.retryable);
    EXPECT_FALSE(outcome.pending_wait.has_value());
    for (const auto* pause : run.test.events_of<Event::Pause>()) EXPECT_NE(pause->kind, PauseKind::Waiting);
    ASSERT_EQ(run.host("coder").calls.size(), 1u);
    EXPECT_EQ(run.host("coder").calls[0].verb, "spawn");
  }
}

TEST(Observations, ReportedAdapterUsageIsCountedButChargesNoBudget) {
  CapabilityRun run("program p\nout o\nneeds coder: agent\n\ntask main budget usd 0.1:\n"
                    "  h = coder.spawn \"x\"\n  o = h.observe()\n  o = h.observe()\n",
                    {{"coder", NeedKind::Agent}});
  for (int i = 0; i < 2; ++i) {
    Observation observation = observation_of("working");
    json::Object usage;
    usage.set("tokens", json::Value(uint64_t{1200}));
    usage.set("usd", json::Value(0.5));
    observation.extra.emplace("usage", json::Value(std::move(usage)));
    run.host("coder").observations.push_back(observation);
  }
  TaskOutcome outcome = run.test.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(outcome.usage.adapter_usd, 1.0);
  EXPECT_EQ(outcome.usage.adapter_tokens, 2400u);
  EXPECT_EQ(outcome.usage.usd, 0);
  EXPECT_EQ(outcome.usage.calls, 0u);
}

// Costs an agent reports past the largest number leave the total at it instead of at an infinity, which the
// run's recording could not hold.
TEST(Observations, ReportedAdapterCostsSumToAFiniteTotal) {
  CapabilityRun run("program p\nout o\nneeds coder: agent\n\ntask main:\n"
                    "  h = coder.spawn \"x\"\n  o = h.observe()\n  o = h.observe()\n",
                    {{"coder", NeedKind::Agent}});
  for (int i = 0; i < 2; ++i) {
    Observation observation = observation_of("working");
    json::Object usage;
    usage.set("usd", json::Value(1e308));
    observation.extra.emplace("usage", json::Value(std::move(usage)));
    run.host("coder").observations.push_back(observation);
  }
  TaskOutcome outcome = run.test.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(outcome.usage.adapter_usd, std::numeric_limits<double>::max());
}

TEST(Observations, AFailedObservationIsRetriedOrEndsTheRun) {
  CapabilityRun run("program p\nout o\nneeds coder: agent\n\ntask main:\n  h = coder.spawn \"x\"\n"
                    "  o = h.observe().last_message\n",
                    {{"coder", NeedKind::Agent}});
  run.host("coder").observations.push_back(err(adapter_failure("no answer yet", true)));
  run.host("coder").observations.push_back(err(adapter_failure("agent crashed", false)));
  EXPECT_EQ(detail<Pause::Error>(run.test.execute().pause).message, "no answer yet");
  const TaskOutcome crashed = run.test.resume(Resume{Resume::Retry{true}});
  const auto& error = detail<Pause::Error>(crashed.pause);
  EXPECT_EQ(error.message, "agent crashed");
  EXPECT_FALSE(error.retryable);
  EXPECT_EQ(run.host("coder").observed.size(), 2u);
}

TEST(Journal, ResumedAndReplayedRunsAreServedEveryCapabilityEffect) {
  const std::string source =
      "program p\nout o\nneeds coder: agent\nneeds boss: person\nneeds pen: llm\n\ntask main:\n"
      "  h = coder.spawn \"x\"\n  h.send \"go\"\n  seen = h.observe()\n"
      "  note = pen.write \"summary\"\n"
      "  a = boss.ask \"merge?\"\n"
      "  h.stop()\n"
      "  o = [seen.last_message, note, a.answer, trail 9]\n";
  CapabilityRun run(source, {{"coder", NeedKind::Agent}, {"boss", NeedKind::Person}, {"pen", NeedKind::Llm}});
  run.host("pen").answers.push_back(Value::text("it works"));
  run.test.with_recording();
  ASSERT_EQ(run.test.execute().pause.kind(), PauseKind::Confirm);
  EXPECT_EQ(run.host("coder").calls.size(), 2u);
  TaskOutcome done = run.test.answer("yes");
  ASSERT_EQ(done.pause.kind(), PauseKind::Done) << describe(done.pause);
  // The second execution went live only after the pause: each effect reached its host once.
  EXPECT_EQ(run.host("coder").calls.size(), 3u);
  EXPECT_EQ(run.host("coder").observed.size(), 1u);
  EXPECT_EQ(run.host("pen").calls.size(), 1u);
  // The observation settled the spawn and the send; the write and the stop stay pending.
  EXPECT_EQ(run.steps().size(), 2u);
  EXPECT_EQ(run.test.events_of<Event::Step>().size(), run.steps().size());

  // A replay of the whole journal needs no host at all and ends the same way.
  CapabilityRun replay(source, {});
  replay.test.run.journal.events = run.test.run.journal.events;
  replay.test.run.journal.replaying = true;
  TaskOutcome again = replay.test.execute();
  ASSERT_EQ(again.pause.kind(), PauseKind::Confirm) << describe(again.pause);
  TaskOutcome replayed = replay.test.execute();
  ASSERT_EQ(replayed.pause.kind(), PauseKind::Done) << describe(replayed.pause);
  EXPECT_EQ(output(replayed.pause, "o"), output(done.pause, "o"));
  EXPECT_EQ(replayed.usage, done.usage);
}

TEST(Modules, AModulesCapabilityIsServedByTheOneItsUseMapsItTo) {
  const std::string lib = "program helpers\nneeds bot: agent\n\ntask go(goal):\n  h = bot.spawn goal\n"
                          "  h.send \"and hurry\"\n  return h\n";
  const std::string main_source =
      "program p\nuse \"./helpers.zem\" as helpers with bot: worker\nout o\nneeds worker: agent\n\n"
      "task main:\n  h = helpers.go(\"tidy up\")\n  h.send \"thanks\"\n  o = h.capability\n";
  auto parsed = syntax::parse_program(main_source);
  ASSERT_TRUE(parsed.ok());
  compiler::ModuleSources sources;
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "capability-modules";
  std::filesystem::create_directories(dir);
  sources.overlay.emplace(std::filesystem::weakly_canonical(dir / "helpers.zem"), lib);
  auto compiled = compiler::compile_source(*parsed, dir / "main.zem", sources);
  ASSERT_TRUE(compiled.ok()) << syntax::debug_string(compiled.error());

  const CapabilityVerbs verbs = collect_capability_verbs(compiled->ir);
  // A verb called on a handle is not counted: only calls on the capability's name are.
  EXPECT_EQ(verbs, (CapabilityVerbs{{"worker", {"spawn"}}}));

  CapabilityRun run("program p\n\ntask main:\n  x = 1\n", {{"worker", NeedKind::Agent}});
  run.test.run.metadata.ir = compiled->ir;
  TaskOutcome outcome = run.test.execute();
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  // The module's calls reach the program's capability, and the handle works outside the module too.
  EXPECT_EQ(output(outcome.pause, "o"), Value::text("worker"));
  ASSERT_EQ(run.host("worker").calls.size(), 3u);
  EXPECT_EQ(run.host("worker").calls[0].verb, "spawn");
  EXPECT_EQ(run.host("worker").calls[2].args.positional.front(), Value::handle(Handle{"worker", "w-1", {}}));
}

TEST(CollectCapabilityVerbs, CountsVerbsCalledInTasksAndMachineActions) {
  const ir::Ir ir = compile(
      "program p\nneeds files: tool\nneeds coder: agent\nneeds boss: person\nin ticket: text\n\n"
      "machine flow():\n  initial start\n  state start:\n"
      "    on go \"ready to go\" -> end:\n      files.archive \"x\"\n"
      "  state end done\n\n"
      "task main:\n"
      "  listing = files.list\n"
      "  if len(listing) > 0:\n    h = coder.spawn \"look at {files.read(ticket)}\"\n"
      "  boss.notify \"done\"\n"
      "  r = flow(max: 3)\n");
  EXPECT_EQ(collect_capability_verbs(ir),
            (CapabilityVerbs{{"boss", {"notify"}},
                             {"coder", {"spawn"}},
                             {"files", {"archive", "list", "read"}}}));
}

}  // namespace
}  // namespace dravelin::interp
