#include "runtime/eval.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "runtime/operators.h"
#include "runtime/value_bounds.h"
#include "runtime/value_json.h"

namespace dravelin::runtime {
namespace {

using ir::Expr;

RuntimeError type_error(std::string message, const syntax::Span& span = {}) {
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message), false, span);
}

const syntax::Span& span_of(const Expr& expr) {
  return std::visit(
      [](const auto& node) -> const syntax::Span& {
        if constexpr (std::is_same_v<std::decay_t<decltype(node)>, Expr::Judge>) {
          return node.judge->span;
        } else {
          return node.span;
        }
      },
      expr.node);
}

Record probability_record(const ProbabilityMap& probabilities) {
  Record out;
  for (const auto& [label, p] : probabilities) out.emplace_hint(out.end(), label, Value::prob(p));
  return out;
}

RuntimeError no_field(std::string_view kind, std::string_view name) {
  return type_error(std::string(kind) + " has no field `" + std::string(name) + "`");
}

// The same failure, with `span` when it has none of its own.
[[gnu::noinline]] ValueResult fail_with_span(ValueResult failed, const syntax::Span& span) {
  return err(with_span_if_missing(std::move(failed).error(), span));
}

// Each variant is evaluated in a function of its own, and the functions on the recursive path hand the work after
// their sub-expressions (messages, field reads, host calls) to out-of-line helpers: only the variant being
// evaluated pays for its locals, and deep expressions stay cheap in stack.

[[gnu::noinline]] RuntimeError bound_error(RuntimeError error, const syntax::Span& span) {
  error.span = span;
  return error;
}

ValueResult eval_text(EvalContext& context, const Expr::Text& text, Scopes& scopes) {
  std::string out;
  for (const ir::TextPart& part : text.parts) {
    if (const auto* literal = std::get_if<ir::TextPart::Literal>(&part.node)) {
      out += literal->value;
    } else {
      ValueResult piece = eval_expr(context, std::get<ir::TextPart::Interpolation>(part.node).expr, scopes);
      if (!piece.ok()) return fail_with_span(std::move(piece), text.span);
      piece->append_text(out);
    }
    // Checked part by part: a text interpolated into itself in a loop stops here at the bound.
    if (!text_fits(out.size())) return err(bound_error(size_error(), text.span));
  }
  return Value::text(std::move(out));
}

ValueResult eval_name(const Expr::Name& name, const Scopes& scopes) {
  if (const Value* value = scopes.lookup(WrittenName{name.name})) return *value;
  if (scopes.is_capability(name.name)) return Value::handle(Handle{name.name, name.name, {}});
  return err(type_error("unknown name `" + name.name + "`", name.span));
}

ValueResult eval_list(EvalContext& context, const Expr::List& list, Scopes& scopes) {
  ListBuilder items(list.items.size());
  for (const Expr& item : list.items) {
    ValueResult value = eval_expr(context, item, scopes);
    if (!value.ok()) return value;
    auto pushed = items.push(std::move(*value));
    if (!pushed.ok()) return err(bound_error(std::move(pushed).error(), list.span));
  }
  return std::move(items).build();
}

ValueResult eval_record(EvalContext& context, const Expr::Record& record, Scopes& scopes) {
  RecordBuilder fields;
  for (const ir::RecordField& field : record.fields) {
    ValueResult value = eval_expr(context, field.value, scopes);
    if (!value.ok()) return value;
    auto set = fields.set(field.name, std::move(*value));
    if (!set.ok()) return err(bound_error(std::move(set).error(), record.span));
  }
  return std::move(fields).build();
}

[[gnu::noinline]] ValueResult capability_verb(EvalContext& context, const std::string& capability,
                                              const std::string& verb) {
  return context.host.call_verb(CallTarget(std::in_place_type<std::string>, capability), verb, CallArguments{});
}

