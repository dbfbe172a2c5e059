// The checker: every rule of the language over one linked module.
#pragma once

#include <vector>

#include "compiler/link.h"
#include "syntax/diagnostic.h"

namespace dravelin::compiler {

// The findings for `module`, in the checker's order; never fails.
std::vector<syntax::Diagnostic> check_program(const LinkedModule& module, const std::vector<LinkedModule>& modules);
// The same with the modules already indexed, for callers that check many of them.
std::vector<syntax::Diagnostic> check_program(const LinkedModule& module, const ModuleIndex& modules);

}  // namespace dravelin::compiler
