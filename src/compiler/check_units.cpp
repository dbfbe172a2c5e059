// Rules on units as a whole (repeated names, a unit named `log`, shadowed prelude units) and the walk of
// judgments, tasks and defs.
#include <algorithm>
#include <map>
#include <type_traits>
#include <variant>

#include "compiler/check_context.h"

namespace dravelin::compiler::check {

namespace {

void check_params(Checker& checker, Scope& scope, const std::vector<ast::DefParam>& params) {
  for (const ast::DefParam& param : params) scope.params.insert(param.name);
  // Parameters are known through the scope, so a default may read any parameter of its unit.
  AssignedSet none;
  for (const ast::DefParam& param : params) {
    if (param.default_value) check_expr(checker, scope, none, *param.default_value);
  }
}

void check_judgment(Checker& checker, const ast::Judgment& judgment) {
  Scope scope;
  scope.unit_kind = UnitKind::Judgment;
  for (const ast::Ident& param : judgment.params) scope.params.insert(param.name);

  std::map<std::string, Span> seen;
  for (const ast::JudgmentResult& result : judgment.results) {
    if (auto earlier = seen.find(result.name); earlier != seen.end()) {
      push_duplicate(checker, result.name, "result `" + result.name + "` is assigned twice", result.name_span,
                     earlier->second);
    } else {
      seen.emplace(result.name, result.name_span);
    }
    // Each question is asked on the judgment's inputs alone; the other results do not exist yet.
    AssignedSet none;
    check_question(checker, scope, none, result.question);
  }

  // A log line reads the results written before it. The lines come in source order, so the set only grows from
  // one line to the next; it is built afresh only for a line that counts fewer results than the one before.
  AssignedSet before;
  std::size_t known = 0;
  for (const ast::JudgmentLog& log : judgment.logs) {
    std::size_t after = std::min(log.after, judgment.results.size());
    if (after < known) {
      before.take_back(0);
      known = 0;
    }
    for (; known < after; ++known) before.add(judgment.results[known].name);
    check_expr(checker, scope, before, log.log);
  }
}

template <class Unit>
void check_procedure(Checker& checker, const Unit& unit, UnitKind kind) {
  Scope scope;
  scope.unit_kind = kind;
  check_params(checker, scope, unit.params);
  AssignedSet assigned;
  check_block(checker, scope, unit.body, assigned);
}

}  // namespace

void check_units_as_whole(Checker& checker) {
  std::map<std::string, Span> first;
  for (const ast::Unit& unit : checker.module.program.units) {
    const std::string& name = ast::unit_name(unit);
    std::string_view kind = unit_kind_word(unit_kind(unit));
    Span span = std::visit([](const auto& u) { return u.name_span; }, unit.node);

    if (auto earlier = first.find(name); earlier != first.end()) {
      push_duplicate(checker, name, std::string(kind) + " `" + name + "` is declared twice", span, earlier->second);
    } else {
      first.emplace(name, span);
    }
    if (name == "log") {
      push_warning(checker, DiagnosticCode::LogShadowed,
                   std::string(kind) +
                       " `log` turns off the `log` expression in this file, so `log <word> <value>` calls it "
                       "instead; rename it to write logs here (spec section 5.8)",
                   span);
    }
    if (checker.prelude_names.count(name) != 0) {
      push_warning(checker, DiagnosticCode::PreludeShadowed,
                   std::string(kind) + " `" + name + "` shadows the prelude's `" + name +
                       "`; the prelude's stays reachable as `std." + name + "` (spec section 3.9)",
                   span);
    }
  }
}

void check_unit(Checker& checker, const ast::Unit& unit) {
  std::visit(
      [&](const auto& u) {
        using U = std::decay_t<decltype(u)>;
        if constexpr (std::is_same_v<U, ast::Judgment>) {
          check_judgment(checker, u);
        } else if constexpr (std::is_same_v<U, ast::Task>) {
          if (u.name == "main" && !u.params.empty()) {
            push_error(checker, DiagnosticCode::MainHasParams,
                       "`task main` takes no parameters; it reads the program's `in` declarations (spec section 7)",
                       u.name_span);
          }
          check_procedure(checker, u, UnitKind::Task);
        } else if constexpr (std::is_same_v<U, ast::Def>) {
          check_procedure(checker, u, UnitKind::Def);
        } else {
          check_machine(checker, u);
        }
      },
      unit.node);
}

}  // namespace dravelin::compiler::check
