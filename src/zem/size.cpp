#include "zem/size.h"

#include <algorithm>
#include <limits>

#include "json/number_format.h"
#include "json/writer.h"

namespace dravelin::zem {

namespace {

// Token counts never wrap: a sum past the range still exceeds every limit.
uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

uint64_t count_value(const json::Value& value, const Tokenizer& tokenizer) {
  std::string text;
  json::write_value(text, value);
  return tokenizer.count(text);
}

std::string subject_phrase(const RequestSize& size) {
  if (!size.largest_subject) return "(no subject)";
  std::string out = "`" + size.largest_subject->first + "` (";
  json::append_u64(out, size.largest_subject->second);
  out += " tokens)";
  return out;
}

RuntimeError too_large(std::string message) {
  return make_runtime_error(RuntimeErrorCode::StateTooLarge, std::move(message));
}

}  // namespace

void write_state_json(const json::Object& state, std::string& out) {
  if (!state.is_sorted_map()) {
    json::Object sorted = state;
    sorted.sort_keys();
    write_state_json(sorted, out);
    return;
  }
  // Member by member, so that a large state is not copied into a value first.
  out += '{';
  bool first = true;
  for (const json::Member& member : state) {
    if (!first) out += ',';
    first = false;
    json::append_escaped(out, member.key);
    out += ':';
    json::write_value(out, member.value);
  }
  out += '}';
}

json::Value state_to_json_value(const json::Object& state) {
  json::Object copy = state;
  copy.sort_keys();
  return json::Value(std::move(copy));
}

RequestSize measure_request_with(const RequestGroup& group, const Tokenizer& tokenizer) {
  RequestSize size;
  std::string text;
  write_state_json(group.state, text);
  size.state_tokens = tokenizer.count(text);

  size.question_tokens.reserve(group.questions.size());
  for (const Question& question : group.questions) {
    text.clear();
    question.write_json(text);
    size.question_tokens.push_back(tokenizer.count(text));
  }

  json::Object sorted;
  const json::Object* members = &group.state;
  if (!group.state.is_sorted_map()) {
    sorted = group.state;
    sorted.sort_keys();
    members = &sorted;
  }
  for (const json::Member& member : *members) {
    const uint64_t tokens = count_value(member.value, tokenizer);
    if (!size.largest_subject || tokens >= size.largest_subject->second) {
      size.largest_subject = std::make_pair(member.key, tokens);
    }
  }
  return size;
}

RequestSize measure_request(const RequestGroup& group, const Profile& profile) {
  const auto tokenizer = profile.tokenizer.tokenizer();
  return measure_request_with(group, *tokenizer);
}

Result<Unit, RuntimeError> check_size_limits(const RequestSize& size, const Profile& profile) {
  uint64_t total = size.state_tokens;
  for (uint64_t tokens : size.question_tokens) total = saturating_add(total, tokens);
  if (total > profile.total_tokens) {
    std::string message = "the state plus all questions is ";
    json::append_u64(message, total);
    message += " tokens, over the ";
    json::append_u64(message, profile.total_tokens);
    message += " limit of `" + profile.model + "`; the largest subject is " + subject_phrase(size);
    return err(too_large(std::move(message)));
  }
  uint64_t largest = 0;
  for (uint64_t tokens : size.question_tokens) largest = std::max(largest, tokens);
  const uint64_t with_largest = saturating_add(size.state_tokens, largest);
  if (with_largest > profile.state_plus_question_tokens) {
    std::string message = "the state plus the largest question is ";
    json::append_u64(message, with_largest);
    message += " tokens, over the ";
    json::append_u64(message, profile.state_plus_question_tokens);
    message += " per-question limit of `" + profile.model + "`; the largest subject is " + subject_phrase(size);
    return err(too_large(std::move(message)));
  }
  return Unit{};
}

Result<RequestSize, RuntimeError> check_request_size(const RequestGroup& group, const Profile& profile) {
  RequestSize size = measure_request(group, profile);
  TRY(check_size_limits(size, profile));
  return size;
}

std::vector<std::string> yes_no_labels() { return {"yes", "no"}; }

}  // namespace dravelin::zem
