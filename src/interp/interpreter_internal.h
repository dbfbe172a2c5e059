// The interpreter's state for one execution of a task, and the operations its files share. Private to the
// interpreter library: the run layer sees only interpreter.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/result.h"
#include "interp/interpreter.h"
#include "interp/journal.h"
#include "interp/run_state.h"
#include "ir/program.h"
#include "record/event.h"
#include "record/pause.h"
#include "record/resume.h"
#include "record/usage.h"
#include "runtime/eval.h"
#include "runtime/value.h"
#include "runtime/value_bounds.h"
#include "zem/request_group.h"
#include "zem/service.h"

namespace dravelin::interp {

using record::BudgetKey;
using record::Pause;
using runtime::Scopes;
using runtime::Value;
using runtime::ValueResult;

// What ends the current execution: a pause, moved outward to the task runner.
struct Interrupt {
  Pause pause;
};

// A value, or the pause that ends the execution.
template <class T>
using Step = Result<T, Interrupt>;

// The outcome of a statement or a block.
struct Flow {
  enum class Kind : uint8_t { Normal, Continue, Break, Return, Interrupt };
  Kind kind = Kind::Normal;
  Value value;                   // Return
  std::unique_ptr<Pause> pause;  // Interrupt

  static Flow normal() { return Flow{}; }
  static Flow of(Kind kind) { return Flow{kind, Value(), nullptr}; }
  static Flow returning(Value value) { return Flow{Kind::Return, std::move(value), nullptr}; }
  static Flow interrupt(Interrupt interrupt) {
    return Flow{Kind::Interrupt, Value(), std::make_unique<Pause>(std::move(interrupt.pause))};
  }
  bool is_normal() const { return kind == Kind::Normal; }
};

// The budget of a task or machine frame: its limits and thresholds, what it has used, its clock and its flags.
struct BudgetAccount {
  std::array<std::optional<double>, 4> limits;  // by `BudgetKey`
  ir::Thresholds thresholds;
  std::vector<record::StepRecord> trail;          // completed step records, read by `trail`
  std::vector<record::StepRecord> pending_steps;  // records of the step in progress
  double calls_used = 0;
  double usd_used = 0;
  double steps_used = 0;
  uint64_t start_ms = 0;   // the clock reading when the frame was pushed
  uint64_t paused_ms = 0;  // time spent paused since then
  uint64_t next_step = 1;
  bool has_verify = false;  // the task body holds a top-level `until verify(...)`
  bool verify_started = false;
  bool verify_passed = false;
  bool done_reached = false;  // a gate's `done` reached the `done` threshold

  std::optional<double>& limit(BudgetKey key) { return limits[static_cast<size_t>(key)]; }
  const std::optional<double>& limit(BudgetKey key) const { return limits[static_cast<size_t>(key)]; }
  // Minutes since the frame was pushed at clock reading `now`, time spent paused left out.
  double elapsed_minutes(uint64_t now) const;
};

enum class FrameKind : uint8_t { Task, Machine, Def };

struct Frame {
  FrameKind kind = FrameKind::Task;
  std::optional<BudgetAccount> account;  // task and machine frames only
  std::string name;
  std::string module;                // "std", a `use` alias, or empty
  std::optional<std::string> state;  // the current state of a machine frame
  uint64_t id = 0;
  uint32_t loop_depth = 0;  // loops open in this frame

  // "machine:<name>" for a machine frame, else the name.
  std::string label() const;
};

// The judgments of one request group asked in a block and not yet assigned, by request group.
using BatchCache = std::map<uint32_t, runtime::Record>;

// The internal error that carries a pause parked in the run out of expression evaluation. Never shown.
RuntimeError paused_in_expression_error();

// The text before the first "." of `name` when it is "std" or the alias of a module of `ir`; else empty.
std::string module_of(const ir::Ir& ir, std::string_view name);

enum class CutSide : uint8_t { Head, Tail };
// The longest head or tail of `text`, in whole characters, that counts at most `cap` tokens; the text itself
// when it fits.
std::string cut_to_tokens(std::string_view text, uint64_t cap, CutSide side, const tokens::Tokenizer& tokenizer);

class Interpreter final : public runtime::EffectHost {
 public:
  // Ready for one execution of `task`: the run's cursor, request counter and pending pause are reset.
  Interpreter(RunState& run, std::string task, runtime::Record inputs);

  // Task execution (interp_task.cpp).
  TaskOutcome run_task();

