// The checker's diagnostics, the known-name test and how branching statements merge what they assign.
#include <algorithm>
#include <array>
#include <iterator>
#include <unordered_map>

#include "compiler/check_context.h"
#include "compiler/module_sources.h"

namespace dravelin::compiler::check {

namespace {

// Functions the evaluator provides everywhere; no declaration is needed to read or call them.
constexpr std::array<std::string_view, 23> kBuiltins = {
    "len",  "max",  "min",  "sum",   "top",   "now",   "zip",    "join",   "head",  "tail", "hash",  "keys",
    "text", "bool", "count", "split", "lines", "chunk", "items", "tokens", "random", "values", "number",
};

void push(Checker& checker, DiagnosticCode code, syntax::Severity severity, std::string message, Span span) {
  syntax::Diagnostic d;
  d.code = code;
  d.severity = severity;
  d.message = std::move(message);
  d.span = span;
  checker.diagnostics.push_back(std::move(d));
}

}  // namespace

void push_error(Checker& checker, DiagnosticCode code, std::string message, Span span) {
  push(checker, code, syntax::Severity::Error, std::move(message), span);
}

void push_warning(Checker& checker, DiagnosticCode code, std::string message, Span span) {
  push(checker, code, syntax::Severity::Warning, std::move(message), span);
}

void push_duplicate(Checker& checker, std::string_view name, std::string message, Span span, Span first) {
  push_error(checker, DiagnosticCode::DuplicateName, std::move(message), span);
  syntax::RelatedLocation related;
  related.message = std::string("`").append(name) + "` was first declared here";
  related.span = first;
  // The related file names a real file only: the prelude has no path, so its duplicates carry none.
  if (checker.module.source_path) related.file = display_path(*checker.module.source_path);
  checker.diagnostics.back().related.push_back(std::move(related));
}

bool is_builtin_name(std::string_view name) {
  return std::find(kBuiltins.begin(), kBuiltins.end(), name) != kBuiltins.end();
}

bool is_known_name(const Checker& checker, const Scope& scope, AssignedSet& assigned, std::string_view name) {
  if (assigned.contains(name)) return true;
  std::string key(name);
  return scope.params.count(key) != 0 || checker.input_names.count(key) != 0 ||
         checker.module.capabilities.count(key) != 0 || checker.unit_names.count(key) != 0 ||
         checker.prelude_names.count(key) != 0 || checker.module.aliases.count(key) != 0 || is_builtin_name(name);
}

void check_read(Checker& checker, const Scope& scope, AssignedSet& assigned, std::string_view name,
                Span span) {
  if (is_known_name(checker, scope, assigned, name)) return;
  push_error(checker, DiagnosticCode::UnassignedRead,
             std::string("`").append(name) + "` is read before it is assigned (spec section 5.3)", span);
}

bool merge_paths(AssignedSet& assigned, const std::vector<PathOutcome>& paths) {
  // Every path starts from the set before the statement, so what holds after it is that set together with the
  // names that every continuing path adds. Counting each name once per path finds them in the paths' own size.
  std::unordered_map<std::string_view, std::size_t> times_added;
  const PathOutcome* first = nullptr;
  std::size_t continuing = 0;
  for (const PathOutcome& path : paths) {
    if (path.diverges) continue;
    if (first == nullptr) first = &path;
    ++continuing;
    for (const std::string& name : path.added) ++times_added[name];
  }
  // No path continues: the statement never falls through, and what follows it is unreachable, so the set
  // stays as it was.
  if (first == nullptr) return true;
  for (const std::string& name : first->added) {
    if (times_added[name] == continuing) assigned.add(name);
  }
  return false;
}

void AssignedSet::add(std::string_view name) {
  auto [it, inserted] = names_.emplace(name);
  if (inserted) added_.push_back(&*it);
}

std::vector<std::string> AssignedSet::take_back(std::size_t mark) {
  std::vector<std::string> taken;
  if (mark >= added_.size()) return taken;
  taken.reserve(added_.size() - mark);
  for (std::size_t i = mark; i < added_.size(); ++i) taken.push_back(*added_[i]);
  for (std::size_t i = mark; i < added_.size(); ++i) names_.erase(taken[i - mark]);
  added_.resize(mark);
  return taken;
}

std::string_view unit_kind_word(UnitKind kind) {
  switch (kind) {
    case UnitKind::Judgment:
      return "judgment";
    case UnitKind::Task:
      return "task";
    case UnitKind::Def:
      return "def";
    case UnitKind::Machine:
      return "machine";
  }
  return "unit";
}

}  // namespace dravelin::compiler::check
