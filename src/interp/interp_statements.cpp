// Statement execution: blocks, assignments (with the judgment batch rule), branches, the three loops and their
// step charge, shape, return, continue, break, stop and escalate.
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "interp/interpreter_internal.h"

namespace dravelin::interp {

using ir::Stmt;
using runtime::RuntimeErrorCode;

namespace {

const Span& span_of(const Stmt& stmt) {
  return std::visit([](const auto& node) -> const Span& { return node.span; }, stmt.node);
}

const ir::Judge* judgment_of(const Stmt& stmt) {
  const auto* assign = std::get_if<Stmt::Assign>(&stmt.node);
  if (assign == nullptr || !assign->path.empty()) return nullptr;
  const auto* judge = std::get_if<ir::Expr::Judge>(&assign->value.node);
  return judge != nullptr ? &*judge->judge : nullptr;
}

}  // namespace

// ---- evaluation ----

Step<Value> Interpreter::eval(const ir::Expr& expr, Scopes& scopes) {
  runtime::EvalContext ctx = context();
  ValueResult value = runtime::eval_expr(ctx, expr, scopes);
  if (!value.ok()) return err(interrupt_of(std::move(value).error()));
  return std::move(*value);
}

Step<bool> Interpreter::truthy(const ir::Expr& expr, Scopes& scopes) {
  const Value value = TRY(eval(expr, scopes));
  return value.truthy();
}

Step<double> Interpreter::eval_number(const ir::Expr& expr, Scopes& scopes, std::string_view what) {
  const Value value = TRY(eval(expr, scopes));
  if (const auto number = value.if_numeric()) return *number;
  return err(
      fail(runtime::make_runtime_error(RuntimeErrorCode::TypeError, "expected a number for " + std::string(what) +
                                                                        ", got " + std::string(value.type_word()))));
}

// ---- blocks ----

Flow Interpreter::exec_block(Scopes& scopes, const std::vector<Stmt>& body) {
  // Judgments of one request group asked here and not yet assigned; they live as long as the block, which makes
  // the cache only when it asks some.
  std::optional<BatchCache> cache;
  for (size_t i = 0; i < body.size(); ++i) {
    current_span_ = span_of(body[i]);
    Flow flow = exec_stmt(scopes, body, i, cache);
    if (!flow.is_normal()) return flow;
  }
  return Flow::normal();
}

Flow Interpreter::exec_scoped(Scopes& scopes, const std::vector<Stmt>& body) {
  scopes.push_frame();
  Flow flow = exec_block(scopes, body);
  scopes.pop_frame();
  return flow;
}

Flow Interpreter::exec_stmt(Scopes& scopes, const std::vector<Stmt>& body, size_t index,
                            std::optional<BatchCache>& cache) {
  const Stmt& stmt = body[index];
  return std::visit(
      [&](const auto& node) -> Flow {
        using S = std::decay_t<decltype(node)>;
        if constexpr (std::is_same_v<S, Stmt::Assign>) {
          if (judgment_of(stmt) != nullptr) return exec_judgment_assign(scopes, body, index, cache);
          return exec_assign(scopes, node);
        } else if constexpr (std::is_same_v<S, Stmt::Expr>) {
          auto value = eval(node.expr, scopes);
          if (!value.ok()) return Flow::interrupt(std::move(value).error());
          return Flow::normal();
        } else if constexpr (std::is_same_v<S, Stmt::If>) {
          return exec_if(scopes, node);
        } else if constexpr (std::is_same_v<S, Stmt::For>) {
          return exec_for(scopes, node);
        } else if constexpr (std::is_same_v<S, Stmt::Loop>) {
          return exec_loop(scopes, node);
        } else if constexpr (std::is_same_v<S, Stmt::Until>) {
          return exec_until(scopes, node);
        } else if constexpr (std::is_same_v<S, Stmt::Gate>) {
          return exec_gate(scopes, node);
        } else if constexpr (std::is_same_v<S, Stmt::Shape>) {
          return exec_shape(scopes, node);
        } else if constexpr (std::is_same_v<S, Stmt::Return>) {
          if (!node.value) return Flow::returning(Value::none());
          auto value = eval(*node.value, scopes);
          if (!value.ok()) return Flow::interrupt(std::move(value).error());
          return Flow::returning(std::move(*value));
        } else if constexpr (std::is_same_v<S, Stmt::Continue>) {
          return Flow::of(Flow::Kind::Continue);
        } else if constexpr (std::is_same_v<S, Stmt::Break>) {
          return Flow::of(Flow::Kind::Break);
        } else if constexpr (std::is_same_v<S, Stmt::Stop>) {
          auto reason = eval(node.reason, scopes);
          if (!reason.ok()) return Flow::interrupt(std::move(reason).error());
          return Flow::interrupt(stop(reason->to_text(), node.span));
        } else {
          static_assert(std::is_same_v<S, Stmt::Escalate>);
          return exec_escalate(scopes, node);
        }
      },
      stmt.node);
}

// ---- assignments ----

Flow Interpreter::exec_assign(Scopes& scopes, const Stmt::Assign& assign) {
  auto value = eval(assign.value, scopes);
  if (!value.ok()) return Flow::interrupt(std::move(value).error());
  if (assign.path.empty()) {
    scopes.assign(runtime::WrittenName{assign.root}, std::move(*value));
    return Flow::normal();
  }
  auto assigned = scopes.assign_path(runtime::WrittenName{assign.root}, assign.path, std::move(*value));
  if (!assigned.ok()) return Flow::interrupt(interrupt_of(std::move(assigned).error()));
  return Flow::normal();
}

// Judgments assigned in one request group of a block are asked in one request plan when the first of them is
// reached; the later ones take their values from the block's cache.
Flow Interpreter::exec_judgment_assign(Scopes& scopes, const std::vector<Stmt>& body, size_t index,
                                       std::optional<BatchCache>& cache) {
  const auto& assign = std::get<Stmt::Assign>(body[index].node);
  const uint32_t group = judgment_of(body[index])->request_group;
  if (cache) {
    if (auto cached = cache->find(group); cached != cache->end()) {
      if (auto entry = cached->second.find(assign.root); entry != cached->second.end()) {
        Value value = std::move(entry->second);
        cached->second.erase(entry);
        scopes.assign(runtime::WrittenName{assign.root}, std::move(value));
        return Flow::normal();
      }
    }
  }

  std::vector<zem::NamedJudge> judges;
  for (size_t i = index; i < body.size(); ++i) {
    const ir::Judge* judge = judgment_of(body[i]);
    if (judge == nullptr || judge->request_group != group) continue;
    const std::string& root = std::get<Stmt::Assign>(body[i].node).root;
    // A name judged twice closes the group: the later question is asked when its own statement is reached,
    // so that each assignment gets its own answer. A judgment outside every group is asked alone.
    bool repeated = false;
    for (const zem::NamedJudge& earlier : judges) repeated = repeated || earlier.name == root;
    if (repeated) break;
    judges.push_back(zem::NamedJudge{root, judge});
    if (group == ir::kNoRequestGroup) break;
  }
  auto answers = ask_judgments(scopes, judges, std::nullopt);
  if (!answers.ok()) return Flow::interrupt(interrupt_of(std::move(answers).error()));
  Value value;
  if (auto entry = answers->find(assign.root); entry != answers->end()) {
    value = std::move(entry->second);
    answers->erase(entry);
  }
  if (!cache) cache.emplace();
  (*cache)[group] = std::move(*answers);
  scopes.assign(runtime::WrittenName{assign.root}, std::move(value));
  return Flow::normal();
}

// ---- branches and loops ----

Flow Interpreter::exec_if(Scopes& scopes, const Stmt::If& stmt) {
  for (const ir::Branch& branch : stmt.branches) {
    auto test = truthy(branch.test, scopes);
    if (!test.ok()) return Flow::interrupt(std::move(test).error());
    if (*test) return exec_scoped(scopes, branch.body);
  }
  if (stmt.otherwise) return exec_scoped(scopes, *stmt.otherwise);
  return Flow::normal();
}

Step<Unit> Interpreter::charge_step() {
  if (frames_.empty()) return Unit{};
  const Frame& frame = innermost_frame();
  if (frame.kind != FrameKind::Task || frame.loop_depth != 1) return Unit{};
  TRY(check_budget(BudgetKey::Steps, 1));
  // Checking may pause and resume, but never changes which frames stand.
  innermost_frame().account->steps_used += 1;
  return Unit{};
}

namespace {

// Opens a loop on the frame that is innermost when it starts, and closes it there whatever way it ends.
class LoopDepth {
 public:
  explicit LoopDepth(std::vector<Frame>& frames) : frames_(frames), index_(frames.size()) {
    if (index_-- > 0) ++frames_[index_].loop_depth;
  }
  ~LoopDepth() {
    if (index_ < frames_.size() && frames_[index_].loop_depth > 0) --frames_[index_].loop_depth;
  }
  LoopDepth(const LoopDepth&) = delete;
  LoopDepth& operator=(const LoopDepth&) = delete;

