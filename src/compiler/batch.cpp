#include "compiler/batch.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <type_traits>
#include <variant>

namespace dravelin::compiler {

namespace {

using namespace ir;

// Built-ins that only compute from their arguments. `now` and `random` read the clock and the generator, but
// the runtime serves both from its journal, so they never force a judgment out of its group.
constexpr std::array<std::string_view, 23> kBatchPureBuiltins = {
    "len",  "max",  "min",  "sum",   "top",   "now",   "zip",    "join",   "head",   "tail",  "hash", "keys",
    "text", "bool", "count", "split", "lines", "chunk", "items", "tokens", "random", "values", "number"};

bool batch_is_pure_builtin(const std::string& name) {
  return std::find(kBatchPureBuiltins.begin(), kBatchPureBuiltins.end(), name) != kBatchPureBuiltins.end();
}

bool batch_meets(const std::set<std::string>& a, const std::set<std::string>& b) {
  const std::set<std::string>& small = a.size() <= b.size() ? a : b;
  const std::set<std::string>& large = a.size() <= b.size() ? b : a;
  return std::any_of(small.begin(), small.end(), [&](const std::string& n) { return large.count(n) > 0; });
}

class BatchEffectProbe {
 public:
  explicit BatchEffectProbe(const std::set<std::string>& capabilities) : capabilities_(capabilities) {}

  bool operator()(const Expr& e) const { return std::visit(*this, e.node); }

  bool operator()(const Expr::Number&) const { return false; }
  bool operator()(const Expr::Bool&) const { return false; }
  bool operator()(const Expr::None&) const { return false; }
  bool operator()(const Expr::Name&) const { return false; }
  bool operator()(const Expr::Trail&) const { return false; }
  bool operator()(const Expr::Focus&) const { return true; }
  bool operator()(const Expr::Text& e) const {
    return std::any_of(e.parts.begin(), e.parts.end(), [this](const TextPart& part) {
      const auto* inter = std::get_if<TextPart::Interpolation>(&part.node);
      return inter != nullptr && (*this)(inter->expr);
    });
  }
  bool operator()(const Expr::List& e) const {
    return std::any_of(e.items.begin(), e.items.end(), [this](const Expr& item) { return (*this)(item); });
  }
  bool operator()(const Expr::Record& e) const { return any_field(e.fields); }
  bool operator()(const Expr::Field& e) const {
    if (const auto* target = std::get_if<Expr::Name>(&e.target->node)) {
      if (capabilities_.count(target->name) > 0) return true;
    }
    // `worker.stop` and `worker.observe` act on whatever the target holds (a handle, say).
    if ((e.name == "stop" || e.name == "observe") && !std::holds_alternative<Expr::Field>(e.target->node)) {
      return true;
    }
    return (*this)(*e.target);
  }
  bool operator()(const Expr::Index& e) const { return (*this)(*e.target) || (*this)(*e.index); }
  bool operator()(const Expr::Binary& e) const { return (*this)(*e.left) || (*this)(*e.right); }
  bool operator()(const Expr::Unary& e) const { return (*this)(*e.operand); }
  bool operator()(const Expr::Is& e) const { return (*this)(*e.target); }
  bool operator()(const Expr::Comprehension& e) const {
    return (*this)(*e.expr) || (*this)(*e.iterable) || (e.test && (*this)(**e.test));
  }
  bool operator()(const Expr::Call& e) const {
    if (const auto* callee = std::get_if<Expr::Name>(&e.callee->node)) {
      if (capabilities_.count(callee->name) > 0) return true;
      // A def, task or judgment unit may do anything; so may a name nothing here knows.
      if (!batch_is_pure_builtin(callee->name)) return true;
      return any_arg(e.args);
    }
    // A call through a field is a capability verb or a member of a handle.
    if (std::holds_alternative<Expr::Field>(e.callee->node)) return true;
    return (*this)(*e.callee) || any_arg(e.args);
  }
  // Asking the question is the group's business; only computing where its subject lies could act.
  bool operator()(const Expr::Judge& e) const {
    return std::any_of(e.judge->subject.path.begin(), e.judge->subject.path.end(), [this](const SubjectStep& step) {
      const auto* index = std::get_if<SubjectStep::Index>(&step.node);
      return index != nullptr && (*this)(index->index);
    });
  }
  // Writing the log line is not an effect that a judgment could observe.
  bool operator()(const Expr::Log& e) const { return (*this)(*e.value) || any_field(e.fields); }

