// The effect journal on its own: live and served effects, recorded failures, divergence messages, host
// cancellation, recorded resumes and the passage of pauses.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "interp/run_harness.h"
#include "record/timestamp.h"

namespace dravelin::interp {
namespace {

using namespace testing;  // NOLINT

using record::DrawKind;
using record::Recorded;
using record::Redacted;
using runtime::CallArguments;

const Span kSpan{{3, 2, 40}, {3, 9, 47}};

class FakeHost final : public record::CapabilityHost {
 public:
  std::deque<Result<Value, runtime::RuntimeError>> results;
  int calls = 0;
  int observations = 0;

  record::NeedKind kind() const override { return record::NeedKind::Tool; }
  Result<Value, runtime::RuntimeError> call(std::string_view, CallArguments) override {
    ++calls;
    if (results.empty()) return Value::text("ok");
    auto next = std::move(results.front());
    results.pop_front();
    return next;
  }
  std::optional<std::map<std::string, record::ManifestVerb>> manifest() override { return std::nullopt; }
  Result<record::Observation, runtime::RuntimeError> observe(const runtime::Handle&) override {
    ++observations;
    record::Observation observation;
    observation.last_message = "done";
    return observation;
  }
};

// A run over an empty program with one host, `files`, that the test keeps a pointer to.
struct JournalRun {
  JournalRun() {
    run = RunConfig{ir::Ir::empty_named("p"), test_profile(), {}, "run_1_1", 7}.with_tokenizer();
    run.clock = [this] { return clock_ms; };
    auto owned = std::make_unique<FakeHost>();
    host = owned.get();
    run.hosts.emplace("files", std::move(owned));
  }

  // The journal as a replay set-up leaves it: the given events, strictly replayed.
  void replay(std::vector<Event> events) {
    run.journal.events = std::move(events);
    run.journal.replaying = true;
    run.journal.cursor = 0;
  }

