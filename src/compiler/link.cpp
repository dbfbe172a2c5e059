#include "compiler/link.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "compiler/module_cache.h"
#include "compiler/prelude.h"
#include "syntax/parse.h"

namespace dravelin::compiler {

namespace fs = std::filesystem;
namespace ast = syntax::ast;
using syntax::Diagnostic;
using syntax::DiagnosticCode;
using syntax::Span;

namespace {

std::string_view kind_name(syntax::NeedKind kind) {
  return syntax::EnumNames<syntax::NeedKind>::names[static_cast<size_t>(kind)];
}

Diagnostic link_error(DiagnosticCode code, std::string message, Span span) {
  return syntax::make_diagnostic(code, std::move(message), span);
}

// The written path of a `use`: nothing when the literal holds an interpolation or more than one part.
std::optional<std::string> plain_path(const ast::TextLit& literal) {
  if (literal.parts.empty()) return std::string();
  if (literal.parts.size() > 1) return std::nullopt;
  const auto* part = std::get_if<syntax::TextLiteralPart>(&literal.parts.front());
  if (part == nullptr) return std::nullopt;
  return part->text;
}

// The first `in` or `out` of a program, as "`in name`" or "`out name`".
std::optional<std::string> first_io_declaration(const ast::Program& program) {
  for (const ast::Decl& decl : program.decls) {
    if (const auto* input = std::get_if<ast::Input>(&decl.node)) return "`in " + input->name + "`";
    if (const auto* output = std::get_if<ast::Output>(&decl.node)) return "`out " + output->name + "`";
  }
  return std::nullopt;
}

std::vector<const ast::Need*> needs_of(const ast::Program& program) {
  std::vector<const ast::Need*> needs;
  for (const ast::Decl& decl : program.decls) {
    if (const auto* need = std::get_if<ast::Need>(&decl.node)) needs.push_back(need);
  }
  return needs;
}

class Linker {
 public:
  explicit Linker(const ModuleSources& sources) : cache_(sources) {}

  Result<std::vector<LinkedModule>, std::vector<Diagnostic>> run(ast::Program program,
                                                                 const std::optional<fs::path>& path) {
    LinkedModule root;
    root.program = std::move(program);
    root.source_path = path;
    for (const ast::Need* need : needs_of(root.program)) {
      root.capabilities[need->name] = CapabilityBinding{need->name, need->signatures, need->kind};
    }
    root.aliases.emplace("std", "std");
    root.span = root.program.span;
    if (path) stack_.push_back(cache_.canonical(*path));
    add_module(std::move(root));
    link_all_uses();
    modules_.push_back(parse_prelude());
    if (!diagnostics_.empty()) return err(std::move(diagnostics_));
    return std::move(modules_);
  }

 private:
  // Depth first, pre-order, each module's uses in declaration order. An explicit work list rather than
  // recursion, so that a long chain of imports cannot exhaust the call stack.
  void link_all_uses() {
    struct Frame {
      size_t module;
      size_t next_use;
    };
    std::vector<Frame> work{{0, 0}};
    while (!work.empty()) {
      Frame& frame = work.back();
      const size_t importer = frame.module;
      if (frame.next_use == modules_[importer].program.uses.size()) {
        work.pop_back();
        // The root's own path stays on the stack; every import pushed one when its frame was opened.
        if (!work.empty()) stack_.pop_back();
        continue;
      }
      const size_t use_index = frame.next_use++;
      std::optional<LinkedModule> linked = link_use(importer, modules_[importer].program.uses[use_index]);
      if (!linked) continue;
      const ast::UseDecl& decl = modules_[importer].program.uses[use_index];
      const std::string local_alias = decl.alias;
      const fs::path canonical = cache_.canonical(*linked->source_path);
      const size_t index = add_module(std::move(*linked));
      modules_[importer].aliases[local_alias] = modules_[index].alias;
      stack_.push_back(canonical);
      work.push_back(Frame{index, 0});
    }
  }

  size_t add_module(LinkedModule module) {
    index_units(module);
    modules_.push_back(std::move(module));
    return modules_.size() - 1;
  }

  void report(size_t importer, Diagnostic diagnostic) {
    if (!diagnostic.file) diagnostic.file = module_display_name(modules_[importer]);
    diagnostics_.push_back(std::move(diagnostic));
  }

