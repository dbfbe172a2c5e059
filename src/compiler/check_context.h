// The checker's shared state: the per-module `Checker`, the per-unit `Scope`, assigned sets, and the walkers
// that the unit, statement and expression files call across each other.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "compiler/link.h"
#include "syntax/ast.h"
#include "syntax/diagnostic.h"

namespace dravelin::compiler::check {

namespace ast = syntax::ast;
using syntax::DiagnosticCode;
using syntax::Span;

// The names definitely assigned at the point of a unit that the walk has reached. One set serves the whole walk of
// a unit: a nested block adds to it and takes its additions back when it ends, and a branching statement merges
// only what its paths added. So the cost of a block follows what it assigns, not how much was assigned before it:
// copying the set into every block made a long run of branching statements quadratic.
class AssignedSet {
 public:
  bool contains(std::string_view name) const { return names_.find(name) != names_.end(); }
  // Adds the name; nothing changes when it is there already.
  void add(std::string_view name);
  // A point to come back to: `take_back` removes what was added since and returns it, in the order added.
  std::size_t mark() const { return added_.size(); }
  std::vector<std::string> take_back(std::size_t mark);

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_set<std::string, Hash, std::equal_to<>> names_;
  // The names in the order they were added; each points into `names_`, whose elements never move.
  std::vector<const std::string*> added_;
};

struct Checker {
  Checker(const LinkedModule& checked, const ModuleIndex& all) : module(checked), modules(all) {}

  std::vector<syntax::Diagnostic> diagnostics;
  const LinkedModule& module;
  const ModuleIndex& modules;
  std::set<std::string> input_names;
  std::map<std::string, UnitKind> unit_names;
  std::set<std::string> prelude_names;
  // Set while a judgment's question is walked: no effect, `log` included, may run there.
  bool in_question = false;
  // The file declares a unit named `log`, so interpolations read `log` as an ordinary name.
  bool log_shadowed = false;
};

struct Scope {
  std::set<std::string> params;
  // Variables holding the probability of a plain `feels`, as the walk stands in text order.
  std::set<std::string> prob_names;
  // Variable to the qualified name of the judgment unit whose results it holds.
  std::map<std::string, std::string> judgment_vars;
  int loop_depth = 0;
  int block_depth = 0;
  UnitKind unit_kind = UnitKind::Task;
};

// What a block added to the assigned set it started from (the set itself is back as it was), and whether the
// block never continues to the statement after it.
struct BlockOutcome {
  std::vector<std::string> added;
  bool diverges = false;
};

// One path out of a branching statement: the names it adds to the set before the statement, and whether it
// continues at all.
using PathOutcome = BlockOutcome;

// One segment of a name path (`a`, `a.b`, `a.b.c`): its text and the span of its name.
struct Segment {
  std::string name;
  Span span;
};
using NamePath = std::vector<Segment>;

// ---------------------------------------------------------------------------------------------------------------
// Diagnostics (check_state.cpp).

void push_error(Checker& checker, DiagnosticCode code, std::string message, Span span);
void push_warning(Checker& checker, DiagnosticCode code, std::string message, Span span);
// A `duplicate_name` error pointing back at the first declaration.
void push_duplicate(Checker& checker, std::string_view name, std::string message, Span span, Span first);

// ---------------------------------------------------------------------------------------------------------------
// Known names and definite assignment (check_state.cpp).

bool is_builtin_name(std::string_view name);
bool is_known_name(const Checker& checker, const Scope& scope, AssignedSet& assigned, std::string_view name);
void check_read(Checker& checker, const Scope& scope, AssignedSet& assigned, std::string_view name,
                Span span);
// Adds to `assigned` what every continuing path of a branching statement adds, and returns whether the statement
// diverges (no path continues).
bool merge_paths(AssignedSet& assigned, const std::vector<PathOutcome>& paths);

// ---------------------------------------------------------------------------------------------------------------
// Walkers.

// check_statements.cpp
BlockOutcome check_block(Checker& checker, Scope& scope, const ast::Block& block, AssignedSet& assigned);

// check_expressions.cpp
void check_expr(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Expr& expr);
void check_judge(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Judge& judge);
// Runs `check_judge` with the in-question flag raised, restoring it afterwards.
void check_question(Checker& checker, Scope& scope, AssignedSet& assigned, const ast::Judge& judge);
void warn_bare_prob(Checker& checker, const Scope& scope, const ast::Expr& condition);
bool is_small_value(const ast::Expr& expr);
// The text of a text literal made of one literal run, or "" for an empty one; nothing for any other
// expression, interpolated texts included.
std::optional<std::string_view> plain_text_literal(const ast::Expr& expr);
// The `uncapped_field` warning for a `shape` or `observe` field, when it applies.
void warn_uncapped(Checker& checker, const ast::ShapeField& field);

// check_calls.cpp
std::optional<NamePath> name_path(const ast::Expr& expr);
std::vector<std::string> path_names(const NamePath& path);
// `args` is null for a chain of field accesses and points at the arguments for a call.
void check_reference(Checker& checker, Scope& scope, AssignedSet& assigned, const NamePath& path,
                     const std::vector<ast::Arg>* args, Span span);
void check_effect_purity(Checker& checker, UnitKind kind, std::string_view effect, Span span);
void check_unit_call_purity(Checker& checker, UnitKind kind, UnitKind callee_kind, std::string_view qualified,
                            Span span);

// check_units.cpp
void check_units_as_whole(Checker& checker);
void check_unit(Checker& checker, const ast::Unit& unit);

// check_machines.cpp
void check_machine(Checker& checker, const ast::Machine& machine);

// The word for a unit kind in messages.
std::string_view unit_kind_word(UnitKind kind);

}  // namespace dravelin::compiler::check