  RunState run;
  FakeHost* host = nullptr;
  uint64_t clock_ms = kStartMs;
};

Event now_draw(uint64_t ms) {
  return Event{Event::Draw{DrawKind::Now, json::Value(record::format_timestamp_ms(ms))}};
}

CallArguments args_of(std::string path) {
  CallArguments args;
  args.positional.push_back(Value::text(std::move(path)));
  return args;
}

Event call_event(std::string path, Recorded<Value> result) {
  return Event{Event::Call{"files", "read", record::call_arguments_to_value(args_of(std::move(path))),
                           std::move(result), 3}};
}

Event log_event(std::string message) {
  Event::Log log;
  log.message = Recorded<std::string>::full(std::move(message));
  log.task = "main";
  return Event{std::move(log)};
}

const Redacted kSummary{std::string(64, 'a'), 5};

template <class T>
std::optional<RuntimeError> error_of(Result<T, RuntimeError> result) {
  if (result.ok()) return std::nullopt;
  return std::move(result).error();
}

// Each case serves one operation against a recording of a few events and must diverge with this message.
TEST(Journal, ServedOperationsDivergeWithTheirExpectedTexts) {
  struct Case {
    std::string name;
    std::vector<Event> recording;
    std::function<std::optional<RuntimeError>(RunState&)> operation;
    std::string message;
  };
  zem::RequestGroup group{"zem-test", {}, {}};
  const std::vector<Case> cases = {
      {"end_of_recording", {log_event("a")},
       [&](RunState& run) {
         run.journal.cursor = 1;
         return error_of(journal::request(run, group, false, kSpan));
       },
       "the program expected a Zem request at event 1 of the recording but found the end of the recording"},
      {"redacted_state",
       {Event{Event::Request{"r1", Recorded<json::Object>::redacted(kSummary), {}}}},
       [&](RunState& run) { return error_of(journal::request(run, group, false, kSpan)); },
       "the program expected the same Zem request at event 0 of the recording but found a Zem request"},
      {"redacted_call_result", {call_event("a.txt", Recorded<Value>::redacted(kSummary))},
       [](RunState& run) { return error_of(journal::call(run, "files", "read", args_of("a.txt"), kSpan)); },
       "the program expected a full replayed capability result at event 0 of the recording but found the call "
       "`files.read`"},
      {"other_arguments", {call_event("a.txt", Recorded<Value>::full(Value::none()))},
       [](RunState& run) { return error_of(journal::call(run, "files", "read", args_of("b.txt"), kSpan)); },
       "the program expected the call `files.read` with arguments Record({\"positional\": "
       "List([Text(\"b.txt\")])}), not `files.read` with Record({\"positional\": List([Text(\"a.txt\")])}) "
       "at event 0 of the recording but found the call `files.read`"},
      {"redacted_observation",
       {Event{Event::Observe{"files", Value::handle(runtime::Handle{"files", "h1", {}}),
                             Recorded<record::Observation>::redacted(kSummary)}}},
       [](RunState& run) {
         return error_of(journal::observe(run, "files", runtime::Handle{"files", "h1", {}}, kSpan));
       },
       "the program expected a full replayed observation at event 0 of the recording but found an observation "
       "of `files`"},
      {"abort_with_another_reason", {Event{Event::Abort{"operator said so"}}},
       [](RunState& run) { return error_of(journal::check_abort(run, kSpan)); },
       "the program expected host cancellation with the specified reason at event 0 of the recording but found "
       "host cancellation"},
      {"random_at_a_clock_reading", {now_draw(kStartMs)},
       [](RunState& run) { return error_of(journal::random(run, kSpan)); },
       "the program expected a random draw at event 0 of the recording but found a clock reading"},
      {"another_log", {log_event("a")},
       [](RunState& run) { return error_of(journal::expect(run, log_event("b"), kSpan)); },
       "the program expected the same `info` log (level, message and fields) at event 0 of the recording but "
       "found a `info` log"},
      {"log_summary_never_matches_its_text",
       {Event{Event::Log{syntax::LogLevel::Info, Recorded<std::string>::redacted(kSummary), {}, "main", {}}}},
       [](RunState& run) { return error_of(journal::expect(run, log_event("a"), kSpan)); },
       "the program expected the same `info` log (level, message and fields) at event 0 of the recording but "
       "found a `info` log"},
      {"another_start", {Event{Event::Start{"p", "main", {}, {}, "0.1"}}},
       [](RunState& run) { return error_of(journal::expect(run, Event{Event::Start{"p", "other", {}, {}, "0.1"}}, kSpan)); },
       "the program expected ``start`` at event 0 of the recording but found `start`"},
      {"more_after_the_end",
       {Event{Event::End{PauseKind::Done, {}, false, {}}}, log_event("late")},
       [](RunState& run) {
         return error_of(journal::expect(run, Event{Event::End{PauseKind::Done, {}, false, {}}}, kSpan));
       },
       "the program expected the end of the recording at event 1 of the recording but found a `info` log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JournalRun fixture;
    fixture.replay(c.recording);
    std::optional<RuntimeError> error = c.operation(fixture.run);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, RuntimeErrorCode::ReplayDiverged);
    EXPECT_EQ(error->message, c.message);
    EXPECT_FALSE(error->retryable);
    EXPECT_EQ(error->span, kSpan);
    EXPECT_EQ(fixture.host->calls, 0);
  }
}

TEST(Journal, AFailedCallIsRecordedAndFailsAgainWithoutTheHost) {
  JournalRun fixture;
  fixture.host->results.push_back(err(runtime::make_runtime_error(RuntimeErrorCode::AdapterError, "no such file", true)));
  auto first = journal::call(fixture.run, "files", "read", args_of("a.txt"), kSpan);
  ASSERT_FALSE(first.ok());
  EXPECT_EQ(first.error().span, kSpan);
  ASSERT_EQ(fixture.run.journal.events.size(), 1u);
  const auto& failed = std::get<Event::EffectError>(fixture.run.journal.events[0].data);
  EXPECT_EQ(failed.operation, record::EffectOperation::Call);
  EXPECT_EQ(failed.message, "no such file");
  EXPECT_TRUE(failed.retryable);

  journal::begin_execution(fixture.run);
  auto again = journal::call(fixture.run, "files", "read", args_of("a.txt"), Span{});
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error(), first.error());
  EXPECT_EQ(fixture.host->calls, 1);
  EXPECT_EQ(fixture.run.journal.events.size(), 1u);
}

TEST(Journal, LiveEffectsOfCapabilitiesAreRecordedAndServed) {
  JournalRun fixture;
  RunState& run = fixture.run;
  fixture.host->results.push_back(Value::text("draft text"));
  auto generated = journal::generate(run, "files", "write a poem", Value::text("notes"), kSpan);
  ASSERT_TRUE(generated.ok()) << generated.error();
  EXPECT_EQ(generated->output, "draft text");
  EXPECT_FALSE(generated->usd.has_value());
  // chars4 over "write a poem" + "notes" + "draft text": 27 characters.
  EXPECT_EQ(generated->tokens, 7u);
  auto observed = journal::observe(run, "files", runtime::Handle{"files", "h1", {}}, kSpan);
  ASSERT_TRUE(observed.ok());
  auto missing = journal::call(run, "mail", "send", {}, kSpan);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, RuntimeErrorCode::BindingMissing);
  EXPECT_EQ(missing.error().message, "capability `mail` was not bound");
  EXPECT_EQ(run.journal.events.size(), 2u);

