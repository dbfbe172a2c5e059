// The rules on machines: observed fields, states and events, transition targets, and whether every state can
// still reach a `done` state.
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compiler/check_context.h"

namespace dravelin::compiler::check {

namespace {

bool is_empty_text(const ast::Expr& expr) {
  std::optional<std::string_view> text = plain_text_literal(expr);
  return text && text->empty();
}

void check_transition(Checker& checker, Scope& scope, const ast::Transition& transition,
                      const std::set<std::string>& state_names) {
  if (is_empty_text(transition.description)) {
    push_error(checker, DiagnosticCode::EventNoDescription,
               "event `" + transition.event + "` needs a description: it is what Zem reads (spec section 7.8)",
               ast::span(transition.description));
  }
  AssignedSet none;
  check_expr(checker, scope, none, transition.description);
  if (state_names.count(transition.target) == 0) {
    push_error(checker, DiagnosticCode::MachineUnknownState,
               "`-> " + transition.target + "` names a state the machine does not declare (spec section 7.8)",
               transition.target_span);
  }
  if (transition.when) {
    warn_bare_prob(checker, scope, *transition.when);
    check_expr(checker, scope, none, *transition.when);
  }
  if (transition.body) check_block(checker, scope, *transition.body, none);
}

// Names of the states from which some chain of transitions ends in a `done` state. Guards and `risky` marks are
// ignored: any transition may fire; a target that names no state leads nowhere. The walk follows the transitions
// backwards from the `done` states, so each transition is looked at once; repeating forward passes until nothing
// changed took a pass per state on a chain written from its start.
std::set<std::string> states_reaching_done(const ast::Machine& machine, const std::set<std::string>& state_names) {
  // Target name to the names of the states with a transition into it. States that share a name count as one.
  std::unordered_map<std::string_view, std::vector<std::string_view>> sources;
  for (const ast::MachineState& state : machine.states) {
    for (const ast::Transition& transition : state.transitions) {
      if (state_names.count(transition.target) != 0) sources[transition.target].push_back(state.name);
    }
  }
  std::set<std::string> reach;
  std::vector<std::string_view> pending;
  for (const ast::MachineState& state : machine.states) {
    if (state.done && reach.insert(state.name).second) pending.push_back(state.name);
  }
  while (!pending.empty()) {
    const std::string_view target = pending.back();
    pending.pop_back();
    auto into = sources.find(target);
    if (into == sources.end()) continue;
    for (std::string_view source : into->second) {
      if (reach.emplace(source).second) pending.push_back(source);
    }
  }
  return reach;
}

}  // namespace

void check_machine(Checker& checker, const ast::Machine& machine) {
  Scope scope;
  scope.unit_kind = UnitKind::Machine;
  for (const ast::DefParam& param : machine.params) scope.params.insert(param.name);
  // Every walk leaves the set as it found it, so one empty set serves every part that starts from nothing.
  AssignedSet none;
  // Checked like a task's defaults, before `obs` exists.
  for (const ast::DefParam& param : machine.params) {
    if (param.default_value) check_expr(checker, scope, none, *param.default_value);
  }

  if (machine.goal) check_expr(checker, scope, none, *machine.goal);
  for (const ast::ShapeField& field : machine.observe) {
    check_expr(checker, scope, none, field.value);
    warn_uncapped(checker, field);
  }
  // The transitions see what was observed; the goal and the observed values themselves cannot.
  scope.params.insert("obs");

  std::set<std::string> state_names;
  for (const ast::MachineState& state : machine.states) state_names.insert(state.name);

  std::map<std::string, Span> seen_states;
  for (const ast::MachineState& state : machine.states) {
    if (auto earlier = seen_states.find(state.name); earlier != seen_states.end()) {
      push_duplicate(checker, state.name, "state `" + state.name + "` is declared twice", state.name_span,
                     earlier->second);
    } else {
      seen_states.emplace(state.name, state.name_span);
    }
    std::map<std::string, Span> seen_events;
    for (const ast::Transition& transition : state.transitions) {
      if (auto earlier = seen_events.find(transition.event); earlier != seen_events.end()) {
        push_duplicate(checker, transition.event,
                       "event `" + transition.event + "` is declared twice in state `" + state.name +
                           "` (spec section 7.8)",
                       transition.event_span, earlier->second);
      } else {
        seen_events.emplace(transition.event, transition.event_span);
      }
      check_transition(checker, scope, transition, state_names);
    }
  }

  bool any_done = false;
  for (const ast::MachineState& state : machine.states) any_done = any_done || state.done;
  if (!any_done) {
    push_error(checker, DiagnosticCode::MachineNoDone,
               "machine `" + machine.name + "` has no `done` state, so it can never finish (spec section 7.8)",
               machine.name_span);
    return;
  }

  std::set<std::string> reach = states_reaching_done(machine, state_names);
  for (const ast::MachineState& state : machine.states) {
    if (reach.count(state.name) != 0) continue;
    push_warning(checker, DiagnosticCode::MachineUnreachableDone,
                 "state `" + state.name + "` has no path to a `done` state (spec section 7.8)", state.name_span);
  }
}

}  // namespace dravelin::compiler::check