  std::optional<LinkedModule> link_use(size_t importer, const ast::UseDecl& decl) {
    std::optional<std::string> written = plain_path(decl.path);
    if (!written) {
      report(importer, link_error(DiagnosticCode::UseNotFound,
                                  "a `use` path is a plain text literal with no interpolation (spec section 3.9)",
                                  decl.span));
      return std::nullopt;
    }
    const std::string& path_text = *written;

    if (modules_[importer].aliases.count(decl.alias) != 0) {
      Diagnostic duplicate = link_error(DiagnosticCode::DuplicateName,
                                        "module alias `" + decl.alias + "` is already in use", decl.alias_span);
      report(importer, std::move(duplicate));
      return std::nullopt;
    }

    const fs::path importer_path = modules_[importer].source_path.value_or(fs::path("./<source>"));
    auto resolved = cache_.resolve(importer_path, path_text);
    if (!resolved.ok()) {
      report(importer, link_error(DiagnosticCode::UseNotFound,
                                  "cannot find module `" + path_text + "` (spec section 3.9)", decl.span));
      return std::nullopt;
    }

    const fs::path canonical = cache_.canonical(*resolved);
    for (const fs::path& open : stack_) {
      if (open == canonical) {
        report(importer, link_error(DiagnosticCode::UseCycle,
                                    "`" + path_text +
                                        "` is already being linked: modules cannot import each other (spec section "
                                        "3.9)",
                                    decl.span));
        return std::nullopt;
      }
    }

    const LoadedModule& loaded = cache_.load(*resolved, canonical);
    if (const auto* failure = std::get_if<ReadError>(&loaded)) {
      report(importer, link_error(DiagnosticCode::UseNotFound,
                                  "cannot read module `" + path_text + "`: " + failure->message, decl.span));
      return std::nullopt;
    }
    if (const auto* syntax_errors = std::get_if<std::vector<Diagnostic>>(&loaded)) {
      for (Diagnostic diagnostic : *syntax_errors) {
        if (!diagnostic.file) diagnostic.file = display_path(*resolved);
        diagnostics_.push_back(std::move(diagnostic));
      }
      return std::nullopt;
    }
    const ast::Program& library = std::get<ast::Program>(loaded);

    bool failed = false;
    if (std::optional<std::string> io = first_io_declaration(library)) {
      report(importer, link_error(DiagnosticCode::UseHasInputs,
                                  "`" + path_text + "` declares " + *io +
                                      ", so it is a program, not a library (spec section 3.9)",
                                  decl.span));
      failed = true;
    }

    LinkedModule module;
    std::vector<Diagnostic> recorded;
    const std::vector<const ast::Need*> needs = needs_of(library);
    const auto& importer_capabilities = modules_[importer].capabilities;
    for (const ast::Need* need : needs) {
      const ast::NeedMapping* entry = nullptr;
      for (const ast::NeedMapping& candidate : decl.mapping) {
        if (candidate.inner == need->name) {
          entry = &candidate;
          break;
        }
      }
      if (entry == nullptr) {
        recorded.push_back(link_error(DiagnosticCode::UseNeedsUnmapped,
                                      "`" + path_text + "` needs `" + need->name +
                                          "` and the `with` clause does not map it (spec section 3.9)",
                                      decl.span));
        continue;
      }
      const std::string& outer = entry->outer ? entry->outer->name : need->name;
      auto binding = importer_capabilities.find(outer);
      if (binding == importer_capabilities.end()) {
        recorded.push_back(link_error(DiagnosticCode::UseNeedsUnmapped,
                                      "`" + outer + "` is not a capability of the importing program (spec section 3.9)",
                                      entry->span));
        continue;
      }
      if (binding->second.kind != need->kind) {
        recorded.push_back(link_error(DiagnosticCode::UseNeedsUnmapped,
                                      "`" + path_text + "` needs `" + need->name + "` as " +
                                          std::string(kind_name(need->kind)) + " but `" + outer + "` is " +
                                          std::string(kind_name(binding->second.kind)) + " (spec section 3.9)",
                                      entry->span));
        continue;
      }
      module.capabilities[need->name] = CapabilityBinding{
          binding->second.name, need->signatures.empty() ? binding->second.signatures : need->signatures, need->kind};
      module.mapping.push_back(ir::NeedMapping{need->name, outer, need->kind});
    }
    for (const ast::NeedMapping& entry : decl.mapping) {
      bool binds = false;
      for (const ast::Need* need : needs) binds = binds || need->name == entry.inner;
      if (!binds) {
        recorded.push_back(link_error(DiagnosticCode::UseNeedsUnmapped,
                                      "`" + path_text + "` declares no `needs " + entry.inner +
                                          "` for the `with` clause to bind (spec section 3.9)",
                                      entry.span));
      }
    }
    for (Diagnostic& diagnostic : recorded) report(importer, std::move(diagnostic));
    if (failed || !recorded.empty()) return std::nullopt;

    module.alias = qualify_name(modules_[importer].alias, decl.alias);
    module.program = library;
    module.source_path = *resolved;
    module.use_path = path_text;
    module.aliases.emplace("std", "std");
    module.span = decl.span;
    return module;
  }

  ModuleCache cache_;
  std::vector<LinkedModule> modules_;
  // Per module, where each of its successfully linked aliases was declared, for the duplicate's note.
  std::vector<fs::path> stack_;
  std::vector<Diagnostic> diagnostics_;
};

}  // namespace

Result<std::vector<LinkedModule>, std::vector<Diagnostic>> link_program(const ast::Program& program,
                                                                        const std::optional<fs::path>& path,
                                                                        const ModuleSources& sources) {
  return Linker(sources).run(program, path);
}

Result<std::vector<LinkedModule>, std::vector<Diagnostic>> link_program(ast::Program&& program,
                                                                        const std::optional<fs::path>& path,
                                                                        const ModuleSources& sources) {
  return Linker(sources).run(std::move(program), path);
}

LinkedModule parse_prelude() {
  auto parsed = syntax::parse_program(prelude_text());
  if (!parsed.ok()) {
    std::string message = "the bundled prelude does not parse: " + syntax::debug_string(parsed.error());
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
  }
  LinkedModule prelude;
  prelude.alias = "std";
  prelude.program = std::move(parsed).value();
  prelude.span = prelude.program.span;
  index_units(prelude);
  return prelude;
}

}  // namespace dravelin::compiler