  journal::begin_execution(run);
  auto served = journal::generate(run, "files", "write a poem", Value::text("notes"), kSpan);
  ASSERT_TRUE(served.ok());
  EXPECT_EQ(served->output, "draft text");
  EXPECT_EQ(served->tokens, 7u);
  auto served_observation = journal::observe(run, "files", runtime::Handle{"files", "h1", {}}, kSpan);
  ASSERT_TRUE(served_observation.ok());
  EXPECT_EQ(served_observation->last_message, "done");
  EXPECT_EQ(fixture.host->calls, 1);
  EXPECT_EQ(fixture.host->observations, 1);
}

TEST(Journal, ServedDrawsOfAnotherJsonKindGiveTheirNeutralValues) {
  JournalRun fixture;
  fixture.replay({Event{Event::Draw{DrawKind::Random, json::Value("0.5")}},
                  Event{Event::Draw{DrawKind::Now, json::Value(7)}}});
  auto drawn = journal::random(fixture.run, kSpan);
  ASSERT_TRUE(drawn.ok());
  EXPECT_EQ(*drawn, 0);
  auto read = journal::now(fixture.run, kSpan);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(*read, "");
}

TEST(Journal, AHostCancellationDuringAReplayCutsTheRecordingThere) {
  JournalRun fixture;
  fixture.replay({log_event("a"), log_event("b"), log_event("c")});
  ASSERT_TRUE(journal::expect(fixture.run, log_event("a"), kSpan).ok());
  fixture.run.abort_flag->store(true);
  auto aborted = journal::check_abort(fixture.run, kSpan);
  ASSERT_TRUE(aborted.ok());
  EXPECT_TRUE(*aborted);
  EXPECT_FALSE(fixture.run.journal.replaying);
  ASSERT_EQ(fixture.run.journal.events.size(), 2u);
  EXPECT_EQ(std::get<Event::Abort>(fixture.run.journal.events[1].data).reason, "aborted by host");
}

// The events of a live run stopped at a confirm pause: start, the pause, and the clock after it.
std::vector<Event> paused_journal(const Pause& pause) {
  return {Event{Event::Start{"p", "main", {}, {}, "0.1"}}, Event{Event::Pause{pause.kind(), pause}},
          now_draw(kStartMs)};
}

Pause confirm_pause(uint64_t offset = 0) {
  Pause pause{record::PauseCommon{"run_1_1", 0, "main", std::nullopt, kSpan, offset},
              Pause::Confirm{"ok?", {"yes", "no"}, {}}};
  return pause;
}

