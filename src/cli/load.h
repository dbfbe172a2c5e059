// Loading and compiling the source file of a command.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/error.h"
#include "ir/nodes.h"
#include "syntax/diagnostic.h"

namespace dravelin::cli {

struct CompileOutput {
  std::vector<syntax::Diagnostic> diagnostics;  // errors and warnings, in the order produced
  std::optional<ir::Ir> ir;                     // present when there are no errors
};

// Compiles `file` ("-" reads stdin) with the given module search roots before those of DRAVELIN_PATH.
Result<CompileOutput, CliError> load_program(const std::filesystem::path& file,
                                             const std::vector<std::filesystem::path>& roots);

// load_program, then every diagnostic rendered on stderr; the error "compile failed" when there is no IR.
Result<ir::Ir, CliError> compile_with_diagnostics(const std::filesystem::path& file,
                                                  const std::vector<std::filesystem::path>& roots);

// How runtime errors name the program: "<stdin>" for "-", else the path's display form.
std::string source_label(const std::filesystem::path& file);

}  // namespace dravelin::cli
