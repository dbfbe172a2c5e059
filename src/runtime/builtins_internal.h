// Shared pieces of the built-in functions: parameter lookup, the argument checks every built-in words the same
// way, character stepping over UTF-8, and the per-theme entry points that builtins.cpp dispatches to.
// Only the builtins*.cpp files include this.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/builtins.h"
#include "runtime/value_bounds.h"

namespace dravelin::runtime::builtins {

// The value of the parameter `parameter` at `position`: the positional argument there, else the named one,
// else "`<function>` needs an argument `<parameter>`".
Result<const Value*, RuntimeError> arg(const CallArguments& args, std::string_view function, size_t position,
                                       std::string_view parameter);

// "expected a list for `<function>`, got ..." and its siblings for records and texts.
Result<const List*, RuntimeError> list_for(std::string_view function, const Value& value);
Result<const Record*, RuntimeError> record_for(std::string_view function, const Value& value);
Result<const std::string*, RuntimeError> text_for(std::string_view function, const Value& value);
// A number or a prob; otherwise "expected a number for <label>, got ...". The label is printed as given.
Result<double, RuntimeError> number_for(std::string_view label, const Value& value);
// A list whose items are all numbers or probs, checked in order; the first bad item fails with
// "expected a number for `<function>`, got ...".
Result<std::vector<double>, RuntimeError> numbers_for(std::string_view function, const Value& value);

// A whole-number parameter: clamped below at 0, truncated toward zero, NaN as 0, saturating at the top.
size_t whole_count(double value);

RuntimeError builtin_error(std::string message);

// Character stepping. A character is a Unicode scalar value; over bytes that are not UTF-8 a character is a
// byte that does not continue a sequence together with the continuation bytes after it, so every byte belongs
// to exactly one character and a cut never splits a sequence.
inline bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
// The byte offset just past the character that starts at `pos` (pos < text.size()).
size_t next_char(std::string_view text, size_t pos);
size_t char_count(std::string_view text);
// The byte offsets at which the characters of `text` start, followed by text.size().
std::vector<size_t> char_starts(std::string_view text);

using BuiltinFn = ValueResult (*)(EvalContext& context, const CallArguments& args);

// builtins_text.cpp
ValueResult builtin_join(EvalContext& context, const CallArguments& args);
ValueResult builtin_head(EvalContext& context, const CallArguments& args);
ValueResult builtin_tail(EvalContext& context, const CallArguments& args);
ValueResult builtin_text(EvalContext& context, const CallArguments& args);
ValueResult builtin_split(EvalContext& context, const CallArguments& args);
ValueResult builtin_lines(EvalContext& context, const CallArguments& args);
ValueResult builtin_number(EvalContext& context, const CallArguments& args);

// builtins_lists.cpp
ValueResult builtin_len(EvalContext& context, const CallArguments& args);
ValueResult builtin_max(EvalContext& context, const CallArguments& args);
ValueResult builtin_min(EvalContext& context, const CallArguments& args);
ValueResult builtin_sum(EvalContext& context, const CallArguments& args);
ValueResult builtin_top(EvalContext& context, const CallArguments& args);
ValueResult builtin_zip(EvalContext& context, const CallArguments& args);
ValueResult builtin_keys(EvalContext& context, const CallArguments& args);
ValueResult builtin_count(EvalContext& context, const CallArguments& args);
ValueResult builtin_chunk(EvalContext& context, const CallArguments& args);
ValueResult builtin_items(EvalContext& context, const CallArguments& args);
ValueResult builtin_values(EvalContext& context, const CallArguments& args);

// builtins_misc.cpp
ValueResult builtin_now(EvalContext& context, const CallArguments& args);
ValueResult builtin_hash(EvalContext& context, const CallArguments& args);
ValueResult builtin_bool(EvalContext& context, const CallArguments& args);
ValueResult builtin_tokens(EvalContext& context, const CallArguments& args);
ValueResult builtin_random(EvalContext& context, const CallArguments& args);

}  // namespace dravelin::runtime::builtins