TEST(Journal, RecordResumeKeepsAnEqualPayloadAndReplacesADifferentOne) {
  const Resume yes{Resume::Answer{"yes", std::nullopt}};
  const Resume no{Resume::Answer{"no", std::nullopt}};
  JournalRun fixture;
  std::vector<Event> events = paused_journal(confirm_pause());
  events.push_back(Event{Event::Resume{yes}});
  events.push_back(now_draw(kStartMs + 10));
  fixture.replay(events);
  fixture.run.journal.paused_at = 1;

  ASSERT_TRUE(journal::record_resume(fixture.run, yes).ok());
  EXPECT_EQ(fixture.run.journal.events.size(), 5u);
  EXPECT_TRUE(fixture.run.journal.replaying);

  ASSERT_TRUE(journal::record_resume(fixture.run, no).ok());
  ASSERT_EQ(fixture.run.journal.events.size(), 4u);
  EXPECT_EQ(std::get<Event::Resume>(fixture.run.journal.events[3].data).payload, no);
  EXPECT_FALSE(fixture.run.journal.replaying);
}

// When the recording refuses the new resume, the recorded one and everything after it are still there: the
// journal is cut only once the event that follows the cut has been written.
TEST(Journal, ARefusedResumeLeavesTheJournalAsItWas) {
  JournalRun fixture;
  MemoryRecording recording;
  recording.fail_at = 0;
  fixture.run.recorder = std::make_unique<MemorySink>(recording, "run_1_1", nullptr);
  std::vector<Event> events = paused_journal(confirm_pause());
  events.push_back(Event{Event::Resume{Resume{Resume::Answer{"yes", std::nullopt}}}});
  fixture.replay(events);
  fixture.run.journal.paused_at = 1;
  auto refused = journal::record_resume(fixture.run, Resume{Resume::Answer{"no", std::nullopt}});
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "could not write the recording: disk full");
  EXPECT_EQ(fixture.run.journal.events.size(), 4u);
  EXPECT_EQ(fixture.run.journal.end(), 4u);
  EXPECT_TRUE(fixture.run.journal.replaying);
}

TEST(Journal, APauseIsPassedOnlyOnceTheRunStoppedThereAndWasResumed) {
  struct Case {
    std::string name;
    Pause recorded;
    Pause raised;
    std::vector<Event> after;  // the events after the pause and its clock reading
    bool surfaced;             // the run has stopped at this pause before
    PausePassage::Kind kind;
    uint64_t paused_ms;
  };
  Pause waiting{record::PauseCommon{"run_1_1", 0, "main", std::nullopt, kSpan, 0}, Pause::Waiting{"coder", "idle", 0}};
  Pause stopped{record::PauseCommon{"run_1_1", 0, "main", std::nullopt, kSpan, 0}, Pause::Stopped{"halt"}};
  const Event resume{Event::Resume{Resume{Resume::Answer{"yes", std::nullopt}}}};
  const Event send = call_event("x", Recorded<Value>::full(Value::none()));
  Event send_verb = send;
  std::get<Event::Call>(send_verb.data).verb = "send";
  const std::vector<Case> cases = {
      {"never_surfaced", confirm_pause(), confirm_pause(), {resume, now_draw(kStartMs + 500)}, false,
       PausePassage::Kind::Stop, 0},
      {"resumed", confirm_pause(), confirm_pause(), {resume, now_draw(kStartMs + 500)}, true,
       PausePassage::Kind::Passed, 500},
      {"offset_differs_only", confirm_pause(120), confirm_pause(0), {resume, now_draw(kStartMs + 500)}, true,
       PausePassage::Kind::Passed, 500},
      {"clock_went_back", confirm_pause(), confirm_pause(), {resume, now_draw(kStartMs - 500)}, true,
       PausePassage::Kind::Passed, 0},
      {"not_yet_resumed", confirm_pause(), confirm_pause(), {}, true, PausePassage::Kind::Stop, 0},
      {"waiting_skips_injected_sends", waiting, waiting, {send_verb, send_verb, resume, now_draw(kStartMs + 20)},
       true, PausePassage::Kind::Passed, 20},
      {"terminal_is_never_passed", stopped, stopped, {resume, now_draw(kStartMs + 20)}, true,
       PausePassage::Kind::Stop, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JournalRun fixture;
    std::vector<Event> events = paused_journal(c.recorded);
    events.insert(events.end(), c.after.begin(), c.after.end());
    fixture.replay(events);
    fixture.run.journal.replaying = false;
    if (c.surfaced) fixture.run.journal.surfaced_until = 1;
    fixture.run.journal.cursor = 1;
    auto passage = journal::pause(fixture.run, c.raised);
    ASSERT_TRUE(passage.ok()) << passage.error();
    EXPECT_EQ(passage->kind, c.kind);
    EXPECT_EQ(passage->paused_ms, c.paused_ms);
    if (c.kind == PausePassage::Kind::Stop) {
      ASSERT_TRUE(fixture.run.pending_pause.has_value());
      EXPECT_EQ(*fixture.run.pending_pause, c.recorded);
      EXPECT_EQ(fixture.run.journal.paused_at, 1u);
    }
  }
}

TEST(Journal, ALivePauseCarriesItsOffsetAndAClockReadingWhenResumable) {
  JournalRun fixture;
  ASSERT_TRUE(journal::push(fixture.run, log_event("first")).ok());
  const uint64_t offset = fixture.run.journal.byte_offset;
  auto passage = journal::pause(fixture.run, confirm_pause());
  ASSERT_TRUE(passage.ok());
  EXPECT_EQ(passage->kind, PausePassage::Kind::Stop);
  ASSERT_TRUE(fixture.run.pending_pause.has_value());
  EXPECT_EQ(fixture.run.pending_pause->common.recording_offset, offset);
  EXPECT_EQ(fixture.run.journal.events.size(), 3u);
  EXPECT_EQ(fixture.run.journal.paused_at, 1u);

  JournalRun terminal;
  Pause stopped{record::PauseCommon{"run_1_1", 0, "main", std::nullopt, kSpan, 0}, Pause::Stopped{"halt"}};
  ASSERT_TRUE(journal::pause(terminal.run, stopped).ok());
  EXPECT_EQ(terminal.run.journal.events.size(), 1u);
}

}  // namespace
}  // namespace dravelin::interp