[[gnu::noinline]] ValueResult field_of(EvalContext& context, Value target, const Expr::Field& field) {
  ValueResult read = read_field(target, field.name);
  if (read.ok()) return read;
  // A handle's field that the handle does not carry is a verb of its agent.
  if (target.is_handle()) {
    return context.host.call_verb(CallTarget(std::in_place_type<Handle>, std::move(target.as_handle())),
                                  field.name, CallArguments{});
  }
  return fail_with_span(std::move(read), field.span);
}

ValueResult eval_field(EvalContext& context, const Expr::Field& field, Scopes& scopes) {
  // A capability's bare name with a field and no parentheses is a verb call without arguments, unless a variable
  // or input of that name hides the capability.
  if (const auto* name = std::get_if<Expr::Name>(&field.target->node)) {
    const Value* bound = scopes.lookup(WrittenName{name->name});
    if (bound == nullptr && scopes.is_capability(name->name)) return capability_verb(context, name->name, field.name);
    // A field of a variable's record is read in place: copying the whole record only to keep one field of
    // it made every `r.count` cost the size of `r`.
    if (bound != nullptr && bound->is_record()) {
      ValueResult read = read_field(*bound, field.name);
      if (read.ok()) return read;
      return fail_with_span(std::move(read), field.span);
    }
  }
  ValueResult target = eval_expr(context, *field.target, scopes);
  if (!target.ok()) return target;
  return field_of(context, std::move(*target), field);
}

[[gnu::noinline]] ValueResult element_of(const Value& target, const Value& key, const Expr::Index& index) {
  ValueResult result = index_value(target, key);
  if (!result.ok()) return fail_with_span(std::move(result), span_of(*index.index));
  return result;
}

ValueResult eval_index(EvalContext& context, const Expr::Index& index, Scopes& scopes) {
  // An element of a variable's list or record is read in place, as a field is: `xs[1]` need not copy `xs`.
  if (const auto* name = std::get_if<Expr::Name>(&index.target->node)) {
    if (const Value* bound = scopes.lookup(WrittenName{name->name})) {
      ValueResult key = eval_expr(context, *index.index, scopes);
      if (!key.ok()) return key;
      // Looked up again: evaluating the key may push frames, and the first pointer is not kept across that.
      bound = scopes.lookup(WrittenName{name->name});
      if (bound != nullptr) return element_of(*bound, *key, index);
    }
  }
  ValueResult target = eval_expr(context, *index.target, scopes);
  if (!target.ok()) return target;
  ValueResult key = eval_expr(context, *index.index, scopes);
  if (!key.ok()) return key;
  return element_of(*target, *key, index);
}

[[gnu::noinline]] ValueResult label_test(const Value& target, const Expr::Is& is) {
  if (const Choice* choice = target.if_choice()) return Value::boolean(choice->label == is.label);
  if (const Level* level = target.if_level()) {
    if (level->names.empty()) {
      return err(type_error("`is " + is.label + "` needs a level whose levels were named", is.span));
    }
    return Value::boolean(level->level < level->names.size() && level->names[level->level] == is.label);
  }
  return err(type_error(
      "`is " + is.label + "` needs a choice or a named level, got " + std::string(target.type_word()), is.span));
}

ValueResult eval_is(EvalContext& context, const Expr::Is& is, Scopes& scopes) {
  ValueResult target = eval_expr(context, *is.target, scopes);
  if (!target.ok()) return target;
  return label_test(*target, is);
}

// One element of a comprehension, in the frame the caller pushed for it. Appends to `out` when the test passes.
Result<Unit, RuntimeError> comprehension_element(EvalContext& context, const Expr::Comprehension& comprehension,
                                                 const Value& element, Scopes& scopes, ListBuilder& out) {
  auto bound = unpack_written(scopes, comprehension.names, element);
  if (!bound.ok()) return err(with_span_if_missing(std::move(bound).error(), comprehension.span));
  if (comprehension.test) {
    ValueResult test = eval_expr(context, **comprehension.test, scopes);
    if (!test.ok()) return err(std::move(test).error());
    if (!test->truthy()) return Unit{};
  }
  ValueResult value = eval_expr(context, *comprehension.expr, scopes);
  if (!value.ok()) return err(std::move(value).error());
  auto pushed = out.push(std::move(*value));
  if (!pushed.ok()) return err(bound_error(std::move(pushed).error(), comprehension.span));
  return Unit{};
}

