#include "cli/runtime_report.h"

#include <utility>
#include <variant>

#include "cli/diagnostics.h"
#include "cli/output.h"

namespace dravelin::cli {
namespace {

constexpr std::string_view kNoLabel = "<source unavailable>";

}  // namespace

std::optional<std::string> runtime_source_label(const ir::Ir& ir, std::string label) {
  for (const ir::Module& module : ir.modules) {
    if (!module.alias.empty() && module.alias != "std") return std::nullopt;
  }
  return label;
}

std::string format_runtime_error(const std::optional<std::string>& label, const runtime::RuntimeError& error) {
  SourceCache sources(kept_stdin_text());
  std::string out;
  write_report(out, sources,
               Report{label ? std::string_view(*label) : kNoLabel, error.span, syntax::Severity::Error,
                      runtime::runtime_error_code_name(error.code), error.message});
  return out;
}

void render_runtime_error(const std::optional<std::string>& label, const runtime::RuntimeError& error) {
  write_text(stderr, format_runtime_error(label, error));
}

void render_pause_error(const std::optional<std::string>& label, const record::Pause& pause) {
  const auto* error = std::get_if<record::Pause::Error>(&pause.detail);
  if (error == nullptr) return;
  render_runtime_error(label, runtime::make_runtime_error(error->code, error->message, error->retryable,
                                                          pause.common.source));
}

}  // namespace dravelin::cli
