// The stand-alone judge: one named judgment of a program asked against a given state, outside any run (no
// journal, no recording, no budgets). `judge`, `eval` and the bridge's `judgment.run` use it.
//
// The judgment's parameters are bound from the state's members of the same names (their plain JSON read as
// values; other members are ignored), its results are asked of the service as request groups, one group after
// the other, the answers become values, and the judgment's `log` lines are evaluated against them. A result
// that asks for sampling draws from the caller's generator, never from a recorded source.
#pragma once

#include <string_view>
#include <vector>

#include "base/result.h"
#include "ir/program.h"
#include "json/value.h"
#include "runtime/eval.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "zem/answer.h"
#include "zem/profile.h"
#include "zem/service.h"
#include "zem/size.h"
#include "zem/xoshiro.h"

namespace dravelin::run {

struct JudgeOutcome {
  std::vector<zem::ZemAnswer> answers;             // of every group, in group order
  std::vector<zem::RequestGroup> groups;           // the groups asked, in order
  std::vector<runtime::JudgmentLogEntry> logs;     // of the judgment's `log` lines, in order
  runtime::Record values;                          // result name to value
  bool sampled = false;                            // a label or level was drawn
};

// Seeds a generator from the clock and the process id, then `run_judgment_with_rng`.
Result<JudgeOutcome, runtime::RuntimeError> run_judgment(const ir::Ir& ir, std::string_view name,
                                                         const json::Object& state, zem::ZemService& service,
                                                         const zem::Profile& profile);

// A missing judgment or parameter is a `type_error`; the service's refusal is `zem_rejected`, its other
// failures `zem_unavailable` (retryable, but not retried here). Nothing of a failed judgment is returned.
Result<JudgeOutcome, runtime::RuntimeError> run_judgment_with_rng(const ir::Ir& ir, std::string_view name,
                                                                  const json::Object& state,
                                                                  zem::ZemService& service,
                                                                  const zem::Profile& profile,
                                                                  zem::Xoshiro256StarStar& random);

}  // namespace dravelin::run
