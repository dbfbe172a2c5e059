#include "syntax/ast.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "syntax/parse.h"

namespace dravelin::syntax::ast {
namespace {

Span span_at(uint32_t line, uint32_t from, uint32_t to) {
  return Span{{line, from, from}, {line, to, to}};
}

Expr parse(std::string_view src) {
  auto r = parse_expression(src, Pos{1, 0, 0});
  EXPECT_TRUE(r.ok()) << src << ": " << (r.ok() ? "" : r.error().front().message);
  return r.ok() ? *r : Expr{Expr::None{}};
}

Block block_of(Stmt stmt) { return Block{{std::move(stmt)}, {}}; }

// ---------------------------------------------------------------------------------------------------------------

TEST(TreeOrders, MatchTheIr) {
  // Lowering maps expressions and statements onto the IR by position; these orders are part of the format.
  static_assert(std::is_same_v<std::variant_alternative_t<0, Expr::Node>, Expr::Number>);
  static_assert(std::is_same_v<std::variant_alternative_t<9, Expr::Node>, Expr::Call>);
  static_assert(std::is_same_v<std::variant_alternative_t<13, Expr::Node>, Expr::Comprehension>);
  static_assert(std::is_same_v<std::variant_alternative_t<16, Expr::Node>, Expr::Judge>);
  static_assert(std::variant_size_v<Expr::Node> == 18);
  static_assert(std::is_same_v<std::variant_alternative_t<1, Stmt::Node>, Stmt::Expr>);
  static_assert(std::is_same_v<std::variant_alternative_t<7, Stmt::Node>, Stmt::Shape>);
  static_assert(std::variant_size_v<Stmt::Node> == 13);
  static_assert(std::is_same_v<std::variant_alternative_t<3, JudgeVerb::Node>, JudgeVerb::PickAmong>);
  static_assert(std::is_same_v<std::variant_alternative_t<2, Decl::Node>, Need>);
  static_assert(std::is_same_v<std::variant_alternative_t<3, Unit::Node>, Machine>);

  EXPECT_EQ(enum_name(BinaryOp::NotEq), "not_eq");
  EXPECT_EQ(static_cast<int>(BinaryOp::Rem), 12);
  EXPECT_EQ(EnumNames<BinaryOp>::count, 13u);
  EXPECT_EQ(static_cast<int>(CallForm::Function), 1);
  EXPECT_EQ(enum_from_name<ToolReturnType>("none").value_or(ToolReturnType::Text), ToolReturnType::None);
  EXPECT_FALSE(enum_from_name<LogLevel>("trace").has_value());
  EXPECT_EQ(enum_name(BudgetKey::Usd), "usd");
  EXPECT_EQ(enum_name(Verdict::Escalate), "escalate");
}

// ---------------------------------------------------------------------------------------------------------------

TEST(HasUnit, ComparesUnitNamesExactly) {
  Program program;
  program.units.push_back(Unit{Task{"main", {}, {}, {}, {}, {}, {}}});
  program.units.push_back(Unit{Def{"log", {}, {}, {}, {}}});
  EXPECT_TRUE(program.has_unit("log"));
  EXPECT_TRUE(program.has_unit("main"));
  EXPECT_FALSE(program.has_unit("Log"));
  EXPECT_FALSE(program.has_unit("lo"));
  EXPECT_FALSE(program.has_unit("log "));

  // A `log` that is only a parameter, a variable or a `log` expression inside a unit is no unit name.
  Program no_unit;
  Task task{"main", {}, {DefParam{"log", {}, std::nullopt, {}}}, {}, {}, {}, {}};
  task.body.stmts.push_back(Stmt{Stmt::Assign{AssignTarget{"log", {}, {}, {}}, parse("1"), {}}});
  task.body.stmts.push_back(Stmt{Stmt::Expr{parse("log info x"), {}}});
  no_unit.units.push_back(Unit{std::move(task)});
  no_unit.units.push_back(Unit{Judgment{"logs", {}, {}, {}, {}, {}}});
  EXPECT_FALSE(no_unit.has_unit("log"));
  EXPECT_FALSE(Program{}.has_unit("log"));

  Program machine;
  machine.units.push_back(Unit{Machine{"log", {}, {}, {}, {}, {}, {}, {}, {}, {}}});
  EXPECT_TRUE(machine.has_unit("log"));
}

TEST(ExprSpan, JudgeUsesTheJudgesSpan) {
  Judge judge;
  judge.span = span_at(3, 4, 20);
  Expr e{Expr::Judge{judge}};
  EXPECT_EQ(span(e), span_at(3, 4, 20));
  EXPECT_EQ(span(Expr{Expr::Trail{3, span_at(1, 2, 9)}}), span_at(1, 2, 9));
}

// ---------------------------------------------------------------------------------------------------------------

TEST(SubjectFromExpr, WalksNameFieldAndIndexPaths) {
  auto subject = subject_from_expr(parse("run.steps[i + 1].text"));
  ASSERT_TRUE(subject.has_value());
  EXPECT_EQ(subject->root, "run");
  EXPECT_EQ(subject->root_span, span_at(1, 0, 3));
  EXPECT_EQ(subject->span, span_at(1, 0, 21));
  ASSERT_EQ(subject->path.size(), 3u);
  const auto& steps = std::get<SubjectStep::Field>(subject->path[0].node);
  EXPECT_EQ(steps.name, "steps");
  EXPECT_EQ(steps.span, span_at(1, 4, 9));
  const auto& index = std::get<SubjectStep::Index>(subject->path[1].node);
  EXPECT_EQ(index.expr, parse("          i + 1"));  // the index expression, with its own span
  EXPECT_EQ(std::get<SubjectStep::Field>(subject->path[2].node).name, "text");

  auto bare = subject_from_expr(parse("a"));
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(bare->root, "a");
  EXPECT_TRUE(bare->path.empty());

  for (const char* not_a_path : {"f(x)", "(a + b).c", "f(x).y", "[a][0]", "a + b", "\"t\"", "a is b"}) {
    EXPECT_FALSE(subject_from_expr(parse(not_a_path)).has_value()) << not_a_path;
  }
}

TEST(SubjectFromExpr, CopiesTheIndex) {
  std::optional<Subject> subject;
  {
    Expr parsed = parse("items[f(k)]");
    subject = subject_from_expr(parsed);
  }  // the parsed expression is gone; the subject owns its own copy
  ASSERT_TRUE(subject.has_value());
  const auto& index = std::get<SubjectStep::Index>(subject->path.at(0).node);
  EXPECT_EQ(std::get<Expr::Name>(std::get<Expr::Call>(index.expr.node).callee->node).name, "f");
}

TEST(AssignTargetFromExpr, TakesNamesAndFieldPathsOnly) {
  auto target = assign_target_from_expr(parse("a.b.c"));
  ASSERT_TRUE(target.has_value());
  EXPECT_EQ(target->root, "a");
  EXPECT_EQ(target->root_span, span_at(1, 0, 1));
  ASSERT_EQ(target->path.size(), 2u);
  EXPECT_EQ(target->path[0], (Ident{"b", span_at(1, 2, 3)}));
  EXPECT_EQ(target->path[1], (Ident{"c", span_at(1, 4, 5)}));
  EXPECT_EQ(target->span, span_at(1, 0, 5));

  auto plain = assign_target_from_expr(parse("x"));
  ASSERT_TRUE(plain.has_value());
  EXPECT_TRUE(plain->path.empty());

  for (const char* not_a_target : {"a[0]", "a[0].b", "a.b[0]", "f(x).y", "(a + b).c", "-a", "1"}) {
    EXPECT_FALSE(assign_target_from_expr(parse(not_a_target)).has_value()) << not_a_target;
  }
}

TEST(DetailOrNone, DropsOnlyUntouchedDetails) {
  EXPECT_FALSE(detail_or_none(Detail{}).has_value());

  Detail touched;
  touched.span = Span{{2, 0, 10}, {2, 0, 10}};  // an empty span at a real position still counts
  EXPECT_TRUE(detail_or_none(touched).has_value());

  Detail column_only;
  column_only.span.end.column = 1;
  EXPECT_TRUE(detail_or_none(column_only).has_value());

  Detail with_key;
  with_key.note = parse("\"n\"");
  with_key.span = span_at(4, 8, 20);
  auto kept = detail_or_none(with_key);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(*kept, with_key);
}

TEST(IsBareDegree, NumbersAndDegreeWords) {
  struct Case {
    const char* text;
    bool bare;
  };
  for (const Case& c : {
           Case{"High.", true},
           Case{"  Very   HIGH  ", true},
           Case{"very\thigh", true},
           Case{"\xC2\xA0very\xE2\x80\x83high\xE3\x80\x80", true},  // no-break, em and ideographic spaces
           Case{"80%", true},
           Case{"0.8", true},
           Case{"80%%", true},
           Case{"80 %", false},
           Case{"very high%", false},
           Case{"extreme", true},
           Case{"extremely", false},
           Case{"extremely low", true},
           Case{"extremely  high!", true},
           Case{"high!!", true},
           Case{"low.!", true},
           Case{"high !", true},
           Case{"high. !", false},  // stripping stops at the space
           Case{"NaN", true},
           Case{"1e3", true},
           Case{"1E-3", true},
           Case{"-2.5e+10", true},
           Case{"+inf", true},
           Case{"Infinity", true},
           Case{".5", true},
           Case{"5.", true},
           Case{"5.5.", true},  // the trailing full stop goes first
           Case{".", false},
           Case{"1e", false},
           Case{"e3", false},
           Case{"1 000", false},
           Case{"0x10", false},
           Case{"infinite", false},
           Case{"none", true},
           Case{"", false},
           Case{"   ", false},
           Case{"...", false},
           Case{"%", false},
           Case{"the user seems stuck", false},
           Case{"high risk", false},
       }) {
    EXPECT_EQ(is_bare_degree(c.text), c.bare) << '"' << c.text << '"';
  }
}

// ---------------------------------------------------------------------------------------------------------------

TEST(DeepCopy, ExpressionsShareNothing) {
  Expr original = parse("f(a.b[c], n: [x for x in xs if x > 1], r: {k: -v}) or log info y {z}");
  Expr copy = original;
  EXPECT_EQ(copy, original);

  // Change something deep inside the copy; the original keeps its value.
  auto& call = std::get<Expr::Call>(std::get<Expr::Binary>(copy.node).left->node);
  auto& comprehension = std::get<Expr::Comprehension>(call.args.at(1).value.node);
  std::get<Expr::Name>(comprehension.iterable->node).name = "changed";
  EXPECT_NE(copy, original);
  const auto& original_call = std::get<Expr::Call>(std::get<Expr::Binary>(original.node).left->node);
  EXPECT_EQ(std::get<Expr::Name>(std::get<Expr::Comprehension>(original_call.args.at(1).value.node).iterable->node)
                .name,
            "xs");
}

Machine sample_machine() {
  Machine m;
  m.name = "triage";
  m.name_span = span_at(5, 8, 14);
  m.params.push_back(DefParam{"limit", span_at(5, 15, 20), parse("3"), span_at(5, 15, 24)});
  m.budget.push_back(BudgetLimit{BudgetKey::Steps, 20, span_at(6, 2, 10)});
  m.thresholds.push_back(Threshold{"risk_confirm", span_at(7, 2, 14), 0.7, span_at(7, 2, 18)});
  m.goal = parse("\"get it sorted\"");
  m.initial = Ident{"open", span_at(9, 10, 14)};
  m.observe.push_back(ShapeField{"inbox", span_at(11, 4, 9), parse("focus mail on \"urgent\", max 200"), 200.0,
                                 true, span_at(11, 4, 50)});

  MachineState open{"open", span_at(12, 8, 12), false, {}, span_at(12, 2, 40)};
  Transition with_body{"reply", span_at(13, 7, 12), parse("\"a reply is due\""), "closed", span_at(13, 30, 36),
                       parse("inbox.count > 0"), true, std::nullopt, span_at(13, 4, 60)};
  with_body.body = block_of(Stmt{Stmt::Expr{parse("log info inbox"), span_at(14, 6, 20)}});
  with_body.body->stmts.push_back(Stmt{Stmt::Return{parse("limit"), span_at(15, 6, 18)}});
  open.transitions.push_back(std::move(with_body));
  open.transitions.push_back(Transition{"wait", span_at(16, 7, 11), parse("\"nothing to do\""), "open",
                                        span_at(16, 30, 34), std::nullopt, false, std::nullopt,
                                        span_at(16, 4, 34)});
  m.states.push_back(std::move(open));
  m.states.push_back(MachineState{"closed", span_at(17, 8, 14), true, {}, span_at(17, 2, 19)});
  m.span = span_at(5, 0, 19);
  return m;
}

TEST(DeepCopy, MachinesAreEqualAndIndependent) {
  Machine original = sample_machine();
  Machine copy = original;
  EXPECT_EQ(copy, original);
  ASSERT_TRUE(copy.states[0].transitions[0].body.has_value());
  EXPECT_FALSE(copy.states[0].transitions[1].body.has_value());

  copy.states[0].transitions[0].body->stmts.clear();
  std::get<Expr::Focus>(copy.observe[0].value.node).max = 1;
  copy.states[1].done = false;
  EXPECT_NE(copy, original);
  EXPECT_EQ(original, sample_machine());

  // Dropping the copy leaves the source whole.
  {
    Program program;
    program.name = "p";
    program.units.push_back(Unit{std::move(copy)});
  }
  EXPECT_EQ(original, sample_machine());
}

TEST(DeepCopy, JudgmentsShareNothing) {
  Judge judge;
  judge.subject = *subject_from_expr(parse("doc.files[0].text"));
  JudgeVerb::Pick pick;
  pick.labels.push_back(PickLabel{"accept", span_at(2, 4, 10), false, parse("\"fits\""), std::nullopt, {}});
  Detail own;
  own.what = parse("\"unsafe\"");
  own.span = span_at(3, 10, 30);
  pick.labels.push_back(PickLabel{"unsafe", span_at(3, 4, 10), false, std::nullopt, own, {}});
  pick.labels.push_back(PickLabel{"other", span_at(4, 4, 9), true, std::nullopt, std::nullopt, {}});
  judge.verb = JudgeVerb{std::move(pick)};

  Expr original{Expr::Judge{judge}};
  Expr copy = original;
  EXPECT_EQ(copy, original);
  auto& copied = *std::get<Expr::Judge>(copy.node).judge;
  std::get<JudgeVerb::Pick>(copied.verb.node).labels[1].detail->what.reset();
  std::get<SubjectStep::Index>(copied.subject.path[1].node).expr = parse("9");
  EXPECT_NE(copy, original);
  EXPECT_EQ(*std::get<Expr::Judge>(original.node).judge, judge);
}

}  // namespace
}  // namespace dravelin::syntax::ast
