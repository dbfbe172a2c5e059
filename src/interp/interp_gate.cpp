// The gate statement: three numbers against the enclosing task's thresholds give one of four verdicts.
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "interp/interpreter_internal.h"

namespace dravelin::interp {

using runtime::RuntimeErrorCode;
using syntax::Verdict;

namespace {

Verdict verdict_of(const ir::Thresholds* thresholds, double risk, double confidence) {
  // A risk or confidence that is not a number cannot show that going on is safe: a person decides.
  if (std::isnan(risk) || std::isnan(confidence)) return Verdict::Confirm;
  if (thresholds == nullptr) return Verdict::Proceed;
  if (thresholds->stop_confidence && confidence < *thresholds->stop_confidence) return Verdict::Stop;
  if (thresholds->risk_confirm && risk >= *thresholds->risk_confirm) return Verdict::Confirm;
  if (thresholds->min_confidence && confidence < *thresholds->min_confidence) return Verdict::Escalate;
  return Verdict::Proceed;
}

}  // namespace

Flow Interpreter::exec_gate(Scopes& scopes, const ir::Stmt::Gate& gate) {
  if (!gate.risk || !gate.confidence) {
    return Flow::interrupt(fail(runtime::make_runtime_error(
        RuntimeErrorCode::TypeError, "a gate needs both `risk` and `confidence`", false, gate.span)));
  }
  auto risk = eval_number(*gate.risk, scopes, "`gate risk`");
  if (!risk.ok()) return Flow::interrupt(std::move(risk).error());
  auto confidence = eval_number(*gate.confidence, scopes, "`gate confidence`");
  if (!confidence.ok()) return Flow::interrupt(std::move(confidence).error());
  std::optional<double> done;
  if (gate.done) {
    auto value = eval_number(*gate.done, scopes, "`gate done`");
    if (!value.ok()) return Flow::interrupt(std::move(value).error());
    done = *value;
  }

  BudgetAccount* task = nearest_task_account();
  const ir::Thresholds* thresholds = task != nullptr ? &task->thresholds : nullptr;
  Verdict verdict = verdict_of(thresholds, *risk, *confidence);
  // Reaching `done` overrides the verdict, unless the numbers give no basis for going on at all.
  const bool numbers = !std::isnan(*risk) && !std::isnan(*confidence);
  if (numbers && done && thresholds != nullptr && thresholds->done && *done >= *thresholds->done) {
    verdict = Verdict::Proceed;
    task->done_reached = true;
  }

  const ir::GateArm* arm = nullptr;
  for (const ir::GateArm& candidate : gate.arms) {
    if (candidate.verdict == verdict) {
      arm = &candidate;
      break;
    }
  }
  if (arm != nullptr) {
    Flow flow = exec_scoped(scopes, arm->body);
    if (!flow.is_normal()) return flow;
  } else {
    switch (verdict) {
      case Verdict::Proceed: break;
      case Verdict::Confirm: {
        runtime::Record context{{"risk", Value::number(*risk)}, {"confidence", Value::number(*confidence)}};
        if (done) context.emplace("done", Value::number(*done));
        auto resume = raise_pause(Pause{pause_common_here(gate.span),
                                        Pause::Confirm{"Gate asked for confirmation", {"yes", "no"}, std::move(context)}});
        if (!resume.ok()) return Flow::interrupt(std::move(resume).error());
        const auto* answer = std::get_if<record::Resume::Answer>(&resume->data);
        if (answer == nullptr || answer->answer != "yes") {
          return Flow::interrupt(stop("Gate confirmation declined", gate.span));
        }
        break;
      }
      case Verdict::Escalate: {
        runtime::Record context{{"risk", Value::number(*risk)}, {"confidence", Value::number(*confidence)}};
        auto resume = raise_pause(Pause{pause_common_here(gate.span), Pause::Escalate{"Gate escalated", std::move(context)}});
        if (!resume.ok()) return Flow::interrupt(std::move(resume).error());
        break;
      }
      case Verdict::Stop: return Flow::interrupt(stop("Gate stopped", gate.span));
    }
  }

  task = nearest_task_account();
  if (task != nullptr && task->done_reached && !task->has_verify) return Flow::returning(Value::none());
  return Flow::normal();
}

}  // namespace dravelin::interp
