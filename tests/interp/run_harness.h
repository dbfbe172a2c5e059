// A run to test the interpreter with: a compiled program, a scripted model service, an in-memory recording, a
// clock the test sets, and the little run control the tests need (execute, resume and execute again).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "compiler/compile.h"
#include "interp/interpreter.h"
#include "interp/journal.h"
#include "interp/run_state.h"
#include "record/recorded_event.h"
#include "record/sink.h"
#include "record/timestamp.h"
#include "syntax/parse.h"
#include "zem/service.h"

namespace dravelin::interp::testing {

using record::Event;
using record::EventKind;
using record::Pause;
using record::Resume;
using runtime::PauseKind;
using runtime::RuntimeErrorCode;
using runtime::Value;

inline ir::Ir compile(const std::string& source) {
  auto program = syntax::parse_program(source);
  EXPECT_TRUE(program.ok()) << source << "\n" << (program.ok() ? "" : syntax::debug_string(program.error()));
  if (!program.ok()) return ir::Ir::empty_named("broken");
  auto compiled = compiler::compile_source(*program, std::nullopt, compiler::ModuleSources{});
  EXPECT_TRUE(compiled.ok()) << source << "\n" << (compiled.ok() ? "" : syntax::debug_string(compiled.error()));
  if (!compiled.ok()) return ir::Ir::empty_named("broken");
  return std::move(compiled->ir);
}

inline zem::Profile test_profile() {
  zem::Profile profile;
  profile.model = "zem-test";
  profile.endpoint = "https://zem.invalid/v1/judge";
  profile.total_tokens = 100000;
  profile.state_plus_question_tokens = 50000;
  profile.max_questions_per_request = 8;
  profile.max_criteria_per_question = 8;
  profile.price_per_million_input_usd = 0.042;
  return profile;
}

// Answers every question of a group: a `feels` with the probability set for its id (0.9 by default), a `pick`
// with the label set for its id (the first label by default), a `rate` with level 0. Failures queued with
// `fail_next` are returned first, one per request.
class ScriptedService final : public zem::ZemService {
 public:
  std::map<std::string, double> probs;
  std::map<std::string, std::string> labels;
  uint64_t tokens = 1000;
  std::optional<double> usd;
  std::deque<zem::ZemError> failures;
  std::vector<zem::RequestGroup> asked;
  std::function<void()> on_ask;  // runs while the request is under way

  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup& group) override {
    asked.push_back(group);
    if (on_ask) on_ask();
    if (!failures.empty()) {
      zem::ZemError error = failures.front();
      failures.pop_front();
      return err(std::move(error));
    }
    zem::ZemResponse response;
    response.tokens = tokens;
    response.usd = usd;
    response.latency_ms = 12;
    for (const zem::Question& question : group.questions) {
      const std::string& id = question.id();
      if (const auto* choice = std::get_if<zem::Question::Choice>(&question.data)) {
        std::string label = labels.count(id) ? labels[id] : choice->labels.front().name;
        zem::Probabilities probabilities;
        for (const auto& l : choice->labels) probabilities[l.name] = l.name == label ? 0.8 : 0.2 / double(choice->labels.size() - 1);
        response.answers.emplace_back(zem::ZemAnswer::Choice{id, label, 0.8, probabilities});
      } else if (std::holds_alternative<zem::Question::Score>(question.data)) {
        response.answers.emplace_back(zem::ZemAnswer::Score{id, 0, 0.0, 0.7, {{"0", 0.7}, {"1", 0.3}}});
      } else {
        response.answers.emplace_back(zem::ZemAnswer::Noul{id, probs.count(id) ? probs[id] : 0.9});
      }
    }
    return response;
  }
};

// Hands requests to a service the test keeps, so that it survives the run.
class SharedService final : public zem::ZemService {
 public:
  explicit SharedService(ScriptedService& target) : target_(target) {}
  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup& group) override { return target_.ask(group); }

 private:
  ScriptedService& target_;
};

