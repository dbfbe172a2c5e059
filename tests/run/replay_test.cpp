// Runs built from recordings: what the set-up takes from the recording and what it checks, the model-service
// endpoint a replay that goes live uses, and recorded programs that are inconsistent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "record/event.h"
#include "record/recorded_event.h"
#include "run/run.h"
#include "run/run_test_support.h"
#include "support/zem_server.h"

namespace dravelin::run {
namespace {

namespace fs = std::filesystem;
using dravelin::testing::ScopedEnv;
using dravelin::testing::ScratchDir;
using dravelin::testing::ZemServer;
using record::PauseKind;
using record::Resume;
using runtime::RuntimeErrorCode;
using testing::compile_or_fail;
using RunHandle = dravelin::run::Run;

// Answers every `feels` with 0.9 and counts what it was asked.
class FixedService final : public zem::ZemService {
 public:
  explicit FixedService(int* asked) : asked_(asked) {}
  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup& group) override {
    ++*asked_;
    zem::ZemResponse response;
    for (const zem::Question& question : group.questions) {
      response.answers.emplace_back(zem::ZemAnswer::Noul{question.id(), 0.9});
    }
    return response;
  }

 private:
  int* asked_;
};

// Three judgments under a budget of one call: the run pauses at the budget after its first request.
constexpr const char* kReplayBudget = R"(program counted
in s: text
out n

task main budget calls 1:
  n = 0
  loop max 3:
    ok = s feels "fine"
    n = n + 1
)";

// Most of what a task body can hold, so that a changed program reaches many parts of the interpreter.
constexpr const char* kBusy = R"(program busy
in items: list
out total
out words

def double(x, by = 2):
  return x * by

judgment calm(note):
  mood = note feels "calm"

task main budget steps 40:
  total = 0
  words = []
  for item in items:
    total = total + double(item)
    if total > 4:
      words = words + ["big {item}"]
    elif total > 2:
      words = words + ["mid"]
    else:
      continue
  k = 0
  until k >= 2, max 3:
    k = k + 1
  m = calm("all {total}")
  r = random()
  t = now()
  log info "done" {total, k}
  h = {a: 1, b: [1, 2]}
  total = total + h.b[1] + len(words)
)";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The index of the first line holding `needle`, or the number of lines.
size_t first_line_with(const std::vector<std::string>& lines, std::string_view needle) {
  size_t i = 0;
  while (i < lines.size() && lines[i].find(needle) == std::string::npos) ++i;
  return i;
}

class Replays : public ::testing::Test {
 protected:
  void SetUp() override { env_.unset("DRAVELIN_PROFILES").unset("DRAVELIN_PATH"); }