 private:
  bool any_field(const std::vector<RecordField>& fields) const {
    return std::any_of(fields.begin(), fields.end(), [this](const RecordField& f) { return (*this)(f.value); });
  }
  bool any_arg(const std::vector<Arg>& args) const {
    return std::any_of(args.begin(), args.end(), [this](const Arg& a) { return (*this)(a.value); });
  }

  const std::set<std::string>& capabilities_;
};

class BatchReadCollector {
 public:
  explicit BatchReadCollector(std::set<std::string>& names) : names_(names) {}

  void operator()(const Expr& e) const { std::visit(*this, e.node); }

  void operator()(const Expr::Name& e) const { names_.insert(e.name); }
  void operator()(const Expr::Number&) const {}
  void operator()(const Expr::Bool&) const {}
  void operator()(const Expr::None&) const {}
  void operator()(const Expr::Trail&) const {}
  void operator()(const Expr::Text& e) const {
    for (const TextPart& part : e.parts) {
      if (const auto* inter = std::get_if<TextPart::Interpolation>(&part.node)) (*this)(inter->expr);
    }
  }
  void operator()(const Expr::List& e) const {
    for (const Expr& item : e.items) (*this)(item);
  }
  void operator()(const Expr::Record& e) const { fields(e.fields); }
  void operator()(const Expr::Field& e) const { (*this)(*e.target); }
  void operator()(const Expr::Is& e) const { (*this)(*e.target); }
  void operator()(const Expr::Index& e) const {
    (*this)(*e.target);
    (*this)(*e.index);
  }
  void operator()(const Expr::Binary& e) const {
    (*this)(*e.left);
    (*this)(*e.right);
  }
  void operator()(const Expr::Focus& e) const {
    (*this)(*e.text);
    (*this)(*e.on);
  }
  void operator()(const Expr::Unary& e) const { (*this)(*e.operand); }
  void operator()(const Expr::Call& e) const {
    (*this)(*e.callee);
    for (const Arg& arg : e.args) (*this)(arg.value);
  }
  void operator()(const Expr::Comprehension& e) const {
    (*this)(*e.iterable);
    // The bound names shadow outer variables only inside the element and the test, so they are removed from
    // what those two read, never from the iterable's reads or from names gathered before.
    std::set<std::string> inner;
    BatchReadCollector inner_reads(inner);
    inner_reads(*e.expr);
    if (e.test) inner_reads(**e.test);
    for (const std::string& bound : e.names) inner.erase(bound);
    names_.insert(inner.begin(), inner.end());
  }
  void operator()(const Expr::Judge& e) const { subject(e.judge->subject); }
  void operator()(const Expr::Log& e) const {
    (*this)(*e.value);
    fields(e.fields);
  }

  void subject(const Subject& s) const {
    names_.insert(s.root);
    for (const SubjectStep& step : s.path) {
      if (const auto* index = std::get_if<SubjectStep::Index>(&step.node)) (*this)(index->index);
    }
  }

  // Every name the question reads when the runtime builds it: the subject, and also the condition, the label and
  // level texts, the `pick among` question and the details. The runtime evaluates all of a group's questions
  // together, where the group's first judgment stands, so a later question's texts must not depend on anything
  // assigned since then either.
  void question(const Judge& j) const {
    subject(j.subject);
    std::visit(
        [this](const auto& verb) {
          using V = std::decay_t<decltype(verb)>;
          if constexpr (std::is_same_v<V, JudgeVerb::Feels>) {
            (*this)(verb.condition);
          } else if constexpr (std::is_same_v<V, JudgeVerb::Pick>) {
            for (const PickLabel& label : verb.labels) {
              optional(label.description);
              optional(label.what);
              optional(label.not_for);
              optional(label.examples);
            }
          } else if constexpr (std::is_same_v<V, JudgeVerb::Rate>) {
            for (const RateLevel& level : verb.levels) (*this)(level.situation);
          } else {
            static_assert(std::is_same_v<V, JudgeVerb::PickAmong>);
            (*this)(verb.question);
          }
        },
        j.verb.node);
    if (j.detail) {
      optional(j.detail->focus);
      optional(j.detail->note);
      optional(j.detail->compare);
      optional(j.detail->yes);
      optional(j.detail->no);
    }
  }

 private:
  void fields(const std::vector<RecordField>& fs) const {
    for (const RecordField& f : fs) (*this)(f.value);
  }
  void optional(const std::optional<Expr>& e) const {
    if (e) (*this)(*e);
  }

  std::set<std::string>& names_;
};

// The group being gathered in one statement list.
struct BatchOpenGroup {
  bool open = false;
  uint32_t id = 0;
  std::set<std::string> result_names;   // assigned from the group's answers, or from values that read them
  std::set<std::string> written_names;  // assigned by ordinary statements since the group opened
  std::set<std::string> judged_roots;   // assigned by the group's own judgments

