// The expression walker, judgment questions, bare probabilities used as conditions, and the rule that decides
// which field values are small enough to need no cap.
#include <cmath>
#include <type_traits>
#include <variant>

#include "compiler/check_context.h"
#include "syntax/parse.h"

namespace dravelin::compiler::check {

namespace {

// A text literal that is one short literal run (or empty): it cannot grow at run time.
bool is_short_literal_text(const ast::Expr& expr) {
  std::optional<std::string_view> text = plain_text_literal(expr);
  return text && text->size() < 100;
}

void check_fields(Checker& checker, Scope& scope, AssignedSet& assigned,
                  const std::vector<ast::RecordField>& fields) {
  for (const ast::RecordField& field : fields) {
    if (field.value) {
      check_expr(checker, scope, assigned, *field.value);
    } else {
      check_read(checker, scope, assigned, field.name, field.name_span);
    }
  }
}

void check_text(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::TextLit& text) {
  if (const std::vector<ast::Expr>* kept = ast::interpolation_exprs(text, checker.log_shadowed)) {
    for (const ast::Expr& expr : *kept) check_expr(checker, scope, assigned, expr);
    return;
  }
  for (const syntax::TokenTextPart& part : text.parts) {
    const auto* interpolation = std::get_if<syntax::TextInterpolationPart>(&part);
    if (interpolation == nullptr) continue;
    auto parsed = syntax::parse_interpolation(interpolation->source, interpolation->span.start, checker.log_shadowed);
    // The parser accepted this interpolation when it read the file; a failure here has nothing new to say.
    if (!parsed.ok()) continue;
    check_expr(checker, scope, assigned, *parsed);
  }
}

void check_optional(Checker& checker, Scope& scope, AssignedSet& assigned, const std::optional<ast::Expr>& e) {
  if (e) check_expr(checker, scope, assigned, *e);
}

void check_detail(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Detail& detail) {
  check_optional(checker, scope, assigned, detail.focus);
  check_optional(checker, scope, assigned, detail.note);
  check_optional(checker, scope, assigned, detail.compare);
  check_optional(checker, scope, assigned, detail.yes);
  check_optional(checker, scope, assigned, detail.no);
  check_optional(checker, scope, assigned, detail.examples);
  check_optional(checker, scope, assigned, detail.what);
  check_optional(checker, scope, assigned, detail.not_for);
}

bool is_bare_name(const ast::Expr& expr, std::string_view name) {
  const auto* n = std::get_if<ast::Expr::Name>(&expr.node);
  return n != nullptr && n->name == name;
}

void check_call(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Expr::Call& call) {
  std::optional<NamePath> path = name_path(*call.callee);
  if (path) {
    check_reference(checker, scope, assigned, *path, &call.args, call.span);
  } else {
    check_expr(checker, scope, assigned, *call.callee);
  }
  // `h.wait idle` names the state to wait for; `idle` is a word there, not a variable.
  bool skip_first = path && !path->empty() && path->back().name == "wait" && !call.args.empty() &&
                    !call.args.front().name && is_bare_name(call.args.front().value, "idle");
  for (std::size_t i = 0; i < call.args.size(); ++i) {
    if (i == 0 && skip_first) continue;
    check_expr(checker, scope, assigned, call.args[i].value);
  }
}

// The first result of judgment `qualified` named `field`, when it answers a plain `feels` with one probability.
bool is_prob_result(const Checker& checker, const std::string& qualified, const std::string& field) {
  const ast::Unit* unit = find_unit(checker.modules, qualified);
  if (unit == nullptr) return false;
  const auto* judgment = std::get_if<ast::Judgment>(&unit->node);
  if (judgment == nullptr) return false;
  for (const ast::JudgmentResult& result : judgment->results) {
    if (result.name != field) continue;
    return !result.question.each && std::holds_alternative<ast::JudgeVerb::Feels>(result.question.verb.node);
  }
  return false;
}

}  // namespace

void check_expr(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Expr& expr) {
  std::visit(
      [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, ast::Expr::Text>) {
          check_text(checker, scope, assigned, e.text);
        } else if constexpr (std::is_same_v<E, ast::Expr::Name>) {
          check_read(checker, scope, assigned, e.name, e.span);
        } else if constexpr (std::is_same_v<E, ast::Expr::List>) {
          for (const ast::Expr& item : e.items) check_expr(checker, scope, assigned, item);
        } else if constexpr (std::is_same_v<E, ast::Expr::Record>) {
          check_fields(checker, scope, assigned, e.fields);
        } else if constexpr (std::is_same_v<E, ast::Expr::Field>) {
          if (std::optional<NamePath> path = name_path(expr)) {
            check_reference(checker, scope, assigned, *path, nullptr, e.span);
          } else {
            check_expr(checker, scope, assigned, *e.target);
          }
        } else if constexpr (std::is_same_v<E, ast::Expr::Index>) {
          check_expr(checker, scope, assigned, *e.target);
          check_expr(checker, scope, assigned, *e.index);
        } else if constexpr (std::is_same_v<E, ast::Expr::Call>) {
          check_call(checker, scope, assigned, e);
        } else if constexpr (std::is_same_v<E, ast::Expr::Unary>) {
          check_expr(checker, scope, assigned, *e.operand);
        } else if constexpr (std::is_same_v<E, ast::Expr::Is>) {
          check_expr(checker, scope, assigned, *e.target);
        } else if constexpr (std::is_same_v<E, ast::Expr::Binary>) {
          check_expr(checker, scope, assigned, *e.left);
          check_expr(checker, scope, assigned, *e.right);
        } else if constexpr (std::is_same_v<E, ast::Expr::Focus>) {
          check_expr(checker, scope, assigned, *e.text);
          check_expr(checker, scope, assigned, *e.on);
        } else if constexpr (std::is_same_v<E, ast::Expr::Comprehension>) {
          check_expr(checker, scope, assigned, *e.iterable);
          const std::size_t before = assigned.mark();
          for (const ast::Ident& name : e.names) assigned.add(name.name);
          if (e.test) {
            warn_bare_prob(checker, scope, **e.test);
            check_expr(checker, scope, assigned, **e.test);
          }
          check_expr(checker, scope, assigned, *e.expr);
          assigned.take_back(before);
        } else if constexpr (std::is_same_v<E, ast::Expr::Judge>) {
          check_question(checker, scope, assigned, *e.judge);
        } else if constexpr (std::is_same_v<E, ast::Expr::Log>) {
          if (checker.in_question) {
            push_error(checker, DiagnosticCode::LogInQuestion,
                       "a `log` cannot run inside a judgment's question, which is built without effects; log the "
                       "value before or after the judgment (spec section 5.8)",
                       e.span);
          }
          check_expr(checker, scope, assigned, *e.value);
          check_fields(checker, scope, assigned, e.fields);
        } else {
          // Numbers, booleans, `none` and `trail` read nothing.
        }
      },
      expr.node);
}

