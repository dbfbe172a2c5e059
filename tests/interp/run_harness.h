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

ir::Ir compile(const std::string& source);
zem::Profile test_profile();

// Answers every question of a group: a `feels` with the probability set for its id (0.9 by default), a `pick`
// with the label set for its id (the first label by default), a `rate` with level 0. Failures queued with
// `fail_next` are returned first, one per request.
class ScriptedService final : public zem::ZemService {
 public:
  std::map<std::string, double> probs;
  std::map<std::string, double> by_condition;  // a `feels` by its condition, before its id
  std::map<std::string, std::string> labels;
  uint64_t tokens = 1000;
  std::optional<double> usd;
  std::deque<zem::ZemError> failures;
  std::vector<zem::RequestGroup> asked;
  std::function<void()> on_ask;  // runs while the request is under way

  Result<zem::ZemResponse, zem::ZemError> ask(const zem::RequestGroup& group) override;
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

  Result<uint64_t, runtime::RuntimeError> record(const Event& event) override;
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
  explicit TestRun(const std::string& source, runtime::Record inputs = {}, bool sample = false);
  ~TestRun();

  TestRun& with_recording();

  TaskOutcome execute(std::string task = "main");

  // Records the payload after the pause and executes again, as run control does.
  TaskOutcome resume(Resume payload);
  TaskOutcome answer(std::string text);

  // The tags of the journal's events, in order.
  std::vector<std::string> kinds() const;
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

std::string describe(const Pause& pause);

}  // namespace dravelin::interp::testing