  // Records a run of `text` to `name`, answering a budget pause with three calls; returns the recording's path.
  fs::path record(const std::string& name, const char* text, runtime::Record inputs) {
    const fs::path path = dir_.path() / name;
    record::RunOptions options;
    options.record = path.string();
    options.inputs = std::move(inputs);
    auto started = start_task_run(compile_or_fail(text), "main", options, {});
    EXPECT_TRUE(started.ok()) << started.error();
    if (!started.ok()) return path;
    RunHandle run = std::move(started).value();
    run.set_service_factory([this](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>,
                                                                  runtime::RuntimeError> {
      return std::unique_ptr<zem::ZemService>(std::make_unique<FixedService>(&asked_));
    });
    for (int i = 0; i < 10; ++i) {
      auto outcome = run.next();
      EXPECT_TRUE(outcome.ok());
      if (!outcome.ok() || outcome->ends_run()) break;
      if (outcome->kind() == PauseKind::Budget) {
        Resume::Extend extend;
        extend.extend.emplace(record::BudgetKey::Calls, 3.0);
        EXPECT_TRUE(run.resume(Resume{extend}).ok());
      }
    }
    return path;
  }

  static Result<RunHandle, runtime::RuntimeError> replay(const fs::path& path, std::string task = "",
                                                         runtime::Record inputs = {}) {
    record::RunOptions options;
    options.replay = path.string();
    options.inputs = std::move(inputs);
    return RunHandle::create(ir::Ir::empty_named("replay"), std::move(task), options, {}, true);
  }

  ScopedEnv env_;
  ScratchDir dir_;
  int asked_ = 0;
};

TEST_F(Replays, TheRecordingGivesTheRunItsTaskIdInputsAndJournal) {
  const fs::path path = record("counted.jsonl", kReplayBudget, {{"s", runtime::Value::text("x")}});
  const std::string first_line = read_file(path).substr(0, read_file(path).find('\n'));
  auto run = replay(path);
  ASSERT_TRUE(run.ok()) << run.error();
  EXPECT_EQ(run->task(), "main");
  EXPECT_NE(first_line.find("\"run_id\":\"" + run->id() + "\""), std::string::npos) << run->id();
  EXPECT_EQ(run->recorded_count(), run->state().journal.events.size());
  EXPECT_TRUE(run->state().journal.replaying);

  // The recorded budget pause, then its recorded resume, then done; no request reaches any service.
  const int asked = asked_;
  auto budget = run->next();
  ASSERT_TRUE(budget.ok());
  EXPECT_EQ(budget->kind(), PauseKind::Budget);
  auto done = run->next();
  ASSERT_TRUE(done.ok());
  EXPECT_EQ(done->kind(), PauseKind::Done);
  EXPECT_EQ(asked_, asked);

  // Inputs given to the replay stand in for the recorded ones, and then the run asks for another request.
  auto other = replay(path, "", {{"s", runtime::Value::text("y")}});
  ASSERT_TRUE(other.ok());
  auto diverged = other->next();
  ASSERT_TRUE(diverged.ok());
  ASSERT_EQ(diverged->kind(), PauseKind::Error);
  EXPECT_EQ(std::get<record::Pause::Error>(diverged->detail).code, RuntimeErrorCode::ReplayDiverged);
}

// An allocation that fails during a run ends it with that error as the outcome, through the file recorder: the
// recording ends with its end line and loads for replay. (Memory need not run out again there, so the replay
// meets the request that was never answered and diverges; it must not fail to load.)
TEST_F(Replays, ARunThatRanOutOfMemoryLeavesARecordingThatLoads) {
  class ExhaustedService final : public zem::ZemService {
   public:
    Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup&) override { throw std::bad_alloc(); }
  };
  const fs::path path = dir_.path() / "exhausted.jsonl";
  record::RunOptions options;
  options.record = path.string();
  options.inputs = {{"s", runtime::Value::text("x")}};
  auto started = start_task_run(compile_or_fail(kReplayBudget), "main", options, {});
  ASSERT_TRUE(started.ok()) << started.error();
  RunHandle run = std::move(started).value();
  run.set_service_factory(
      [](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
        return std::unique_ptr<zem::ZemService>(std::make_unique<ExhaustedService>());
      });
  auto outcome = run.next();
  ASSERT_TRUE(outcome.ok());
  ASSERT_EQ(outcome->kind(), PauseKind::Error);
  EXPECT_EQ(std::get<record::Pause::Error>(outcome->detail).message, "the run ran out of memory");
  EXPECT_EQ(run.status(), RunStatus::Ended);

  const std::string text = read_file(path);
  ASSERT_FALSE(text.empty());
  const std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
  EXPECT_NE(last.find(R"("event":"end","kind":"error")"), std::string::npos) << last;
  auto replayed = replay(path);
  ASSERT_TRUE(replayed.ok()) << replayed.error();
  auto again = replayed->next();
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again->ends_run());
}

