// The questions of one judgment: its subject resolved, its texts evaluated, `each` expanded.
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

#include "json/number_format.h"
#include "runtime/value_json.h"
#include "zem/request_group_internal.h"

namespace dravelin::zem {

namespace detail = request_group_detail;

namespace request_group_detail {

RuntimeError type_error(std::string message, const syntax::Span& span) {
  return runtime::make_runtime_error(RuntimeErrorCode::TypeError, std::move(message), false, span);
}

std::string decimal(uint64_t n) {
  std::string out;
  json::append_u64(out, n);
  return out;
}

}  // namespace request_group_detail

namespace {

using detail::JudgeQuestions;
using detail::QuestionRecord;
using detail::decimal;
using detail::type_error;

// A whole, non-negative, finite number or prob, saturating at the top of the range (such an index is out of
// range of every list anyway).
std::optional<uint64_t> whole_index(const Value& value) {
  const std::optional<double> number = value.if_numeric();
  if (!number || !(*number >= 0) || !std::isfinite(*number) || std::trunc(*number) != *number) return std::nullopt;
  constexpr double kPastTheTop = 18446744073709551616.0;  // 2^64
  if (*number >= kPastTheTop) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(*number);
}

// The place of a subject as questions name it: `items[2].title`.
std::string path_text(std::string_view root, const std::vector<ResolvedStep>& steps) {
  std::string out(root);
  for (const ResolvedStep& step : steps) {
    if (const auto* field = std::get_if<ResolvedStep::Field>(&step.step)) {
      out += '.';
      out += field->name;
    } else {
      out += '[';
      json::append_u64(out, std::get<ResolvedStep::Index>(step.step).index);
      out += ']';
    }
  }
  return out;
}

RuntimeError too_many_options(std::string_view what, size_t count, const Profile& profile, const syntax::Span& span) {
  return runtime::make_runtime_error(RuntimeErrorCode::PickTooMany,
                                     "a " + std::string(what) + " has " + decimal(count) + " options, over the " +
                                         decimal(profile.max_criteria_per_question) + " allowed by `" +
                                         profile.model + "`; filter and rank in code first",
                                     false, span);
}

Result<std::string, RuntimeError> eval_text(EvalContext& context, const ir::Expr& expr, Scopes& scopes) {
  return TRY(runtime::eval_expr(context, expr, scopes)).to_text();
}

// One question asked per target: the whole subject, or one element of it for `each`.
struct Target {
  std::string id;
  std::string path;
  StateEntry subject;
};

class JudgeBuilder {
 public:
  JudgeBuilder(EvalContext& context, const NamedJudge& named, Scopes& scopes, const Profile& profile)
      : context_(context), name_(named.name), judge_(*named.judge), scopes_(scopes), profile_(profile) {}

  Result<JudgeQuestions, RuntimeError> build() {
    const auto* among = std::get_if<ir::JudgeVerb::PickAmong>(&judge_.verb.node);
    // The checker refuses this combination; IR from elsewhere (a recording, say) may still carry it.
    if (among != nullptr && judge_.each) {
      return err(type_error("`each` cannot be combined with `pick among` (spec section 6.4a)", judge_.span));
    }
    const ir::Subject& subject = judge_.subject;
    TRY(resolve_steps());
    Value value = TRY(resolve_subject(scopes_, subject.root, steps_, subject.span));
    path_ = path_text(subject.root, steps_);
    TRY(build_instruction());
    TRY(build_compare_entries());
    out_.spec.name = name_;
    out_.spec.each = judge_.each;
    out_.spec.sample = judge_.detail && judge_.detail->sample.value_or(false);

    if (among != nullptr) {
      TRY(build_pick_among(*among, std::move(value)));
      out_.spec.question_count = out_.questions.size();
      return std::move(out_);
    }
    std::vector<Target> targets = TRY(make_targets(std::move(value)));
    out_.spec.question_count = targets.size();
    TRY(std::visit([&](const auto& verb) { return build_verb(verb, targets); }, judge_.verb.node));
    return std::move(out_);
  }

