#include "cli/load.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "cli/diagnostics.h"
#include "compiler/compile.h"
#include "compiler/module_sources.h"
#include "syntax/parse.h"

namespace dravelin::cli {
namespace {

constexpr const char* kStdinFile = "<stdin>";

Result<std::string, CliError> read_stdin() {
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return err(CliError::of(std::strerror(errno)));
    }
    if (n == 0) break;
    // An endless stream (`- < /dev/zero`) must end in an error, not in exhausted memory.
    if (text.size() + static_cast<size_t>(n) > compiler::kMaxSourceBytes)
      return err(CliError::of(std::string(compiler::kSourceTooLargeText)).wrapped("cannot read stdin"));
    text.append(buffer, static_cast<size_t>(n));
  }
  if (!compiler::is_valid_utf8(text)) return err(CliError::of("stream did not contain valid UTF-8"));
  return text;
}

compiler::ModuleSources sources_with(const std::vector<std::filesystem::path>& roots) {
  compiler::ModuleSources sources = compiler::ModuleSources::from_env();
  sources.roots.insert(sources.roots.begin(), roots.begin(), roots.end());
  return sources;
}

CompileOutput output_of(compiler::CompileResult result) {
  if (!result.ok()) return CompileOutput{std::move(result).error(), std::nullopt};
  compiler::Compiled compiled = std::move(result).value();
  return CompileOutput{std::move(compiled.warnings), std::move(compiled.ir)};
}

}  // namespace

Result<CompileOutput, CliError> load_program(const std::filesystem::path& file,
                                             const std::vector<std::filesystem::path>& roots) {
  const compiler::ModuleSources sources = sources_with(roots);
  if (file != "-") return output_of(compiler::compile_file(file, sources));

  std::string text = TRY(read_stdin());
  keep_stdin_text(text);
  auto parsed = syntax::parse_program(text);
  CompileOutput output = parsed.ok() ? output_of(compiler::compile_source(*parsed, std::nullopt, sources))
                                     : CompileOutput{std::move(parsed).error(), std::nullopt};
  for (auto& d : output.diagnostics)
    if (!d.file) d.file = kStdinFile;
  return output;
}

Result<ir::Ir, CliError> compile_with_diagnostics(const std::filesystem::path& file,
                                                  const std::vector<std::filesystem::path>& roots) {
  CompileOutput output = TRY(load_program(file, roots));
  render_diagnostics(file, output.diagnostics);
  if (!output.ir) return err(CliError::of("compile failed"));
  return std::move(*output.ir);
}

std::string source_label(const std::filesystem::path& file) {
  return file == "-" ? std::string(kStdinFile) : compiler::display_path(file);
}

}  // namespace dravelin::cli
