// The statement walker: where control statements may stand, immutability, shaped fields, what each statement
// assigns, and which variables hold probabilities or a judgment's results.
#include <type_traits>
#include <variant>

#include "compiler/check_context.h"

namespace dravelin::compiler::check {

namespace {

// Raises a depth counter for the walk of one body and lowers it again, on every path out.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

void check_immutable(Checker& checker, const std::string& name, Span span) {
  if (checker.input_names.count(name) != 0) {
    push_error(checker, DiagnosticCode::AssignImmutable, "input `" + name + "` is immutable (spec section 3.2)", span);
  } else if (checker.module.capabilities.count(name) != 0) {
    push_error(checker, DiagnosticCode::AssignImmutable,
               "capability `" + name + "` cannot be reassigned (spec section 3.4)", span);
  }
}

void forget_held_values(Scope& scope, const std::string& name) {
  scope.prob_names.erase(name);
  scope.judgment_vars.erase(name);
}

// What the assigned variable holds now: the probability of a plain `feels`, or the results of a judgment unit.
void track_assignment(Checker& checker, Scope& scope, const ast::Stmt::Assign& assign) {
  const std::string& x = assign.target.root;
  const bool whole = assign.target.path.empty();
  if (const auto* judge = std::get_if<ast::Expr::Judge>(&assign.value.node)) {
    scope.judgment_vars.erase(x);
    const ast::Judge& question = *judge->judge;
    if (whole && !question.each && std::holds_alternative<ast::JudgeVerb::Feels>(question.verb.node)) {
      scope.prob_names.insert(x);
    } else {
      scope.prob_names.erase(x);
    }
    return;
  }
  scope.prob_names.erase(x);
  if (const auto* call = std::get_if<ast::Expr::Call>(&assign.value.node); call != nullptr && whole) {
    if (std::optional<NamePath> path = name_path(*call->callee)) {
      CalleeResolution resolved = resolve_callee(checker.modules, checker.module, path_names(*path));
      if (const auto* found = std::get_if<callee::Found>(&resolved);
          found != nullptr && found->kind == UnitKind::Judgment) {
        scope.judgment_vars[x] = found->qualified;
        return;
      }
    }
  }
  scope.judgment_vars.erase(x);
}

std::string_view verify_misplacement(const Scope& scope) {
  switch (scope.unit_kind) {
    case UnitKind::Judgment:
      return "in a `judgment`";
    case UnitKind::Def:
      return "in a `def`";
    case UnitKind::Machine:
      return "in a machine action";
    case UnitKind::Task:
      break;
  }
  return "inside another statement's block";
}

// Checks one statement, updating `assigned`; returns whether the statement never continues to the next one.
bool check_stmt(Checker& checker, Scope& scope, const ast::Stmt& stmt, AssignedSet& assigned) {
  return std::visit(
      [&](const auto& s) -> bool {
        using S = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<S, ast::Stmt::Assign>) {
          check_immutable(checker, s.target.root, s.target.root_span);
          if (!s.target.path.empty()) check_read(checker, scope, assigned, s.target.root, s.target.root_span);
          if (const auto* judge = std::get_if<ast::Expr::Judge>(&s.value.node)) {
            check_question(checker, scope, assigned, *judge->judge);
          } else {
            check_expr(checker, scope, assigned, s.value);
          }
          track_assignment(checker, scope, s);
          if (s.target.path.empty()) assigned.add(s.target.root);
          return false;
        } else if constexpr (std::is_same_v<S, ast::Stmt::Expr>) {
          check_expr(checker, scope, assigned, s.expr);
          return false;
        } else if constexpr (std::is_same_v<S, ast::Stmt::If>) {
          std::vector<PathOutcome> paths;
          for (const ast::Branch& branch : s.branches) {
            warn_bare_prob(checker, scope, branch.test);
            check_expr(checker, scope, assigned, branch.test);
            paths.push_back(check_block(checker, scope, branch.body, assigned));
          }
          if (s.otherwise) {
            paths.push_back(check_block(checker, scope, *s.otherwise, assigned));
          } else {
            paths.push_back({{}, false});
          }
          return merge_paths(assigned, paths);
        } else if constexpr (std::is_same_v<S, ast::Stmt::For>) {
          check_expr(checker, scope, assigned, s.iterable);
          const std::size_t before = assigned.mark();
          for (const ast::Ident& name : s.names) assigned.add(name.name);
          DepthGuard loop(scope.loop_depth);
          check_block(checker, scope, s.body, assigned);
          assigned.take_back(before);
          return false;
        } else if constexpr (std::is_same_v<S, ast::Stmt::Loop>) {
          DepthGuard loop(scope.loop_depth);
          check_block(checker, scope, s.body, assigned);
          return false;
        } else if constexpr (std::is_same_v<S, ast::Stmt::Until>) {
          if (s.verify && !(scope.unit_kind == UnitKind::Task && scope.block_depth == 1)) {
            push_error(checker, DiagnosticCode::Syntax,
                       "`verify` goes on an `until` directly in the task body, not " +
                           std::string(verify_misplacement(scope)) + " (spec section 7.4)",
                       s.span);
          }
          warn_bare_prob(checker, scope, s.test);
          check_expr(checker, scope, assigned, s.test);
          DepthGuard loop(scope.loop_depth);
          check_block(checker, scope, s.body, assigned);
          return false;
        } else if constexpr (std::is_same_v<S, ast::Stmt::Gate>) {
          if (scope.unit_kind == UnitKind::Def) {
            push_error(checker, DiagnosticCode::DefSideEffect,
                       "a `def` cannot `gate`; gates belong to tasks (spec section 8)", s.span);
          } else if (scope.unit_kind == UnitKind::Machine) {
            push_error(checker, DiagnosticCode::MachineGate,
                       "an action block cannot `gate`; the machine's thresholds gate every step (spec section 7.8)",
                       s.span);
          }
          if (!s.risk || !s.confidence) {
            push_error(checker, DiagnosticCode::GateArgs,
                       "a gate needs both `risk` and `confidence` (spec section 7.6)", s.span);
          }
          if (s.risk) check_expr(checker, scope, assigned, *s.risk);
          if (s.confidence) check_expr(checker, scope, assigned, *s.confidence);
          if (s.done) check_expr(checker, scope, assigned, *s.done);
          // The arms are walked as written; the merge takes one path per verdict, from the first arm with it.
          constexpr syntax::Verdict kVerdicts[] = {syntax::Verdict::Proceed, syntax::Verdict::Confirm,
                                                   syntax::Verdict::Escalate, syntax::Verdict::Stop};
          std::optional<PathOutcome> by_verdict[4];
          for (const ast::GateArm& arm : s.arms) {
            PathOutcome outcome = check_block(checker, scope, arm.body, assigned);
            auto slot = static_cast<std::size_t>(arm.verdict);
            if (slot < 4 && !by_verdict[slot]) by_verdict[slot] = std::move(outcome);
          }
          std::vector<PathOutcome> paths;
          for (syntax::Verdict verdict : kVerdicts) {
            auto slot = static_cast<std::size_t>(verdict);
            if (by_verdict[slot]) {
              paths.push_back(std::move(*by_verdict[slot]));
            } else {
              // A verdict without an arm: proceed and confirm carry on after the gate, escalate and stop pause.
              bool pauses = verdict == syntax::Verdict::Escalate || verdict == syntax::Verdict::Stop;
              paths.push_back({{}, pauses});
            }
          }
          return merge_paths(assigned, paths);
        } else if constexpr (std::is_same_v<S, ast::Stmt::Shape>) {
          check_immutable(checker, s.target, s.target_span);
          for (const ast::ShapeField& field : s.fields) {
            check_expr(checker, scope, assigned, field.value);
            warn_uncapped(checker, field);
          }
          forget_held_values(scope, s.target);
          assigned.add(s.target);
          return false;
        } else if constexpr (std::is_same_v<S, ast::Stmt::Return>) {
          if (scope.unit_kind == UnitKind::Machine) {
            push_error(checker, DiagnosticCode::Syntax,
                       "`return` belongs to defs and tasks, not machine actions (spec section 7.8)", s.span);
          }
          if (s.value) check_expr(checker, scope, assigned, *s.value);
          return true;
        } else if constexpr (std::is_same_v<S, ast::Stmt::Continue> || std::is_same_v<S, ast::Stmt::Break>) {
          if (scope.loop_depth == 0) {
            std::string word = std::is_same_v<S, ast::Stmt::Continue> ? "continue" : "break";
            push_error(checker, DiagnosticCode::LoopControlOutside,
                       "`" + word + "` outside a loop (spec section 5.5)", s.span);
          }
          return true;
        } else {
          static_assert(std::is_same_v<S, ast::Stmt::Stop> || std::is_same_v<S, ast::Stmt::Escalate>);
          if (scope.unit_kind == UnitKind::Def) {
            std::string word = std::is_same_v<S, ast::Stmt::Stop> ? "stop" : "escalate";
            push_error(checker, DiagnosticCode::DefSideEffect,
                       "a `def` cannot `" + word + "`; pauses belong to tasks (spec section 8)", s.span);
          }
          check_expr(checker, scope, assigned, s.reason);
          return true;
        }
      },
      stmt.node);
}

}  // namespace

BlockOutcome check_block(Checker& checker, Scope& scope, const ast::Block& block, AssignedSet& assigned) {
  DepthGuard depth(scope.block_depth);
  const std::size_t before = assigned.mark();
  BlockOutcome outcome;
  // Statements after one that diverges are still walked: their findings count, and so do their assignments
  // for the reads that follow them.
  for (const ast::Stmt& stmt : block.stmts) {
    if (check_stmt(checker, scope, stmt, assigned)) outcome.diverges = true;
  }
  outcome.added = assigned.take_back(before);
  return outcome;
}

}  // namespace dravelin::compiler::check
