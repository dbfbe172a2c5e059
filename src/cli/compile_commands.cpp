#include "cli/compile_commands.h"

#include "cli/diagnostics.h"
#include "cli/error.h"
#include "cli/load.h"
#include "cli/output.h"
#include "cli/tool_check.h"
#include "ir/write_json.h"

namespace dravelin::cli {
namespace {

// Compiles and renders every diagnostic; the output, or the exit status when the command ends here.
Result<CompileOutput, int> compile_and_report(const std::filesystem::path& file) {
  auto output = load_program(file, {});
  if (!output.ok()) return err(error_exit(output.error()));
  render_diagnostics(file, output->diagnostics);
  // The rendered diagnostics are the whole report of a failed compile.
  if (!output->ir) return err(1);
  return std::move(output).value();
}

}  // namespace

int run_compile(const Compile& command) {
  auto output = compile_and_report(command.file);
  if (!output.ok()) return output.error();
  std::string text = ir::ir_program_to_pretty_json(*output->ir);
  text += '\n';
  write_text(stdout, text);
  return 0;
}

int run_check(const Check& command) {
  auto output = compile_and_report(command.file);
  if (!output.ok()) return output.error();
  if (command.tools) return check_tool_verbs(command.file, *command.tools, *output->ir);
  return 0;
}

}  // namespace dravelin::cli
