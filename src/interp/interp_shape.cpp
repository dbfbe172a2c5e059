// Holding values under token caps: the capped fields of `shape` statements and machine observations, cut from
// their head or tail or reduced with `focus`, and `focus` itself, which asks the model service which chunks of a
// text matter to a topic.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "interp/interpreter_internal.h"
#include "json/writer.h"
#include "runtime/builtins.h"
#include "runtime/value_json.h"

namespace dravelin::interp {

using record::Event;
using runtime::RuntimeErrorCode;

namespace {

constexpr int kFocusPasses = 64;
constexpr double kFocusChunkTokens = 1500;
constexpr double kFocusKeepAbove = 0.6;  // a chunk more likely relevant than this is kept
constexpr size_t kFocusFallbackChunks = 3;

// Byte offsets at which the text's Unicode scalar values start, then the text's length; empty for a text of
// ASCII only, whose offsets are the positions themselves.
std::vector<size_t> scalar_starts(std::string_view text) {
  std::vector<size_t> starts;
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
  if (ascii) return starts;
  starts.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  starts.push_back(text.size());
  return starts;
}

// The compact plain JSON of a value, as it stands inside the text of a list or record.
void append_json(std::string& out, const Value& value) { json::write_value(out, runtime::to_plain_json(value)); }

// A list's elements from its head (or, for the tail, its last elements in their order) while the text of the
// list made so far stays within the cap. The text is grown as a string: the list's text is its elements' JSON
// between brackets.
Value cut_list(const runtime::List& items, uint64_t cap, CutSide side, const tokens::Tokenizer& tokenizer) {
  std::string body;  // the kept elements' JSON, separated by commas
  size_t kept = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    const Value& item = items[side == CutSide::Head ? i : items.size() - 1 - i];
    std::string element;
    append_json(element, item);
    std::string grown = side == CutSide::Head ? body + (kept ? "," : "") + element
                                              : element + (kept ? "," : "") + body;
    if (tokenizer.count("[" + grown + "]") > cap) break;
    body = std::move(grown);
    ++kept;
  }
  if (side == CutSide::Head) return Value::list(runtime::List(items.begin(), items.begin() + kept));
  return Value::list(runtime::List(items.end() - kept, items.end()));
}

// The same for a record's fields in name order.
Value cut_record(const runtime::Record& fields, uint64_t cap, CutSide side, const tokens::Tokenizer& tokenizer) {
  std::vector<const runtime::Record::value_type*> order;
  order.reserve(fields.size());
  for (const auto& field : fields) order.push_back(&field);
  if (side == CutSide::Tail) std::reverse(order.begin(), order.end());

  std::string body;
  runtime::Record kept;
  for (const auto* field : order) {
    std::string member;
    json::append_escaped(member, field->first);
    member += ':';
    append_json(member, field->second);
    std::string grown = side == CutSide::Head ? body + (kept.empty() ? "" : ",") + member
                                              : member + (kept.empty() ? "" : ",") + body;
    if (tokenizer.count("{" + grown + "}") > cap) break;
    body = std::move(grown);
    kept.insert_or_assign(field->first, field->second);
  }
  return Value::record(std::move(kept));
}

std::string_view side_name(CutSide side) { return side == CutSide::Head ? "head" : "tail"; }

}  // namespace

std::string cut_to_tokens(std::string_view text, uint64_t cap, CutSide side, const tokens::Tokenizer& tokenizer) {
  if (tokenizer.count(text) <= cap) return std::string(text);
  const std::vector<size_t> starts = scalar_starts(text);
  const size_t length = starts.empty() ? text.size() : starts.size() - 1;
  const auto offset = [&](size_t k) { return starts.empty() ? k : starts[k]; };
  const auto candidate = [&](size_t k) {
    return side == CutSide::Head ? text.substr(0, offset(k)) : text.substr(offset(length - k));
  };
  // The longest run of whole characters that fits, found by halving the range of lengths.
  size_t lo = 0;
  size_t hi = length;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo + 1) / 2;
    if (tokenizer.count(candidate(mid)) <= cap) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return std::string(candidate(lo));
}