void check_judge(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Judge& judge) {
  if (judge.each && std::holds_alternative<ast::JudgeVerb::PickAmong>(judge.verb.node)) {
    push_error(checker, DiagnosticCode::PickAmongEach,
               "`each` cannot be combined with `pick among` (spec section 6.4a)", judge.span);
  }
  check_read(checker, scope, assigned, judge.subject.root, judge.subject.root_span);
  for (const ast::SubjectStep& step : judge.subject.path) {
    if (const auto* index = std::get_if<ast::SubjectStep::Index>(&step.node)) {
      check_expr(checker, scope, assigned, index->expr);
    }
  }
  std::visit(
      [&](const auto& verb) {
        using V = std::decay_t<decltype(verb)>;
        if constexpr (std::is_same_v<V, ast::JudgeVerb::Feels>) {
          check_expr(checker, scope, assigned, verb.condition);
        } else if constexpr (std::is_same_v<V, ast::JudgeVerb::Pick>) {
          for (const ast::PickLabel& label : verb.labels) {
            check_optional(checker, scope, assigned, label.description);
            if (label.detail) check_detail(checker, scope, assigned, *label.detail);
          }
        } else if constexpr (std::is_same_v<V, ast::JudgeVerb::Rate>) {
          for (const ast::RateLevel& level : verb.levels) check_expr(checker, scope, assigned, level.situation);
        } else {
          check_expr(checker, scope, assigned, verb.question);
        }
      },
      judge.verb.node);
  if (judge.detail) check_detail(checker, scope, assigned, *judge.detail);
}

void check_question(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Judge& judge) {
  bool saved = checker.in_question;
  checker.in_question = true;
  check_judge(checker, scope, assigned, judge);
  checker.in_question = saved;
}

