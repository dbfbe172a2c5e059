// References through names and paths: units of `use` modules, capability verbs and tool signatures, and the
// purity of judgments and defs.
#include <span>
#include <string_view>
#include <variant>

#include "compiler/check_context.h"
#include "syntax/need_verbs.h"

namespace dravelin::compiler::check {

namespace {

bool contains(std::span<const std::string_view> verbs, std::string_view verb) {
  for (std::string_view v : verbs) {
    if (v == verb) return true;
  }
  return false;
}

std::string join_verbs(std::span<const std::string_view> verbs) {
  std::string out;
  for (std::string_view v : verbs) {
    if (!out.empty()) out += ", ";
    out += v;
  }
  return out;
}

bool append_path(const ast::Expr& expr, NamePath& path) {
  if (const auto* name = std::get_if<ast::Expr::Name>(&expr.node)) {
    path.push_back({name->name, name->span});
    return true;
  }
  if (const auto* field = std::get_if<ast::Expr::Field>(&expr.node)) {
    if (!append_path(*field->target, path)) return false;
    path.push_back({field->name, field->name_span});
    return true;
  }
  return false;
}

std::size_t positional_count(const std::vector<ast::Arg>& args) {
  std::size_t n = 0;
  for (const ast::Arg& arg : args) {
    if (!arg.name) ++n;
  }
  return n;
}

// A verb called on a capability: the verb must belong to the capability's kind (or to the tool's signature
// block) and, for a typed tool, take as many positional arguments as the signature declares.
void check_capability_verb(Checker& checker, const std::string& capability, const CapabilityBinding& binding,
                           const Segment& verb, std::size_t given) {
  const std::string& v = verb.name;
  switch (binding.kind) {
    case syntax::NeedKind::Tool: {
      if (binding.signatures.empty()) return;
      const ast::ToolSignature* signature = nullptr;
      for (const ast::ToolSignature& s : binding.signatures) {
        if (s.name == v) {
          signature = &s;
          break;
        }
      }
      if (signature == nullptr) {
        push_error(checker, DiagnosticCode::VerbUnknown,
                   "tool `" + capability + "` declares no verb `" + v + "` in its signature block (spec section 9.4)",
                   verb.span);
        return;
      }
      std::size_t declared = signature->params.size();
      if (declared != given) {
        push_error(checker, DiagnosticCode::VerbArity,
                   "`" + capability + "." + v + "` takes " + std::to_string(declared) + " positional argument" +
                       (declared == 1 ? "" : "s") + ", not " + std::to_string(given) + " (spec section 9.4)",
                   verb.span);
      }
      return;
    }
    case syntax::NeedKind::Agent:
    case syntax::NeedKind::Person:
    case syntax::NeedKind::Llm: {
      const std::span<const std::string_view> kind_verbs = syntax::need_kind_verbs(binding.kind);
      if (!contains(kind_verbs, v)) {
        const std::string verbs = join_verbs(kind_verbs);
        push_error(checker, DiagnosticCode::VerbUnknown,
                   std::string(syntax::enum_name(binding.kind)) + " `" + capability + "` has no verb `" + v +
                       "`; its verbs are " + verbs + " (spec section 9)",
                   verb.span);
      }
      return;
    }
  }
}

}  // namespace

std::optional<NamePath> name_path(const ast::Expr& expr) {
  NamePath path;
  if (!append_path(expr, path)) return std::nullopt;
  return path;
}

std::vector<std::string> path_names(const NamePath& path) {
  std::vector<std::string> names;
  names.reserve(path.size());
  for (const Segment& s : path) names.push_back(s.name);
  return names;
}

void check_reference(Checker& checker, Scope& scope, AssignedSet& assigned, const NamePath& path,
                     const std::vector<ast::Arg>* args, Span span) {
  if (path.empty()) return;
  const bool called = args != nullptr;
  const Segment& root = path.front();

  // Into a `use` module (or the prelude through `std`): the module must export the unit.
  if (path.size() >= 2 && checker.module.aliases.count(root.name) != 0) {
    CalleeResolution resolved = resolve_callee(checker.modules, checker.module, path_names(path));
    if (const auto* missing = std::get_if<callee::UnitMissing>(&resolved)) {
      push_error(checker, DiagnosticCode::UnassignedRead,
                 "module `" + missing->alias + "` exports no unit named `" + missing->unit + "` (spec section 3.9)",
                 span);
    } else if (const auto* hidden = std::get_if<callee::Private>(&resolved)) {
      push_error(checker, DiagnosticCode::UsePrivate,
                 "`" + hidden->qualified +
                     "` is private to its file: a name starting with `_` is not exported (spec section 3.9)",
                 span);
    } else if (const auto* found = std::get_if<callee::Found>(&resolved); found != nullptr && called) {
      check_unit_call_purity(checker, scope.unit_kind, found->kind, found->qualified, span);
    }
    return;
  }

  // A capability: its verbs, and every use of one is an effect.
  if (auto capability = checker.module.capabilities.find(root.name);
      capability != checker.module.capabilities.end()) {
    if (path.size() == 1) return;
    const Segment& verb = path[1];
    std::size_t given = (path.size() == 2 && called) ? positional_count(*args) : 0;
    check_capability_verb(checker, root.name, capability->second, verb, given);
    check_effect_purity(checker, scope.unit_kind, "`" + root.name + "." + verb.name + "`", span);
    return;
  }

  if (path.size() >= 2) {
    check_read(checker, scope, assigned, root.name, root.span);
    // A call through a field of a variable, such as a verb on an agent's handle, reaches outside the run.
    if (called || (path.size() == 2 && (path[1].name == "stop" || path[1].name == "observe"))) {
      check_effect_purity(checker, scope.unit_kind, "`" + root.name + "." + path[1].name + "`", span);
    }
    return;
  }

  if (called && root.name == "log" && !is_known_name(checker, scope, assigned, "log")) {
    push_error(checker, DiagnosticCode::LogLevel,
               "a `log` starts with its level and then the value: `log info \"...\"` (spec section 5.8)",
               root.span);
    return;
  }
  check_read(checker, scope, assigned, root.name, root.span);
  if (!called) return;
  CalleeResolution resolved = resolve_callee(checker.modules, checker.module, {root.name});
  if (const auto* found = std::get_if<callee::Found>(&resolved)) {
    check_unit_call_purity(checker, scope.unit_kind, found->kind, found->qualified, span);
  }
}

void check_effect_purity(Checker& checker, UnitKind kind, std::string_view effect, Span span) {
  if (kind == UnitKind::Judgment) {
    push_error(checker, DiagnosticCode::JudgmentSideEffect,
               "a `judgment` cannot call " + std::string(effect) + "; judgments are pure (spec section 3.5)", span);
  } else if (kind == UnitKind::Def) {
    push_error(checker, DiagnosticCode::DefSideEffect,
               "a `def` cannot call " + std::string(effect) + "; defs are pure (spec section 8)", span);
  }
}

void check_unit_call_purity(Checker& checker, UnitKind kind, UnitKind callee_kind, std::string_view qualified,
                            Span span) {
  if (callee_kind != UnitKind::Task && callee_kind != UnitKind::Machine) return;
  check_effect_purity(checker, kind, std::string(unit_kind_word(callee_kind)) + " `" + std::string(qualified) + "`",
                      span);
}

}  // namespace dravelin::compiler::check