[[gnu::noinline]] RuntimeError not_iterable(const Value& value, const syntax::Span& span) {
  RuntimeError error = expected_type_error("a list to iterate", value);
  error.span = span;
  return error;
}

ValueResult eval_comprehension(EvalContext& context, const Expr::Comprehension& comprehension, Scopes& scopes) {
  ValueResult iterable = eval_expr(context, *comprehension.iterable, scopes);
  if (!iterable.ok()) return iterable;
  if (!iterable->is_list()) return err(not_iterable(*iterable, comprehension.span));
  ListBuilder out;
  for (const Value& element : std::as_const(*iterable).as_list()) {
    scopes.push_frame();
    auto step = comprehension_element(context, comprehension, element, scopes, out);
    scopes.pop_frame();
    if (!step.ok()) return err(std::move(step).error());
  }
  return std::move(out).build();
}

ValueResult eval_focus(EvalContext& context, const Expr::Focus& focus, Scopes& scopes) {
  Value text = TRY(eval_expr(context, *focus.text, scopes));
  Value on = TRY(eval_expr(context, *focus.on, scopes));
  return context.host.focus(text, on.to_text(), focus.max);
}

// Clamped below at 0 and truncated toward zero; NaN gives 0 and a count past the range the largest count.
uint64_t trail_count(double count) {
  if (!(count > 0)) return 0;
  if (count >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(count);
}

ValueResult eval_log(EvalContext& context, const Expr::Log& log, Scopes& scopes) {
  Value value = TRY(eval_expr(context, *log.value, scopes));
  JudgmentLogEntry entry;
  for (const ir::RecordField& field : log.fields) {
    entry.fields.insert_or_assign(field.name, TRY(eval_expr(context, field.value, scopes)));
  }
  entry.message = value.to_text();
  entry.source = log.span;
  entry.level = log.level;
  TRY(context.host.log(std::move(entry)));
  return value;
}

[[gnu::noinline]] RuntimeError too_deep(const Expr& expr) {
  return type_error("expression nested too deeply to evaluate", span_of(expr));
}

ValueResult dispatch(EvalContext& context, const Expr& expr, Scopes& scopes) {
  return std::visit(
      [&](const auto& node) -> ValueResult {
        using N = std::decay_t<decltype(node)>;
        if constexpr (std::is_same_v<N, Expr::Number>) {
          return Value::number(node.value);
        } else if constexpr (std::is_same_v<N, Expr::Text>) {
          return eval_text(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Bool>) {
          return Value::boolean(node.value);
        } else if constexpr (std::is_same_v<N, Expr::None>) {
          return Value::none();
        } else if constexpr (std::is_same_v<N, Expr::Name>) {
          return eval_name(node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::List>) {
          return eval_list(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Record>) {
          return eval_record(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Field>) {
          return eval_field(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Index>) {
          return eval_index(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Call>) {
          return eval_call(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Unary>) {
          return eval_unary(context, node.op, *node.operand, node.span, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Binary>) {
          return eval_binary(context, node.op, *node.left, *node.right, node.span, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Is>) {
          return eval_is(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Comprehension>) {
          return eval_comprehension(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Focus>) {
          return eval_focus(context, node, scopes);
        } else if constexpr (std::is_same_v<N, Expr::Trail>) {
          return context.host.trail(trail_count(node.count));
        } else if constexpr (std::is_same_v<N, Expr::Judge>) {
          return context.host.judge(*node.judge, scopes);
        } else {
          static_assert(std::is_same_v<N, Expr::Log>);
          return eval_log(context, node, scopes);
        }
      },
      expr.node);
}

}  // namespace

ValueResult eval_expr(EvalContext& context, const ir::Expr& expr, Scopes& scopes) {
  if (context.depth >= kMaxEvalDepth) return err(too_deep(expr));
  ++context.depth;
  ValueResult result = dispatch(context, expr, scopes);
  --context.depth;
  return result;
}

ValueResult read_field(const Value& value, std::string_view name) {
  switch (value.kind()) {
    case ValueKind::Record: {
      const Record& record = value.as_record();
      auto it = record.find(name);
      if (it == record.end()) return err(no_field("record", name));
      return it->second;
    }
    case ValueKind::Choice: {
      const Choice& choice = value.as_choice();
      if (name == "label") return Value::text(choice.label);
      if (name == "confidence") return Value::number(choice.confidence);
      if (name == "index") return choice.index ? Value::number(*choice.index) : Value::none();
      if (name == "item") return choice.item ? *choice.item : Value::none();
      if (name == "probabilities") return Value::record(probability_record(choice.probabilities));
      return err(no_field("choice", name));
    }
    case ValueKind::Level: {
      const Level& level = value.as_level();
      if (name == "level") return Value::number(level.level);
      if (name == "score") return Value::number(level.score);
      if (name == "normalized") return Value::number(level.normalized);
      if (name == "confidence") return Value::number(level.confidence);
      if (name == "probabilities") return Value::record(probability_record(level.probabilities));
      return err(no_field("level", name));
    }
    case ValueKind::Handle: {
      const Handle& handle = value.as_handle();
      if (name == "capability") return Value::text(handle.capability);
      if (name == "id") return Value::text(handle.id);
      auto it = handle.fields.find(name);
      if (it == handle.fields.end()) return err(no_field("handle", name));
      return from_plain_json(it->second);
    }
    case ValueKind::PauseResult: {
      const PauseResult& result = value.as_pause_result();
      if (name == "answer") return Value::text(result.answer);
      if (name == "text") return result.text ? Value::text(*result.text) : Value::none();
      return err(no_field("pause_result", name));
    }
    default:
      return err(type_error("cannot read field `" + std::string(name) + "` of " + std::string(value.type_word())));
  }
}

ValueResult index_value(const Value& target, const Value& index) {
  if (const List* items = target.if_list()) {
    std::optional<double> i = index.if_numeric();
    if (!i) return err(expected_type_error("a number to index a list", index));
    // NaN fails `>= 0`, and the infinities fail the whole-number test (their fractional part is NaN).
    if (!(*i >= 0) || !std::isfinite(*i) || std::trunc(*i) != *i) {
      return err(type_error("list index must be a whole non-negative number, got " + number_text(*i)));
    }
    if (*i >= static_cast<double>(items->size())) {
      return err(type_error("index " + number_text(*i) + " is out of range for a list of " +
                            std::to_string(items->size())));
    }
    return (*items)[static_cast<size_t>(*i)];
  }
  if (const Record* record = target.if_record()) {
    const std::string* key = index.if_text();
    if (key == nullptr) return err(expected_type_error("a text to index a record", index));
    auto it = record->find(*key);
    if (it == record->end()) return err(no_field("record", *key));
    return it->second;
  }
  return err(expected_type_error("a list or record to index", target));
}

Result<std::vector<NamedText>, RuntimeError> eval_exprs_to_texts(EvalContext& context,
                                                                 const std::vector<ir::RateLevel>& levels,
                                                                 Scopes& scopes) {
  std::vector<NamedText> out;
  out.reserve(levels.size());
  for (const ir::RateLevel& level : levels) {
    Value value = TRY(eval_expr(context, level.situation, scopes));
    out.push_back(NamedText{level.name, value.to_text()});
  }
  return out;
}

RuntimeError with_span_if_missing(RuntimeError error, const syntax::Span& span) {
  if (error.span.is_zero()) error.span = span;
  return error;
}

}  // namespace dravelin::runtime