namespace dravelin::interp {
namespace {

// Every pushed event is stamped, queued and shown to the event sink; a sink that fails fails the push, with
// the event already in the journal.
TEST(Journal, PushedEventsAreStampedQueuedAndShownToTheSink) {
  JournalRun fixture;
  std::vector<record::RecordedEvent> seen;
  bool refuse = false;
  fixture.run.event_sink = [&](const record::RecordedEvent& line) -> Result<Unit, RuntimeError> {
    seen.push_back(line);
    if (refuse) return err(runtime::make_runtime_error(RuntimeErrorCode::AdapterError, "host went away"));
    return Unit{};
  };
  fixture.clock_ms = kStartMs + 61000;
  ASSERT_TRUE(journal::push(fixture.run, Event{Event::Start{"p", "main", {}, {}, "0.1"}}).ok());
  auto offset = journal::push(fixture.run, log_event("one"));
  ASSERT_TRUE(offset.ok());
  refuse = true;
  auto refused = journal::push(fixture.run, log_event("two"));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "host went away");

  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].ts, "2024-05-01T12:01:01.000Z");
  EXPECT_EQ(seen[0].run_id, "run_1_1");
  EXPECT_EQ((std::vector<uint64_t>{seen[0].seq, seen[1].seq, seen[2].seq}), (std::vector<uint64_t>{0, 1, 2}));
  ASSERT_TRUE(seen[0].metadata.has_value());
  EXPECT_EQ(seen[0].metadata->ir.program, "p");
  EXPECT_FALSE(seen[1].metadata.has_value());
  // The second line starts where the first one ended, line feed included.
  std::string first;
  seen[0].write_json(first);
  EXPECT_EQ(*offset, first.size() + 1);
  EXPECT_EQ(fixture.run.journal.events.size(), 3u);
  EXPECT_EQ(fixture.run.journal.stamped.size(), 3u);
}

}  // namespace
}  // namespace dravelin::interp
