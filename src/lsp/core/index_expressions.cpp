// The walk of expressions and judgments: an occurrence for every name used, the labels of inline questions,
// comprehension variables (visible only inside their comprehension), and the `log` words.
#include <algorithm>
#include <utility>

#include "base/overloaded.h"
#include "lsp/core/index_builder.h"
#include "syntax/parse.h"

namespace dravelin::lsp::index_build {
namespace {

namespace ast = syntax::ast;
using syntax::Span;

// The expressions present among several optional ones, in source order.
std::vector<const ast::Expr*> in_source_order(std::initializer_list<const std::optional<ast::Expr>*> slots) {
  std::vector<const ast::Expr*> out;
  for (const std::optional<ast::Expr>* slot : slots)
    if (*slot) out.push_back(&**slot);
  std::stable_sort(out.begin(), out.end(), [](const ast::Expr* a, const ast::Expr* b) {
    return ast::span(*a).start.offset < ast::span(*b).start.offset;
  });
  return out;
}

}  // namespace

void Builder::walk_expr(const ast::Expr& expr, bool in_call) {
  if (auto path = dotted_path(expr)) {
    index_path(*path, in_call);
    return;
  }
  std::visit(Overloaded{
                 [&](const ast::Expr::Text& text) { walk_text(text.text); },
                 [&](const ast::Expr::List& list) {
                   for (const ast::Expr& item : list.items) walk_expr(item, false);
                 },
                 [&](const ast::Expr::Record& record) { walk_fields(record.fields); },
                 [&](const ast::Expr::Field& field) {
                   // A member of something that is not a name: a call's result, a literal, an index.
                   walk_expr(*field.target, false);
                   const bool verb = in_call || field.name == "stop" || field.name == "observe";
                   occur(ref::Unresolved{}, field.name_span, verb ? OccurrenceRole::Verb : OccurrenceRole::Field);
                 },
                 [&](const ast::Expr::Index& index) {
                   walk_expr(*index.target, false);
                   walk_expr(*index.index, false);
                 },
                 [&](const ast::Expr::Call& call) { walk_call(call); },
                 [&](const ast::Expr::Unary& unary) { walk_expr(*unary.operand, false); },
                 [&](const ast::Expr::Binary& binary) {
                   walk_expr(*binary.left, false);
                   walk_expr(*binary.right, false);
                 },
                 [&](const ast::Expr::Is& test) { walk_is(test); },
                 [&](const ast::Expr::Comprehension& comprehension) {
                   walk_expr(*comprehension.iterable, false);
                   std::vector<std::pair<std::string, std::optional<NameBinding>>> earlier;
                   for (const ast::Ident& name : comprehension.names) {
                     auto bound = names_.find(name.name);
                     earlier.emplace_back(
                         name.name, bound == names_.end() ? std::nullopt : std::optional<NameBinding>(bound->second));
                     const SymbolId id = declare(DeclaredSymbol{current_unit_, name.name, name.name, name.span,
                                                                name.span, DeclKind::Variable, 0},
                                                 OccurrenceRole::Variable);
                     names_[name.name] = NameBinding{id, shape::Opaque{}};
                   }
                   walk_expr(*comprehension.expr, false);
                   if (comprehension.test) walk_expr(**comprehension.test, false);
                   // Put back in reverse, so that two loop names alike end as they began.
                   for (auto it = earlier.rbegin(); it != earlier.rend(); ++it) {
                     if (it->second) {
                       names_[it->first] = std::move(*it->second);
                     } else {
                       names_.erase(it->first);
                     }
                   }
                 },
                 [&](const ast::Expr::Focus& focus) {
                   walk_expr(*focus.text, false);
                   walk_expr(*focus.on, false);
                 },
                 [&](const ast::Expr::Judge& judge) { walk_judge(*judge.judge, current_unit_); },
                 [&](const ast::Expr::Log& log) { walk_log(log); },
                 [](const auto&) {},  // numbers, truth values, none, trail; names and fields of names came as paths
             },
             expr.node);
}

void Builder::walk_call(const ast::Expr::Call& call) {
  const std::optional<std::vector<std::string>> unit = unit_callee(*call.callee);
  walk_expr(*call.callee, true);
  for (const ast::Arg& arg : call.args) {
    if (!arg.name) continue;
    RefTarget target = ref::Unresolved{};
    if (unit) target = ref::UnitParameter{*unit, arg.name->name};
    occur(std::move(target), arg.name->span, OccurrenceRole::Parameter);
  }
  for (const ast::Arg& arg : call.args) walk_expr(arg.value, false);
}

void Builder::walk_is(const ast::Expr::Is& test) {
  walk_expr(*test.target, false);
  RefTarget target = ref::Label{test.label};
  if (auto path = dotted_path(*test.target)) {
    const NameBinding* binding = binding_of((*path)[0].name);
    if (path->size() == 1 && binding != nullptr) {
      if (const auto* choice = std::get_if<shape::Choice>(&binding->shape)) {
        for (SymbolId label : choice->labels) {
          if (index_.symbols[label].name != test.label) continue;
          target = ref::Local{label};
          break;
        }
      }
    } else if (path->size() == 2 && binding != nullptr) {
      if (const auto* result = std::get_if<shape::UnitResult>(&binding->shape))
        target = ref::MemberLabel{result->unit, std::string((*path)[1].name), test.label};
    }
  }
  occur(std::move(target), test.label_span, OccurrenceRole::Label);
}

void Builder::walk_fields(const std::vector<ast::RecordField>& fields) {
  for (const ast::RecordField& field : fields) {
    if (!field.value) {
      resolve_name(field.name, field.name_span, false);  // `{ name }` is a use of `name`
      continue;
    }
    occur(ref::Unresolved{}, field.name_span, OccurrenceRole::Field);
    walk_expr(*field.value, false);
  }
}

void Builder::walk_text(const ast::TextLit& text) {
  for (const syntax::TokenTextPart& part : text.parts) {
    const auto* interpolation = std::get_if<syntax::TextInterpolationPart>(&part);
    if (interpolation == nullptr) continue;
    // A part that does not parse contributes nothing; its problem is the parser's to report.
    auto parsed = syntax::parse_expression(interpolation->source, interpolation->span.start);
    if (parsed.ok()) walk_expr(*parsed, false);
  }
}

void Builder::walk_log(const ast::Expr::Log& log) {
  const Span word = word_span(log.span, log.span.start.offset);
  size_t level = word.end.offset;
  while (level < text_.size() && (text_[level] == ' ' || text_[level] == '\t')) ++level;
  index_.log_spans.push_back(LogSpan{word, word_span(log.span, level)});
  walk_expr(*log.value, false);
  walk_fields(log.fields);
}

void Builder::walk_judge(const ast::Judge& judge, std::optional<SymbolId> label_parent) {
  const ast::Subject& subject = judge.subject;
  const bool fields_only = std::all_of(subject.path.begin(), subject.path.end(), [](const ast::SubjectStep& step) {
    return std::holds_alternative<ast::SubjectStep::Field>(step.node);
  });
  if (fields_only) {
    std::vector<Segment> path{Segment{subject.root, subject.root_span}};
    for (const ast::SubjectStep& step : subject.path) {
      const auto& field = std::get<ast::SubjectStep::Field>(step.node);
      path.push_back(Segment{field.name, field.span});
    }
    index_path(path, false);
  } else {
    resolve_name(subject.root, subject.root_span, false);
    for (const ast::SubjectStep& step : subject.path) {
      std::visit(Overloaded{
                     [&](const ast::SubjectStep::Field& field) {
                       occur(ref::Unresolved{}, field.span, OccurrenceRole::Field);
                     },
                     [&](const ast::SubjectStep::Index& index) { walk_expr(index.expr, false); },
                 },
                 step.node);
    }
  }

  auto declare_label = [&](const std::string& name, const Span& name_span, const Span& span) {
    declare(DeclaredSymbol{label_parent, name, first_line(span), name_span, span, DeclKind::Label, 0},
            OccurrenceRole::Label);
  };
  std::visit(Overloaded{
                 [&](const ast::JudgeVerb::Feels& feels) { walk_expr(feels.condition, false); },
                 [&](const ast::JudgeVerb::Pick& pick) {
                   for (const ast::PickLabel& label : pick.labels) {
                     if (!label.escape) declare_label(label.name, label.name_span, label.span);
                     std::vector<const ast::Expr*> parts = in_source_order({&label.description});
                     if (label.detail) {
                       const ast::Detail& d = *label.detail;
                       for (const ast::Expr* e : in_source_order(
                                {&d.focus, &d.note, &d.compare, &d.yes, &d.no, &d.examples, &d.what, &d.not_for}))
                         parts.push_back(e);
                       std::stable_sort(parts.begin(), parts.end(), [](const ast::Expr* a, const ast::Expr* b) {
                         return ast::span(*a).start.offset < ast::span(*b).start.offset;
                       });
                     }
                     for (const ast::Expr* part : parts) walk_expr(*part, false);
                   }
                 },
                 [&](const ast::JudgeVerb::Rate& rate) {
                   for (const ast::RateLevel& level : rate.levels) {
                     if (level.name) declare_label(level.name->name, level.name->span, level.span);
                     walk_expr(level.situation, false);
                   }
                 },
                 [&](const ast::JudgeVerb::PickAmong& among) {
                   walk_expr(among.question, false);
                   if (among.by) occur(ref::Unresolved{}, among.by->span, OccurrenceRole::Field);
                 },
             },
             judge.verb.node);
  if (judge.detail) walk_detail(*judge.detail);
}

void Builder::walk_detail(const ast::Detail& d) {
  for (const ast::Expr* e :
       in_source_order({&d.focus, &d.note, &d.compare, &d.yes, &d.no, &d.examples, &d.what, &d.not_for}))
    walk_expr(*e, false);
}

}  // namespace dravelin::lsp::index_build
