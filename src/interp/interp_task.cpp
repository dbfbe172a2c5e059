// Running a task from its first statement to one outcome: the start event, parameters, the task frame, the
// `done` pause and the end event.
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

#include "interp/interpreter_internal.h"
#include "interp/journal_internal.h"
#include "record/capability.h"

namespace dravelin::interp {

using record::Event;
using runtime::RuntimeErrorCode;

std::string module_of(const ir::Ir& ir, std::string_view name) {
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos) return {};
  const std::string_view head = name.substr(0, dot);
  if (head == "std") return std::string(head);
  for (const ir::Module& module : ir.modules) {
    if (!module.alias.empty() && module.alias == head) return std::string(head);
  }
  return {};
}

Interpreter::Interpreter(RunState& run, std::string task, runtime::Record inputs)
    : run_(run),
      ir_(run.ir()),
      task_(std::move(task)),
      inputs_(std::make_shared<const runtime::Record>(std::move(inputs))),
      sample_(run.sample()) {
  journal::begin_execution(run_);
}

TaskOutcome execute_task(RunState& run, std::string task, runtime::Record inputs) {
  return Interpreter(run, std::move(task), std::move(inputs)).run_task();
}

namespace {

Event start_event(const ir::Ir& ir, const ir::Task& task, const runtime::Record& inputs) {
  std::vector<record::BindingRecord> bindings;
  for (const ir::Need& need : ir.needs) {
    bindings.push_back(record::BindingRecord{need.name, std::string(record::need_kind_name(need.kind))});
  }
  return Event{Event::Start{ir.program, task.name, inputs, std::move(bindings), ir.ir_version}};
}

}  // namespace

std::optional<RuntimeError> refuse_oversized_start(const RunState& run, const std::string& task,
                                                   const runtime::Record& inputs) {
  const ir::Task* found = run.ir().find_task(task);
  if (found == nullptr || !oversized(run, start_event(run.ir(), *found, inputs))) return std::nullopt;
  return oversized_event_error(record::EventKind::Start);
}

namespace {

bool has_top_level_verify(const std::vector<ir::Stmt>& body) {
  for (const ir::Stmt& stmt : body) {
    if (const auto* until = std::get_if<ir::Stmt::Until>(&stmt.node); until != nullptr && until->verify) return true;
  }
  return false;
}

const ir::Stmt::Until* first_top_level_verify(const std::vector<ir::Stmt>& body) {
  for (const ir::Stmt& stmt : body) {
    if (const auto* until = std::get_if<ir::Stmt::Until>(&stmt.node); until != nullptr && until->verify) return until;
  }
  return nullptr;
}

}  // namespace

const Interpreter::BodySetup& Interpreter::body_setup(const void* unit, const std::string& name) {
  auto found = bodies_.find(unit);
  if (found != bodies_.end()) return found->second;
  BodySetup setup;
  setup.module = module_of(ir_, name);
  auto& capabilities = capabilities_by_module_[setup.module];
  if (!capabilities) {
    std::vector<std::string> names;
    if (setup.module.empty()) {
      for (const ir::Need& need : ir_.needs) names.push_back(need.name);
    } else {
      for (const ir::Module& m : ir_.modules) {
        if (m.alias != setup.module) continue;
        // The compiler writes the module's calls under the program's names for its capabilities.
        for (const ir::NeedMapping& mapping : m.mapping) names.push_back(mapping.outer);
        for (const ir::NeedMapping& mapping : m.mapping) names.push_back(mapping.inner);
        break;
      }
    }
    capabilities = std::make_shared<const Scopes::Capabilities>(names.begin(), names.end());
  }
  setup.capabilities = capabilities;
  setup.layout = Scopes::make_layout(inputs_);
  return bodies_.emplace(unit, std::move(setup)).first->second;
}

Scopes Interpreter::body_scopes(const BodySetup& setup) const {
  Scopes scopes(setup.layout);
  scopes.with_capabilities(setup.capabilities);
  return scopes;
}

