// Capability verbs inside a run: which verbs each kind of capability has, the calls that go through the journal
// with their retries after an error pause, the handles agents hand out, observations of them, the pauses that
// people and waiting agents raise, and the step records that `trail` reads.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "interp/interpreter_internal.h"
#include "record/capability.h"
#include "runtime/builtins.h"
#include "runtime/value_bounds.h"
#include "runtime/value_json.h"

namespace dravelin::interp {

using record::NeedKind;
using record::StepOutcome;
using runtime::CallArguments;
using runtime::Handle;
using runtime::RuntimeErrorCode;

namespace {

// A step record's arguments are kept to this many tokens of the profile's tokenizer.
constexpr uint64_t kStepArgsTokens = 200;

RuntimeError type_error(std::string message) {
  return runtime::make_runtime_error(RuntimeErrorCode::TypeError, std::move(message));
}

std::string quoted(std::string_view name) { return std::string("`").append(name) + "`"; }

const ir::Need* find_need(const ir::Ir& ir, std::string_view name) {
  for (const ir::Need& need : ir.needs) {
    if (need.name == name) return &need;
  }
  return nullptr;
}

bool kind_has_verb(NeedKind kind, std::string_view verb) {
  const auto verbs = record::need_kind_verbs(kind);
  return std::find(verbs.begin(), verbs.end(), verb) != verbs.end();
}

// Whether a value is of the type a tool's signature declares; a prob counts as a number.
bool matches_return_type(const Value& value, ir::ToolReturnType type) {
  switch (type) {
    case ir::ToolReturnType::Text: return value.is_text();
    case ir::ToolReturnType::Number: return value.is_numeric();
    case ir::ToolReturnType::Bool: return value.is_bool();
    case ir::ToolReturnType::List: return value.is_list();
    case ir::ToolReturnType::Record: return value.is_record();
    case ir::ToolReturnType::Handle: return value.is_handle();
    case ir::ToolReturnType::None: return value.is_none();
  }
  return false;
}

double number_of(const Value& value) { return value.is_prob() ? value.as_prob() : value.as_number(); }

std::optional<double> json_number(const json::Value& value) {
  if (value.is_int()) return static_cast<double>(value.as_int());
  if (value.is_uint()) return static_cast<double>(value.as_uint());
  if (value.is_float()) return value.as_float();
  return std::nullopt;
}

// A count an adapter reports: a whole number from 0 up, as an integer or as a whole float.
std::optional<uint64_t> json_count(const json::Value& value) {
  if (value.is_uint()) return value.as_uint();
  if (value.is_int()) return value.as_int() >= 0 ? std::optional<uint64_t>(static_cast<uint64_t>(value.as_int())) : std::nullopt;
  if (value.is_float()) {
    const double d = value.as_float();
    if (d >= 0 && d < 18446744073709551616.0 && d == std::floor(d)) return static_cast<uint64_t>(d);
  }
  return std::nullopt;
}

}  // namespace

ValueResult Interpreter::call_verb(const runtime::CallTarget& target, std::string_view verb, CallArguments args) {
  const Handle* handle = std::get_if<Handle>(&target);
  const std::string written = handle != nullptr ? handle->capability : std::get<std::string>(target);

  // The compiler writes a module's capabilities under the program's names already; a name that is still the
  // module's own stands for the one its `use` maps it to.
  std::string capability = written;
  if (find_need(ir_, written) == nullptr && !frames_.empty() && !innermost_frame().module.empty()) {
    for (const ir::Module& module : ir_.modules) {
      if (module.alias != innermost_frame().module) continue;
      for (const ir::NeedMapping& mapping : module.mapping) {
        if (mapping.inner == written) {
          capability = mapping.outer;
          break;
        }
      }
      break;
    }
  }
  const ir::Need* need = find_need(ir_, capability);
  if (need == nullptr) return err(type_error(quoted(written) + " is not a declared capability"));
  if (need->kind != NeedKind::Tool && !kind_has_verb(need->kind, verb)) {
    return err(type_error(quoted(written) + " is " + std::string(record::need_kind_name(need->kind)) +
                          " and has no verb " + quoted(verb)));
  }

  const std::string step_target = handle != nullptr ? handle->id : written;
  CallArguments sent = args;
  if (handle != nullptr) sent.positional.insert(sent.positional.begin(), Value::handle(*handle));

  switch (need->kind) {
    case NeedKind::Agent:
      if (verb == "spawn") {
        Value spawned = TRY(call_capability(capability, verb, sent, step_target));
        if (!spawned.is_handle()) {
          return err(type_error("expected a handle from `spawn`, got " + std::string(spawned.type_word())));
        }
        // Later calls on the handle go through the same module mapping as this one.
        spawned.as_handle().capability = written;
        return spawned;
      }
      if (verb == "observe" || verb == "wait") {
        if (handle == nullptr) {
          return err(type_error(quoted(verb) + " is written on a handle, not on " + quoted(written) + " itself"));
        }
        if (verb == "observe") return observe_handle(capability, *handle);
        return wait_on(capability, *handle, args, sent);
      }
      break;
    case NeedKind::Person:
      if (verb == "ask") return ask_person(args);
      if (verb == "take_over") return take_over(written);
      break;
    case NeedKind::Llm:
      return write_text(capability, step_target, args, sent);
    case NeedKind::Tool: {
      Value result = TRY(call_capability(capability, verb, sent, step_target));
      for (const ir::ToolSignature& signature : need->signatures) {
        if (signature.name != verb) continue;
        if (!matches_return_type(result, signature.returns)) {
          return err(type_error(quoted(written + "." + std::string(verb)) + " is declared to return " +
                                std::string(syntax::enum_name(signature.returns)) + " but the adapter returned " +
                                std::string(result.type_word())));
        }
        break;
      }
      return result;
    }
  }
  return call_capability(capability, verb, sent, step_target);
}

ValueResult Interpreter::call_capability(const std::string& capability, std::string_view verb,
                                         const CallArguments& args, const std::string& target) {
  for (;;) {
    auto called = journal::call(run_, capability, verb, args, current_span_);
    // A reply larger than a value may be fails the call (as served again, it fails the same way).
    if (called.ok()) called = runtime::within_bounds(std::move(*called));
    if (called.ok()) {
      TRY(record_step(verb, target, args, std::nullopt));
      if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
      return std::move(*called);
    }
    RuntimeError error = std::move(called).error();
    if (auto aborted = check_abort(); !aborted.ok()) return err(park(std::move(aborted).error()));
    if (!error.retryable) {
      // A diverged replay has no step to show: the call it stands for never happened.
      if (error.code != RuntimeErrorCode::ReplayDiverged) TRY(record_step(verb, target, args, StepOutcome::Error));
      return err(std::move(error));
    }
    // A retryable failure pauses the run; a retry makes the call again.
    if (auto resumed = error_pause(std::move(error)); !resumed.ok()) return err(park(std::move(resumed).error()));
    if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
  }
}

ValueResult Interpreter::observe_handle(const std::string& capability, const Handle& handle) {
  for (;;) {
    auto looked = journal::observe(run_, capability, handle, current_span_);
    if (looked.ok()) {
      Value value = TRY(take_observation(handle, *looked));
      if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
      return value;
    }
    RuntimeError error = std::move(looked).error();
    if (auto aborted = check_abort(); !aborted.ok()) return err(park(std::move(aborted).error()));
    if (!error.retryable) return err(std::move(error));
    if (auto resumed = error_pause(std::move(error)); !resumed.ok()) return err(park(std::move(resumed).error()));
    if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
  }
}

ValueResult Interpreter::wait_on(const std::string& capability, const Handle& handle,
                                 const CallArguments& own, const CallArguments& sent) {
  Pause::Waiting waiting;
  waiting.on = capability;
  waiting.condition = own.positional.empty() ? "idle" : own.positional.front().to_text();
  const Value* minutes = nullptr;
  if (auto named = own.named.find("minutes"); named != own.named.end()) {
    minutes = &named->second;
  } else if (own.positional.size() > 1) {
    minutes = &own.positional[1];
  }
  waiting.timeout_minutes = minutes != nullptr && minutes->is_numeric() ? number_of(*minutes) : 0;
  // Refused before the pause is raised: a host cannot wait for NaN or infinite minutes, and the pause's record
  // has no form for them that a replay could read back.
  if (!std::isfinite(waiting.timeout_minutes)) {
    return err(type_error("expected a finite number of minutes for " + quoted(capability + ".wait") + ", got " +
                          runtime::number_text(waiting.timeout_minutes)));
  }

  pending_wait_ = handle;
  auto passed = raise_pause(Pause{pause_common_here(current_span_), std::move(waiting)});
  if (!passed.ok()) {
    // Only a run that stops at this very pause waits on the agent; one cancelled here does not.
    if (passed.error().pause.kind() != record::PauseKind::Waiting) pending_wait_.reset();
    return err(park(std::move(passed).error()));
  }
  pending_wait_.reset();

  for (;;) {
    auto called = journal::call(run_, capability, "wait", sent, current_span_);
    if (called.ok()) {
      auto observation = record::Observation::read_json(runtime::to_plain_json(*called));
      if (!observation.ok()) {
        return err(type_error(quoted(capability + ".wait") + " returned something other than an observation: " +
                              observation.error()));
      }
      Value value = TRY(take_observation(handle, *observation));
      if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
      return value;
    }
    RuntimeError error = std::move(called).error();
    if (auto aborted = check_abort(); !aborted.ok()) return err(park(std::move(aborted).error()));
    if (!error.retryable) return err(std::move(error));
    if (auto resumed = error_pause(std::move(error)); !resumed.ok()) return err(park(std::move(resumed).error()));
    if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
  }
}

ValueResult Interpreter::ask_person(const CallArguments& own) {
  Pause::Confirm confirm;
  confirm.message = own.positional.empty() ? std::string() : own.positional.front().to_text();
  if (auto options = own.named.find("options"); options != own.named.end() && options->second.is_list()) {
    for (const Value& option : options->second.as_list()) confirm.options.push_back(option.to_text());
  } else {
    confirm.options = {"yes", "no"};
  }
  auto passed = raise_pause(Pause{pause_common_here(current_span_), std::move(confirm)});
  if (!passed.ok()) return err(park(std::move(passed).error()));
  if (auto* answer = std::get_if<record::Resume::Answer>(&passed->data)) {
    return runtime::within_bounds(
        Value::pause_result(runtime::PauseResult{std::move(answer->answer), std::move(answer->text)}));
  }
  return Value::none();
}

ValueResult Interpreter::take_over(const std::string& written) {
  auto passed = raise_pause(Pause{pause_common_here(current_span_), Pause::Escalate{written + ".take_over", {}}});
  if (!passed.ok()) return err(park(std::move(passed).error()));
  return Value::none();
}

ValueResult Interpreter::write_text(const std::string& capability, const std::string& target,
                                    const CallArguments& own, const CallArguments& sent) {
  const std::string instruction = own.positional.empty() ? std::string() : own.positional.front().to_text();
  runtime::OptionalValue using_value;
  if (auto named = own.named.find("using"); named != own.named.end()) using_value = named->second;
  for (;;) {
    if (auto checked = check_budget(BudgetKey::Calls, 1); !checked.ok()) return err(park(std::move(checked).error()));
    auto generated = journal::generate(run_, capability, instruction, using_value, current_span_);
    if (generated.ok()) {
      usage_.calls += 1;
      usage_.tokens += generated->tokens;
      for (Frame& frame : frames_) {
        if (frame.account) frame.account->calls_used += 1;
      }
      TRY(record_step("write", target, sent, std::nullopt));
      if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
      if (!runtime::text_fits(generated->output.size())) return err(runtime::size_error());
      return Value::text(std::move(generated->output));
    }
    RuntimeError error = std::move(generated).error();
    if (auto aborted = check_abort(); !aborted.ok()) return err(park(std::move(aborted).error()));
    if (!error.retryable) return err(std::move(error));
    if (auto resumed = error_pause(std::move(error)); !resumed.ok()) return err(park(std::move(resumed).error()));
    if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
  }
}

ValueResult Interpreter::take_observation(const Handle& handle, const record::Observation& observation) {
  Value value = TRY(runtime::within_bounds(runtime::from_plain_json(observation.to_json_value())));

  runtime::EvalContext ctx = context();
  CallArguments hashed;
  hashed.positional.push_back(value);
  const Value digest = TRY(runtime::call_builtin(ctx, "hash", hashed));
  const std::string key = handle.capability + ":" + handle.id;
  auto stored = capability_records_.find(key);
  const bool changed = stored == capability_records_.end() || stored->second != digest.to_text();
  capability_records_.insert_or_assign(key, digest.to_text());

  // What the agent reports it spent is the run's to know, not its budgets'.
  if (auto usage = observation.extra.find("usage"); usage != observation.extra.end()) {
    if (const json::Value* usd = usage->second.find("usd")) {
      if (std::optional<double> amount = json_number(*usd)) usage_.adapter_usd = record::saturating_add(usage_.adapter_usd, *amount);
    }
    if (const json::Value* tokens = usage->second.find("tokens")) {
      if (std::optional<uint64_t> count = json_count(*tokens)) usage_.adapter_tokens += *count;
    }
  }

  // The look settles the steps made since the last one: they changed what the agent shows, or they did not.
  BudgetAccount* account = nearest_task_account();
  if (account == nullptr) return value;
  std::vector<record::StepRecord> pending = std::move(account->pending_steps);
  account->pending_steps.clear();
  for (record::StepRecord& step : pending) {
    step.changed = changed;
    step.outcome = changed ? StepOutcome::Observed : StepOutcome::NoChange;
    account->trail.push_back(step);
    TRY(journal::expect(run_, record::Event{record::Event::Step{std::move(step)}}, current_span_));
  }
  return value;
}

Result<Unit, RuntimeError> Interpreter::record_step(std::string_view verb, const std::string& target,
                                                    const CallArguments& args, std::optional<StepOutcome> outcome) {
  std::string text;
  auto add = [&](std::string part) {
    if (!text.empty()) text += ", ";
    text += part;
  };
  for (const Value& value : args.positional) add(value.to_text());
  for (const auto& [name, value] : args.named) add(name + " " + value.to_text());
  text = cut_to_tokens(text, kStepArgsTokens, CutSide::Head, *run_.tokenizer);

  BudgetAccount* account = nearest_task_account();
  if (account == nullptr) return Unit{};
  record::StepRecord step;
  step.step = account->next_step++;
  step.action = std::string(verb);
  step.target = target;
  step.args = std::move(text);
  step.changed = false;
  if (!outcome) {
    account->pending_steps.push_back(std::move(step));
    return Unit{};
  }
  step.outcome = *outcome;
  account->trail.push_back(step);
  return journal::expect(run_, record::Event{record::Event::Step{std::move(step)}}, current_span_);
}

}  // namespace dravelin::interp
