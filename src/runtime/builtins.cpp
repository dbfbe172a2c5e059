#include "runtime/builtins.h"

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "runtime/builtins_internal.h"

namespace dravelin::runtime {
namespace builtins {
namespace {

struct Entry {
  std::string_view name;
  BuiltinFn fn;
};

constexpr std::array<Entry, 23> kBuiltins = {{
    {"len", builtin_len},       {"max", builtin_max},       {"min", builtin_min},
    {"sum", builtin_sum},       {"top", builtin_top},       {"now", builtin_now},
    {"zip", builtin_zip},       {"join", builtin_join},     {"head", builtin_head},
    {"tail", builtin_tail},     {"hash", builtin_hash},     {"keys", builtin_keys},
    {"text", builtin_text},     {"bool", builtin_bool},     {"count", builtin_count},
    {"split", builtin_split},   {"lines", builtin_lines},   {"chunk", builtin_chunk},
    {"items", builtin_items},   {"tokens", builtin_tokens}, {"random", builtin_random},
    {"values", builtin_values}, {"number", builtin_number},
}};

// Asked on every call, of built-ins and defs alike: the length and first byte rule out nearly every entry before
// a comparison of the bytes.
const Entry* find(std::string_view name) {
  if (name.empty()) return nullptr;
  for (const Entry& entry : kBuiltins) {
    if (entry.name.size() == name.size() && entry.name[0] == name[0] && entry.name == name) return &entry;
  }
  return nullptr;
}

std::string backticked(std::string_view name) {
  std::string out = "`";
  out += name;
  out += '`';
  return out;
}

}  // namespace

RuntimeError builtin_error(std::string message) {
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message));
}

Result<const Value*, RuntimeError> arg(const CallArguments& args, std::string_view function, size_t position,
                                       std::string_view parameter) {
  if (args.positional.size() > position) return &args.positional[position];
  auto named = args.named.find(parameter);
  if (named != args.named.end()) return &named->second;
  return err(builtin_error(backticked(function) + " needs an argument " + backticked(parameter)));
}

Result<const List*, RuntimeError> list_for(std::string_view function, const Value& value) {
  if (const List* list = value.if_list()) return list;
  return err(expected_type_error("a list for " + backticked(function), value));
}

Result<const Record*, RuntimeError> record_for(std::string_view function, const Value& value) {
  if (const Record* record = value.if_record()) return record;
  return err(expected_type_error("a record for " + backticked(function), value));
}

Result<const std::string*, RuntimeError> text_for(std::string_view function, const Value& value) {
  if (const std::string* text = value.if_text()) return text;
  return err(expected_type_error("a text for " + backticked(function), value));
}

Result<double, RuntimeError> number_for(std::string_view label, const Value& value) {
  if (auto number = value.if_numeric()) return *number;
  return err(expected_type_error("a number for " + std::string(label), value));
}

Result<std::vector<double>, RuntimeError> numbers_for(std::string_view function, const Value& value) {
  const List* list = TRY(list_for(function, value));
  std::vector<double> numbers;
  numbers.reserve(list->size());
  for (const Value& item : *list) {
    auto number = item.if_numeric();
    if (!number) return err(expected_type_error("a number for " + backticked(function), item));
    numbers.push_back(*number);
  }
  return numbers;
}

size_t whole_count(double value) {
  if (!(value > 0)) return 0;  // negative, zero and NaN
  // Anything at or past the largest size is as good as infinite for counting characters or items.
  constexpr double kLimit = static_cast<double>(std::numeric_limits<size_t>::max());
  if (value >= kLimit) return std::numeric_limits<size_t>::max();
  return static_cast<size_t>(std::trunc(value));
}

size_t next_char(std::string_view text, size_t pos) {
  ++pos;
  while (pos < text.size() && is_continuation_byte(text[pos])) ++pos;
  return pos;
}

size_t char_count(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); pos = next_char(text, pos)) ++count;
  return count;
}

std::vector<size_t> char_starts(std::string_view text) {
  std::vector<size_t> starts;
  starts.reserve(text.size() + 1);
  for (size_t pos = 0; pos < text.size(); pos = next_char(text, pos)) starts.push_back(pos);
  starts.push_back(text.size());
  return starts;
}

}  // namespace builtins

bool is_builtin(std::string_view name) { return builtins::find(name) != nullptr; }

ValueResult call_builtin(EvalContext& context, std::string_view name, const CallArguments& args) {
  const builtins::Entry* entry = builtins::find(name);
  if (entry == nullptr) {
    return err(builtins::builtin_error(std::string("`").append(name) + "` is not a built-in function"));
  }
  return entry->fn(context, args);
}

}  // namespace dravelin::runtime