Step<Unit> Interpreter::push_task_frame(const ir::Task& task, std::string module) {
  const uint64_t now = TRY(now_ms());
  BudgetAccount account;
  account.limit(BudgetKey::Calls) = task.budget.calls.value_or(50);
  account.limit(BudgetKey::Minutes) = task.budget.minutes;
  account.limit(BudgetKey::Usd) = task.budget.usd;
  account.limit(BudgetKey::Steps) = task.budget.steps;
  account.thresholds = task.thresholds;
  account.start_ms = now;
  account.has_verify = has_top_level_verify(task.body);
  frames_.push_back(
      Frame{FrameKind::Task, std::move(account), task.name, std::move(module), std::nullopt, frame_counter_++, 0});
  return Unit{};
}

runtime::Record Interpreter::collect_outputs(const Scopes& scopes) const {
  runtime::Record outputs;
  for (const ir::Output& output : ir_.outputs) {
    // The task's own variables only: an input of the same name is not an output.
    const Value* value = scopes.variable(output.name);
    outputs.insert_or_assign(output.name, value != nullptr ? *value : Value::none());
  }
  return outputs;
}

Step<Unit> Interpreter::record_end(const Scopes& scopes, const Pause& pause) {
  record::Usage usage;
  bool verified = false;
  const BudgetAccount* task_account = nearest_task_account();
  if (const auto* done = std::get_if<Pause::Done>(&pause.detail)) {
    usage = done->usage;
    verified = done->verified;
  } else {
    const auto* error = std::get_if<Pause::Error>(&pause.detail);
    const auto* stopped = std::get_if<Pause::Stopped>(&pause.detail);
    // A diverged or cancelled run must not read the clock again: there is nothing left to read it from.
    const bool no_clock = (error != nullptr && error->code == RuntimeErrorCode::ReplayDiverged) ||
                          (stopped != nullptr && stopped->reason == kAbortedByHost);
    if (!no_clock) finish_usage(TRY(now_ms()));
    usage = usage_;
    verified = task_account != nullptr && task_account->verify_passed;
  }
  Event end{Event::End{pause.kind(), collect_outputs(scopes), verified, usage}};
  // Outputs too large for the end's line (the same outputs made the run fail before it ended) are left out of
  // it, each one none, so that the recording still ends with its end line.
  if (oversized(run_, end)) {
    for (auto& output : std::get<Event::End>(end.data).outputs) output.second = Value::none();
  }
  auto recorded = journal::expect(run_, std::move(end), pause.common.source);
  if (!recorded.ok()) return err(fail(std::move(recorded).error()));
  if (run_.recorder) run_.recorder->close();
  return Unit{};
}

TaskOutcome Interpreter::finish(Pause pause) {
  if (run_.pending_pause) {
    pause = std::move(*run_.pending_pause);
    run_.pending_pause.reset();
  }
  return TaskOutcome{std::move(pending_wait_), std::move(pause), usage_};
}

