// Built-ins over lists and records: len, max, min, sum, top, zip, keys, count, chunk, items, values.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/builtins_internal.h"

namespace dravelin::runtime::builtins {
namespace {

// The running extreme of `max` and `min`: a NaN on either side loses to the other side, so NaN items are
// passed over unless every item is NaN.
template <class Better>
ValueResult extreme(std::string_view function, const CallArguments& args, Better better) {
  const std::vector<double> xs = TRY(numbers_for(function, *TRY(arg(args, function, 0, "xs"))));
  if (xs.empty()) return Value::none();
  double best = xs.front();
  for (size_t i = 1; i < xs.size(); ++i) {
    const double x = xs[i];
    if (std::isnan(x)) continue;
    if (std::isnan(best) || better(x, best)) best = x;
  }
  return Value::number(best);
}

// Segments of a text for `chunk`: each line with its line feed, then the rest after the last line feed.
std::vector<std::string_view> line_segments(std::string_view text) {
  std::vector<std::string_view> segments;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t feed = text.find('\n', begin);
    const size_t end = feed == std::string_view::npos ? text.size() : feed + 1;
    segments.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return segments;
}

// Cuts a segment that is too long on its own into the longest runs of characters that fit, found by bisection
// on the character count so that each piece costs a logarithmic number of measurements. A piece is at least one
// character even when that character alone is over the limit.
Result<Unit, RuntimeError> cut_by_characters(const Tokenizer& tokenizer, std::string_view segment, uint64_t limit,
                                             ListBuilder& out) {
  const std::vector<size_t> starts = char_starts(segment);
  const size_t total = starts.size() - 1;
  size_t first = 0;
  while (first < total) {
    size_t lo = 1;
    size_t hi = total - first;
    while (lo < hi) {
      const size_t candidate = lo + (hi - lo + 1) / 2;
      const std::string_view piece = segment.substr(starts[first], starts[first + candidate] - starts[first]);
      if (tokenizer.count(piece) <= limit) {
        lo = candidate;
      } else {
        hi = candidate - 1;
      }
    }
    TRY(out.push(Value::text(std::string(segment.substr(starts[first], starts[first + lo] - starts[first])))));
    first += lo;
  }
  return Unit{};
}

uint64_t token_limit(double n) {
  constexpr double kLimit = static_cast<double>(std::numeric_limits<uint64_t>::max());
  if (n >= kLimit) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(std::trunc(n));
}

}  // namespace

ValueResult builtin_len(EvalContext&, const CallArguments& args) {
  const Value* x = TRY(arg(args, "len", 0, "x"));
  if (const std::string* text = x->if_text()) return Value::number(static_cast<double>(char_count(*text)));
  if (const List* list = x->if_list()) return Value::number(static_cast<double>(list->size()));
  return err(expected_type_error("a list or text for `len`", *x));
}

ValueResult builtin_max(EvalContext&, const CallArguments& args) {
  return extreme("max", args, [](double x, double best) { return x > best; });
}

ValueResult builtin_min(EvalContext&, const CallArguments& args) {
  return extreme("min", args, [](double x, double best) { return x < best; });
}

ValueResult builtin_sum(EvalContext&, const CallArguments& args) {
  const std::vector<double> xs = TRY(numbers_for("sum", *TRY(arg(args, "sum", 0, "xs"))));
  // Starting from negative zero keeps the sum of negative zeros negative; the empty sum shows as "-0".
  double total = -0.0;
  for (double x : xs) total += x;
  return Value::number(total);
}

ValueResult builtin_top(EvalContext&, const CallArguments& args) {
  const List* items = TRY(list_for("top", *TRY(arg(args, "top", 0, "items"))));
  const std::vector<double> scores = TRY(numbers_for("top", *TRY(arg(args, "top", 1, "by"))));
  const size_t n = whole_count(TRY(number_for("`top(..., n k)`", *TRY(arg(args, "top", 2, "n")))));
  if (items->size() != scores.size()) {
    return err(builtin_error("`top` pairs " + std::to_string(items->size()) + " items with " +
                             std::to_string(scores.size()) + " probs"));
  }
  // Positions, not values, are sorted, and only the kept items are copied. A NaN score ranks below every other
  // score, so the order stays a strict weak ordering and NaN items come last in their input order.
  std::vector<size_t> positions(items->size());
  std::iota(positions.begin(), positions.end(), size_t{0});
  std::stable_sort(positions.begin(), positions.end(), [&](size_t a, size_t b) {
    const double sa = scores[a];
    const double sb = scores[b];
    if (std::isnan(sa)) return false;
    return std::isnan(sb) || sa > sb;
  });
  positions.resize(std::min(n, positions.size()));
  List kept;
  kept.reserve(positions.size());
  for (size_t position : positions) kept.push_back((*items)[position]);
  return Value::list(std::move(kept));
}

ValueResult builtin_zip(EvalContext&, const CallArguments& args) {
  const List* xs = TRY(list_for("zip", *TRY(arg(args, "zip", 0, "xs"))));
  const List* ys = TRY(list_for("zip", *TRY(arg(args, "zip", 1, "ys"))));
  const size_t length = std::min(xs->size(), ys->size());
  ListBuilder pairs(length);
  for (size_t i = 0; i < length; ++i) TRY(pairs.push(Value::list(List{(*xs)[i], (*ys)[i]})));
  return std::move(pairs).build();
}

ValueResult builtin_keys(EvalContext&, const CallArguments& args) {
  const Record* record = TRY(record_for("keys", *TRY(arg(args, "keys", 0, "r"))));
  List keys;
  keys.reserve(record->size());
  for (const auto& [name, value] : *record) keys.push_back(Value::text(name));
  return Value::list(std::move(keys));
}

ValueResult builtin_count(EvalContext&, const CallArguments& args) {
  const std::vector<double> probs = TRY(numbers_for("count", *TRY(arg(args, "count", 0, "probs"))));
  // The bounds are named only: a second positional argument is not a bound.
  const auto above = args.named.find("above");
  const auto below = args.named.find("below");
  const bool has_above = above != args.named.end();
  const bool has_below = below != args.named.end();
  if (has_above == has_below) return err(builtin_error("`count` needs exactly one of `above` or `below`"));
  size_t counted = 0;
  if (has_above) {
    const double bound = TRY(number_for("`count(..., above p)`", above->second));
    for (double p : probs) counted += p > bound;
  } else {
    const double bound = TRY(number_for("`count(..., below p)`", below->second));
    for (double p : probs) counted += p < bound;
  }
  return Value::number(static_cast<double>(counted));
}

ValueResult builtin_chunk(EvalContext& context, const CallArguments& args) {
  const std::string* text = TRY(text_for("chunk", *TRY(arg(args, "chunk", 0, "text"))));
  const double n = TRY(number_for("`chunk(..., tokens n)`", *TRY(arg(args, "chunk", 1, "tokens"))));
  if (!(n >= 1)) return err(builtin_error("`chunk` needs a token count of at least one"));
  const uint64_t limit = token_limit(n);
  const Tokenizer& tokenizer = context.tokenizer;

  ListBuilder chunks;
  std::string current;
  const auto flush = [&]() -> Result<Unit, RuntimeError> {
    if (!current.empty()) TRY(chunks.push(Value::text(std::move(current))));
    current.clear();
    return Unit{};
  };
  for (std::string_view segment : line_segments(*text)) {
    if (tokenizer.count(segment) > limit) {
      TRY(flush());
      TRY(cut_by_characters(tokenizer, segment, limit, chunks));
      continue;
    }
    // Measured in place: the segment is taken back off when the chunk would grow past the limit.
    const size_t kept = current.size();
    current += segment;
    if (tokenizer.count(current) > limit) {
      current.resize(kept);
      TRY(flush());
      current.assign(segment);
    }
  }
  TRY(flush());
  return std::move(chunks).build();
}

ValueResult builtin_items(EvalContext&, const CallArguments& args) {
  const Record* record = TRY(record_for("items", *TRY(arg(args, "items", 0, "r"))));
  ListBuilder items(record->size());
  for (const auto& [name, value] : *record) TRY(items.push(Value::list(List{Value::text(name), value})));
  return std::move(items).build();
}

ValueResult builtin_values(EvalContext&, const CallArguments& args) {
  const Record* record = TRY(record_for("values", *TRY(arg(args, "values", 0, "r"))));
  List values;
  values.reserve(record->size());
  for (const auto& [name, value] : *record) values.push_back(value);
  return Value::list(std::move(values));
}

}  // namespace dravelin::runtime::builtins
