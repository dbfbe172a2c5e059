// State machines: the frame of a called machine and its loop of steps. Each step observes, offers the model
// service the enabled events of the current state (and "stay") as one choice question, passes the answer
// through the machine's own gate, records a `machine_step` event, charges one step and runs the chosen
// transition. Every request, draw and pause goes through the journal, so a re-executed run retraces its steps.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "interp/interpreter_internal.h"
#include "runtime/value_json.h"
#include "zem/answers.h"

namespace dravelin::interp {

using record::Event;
using runtime::RuntimeErrorCode;

namespace {

constexpr std::string_view kStay = "stay";
constexpr std::string_view kStayDescription = "nothing in the observation calls for a transition yet";
constexpr std::string_view kMenuQuestion = "Which enabled event should happen next to advance the goal?";
constexpr size_t kRecentSteps = 6;

RuntimeError rejected(std::string message) {
  return runtime::make_runtime_error(RuntimeErrorCode::ZemRejected, std::move(message));
}

const ir::MachineState* find_state(const ir::Machine& machine, std::string_view name) {
  for (const ir::MachineState& state : machine.states) {
    if (state.name == name) return &state;
  }
  return nullptr;
}

Value trace_entry(uint64_t step, const std::string& from, std::string_view event, const std::string& to) {
  return Value::record({{"step", Value::number(static_cast<double>(step))},
                        {"from", Value::text(from)},
                        {"event", Value::text(std::string(event))},
                        {"to", Value::text(to)}});
}

}  // namespace

ValueResult Interpreter::enter_machine(const ir::Machine& machine, Scopes scopes, double max) {
  auto now = now_ms();
  if (!now.ok()) return err(park(std::move(now).error()));
  BudgetAccount account;
  account.limit(BudgetKey::Calls) = machine.budget.calls.value_or(50);
  account.limit(BudgetKey::Minutes) = machine.budget.minutes;
  account.limit(BudgetKey::Usd) = machine.budget.usd;
  account.limit(BudgetKey::Steps) = machine.budget.steps;
  account.thresholds = machine.thresholds;
  account.start_ms = *now;
  frames_.push_back(Frame{FrameKind::Machine, std::move(account), machine.name, module_of(ir_, machine.name),
                          machine.initial, frame_counter_++, 0});
  Step<Value> result = run_machine(machine, scopes, max);
  frames_.pop_back();
  if (!result.ok()) return err(park(std::move(result).error()));
  return std::move(*result);
}

Step<Value> Interpreter::run_machine(const ir::Machine& machine, Scopes& scopes, double max) {
  // Transition bodies push and pop frames of their own; this machine's frame stays at its index.
  const size_t frame = frames_.size() - 1;
  std::string current = machine.initial;
  uint64_t steps = 0;
  bool verified = false;
  runtime::List trace;

  const auto charge_steps = [this]() {
    for (Frame& f : frames_) {
      if (f.account) f.account->steps_used += 1;
    }
  };

  for (;;) {
    frames_[frame].state = current;
    const ir::MachineState* state = find_state(machine, current);
    if (state == nullptr) {
      return err(fail(runtime::make_runtime_error(
          RuntimeErrorCode::TypeError, "machine `" + machine.name + "` has no state `" + current + "`", false,
          machine.span)));
    }
    current_span_ = state->span;
    if (state->done || max <= static_cast<double>(steps)) {
      auto result = runtime::within_bounds(Value::record({{"state", Value::text(current)},
                                                          {"steps", Value::number(static_cast<double>(steps))},
                                                          {"done", Value::boolean(state->done)},
                                                          {"verified", Value::boolean(state->done && verified)},
                                                          {"events", Value::list(trace)}}));
      if (!result.ok()) return err(fail(std::move(result).error()));
      return std::move(*result);
    }
    TRY(check_budget(BudgetKey::Steps, 1));

    runtime::Record obs;
    for (const ir::ShapeField& field : machine.observe) {
      current_span_ = field.span;
      Value value = TRY(eval(field.value, scopes));
      if (field.max) value = TRY(hold_to_cap(field, std::move(value), false, scopes));
      obs.insert_or_assign(field.name, std::move(value));
    }
    auto observed = runtime::within_bounds(Value::record(obs));
    if (!observed.ok()) return err(fail(std::move(observed).error()));
    scopes.define("obs", std::move(*observed));

    std::vector<const ir::Transition*> enabled;
    for (const ir::Transition& transition : state->transitions) {
      current_span_ = transition.span;
      if (!transition.when || TRY(truthy(*transition.when, scopes))) enabled.push_back(&transition);
    }

    if (enabled.empty()) {
      // Nothing can happen: a person decides when to look again.
      steps += 1;
      Event::MachineStep record{machine.name, current, {std::string(kStay)}, std::string(kStay), {}, 0, current};
      if (auto recorded = journal::expect(run_, Event{std::move(record)}, state->span); !recorded.ok()) {
        return err(fail(std::move(recorded).error()));
      }
      TRY(raise_pause(Pause{pause_common_here(state->span), Pause::Escalate{"no_enabled_events", {}}}));
      TRY(check_budget(BudgetKey::Steps, 1));
      charge_steps();
      trace.push_back(trace_entry(steps, current, kStay, current));
      continue;
    }

    Value goal;
    if (machine.goal) goal = TRY(eval(*machine.goal, scopes));

    const zem::Profile& profile = run_.profile();
    const size_t menu = enabled.size() + 1;
    if (menu > profile.max_criteria_per_question) {
      return err(fail(runtime::make_runtime_error(
          RuntimeErrorCode::PickTooMany, "the machine menu has " + std::to_string(menu) + " labels, over the " +
                                             std::to_string(profile.max_criteria_per_question) + " allowed by `" +
                                             profile.model + "`")));
    }

    std::vector<zem::ChoiceLabel> labels;
    std::vector<std::string> valid;
    for (const ir::Transition* transition : enabled) {
      current_span_ = transition->span;
      const Value description = TRY(eval(transition->description, scopes));
      labels.push_back(zem::ChoiceLabel::make(transition->event, description.to_text()));
      valid.push_back(transition->event);
    }
    labels.push_back(zem::ChoiceLabel::make(std::string(kStay), std::string(kStayDescription)));
    valid.emplace_back(kStay);
    current_span_ = state->span;

    zem::Instruction instruction;
    instruction.compare = {"state", "goal", "recent"};
    runtime::List recent(trace.end() - static_cast<std::ptrdiff_t>(std::min(trace.size(), kRecentSteps)), trace.end());
    zem::RequestGroup group;
    group.model = profile.model;
    group.questions.emplace_back(
        zem::Question::Choice{"event", "obs", std::string(kMenuQuestion), std::move(labels), std::move(instruction)});
    group.state.set("state", json::Value(current));
    group.state.set("goal", runtime::to_plain_json(goal));
    group.state.set("obs", runtime::to_plain_json(Value::record(std::move(obs))));
    group.state.set("recent", runtime::to_plain_json(Value::list(std::move(recent))));
    if (auto sized = zem::check_request_size(group, profile); !sized.ok()) return err(fail(std::move(sized).error()));

    auto response = zem_request(group, sample_);
    if (!response.ok()) return err(interrupt_of(std::move(response).error()));
    const zem::ZemAnswer::Choice* answer = nullptr;
    for (const zem::ZemAnswer& candidate : response->answers) {
      if (candidate.id() != "event") continue;
      answer = std::get_if<zem::ZemAnswer::Choice>(&candidate.data);
      break;
    }
    if (answer == nullptr) return err(fail(rejected("machine question `event` did not receive a Choice answer")));
    const auto is_valid = [&](const std::string& label) {
      return std::find(valid.begin(), valid.end(), label) != valid.end();
    };
    if (!is_valid(answer->label)) {
      return err(fail(rejected("machine question `event` returned unknown label `" + answer->label + "`")));
    }
    for (const auto& [label, probability] : answer->probabilities) {
      if (!is_valid(label)) {
        return err(fail(rejected("machine question `event` returned a probability for unknown label `" + label + "`")));
      }
    }

    std::string chosen = answer->label;
    if (sample_) {
      auto x = journal::random(run_, current_span_);
      if (!x.ok()) return err(interrupt_of(std::move(x).error()));
      chosen = zem::sample_label(valid, answer->probabilities, *x);
      if (!is_valid(chosen)) return err(fail(rejected("machine question `event` returned unknown label `" + chosen + "`")));
    }

    const ir::Transition* transition = nullptr;
    for (const ir::Transition* candidate : enabled) {
      if (candidate->event == chosen) {
        transition = candidate;
        break;
      }
    }
    const double risk = transition != nullptr && transition->risky ? 1 : 0;
    const double confidence = answer->confidence;
    const Span gate_span = transition != nullptr ? transition->span : state->span;

    // The machine's own gate: the first test that holds decides.
    const ir::Thresholds& thresholds = machine.thresholds;
    bool proceeds = transition != nullptr;
    bool stopped = false;
    runtime::Record context{{"confidence", Value::number(confidence)}, {"risk", Value::number(risk)}};
    if (thresholds.stop_confidence && confidence < *thresholds.stop_confidence) {
      stopped = true;
      proceeds = false;
    } else if (thresholds.risk_confirm && *thresholds.risk_confirm <= risk) {
      const record::Resume resume = TRY(raise_pause(
          Pause{pause_common_here(gate_span), Pause::Confirm{"Gate asked for confirmation", {"yes", "no"}, context}}));
      const auto* reply = std::get_if<record::Resume::Answer>(&resume.data);
      if (reply == nullptr || reply->answer != "yes") proceeds = false;
    } else if (thresholds.min_confidence && confidence < *thresholds.min_confidence) {
      TRY(raise_pause(Pause{pause_common_here(gate_span), Pause::Escalate{"Gate escalated", context}}));
      proceeds = false;
    }

    TRY(check_budget(BudgetKey::Steps, 1));
    charge_steps();
    const std::string to = proceeds ? transition->target : current;
    Event::MachineStep record{machine.name, current, valid, chosen, answer->probabilities, confidence, to};
    if (auto recorded = journal::expect(run_, Event{std::move(record)}, gate_span); !recorded.ok()) {
      return err(fail(std::move(recorded).error()));
    }
    trace.push_back(trace_entry(steps + 1, current, proceeds ? std::string_view(chosen) : kStay, to));

    if (stopped) return err(stop("Gate stopped", gate_span));
    if (!proceeds) {
      steps += 1;
      continue;
    }
    current_span_ = transition->span;
    Flow flow = exec_block(scopes, transition->body);
    if (flow.kind == Flow::Kind::Interrupt) return err(Interrupt{std::move(*flow.pause)});
    const ir::MachineState* target = find_state(machine, transition->target);
    verified = transition->when.has_value() && target != nullptr && target->done;
    current = transition->target;
    steps += 1;
  }
}

}  // namespace dravelin::interp
