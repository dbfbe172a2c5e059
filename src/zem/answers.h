// Answers to values: the model service's answers to a plan's questions become the values its judgments are
// assigned: a prob for `feels`, a choice for `pick` and `pick among`, a level for `rate`, a list of them for
// `each`.
//
// With sampling on (the run's option, or the judgment's `sample true`), the label or level of a choice or
// level is drawn from the answer's probabilities with a number the caller supplies, instead of being taken
// from the answer. A `feels` answer is never sampled. The random source is asked once per sampled answer, in
// plan order, and never otherwise, so a run that journals its draws gets the same values back on replay.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/result.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "zem/answer.h"
#include "zem/request_group.h"

namespace dravelin::zem {

// A number in [0, 1), or the failure of whatever draws it.
using RandomSource = std::function<Result<double, RuntimeError>()>;

struct AnswerValues {
  runtime::Record values;  // result name to value
  bool sampled = false;    // a choice or level was drawn rather than taken from its answer

  friend bool operator==(const AnswerValues&, const AnswerValues&) = default;
};

// A missing answer and an answer of the wrong kind are `zem_rejected`, not retryable; a failure of the random
// source is returned unchanged. No partial result survives a failure.
Result<AnswerValues, RuntimeError> answers_to_values(const std::vector<AnswerSpec>& specs,
                                                     const std::vector<ZemAnswer>& answers, bool sample,
                                                     const RandomSource& random);

// Draws a label: each label weighs its probability (absent or not positive: 0), and the first label at which
// the running share of the total exceeds `x` wins. No labels: the empty text; no probabilities, or no
// positive weight: the first label.
std::string sample_label(const std::vector<std::string>& labels, const Probabilities& probabilities, double x);

// The question ids the plan gave a spec's questions: "<name>[<i>]" for `each`, else the name.
std::vector<std::string> answer_ids(const AnswerSpec& spec);

}  // namespace dravelin::zem
