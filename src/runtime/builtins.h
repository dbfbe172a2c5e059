// The built-in functions of the language.
#pragma once

#include <string_view>

#include "runtime/eval.h"

namespace dravelin::runtime {

// True for exactly the names of the built-in functions.
bool is_builtin(std::string_view name);

ValueResult call_builtin(EvalContext& context, std::string_view name, const CallArguments& args);

}  // namespace dravelin::runtime
