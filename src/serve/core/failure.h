// Why a bridge method failed, before the protocol layer turns it into an error object.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "runtime/runtime_error.h"
#include "syntax/diagnostic.h"

namespace dravelin::serve::core {

// The request named something that does not exist or broke a method's rule.
struct InvalidParams {
  std::string message;
};

// The program did not compile: every diagnostic of the phase that stopped it.
struct CompileFailure {
  std::vector<syntax::Diagnostic> diagnostics;
};

using Failure = std::variant<InvalidParams, CompileFailure, runtime::RuntimeError, runtime::ResumeError>;

}  // namespace dravelin::serve::core
