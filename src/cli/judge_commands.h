// `dravelin judge` (one named judgment against a state) and `dravelin eval` (the same judgment over a file of
// `{ state, expected }` cases, with an accuracy report).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/command.h"
#include "json/value.h"
#include "run/judge.h"

namespace dravelin::cli {

// Each returns the process exit status.
int judge_command(const Judge& command);
int eval_command(const Eval& command);

// The tallies and misses of an evaluation, built case by case.
class EvalReport {
 public:
  // Compares every expected value of one case (numbered by its line) with the judgment's outcome.
  void add_case(uint64_t line, const json::Object& expected, const run::JudgeOutcome& outcome);
  // `{"misses": [...], "questions": {name: {"accuracy", "correct", "total"}}}`.
  json::Value to_json() const;

 private:
  struct Tally {
    uint64_t correct = 0;
    uint64_t total = 0;
  };
  std::vector<json::Value> misses_;
  std::map<std::string, Tally, std::less<>> tallies_;
};

// Whether a judgment's value meets the expected JSON value.
bool value_matches(const runtime::Value& value, const json::Value& expected);

}  // namespace dravelin::cli
