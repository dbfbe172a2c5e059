#include "zem/request_group.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "json/number_format.h"
#include "runtime/value_json.h"
#include "zem/request_group_internal.h"

namespace dravelin::zem {

namespace detail = request_group_detail;

namespace {

using detail::decimal;
using detail::QuestionRecord;

// The names of a batch as a bracketed list of quoted texts: `["tone", "risk"]`.
std::string quoted_names(const std::vector<NamedJudge>& judges) {
  std::string out = "[";
  for (size_t i = 0; i < judges.size(); ++i) {
    if (i > 0) out += ", ";
    out += '"';
    for (const char c : judges[i].name) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            static constexpr char kHex[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(c);
            out += "\\u{";
            if (byte >= 0x10) out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
            out += '}';
          } else {
            out += c;
          }
      }
    }
    out += '"';
  }
  out += ']';
  return out;
}

// Places the entry's value into the state along its steps, creating arrays and objects where the state holds
// nothing yet. Where the state already holds something of another kind the entry is left out: a parameter's
// value is not reshaped to make room for a subject.
void merge_entry(json::Object& state, const StateEntry& entry) {
  json::Value* node = &state[entry.root];
  for (const ResolvedStep& step : entry.steps) {
    if (const auto* index = std::get_if<ResolvedStep::Index>(&step.step)) {
      if (node->is_null()) *node = json::Value::array();
      json::Array* items = node->if_array();
      // A resolved index lies within a list held in memory, so growing an array to it is bounded.
      if (items == nullptr || index->index >= items->max_size()) return;
      if (items->size() <= index->index) items->resize(static_cast<size_t>(index->index) + 1);
      node = &(*items)[static_cast<size_t>(index->index)];
    } else {
      if (node->is_null()) *node = json::Value::object();
      json::Object* members = node->if_object();
      if (members == nullptr) return;
      node = &(*members)[std::get<ResolvedStep::Field>(step.step).name];
    }
  }
  *node = entry.value;
}

json::Object base_state(const std::optional<std::vector<std::string>>& state_params, const Scopes& scopes) {
  json::Object state;
  if (!state_params) return state;
  for (const std::string& name : *state_params) {
    const Value* value = scopes.lookup(name);
    state.set(name, value != nullptr ? runtime::to_plain_json(*value) : json::Value());
  }
  return state;
}

}  // namespace

Result<RequestPlan, RuntimeError> build_request_group(const std::vector<NamedJudge>& judges,
                                                      const std::optional<std::vector<std::string>>& state_params,
                                                      Scopes& scopes, const Profile& profile) {
  runtime::QuestionHost host;
  const auto tokenizer = profile.tokenizer.tokenizer();
  EvalContext context{host, *tokenizer};

  RequestPlan plan;
  std::vector<QuestionRecord> questions;
  for (const NamedJudge& named : judges) {
    detail::JudgeQuestions built = TRY(detail::build_judge_questions(context, named, scopes, profile));
    plan.specs.push_back(std::move(built.spec));
    std::move(built.questions.begin(), built.questions.end(), std::back_inserter(questions));
  }

  const size_t cap = std::max<size_t>(profile.max_questions_per_request, 1);
  if (questions.size() > cap &&
      std::none_of(plan.specs.begin(), plan.specs.end(),
                   [&](const AnswerSpec& spec) { return spec.each && spec.question_count > cap; })) {
    return err(runtime::make_runtime_error(
        RuntimeErrorCode::StateTooLarge,
        "the request group " + quoted_names(judges) + " expands to " + decimal(questions.size()) +
            " questions, over the " + decimal(cap) + " per request allowed by `" + profile.model +
            "`, and no `each` in it is over the cap on its own; ask fewer questions together",
        false, judges.front().judge->span));
  }

  const json::Object base = base_state(state_params, scopes);
  for (size_t start = 0; start < questions.size(); start += cap) {
    const size_t end = std::min(questions.size(), start + cap);
    RequestGroup group{profile.model, {}, base};
    group.questions.reserve(end - start);
    for (size_t i = start; i < end; ++i) {
      QuestionRecord& record = questions[i];
      merge_entry(group.state, record.subject);
      for (const StateEntry& entry : *record.compare) merge_entry(group.state, entry);
      group.questions.push_back(std::move(record.question));
    }
    TRY(check_size_limits(measure_request_with(group, *tokenizer), profile));
    plan.groups.push_back(std::move(group));
  }
  return plan;
}

}  // namespace dravelin::zem
