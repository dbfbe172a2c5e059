// Runs written to a recording: every line reads back, a recorded run replays from its own lines, runs that
// computed numbers a recording writes as null resume and replay, and a recording that stops accepting lines
// makes the failure the outcome.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interp/run_harness.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using Strings = std::vector<std::string>;

// The events of the recording's lines, each of which must read back.
std::vector<Event> read_back(const MemoryRecording& recording) {
  std::vector<Event> events;
  for (const std::string& line : recording.lines) {
    auto read = record::RecordedEvent::read_line(line);
    EXPECT_TRUE(read.ok()) << (read.ok() ? "" : read.error()) << "\n" << line.substr(0, 300);
    if (read.ok()) events.push_back(std::move(read->event));
  }
  return events;
}

// Executes a fresh run of the same program over the recorded events, strictly replayed, passing each
// recorded pause as run control does (stop there once, then execute again).
std::vector<PauseKind> replay(const std::string& source, runtime::Record inputs, std::vector<Event> events) {
  TestRun replayed(source, std::move(inputs));
  replayed.run.journal.events = std::move(events);
  replayed.run.journal.replaying = true;
  std::vector<PauseKind> outcomes;
  for (int i = 0; i < 10; ++i) {
    TaskOutcome outcome = replayed.execute();
    outcomes.push_back(outcome.pause.kind());
    if (outcome.pause.ends_run()) break;
  }
  EXPECT_TRUE(replayed.service.asked.empty());
  return outcomes;
}

// `0/0` is legal and is NaN; `1/0` is an infinity. A run that logs them and pauses must pass its own journal
// on resume, though NaN never equals itself and both are written as null; the run recorded to lines that read
// them back as none must replay as well.
TEST(Recording, ARunThatComputedNonFiniteNumbersResumesAndReplays) {
  const std::string source =
      "program p\nout o\n\ntask main:\n  o = [0 / 0, 1 / 0]\n  log info \"odd numbers\" {o}\n"
      "  escalate \"look at {o}\"\n  log info \"after\" {o}\n";
  TestRun run(source);
  run.with_recording();
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Escalate);
  TaskOutcome outcome = run.resume(Resume{Resume::Continue{true}});
  ASSERT_EQ(outcome.pause.kind(), PauseKind::Done) << describe(outcome.pause);
  EXPECT_EQ(run.events_of<Event::Log>().size(), 2u);

  std::vector<Event> events = read_back(run.recording);
  ASSERT_EQ(events.size(), run.run.journal.events.size());
  EXPECT_EQ(replay(source, {}, std::move(events)), (std::vector<PauseKind>{PauseKind::Escalate, PauseKind::Done}));
}

TEST(Recording, ARecordedRunWithJudgmentsAndAConfirmReplaysFromItsLines) {
  const std::string source =
      "program p\nin t: text\nout o\n\ntask main thresholds risk_confirm 0.5:\n  p = t feels \"risky\"\n"
      "  gate risk p, confidence 0.9:\n    proceed -> o = 1\n  o = p\n";
  const runtime::Record inputs{{"t", Value::text("drop the table")}};
  TestRun run(source, inputs);
  run.with_recording();
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Confirm);
  ASSERT_EQ(run.answer("yes").pause.kind(), PauseKind::Done);
  // Offsets of the recording and of the run's own count agree, line by line.
  EXPECT_EQ(run.recording.offset, run.run.journal.byte_offset);
  EXPECT_EQ(replay(source, inputs, read_back(run.recording)),
            (std::vector<PauseKind>{PauseKind::Confirm, PauseKind::Done}));
}

