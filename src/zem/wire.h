// The model service's wire format: the JSON body POSTed for one request group, the reply read back into
// answers and a token count, and the text made from an error reply.
//
// Request body (compact, every object an ordered map so its keys come out in byte order):
//   {"model": <group model>,
//    "questions": {<question id>: {"criteria": ..., "instructions": {...}, "type": "noul"|"choice"|"score"}},
//    "state": <group state>}
// Question ids are sent sorted, not in the group's order; of two questions with one id the later payload
// is sent. The reply is {"answers": {<id>: {...}}, "usage": {"input_tokens": n, "output_tokens": n}}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "zem/answer.h"
#include "zem/question.h"
#include "zem/size.h"

namespace dravelin::zem {

// The request body of a group as a JSON object value.
json::Value build_request_body(const RequestGroup& group);
// The same, written compactly: the exact bytes that are sent.
std::string write_request_body(const RequestGroup& group);

// One question's payload: "criteria" (when the kind has any), "instructions" and "type".
json::Value question_payload(const Question& question);
// "question" and "inspect" always; "focus", "note" and "compare" from the instruction when set. The
// instruction's yes and no examples never go here (a noul question sends them as its criteria).
json::Value question_instructions(std::string_view question_text, std::string_view path,
                                  const std::optional<Instruction>& instruction);
// A label with only a description (or nothing) is a plain string; otherwise an object of "what" (falling
// back to the description), "not_for" and "examples".
json::Value label_criterion(const ChoiceLabel& label);

// The answers of a reply, one per question in the group's order, and the reply's own token count.
struct ParsedResponse {
  std::vector<ZemAnswer> answers;
  std::optional<uint64_t> tokens;  // input plus output tokens, when the reply reports either

  friend bool operator==(const ParsedResponse&, const ParsedResponse&) = default;
};

// Reads a parsed reply for the group that was sent. The error is a bare message ("the response has no
// answer for `tone`"); the caller puts the status before it.
Result<ParsedResponse, std::string> parse_response(const json::Value& reply, const RequestGroup& group);

// "HTTP <status>: <text>", the text taken from the body's "message", "detail" or "error" member when the
// body is a JSON object that has a usable one, else the body trimmed of white space.
std::string http_error_message(uint16_t status, std::string_view body);

// How sure a probability spread is, for a reply that gives no confidence: 0 for a uniform spread, 1 for a
// certain one; 0 for no entries and 1 for a single one.
double derived_confidence(const Probabilities& probabilities);

// The bytes as text: every maximal ill-formed subsequence replaced by U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace dravelin::zem
