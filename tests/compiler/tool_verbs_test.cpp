#include "compiler/tool_verbs.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"

namespace dravelin::compiler {
namespace {

using namespace ir;
using namespace ir::build;

// A program whose root declares the tool `files`, the agent `bot` and the tool `web`.
Ir with_needs() {
  Ir ir = Ir::empty_named("p");
  ir.needs.push_back(need("web", NeedKind::Tool));
  ir.needs.push_back(need("files", NeedKind::Tool));
  ir.needs.push_back(need("bot", NeedKind::Agent));
  return ir;
}

Ir with_main(std::vector<Stmt> body) {
  Ir ir = with_needs();
  ir.tasks.push_back(task("main", std::move(body)));
  return ir;
}

Expr verb(std::string v) { return field(name("files"), std::move(v)); }

TEST(UsedToolVerbs, OneEntryPerDeclaredToolAndNoOther) {
  Ir ir = Ir::empty_named("p");
  ir.needs.push_back(need("web", NeedKind::Tool));
  ir.needs.push_back(need("bot", NeedKind::Agent));
  ir.needs.push_back(need("boss", NeedKind::Person));
  ir.needs.push_back(need("model", NeedKind::Llm));
  ir.needs.push_back(need("files", NeedKind::Tool));
  // Members of the other kinds and of a capability the root does not declare never show up.
  ir.tasks.push_back(task("main", {expr_stmt(call(field(name("bot"), "run"))), expr_stmt(field(name("boss"), "ask")),
                                   expr_stmt(call(field(name("model"), "generate"))),
                                   expr_stmt(call(field(name("fs"), "read")))}));
  EXPECT_EQ(used_tool_verbs(ir), (ToolVerbs{{"files", {}}, {"web", {}}}));
  EXPECT_EQ(used_tool_verbs(Ir::empty_named("p")), ToolVerbs{});
}

TEST(UsedToolVerbs, RecordsEachMemberAccessOfAToolOnceInByteOrder) {
  Ir ir = with_main({
      expr_stmt(call(verb("read"), {arg(name("path"))})),    // called
      assign("f", verb("write")),                              // as a plain value
      assign("n", field(verb("stat"), "size")),                // only the tool's own member counts
      expr_stmt(call(verb("read"))),                           // again
      expr_stmt(call(field(name("web"), "fetch"))),
      expr_stmt(call(field(name("web"), "Fetch"))),
      expr_stmt(field(field(name("x"), "files"), "delete")),   // `files` here is a field, not the tool
  });
  EXPECT_EQ(used_tool_verbs(ir),
            (ToolVerbs{{"files", {"read", "stat", "write"}}, {"web", {"Fetch", "fetch"}}}));
}

// Each case puts `files.v` in one place of the program; the walk must find it there.
TEST(UsedToolVerbs, FindsAVerbWhereverAnExpressionCanStand) {
  using Place = std::function<Ir(Expr)>;
  auto in_expr = [](std::function<Expr(Expr)> wrap) -> Place {
    return [wrap](Expr use) { return with_main({expr_stmt(wrap(std::move(use)))}); };
  };
  auto in_stmt = [](std::function<Stmt(Expr)> wrap) -> Place {
    return [wrap](Expr use) { return with_main({wrap(std::move(use))}); };
  };
  auto in_question = [](std::function<Judge(Expr)> make) -> Place {
    return [make](Expr use) {
      Ir ir = with_needs();
      ir.judgments.push_back(judgment("j", {JudgmentResult{"r", make(std::move(use)), at(1)}}));
      return ir;
    };
  };
  auto in_machine = [](std::function<void(Machine&, Expr)> put) -> Place {
    return [put](Expr use) {
      Ir ir = with_needs();
      Machine m = machine("m", {MachineState{"a", false, {transition("go", text("d"), "b", std::nullopt, {})}, at(1)},
                                MachineState{"b", true, {}, at(1)}});
      put(m, std::move(use));
      ir.machines.push_back(std::move(m));
      return ir;
    };
  };
  auto question_about = [](Subject s) { return feels(std::move(s), text("ok")); };

  const std::vector<std::pair<const char*, Place>> places = {
      // Expressions.
      {"text interpolation", in_expr([](Expr u) { return text({lit("a "), interp(std::move(u))}); })},
      {"list item", in_expr([](Expr u) { return list({num(1), std::move(u)}); })},
      {"record field", in_expr([](Expr u) { return record({RecordField{"k", std::move(u)}}); })},
      {"index target", in_expr([](Expr u) { return index(std::move(u), num(0)); })},
      {"index", in_expr([](Expr u) { return index(name("xs"), std::move(u)); })},
      {"call argument", in_expr([](Expr u) { return call(name("f"), {named_arg("by", std::move(u))}); })},
      {"call callee", in_expr([](Expr u) { return call(call(std::move(u))); })},
      {"unary operand", in_expr([](Expr u) { return unary(UnaryOp::Not, std::move(u)); })},
      {"binary left", in_expr([](Expr u) { return binary(BinaryOp::Eq, std::move(u), num(1)); })},
      {"binary right", in_expr([](Expr u) { return binary(BinaryOp::Eq, num(1), std::move(u)); })},
      {"is target", in_expr([](Expr u) { return is(std::move(u), "bug"); })},
      {"comprehension expr", in_expr([](Expr u) { return comprehension(std::move(u), {"x"}, name("xs"), {}); })},
      {"comprehension iterable",
       in_expr([](Expr u) { return comprehension(name("x"), {"x"}, std::move(u), {}); })},
      {"comprehension filter",
       in_expr([](Expr u) { return comprehension(name("x"), {"x"}, name("xs"), std::move(u)); })},
      {"focus text", in_expr([](Expr u) { return focus(std::move(u), text("p"), 10); })},
      {"focus purpose", in_expr([](Expr u) { return focus(name("t"), std::move(u), 10); })},
      {"log value", in_expr([](Expr u) { return log(std::move(u)); })},
      {"log field", in_expr([](Expr u) { return log(name("x"), {RecordField{"k", std::move(u)}}); })},
      {"question in a task",
       in_expr([](Expr u) { return judge_expr(feels(subject("s"), std::move(u))); })},
      // Statements.
      {"assignment", in_stmt([](Expr u) { return assign("x", std::move(u)); })},
      {"if test", in_stmt([](Expr u) { return if_stmt(std::move(u), {}, std::nullopt); })},
      {"if body", in_stmt([](Expr u) { return if_stmt(name("c"), {expr_stmt(std::move(u))}, std::nullopt); })},
      {"else body",
       in_stmt([](Expr u) { return if_stmt(name("c"), {}, std::vector<Stmt>{expr_stmt(std::move(u))}); })},
      {"for iterable", in_stmt([](Expr u) { return Stmt{Stmt::For{{"x"}, std::move(u), {}, at(1)}}; })},
      {"for body",
       in_stmt([](Expr u) { return Stmt{Stmt::For{{"x"}, name("xs"), {expr_stmt(std::move(u))}, at(1)}}; })},
      {"loop body", in_stmt([](Expr u) { return loop(3, {expr_stmt(std::move(u))}); })},
      {"until test", in_stmt([](Expr u) { return Stmt{Stmt::Until{std::move(u), false, 3, {}, at(1)}}; })},
      {"until body",
       in_stmt([](Expr u) { return Stmt{Stmt::Until{name("c"), true, 3, {expr_stmt(std::move(u))}, at(1)}}; })},
      {"gate risk", in_stmt([](Expr u) { return Stmt{Stmt::Gate{std::move(u), name("c"), {}, {}, at(1)}}; })},
      {"gate confidence",
       in_stmt([](Expr u) { return Stmt{Stmt::Gate{name("r"), std::move(u), {}, {}, at(1)}}; })},
      {"gate done", in_stmt([](Expr u) { return Stmt{Stmt::Gate{name("r"), name("c"), std::move(u), {}, at(1)}}; })},
      {"gate arm",
       in_stmt([](Expr u) {
         std::vector<Stmt> body;
         body.push_back(expr_stmt(std::move(u)));
         return Stmt{Stmt::Gate{name("r"), name("c"), {}, {GateArm{Verdict::Escalate, std::move(body), at(1)}}, at(1)}};
       })},
      {"shape field value",
       in_stmt([](Expr u) { return Stmt{Stmt::Shape{"v", false, {shape_field("f", std::move(u))}, at(1)}}; })},
      {"shape focus purpose",
       in_stmt([](Expr u) {
         return Stmt{Stmt::Shape{
             "v", false, {shape_field("f", name("t"), ShapePolicy{ShapePolicy::Focus{std::move(u)}})}, at(1)}};
       })},
      {"return value", in_stmt([](Expr u) { return return_stmt(std::move(u)); })},
      {"stop reason", in_stmt([](Expr u) { return Stmt{Stmt::Stop{std::move(u), at(1)}}; })},
      {"escalate reason", in_stmt([](Expr u) { return Stmt{Stmt::Escalate{std::move(u), at(1)}}; })},
      // Units.
      {"task parameter default",
       [](Expr u) {
         Ir ir = with_main({});
         ir.tasks[0].params.push_back(DefParam{"p", std::move(u)});
         return ir;
       }},
      {"def parameter default and nothing else",
       [](Expr u) {
         Ir ir = with_needs();
         ir.defs.push_back(def("d", {}));
         ir.defs[0].params.push_back(DefParam{"p", std::move(u)});
         return ir;
       }},
      {"def body",
       [](Expr u) {
         Ir ir = with_needs();
         ir.defs.push_back(def("d", {expr_stmt(std::move(u))}));
         return ir;
       }},
      {"judgment log",
       [](Expr u) {
         Ir ir = with_needs();
         ir.judgments.push_back(judgment("j", {}));
         ir.judgments[0].logs.push_back(JudgmentLog{0, log(std::move(u)), at(1)});
         return ir;
       }},
      // Judgment questions.
      {"feels condition", in_question([=](Expr u) { return feels(subject("s"), std::move(u)); })},
      {"subject index", in_question([=](Expr u) {
         return question_about(subject("s", {SubjectStep{SubjectStep::Index{std::move(u)}}}));
       })},
      {"pick label description", in_question([](Expr u) {
         return pick(subject("s"), {label("a", std::move(u)), escape_label("other")});
       })},
      {"pick label what", in_question([](Expr u) {
         PickLabel l = label("a", std::nullopt);
         l.what = std::move(u);
         return pick(subject("s"), {l});
       })},
      {"pick label not_for", in_question([](Expr u) {
         PickLabel l = label("a", std::nullopt);
         l.not_for = std::move(u);
         return pick(subject("s"), {l});
       })},
      {"pick label examples", in_question([](Expr u) {
         PickLabel l = label("a", std::nullopt);
         l.examples = list({std::move(u)});
         return pick(subject("s"), {l});
       })},
      {"rate level", in_question([](Expr u) {
         return Judge{false, subject("s"),
                      JudgeVerb{JudgeVerb::Rate{{RateLevel{std::nullopt, std::move(u), at(1)}}}}, std::nullopt, 0,
                      at(1)};
       })},
      {"pick among question", in_question([](Expr u) {
         return Judge{false, subject("s"), JudgeVerb{JudgeVerb::PickAmong{std::move(u), "title", true}},
                      std::nullopt, 0, at(1)};
       })},
      {"detail focus", in_question([=](Expr u) {
         Judge j = question_about(subject("s"));
         j.detail = Detail{std::move(u), {}, {}, {}, {}, {}};
         return j;
       })},
      {"detail note", in_question([=](Expr u) {
         Judge j = question_about(subject("s"));
         j.detail = Detail{{}, std::move(u), {}, {}, {}, {}};
         return j;
       })},
      {"detail compare", in_question([=](Expr u) {
         Judge j = question_about(subject("s"));
         j.detail = Detail{{}, {}, list({std::move(u)}), {}, {}, {}};
         return j;
       })},
      {"detail yes", in_question([=](Expr u) {
         Judge j = question_about(subject("s"));
         j.detail = Detail{{}, {}, {}, std::move(u), {}, {}};
         return j;
       })},
      {"detail no", in_question([=](Expr u) {
         Judge j = question_about(subject("s"));
         j.detail = Detail{{}, {}, {}, {}, std::move(u), true};
         return j;
       })},
      // Machines.
      {"machine parameter default",
       in_machine([](Machine& m, Expr u) { m.params.push_back(DefParam{"p", std::move(u)}); })},
      {"machine goal", in_machine([](Machine& m, Expr u) { m.goal = std::move(u); })},
      {"observed value", in_machine([](Machine& m, Expr u) { m.observe.push_back(shape_field("o", std::move(u))); })},
      {"observed focus purpose", in_machine([](Machine& m, Expr u) {
         m.observe.push_back(shape_field("o", name("t"), ShapePolicy{ShapePolicy::Focus{std::move(u)}}));
       })},
      {"transition description",
       in_machine([](Machine& m, Expr u) { m.states[0].transitions[0].description = std::move(u); })},
      {"transition guard", in_machine([](Machine& m, Expr u) { m.states[0].transitions[0].when = std::move(u); })},
      {"transition action",
       in_machine([](Machine& m, Expr u) { m.states[0].transitions[0].body.push_back(expr_stmt(std::move(u))); })},
  };
  for (const auto& [where, place] : places) {
    SCOPED_TRACE(where);
    EXPECT_EQ(used_tool_verbs(place(verb("v"))), (ToolVerbs{{"files", {"v"}}, {"web", {}}}));
  }
}

}  // namespace
}  // namespace dravelin::compiler