 private:
  Result<Unit, RuntimeError> resolve_steps() {
    for (const ir::SubjectStep& step : judge_.subject.path) {
      if (const auto* field = std::get_if<ir::SubjectStep::Field>(&step.node)) {
        steps_.push_back(ResolvedStep::field(field->name));
        continue;
      }
      const Value index = TRY(runtime::eval_expr(context_, std::get<ir::SubjectStep::Index>(step.node).index, scopes_));
      const std::optional<uint64_t> whole = whole_index(index);
      if (!whole) {
        return err(type_error("expected a whole non-negative index, got " + std::string(index.type_word()),
                              judge_.subject.span));
      }
      steps_.push_back(ResolvedStep::index(*whole));
    }
    return Unit{};
  }

  Result<Unit, RuntimeError> build_instruction() {
    if (!judge_.detail) return Unit{};
    const ir::Detail& detail = *judge_.detail;
    Instruction instruction;
    instruction.focus = TRY(eval_optional_text(context_, detail.focus, scopes_));
    instruction.note = TRY(eval_optional_text(context_, detail.note, scopes_));
    instruction.compare = TRY(eval_text_list(context_, detail.compare, scopes_));
    instruction.yes = TRY(eval_text_list(context_, detail.yes, scopes_));
    instruction.no = TRY(eval_text_list(context_, detail.no, scopes_));
    if (!instruction.empty()) instruction_ = std::move(instruction);
    return Unit{};
  }

  Result<Unit, RuntimeError> build_compare_entries() {
    auto entries = std::make_shared<std::vector<StateEntry>>();
    if (instruction_) {
      for (const std::string& text : instruction_->compare) {
        auto parsed = parse_state_path(text);
        if (!parsed) return err(runtime::with_span_if_missing(std::move(parsed).error(), judge_.span));
        auto& [root, steps] = *parsed;
        Value value = TRY(resolve_subject(scopes_, root, steps, judge_.span));
        entries->push_back(StateEntry{std::move(root), std::move(steps), runtime::to_plain_json(value)});
      }
    }
    compare_ = std::move(entries);
    return Unit{};
  }

  Result<std::vector<Target>, RuntimeError> make_targets(Value value) {
    std::vector<Target> targets;
    if (!judge_.each) {
      targets.push_back(Target{name_, path_, StateEntry{judge_.subject.root, steps_, runtime::to_plain_json(value)}});
      return targets;
    }
    const runtime::List* items = std::as_const(value).if_list();
    if (items == nullptr) {
      return err(runtime::with_span_if_missing(runtime::expected_type_error("a list for `each`", value),
                                               judge_.subject.span));
    }
    targets.reserve(items->size());
    for (size_t i = 0; i < items->size(); ++i) {
      const std::string suffix = std::string("[").append(decimal(i)).append("]");
      std::vector<ResolvedStep> steps = steps_;
      steps.push_back(ResolvedStep::index(i));
      targets.push_back(Target{name_ + suffix, path_ + suffix,
                               StateEntry{judge_.subject.root, std::move(steps), runtime::to_plain_json((*items)[i])}});
    }
    return targets;
  }

  void add(Question question, StateEntry subject) {
    out_.questions.push_back(QuestionRecord{std::move(question), std::move(subject), compare_});
  }

  Result<Unit, RuntimeError> build_verb(const ir::JudgeVerb::Feels& feels, std::vector<Target>& targets) {
    const std::string condition = TRY(eval_text(context_, feels.condition, scopes_));
    for (Target& t : targets) {
      add(Question::Noul{std::move(t.id), std::move(t.path), condition, instruction_}, std::move(t.subject));
    }
    out_.spec.kind.kind = AnswerKind::Prob{};
    return Unit{};
  }

  Result<Unit, RuntimeError> build_verb(const ir::JudgeVerb::Pick& pick, std::vector<Target>& targets) {
    if (pick.labels.size() > profile_.max_criteria_per_question) {
      return err(too_many_options("`pick`", pick.labels.size(), profile_, judge_.span));
    }
    std::vector<ChoiceLabel> labels;
    AnswerKind::Choice kind;
    for (const ir::PickLabel& label : pick.labels) {
      ChoiceLabel out;
      out.name = label.name;
      out.description = TRY(eval_optional_text(context_, label.description, scopes_));
      out.what = TRY(eval_optional_text(context_, label.what, scopes_));
      out.not_for = TRY(eval_optional_text(context_, label.not_for, scopes_));
      out.examples = TRY(eval_text_list(context_, label.examples, scopes_));
      labels.push_back(std::move(out));
      kind.labels.push_back(label.name);
    }
    for (Target& t : targets) {
      add(Question::Choice{std::move(t.id), std::move(t.path), std::nullopt, labels, instruction_},
          std::move(t.subject));
    }
    out_.spec.kind.kind = std::move(kind);
    return Unit{};
  }

