#include "lsp/core/diagnostics.h"

#include <deque>
#include <set>
#include <utility>

#include "compiler/compile.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp {
namespace {

namespace fs = std::filesystem;
using syntax::DiagnosticCode;

// One row per code, in the codes' order.
constexpr std::string_view kSections[] = {
    "2.2",  // indent
    "5.5",  // unbounded_loop
    "6.3",  // pick_no_other
    "6.3",  // pick_arity
    "6.4",  // rate_arity
    "6.4",  // rate_bare_degree
    "6.1",  // subject_not_path
    "3.5",  // judgment_side_effect
    "8",    // def_side_effect
    "9",    // verb_unknown
    "7.4",  // verify_twice
    "2.4",  // uppercase_identifier
    "5.3",  // unassigned_read
    "3.9",  // use_not_found
    "3.9",  // use_cycle
    "3.9",  // use_has_inputs
    "3.9",  // use_needs_unmapped
    "3.9",  // use_private
    "7",    // main_has_params
    "9.4",  // verb_arity
    "7.8",  // machine_unknown_state
    "7.8",  // machine_no_done
    "7.8",  // event_no_description
    "7.8",  // machine_gate
    "6.4a", // pick_among_each
    "7.8",  // machine_unreachable_done
    "7.6",  // gate_args
    "12",   // duplicate_name
    "3.2",  // assign_immutable
    "5.5",  // loop_control_outside
    "5.8",  // log_level
    "5.8",  // log_in_question
    "4.1",  // bare_prob_condition
    "7.2",  // uncapped_field
    "3.9",  // prelude_shadowed
    "6.8",  // detail_ignored
    "5.8",  // log_shadowed
    "13",   // syntax
};
static_assert(std::size(kSections) == syntax::kDiagnosticCodeCount);

std::string with_section(std::string message, DiagnosticCode code) {
  if (message.find("spec section") == std::string::npos) {
    message += " (spec section ";
    message += rule_section(code);
    message += ')';
  }
  return message;
}

LspDiagnostic base_diagnostic(const syntax::Diagnostic& diagnostic, std::string_view error_reference) {
  LspDiagnostic out;
  out.severity = diagnostic.severity == syntax::Severity::Warning ? DiagnosticSeverity::Warning
                                                                  : DiagnosticSeverity::Error;
  out.code = std::string(syntax::diagnostic_code_name(diagnostic.code));
  std::string href = std::string(error_reference) + "#" + out.code;
  if (is_uri(href)) out.code_href = std::move(href);
  out.section = std::string(rule_section(diagnostic.code));
  return out;
}

}  // namespace

std::string_view rule_section(DiagnosticCode code) { return kSections[static_cast<size_t>(code)]; }

LspDiagnostic to_lsp_diagnostic(const Analysis& analysis, const syntax::Diagnostic& diagnostic,
                                std::string_view error_reference, std::vector<RelatedInformation> related) {
  LspDiagnostic out = base_diagnostic(diagnostic, error_reference);
  out.range = analysis.line_index.range(analysis.text, diagnostic.span);
  out.message = with_section(diagnostic.message, diagnostic.code);
  out.related = std::move(related);
  return out;
}

std::vector<RelatedInformation> first_declared_here(const Analysis& analysis, const syntax::Diagnostic& diagnostic) {
  if (diagnostic.code != DiagnosticCode::DuplicateName || !analysis.index) return {};
  const size_t open = diagnostic.message.find('`');
  if (open == std::string::npos) return {};
  const size_t close = diagnostic.message.find('`', open + 1);
  if (close == std::string::npos) return {};
  const std::string name = diagnostic.message.substr(open + 1, close - open - 1);
  const DeclaredSymbol* first = nullptr;
  for (const DeclaredSymbol& symbol : analysis.index->symbols) {
    if (symbol.name != name || symbol.selection_span.start.offset >= diagnostic.span.start.offset) continue;
    if (symbol.kind == DeclKind::Parameter || symbol.kind == DeclKind::Variable) continue;
    if (first == nullptr || symbol.selection_span.start.offset < first->selection_span.start.offset) first = &symbol;
  }
  if (first == nullptr) return {};
  return {RelatedInformation{Location{analysis.uri, analysis.line_index.range(analysis.text, first->selection_span)},
                             "`" + name + "` is first declared here"}};
}