TEST_F(Replays, SetUpRefusesAnotherTaskAndAProgramOfAnotherVersion) {
  const fs::path path = record("counted.jsonl", kReplayBudget, {{"s", runtime::Value::text("x")}});
  auto other_task = replay(path, "triage");
  ASSERT_FALSE(other_task.ok());
  EXPECT_EQ(other_task.error().code, RuntimeErrorCode::ReplayDiverged);
  EXPECT_EQ(other_task.error().message, "the recording is of task `main`, not `triage`");

  // A caller's own program is kept, when its version is the recorded one.
  record::RunOptions options;
  options.replay = path.string();
  ir::Ir given = compile_or_fail(kReplayBudget);
  auto kept = RunHandle::create(given, "main", options, {}, false);
  ASSERT_TRUE(kept.ok()) << kept.error();
  EXPECT_TRUE(kept->state().ir() == given);
  given.ir_version = "0.2";
  auto refused = RunHandle::create(given, "main", options, {}, false);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message,
            "the recording IR version `0.1` does not match the supplied program version `0.2`");

  // Without metadata the caller's program runs, with a profile resolved as for a live run.
  std::string text = read_file(path);
  const size_t from = text.find("\"ir\":");
  text.erase(from, text.find("\"event\":") - from);
  write_file(path, text);
  auto bare = RunHandle::create(compile_or_fail(kReplayBudget), "main", options, {}, false);
  ASSERT_TRUE(bare.ok()) << bare.error();
  EXPECT_EQ(bare->state().profile().model, "zem-1.13.0");
  auto from_recording = replay(path);
  ASSERT_FALSE(from_recording.ok());
  EXPECT_EQ(from_recording.error().message,
            "the recording start event lacks linked IR, resolved profile or sample metadata");
}

// The recording names one endpoint, this machine's profiles another: a replay that goes live after a new resume
// sends its requests, and the key, only to the one this machine resolves.
TEST_F(Replays, AReplayThatGoesLiveUsesTheLocallyResolvedEndpoint) {
  const fs::path path = record("counted.jsonl", kReplayBudget, {{"s", runtime::Value::text("x")}});
  dravelin::testing::ZemServerOptions shared;
  shared.tls_dir = (dir_.path() / "tls").string();
  auto recorded_server = ZemServer::start(shared);
  auto local_server = ZemServer::start(shared);
  ASSERT_TRUE(recorded_server.ok() && local_server.ok());
  env_.set("SSL_CERT_FILE", (*local_server)->cert_file()).unset("SSL_CERT_DIR").set("VELTRANE_API_KEY", "k-123");
  for (const char* proxy : {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy", "HTTP_PROXY", "http_proxy"}) {
    env_.unset(proxy);
  }

  std::string text = read_file(path);
  const size_t at = text.find("\"endpoint\":\"") + 12;
  text.replace(at, text.find('"', at) - at, (*recorded_server)->url());
  write_file(path, text);
  const std::string profiles = (*local_server)->dir().write(
      "profiles.json", R"([{"model": "zem-1.13.0", "endpoint": ")" + (*local_server)->url() +
                           R"(", "total_tokens": 100000, "state_plus_question_tokens": 50000,
      "max_questions_per_request": 16, "max_criteria_per_question": 8, "tokenizer": "chars4",
      "price_per_million_input_usd": 1.0, "price_per_million_output_usd": 2.0}])");
  env_.set("DRAVELIN_PROFILES", profiles);

  auto run = replay(path);
  ASSERT_TRUE(run.ok()) << run.error();
  EXPECT_EQ(run->state().profile().endpoint, (*recorded_server)->url()) << "the recorded profile stays the run's";
  auto budget = run->next();
  ASSERT_TRUE(budget.ok());
  ASSERT_EQ(budget->kind(), PauseKind::Budget);
  Resume::Extend more;
  more.extend.emplace(record::BudgetKey::Calls, 10.0);
  ASSERT_TRUE(run->resume(Resume{more}).ok());
  auto done = run->next();
  ASSERT_TRUE(done.ok());
  EXPECT_EQ(done->kind(), PauseKind::Done);

  EXPECT_TRUE((*recorded_server)->requests().empty()) << "the recording's endpoint was asked";
  const std::vector<json::Value> asked = (*local_server)->requests();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_NE(json::to_compact(asked[0]).find("k-123"), std::string::npos) << json::to_compact(asked[0]);
}

