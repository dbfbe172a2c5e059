// Programs compiled from text, for the tests of any layer above the compiler.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "compiler/compile.h"
#include "compiler/module_sources.h"
#include "ir/program.h"
#include "syntax/parse.h"

namespace dravelin::testing {

// The whole program compiled; a fixture that does not compile fails the test and yields an empty program.
inline ir::Ir compile_or_fail(const std::string& text) {
  auto parsed = syntax::parse_program(text);
  if (!parsed.ok()) {
    ADD_FAILURE() << "fixture does not parse: " << syntax::debug_string(parsed.error());
    return {};
  }
  auto compiled = compiler::compile_source(std::move(parsed).value(), std::nullopt, compiler::ModuleSources{});
  if (!compiled.ok()) {
    ADD_FAILURE() << "fixture does not compile: " << syntax::debug_string(compiled.error());
    return {};
  }
  return std::move(compiled).value().ir;
}

}  // namespace dravelin::testing