 private:
  std::vector<Frame>& frames_;
  size_t index_;
};

// What a loop does with the flow of one iteration: go on, or end with the returned flow.
bool ends_loop(Flow& flow) {
  switch (flow.kind) {
    case Flow::Kind::Normal:
    case Flow::Kind::Continue: return false;
    case Flow::Kind::Break: flow = Flow::normal(); return true;
    default: return true;
  }
}

}  // namespace

Flow Interpreter::exec_for(Scopes& scopes, const Stmt::For& stmt) {
  auto iterable = eval(stmt.iterable, scopes);
  if (!iterable.ok()) return Flow::interrupt(std::move(iterable).error());
  const runtime::List* items = std::as_const(*iterable).if_list();
  if (items == nullptr) {
    return Flow::interrupt(fail(runtime::expected_type_error("a list to iterate", *iterable)));
  }
  LoopDepth depth(frames_);
  for (const Value& item : *items) {
    if (auto charged = charge_step(); !charged.ok()) return Flow::interrupt(std::move(charged).error());
    scopes.push_frame();
    auto bound = runtime::unpack_written(scopes, stmt.names, item);
    if (!bound.ok()) {
      scopes.pop_frame();
      return Flow::interrupt(interrupt_of(std::move(bound).error()));
    }
    Flow flow = exec_block(scopes, stmt.body);
    scopes.pop_frame();
    if (ends_loop(flow)) return flow;
  }
  return Flow::normal();
}

Flow Interpreter::exec_loop(Scopes& scopes, const Stmt::Loop& stmt) {
  LoopDepth depth(frames_);
  for (double count = 0; count < stmt.max; count += 1) {
    if (auto charged = charge_step(); !charged.ok()) return Flow::interrupt(std::move(charged).error());
    Flow flow = exec_scoped(scopes, stmt.body);
    if (ends_loop(flow)) return flow;
  }
  return Flow::normal();
}

Flow Interpreter::exec_until(Scopes& scopes, const Stmt::Until& stmt) {
  LoopDepth depth(frames_);
  for (double count = 0;; count += 1) {
    if (stmt.verify) {
      if (BudgetAccount* account = nearest_task_account()) account->verify_started = true;
    }
    auto test = truthy(stmt.test, scopes);
    if (!test.ok()) return Flow::interrupt(std::move(test).error());
    if (*test) {
      if (stmt.verify) {
        if (BudgetAccount* account = nearest_task_account()) account->verify_passed = true;
      }
      return Flow::normal();
    }
    if (count >= stmt.max) return Flow::normal();
    if (auto charged = charge_step(); !charged.ok()) return Flow::interrupt(std::move(charged).error());
    Flow flow = exec_scoped(scopes, stmt.body);
    if (ends_loop(flow)) return flow;
  }
}

// ---- shape, escalate ----

Flow Interpreter::exec_shape(Scopes& scopes, const Stmt::Shape& stmt) {
  runtime::Record shaped;
  for (const ir::ShapeField& field : stmt.fields) {
    auto value = eval(field.value, scopes);
    if (!value.ok()) return Flow::interrupt(std::move(value).error());
    if (field.max) {
      value = hold_to_cap(field, std::move(*value), stmt.strict, scopes);
      if (!value.ok()) return Flow::interrupt(std::move(value).error());
    }
    shaped.insert_or_assign(field.name, std::move(*value));
  }
  auto record = runtime::within_bounds(Value::record(std::move(shaped)));
  if (!record.ok()) return Flow::interrupt(fail(runtime::with_span_if_missing(std::move(record).error(), stmt.span)));
  scopes.assign(runtime::WrittenName{stmt.target}, std::move(*record));
  return Flow::normal();
}

Flow Interpreter::exec_escalate(Scopes& scopes, const Stmt::Escalate& stmt) {
  auto reason = eval(stmt.reason, scopes);
  if (!reason.ok()) return Flow::interrupt(std::move(reason).error());
  auto raised = raise_pause(Pause{pause_common_here(stmt.span), Pause::Escalate{reason->to_text(), {}}});
  if (!raised.ok()) return Flow::interrupt(std::move(raised).error());
  return Flow::normal();
}

}  // namespace dravelin::interp