// A replay cut short by its host: by a resume that differs from the recorded one, or by an abort at the recorded
// pause or before anything ran. What the run records afterwards follows the events it kept: numbered on from the
// cut without a gap, its pauses' offsets those of a recording of exactly these events, and that recording
// replays to the same end.
TEST_F(Replays, ACutReplayGoesOnFromTheCutAndItsEventsReplayAgain) {
  const fs::path path = record("counted.jsonl", kReplayBudget, {{"s", runtime::Value::text("x")}});
  const std::vector<std::string> lines = lines_of(read_file(path));
  enum class Cut { OtherResume, AbortAtPause, AbortBeforeStart };
  const struct Case {
    const char* name;
    Cut cut;
    size_t kept;  // the recorded events the run keeps
    PauseKind ends;
  } cases[] = {
      {"other_resume", Cut::OtherResume, first_line_with(lines, "\"event\":\"resume\""), PauseKind::Done},
      // The clock reading taken right after the pause stays with it.
      {"abort_at_pause", Cut::AbortAtPause, first_line_with(lines, "\"event\":\"pause\"") + 2, PauseKind::Stopped},
      {"abort_before_start", Cut::AbortBeforeStart, 0, PauseKind::Stopped},
  };
  ASSERT_LT(cases[0].kept, lines.size());
  ASSERT_LT(cases[1].kept, lines.size());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto run = replay(path);
    ASSERT_TRUE(run.ok()) << run.error();
    run->set_service_factory([this](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>,
                                                                   runtime::RuntimeError> {
      return std::unique_ptr<zem::ZemService>(std::make_unique<FixedService>(&asked_));
    });
    if (c.cut != Cut::AbortBeforeStart) {
      auto budget = run->next();
      ASSERT_TRUE(budget.ok()) << budget.error().text();
      ASSERT_EQ(budget->kind(), PauseKind::Budget);
    }
    if (c.cut == Cut::OtherResume) {
      Resume::Extend more;
      more.extend.emplace(record::BudgetKey::Calls, 5.0);
      ASSERT_TRUE(run->resume(Resume{more}).ok());
      ASSERT_TRUE(run->next().ok());
    } else {
      ASSERT_TRUE(run->abort().ok());
    }
    ASSERT_TRUE(run->last_pause().has_value());
    EXPECT_EQ(run->last_pause()->kind(), c.ends);

    const std::vector<record::RecordedEvent> added = run->take_queued();
    ASSERT_FALSE(added.empty());
    EXPECT_EQ(run->state().journal.events.size(), c.kept + added.size());
    std::string text;
    for (size_t i = 0; i < c.kept; ++i) text += lines[i] + "\n";
    for (size_t i = 0; i < added.size(); ++i) {
      const record::RecordedEvent& line = added[i];
      EXPECT_EQ(line.seq, c.kept + i);
      if (const auto* pause = std::get_if<record::Event::Pause>(&line.event.data)) {
        EXPECT_EQ(pause->payload.common.recording_offset, text.size()) << "where the pause's line starts";
      }
      record::write_recorded_line(text, line.ts, line.run_id, line.seq, line.metadata ? &*line.metadata : nullptr,
                                  line.event);
      text += "\n";
    }

    const fs::path again = dir_.path() / (std::string(c.name) + ".jsonl");
    write_file(again, text);
    auto replayed = replay(again);
    ASSERT_TRUE(replayed.ok()) << replayed.error();
    std::optional<record::Pause> outcome;
    for (int step = 0; step < 5 && !(outcome && outcome->ends_run()); ++step) {
      auto next = replayed->next();
      ASSERT_TRUE(next.ok()) << next.error().text();
      outcome = *next;
    }
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->kind(), c.ends);
    EXPECT_TRUE(replayed->take_queued().empty()) << "every event was served from the recording";
  }
}