// A value nested as deep as values may be is recorded in a log line, a pause and the end, and reads back;
// wrapping it once more is refused.
TEST(Recording, AValueAtTheNestingLimitIsRecordedAndReadBack) {
  const std::string source =
      "program p\nout o\n\ntask main:\n  o = 1\n  loop max 400:\n    o = [o]\n  log info \"deep\" {o}\n"
      "  escalate \"look\"\n  o = [o]\n";
  TestRun run(source);
  run.with_recording();
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Escalate);
  TaskOutcome outcome = run.resume(Resume{Resume::Continue{true}});
  const auto& error = detail<Pause::Error>(outcome.pause);
  EXPECT_EQ(error.message, "a value may nest at most 400 levels deep");
  std::vector<Event> events = read_back(run.recording);
  ASSERT_EQ(events.size(), run.run.journal.events.size());
  const auto& end = std::get<Event::End>(events.back().data);
  EXPECT_EQ(runtime::value_depth(end.outputs.at("o")), runtime::kMaxValueDepth);
}

// The end line cannot be written and the recording refuses every line after it, the error pause's included:
// the run ends with that error, never as `done`.
TEST(Recording, AnEndThatCannotBeWrittenMakesTheErrorTheOutcome) {
  TestRun run("program p\nout o\n\ntask main:\n  o = 1\n");
  run.with_recording();
  run.recording.fail_at = 4;  // start, the frame's clock, the end's clock, the done pause; then the end
  TaskOutcome outcome = run.execute();
  const auto& error = detail<Pause::Error>(outcome.pause);
  EXPECT_EQ(error.code, RuntimeErrorCode::AdapterError);
  EXPECT_EQ(error.message, "could not write the recording: disk full");
  EXPECT_FALSE(error.retryable);
  EXPECT_EQ(run.recording.lines.size(), 4u);
}

// A tool that answers every call with the value the test gives it.
class ReplyingHost final : public record::CapabilityHost {
 public:
  explicit ReplyingHost(Value reply) : reply_(std::move(reply)) {}
  record::NeedKind kind() const override { return record::NeedKind::Tool; }
  Result<Value, RuntimeError> call(std::string_view, runtime::CallArguments) override {
    ++calls;
    return reply_;
  }
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<record::Observation, RuntimeError> observe(const runtime::Handle&) override {
    return err(runtime::make_runtime_error(RuntimeErrorCode::AdapterError, "no agent here"));
  }
  int calls = 0;

 private:
  Value reply_;
};

