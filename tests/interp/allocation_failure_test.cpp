// An allocation that fails during an execution (std::bad_alloc or std::length_error thrown from wherever the run
// happens to be: a host, the model service, the event sink) ends the run with an error outcome, and the recording
// ends whole: every line reads back and the last is the end.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "interp/run_harness.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

// A tool whose calls run `effect` (which may throw) and then answer none.
class ThrowingHost final : public record::CapabilityHost {
 public:
  explicit ThrowingHost(std::function<void()> effect) : effect_(std::move(effect)) {}
  record::NeedKind kind() const override { return record::NeedKind::Tool; }
  Result<Value, RuntimeError> call(std::string_view, runtime::CallArguments) override {
    effect_();
    return Value::none();
  }
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<record::Observation, RuntimeError> observe(const runtime::Handle&) override {
    return err(runtime::make_runtime_error(RuntimeErrorCode::AdapterError, "no agent here"));
  }

 private:
  std::function<void()> effect_;
};

void throw_bad_alloc() { throw std::bad_alloc(); }
void throw_length_error() { throw std::length_error("basic_string::_M_create"); }

TEST(AllocationFailure, EndsTheRunWithAnErrorAndARecordingThatEndsWhole) {
  const std::string source =
      "program p\nin t: text\nout o\nneeds files: tool\n\n"
      "task main:\n  o = 1\n  log info \"before\"\n  r = files.read(\"x\")\n  p = t feels \"odd\"\n  o = 2\n";
  struct Case {
    const char* name;
    std::function<void(TestRun&)> arm;  // makes the run fail at one point
  };
  const Case cases[] = {
      {"host_call", [](TestRun& run) { run.run.hosts.insert_or_assign("files", std::make_unique<ThrowingHost>(throw_bad_alloc)); }},
      {"host_call_length",
       [](TestRun& run) { run.run.hosts.insert_or_assign("files", std::make_unique<ThrowingHost>(throw_length_error)); }},
      {"model_service", [](TestRun& run) { run.service.on_ask = throw_bad_alloc; }},
      {"event_sink_after_the_log",
       [](TestRun& run) {
         run.run.event_sink = [](const record::RecordedEvent& line) -> Result<Unit, RuntimeError> {
           if (line.event.kind() == EventKind::Log) throw std::bad_alloc();
           return Unit{};
         };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun run(source, runtime::Record{{"t", Value::text("x")}});
    run.with_recording();
    run.run.hosts.insert_or_assign("files", std::make_unique<ThrowingHost>([] {}));
    c.arm(run);

    const TaskOutcome outcome = run.execute();
    const auto& error = detail<Pause::Error>(outcome.pause);
    EXPECT_EQ(error.code, RuntimeErrorCode::TypeError);
    EXPECT_EQ(error.message, "the run ran out of memory");
    EXPECT_FALSE(error.retryable);
    EXPECT_NE(outcome.pause.common.source.start.line, 0u);  // the statement it stopped in

    // The recording and the journal hold the same events, and the recording ends with the run's end.
    ASSERT_EQ(run.recording.lines.size(), run.run.journal.events.size());
    for (const std::string& line : run.recording.lines) {
      auto read = record::RecordedEvent::read_line(line);
      ASSERT_TRUE(read.ok()) << read.error();
    }
    const auto kinds = run.kinds();
    ASSERT_GE(kinds.size(), 3u);
    EXPECT_EQ(kinds.front(), "start");
    EXPECT_EQ(kinds.back(), "end");
    EXPECT_EQ(run.events_of<Event::Pause>().back()->kind, PauseKind::Error);
    const auto* end = run.events_of<Event::End>().back();
    EXPECT_EQ(end->kind, PauseKind::Error);
    // The outputs as they stood.
    EXPECT_EQ(end->outputs.at("o"), Value::number(1));
  }
}

}  // namespace
}  // namespace dravelin::interp
