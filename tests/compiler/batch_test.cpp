#include "compiler/batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"

namespace dravelin::compiler {
namespace {

using namespace ir;
using namespace ir::build;

const std::set<std::string> kCapabilities = {"files", "bot"};

// ---------------------------------------------------------------------------------------------------------------
// Builders for what ir_test_builders.h lacks.

SubjectStep field_step(std::string n) { return SubjectStep{SubjectStep::Field{std::move(n)}}; }
SubjectStep index_step(Expr i) { return SubjectStep{SubjectStep::Index{std::move(i)}}; }

Judge rate(Subject s, std::vector<Expr> situations) {
  std::vector<RateLevel> levels;
  for (Expr& situation : situations) levels.push_back(RateLevel{std::nullopt, std::move(situation), at(1)});
  return Judge{false, std::move(s), JudgeVerb{JudgeVerb::Rate{std::move(levels)}}, std::nullopt, kNoRequestGroup,
               at(1)};
}
Judge pick_among(Subject s, Expr question) {
  return Judge{false, std::move(s), JudgeVerb{JudgeVerb::PickAmong{std::move(question), std::nullopt, false}},
               std::nullopt, kNoRequestGroup, at(1)};
}
Judge feels_on(std::string root, std::string condition = "urgent") {
  return feels(subject(std::move(root)), text(std::move(condition)));
}
Judge pick_on(std::string root) {
  return pick(subject(std::move(root)), {label("yes", text("fits")), escape_label("other")});
}

Stmt judged_into(std::string target, Judge j) { return assign(std::move(target), judge_expr(std::move(j))); }
Stmt judged_path(std::string root, std::vector<std::string> path, Judge j) {
  return Stmt{Stmt::Assign{std::move(root), std::move(path), judge_expr(std::move(j)), at(1)}};
}
Expr call_named(std::string callee, std::vector<Expr> args = {}) {
  std::vector<Arg> as;
  for (Expr& a : args) as.push_back(arg(std::move(a)));
  return call(name(std::move(callee)), std::move(as));
}
Stmt shape_stmt(std::string target, std::vector<ShapeField> fields) {
  return Stmt{Stmt::Shape{std::move(target), false, std::move(fields), at(1)}};
}
ShapeField focus_field(std::string n, Expr text_value, Expr on) {
  Expr value = focus(std::move(text_value), on, 200);
  return shape_field(std::move(n), std::move(value), ShapePolicy{ShapePolicy::Focus{std::move(on)}});
}
Stmt for_stmt(std::vector<Stmt> body) {
  return Stmt{Stmt::For{{"item"}, name("items"), std::move(body), at(1)}};
}
Stmt until_stmt(std::vector<Stmt> body) {
  return Stmt{Stmt::Until{name("done"), false, 3, std::move(body), at(1)}};
}
Stmt gate_stmt(std::vector<std::vector<Stmt>> arm_bodies) {
  std::vector<GateArm> arms;
  Verdict verdicts[] = {Verdict::Proceed, Verdict::Confirm, Verdict::Escalate, Verdict::Stop};
  for (std::size_t i = 0; i < arm_bodies.size(); ++i) {
    arms.push_back(GateArm{verdicts[i], std::move(arm_bodies[i]), at(1)});
  }
  return Stmt{Stmt::Gate{name("risk"), name("confidence"), std::nullopt, std::move(arms), at(1)}};
}
Stmt if_elif_else(std::vector<Stmt> first, std::vector<Stmt> second, std::vector<Stmt> otherwise) {
  std::vector<Branch> branches;
  branches.push_back(Branch{name("p"), std::move(first), at(1)});
  branches.push_back(Branch{name("q"), std::move(second), at(1)});
  return Stmt{Stmt::If{std::move(branches), std::move(otherwise), at(1)}};
}

// ---------------------------------------------------------------------------------------------------------------
// Walks a body in statement order, nested bodies where they stand, and yields each assigned judgment's group.

void collect_groups(std::vector<Stmt>& body, std::vector<Judge*>& out);

void collect_groups_of(Stmt& s, std::vector<Judge*>& out) {
  if (auto* a = std::get_if<Stmt::Assign>(&s.node)) {
    if (auto* j = std::get_if<Expr::Judge>(&a->value.node)) out.push_back(&j->judge.get());
  } else if (auto* i = std::get_if<Stmt::If>(&s.node)) {
    for (Branch& b : i->branches) collect_groups(b.body, out);
    if (i->otherwise) collect_groups(*i->otherwise, out);
  } else if (auto* f = std::get_if<Stmt::For>(&s.node)) {
    collect_groups(f->body, out);
  } else if (auto* l = std::get_if<Stmt::Loop>(&s.node)) {
    collect_groups(l->body, out);
  } else if (auto* u = std::get_if<Stmt::Until>(&s.node)) {
    collect_groups(u->body, out);
  } else if (auto* g = std::get_if<Stmt::Gate>(&s.node)) {
    for (GateArm& arm : g->arms) collect_groups(arm.body, out);
  }
}

void collect_groups(std::vector<Stmt>& body, std::vector<Judge*>& out) {
  for (Stmt& s : body) collect_groups_of(s, out);
}

std::vector<uint32_t> groups_of(std::vector<Stmt>& body) {
  std::vector<Judge*> judges;
  collect_groups(body, judges);
  std::vector<uint32_t> groups;
  for (const Judge* j : judges) groups.push_back(j->request_group);
  return groups;
}

// ---------------------------------------------------------------------------------------------------------------
// expr_has_effect

struct EffectCase {
  const char* what;
  Expr expr;
  bool effect;
};

TEST(ExprHasEffect, FollowsTheEffectTable) {
  Expr def_call = call_named("summarise", {name("x")});
  const std::vector<EffectCase> cases = {
      {"number", num(1), false},
      {"bool", boolean(true), false},
      {"none", none(), false},
      {"name", name("x"), false},
      {"a bare capability name is only read", name("files"), false},
      {"trail", trail(3), false},
      {"focus", focus(name("notes"), text("goal"), 100), true},
      {"plain text", text("hello"), false},
      {"text interpolating a pure value", text({lit("n="), interp(call_named("len", {name("xs")}))}), false},
      {"text interpolating a def call", text({lit("s="), interp(def_call)}), true},
      {"list of pure items", list({num(1), name("x")}), false},
      {"list holding a focus", list({num(1), focus(name("x"), name("y"), 10)}), true},
      {"record of pure values", record({{"a", num(1)}}), false},
      {"record holding a def call", record({{"a", num(1)}, {"b", def_call}}), true},
      {"field of a capability", field(name("files"), "read"), true},
      {"field of an ordinary variable", field(name("x"), "read"), false},
      {"field named like a capability", field(name("x"), "files"), false},
      {"stop member of a variable", field(name("worker"), "stop"), true},
      {"observe member of a call result", field(call_named("len"), "observe"), true},
      {"stop member of a field", path("job", {"worker", "stop"}), false},
      {"stop member of a capability's field", path("files", {"worker", "stop"}), true},
      {"field of an effectful target", field(def_call, "size"), true},
      {"index by a literal", index(name("xs"), num(0)), false},
      {"index by a def call", index(name("xs"), def_call), true},
      {"index into an effectful target", index(def_call, num(0)), true},
      {"binary of pure operands", binary(BinaryOp::Add, name("a"), num(1)), false},
      {"binary with an effectful right", binary(BinaryOp::Add, name("a"), def_call), true},
      {"unary", unary(UnaryOp::Not, def_call), true},
      {"is", is(name("kind"), "bug"), false},
      {"is of an effect", is(def_call, "bug"), true},
      {"pure comprehension", comprehension(name("x"), {"x"}, name("xs"), binary(BinaryOp::Gt, name("x"), num(1))),
       false},
      {"comprehension with effectful element", comprehension(def_call, {"x"}, name("xs"), std::nullopt), true},
      {"comprehension with effectful iterable", comprehension(name("x"), {"x"}, def_call, std::nullopt), true},
      {"comprehension with effectful test", comprehension(name("x"), {"x"}, name("xs"), def_call), true},
      {"pure built-in", call_named("len", {name("xs")}), false},
      {"now and random count as pure", binary(BinaryOp::Add, call_named("now"), call_named("random")), false},
      {"pure built-in over an effect", call_named("join", {def_call}), true},
      {"built-in names compare byte for byte", call_named("Len", {name("xs")}), true},
      {"def, task or unknown unit", call_named("summarise"), true},
      {"capability called as a function", call_named("bot", {name("x")}), true},
      {"call through a field, capability or not", call(field(name("x"), "size")), true},
      {"call of an indexed callee with pure args", call(index(name("fs"), num(0)), {arg(num(1))}), false},
      {"call of an indexed callee with an effectful arg", call(index(name("fs"), num(0)), {arg(def_call)}), true},
      {"call of a call", call(def_call), true},
      {"judgment asked on a plain subject", judge_expr(feels_on("x")), false},
      {"judgment whose texts focus", judge_expr(feels(subject("x"), focus(name("a"), name("b"), 5))), false},
      {"log of a pure value", log(name("x"), {{"n", num(1)}}), false},
      {"log of an effect", log(def_call), true},
      {"log with an effectful field", log(name("x"), {{"n", def_call}}), true},
  };
  for (const EffectCase& c : cases) {
    EXPECT_EQ(expr_has_effect(c.expr, kCapabilities), c.effect) << c.what;
  }

  Expr indexed = judge_expr(feels(subject("xs", {index_step(def_call)}), text("urgent")));
  EXPECT_TRUE(expr_has_effect(indexed, kCapabilities));
  Expr fielded = judge_expr(feels(subject("xs", {field_step("a"), index_step(num(0))}), text("urgent")));
  EXPECT_FALSE(expr_has_effect(fielded, kCapabilities));
}

TEST(ExprHasEffect, CapabilityNamesComeBeforeTheBuiltIns) {
  // A capability declared under a built-in's name is called, not computed.
  Expr e = call_named("lines", {name("x")});
  EXPECT_FALSE(expr_has_effect(e, kCapabilities));
  EXPECT_TRUE(expr_has_effect(e, {"lines"}));
  // Capabilities are compared as they stand: a name bound under another one is not in the set.
  EXPECT_FALSE(expr_has_effect(field(name("outer_files"), "read"), kCapabilities));
  EXPECT_TRUE(expr_has_effect(call(field(name("outer_files"), "read")), kCapabilities));
}

// ---------------------------------------------------------------------------------------------------------------
// expr_read_names

struct ReadsCase {
  const char* what;
  Expr expr;
  std::set<std::string> names;
};

TEST(ExprReadNames, FollowsTheReadTable) {
  const std::vector<ReadsCase> cases = {
      {"name", name("x"), {"x"}},
      {"literals and trail", list({num(1), boolean(true), none(), trail(2)}), {}},
      {"text interpolations", text({lit("a"), interp(name("x")), lit("b"), interp(name("y"))}), {"x", "y"}},
      {"record values, not field names", record({{"k", name("v")}}), {"v"}},
      {"field and is read the target", list({path("s", {"a", "b"}), is(name("k"), "bug")}), {"s", "k"}},
      {"index and binary", list({index(name("xs"), name("i")), binary(BinaryOp::Sub, name("a"), name("b"))}),
       {"xs", "i", "a", "b"}},
      {"focus reads text and purpose", focus(name("notes"), name("goal"), 10), {"notes", "goal"}},
      {"unary", unary(UnaryOp::Neg, name("n")), {"n"}},
      {"call reads callee and arguments", call(name("f"), {arg(name("a")), named_arg("by", name("b"))}),
       {"f", "a", "b"}},
      {"comprehension drops its own names from element and test",
       comprehension(binary(BinaryOp::Add, name("k"), name("off")), {"k", "v"}, name("pairs"),
                     binary(BinaryOp::Gt, name("v"), name("limit"))),
       {"off", "pairs", "limit"}},
      {"comprehension keeps a bound name its iterable reads", comprehension(name("x"), {"x"}, name("x"), std::nullopt),
       {"x"}},
      {"judgment: subject root and index names only",
       judge_expr(feels(subject("rows", {index_step(name("i")), field_step("text")}),
                        text({lit("about "), interp(name("topic"))}))),
       {"rows", "i"}},
      {"log value and fields", log(name("x"), {{"n", name("y")}}), {"x", "y"}},
  };
  for (const ReadsCase& c : cases) {
    std::set<std::string> names;
    expr_read_names(c.expr, names);
    EXPECT_EQ(names, c.names) << c.what;
  }
}

TEST(ExprReadNames, AddsToTheGivenSetWithoutRemovingWhatItHeld) {
  // A comprehension's bound name shadows only inside it: a read of the same name gathered earlier stays.
  std::set<std::string> names = {"x", "kept"};
  expr_read_names(comprehension(name("x"), {"x"}, name("xs"), std::nullopt), names);
  EXPECT_EQ(names, (std::set<std::string>{"kept", "x", "xs"}));
}

// ---------------------------------------------------------------------------------------------------------------
// assign_request_groups

struct GroupCase {
  const char* what;
  std::vector<Stmt> body;
  std::vector<uint32_t> groups;  // of the assigned judgments, in statement order
};

// Runs the pass from a fresh counter and checks the groups, the counter and that nothing but groups changed.
void expect_groups(const GroupCase& c) {
  std::vector<Stmt> body = c.body;
  uint32_t counter = 0;
  assign_request_groups(body, kCapabilities, counter);
  std::vector<uint32_t> groups = groups_of(body);
  EXPECT_EQ(groups, c.groups) << c.what;
  uint32_t next = 0;
  for (uint32_t g : groups) next = std::max(next, g + 1);
  EXPECT_EQ(counter, next) << c.what;

  std::vector<Judge*> judges;
  collect_groups(body, judges);
  for (Judge* j : judges) j->request_group = kNoRequestGroup;
  EXPECT_EQ(body, c.body) << c.what << ": the pass changed more than request groups";
}

TEST(AssignRequestGroups, GroupsIndependentJudgmentsAndSplitsDependentOnes) {
  Expr def_call = call_named("lookup", {name("i")});
  const std::vector<GroupCase> cases = {
      {"three independent judgments in a row",
       {judged_into("a", feels_on("x")), judged_into("b", pick_on("x")),
        judged_into("c", rate(subject("y"), {text("calm"), text("angry")}))},
       {0, 0, 0}},
      {"a judgment on an earlier answer",
       {judged_into("a", feels_on("x")), judged_into("b", feels_on("a"))},
       {0, 1}},
      {"a judgment on a name written since the group opened",
       {judged_into("a", feels_on("x")), assign("n", call_named("len", {name("xs")})), judged_into("b", feels_on("n"))},
       {0, 1}},
      {"a pure assignment in between does not split an unrelated subject",
       {judged_into("a", feels_on("x")), assign("n", call_named("len", {name("xs")})), judged_into("b", feels_on("x"))},
       {0, 0}},
      {"a value derived from an answer joins the answers",
       {judged_into("a", feels_on("x")), assign("s", record({{"score", name("a")}})),
        judged_into("b", feels(subject("s", {field_step("score")}), text("high")))},
       {0, 1}},
      {"derivation is followed through a chain of assignments",
       {judged_into("a", feels_on("x")), assign("s", name("a")), assign("t", list({name("s")})),
        assign("u", num(1)), judged_into("b", feels_on("y")), judged_into("c", feels_on("t"))},
       {0, 0, 1}},
      {"a capability verb call in between splits",
       {judged_into("a", feels_on("x")), expr_stmt(call(field(name("files"), "write"), {arg(name("a"))})),
        judged_into("b", feels_on("x"))},
       {0, 1}},
      {"a log without effects does not split",
       {judged_into("a", feels_on("x")), expr_stmt(log(text({lit("got "), interp(name("a"))}))),
        judged_into("b", feels_on("x"))},
       {0, 0}},
      {"a judgment's subject index may call a def",
       {judged_into("a", feels_on("x")), judged_into("b", feels(subject("xs", {index_step(def_call)}), text("odd")))},
       {0, 0}},
      {"the same indexed read as an ordinary value splits",
       {judged_into("a", feels_on("x")), assign("v", index(name("xs"), def_call)), judged_into("b", feels_on("x"))},
       {0, 1}},
      {"a subject index reading a written name splits",
       {judged_into("a", feels_on("x")), assign("i", num(2)), judged_into("b", feels(subject("xs", {index_step(name("i"))}),
                                                                           text("odd")))},
       {0, 1}},
      {"names written before the group opened do not count",
       {assign("n", num(1)), judged_into("a", feels_on("x")), judged_into("b", feels_on("n"))},
       {0, 0}},
      {"an effect with no group open changes nothing",
       {expr_stmt(call_named("lookup")), judged_into("a", feels_on("x")), judged_into("b", feels_on("y"))},
       {0, 0}},
      {"an effectful assignment splits",
       {judged_into("a", feels_on("x")), assign("v", call_named("lookup")), judged_into("b", feels_on("x"))},
       {0, 1}},
      {"a judgment assigned to a path marks its root",
       {judged_path("r", {"kind"}, pick_on("x")), judged_into("b", feels_on("y")), judged_into("c", feels_on("r"))},
       {0, 0, 1}},
      {"a shape reading an answer joins the answers",
       {judged_into("a", feels_on("x")), shape_stmt("s", {shape_field("v", name("a"))}), judged_into("b", feels_on("s"))},
       {0, 1}},
      {"a shape of other values only writes its target",
       {judged_into("a", feels_on("x")), shape_stmt("s", {shape_field("v", name("notes"))}), judged_into("b", feels_on("y")),
        judged_into("c", feels_on("s"))},
       {0, 0, 1}},
      {"a focused shape field splits",
       {judged_into("a", feels_on("x")), shape_stmt("s", {focus_field("v", name("notes"), text("goal"))}),
        judged_into("b", feels_on("x"))},
       {0, 1}},
      {"an if splits, its branches number next, in order",
       {judged_into("a", feels_on("x")),
        if_elif_else({judged_into("b", feels_on("x")), judged_into("c", feels_on("y"))}, {judged_into("d", feels_on("x"))},
                     {judged_into("e", feels_on("x"))}),
        judged_into("f", feels_on("x")), judged_into("g", feels_on("y"))},
       {0, 1, 1, 2, 3, 4, 4}},
      {"loops and gates split and number their bodies",
       {judged_into("a", feels_on("x")), for_stmt({judged_into("b", feels_on("item"))}), judged_into("c", feels_on("x")),
        loop(3, {judged_into("d", feels_on("x")), brk()}), until_stmt({judged_into("e", feels_on("x"))}),
        gate_stmt({{judged_into("f", feels_on("x"))}, {judged_into("g", feels_on("x"))}}), judged_into("h", feels_on("x"))},
       {0, 1, 2, 3, 4, 5, 6, 7}},
      {"a body follows the same rules",
       {loop(2, {judged_into("a", feels_on("x")), judged_into("b", feels_on("y")), cont(), judged_into("c", feels_on("z"))})},
       {0, 0, 1}},
  };
  for (const GroupCase& c : cases) expect_groups(c);
}

TEST(AssignRequestGroups, EveryControlStatementCloses) {
  const std::vector<Stmt> closers = {
      if_stmt(name("p"), {}, std::nullopt),
      for_stmt({}),
      loop(1, {}),
      until_stmt({}),
      gate_stmt({}),
      return_stmt(name("a")),
      cont(),
      brk(),
      Stmt{Stmt::Stop{text("no"), at(1)}},
      Stmt{Stmt::Escalate{text("help"), at(1)}},
  };
  for (const Stmt& closer : closers) {
    GroupCase c{variant_name(closer).data(), {judged_into("a", feels_on("x")), closer, judged_into("b", feels_on("x"))}, {0, 1}};
    expect_groups(c);
  }
}

TEST(AssignRequestGroups, LaterQuestionTextsMustNotReadWhatTheGroupChanges) {
  // The runtime builds every question of a group where the group's first judgment stands, so a question whose
  // condition, labels, levels or details read an answer, or a name assigned since, must be asked later.
  Expr about_a = text({lit("related to "), interp(name("a"))});
  Expr about_topic = text({lit("about "), interp(name("topic"))});
  Judge with_detail = feels_on("y");
  with_detail.detail = Detail{};
  with_detail.detail->note = name("topic");
  const std::vector<GroupCase> cases = {
      {"a condition interpolating an earlier answer",
       {judged_into("a", pick_on("x")), judged_into("b", feels(subject("y"), about_a))},
       {0, 1}},
      {"a condition interpolating a name written in between",
       {judged_into("a", feels_on("x")), assign("topic", text("billing")), judged_into("b", feels(subject("y"), about_topic))},
       {0, 1}},
      {"a label description reading an answer",
       {judged_into("a", feels_on("x")), judged_into("b", pick(subject("y"), {label("fit", about_a), escape_label("other")}))},
       {0, 1}},
      {"a level situation reading an answer",
       {judged_into("a", feels_on("x")), judged_into("b", rate(subject("y"), {text("low"), about_a}))},
       {0, 1}},
      {"a pick among question reading an answer",
       {judged_into("a", feels_on("x")), judged_into("b", pick_among(subject("ys"), about_a))},
       {0, 1}},
      {"a detail reading a name written in between",
       {judged_into("a", feels_on("x")), assign("topic", text("billing")), judged_into("b", with_detail)},
       {0, 1}},
      {"texts reading names settled before the group do not split",
       {assign("topic", text("billing")), judged_into("a", feels_on("x")), judged_into("b", feels(subject("y"), about_topic))},
       {0, 0}},
  };
  for (const GroupCase& c : cases) expect_groups(c);
}

TEST(AssignRequestGroups, AJudgmentAssignedToANameTheGroupAlreadyJudgesStartsANewGroup) {
  // Answers are kept by the name they are assigned to: two judgments of one group assigned to one name would
  // both receive the later question's answer, and anything copied from the first in between would too.
  const std::vector<GroupCase> cases = {
      {"the same name judged twice in a row",
       {judged_into("a", feels_on("x")), judged_into("a", feels_on("y"))},
       {0, 1}},
      {"a copy of the first answer in between",
       {judged_into("a", feels_on("x")), assign("b", name("a")), judged_into("a", feels_on("y")), judged_into("c", feels_on("z"))},
       {0, 1, 1}},
      {"the repeated name may be the group's second judgment",
       {judged_into("a", feels_on("x")), judged_into("b", pick_on("y")), judged_into("b", feels_on("z"))},
       {0, 0, 1}},
      {"a repeated path root counts too",
       {judged_path("r", {"kind"}, pick_on("x")), judged_path("r", {"tone"}, feels_on("y"))},
       {0, 1}},
      {"a name only written by an ordinary assignment does not split",
       {judged_into("a", feels_on("x")), assign("b", num(1)), judged_into("b", feels_on("y"))},
       {0, 0}},
      {"a name derived from an answer does not split",
       {judged_into("a", feels_on("x")), assign("s", name("a")), judged_into("s", feels_on("y"))},
       {0, 0}},
      {"the same name in the next group is fine again",
       {judged_into("a", feels_on("x")), judged_into("a", feels_on("y")), judged_into("b", feels_on("z")),
        judged_into("a", feels_on("w"))},
       {0, 1, 1, 2}},
  };
  for (const GroupCase& c : cases) expect_groups(c);
}

TEST(AssignRequestGroups, OnlyAWholeRightHandSideIsNumbered) {
  std::vector<Stmt> body = {
      judged_into("a", feels_on("x")),
      assign("both", list({judge_expr(feels_on("y"))})),
      expr_stmt(judge_expr(feels_on("z"))),
      judged_into("b", feels_on("x")),
  };
  uint32_t counter = 0;
  assign_request_groups(body, kCapabilities, counter);
  auto nested = [](const Stmt& s) -> const Judge& {
    if (const auto* a = std::get_if<Stmt::Assign>(&s.node)) {
      return *std::get<Expr::Judge>(std::get<Expr::List>(a->value.node).items[0].node).judge;
    }
    return *std::get<Expr::Judge>(std::get<Stmt::Expr>(s.node).expr.node).judge;
  };
  EXPECT_EQ(nested(body[1]).request_group, kNoRequestGroup);
  EXPECT_EQ(nested(body[2]).request_group, kNoRequestGroup);
  // Neither statement has an effect, so the group stays open around them.
  EXPECT_EQ(groups_of(body), (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(counter, 1u);
}

TEST(AssignRequestGroups, TheCounterRunsOnAcrossCallsOfOneUnit) {
  // The transitions of one machine share a counter; a unit whose counter starts afresh numbers from 0 again.
  std::vector<Stmt> first = {judged_into("a", feels_on("x")), judged_into("b", feels_on("y"))};
  std::vector<Stmt> second = {judged_into("c", feels_on("x")), expr_stmt(call_named("lookup")), judged_into("d", feels_on("x"))};
  std::vector<Stmt> empty;
  uint32_t counter = 0;
  assign_request_groups(first, kCapabilities, counter);
  assign_request_groups(empty, kCapabilities, counter);
  assign_request_groups(second, kCapabilities, counter);
  EXPECT_EQ(groups_of(first), (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(groups_of(second), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(counter, 3u);

  std::vector<Stmt> other_unit = {judged_into("e", feels_on("x"))};
  uint32_t fresh = 0;
  assign_request_groups(other_unit, kCapabilities, fresh);
  EXPECT_EQ(groups_of(other_unit), (std::vector<uint32_t>{0}));
}

}  // namespace
}  // namespace dravelin::compiler