  void close() {
    open = false;
    result_names.clear();
    written_names.clear();
    judged_roots.clear();
  }
};

class BatchPass {
 public:
  BatchPass(const std::set<std::string>& capabilities, uint32_t& counter)
      : capabilities_(capabilities), counter_(counter) {}

  // Each list starts with no group open; groups never reach into or out of a nested body.
  void run(std::vector<Stmt>& stmts) {
    BatchOpenGroup group;
    for (Stmt& s : stmts) std::visit([&](auto& node) { step(node, group); }, s.node);
  }

 private:
  bool has_effect(const Expr& e) const { return expr_has_effect(e, capabilities_); }

  void step(Stmt::Assign& s, BatchOpenGroup& group) {
    if (auto* question = std::get_if<Expr::Judge>(&s.value.node)) {
      judgment(s.root, *question->judge, group);
      return;
    }
    if (has_effect(s.value)) {
      group.close();
      return;
    }
    if (!group.open) return;
    std::set<std::string> reads;
    expr_read_names(s.value, reads);
    written(s.root, reads, group);
  }

  void judgment(const std::string& target, Judge& question, BatchOpenGroup& group) {
    std::set<std::string> reads;
    BatchReadCollector{reads}.question(question);
    // The runtime keeps a group's answers by the names they are assigned to, so two judgments of one group
    // assigned to the same name would both get the later one's answer: a repeated root starts a new group.
    if (group.open && (batch_meets(reads, group.result_names) || batch_meets(reads, group.written_names) ||
                       group.judged_roots.count(target) > 0)) {
      group.close();
    }
    if (!group.open) {
      group.open = true;
      group.id = counter_++;
    }
    question.request_group = group.id;
    group.result_names.insert(target);
    group.judged_roots.insert(target);
  }

  void written(const std::string& target, const std::set<std::string>& reads, BatchOpenGroup& group) {
    group.written_names.insert(target);
    if (batch_meets(reads, group.result_names)) group.result_names.insert(target);
  }

  void step(Stmt::Expr& s, BatchOpenGroup& group) {
    if (has_effect(s.expr)) group.close();
  }

  void step(Stmt::Shape& s, BatchOpenGroup& group) {
    bool effect = std::any_of(s.fields.begin(), s.fields.end(), [this](const ShapeField& f) {
      if (has_effect(f.value)) return true;
      const auto* focus = std::get_if<ShapePolicy::Focus>(&f.policy.node);
      return focus != nullptr && has_effect(focus->on);
    });
    if (effect) {
      group.close();
      return;
    }
    if (!group.open) return;
    std::set<std::string> reads;
    for (const ShapeField& f : s.fields) expr_read_names(f.value, reads);
    written(s.target, reads, group);
  }

  // Control flow closes the group before its bodies: their tests and iterables are never examined.
  void step(Stmt::If& s, BatchOpenGroup& group) {
    group.close();
    for (Branch& branch : s.branches) run(branch.body);
    if (s.otherwise) run(*s.otherwise);
  }
  void step(Stmt::For& s, BatchOpenGroup& group) {
    group.close();
    run(s.body);
  }
  void step(Stmt::Loop& s, BatchOpenGroup& group) {
    group.close();
    run(s.body);
  }
  void step(Stmt::Until& s, BatchOpenGroup& group) {
    group.close();
    run(s.body);
  }
  void step(Stmt::Gate& s, BatchOpenGroup& group) {
    group.close();
    for (GateArm& arm : s.arms) run(arm.body);
  }
  void step(Stmt::Return&, BatchOpenGroup& group) { group.close(); }
  void step(Stmt::Continue&, BatchOpenGroup& group) { group.close(); }
  void step(Stmt::Break&, BatchOpenGroup& group) { group.close(); }
  void step(Stmt::Stop&, BatchOpenGroup& group) { group.close(); }
  void step(Stmt::Escalate&, BatchOpenGroup& group) { group.close(); }

  const std::set<std::string>& capabilities_;
  uint32_t& counter_;
};

}  // namespace

void assign_request_groups(std::vector<ir::Stmt>& stmts, const std::set<std::string>& capability_names,
                           uint32_t& counter) {
  BatchPass(capability_names, counter).run(stmts);
}

bool expr_has_effect(const ir::Expr& expr, const std::set<std::string>& capability_names) {
  return BatchEffectProbe(capability_names)(expr);
}

void expr_read_names(const ir::Expr& expr, std::set<std::string>& names) { BatchReadCollector{names}(expr); }

}  // namespace dravelin::compiler
