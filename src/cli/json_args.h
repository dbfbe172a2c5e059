// JSON given to the command line: `--input` and `--state` objects, and the rows of an evaluation's cases file.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"
#include "runtime/value.h"

namespace dravelin::cli {

// The whole text as one JSON object (nothing but whitespace after it), each member read as a runtime value in
// its tagged form. The error is the JSON reader's message with its position, or the value reader's.
Result<runtime::Record, std::string> parse_value_object(std::string_view text);

// One row of a cases file: the state to judge and the values expected, both objects ordered by key.
struct EvalCase {
  json::Object state;
  json::Object expected;
};

// `{"state": {...}, "expected": {...}}` (other members ignored) or `[state, expected]`, as the whole line.
Result<EvalCase, std::string> parse_eval_case(std::string_view line);

}  // namespace dravelin::cli
