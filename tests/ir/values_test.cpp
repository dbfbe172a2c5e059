// Deep copies and structural equality of IR values.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"
#include "ir/nodes.h"
#include "support/numbers.h"

namespace dravelin::ir {
namespace {

using namespace build;

using test_numbers::kNaN;

// A program that holds at least one value of every IR record and of most variants, each optional field both
// present and absent somewhere.
Ir sample_program() {
  Ir ir = Ir::empty_named("demo");

  std::vector<FieldShape> meta_fields;
  meta_fields.push_back(FieldShape{"tags", std::nullopt});
  std::vector<FieldShape> ticket_fields;
  ticket_fields.push_back(FieldShape{"title", Shape{Shape::Type{ShapeTypeName::Text}}});
  ticket_fields.push_back(FieldShape{"meta", Shape{Shape::Record{std::move(meta_fields)}}});
  ir.inputs.push_back(Input{"ticket", Shape{Shape::Record{std::move(ticket_fields)}}, at(2)});
  ir.outputs.push_back(Output{"answer", at(3)});
  ir.needs.push_back(Need{"files", NeedKind::Tool, {ToolSignature{"read", {"path"}, ToolReturnType::Text, at(4)}},
                          at(4)});
  ir.needs.push_back(need("helper", NeedKind::Agent, at(5)));
  ir.modules.push_back(Module{"", "demo", std::nullopt, {}, at(1)});
  ir.modules.push_back(Module{"lib", "library", "./lib.zem", {NeedMapping{"fs", "files", NeedKind::Tool}}, at(6)});
  ir.modules.push_back(Module{"std", "std", std::nullopt, {}, at(1)});

  // Judgment `triage`: a feels with details, a pick with a detailed label, a rate, a pick among, and a log.
  Judge urgent = feels(subject("ticket", {SubjectStep{SubjectStep::Field{"title"}}}, at(8)), text("is urgent"), at(8));
  urgent.detail = Detail{text("the wording"), std::nullopt, list({text("a"), text("b")}), std::nullopt,
                         std::nullopt, true};
  urgent.request_group = 0;
  PickLabel bug = label("bug", std::nullopt, at(10));
  bug.what = text("a defect");
  bug.examples = list({text("crash")});
  Judge kind = pick(subject("ticket", {}, at(9)), {std::move(bug), label("feature", text("a wish"), at(11)),
                                                   escape_label("other", at(12))},
                    at(9));
  kind.request_group = 0;
  Judge level{true, subject("ticket", {SubjectStep{SubjectStep::Index{num(0, at(13))}}}, at(13)),
              JudgeVerb{JudgeVerb::Rate{{RateLevel{"low", text("calm"), at(14)},
                                          RateLevel{std::nullopt, text("on fire"), at(15)}}}},
              std::nullopt, 0, at(13)};
  Judge best{false, subject("ticket", {}, at(16)),
             JudgeVerb{JudgeVerb::PickAmong{text("which is best"), std::nullopt, false}}, std::nullopt, 0, at(16)};
  Judgment triage = judgment("triage",
                             {JudgmentResult{"urgent", std::move(urgent), at(8)},
                              JudgmentResult{"kind", std::move(kind), at(9)},
                              JudgmentResult{"level", std::move(level), at(13)},
                              JudgmentResult{"best", std::move(best), at(16)}},
                             at(7));
  triage.params = {"ticket"};
  triage.logs.push_back(JudgmentLog{1, log(name("urgent"), {RecordField{"why", text("x")}}, at(17)), at(17)});
  ir.judgments.push_back(std::move(triage));

  // Task `main`: one statement of every kind.
  std::vector<Stmt> body;
  body.push_back(Stmt{Stmt::Assign{"state", {"seen"},
                                   call(field(name("files"), "read"), {arg(text("a")), named_arg("limit", num(3))}),
                                   at(20)}});
  body.push_back(if_stmt(name("ok"), {expr_stmt(call(name("go")))}, std::vector<Stmt>{}, at(21)));
  body.push_back(Stmt{Stmt::For{{"k", "v"}, name("pairs"), {cont(at(22))}, at(22)}});
  body.push_back(loop(3, {brk(at(23))}, at(23)));
  body.push_back(Stmt{Stmt::Until{name("done"), true, 5, {}, at(24)}});
  body.push_back(Stmt{Stmt::Gate{name("risk"), name("confidence"), std::nullopt,
                                 {GateArm{Verdict::Confirm, {}, at(26)}}, at(25)}});
  body.push_back(Stmt{Stmt::Shape{"view",
                                  true,
                                  {shape_field("summary", focus(name("notes"), text("the bug"), 200),
                                               ShapePolicy{ShapePolicy::Focus{text("the bug")}}, at(28))},
                                  at(27)}});
  body.push_back(Stmt{Stmt::Stop{text("enough"), at(29)}});
  body.push_back(Stmt{Stmt::Escalate{text("help"), at(30)}});
  body.push_back(return_stmt(std::nullopt, at(31)));
  Task main = task("main", std::move(body), at(19));
  main.params.push_back(DefParam{"n", num(3)});
  main.params.push_back(DefParam{"m", std::nullopt});
  main.budget = Budget{50, 10, 2.5, 8};
  main.thresholds = Thresholds{0.7, 0.5, 0.2, 0.9, {NamedNumber{"extra", 1}}};
  ir.tasks.push_back(std::move(main));

  // Machine `flow`.
  Machine flow = machine("flow",
                         {MachineState{"start", false,
                                       {transition("finish", text("all good"), "end", name("ready"),
                                                   {assign("x", num(1))}, at(34))},
                                       at(33)},
                          MachineState{"end", true, {}, at(35)}},
                         at(32));
  flow.goal = text("ship it");
  flow.observe.push_back(shape_field("log", name("history"), ShapePolicy{ShapePolicy::Tail{}}, at(36)));
  ir.machines.push_back(std::move(flow));

  // Def `helper`: the remaining expression forms.
  Expr mixed = list({
      comprehension(name("x"), {"x"}, name("xs"), std::nullopt),
      index(name("xs"), num(0)),
      is(name("kind"), "bug"),
      unary(UnaryOp::Neg, num(1)),
      binary(BinaryOp::Add, num(1), num(2)),
      trail(3),
      boolean(true),
      none(),
      record({RecordField{"a", num(1)}}),
      text({lit("hi "), interp(name("who"))}),
  });
  ir.defs.push_back(def("helper", {return_stmt(std::move(mixed), at(38))}, at(37)));

  ir.file = "demo.zem";
  ir.span = Span{Pos{1, 0, 0}, Pos{40, 0, 900}};
  return ir;
}

std::vector<Stmt>& main_body(Ir& ir) { return ir.tasks.at(0).body; }
template <class V>
V& stmt_at(Ir& ir, std::size_t i) {
  return std::get<V>(main_body(ir).at(i).node);
}
Judge& question(Ir& ir, std::size_t i) { return ir.judgments.at(0).results.at(i).question; }
std::vector<Expr>& helper_items(Ir& ir) {
  auto& ret = std::get<Stmt::Return>(ir.defs.at(0).body.at(0).node);
  return std::get<Expr::List>(ret.value->node).items;
}

// Each change reaches one field somewhere in the tree. Made on a copy, it must make the copy unequal to the
// source and leave the source as it was.
struct Change {
  const char* what;
  std::function<void(Ir&)> apply;
};

const std::vector<Change>& changes() {
  static const std::vector<Change> table = {
      {"ir_version", [](Ir& ir) { ir.ir_version = "0.2"; }},
      {"program", [](Ir& ir) { ir.program = "other"; }},
      {"file removed", [](Ir& ir) { ir.file.reset(); }},
      {"file with a leading ./", [](Ir& ir) { ir.file = "./demo.zem"; }},
      {"root span column", [](Ir& ir) { ir.span.start.column = 1; }},
      {"modules emptied", [](Ir& ir) { ir.modules.clear(); }},
      {"nested field shape given a shape",
       [](Ir& ir) {
         auto& ticket = std::get<Shape::Record>(ir.inputs[0].shape.node);
         auto& meta = std::get<Shape::Record>(ticket.fields[1].shape->node);
         meta.fields[0].shape = Shape{Shape::Type{ShapeTypeName::List}};
       }},
      {"shape type name",
       [](Ir& ir) {
         auto& ticket = std::get<Shape::Record>(ir.inputs[0].shape.node);
         std::get<Shape::Type>(ticket.fields[0].shape->node).name = ShapeTypeName::Number;
       }},
      {"output span end offset", [](Ir& ir) { ir.outputs[0].span.end.offset += 1; }},
      {"need kind", [](Ir& ir) { ir.needs[1].kind = NeedKind::Person; }},
      {"signature return type", [](Ir& ir) { ir.needs[0].signatures[0].returns = ToolReturnType::Handle; }},
      {"signature params", [](Ir& ir) { ir.needs[0].signatures[0].params.push_back("mode"); }},
      {"module path present but empty", [](Ir& ir) { ir.modules[0].path = ""; }},
      {"mapping kind", [](Ir& ir) { ir.modules[1].mapping[0].kind = NeedKind::Agent; }},
      {"shape hash", [](Ir& ir) { ir.judgments[0].shape_hash = "sh1:0000000000000001"; }},
      {"request group", [](Ir& ir) { question(ir, 0).request_group = kNoRequestGroup; }},
      {"state path", [](Ir& ir) { question(ir, 0).subject.state_path = "ticket"; }},
      {"each", [](Ir& ir) { question(ir, 2).each = false; }},
      {"detail sample true to false", [](Ir& ir) { question(ir, 0).detail->sample = false; }},
      {"detail sample removed", [](Ir& ir) { question(ir, 0).detail->sample.reset(); }},
      {"detail removed", [](Ir& ir) { question(ir, 0).detail.reset(); }},
      {"pick label not_for added",
       [](Ir& ir) { std::get<JudgeVerb::Pick>(question(ir, 1).verb.node).labels[0].not_for = text("ideas"); }},
      {"pick label escape", [](Ir& ir) { std::get<JudgeVerb::Pick>(question(ir, 1).verb.node).labels[2].escape = false; }},
      {"rate level name added",
       [](Ir& ir) { std::get<JudgeVerb::Rate>(question(ir, 2).verb.node).levels[1].name = ""; }},
      {"subject index step",
       [](Ir& ir) {
         auto& step = std::get<SubjectStep::Index>(question(ir, 2).subject.path[0].node);
         std::get<Expr::Number>(step.index.node).value = 1;
       }},
      {"pick among allows none",
       [](Ir& ir) { std::get<JudgeVerb::PickAmong>(question(ir, 3).verb.node).allow_none = true; }},
      {"pick among by", [](Ir& ir) { std::get<JudgeVerb::PickAmong>(question(ir, 3).verb.node).by = "title"; }},
      {"judgment log after", [](Ir& ir) { ir.judgments[0].logs[0].after = 2; }},
      {"log level",
       [](Ir& ir) { std::get<Expr::Log>(ir.judgments[0].logs[0].log.node).level = LogLevel::Warn; }},
      {"param default removed", [](Ir& ir) { ir.tasks[0].params[0].default_value.reset(); }},
      {"budget usd removed", [](Ir& ir) { ir.tasks[0].budget.usd.reset(); }},
      {"threshold other value", [](Ir& ir) { ir.tasks[0].thresholds.other[0].value = 2; }},
      {"threshold done removed", [](Ir& ir) { ir.tasks[0].thresholds.done.reset(); }},
      {"assign path", [](Ir& ir) { stmt_at<Stmt::Assign>(ir, 0).path.clear(); }},
      {"call form",
       [](Ir& ir) { std::get<Expr::Call>(stmt_at<Stmt::Assign>(ir, 0).value.node).form = CallForm::Command; }},
      {"argument name absent vs empty",
       [](Ir& ir) { std::get<Expr::Call>(stmt_at<Stmt::Assign>(ir, 0).value.node).args[0].name = ""; }},
      {"verb name inside a boxed callee",
       [](Ir& ir) {
         auto& call = std::get<Expr::Call>(stmt_at<Stmt::Assign>(ir, 0).value.node);
         std::get<Expr::Field>(call.callee->node).name = "write";
       }},
      {"empty else removed", [](Ir& ir) { stmt_at<Stmt::If>(ir, 1).otherwise.reset(); }},
      {"for names swapped", [](Ir& ir) { std::swap(stmt_at<Stmt::For>(ir, 2).names[0], stmt_at<Stmt::For>(ir, 2).names[1]); }},
      {"continue became break", [](Ir& ir) { stmt_at<Stmt::For>(ir, 2).body[0] = brk(at(22)); }},
      {"loop bound", [](Ir& ir) { stmt_at<Stmt::Loop>(ir, 3).max = 4; }},
      {"until verify", [](Ir& ir) { stmt_at<Stmt::Until>(ir, 4).verify = false; }},
      {"gate done added", [](Ir& ir) { stmt_at<Stmt::Gate>(ir, 5).done = name("finished"); }},
      {"gate arm verdict", [](Ir& ir) { stmt_at<Stmt::Gate>(ir, 5).arms[0].verdict = Verdict::Stop; }},
      {"shape strict", [](Ir& ir) { stmt_at<Stmt::Shape>(ir, 6).strict = false; }},
      {"shape field max added", [](Ir& ir) { stmt_at<Stmt::Shape>(ir, 6).fields[0].max = 100; }},
      {"shape policy focus became head",
       [](Ir& ir) { stmt_at<Stmt::Shape>(ir, 6).fields[0].policy = ShapePolicy{ShapePolicy::Head{}}; }},
      {"stop reason text",
       [](Ir& ir) {
         auto& reason = std::get<Expr::Text>(stmt_at<Stmt::Stop>(ir, 7).reason.node);
         std::get<TextPart::Literal>(reason.parts[0].node).value = "more";
       }},
      {"stop became escalate",
       [](Ir& ir) { main_body(ir)[7] = Stmt{Stmt::Escalate{text("enough"), at(29)}}; }},
      {"return value added", [](Ir& ir) { stmt_at<Stmt::Return>(ir, 9).value = none(); }},
      {"machine initial", [](Ir& ir) { ir.machines[0].initial = "end"; }},
      {"machine goal removed", [](Ir& ir) { ir.machines[0].goal.reset(); }},
      {"observe policy tail became head",
       [](Ir& ir) { ir.machines[0].observe[0].policy = ShapePolicy{ShapePolicy::Head{}}; }},
      {"state done", [](Ir& ir) { ir.machines[0].states[1].done = false; }},
      {"transition guard removed", [](Ir& ir) { ir.machines[0].states[0].transitions[0].when.reset(); }},
      {"transition risky", [](Ir& ir) { ir.machines[0].states[0].transitions[0].risky = true; }},
      {"transition target", [](Ir& ir) { ir.machines[0].states[0].transitions[0].target = "start"; }},
      {"comprehension filter added",
       [](Ir& ir) { std::get<Expr::Comprehension>(helper_items(ir)[0].node).test = Box<Expr>(boolean(true)); }},
      {"unary op", [](Ir& ir) { std::get<Expr::Unary>(helper_items(ir)[3].node).op = UnaryOp::Not; }},
      {"binary right operand",
       [](Ir& ir) { std::get<Expr::Number>(std::get<Expr::Binary>(helper_items(ir)[4].node).right->node).value = 3; }},
      {"bool became number zero", [](Ir& ir) { helper_items(ir)[6] = num(0); }},
      {"none span", [](Ir& ir) { helper_items(ir)[7] = none(at(2)); }},
      {"interpolation became literal", [](Ir& ir) {
         std::get<Expr::Text>(helper_items(ir)[9].node).parts[1] = lit("who");
       }},
  };
  return table;
}

TEST(IrValues, EveryChangeToACopyMakesItUnequalAndLeavesTheSourceAlone) {
  const Ir pristine = sample_program();
  ASSERT_TRUE(pristine == sample_program());
  for (const Change& change : changes()) {
    SCOPED_TRACE(change.what);
    const Ir source = sample_program();
    Ir copy = source;
    ASSERT_TRUE(copy == source);
    change.apply(copy);
    EXPECT_FALSE(copy == source);
    EXPECT_FALSE(source == copy);
    EXPECT_TRUE(copy != source);
    EXPECT_TRUE(source == pristine);
  }
}

TEST(IrValues, CopyAssignmentIsDeepToo) {
  const Ir source = sample_program();
  Ir target = Ir::empty_named("other");
  target = source;
  ASSERT_TRUE(target == source);
  std::get<Expr::Field>(std::get<Expr::Call>(stmt_at<Stmt::Assign>(target, 0).value.node).callee->node).name = "x";
  EXPECT_TRUE(source == sample_program());
}

// Every number of a span takes part, in any node that has one.
TEST(IrEquality, EachOfTheSixSpanNumbersCounts) {
  const std::vector<std::function<void(Span&)>> moves = {
      [](Span& s) { s.start.line++; },   [](Span& s) { s.start.column++; }, [](Span& s) { s.start.offset++; },
      [](Span& s) { s.end.line++; },     [](Span& s) { s.end.column++; },   [](Span& s) { s.end.offset++; },
  };
  for (std::size_t i = 0; i < moves.size(); ++i) {
    SCOPED_TRACE(i);
    Span moved = at(3);
    moves[i](moved);
    EXPECT_FALSE(name("x", at(3)) == name("x", moved));
    EXPECT_FALSE(Stmt{Stmt::Break{at(3)}} == Stmt{Stmt::Break{moved}});
    Judge j = feels(subject("s"), text("c"), at(3));
    Judge k = j;
    k.span = moved;
    EXPECT_FALSE(judge_expr(j) == judge_expr(k));
  }
}

TEST(IrEquality, NumbersCompareAsFloatingPoint) {
  struct Case {
    const char* what;
    Expr a;
    Expr b;
    bool equal;
  };
  const Case cases[] = {
      {"NaN against NaN", num(kNaN), num(kNaN), false},
      {"0 against -0", num(0.0), num(-0.0), true},
      {"-0 against 0 as a focus cap", focus(name("t"), text("p"), -0.0), focus(name("t"), text("p"), 0.0),
       true},
      {"NaN deep in a tree", list({record({RecordField{"n", unary(UnaryOp::Neg, num(kNaN))}})}),
       list({record({RecordField{"n", unary(UnaryOp::Neg, num(kNaN))}})}), false},
      {"infinities of one sign", trail(INFINITY), trail(INFINITY), true},
      {"infinities of both signs", trail(INFINITY), trail(-INFINITY), false},
      {"the same value, different variants", boolean(false), num(0), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
  }
}

TEST(IrEquality, AValueHoldingNaNIsUnequalToItself) {
  Expr nan = num(kNaN);
  EXPECT_FALSE(nan == nan);

  Ir ir = sample_program();
  ir.tasks[0].budget.minutes = kNaN;
  EXPECT_FALSE(ir == ir);

  Ir deep = sample_program();
  std::get<Expr::Trail>(helper_items(deep)[5].node).count = kNaN;
  EXPECT_FALSE(deep == deep);
}

TEST(IrEquality, OptionalFieldsKeepAbsentApartFromEveryPresentValue) {
  Detail absent;
  Detail no_sample;
  no_sample.sample = false;
  Detail also_no_sample = no_sample;
  EXPECT_FALSE(absent == no_sample);
  EXPECT_TRUE(no_sample == also_no_sample);
  // Lowering drops a detail that equals the one in which everything is absent.
  EXPECT_TRUE(Detail{} == absent);
  Detail with_note;
  with_note.note = text("");
  EXPECT_FALSE(with_note == Detail{});

  ShapeField capped = shape_field("f", name("v"));
  capped.max = -0.0;
  ShapeField capped_zero = shape_field("f", name("v"));
  capped_zero.max = 0.0;
  EXPECT_TRUE(capped == capped_zero);
  EXPECT_FALSE(capped == shape_field("f", name("v")));

  EXPECT_FALSE(ShapePolicy{ShapePolicy::Head{}} == ShapePolicy{ShapePolicy::Tail{}});
  EXPECT_TRUE(ShapePolicy{ShapePolicy::Tail{}} == ShapePolicy{ShapePolicy::Tail{}});
}

// Nesting well past what the parser accepts still copies, compares and destroys without trouble.
TEST(IrValues, DeepTreesCopyAndCompare) {
  constexpr int kHeight = 1000;
  Expr e = name("leaf");
  for (int i = 0; i < kHeight; ++i) e = unary(UnaryOp::Not, std::move(e));
  std::vector<Stmt> body;
  body.push_back(expr_stmt(std::move(e)));
  for (int i = 0; i < kHeight; ++i) {
    std::vector<Stmt> outer;
    outer.push_back(if_stmt(boolean(true), std::move(body), std::nullopt));
    body = std::move(outer);
  }

  Ir source = Ir::empty_named("deep");
  source.tasks.push_back(task("main", std::move(body)));
  Ir copy = source;
  ASSERT_TRUE(copy == source);

  // Reach the innermost name of the copy and change it.
  std::vector<Stmt>* stmts = &copy.tasks[0].body;
  for (int i = 0; i < kHeight; ++i) stmts = &std::get<Stmt::If>((*stmts)[0].node).branches[0].body;
  Expr* inner = &std::get<Stmt::Expr>((*stmts)[0].node).expr;
  for (int i = 0; i < kHeight; ++i) inner = &*std::get<Expr::Unary>(inner->node).operand;
  std::get<Expr::Name>(inner->node).name = "changed";

  EXPECT_FALSE(copy == source);
}

}  // namespace
}  // namespace dravelin::ir
