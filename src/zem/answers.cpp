#include "zem/answers.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "json/number_format.h"

namespace dravelin::zem {

namespace {

using runtime::Value;

RuntimeError rejected(std::string message) {
  return runtime::make_runtime_error(RuntimeErrorCode::ZemRejected, std::move(message));
}

runtime::ProbabilityMap copy_probabilities(const Probabilities& probabilities) {
  return runtime::ProbabilityMap(probabilities.begin(), probabilities.end());
}

// The k of a label "i<k>" (digits only, an optional "+" after the "i"), when it names one of `count` items.
std::optional<uint32_t> item_index(std::string_view label, size_t count) {
  if (label.size() < 2 || label.front() != 'i') return std::nullopt;
  label.remove_prefix(1);
  if (label.front() == '+') label.remove_prefix(1);
  if (label.empty()) return std::nullopt;
  uint64_t k = 0;
  for (const char c : label) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (k > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    k = k * 10 + digit;
  }
  if (k >= count || k > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(k);
}

// The conversion of one answer spec: what it needs beyond the spec itself, worked out once for all its answers.
class SpecConverter {
 public:
  SpecConverter(const AnswerSpec& spec, bool sampling, const RandomSource& random)
      : spec_(spec), sampling_(sampling), random_(random) {
    if (const auto* level = std::get_if<AnswerKind::Level>(&spec.kind.kind)) {
      if (level->names.empty()) {
        for (size_t i = 0; i < level->count; ++i) {
          std::string label;
          json::append_u64(label, i);
          level_labels_.push_back(std::move(label));
        }
      }
    }
  }

  bool sampled() const { return sampled_; }

  Result<Value, RuntimeError> convert(const std::string& id, const ZemAnswer& answer) {
    return std::visit([&](const auto& kind) { return convert(id, answer, kind); }, spec_.kind.kind);
  }

 private:
  static RuntimeError wrong_kind(const std::string& id, std::string_view kind) {
    return rejected("question `" + id + "` expected a " + std::string(kind) + " answer");
  }

  Result<std::string, RuntimeError> label(const ZemAnswer::Choice& answer, const std::vector<std::string>& labels) {
    if (!sampling_) return answer.label;
    sampled_ = true;
    const double x = TRY(random_());
    return sample_label(labels, answer.probabilities, x);
  }

  Result<Value, RuntimeError> convert(const std::string& id, const ZemAnswer& answer, const AnswerKind::Prob&) {
    const auto* noul = std::get_if<ZemAnswer::Noul>(&answer.data);
    if (noul == nullptr) return err(wrong_kind(id, "noul"));
    return Value::prob(noul->prob);
  }

  Result<Value, RuntimeError> convert(const std::string& id, const ZemAnswer& answer, const AnswerKind::Choice& kind) {
    const auto* choice = std::get_if<ZemAnswer::Choice>(&answer.data);
    if (choice == nullptr) return err(wrong_kind(id, "choice"));
    runtime::Choice value;
    value.label = TRY(label(*choice, kind.labels));
    value.confidence = choice->confidence;
    value.probabilities = copy_probabilities(choice->probabilities);
    return Value::choice(std::move(value));
  }

  Result<Value, RuntimeError> convert(const std::string& id, const ZemAnswer& answer,
                                      const AnswerKind::PickAmong& kind) {
    const auto* choice = std::get_if<ZemAnswer::Choice>(&answer.data);
    if (choice == nullptr) return err(wrong_kind(id, "choice"));
    runtime::Choice value;
    value.label = TRY(label(*choice, kind.labels));
    value.confidence = choice->confidence;
    value.probabilities = copy_probabilities(choice->probabilities);
    // "none", or a label naming no item the judgment offered, chooses nothing.
    if (const std::optional<uint32_t> index = item_index(value.label, kind.items.size())) {
      value.index = *index;
      value.item = kind.items[*index];
    }
    return Value::choice(std::move(value));
  }

  Result<Value, RuntimeError> convert(const std::string& id, const ZemAnswer& answer, const AnswerKind::Level& kind) {
    const auto* score = std::get_if<ZemAnswer::Score>(&answer.data);
    if (score == nullptr) return err(wrong_kind(id, "score"));
    runtime::Level value;
    value.level = score->level;
    if (sampling_) {
      sampled_ = true;
      const std::vector<std::string>& labels = kind.names.empty() ? level_labels_ : kind.names;
      const double x = TRY(random_());
      const std::string drawn = sample_label(labels, score->probabilities, x);
      for (size_t i = 0; i < labels.size() && i <= std::numeric_limits<uint32_t>::max(); ++i) {
        if (labels[i] == drawn) {
          value.level = static_cast<uint32_t>(i);
          break;
        }
      }
    }
    // The answer's own score, not the drawn level: it is what the service measured.
    value.score = score->score;
    value.normalized = kind.count > 1 ? score->score / static_cast<double>(kind.count - 1) : 0.0;
    value.confidence = score->confidence;
    value.probabilities = copy_probabilities(score->probabilities);
    value.names = kind.names;
    return Value::level(std::move(value));
  }

  const AnswerSpec& spec_;
  const bool sampling_;
  const RandomSource& random_;
  std::vector<std::string> level_labels_;  // "0", "1", ... for levels without names
  bool sampled_ = false;
};

}  // namespace

Result<AnswerValues, RuntimeError> answers_to_values(const std::vector<AnswerSpec>& specs,
                                                     const std::vector<ZemAnswer>& answers, bool sample,
                                                     const RandomSource& random) {
  // Of two answers to one question the later counts; answers to no question are ignored.
  std::unordered_map<std::string_view, const ZemAnswer*> by_id;
  by_id.reserve(answers.size());
  for (const ZemAnswer& answer : answers) by_id.insert_or_assign(std::string_view(answer.id()), &answer);

  AnswerValues out;
  for (const AnswerSpec& spec : specs) {
    SpecConverter converter(spec, sample || spec.sample, random);
    runtime::List converted;
    for (const std::string& id : answer_ids(spec)) {
      auto found = by_id.find(id);
      if (found == by_id.end()) return err(rejected("no answer for question `" + id + "`"));
      converted.push_back(TRY(converter.convert(id, *found->second)));
    }
    out.sampled = out.sampled || converter.sampled();
    Value result;
    if (spec.each) {
      result = Value::list(std::move(converted));
    } else if (!converted.empty()) {
      result = std::move(converted.front());
    }
    out.values.insert_or_assign(spec.name, std::move(result));
  }
  return out;
}

std::string sample_label(const std::vector<std::string>& labels, const Probabilities& probabilities, double x) {
  if (labels.empty()) return "";
  if (probabilities.empty()) return labels.front();
  std::vector<double> weights;
  weights.reserve(labels.size());
  double total = 0;
  for (const std::string& label : labels) {
    auto it = probabilities.find(label);
    // `!(w > 0)` also drops NaN.
    const double weight = it != probabilities.end() && it->second > 0 ? it->second : 0.0;
    weights.push_back(weight);
    total += weight;
  }
  if (!(total > 0)) return labels.front();
  double sum = 0;
  for (size_t i = 0; i < labels.size(); ++i) {
    sum += weights[i] / total;
    if (sum > x) return labels[i];
  }
  // Rounding may leave the last share's sum just below x.
  return labels.back();
}

std::vector<std::string> answer_ids(const AnswerSpec& spec) {
  std::vector<std::string> ids;
  if (!spec.each) {
    ids.push_back(spec.name);
    return ids;
  }
  ids.reserve(spec.question_count);
  for (size_t i = 0; i < spec.question_count; ++i) {
    std::string id = spec.name + "[";
    json::append_u64(id, i);
    id += ']';
    ids.push_back(std::move(id));
  }
  return ids;
}

}  // namespace dravelin::zem
