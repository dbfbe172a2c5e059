// Request size limits: a request group must fit its model profile's two token limits before it is sent.
//
// The whole request (the state plus every question) must stay within `total_tokens`, and the state plus the
// largest single question within `state_plus_question_tokens`; a count equal to a limit fits. Sizes are
// token counts of compact JSON texts: the state as `write_state_json` writes it, each question in its
// recorded form. An overrun is a `state_too_large` error naming the state's largest top-level member, the
// likeliest thing to trim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "zem/profile.h"
#include "zem/question.h"
#include "runtime/runtime_error.h"
#include "tokens/tokenizer.h"

namespace dravelin::zem {

// What one model-service request asks: the profile's model id, the questions in order, and the state they
// are about (root name to JSON value, kept in key order).
struct RequestGroup {
  std::string model;
  std::vector<Question> questions;
  json::Object state;

  friend bool operator==(const RequestGroup&, const RequestGroup&) = default;
};

struct RequestSize {
  uint64_t state_tokens = 0;
  std::vector<uint64_t> question_tokens;  // one per question, in the group's order
  // The top-level state member whose value has the most tokens (of equal counts, the one latest in key
  // order); none for an empty state.
  std::optional<std::pair<std::string, uint64_t>> largest_subject;

  friend bool operator==(const RequestSize&, const RequestSize&) = default;
};

// A request state as compact JSON: `{"<root>":<value>,...}` with the roots in byte order, `{}` when empty.
void write_state_json(const json::Object& state, std::string& out);
// A copy of the state as a JSON object value (roots in byte order).
json::Value state_to_json_value(const json::Object& state);

RequestSize measure_request_with(const RequestGroup& group, const Tokenizer& tokenizer);
// Measures with the counter of the profile's tokenizer setting.
RequestSize measure_request(const RequestGroup& group, const Profile& profile);
// The total limit is checked first, so a request over both reports the total.
Result<Unit, RuntimeError> check_size_limits(const RequestSize& size, const Profile& profile);
// `measure_request` and `check_size_limits`; the sizes when both limits hold.
Result<RequestSize, RuntimeError> check_request_size(const RequestGroup& group, const Profile& profile);

// The options of a confirmation that gives none of its own: "yes", then "no".
std::vector<std::string> yes_no_labels();

}  // namespace dravelin::zem
