// Calls of the program's own units by name: judgments, defs, tasks and machines, with their parameters, the
// frames they push and the recursion limit.
#include <string>
#include <utility>
#include <vector>

#include "interp/interpreter_internal.h"

namespace dravelin::interp {

using runtime::CallArguments;
using runtime::RuntimeErrorCode;

namespace {

RuntimeError type_error(std::string message, const Span& span = {}) {
  return runtime::make_runtime_error(RuntimeErrorCode::TypeError, std::move(message), false, span);
}

RuntimeError recursed(std::string_view unit) {
  return runtime::make_runtime_error(RuntimeErrorCode::RecursionLimit,
                                     std::string("`").append(unit) + "` recursed past " +
                                         std::to_string(kRecursionLimit) + " frames");
}

}  // namespace

const Interpreter::Units* Interpreter::units_named(std::string_view name) {
  if (units_.empty()) {
    const auto index = [&](const auto& units, auto member) {
      for (const auto& unit : units) {
        auto& slot = units_[unit.name].*member;
        if (slot == nullptr) slot = &unit;
      }
    };
    index(ir_.judgments, &Units::judgment);
    index(ir_.defs, &Units::def);
    index(ir_.tasks, &Units::task);
    index(ir_.machines, &Units::machine);
  }
  auto found = units_.find(name);
  return found == units_.end() ? nullptr : &found->second;
}

ValueResult Interpreter::call(std::string_view callee, CallArguments args) {
  // The candidates, in order: the calling module's own unit, the name as written, then the prelude's.
  const bool qualified = callee.find('.') != std::string_view::npos;
  const Units* units = nullptr;
  std::string candidate;
  if (!qualified && !frames_.empty() && !innermost_frame().module.empty()) {
    candidate = innermost_frame().module + "." + std::string(callee);
    units = units_named(candidate);
  }
  if (units == nullptr) units = units_named(callee);
  if (units == nullptr && !qualified) {
    candidate = "std." + std::string(callee);
    units = units_named(candidate);
  } else if (units == nullptr && callee.substr(0, 4) == "std.") {
    units = units_named(callee.substr(4));
  }
  if (units == nullptr) {
    return err(
        type_error(std::string("`").append(callee) + "` is not a def, judgment, task or machine of this program"));
  }

  // A call runs statements of its own; the caller's statement is the current one again afterwards.
  const Span caller_span = current_span_;
  ValueResult result = units->judgment != nullptr ? call_judgment(*units->judgment, std::move(args))
                       : units->def != nullptr    ? call_def(*units->def, std::move(args))
                       : units->task != nullptr   ? call_task(*units->task, std::move(args))
                                                  : call_machine(*units->machine, std::move(args));
  current_span_ = caller_span;
  return result;
}

ValueResult Interpreter::call_judgment(const ir::Judgment& judgment, CallArguments args) {
  Scopes scopes(body_setup(&judgment, judgment.name).layout);
  const runtime::Record* whole =
      args.positional.size() == 1 && args.named.empty() ? std::as_const(args.positional.front()).if_record() : nullptr;
  for (size_t i = 0; i < judgment.params.size(); ++i) {
    const std::string& param = judgment.params[i];
    const Value* value = nullptr;
    if (whole != nullptr) {
      auto field = whole->find(param);
      if (field != whole->end()) value = &field->second;
    } else if (auto named = args.named.find(param); named != args.named.end()) {
      value = &named->second;
    } else if (i < args.positional.size()) {
      value = &args.positional[i];
    }
    if (value == nullptr) return err(type_error("judgment `" + judgment.name + "` needs a value for `" + param + "`"));
    scopes.define(param, *value);
  }

  std::vector<zem::NamedJudge> judges;
  judges.reserve(judgment.results.size());
  for (const ir::JudgmentResult& result : judgment.results)
    judges.push_back(zem::NamedJudge{result.name, &result.question});
  runtime::Record answers = TRY(ask_judgments(scopes, judges, judgment.params));

  size_t bound = 0;
  for (const ir::JudgmentLog& log : judgment.logs) {
    const size_t reached = std::min<size_t>(log.after, judgment.results.size());
    for (; bound < reached; ++bound) {
      const std::string& name = judgment.results[bound].name;
      auto answer = answers.find(name);
      scopes.define(name, answer != answers.end() ? answer->second : Value::none());
    }
    runtime::EvalContext ctx = context();
    TRY(runtime::eval_expr(ctx, log.log, scopes));
  }

  runtime::Record results;
  for (const ir::JudgmentResult& result : judgment.results) {
    auto answer = answers.find(result.name);
    results.insert_or_assign(result.name, answer != answers.end() ? answer->second : Value::none());
  }
  // A `pick among` answer holds a copy of the element it picked: several can add up past the bound.
  return runtime::within_bounds(Value::record(std::move(results)));
}

size_t Interpreter::count_frames(FrameKind a, FrameKind b) const {
  size_t count = 0;
  for (const Frame& frame : frames_) count += frame.kind == a || frame.kind == b;
  return count;
}

ValueResult Interpreter::call_outcome(Flow flow) {
  switch (flow.kind) {
    case Flow::Kind::Return: return std::move(flow.value);
    case Flow::Kind::Interrupt: return err(park(Interrupt{std::move(*flow.pause)}));
    default: return Value::none();
  }
}

ValueResult Interpreter::call_def(const ir::Def& def, CallArguments args) {
  if (count_frames(FrameKind::Def, FrameKind::Def) >= kRecursionLimit) return err(recursed(def.name));
  const BodySetup& setup = body_setup(&def, def.name);
  Scopes scopes = body_scopes(setup);
  TRY(bind_params(def.name, def.params, scopes, args));
  frames_.push_back(Frame{FrameKind::Def, std::nullopt, def.name, setup.module, std::nullopt, frame_counter_++, 0});
  Flow flow = exec_block(scopes, def.body);
  frames_.pop_back();
  return call_outcome(std::move(flow));
}

ValueResult Interpreter::call_task(const ir::Task& task, CallArguments args) {
  // Tasks and machines calling each other are bounded like defs, so that no program can exhaust the stack.
  if (count_frames(FrameKind::Task, FrameKind::Machine) >= kRecursionLimit) return err(recursed(task.name));
  const BodySetup& setup = body_setup(&task, task.name);
  Scopes scopes = body_scopes(setup);
  TRY(bind_params(task.name, task.params, scopes, args));
  if (auto pushed = push_task_frame(task, setup.module); !pushed.ok()) {
    return err(park(std::move(pushed).error()));
  }
  Flow flow = exec_block(scopes, task.body);
  frames_.pop_back();
  return call_outcome(std::move(flow));
}

ValueResult Interpreter::call_machine(const ir::Machine& machine, CallArguments args) {
  auto max = args.named.find("max");
  if (max == args.named.end() || !max->second.is_numeric()) {
    return err(type_error("machine `" + machine.name + "` needs the numeric named argument `max`", machine.span));
  }
  if (count_frames(FrameKind::Task, FrameKind::Machine) >= kRecursionLimit) return err(recursed(machine.name));
  const double steps = *max->second.if_numeric();
  args.named.erase(max);
  Scopes scopes = body_scopes(body_setup(&machine, machine.name));
  TRY(bind_params(machine.name, machine.params, scopes, args));
  return enter_machine(machine, std::move(scopes), steps);
}

Result<Unit, RuntimeError> Interpreter::bind_params(std::string_view unit, const std::vector<ir::DefParam>& params,
                                                    Scopes& scopes, CallArguments& args) {
  size_t next_positional = 0;
  for (const ir::DefParam& param : params) {
    Value value;
    if (auto named = args.named.find(param.name); named != args.named.end()) {
      value = std::move(named->second);
    } else if (next_positional < args.positional.size()) {
      value = std::move(args.positional[next_positional++]);
    } else if (param.default_value) {
      runtime::EvalContext ctx = context();
      value = TRY(runtime::eval_expr(ctx, *param.default_value, scopes));
    } else {
      return err(type_error(std::string("`").append(unit) + "` needs an argument `" + param.name + "`"));
    }
    scopes.define(runtime::WrittenName{param.name}, std::move(value));
  }
  return Unit{};
}

}  // namespace dravelin::interp
