// An effect host for tests: it records every operation it receives and answers from results queued in advance.
//
// Results are taken from one queue in the order the operations arrive, whatever the operation: queue a value
// (or an error) for every judge, call, call_verb, focus, trail, now or random the code under test will make.
// `now` needs a text and `random` a number at the front of the queue. `log` takes nothing from the queue: it
// succeeds unless an error was queued with `fail_next_log`. An operation that finds nothing suitable queued
// fails with a `type_error` naming the operation, so a missing script line shows up as a failing result rather
// than a crash.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "runtime/eval.h"

namespace dravelin::runtime::testing {

enum class HostOp { Judge, Call, CallVerb, Focus, Trail, Now, Random, Log };

// One operation as the host received it; only the members the operation has are filled.
struct HostCall {
  HostOp op = HostOp::Call;
  std::string name;                    // call: the callee; call_verb: the verb; focus: the purpose
  std::optional<CallTarget> target;    // call_verb
  CallArguments args;                  // call, call_verb
  Value value;                         // focus: the text operand
  double max = 0;                      // focus
  uint64_t count = 0;                  // trail
  std::optional<ir::Judge> judge;      // judge: a copy of the question
  std::optional<JudgmentLogEntry> log; // log
};

class ScriptedHost : public EffectHost {
 public:
  using Answer = std::variant<Value, RuntimeError>;

  ScriptedHost& queue(Value value) {
    answers_.emplace_back(std::move(value));
    return *this;
  }
  ScriptedHost& queue_error(RuntimeError error) {
    answers_.emplace_back(std::move(error));
    return *this;
  }
  ScriptedHost& fail_next_log(RuntimeError error) {
    log_errors_.push_back(std::move(error));
    return *this;
  }

  const std::vector<HostCall>& calls() const { return calls_; }
  size_t queued() const { return answers_.size(); }

  ValueResult judge(const ir::Judge& judge, Scopes&) override {
    HostCall c = record(HostOp::Judge);
    c.judge = judge;
    calls_.push_back(std::move(c));
    return take("judge");
  }
  ValueResult call(std::string_view callee, CallArguments args) override {
    HostCall c = record(HostOp::Call);
    c.name = std::string(callee);
    c.args = std::move(args);
    calls_.push_back(std::move(c));
    return take("call");
  }
  ValueResult call_verb(const CallTarget& target, std::string_view verb, CallArguments args) override {
    HostCall c = record(HostOp::CallVerb);
    c.name = std::string(verb);
    c.target = target;
    c.args = std::move(args);
    calls_.push_back(std::move(c));
    return take("call_verb");
  }
  ValueResult focus(const Value& text, std::string_view purpose, double max) override {
    HostCall c = record(HostOp::Focus);
    c.value = text;
    c.name = std::string(purpose);
    c.max = max;
    calls_.push_back(std::move(c));
    return take("focus");
  }
  ValueResult trail(uint64_t count) override {
    HostCall c = record(HostOp::Trail);
    c.count = count;
    calls_.push_back(std::move(c));
    return take("trail");
  }
  Result<std::string, RuntimeError> now() override {
    calls_.push_back(record(HostOp::Now));
    Value v = TRY(take("now"));
    if (!v.is_text()) return err(missing("now"));
    return std::move(v.as_text());
  }
  Result<double, RuntimeError> random() override {
    calls_.push_back(record(HostOp::Random));
    Value v = TRY(take("random"));
    if (!v.is_number()) return err(missing("random"));
    return v.as_number();
  }
  Result<Unit, RuntimeError> log(JudgmentLogEntry entry) override {
    HostCall c = record(HostOp::Log);
    c.log = std::move(entry);
    calls_.push_back(std::move(c));
    if (!log_errors_.empty()) {
      RuntimeError e = std::move(log_errors_.front());
      log_errors_.pop_front();
      return err(std::move(e));
    }
    return Unit{};
  }

 private:
  static HostCall record(HostOp op) {
    HostCall c;
    c.op = op;
    return c;
  }

  static RuntimeError missing(std::string_view op) {
    return make_runtime_error(RuntimeErrorCode::TypeError,
                              "scripted host has no suitable result queued for `" + std::string(op) + "`");
  }

  ValueResult take(std::string_view op) {
    if (answers_.empty()) return err(missing(op));
    Answer a = std::move(answers_.front());
    answers_.pop_front();
    if (auto* e = std::get_if<RuntimeError>(&a)) return err(std::move(*e));
    return std::get<Value>(std::move(a));
  }

  std::deque<Answer> answers_;
  std::deque<RuntimeError> log_errors_;
  std::vector<HostCall> calls_;
};

}  // namespace dravelin::runtime::testing