// A recording that ends with the resume of its pause, resumed otherwise while the host's event sink fails: the
// new resume stands in the journal all the same, so the next execution goes live past it instead of treating
// it as part of the recording.
TEST_F(Replays, AResumeThatReplacesTheLastRecordedEventGoesLiveEvenWhenTheSinkFailed) {
  const fs::path path = record("counted.jsonl", kReplayBudget, {{"s", runtime::Value::text("x")}});
  std::vector<std::string> lines = lines_of(read_file(path));
  lines.resize(first_line_with(lines, "\"event\":\"resume\"") + 1);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  const fs::path cut = dir_.path() / "ends_at_resume.jsonl";
  write_file(cut, text);

  auto run = replay(cut);
  ASSERT_TRUE(run.ok()) << run.error();
  run->set_service_factory([this](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>,
                                                                 runtime::RuntimeError> {
    return std::unique_ptr<zem::ZemService>(std::make_unique<FixedService>(&asked_));
  });
  auto budget = run->next();
  ASSERT_TRUE(budget.ok()) << budget.error().text();
  ASSERT_EQ(budget->kind(), PauseKind::Budget);
  run->set_event_sink([](const record::RecordedEvent&) -> Result<Unit, runtime::RuntimeError> {
    return err(runtime::make_runtime_error(RuntimeErrorCode::AdapterError, "the host went away"));
  });
  Resume::Extend more;
  more.extend.emplace(record::BudgetKey::Calls, 5.0);
  auto refused = run->resume(Resume{more});
  ASSERT_FALSE(refused.ok());
  EXPECT_FALSE(run->state().journal.replaying);
  EXPECT_EQ(run->state().journal.events.size(), lines.size());

  run->set_event_sink(nullptr);
  auto done = run->next();
  ASSERT_TRUE(done.ok()) << done.error().text();
  EXPECT_EQ(done->kind(), PauseKind::Done);
}

// Every leaf of the recorded program, changed one at a time: the replay may diverge or fail, but never crash.
TEST_F(Replays, AnInconsistentRecordedProgramIsAnErrorNeverACrash) {
  runtime::Record inputs;
  inputs.insert_or_assign("items", runtime::Value::list({runtime::Value::number(1), runtime::Value::number(2),
                                                         runtime::Value::number(3)}));
  const fs::path path = record("busy.jsonl", kBusy, inputs);
  const std::string text = read_file(path);
  const size_t first_end = text.find('\n');
  auto line = json::parse(text.substr(0, first_end), json::ReadOptions{.recursion_limit = 1000, .sort_objects = false});
  ASSERT_TRUE(line.ok());

  // Each mutation is a path of member keys and indices down to a leaf and what to put there.
  std::vector<std::function<void(json::Value&)>> changes;
  std::function<void(json::Value&, std::vector<std::function<json::Value&(json::Value&)>>)> walk;
  walk = [&](json::Value& node, std::vector<std::function<json::Value&(json::Value&)>> steps) {
    const auto at = [steps](json::Value& root) -> json::Value& {
      json::Value* v = &root;
      for (const auto& step : steps) v = &step(*v);
      return *v;
    };
    std::vector<json::Value> replacements;
    if (node.is_string()) replacements = {json::Value(std::string("zz")), json::Value(uint64_t{7})};
    if (node.is_integer()) replacements = {json::Value(uint64_t{4294967295u}), json::Value(int64_t{-1})};
    if (node.is_float()) replacements = {json::Value(-1e300)};
    if (node.is_bool()) replacements = {json::Value(!node.as_bool())};
    if (node.is_array()) replacements = {json::Value::array()};
    for (json::Value& replacement : replacements) {
      changes.push_back([at, replacement](json::Value& root) { at(root) = replacement; });
    }
    if (node.is_array()) {
      for (size_t i = 0; i < node.as_array().size(); ++i) {
        auto next = steps;
        next.push_back([i](json::Value& v) -> json::Value& { return v.as_array()[i]; });
        walk(node.as_array()[i], next);
      }
    } else if (node.is_object()) {
      for (json::Member& member : node.as_object()) {
        if (member.key == "span" || member.key == "source" || member.key == "file") continue;
        auto next = steps;
        next.push_back([key = member.key](json::Value& v) -> json::Value& { return *v.as_object().find(key); });
        walk(member.value, next);
      }
    }
  };
  walk(*line->as_object().find("ir"), {[](json::Value& v) -> json::Value& { return *v.as_object().find("ir"); }});
  ASSERT_GT(changes.size(), 100u) << "the program should offer many places to change";

  const fs::path changed = dir_.path() / "changed.jsonl";
  size_t replayed = 0;
  for (size_t i = 0; i < changes.size(); ++i) {
    json::Value copy = *line;
    changes[i](copy);
    write_file(changed, json::to_compact(copy) + text.substr(first_end));
    auto run = replay(changed);
    if (!run.ok()) {
      EXPECT_EQ(run.error().code, RuntimeErrorCode::ReplayDiverged) << i << ": " << run.error();
      continue;
    }
    ++replayed;
    for (int step = 0; step < 5; ++step) {
      auto outcome = run->next();
      if (!outcome.ok() || outcome->ends_run()) break;
    }
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
}  // namespace dravelin::run
