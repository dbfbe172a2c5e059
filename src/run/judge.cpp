#include "run/judge.h"

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "interp/interpreter.h"
#include "interp/run_state.h"
#include "runtime/value_json.h"
#include "zem/answers.h"
#include "zem/request_group.h"

namespace dravelin::run {

using runtime::RuntimeError;
using runtime::RuntimeErrorCode;

Result<JudgeOutcome, RuntimeError> run_judgment(const ir::Ir& ir, std::string_view name, const json::Object& state,
                                                zem::ZemService& service, const zem::Profile& profile) {
  zem::Xoshiro256StarStar random = zem::Xoshiro256StarStar::from_seed(interp::clock_seed());
  return run_judgment_with_rng(ir, name, state, service, profile, random);
}

namespace {

Result<JudgeOutcome, RuntimeError> judge(const ir::Ir& ir, std::string_view name, const json::Object& state,
                                         zem::ZemService& service, const zem::Profile& profile,
                                         zem::Xoshiro256StarStar& random) {
  const ir::Judgment* judgment = ir.find_judgment(name);
  if (judgment == nullptr) {
    return err(runtime::make_runtime_error(RuntimeErrorCode::TypeError,
                                           "`" + ir.program + "` declares no judgment `" + std::string(name) + "`"));
  }

  runtime::Scopes scopes;
  for (const std::string& param : judgment->params) {
    const json::Value* member = state.find(param);
    if (member == nullptr) {
      return err(runtime::make_runtime_error(
          RuntimeErrorCode::TypeError, "judgment `" + judgment->name + "` needs `" + param + "` in the state"));
    }
    scopes.define(param, runtime::from_plain_json(*member));
  }

  std::vector<zem::NamedJudge> judges;
  judges.reserve(judgment->results.size());
  for (const ir::JudgmentResult& result : judgment->results) judges.push_back({result.name, &result.question});
  zem::RequestPlan plan = TRY(zem::build_request_group(judges, judgment->params, scopes, profile));

  JudgeOutcome outcome;
  for (const zem::RequestGroup& group : plan.groups) {
    auto response = service.ask(group);
    if (!response.ok()) return err(zem::to_runtime_error(response.error()));
    for (zem::ZemAnswer& answer : response->answers) outcome.answers.push_back(std::move(answer));
  }

  const zem::RandomSource draw = [&random]() -> Result<double, RuntimeError> { return random.next_f64(); };
  zem::AnswerValues values = TRY(zem::answers_to_values(plan.specs, outcome.answers, false, draw));
  outcome.logs = TRY(interp::run_judgment(ir, profile, service, *judgment, scopes, values.values));
  outcome.groups = std::move(plan.groups);
  outcome.values = std::move(values.values);
  outcome.sampled = values.sampled;
  return outcome;
}

}  // namespace

Result<JudgeOutcome, RuntimeError> run_judgment_with_rng(const ir::Ir& ir, std::string_view name,
                                                         const json::Object& state, zem::ZemService& service,
                                                         const zem::Profile& profile,
                                                         zem::Xoshiro256StarStar& random) {
  // The judge's boundary: an allocation that fails in the request, the answers or the log lines is its failure.
  try {
    return judge(ir, name, state, service, profile, random);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return err(runtime::out_of_memory_error("the judgment"));
}

}  // namespace dravelin::run
