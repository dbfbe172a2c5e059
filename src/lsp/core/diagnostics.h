// The findings an editor shows for a document: its syntax errors when it has any, else what the compiler
// reports for the whole linked program, findings of imported modules placed on the `use` that leads to them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/core/world.h"
#include "lsp/protocol/types.h"
#include "syntax/diagnostic.h"

namespace dravelin::lsp {

// The section of the language reference that states the rule behind a code.
std::string_view rule_section(syntax::DiagnosticCode code);

std::vector<LspDiagnostic> compute_diagnostics(World& world, const AnalysisPtr& analysis,
                                               std::string_view error_reference);

// One finding that lies in the analysed document.
LspDiagnostic to_lsp_diagnostic(const Analysis& analysis, const syntax::Diagnostic& diagnostic,
                                std::string_view error_reference, std::vector<RelatedInformation> related);

// For a duplicated name: where it was first declared in the document.
std::vector<RelatedInformation> first_declared_here(const Analysis& analysis, const syntax::Diagnostic& diagnostic);

// A finding that lies in another file, shown on the `use` of the document that leads to that file.
LspDiagnostic foreign_file_diagnostic(World& world, const AnalysisPtr& analysis, const syntax::Diagnostic& diagnostic,
                                      const std::filesystem::path& file, std::string_view error_reference);

// Whether the `use` path, seen from the importer, leads to the target file within 16 levels of imports.
bool import_reaches(World& world, const AnalysisPtr& importer, std::string_view use_path,
                    const std::filesystem::path& target);

}  // namespace dravelin::lsp