bool import_reaches(World& world, const AnalysisPtr& importer, std::string_view use_path, const fs::path& target) {
  // Breadth first, each module once: an import graph full of cycles and diamonds costs one visit per module.
  struct Step {
    AnalysisPtr importer;
    std::string use_path;
    int depth;
  };
  std::deque<Step> queue{{importer, std::string(use_path), 0}};
  std::set<std::string> visited;
  while (!queue.empty()) {
    Step step = std::move(queue.front());
    queue.pop_front();
    if (step.depth > 16) continue;
    if (AnalysisPtr module = world.resolve_import(*step.importer, step.use_path)) {
      if (module->path && world.module_sources().key(*module->path) == target) return true;
      if (!visited.insert(document_key(*module)).second || !module->index) continue;
      for (const ImportAlias& import : module->index->imports)
        if (import.path) queue.push_back({module, *import.path, step.depth + 1});
      continue;
    }
    fs::path candidate = fs::path(step.use_path);
    if (step.importer->path && step.importer->path->has_parent_path())
      candidate = step.importer->path->parent_path() / candidate;
    if (world.module_sources().key(candidate) == target) return true;
  }
  return false;
}

LspDiagnostic foreign_file_diagnostic(World& world, const AnalysisPtr& self, const syntax::Diagnostic& diagnostic,
                                      const fs::path& file, std::string_view error_reference) {
  const Analysis& analysis = *self;
  LspDiagnostic out = base_diagnostic(diagnostic, error_reference);
  if (analysis.index && !analysis.index->imports.empty()) {
    const fs::path target = world.module_sources().key(file);
    const ImportAlias* place = &analysis.index->imports.front();
    for (const ImportAlias& import : analysis.index->imports) {
      if (import.path && import_reaches(world, self, *import.path, target)) {
        place = &import;
        break;
      }
    }
    out.range = analysis.line_index.range(analysis.text, place->span);
  }
  const std::string label = diagnostic.file ? *diagnostic.file : compiler::display_path(file);
  out.message = with_section("in `" + label + "`: " + diagnostic.message, diagnostic.code);
  if (AnalysisPtr module = world.analysis_for_path(file)) {
    out.related.push_back(RelatedInformation{
        Location{module->uri, module->line_index.range(module->text, diagnostic.span)}, diagnostic.message});
  }
  return out;
}

std::vector<LspDiagnostic> compute_diagnostics(World& world, const AnalysisPtr& analysis,
                                               std::string_view error_reference) {
  std::vector<LspDiagnostic> out;
  if (!analysis->parse.diagnostics.empty()) {
    for (const syntax::Diagnostic& d : analysis->parse.diagnostics)
      out.push_back(to_lsp_diagnostic(*analysis, d, error_reference, {}));
    return out;
  }
  if (!analysis->parse.program) return out;
  compiler::CompileResult compiled =
      compiler::compile_source(*analysis->parse.program, analysis->path, world.module_sources());
  const std::vector<syntax::Diagnostic>& found = compiled.ok() ? compiled->warnings : compiled.error();
  std::optional<fs::path> own;
  if (analysis->path) own = world.module_sources().key(*analysis->path);
  for (const syntax::Diagnostic& d : found) {
    if (d.file) {
      const fs::path file(*d.file);
      if (!own || world.module_sources().key(file) != *own) {
        out.push_back(foreign_file_diagnostic(world, analysis, d, file, error_reference));
        continue;
      }
    }
    out.push_back(to_lsp_diagnostic(*analysis, d, error_reference, first_declared_here(*analysis, d)));
  }
  return out;
}

}  // namespace dravelin::lsp
