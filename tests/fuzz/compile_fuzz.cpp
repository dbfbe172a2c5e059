// Source text through the whole compile pipeline and the rendering of its diagnostics: a failure names at least
// one error and renders, a success yields a program whose IR reads back as the same program.
#include <algorithm>

#include "cli/diagnostics.h"
#include "compiler/compile.h"
#include "fuzz_target.h"
#include "ir/read_json.h"
#include "ir/write_json.h"
#include "syntax/parse.h"

using namespace dravelin;

namespace {

bool has_error(const std::vector<syntax::Diagnostic>& diagnostics) {
  return std::any_of(diagnostics.begin(), diagnostics.end(),
                     [](const syntax::Diagnostic& d) { return d.severity == syntax::Severity::Error; });
}

fuzz::Verdict render(std::string_view text, std::vector<syntax::Diagnostic> diagnostics) {
  if (diagnostics.empty()) return fuzz::holds();
  for (auto& d : diagnostics)
    if (!d.file) d.file = "<stdin>";
  // Other files are never read: the fuzzed text is the only source.
  cli::SourceCache sources(text, [](const std::string&) { return std::optional<std::string>(); });
  if (cli::format_diagnostics("<stdin>", diagnostics, sources).empty()) return fuzz::broken("diagnostics render as nothing");
  return fuzz::holds();
}

}  // namespace

DRAVELIN_FUZZ_TARGET(compile) {
  auto parsed = syntax::parse_program(bytes);
  if (!parsed.ok()) {
    if (!has_error(parsed.error())) return fuzz::broken("a refused parse names no error");
    return render(bytes, std::move(parsed).error());
  }
  auto compiled = compiler::compile_source(*parsed, std::nullopt, compiler::ModuleSources{});
  if (!compiled.ok()) {
    if (!has_error(compiled.error())) return fuzz::broken("a failed compile names no error");
    return render(bytes, std::move(compiled).error());
  }
  if (has_error(compiled->warnings)) return fuzz::broken("a compiled program carries an error");
  if (auto verdict = render(bytes, compiled->warnings)) return verdict;
  auto again = ir::read_ir_json_text(ir::ir_program_to_pretty_json(compiled->ir));
  if (!again.ok()) return fuzz::broken("the IR of a compiled program is refused: " + again.error());
  if (!(*again == compiled->ir)) return fuzz::broken("the IR of a compiled program reads back as another program");
  return fuzz::holds();
}