  // The `log` lines of a judgment outside any run (judgment_run.cpp).
  Result<Unit, RuntimeError> run_judgment_logs(const ir::Judgment& judgment, Scopes& scopes,
                                               const runtime::Record& results);

  // The effect host (interp_effects.cpp, interp_judgments.cpp, interp_calls.cpp).
  ValueResult judge(const ir::Judge& judge, Scopes& scopes) override;
  ValueResult call(std::string_view callee, runtime::CallArguments args) override;
  ValueResult call_verb(const runtime::CallTarget& target, std::string_view verb, runtime::CallArguments args) override;
  ValueResult focus(const Value& text, std::string_view purpose, double max) override;
  ValueResult trail(uint64_t count) override;
  Result<std::string, RuntimeError> now() override;
  Result<double, RuntimeError> random() override;
  Result<Unit, RuntimeError> log(runtime::JudgmentLogEntry entry) override;

 private:
  // ---- statements (interp_statements.cpp) ----
  Flow exec_block(Scopes& scopes, const std::vector<ir::Stmt>& body);
  Flow exec_stmt(Scopes& scopes, const std::vector<ir::Stmt>& body, size_t index, std::optional<BatchCache>& cache);
  Flow exec_assign(Scopes& scopes, const ir::Stmt::Assign& assign);
  Flow exec_judgment_assign(Scopes& scopes, const std::vector<ir::Stmt>& body, size_t index,
                            std::optional<BatchCache>& cache);
  Flow exec_if(Scopes& scopes, const ir::Stmt::If& stmt);
  Flow exec_for(Scopes& scopes, const ir::Stmt::For& stmt);
  Flow exec_loop(Scopes& scopes, const ir::Stmt::Loop& stmt);
  Flow exec_until(Scopes& scopes, const ir::Stmt::Until& stmt);
  Flow exec_shape(Scopes& scopes, const ir::Stmt::Shape& stmt);
  Flow exec_escalate(Scopes& scopes, const ir::Stmt::Escalate& stmt);
  // The body of one loop iteration in a scope of its own.
  Flow exec_scoped(Scopes& scopes, const std::vector<ir::Stmt>& body);
  // The step charge at the top of an iteration: the outermost loop of a task body costs one step.
  Step<Unit> charge_step();
  Frame& innermost_frame() { return frames_.back(); }

  // ---- the gate (interp_gate.cpp) ----
  Flow exec_gate(Scopes& scopes, const ir::Stmt::Gate& gate);

  // ---- token caps, and `focus` of the effect host (interp_shape.cpp) ----
  // The value of a field with a `max`, held to it by the field's policy; a cut records a `truncated` warning.
  Step<Value> hold_to_cap(const ir::ShapeField& field, Value value, bool strict, Scopes& scopes);
  Result<std::string, RuntimeError> focus_text(std::string text, std::string_view topic, double max);

  // ---- state machines (interp_machine.cpp) ----
  // Pushes the machine's frame, runs its steps (at most `max`) and pops it; a pause is parked.
  ValueResult enter_machine(const ir::Machine& machine, Scopes scopes, double max);
  Step<Value> run_machine(const ir::Machine& machine, Scopes& scopes, double max);

  // ---- evaluation ----
  Step<Value> eval(const ir::Expr& expr, Scopes& scopes);
  Step<bool> truthy(const ir::Expr& expr, Scopes& scopes);
  Step<double> eval_number(const ir::Expr& expr, Scopes& scopes, std::string_view what);
  runtime::EvalContext context() { return runtime::EvalContext{*this, *run_.tokenizer}; }

  // ---- budgets, pauses and aborts (interp_budget.cpp) ----
  Step<Unit> check_budget(BudgetKey key, double amount);
  Step<uint64_t> now_ms();
  void finish_usage(uint64_t now);
  Step<record::Resume> raise_pause(Pause pause);
  Interrupt stop_with(Pause pause);
  Interrupt stop(std::string reason, const Span& span);
  Step<Unit> check_abort();
  Step<record::Resume> error_pause(RuntimeError error);
  Interrupt fail(RuntimeError error);
  // The parked pause when there is one, else the error as an error pause.
  Interrupt interrupt_of(RuntimeError error);
  // Parks the pause in the run (the first one parked wins) and returns the internal error.
  RuntimeError park(Interrupt interrupt);
  Step<Unit> after_effect_checks();
  record::PauseCommon pause_common(const std::string& label, const Span& span) const;
  record::PauseCommon pause_common_here(const Span& span) const { return pause_common(label(), span); }
  std::string label() const;
  // The innermost frame that is a task frame, or nullptr.
  BudgetAccount* nearest_task_account();

