// Judgments compiled from source, for the request-group and answer tests.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/compiled_program.h"
#include "zem/request_group.h"

namespace dravelin::zem::testing {

using dravelin::testing::compile_or_fail;

// A program `p` declaring one judgment `j(<params>)` with the given result lines (already indented).
inline std::string judgment_program(std::string_view params, std::string_view results) {
  return "program p\n\njudgment j(" + std::string(params) + "):\n" + std::string(results);
}

// The results of judgment `j` of a compiled program, as the batch the stand-alone judge would build.
struct CompiledJudgment {
  ir::Ir ir;
  const ir::Judgment* judgment = nullptr;

  explicit CompiledJudgment(const std::string& text) : ir(compile_or_fail(text)) {
    judgment = ir.find_judgment("j");
    if (judgment == nullptr) ADD_FAILURE() << "the fixture declares no judgment `j`";
  }
  CompiledJudgment(const CompiledJudgment&) = delete;

  std::vector<NamedJudge> judges() const {
    std::vector<NamedJudge> out;
    if (judgment == nullptr) return out;
    for (const ir::JudgmentResult& result : judgment->results) out.push_back(NamedJudge{result.name, &result.question});
    return out;
  }
  std::vector<std::string> params() const {
    return judgment != nullptr ? judgment->params : std::vector<std::string>{};
  }
};

inline Profile test_profile(uint32_t max_questions = 64, uint32_t max_criteria = 255) {
  Profile p;
  p.model = "zem-test";
  p.endpoint = "https://zem.invalid/v1/quorent";
  p.total_tokens = 64000;
  p.state_plus_question_tokens = 32000;
  p.max_questions_per_request = max_questions;
  p.max_criteria_per_question = max_criteria;
  p.tokenizer = TokenizerKind::chars4();
  return p;
}

}  // namespace dravelin::zem::testing
