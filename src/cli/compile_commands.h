// `dravelin compile` and `dravelin check`.
#pragma once

#include "cli/command.h"

namespace dravelin::cli {

// Each returns the process exit status.
int run_compile(const Compile& command);
int run_check(const Check& command);

}  // namespace dravelin::cli