// Events that no recording line could hold, made of values that are each within their bound: a text of control
// characters takes six bytes a character in a line, and two texts of 5.5 MiB pass the line's 64 MiB. Every run
// ends with an error naming the event, its recording ends with the end line and reads back, and its replay comes
// to the same outcome. A start that could not be held is refused before anything is recorded.
TEST(Recording, EventsTooLongForALineEndTheRunWithARecordingThatReplays) {
  const Value wide = Value::text(std::string(size_t{11} << 19, '\x01'));
  // The same text made by the program, so that the start line stays small.
  const std::string make_wide = "  w = \"" + std::string(11, '\x01') + "\"\n  loop max 19:\n    w = w + w\n";
  const std::string line_cap = "longer than the 67108864 bytes a recording line may hold";
  struct Case {
    const char* name;
    std::string body;
    runtime::Record inputs;
    Value reply;  // what the tool `files` answers
    std::string message;
  };
  const Case cases[] = {
      {"log_fields", make_wide + "  log info \"both\" {a: w, b: w}\n", {}, Value(),
       "a `log` event would be " + line_cap},
      {"outputs", make_wide + "  o = w\n  p = w\n", {}, Value(), "a `pause` event would be " + line_cap},
      {"call_arguments", make_wide + "  o = files.read(w, w)\n", {}, Value(), "a `call` event would be " + line_cap},
      {"call_reply", "  o = files.read(\"x\")\n", {}, Value::list({wide, wide}),
       "the reply of `files.read` would not fit in a recording line of at most 67108864 bytes"},
      // A reply a line can hold but a value cannot.
      {"call_reply_past_the_value_bound", "  o = files.read(\"x\")\n", {},
       Value::list({Value::text(std::string(5 << 20, 'x')), Value::text(std::string(5 << 20, 'x'))}),
       "a value may hold at most 8388608 bytes"},
      {"start", "  o = 1\n", {{"t", wide}, {"u", wide}}, Value(), "a `start` event would be " + line_cap},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    const std::string source =
        "program p\nin t: text\nin u: text\nout o\nout p\nneeds files: tool\n\ntask main:\n" + c.body;
    TestRun run(source, c.inputs);
    run.with_recording();
    auto* host = new ReplyingHost(c.reply);
    run.run.hosts.insert_or_assign("files", std::unique_ptr<record::CapabilityHost>(host));
    const TaskOutcome outcome = run.execute();
    const auto& error = detail<Pause::Error>(outcome.pause);
    EXPECT_EQ(error.message, c.message);
    EXPECT_FALSE(error.retryable);
    if (name == "call_arguments") {
      EXPECT_EQ(host->calls, 0);  // not made: its failure could not have been recorded
    }
    if (name == "start") {
      EXPECT_TRUE(run.recording.lines.empty());
      continue;
    }

    std::vector<Event> events = read_back(run.recording);
    ASSERT_EQ(events.size(), run.run.journal.events.size());
    ASSERT_EQ(events.back().kind(), EventKind::End);
    // The end holds what a line can: outputs too large for it are left out.
    if (name == "outputs") {
      for (const auto& [output, value] : std::get<Event::End>(events.back().data).outputs) {
        EXPECT_TRUE(value.is_none()) << output;
      }
    }

    TestRun replayed(source, c.inputs);
    replayed.run.journal.events = std::move(events);
    replayed.run.journal.replaying = true;
    const TaskOutcome again = replayed.execute();
    EXPECT_EQ(detail<Pause::Error>(again.pause).message, c.message);
    EXPECT_EQ(replayed.run.journal.cursor, replayed.run.journal.events.size());
  }
}

// Every way an execution fails records the run's end after the error: a task's failing default parameter, and a
// top-level `verify` whose test fails to evaluate, included.
TEST(Recording, AFailureOutsideTheBodyStillEndsTheRecording) {
  const char* const sources[] = {
      "program p\nout o\n\ntask main:\n  o = 1\n\ntask side(n = 1 + \"a\"):\n  o = n\n",
      // The test holds in the loop and fails when it is checked again at the end.
      "program p\nout o\n\ntask main:\n  o = 1\n\ntask side:\n  n = 0\n  until verify(n < 1 or n + \"a\"), max 1:\n"
      "    n = 1\n  n = 5\n",
  };
  for (const char* source : sources) {
    SCOPED_TRACE(source);
    TestRun run(source);
    run.with_recording();
    const TaskOutcome outcome = run.execute("side");
    EXPECT_EQ(outcome.pause.kind(), PauseKind::Error) << describe(outcome.pause);
    std::vector<Event> events = read_back(run.recording);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind(), EventKind::End);
  }
}

// A budget extension is a number: NaN or an infinity leaves the old limit, so the run pauses again rather
// than running without a budget.
TEST(Recording, AnExtensionThatIsNotANumberLeavesTheLimit) {
  TestRun run("program p\nin t: text\nout o\n\ntask main budget calls 1:\n  loop max 3:\n    p = t feels \"x\"\n",
              runtime::Record{{"t", Value::text("x")}});
  run.with_recording();
  ASSERT_EQ(run.execute().pause.kind(), PauseKind::Budget);
  for (double bad : {std::nan(""), HUGE_VAL}) {
    TaskOutcome again = run.resume(Resume{Resume::Extend{{{record::BudgetKey::Calls, bad}}}});
    ASSERT_EQ(again.pause.kind(), PauseKind::Budget) << describe(again.pause);
    EXPECT_EQ(detail<Pause::Budget>(again.pause).limit, 1);
  }
  EXPECT_EQ(run.service.asked.size(), 1u);
}

}  // namespace
}  // namespace dravelin::interp
