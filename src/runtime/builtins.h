// The built-in functions every program can call by name without declaring them.
//
// There are 23: len, max, min, sum, top, now, zip, join, head, tail, hash, keys, text, bool, count, split, lines,
// chunk, items, tokens, random, values, number. A built-in name always wins over a def or variable of the same
// name, so the evaluator asks `is_builtin` before it resolves a callee any other way.
//
// All of them are pure functions of their arguments except `now` and `random`, which ask the context's effect
// host, and `tokens` and `chunk`, which measure with the context's tokenizer.
#pragma once

#include <string_view>

#include "runtime/eval.h"

namespace dravelin::runtime {

// True for exactly the 23 built-in names.
bool is_builtin(std::string_view name);

// Calls the built-in `name` with arguments that the caller has already evaluated.
//
// A parameter is read from the positional argument at its position when there is one, else from the named
// argument of its name, else the call fails with "`<function>` needs an argument `<parameter>`". Arguments that
// a built-in does not read are ignored.
//
// Every failure is a non-retryable `type_error` without a span, except a failure of the host's `now` or
// `random`, which is passed on as the host returned it; the caller gives a spanless error the call's span.
// A name that is not a built-in is refused with a `type_error` rather than trusted.
ValueResult call_builtin(EvalContext& context, std::string_view name, const CallArguments& args);

}  // namespace dravelin::runtime