  // ---- task start and end (interp_task.cpp) ----
  // The execution itself; the task's scopes go into `scopes` once they exist.
  TaskOutcome execute(std::optional<Scopes>& scopes);
  // The error outcome of an allocation that failed, recorded as the run's end when the journal can take it.
  TaskOutcome out_of_memory(std::optional<Scopes>& scopes);
  Step<Unit> push_task_frame(const ir::Task& task, std::string module);
  // What every execution of one body shares during the run: its module, the capabilities visible to it and the
  // layout of its variables. Made at the body's first entry, keyed by the unit.
  struct BodySetup {
    std::string module;
    std::shared_ptr<const Scopes::Capabilities> capabilities;
    std::shared_ptr<runtime::ScopeLayout> layout;
  };
  const BodySetup& body_setup(const void* unit, const std::string& name);
  Scopes body_scopes(const BodySetup& setup) const;
  Step<Unit> record_end(const Scopes& scopes, const Pause& pause);
  runtime::Record collect_outputs(const Scopes& scopes) const;
  TaskOutcome finish(Pause pause);

  // ---- judgments (interp_judgments.cpp) ----
  Result<runtime::Record, RuntimeError> ask_judgments(Scopes& scopes, const std::vector<zem::NamedJudge>& judges,
                                                      const std::optional<std::vector<std::string>>& state_params);
  Result<zem::ZemResponse, RuntimeError> zem_request(const zem::RequestGroup& group, bool sampled);
  Result<double, RuntimeError> draw_for_sampling();

  // ---- capability verbs (interp_capabilities.cpp) ----
  ValueResult call_capability(const std::string& capability, std::string_view verb, const runtime::CallArguments& args,
                              const std::string& target);
  ValueResult observe_handle(const std::string& capability, const runtime::Handle& handle);
  ValueResult take_observation(const runtime::Handle& handle, const record::Observation& observation);
  Result<Unit, RuntimeError> record_step(std::string_view verb, const std::string& target,
                                         const runtime::CallArguments& args, std::optional<record::StepOutcome> outcome);
  ValueResult wait_on(const std::string& capability, const runtime::Handle& handle, const runtime::CallArguments& own,
                      const runtime::CallArguments& sent);
  ValueResult ask_person(const runtime::CallArguments& own);
  ValueResult take_over(const std::string& written);
  ValueResult write_text(const std::string& capability, const std::string& target, const runtime::CallArguments& own,
                         const runtime::CallArguments& sent);

  // ---- calls of units (interp_calls.cpp) ----
  ValueResult call_judgment(const ir::Judgment& judgment, runtime::CallArguments args);
  ValueResult call_def(const ir::Def& def, runtime::CallArguments args);
  ValueResult call_task(const ir::Task& task, runtime::CallArguments args);
  ValueResult call_machine(const ir::Machine& machine, runtime::CallArguments args);
  Result<Unit, RuntimeError> bind_params(std::string_view unit, const std::vector<ir::DefParam>& params, Scopes& scopes,
                                         runtime::CallArguments& args);
  // The outcome of a called unit's body, its frame already popped.
  ValueResult call_outcome(Flow flow);
  size_t count_frames(FrameKind a, FrameKind b) const;

  // The units of each kind that bear one name: the first of each kind in declaration order.
  struct Units {
    const ir::Judgment* judgment = nullptr;
    const ir::Def* def = nullptr;
    const ir::Task* task = nullptr;
    const ir::Machine* machine = nullptr;
  };
  const Units* units_named(std::string_view name);

  RunState& run_;
  const ir::Ir& ir_;
  std::string task_;
  std::shared_ptr<const runtime::Record> inputs_;  // read by every body this execution runs
  std::vector<Frame> frames_;
  uint64_t frame_counter_ = 0;
  record::Usage usage_;
  // By handle key ("<capability>:<id>"): the digest of the last observation of that handle.
  std::map<std::string, std::string> capability_records_;
  Span current_span_;
  std::optional<runtime::Handle> pending_wait_;
  bool sample_ = false;
  std::unordered_map<std::string_view, Units> units_;  // by name, built at the first call of a unit
  std::unordered_map<const void*, BodySetup> bodies_;  // by unit
  std::map<std::string, std::shared_ptr<const Scopes::Capabilities>, std::less<>> capabilities_by_module_;
};

}  // namespace dravelin::interp