Step<Value> Interpreter::hold_to_cap(const ir::ShapeField& field, Value value, bool strict, Scopes& scopes) {
  const double max = *field.max;
  const uint64_t tokens = run_.tokenizer->count(value.to_text());
  if (static_cast<double>(tokens) <= max) return value;

  if (const auto* focus = std::get_if<ir::ShapePolicy::Focus>(&field.policy.node)) {
    const Value topic = TRY(eval(focus->on, scopes));
    auto focused = focus_text(value.to_text(), topic.to_text(), max);
    if (!focused.ok()) return err(interrupt_of(std::move(focused).error()));
    return Value::text(std::move(*focused));
  }

  if (strict) {
    return err(fail(runtime::make_runtime_error(
        RuntimeErrorCode::StateTooLarge,
        "`shape strict` field `" + field.name + "` is " + std::to_string(tokens) + " tokens, over its cap of " +
            runtime::number_text(max),
        false, field.span)));
  }

  // A cap is whole tokens: toward zero, and nothing below 0.
  const uint64_t cap = max >= 1 ? static_cast<uint64_t>(std::min(max, 1.8e19)) : 0;
  const CutSide side = std::holds_alternative<ir::ShapePolicy::Tail>(field.policy.node) ? CutSide::Tail : CutSide::Head;
  const tokens::Tokenizer& tokenizer = *run_.tokenizer;
  Value cut;
  if (const runtime::List* items = std::as_const(value).if_list()) {
    cut = cut_list(*items, cap, side, tokenizer);
  } else if (const runtime::Record* fields = std::as_const(value).if_record()) {
    cut = cut_record(*fields, cap, side, tokenizer);
  } else if (const std::string* text = value.if_text()) {
    cut = Value::text(cut_to_tokens(*text, cap, side, tokenizer));
  } else {
    cut = Value::text(cut_to_tokens(value.to_text(), cap, side, tokenizer));
  }

  Event::Warning warning;
  warning.code = "truncated";
  warning.message = "shape field `" + field.name + "` was cut from " + std::to_string(tokens) +
                    " tokens to its cap of " + runtime::number_text(max) + " (" + std::string(side_name(side)) + ")";
  warning.source = field.span;
  if (auto recorded = journal::expect(run_, Event{std::move(warning)}, field.span); !recorded.ok()) {
    return err(fail(std::move(recorded).error()));
  }
  return cut;
}

ValueResult Interpreter::focus(const Value& text, std::string_view topic, double max) {
  return Value::text(TRY(focus_text(text.to_text(), topic, max)));
}

Result<std::string, RuntimeError> Interpreter::focus_text(std::string text, std::string_view topic, double max) {
  const tokens::Tokenizer& tokenizer = *run_.tokenizer;
  if (static_cast<double>(tokenizer.count(text)) <= max) return text;

  // The question asked of every pass: is each chunk relevant to the topic.
  ir::Judge judge;
  judge.each = true;
  judge.subject.root = "chunks";
  judge.subject.state_path = "chunks";
  judge.subject.span = current_span_;
  ir::Expr::Text condition;
  condition.parts.push_back(ir::TextPart{ir::TextPart::Literal{"contains information relevant to: " + std::string(topic)}});
  condition.span = current_span_;
  judge.verb.node = ir::JudgeVerb::Feels{ir::Expr{std::move(condition)}};
  judge.span = current_span_;
  const std::vector<zem::NamedJudge> judges{zem::NamedJudge{"keep", &judge}};

  int passes = 0;
  while (passes < kFocusPasses) {
    ++passes;
    runtime::EvalContext ctx = context();
    runtime::CallArguments chunk_args;
    chunk_args.positional = {Value::text(text), Value::number(kFocusChunkTokens)};
    Value chunked = TRY(runtime::call_builtin(ctx, "chunk", chunk_args));
    runtime::List chunks = std::move(*chunked.if_list());

    Scopes scopes;
    scopes.define("chunks", Value::list(chunks));
    runtime::Record answers = TRY(ask_judgments(scopes, judges, std::nullopt));

    std::vector<double> probabilities;
    if (auto keep = answers.find("keep"); keep != answers.end()) {
      if (const runtime::List* values = std::as_const(keep->second).if_list()) {
        for (const Value& v : *values) {
          if (auto p = v.if_numeric()) probabilities.push_back(*p);
        }
      }
    }
    const size_t paired = std::min(probabilities.size(), chunks.size());
    std::vector<size_t> retained;
    for (size_t i = 0; i < paired; ++i) {
      if (probabilities[i] > kFocusKeepAbove) retained.push_back(i);
    }
    if (retained.empty()) {
      std::vector<size_t> order(paired);
      for (size_t i = 0; i < paired; ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(),
                       [&](size_t a, size_t b) { return probabilities[a] > probabilities[b]; });
      order.resize(std::min(order.size(), kFocusFallbackChunks));
      retained = std::move(order);
    }

    std::string reduced;
    for (size_t n = 0; n < retained.size(); ++n) {
      if (n > 0) reduced += '\n';
      reduced += chunks[retained[n]].to_text();
    }
    // Each pass's result is tested, the last one's too. A pass that keeps every chunk cannot make the text
    // shorter (at most it reorders it), and asking again would only pay for the same answer: it ends the focus.
    text = std::move(reduced);
    if (static_cast<double>(tokenizer.count(text)) <= max) return text;
    if (retained.size() == chunks.size()) break;
  }
  return err(runtime::make_runtime_error(RuntimeErrorCode::RecursionLimit,
                                         "`focus` could not reduce the text to " + runtime::number_text(max) +
                                             " tokens in " + std::to_string(passes) + " passes",
                                         false, current_span_));
}

}  // namespace dravelin::interp