void warn_bare_prob(Checker& checker, const Scope& scope, const ast::Expr& condition) {
  if (const auto* unary = std::get_if<ast::Expr::Unary>(&condition.node)) {
    if (unary->op == syntax::UnaryOp::Not) warn_bare_prob(checker, scope, *unary->operand);
    return;
  }
  if (const auto* binary = std::get_if<ast::Expr::Binary>(&condition.node)) {
    if (binary->op == syntax::BinaryOp::And || binary->op == syntax::BinaryOp::Or) {
      warn_bare_prob(checker, scope, *binary->left);
      warn_bare_prob(checker, scope, *binary->right);
    }
    return;
  }
  if (const auto* log = std::get_if<ast::Expr::Log>(&condition.node)) {
    warn_bare_prob(checker, scope, *log->value);
    return;
  }
  if (const auto* name = std::get_if<ast::Expr::Name>(&condition.node)) {
    if (scope.prob_names.count(name->name) == 0) return;
    const std::string& x = name->name;
    push_warning(checker, DiagnosticCode::BareProbCondition,
                 "`" + x + "` is a prob; `if " + x + ":` tests `" + x + " != 0`, write a threshold such as `" + x +
                     " > 0.7` (spec section 4.1)",
                 name->span);
    return;
  }
  if (const auto* field = std::get_if<ast::Expr::Field>(&condition.node)) {
    const auto* target = std::get_if<ast::Expr::Name>(&field->target->node);
    if (target == nullptr) return;
    auto held = scope.judgment_vars.find(target->name);
    if (held == scope.judgment_vars.end() || !is_prob_result(checker, held->second, field->name)) return;
    std::string path = target->name + "." + field->name;
    push_warning(checker, DiagnosticCode::BareProbCondition,
                 "`" + path + "` is a prob; write a threshold such as `" + path + " > 0.7` (spec section 4.1)",
                 field->span);
  }
}

std::optional<std::string_view> plain_text_literal(const ast::Expr& expr) {
  const auto* text = std::get_if<ast::Expr::Text>(&expr.node);
  if (text == nullptr) return std::nullopt;
  const auto& parts = text->text.parts;
  if (parts.empty()) return std::string_view();
  if (parts.size() != 1) return std::nullopt;
  const auto* literal = std::get_if<syntax::TextLiteralPart>(&parts.front());
  if (literal == nullptr) return std::nullopt;
  return std::string_view(literal->text);
}

bool is_small_value(const ast::Expr& expr) {
  return std::visit(
      [](const auto& e) -> bool {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, ast::Expr::Number> || std::is_same_v<E, ast::Expr::Bool> ||
                      std::is_same_v<E, ast::Expr::None> || std::is_same_v<E, ast::Expr::Unary> ||
                      std::is_same_v<E, ast::Expr::Is> || std::is_same_v<E, ast::Expr::Focus>) {
          return true;
        } else if constexpr (std::is_same_v<E, ast::Expr::Binary>) {
          // `+` joins texts and lists as well as numbers.
          return e.op != syntax::BinaryOp::Add;
        } else if constexpr (std::is_same_v<E, ast::Expr::Trail>) {
          double whole = std::trunc(e.count);
          if (!(whole > 0)) whole = 0;
          return whole < 64;
        } else if constexpr (std::is_same_v<E, ast::Expr::Log>) {
          return is_small_value(*e.value);
        } else if constexpr (std::is_same_v<E, ast::Expr::Call>) {
          const auto* callee = std::get_if<ast::Expr::Name>(&e.callee->node);
          if (callee == nullptr) return false;
          static constexpr std::string_view kSmall[] = {"len",   "max",    "min",    "sum", "hash",
                                                        "bool",  "count",  "tokens", "random", "number"};
          for (std::string_view name : kSmall) {
            if (callee->name == name) return true;
          }
          return false;
        } else if constexpr (std::is_same_v<E, ast::Expr::List>) {
          if (e.items.size() >= 64) return false;
          for (const ast::Expr& item : e.items) {
            if (std::holds_alternative<ast::Expr::Text>(item.node)) {
              if (!is_short_literal_text(item)) return false;
            } else if (!is_small_value(item)) {
              return false;
            }
          }
          return true;
        } else {
          return false;
        }
      },
      expr.node);
}

void warn_uncapped(Checker& checker, const ast::ShapeField& field) {
  if (field.max || is_small_value(field.value)) return;
  push_warning(checker, DiagnosticCode::UncappedField,
               "field `" + field.name +
                   "` has no `max`; every field that reaches Zem should say how large it may be (spec section 7.2)",
               field.span);
}

}  // namespace dravelin::compiler::check
