// Judgments inside a run: one judgment, a batch of named judgments asked as one request plan, and the single
// model-service request with its calls and usd budgets, its charges and its retry after an error pause.
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "interp/interpreter_internal.h"
#include "zem/answers.h"

namespace dravelin::interp {

ValueResult Interpreter::judge(const ir::Judge& judge, Scopes& scopes) {
  const std::vector<zem::NamedJudge> judges{zem::NamedJudge{"judgment", &judge}};
  runtime::Record values = TRY(ask_judgments(scopes, judges, std::nullopt));
  auto found = values.find("judgment");
  if (found == values.end()) return Value::none();
  return std::move(found->second);
}

namespace {

// Whether a group's answers may be drawn from their probabilities: some question of it belongs to a judgment
// that is not a `feels` and that samples (the run's option, or the judgment's own `sample`).
bool group_sampled(const zem::RequestGroup& group, const std::vector<zem::AnswerSpec>& specs, bool sample) {
  for (const zem::Question& question : group.questions) {
    const std::string_view id = question.id();
    const std::string_view name = id.substr(0, id.find('['));
    for (const zem::AnswerSpec& spec : specs) {
      if (spec.name != name || std::holds_alternative<zem::AnswerKind::Prob>(spec.kind.kind)) continue;
      if (sample || spec.sample) return true;
    }
  }
  return false;
}

}  // namespace

Result<runtime::Record, RuntimeError> Interpreter::ask_judgments(
    Scopes& scopes, const std::vector<zem::NamedJudge>& judges,
    const std::optional<std::vector<std::string>>& state_params) {
  zem::RequestPlan plan = TRY(zem::build_request_group(judges, state_params, scopes, run_.profile()));
  std::vector<zem::ZemAnswer> answers;
  for (const zem::RequestGroup& group : plan.groups) {
    zem::ZemResponse response = TRY(zem_request(group, group_sampled(group, plan.specs, sample_)));
    for (zem::ZemAnswer& answer : response.answers) answers.push_back(std::move(answer));
  }
  zem::AnswerValues values =
      TRY(zem::answers_to_values(plan.specs, answers, sample_, [this] { return draw_for_sampling(); }));
  return std::move(values.values);
}

Result<zem::ZemResponse, RuntimeError> Interpreter::zem_request(const zem::RequestGroup& group, bool sampled) {
  for (;;) {
    if (auto checked = check_budget(BudgetKey::Calls, 1); !checked.ok()) return err(park(std::move(checked).error()));
    auto answered = journal::request(run_, group, sampled, current_span_);
    if (answered.ok()) {
      const zem::ZemResponse& response = *answered;
      const double usd = response.usd ? *response.usd
                                      : static_cast<double>(response.tokens) / 1'000'000.0 *
                                            run_.profile().price_per_million_input_usd;
      usage_.calls += 1;
      usage_.tokens += response.tokens;
      usage_.usd = record::saturating_add(usage_.usd, usd);
      for (Frame& frame : frames_) {
        if (!frame.account) continue;
        frame.account->calls_used += 1;
        frame.account->usd_used = record::saturating_add(frame.account->usd_used, usd);
      }
      if (auto aborted = check_abort(); !aborted.ok()) return err(park(std::move(aborted).error()));
      if (auto checked = check_budget(BudgetKey::Usd, 0); !checked.ok()) return err(park(std::move(checked).error()));
      return std::move(*answered);
    }
    RuntimeError error = std::move(answered).error();
    if (auto aborted = check_abort(); !aborted.ok()) return err(park(std::move(aborted).error()));
    if (!error.retryable) return err(std::move(error));
    // A retryable failure pauses the run; once it is resumed with a retry the request is made again, its
    // budget checked anew.
    if (auto resumed = error_pause(std::move(error)); !resumed.ok()) return err(park(std::move(resumed).error()));
    if (auto checked = after_effect_checks(); !checked.ok()) return err(park(std::move(checked).error()));
  }
}

Result<double, RuntimeError> Interpreter::draw_for_sampling() { return journal::random(run_, current_span_); }

}  // namespace dravelin::interp
