// Lowering of judgment questions: subject and state path, verb, details, and the `detail_ignored` warnings for
// detail keys written where they mean nothing.
#include <string>
#include <utility>

#include "compiler/lower.h"
#include "compiler/lower_context.h"

namespace dravelin::compiler::lowering {

namespace {

using syntax::DiagnosticCode;

void warn_question_key(std::string_view key, const std::optional<ast::Expr>& value, LoweringContext& ctx) {
  if (!value) return;
  ctx.warn(DiagnosticCode::DetailIgnored,
           std::string("`").append(key) +
               "` applies to a `pick` label, not to a question; it is ignored here (spec section 6.8)",
           ast::span(*value));
}

void warn_label_key(std::string_view key, const std::optional<ast::Expr>& value, LoweringContext& ctx) {
  if (!value) return;
  ctx.warn(DiagnosticCode::DetailIgnored,
           std::string("`").append(key) +
               "` applies to a question, not to a `pick` label; it is ignored here (spec section 6.8)",
           ast::span(*value));
}

ir::PickLabel lower_pick_label(const ast::PickLabel& label, LoweringContext& ctx) {
  ir::PickLabel out;
  out.name = label.name;
  out.description = lower_optional(label.description, ctx);
  if (label.detail) {
    const ast::Detail& detail = *label.detail;
    out.what = lower_optional(detail.what, ctx);
    out.not_for = lower_optional(detail.not_for, ctx);
    out.examples = lower_optional(detail.examples, ctx);
    warn_label_key("focus", detail.focus, ctx);
    warn_label_key("note", detail.note, ctx);
    warn_label_key("compare", detail.compare, ctx);
    warn_label_key("yes", detail.yes, ctx);
    warn_label_key("no", detail.no, ctx);
    if (detail.sample) {
      ctx.warn(DiagnosticCode::DetailIgnored,
               "`sample` applies to the whole `pick`, not to one label; it is ignored here (spec section 6.11)",
               detail.span);
    }
  }
  out.escape = label.escape;
  out.span = label.span;
  return out;
}

ir::RateLevel lower_rate_level(const ast::RateLevel& level, LoweringContext& ctx) {
  std::optional<std::string> name;
  if (level.name) name = level.name->name;
  return ir::RateLevel{std::move(name), lower_expr(level.situation, ctx), level.span};
}

ir::JudgeVerb lower_verb(const ast::JudgeVerb& verb, LoweringContext& ctx) {
  if (const auto* feels = std::get_if<ast::JudgeVerb::Feels>(&verb.node)) {
    return ir::JudgeVerb{ir::JudgeVerb::Feels{lower_expr(feels->condition, ctx)}};
  }
  if (const auto* pick = std::get_if<ast::JudgeVerb::Pick>(&verb.node)) {
    ir::JudgeVerb::Pick out;
    out.labels.reserve(pick->labels.size());
    for (const ast::PickLabel& label : pick->labels) out.labels.push_back(lower_pick_label(label, ctx));
    return ir::JudgeVerb{std::move(out)};
  }
  if (const auto* rate = std::get_if<ast::JudgeVerb::Rate>(&verb.node)) {
    ir::JudgeVerb::Rate out;
    out.levels.reserve(rate->levels.size());
    for (const ast::RateLevel& level : rate->levels) out.levels.push_back(lower_rate_level(level, ctx));
    return ir::JudgeVerb{std::move(out)};
  }
  const auto& among = std::get<ast::JudgeVerb::PickAmong>(verb.node);
  std::optional<std::string> by;
  if (among.by) by = among.by->name;
  return ir::JudgeVerb{ir::JudgeVerb::PickAmong{lower_expr(among.question, ctx), std::move(by), among.allow_none}};
}

// The steps, and the state path that names the judged value in the state sent to the model service. Index steps
// are written from the source tree, so the path reads as the user wrote it whatever the bindings say.
std::vector<ir::SubjectStep> lower_subject_steps(const std::vector<ast::SubjectStep>& steps, std::string& state_path,
                                                 LoweringContext& ctx) {
  std::vector<ir::SubjectStep> out;
  out.reserve(steps.size());
  for (const ast::SubjectStep& step : steps) {
    if (const auto* field = std::get_if<ast::SubjectStep::Field>(&step.node)) {
      state_path += '.';
      state_path += field->name;
      out.push_back(ir::SubjectStep{ir::SubjectStep::Field{field->name}});
    } else {
      const ast::Expr& index = std::get<ast::SubjectStep::Index>(step.node).expr;
      state_path += '[';
      state_path += render_expr(index);
      state_path += ']';
      out.push_back(ir::SubjectStep{ir::SubjectStep::Index{lower_expr(index, ctx)}});
    }
  }
  return out;
}

}  // namespace

ir::Judge lower_judge(const ast::Judge& judge, LoweringContext& ctx) {
  ir::Judge out;
  out.verb = lower_verb(judge.verb, ctx);

  // The root is the variable as written: a capability name used as a subject is not renamed.
  out.subject.root = judge.subject.root;
  out.subject.state_path = judge.subject.root;
  out.subject.path = lower_subject_steps(judge.subject.path, out.subject.state_path, ctx);
  out.subject.span = judge.subject.span;

  if (judge.detail) {
    const ast::Detail& detail = *judge.detail;
    warn_question_key("examples", detail.examples, ctx);
    warn_question_key("what", detail.what, ctx);
    warn_question_key("not_for", detail.not_for, ctx);
    ir::Detail lowered;
    lowered.focus = lower_optional(detail.focus, ctx);
    lowered.note = lower_optional(detail.note, ctx);
    lowered.compare = lower_optional(detail.compare, ctx);
    lowered.yes = lower_optional(detail.yes, ctx);
    lowered.no = lower_optional(detail.no, ctx);
    lowered.sample = detail.sample;
    // A detail that says nothing once the ignored keys are gone is no detail.
    if (!(lowered == ir::Detail{})) out.detail = std::move(lowered);
  }

  out.each = judge.each;
  out.span = judge.span;
  out.request_group = ir::kNoRequestGroup;
  return out;
}

}  // namespace dravelin::compiler::lowering