// The lines of a recording kept in memory, written as the file recorder writes them. `fail_at` makes the
// write of that line (counted from 0) fail, and every later one with it.
struct MemoryRecording {
  std::vector<std::string> lines;
  uint64_t offset = 0;
  bool closed = false;
  std::optional<size_t> fail_at;
  bool failed = false;
};

class MemorySink final : public record::RecordingSink {
 public:
  MemorySink(MemoryRecording& recording, std::string run_id, const record::ExecutionMetadata* metadata)
      : recording_(recording), run_id_(std::move(run_id)), metadata_(metadata) {}

  Result<uint64_t, runtime::RuntimeError> record(const Event& event) override {
    if (recording_.failed || recording_.closed || (recording_.fail_at && recording_.lines.size() >= *recording_.fail_at)) {
      recording_.failed = true;
      return err(runtime::make_runtime_error(RuntimeErrorCode::AdapterError, "could not write the recording: disk full"));
    }
    std::string line;
    record::write_recorded_line(line, "2024-05-01T12:00:00.000Z", run_id_, recording_.lines.size(),
                                event.kind() == EventKind::Start ? metadata_ : nullptr, event);
    const uint64_t at = recording_.offset;
    recording_.offset += line.size() + 1;
    recording_.lines.push_back(std::move(line));
    return at;
  }
  uint64_t offset() const override { return recording_.offset; }
  void close() override { recording_.closed = true; }

 private:
  MemoryRecording& recording_;
  std::string run_id_;
  const record::ExecutionMetadata* metadata_;
};

inline constexpr uint64_t kStartMs = 1714564800000;  // 2024-05-01T12:00:00.000Z

class TestRun {
 public:
  explicit TestRun(const std::string& source, runtime::Record inputs = {}, bool sample = false)
      : inputs_(std::move(inputs)) {
    record::Sample setting;
    setting.setting = sample;
    run = RunConfig{compile(source), test_profile(), setting, "run_1_1", 7}.with_tokenizer();
    run.clock = [this] { return clock_ms; };
    run.make_service = [this](const zem::Profile&) -> Result<std::unique_ptr<zem::ZemService>, runtime::RuntimeError> {
      return std::unique_ptr<zem::ZemService>(std::make_unique<SharedService>(service));
    };
  }

  TestRun& with_recording() {
    run.recorder = std::make_unique<MemorySink>(recording, run.run_id, &run.metadata);
    return *this;
  }

  TaskOutcome execute(std::string task = "main") {
    TaskOutcome outcome = execute_task(run, std::move(task), inputs_);
    last = outcome.pause;
    return outcome;
  }

  // Records the payload after the pause and executes again, as run control does.
  TaskOutcome resume(Resume payload) {
    auto recorded = journal::record_resume(run, std::move(payload));
    EXPECT_TRUE(recorded.ok()) << (recorded.ok() ? "" : recorded.error().text());
    return execute();
  }
  TaskOutcome answer(std::string text) { return resume(Resume{Resume::Answer{std::move(text), std::nullopt}}); }

  // The tags of the journal's events, in order.
  std::vector<std::string> kinds() const {
    std::vector<std::string> out;
    for (const Event& event : run.journal.events) out.emplace_back(record::event_kind_name(event.kind()));
    return out;
  }
  template <class E>
  std::vector<const E*> events_of() const {
    std::vector<const E*> out;
    for (const Event& event : run.journal.events) {
      if (const auto* e = std::get_if<E>(&event.data)) out.push_back(e);
    }
    return out;
  }

  ScriptedService service;
  MemoryRecording recording;
  uint64_t clock_ms = kStartMs;
  RunState run;
  Pause last;

 private:
  runtime::Record inputs_;
};

template <class D>
const D& detail(const Pause& pause) {
  const D* d = std::get_if<D>(&pause.detail);
  EXPECT_NE(d, nullptr) << "the pause is a `" << runtime::pause_kind_name(pause.kind()) << "`";
  static const D empty{};
  return d != nullptr ? *d : empty;
}

inline std::string describe(const Pause& pause) {
  std::string out;
  pause.write_json(out);
  return out;
}

}  // namespace dravelin::interp::testing