  Result<Unit, RuntimeError> build_verb(const ir::JudgeVerb::Rate& rate, std::vector<Target>& targets) {
    const std::vector<runtime::NamedText> texts = TRY(runtime::eval_exprs_to_texts(context_, rate.levels, scopes_));
    std::vector<ScoreLevel> levels;
    AnswerKind::Level kind;
    kind.count = texts.size();
    bool all_named = true;
    for (const runtime::NamedText& text : texts) {
      levels.push_back(ScoreLevel{text.name, text.text});
      if (text.name) {
        kind.names.push_back(*text.name);
      } else {
        all_named = false;
      }
    }
    if (!all_named) kind.names.clear();
    for (Target& t : targets) {
      add(Question::Score{std::move(t.id), std::move(t.path), levels, instruction_}, std::move(t.subject));
    }
    out_.spec.kind.kind = std::move(kind);
    return Unit{};
  }

  Result<Unit, RuntimeError> build_verb(const ir::JudgeVerb::PickAmong&, std::vector<Target>&) {
    return Unit{};  // built by build_pick_among, which needs the subject's elements
  }

  Result<Unit, RuntimeError> build_pick_among(const ir::JudgeVerb::PickAmong& among, Value value) {
    const syntax::Span& at = judge_.subject.span;
    const runtime::List* items = std::as_const(value).if_list();
    if (items == nullptr) {
      return err(runtime::with_span_if_missing(runtime::expected_type_error("a list for `pick among`", value), at));
    }
    if (items->empty()) return err(type_error("`pick among` needs at least one element", at));
    // The `none` label is not counted: it is the way out, not an option.
    if (items->size() > profile_.max_criteria_per_question) {
      return err(too_many_options("`pick among` list", items->size(), profile_, judge_.span));
    }
    std::vector<ChoiceLabel> labels;
    AnswerKind::PickAmong kind;
    labels.reserve(items->size() + 1);
    for (size_t k = 0; k < items->size(); ++k) {
      const Value& item = (*items)[k];
      std::string description;
      if (among.by) {
        const runtime::Record* record = item.if_record();
        if (record == nullptr) {
          return err(runtime::with_span_if_missing(
              runtime::expected_type_error("a record with field `" + *among.by + "` for `pick among ... by`", item),
              at));
        }
        auto field = record->find(*among.by);
        if (field == record->end()) {
          return err(type_error("`pick among` element " + decimal(k) + " has no field `" + *among.by + "`", at));
        }
        description = field->second.to_text();
      } else {
        description = item.to_text();
      }
      std::string label = "i" + decimal(k);
      kind.labels.push_back(label);
      labels.push_back(ChoiceLabel::make(std::move(label), std::move(description)));
    }
    if (among.allow_none) {
      kind.labels.push_back("none");
      labels.push_back(ChoiceLabel::make("none", std::nullopt));
    }
    std::string question = TRY(eval_text(context_, among.question, scopes_));
    StateEntry subject{judge_.subject.root, steps_, runtime::to_plain_json(value)};
    kind.items = std::move(*items);
    add(Question::Choice{name_, path_, std::move(question), std::move(labels), instruction_}, std::move(subject));
    out_.spec.kind.kind = std::move(kind);
    return Unit{};
  }

  EvalContext& context_;
  const std::string& name_;
  const ir::Judge& judge_;
  Scopes& scopes_;
  const Profile& profile_;

