// Shared between the files of request group assembly; not part of the layer's interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zem/request_group.h"

namespace dravelin::zem::request_group_detail {

// A question with the state entries its request must hold: its subject's, then the judgment's `compare`
// entries, which every question of the judgment shares.
struct QuestionRecord {
  Question question;
  StateEntry subject;
  std::shared_ptr<const std::vector<StateEntry>> compare;
};

// What building one judgment adds to the plan.
struct JudgeQuestions {
  AnswerSpec spec;
  std::vector<QuestionRecord> questions;
};

// The questions and the answer spec of one judgment, every expression evaluated in `context`.
Result<JudgeQuestions, RuntimeError> build_judge_questions(EvalContext& context, const NamedJudge& named,
                                                           Scopes& scopes, const Profile& profile);

RuntimeError type_error(std::string message, const syntax::Span& span = {});
// `n` in decimal digits, for messages.
std::string decimal(uint64_t n);

}  // namespace dravelin::zem::request_group_detail