TaskOutcome Interpreter::run_task() {
  // The execution's boundary: an allocation that fails anywhere below (a value, an event, a host's reply) ends it
  // here as an error outcome. What was being built went with the stack, which leaves room to record the end.
  std::optional<Scopes> scopes;
  try {
    return execute(scopes);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return out_of_memory(scopes);
}

TaskOutcome Interpreter::out_of_memory(std::optional<Scopes>& scopes) {
  const RuntimeError error = runtime::out_of_memory_error("the run");
  // A pause parked before the failure is not the outcome; the failure is.
  run_.pending_pause.reset();
  const auto unrecorded = [&] {
    return TaskOutcome{std::nullopt,
                       Pause{pause_common_here(current_span_), Pause::Error{error.code, error.message, false}}, usage_};
  };
  // Before the start was recorded nothing is, as for a start that could not be.
  if (run_.journal.events.empty()) return unrecorded();
  try {
    // Where the journal was serving, the failure goes on from the point it reached, as a divergence does.
    journal::cut_before_next_push(run_, run_.journal.cursor);
    Pause pause = fail(error).pause;
    auto end = record_end(scopes ? *scopes : Scopes(), pause);
    if (!end.ok()) pause = std::move(end).error().pause;
    return finish(std::move(pause));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return unrecorded();
}

TaskOutcome Interpreter::execute(std::optional<Scopes>& held) {
  const ir::Task* task = ir_.find_task(task_);
  if (task == nullptr) {
    // Nothing of a task that does not exist goes into the journal or the recording.
    RuntimeError missing = runtime::make_runtime_error(RuntimeErrorCode::TypeError,
                                                       "`" + ir_.program + "` declares no task `" + task_ + "`");
    return TaskOutcome{std::nullopt,
                       Pause{pause_common_here(Span{}), Pause::Error{missing.code, missing.message, false}}, usage_};
  }
  current_span_ = task->span;

  Event start = start_event(ir_, *task, *inputs_);
  if (run_.journal.live() && oversized(run_, start)) {
    // Like a task that does not exist, a start that no recording could hold leaves nothing behind: a recording
    // that began with anything but its start would not replay.
    RuntimeError refused = oversized_event_error(record::EventKind::Start);
    return TaskOutcome{std::nullopt, Pause{pause_common_here(Span{}), Pause::Error{refused.code, refused.message, false}},
                       usage_};
  }
  auto started = journal::expect(run_, std::move(start), task->span);
  if (!started.ok()) return finish(fail(std::move(started).error()).pause);

  const BodySetup& setup = body_setup(task, task->name);
  const std::string& module = setup.module;
  Scopes& scopes = held.emplace(body_scopes(setup));
  for (const ir::Output& output : ir_.outputs) scopes.define(runtime::WrittenName{output.name}, Value::none());

  // The pause the execution ends with and whether its end event is still to be recorded.
  auto ended = [&](Interrupt interrupt) -> TaskOutcome {
    Pause pause = std::move(interrupt.pause);
    if (pause.ends_run()) {
      auto end = record_end(scopes, pause);
      if (!end.ok()) pause = std::move(end).error().pause;
    }
    return finish(std::move(pause));
  };

  if (auto aborted = check_abort(); !aborted.ok()) return ended(std::move(aborted).error());

  for (const ir::DefParam& param : task->params) {
    auto input = inputs_->find(param.name);
    if (input != inputs_->end()) {
      scopes.define(runtime::WrittenName{param.name}, input->second);
    } else if (param.default_value) {
      auto value = eval(*param.default_value, scopes);
      if (!value.ok()) return ended(std::move(value).error());
      scopes.define(runtime::WrittenName{param.name}, std::move(*value));
    } else {
      scopes.define(runtime::WrittenName{param.name}, Value::none());
    }
  }

  if (auto pushed = push_task_frame(*task, module); !pushed.ok()) return ended(std::move(pushed).error());
  Flow flow = exec_block(scopes, task->body);
  if (flow.kind == Flow::Kind::Interrupt) return ended(Interrupt{std::move(*flow.pause)});

  bool verified = false;
  const BudgetAccount* account = nearest_task_account();
  if (account != nullptr && account->verify_started) {
    if (const ir::Stmt::Until* until = first_top_level_verify(task->body)) {
      auto holds = truthy(until->test, scopes);
      if (!holds.ok()) return ended(std::move(holds).error());
      verified = *holds;
    }
  }

  if (auto checked = check_budget(BudgetKey::Minutes, 0); !checked.ok()) return ended(std::move(checked).error());
  auto now = now_ms();
  if (!now.ok()) return ended(std::move(now).error());
  finish_usage(*now);
  Pause done{pause_common_here(task->span), Pause::Done{collect_outputs(scopes), verified, usage_}};
  Interrupt stopped = stop_with(done);
  auto end = record_end(scopes, stopped.pause);
  if (!end.ok()) return finish(std::move(end).error().pause);
  return finish(std::move(stopped.pause));
}

}  // namespace dravelin::interp