  std::vector<ResolvedStep> steps_;
  std::string path_;
  std::optional<Instruction> instruction_;
  std::shared_ptr<const std::vector<StateEntry>> compare_;
  JudgeQuestions out_;
};

}  // namespace

namespace request_group_detail {

Result<JudgeQuestions, RuntimeError> build_judge_questions(EvalContext& context, const NamedJudge& named,
                                                           Scopes& scopes, const Profile& profile) {
  return JudgeBuilder(context, named, scopes, profile).build();
}

}  // namespace request_group_detail

Result<Value, RuntimeError> resolve_subject(const Scopes& scopes, std::string_view root,
                                            const std::vector<ResolvedStep>& steps, const syntax::Span& span) {
  const Value* node = scopes.lookup(root);
  if (node == nullptr) return err(type_error("unknown subject `" + std::string(root) + "`", span));
  for (const ResolvedStep& step : steps) {
    if (const auto* field = std::get_if<ResolvedStep::Field>(&step.step)) {
      const runtime::Record* record = node->if_record();
      if (record == nullptr) {
        return err(runtime::with_span_if_missing(
            runtime::expected_type_error("a record for `." + field->name + "`", *node), span));
      }
      auto it = record->find(field->name);
      if (it == record->end()) {
        return err(type_error("subject `" + std::string(root) + "` has no field `" + field->name + "`", span));
      }
      node = &it->second;
      continue;
    }
    const uint64_t index = std::get<ResolvedStep::Index>(step.step).index;
    const runtime::List* items = node->if_list();
    if (items == nullptr) {
      return err(runtime::with_span_if_missing(runtime::expected_type_error("a list to index", *node), span));
    }
    if (index >= items->size()) {
      return err(type_error("index " + decimal(index) + " is out of range for subject `" + std::string(root) + "`",
                            span));
    }
    node = &(*items)[index];
  }
  return *node;
}

Result<std::pair<std::string, std::vector<ResolvedStep>>, RuntimeError> parse_state_path(std::string_view text) {
  auto not_a_path = [&] { return err(type_error(std::string("`").append(text) + "` is not a state path")); };
  auto is_name_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  };
  size_t pos = 0;
  auto read_name = [&]() -> std::string_view {
    const size_t start = pos;
    while (pos < text.size() && is_name_char(text[pos])) ++pos;
    return text.substr(start, pos - start);
  };

  const std::string_view root = read_name();
  if (root.empty()) return not_a_path();
  std::vector<ResolvedStep> steps;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (c == '.') {
      const std::string_view name = read_name();
      if (name.empty()) return not_a_path();
      steps.push_back(ResolvedStep::field(std::string(name)));
    } else if (c == '[') {
      const size_t close = text.find(']', pos);
      const bool closed = close != std::string_view::npos;
      std::string_view digits = text.substr(pos, closed ? close - pos : std::string_view::npos);
      pos = closed ? close + 1 : text.size();
      if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
      if (digits.empty()) return not_a_path();
      uint64_t index = 0;
      for (char d : digits) {
        if (d < '0' || d > '9') return not_a_path();
        const uint64_t digit = static_cast<uint64_t>(d - '0');
        if (index > (std::numeric_limits<uint64_t>::max() - digit) / 10) return not_a_path();
        index = index * 10 + digit;
      }
      steps.push_back(ResolvedStep::index(index));
    } else {
      return not_a_path();
    }
  }
  return std::make_pair(std::string(root), std::move(steps));
}

Result<std::optional<std::string>, RuntimeError> eval_optional_text(EvalContext& context,
                                                                    const std::optional<ir::Expr>& expr,
                                                                    Scopes& scopes) {
  if (!expr) return std::optional<std::string>();
  return std::optional<std::string>(TRY(eval_text(context, *expr, scopes)));
}

Result<std::vector<std::string>, RuntimeError> eval_text_list(EvalContext& context,
                                                              const std::optional<ir::Expr>& expr, Scopes& scopes) {
  std::vector<std::string> texts;
  if (!expr) return texts;
  const Value value = TRY(runtime::eval_expr(context, *expr, scopes));
  if (value.is_none()) return texts;
  if (const runtime::List* items = value.if_list()) {
    texts.reserve(items->size());
    for (const Value& item : *items) texts.push_back(item.to_text());
    return texts;
  }
  texts.push_back(value.to_text());
  return texts;
}

}  // namespace dravelin::zem
