// The key tables of the IR records and unions: which entries are always written, which disappear when absent or
// empty, tag keys first, unit enums as names. Expected texts are compact, with "$S" for the span `at(1)`.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"
#include "ir/nodes.h"
#include "ir/write_json.h"
#include "ir/write_json_forms.h"
#include "support/numbers.h"

namespace dravelin::ir {
namespace {

using namespace build;
using forms::compact;
using forms::expect_forms_agree;
using forms::with_spans;

using test_numbers::kNaN;
using test_numbers::kInf;

struct KeyCase {
  const char* what;
  std::string got;
  const char* want;  // "$S" stands for the span
};

void check(const std::vector<KeyCase>& cases) {
  for (const KeyCase& c : cases) EXPECT_EQ(c.got, with_spans(c.want)) << c.what;
}

TEST(IrJsonKeys, Declarations) {
  Module lib{"lib", "library", "./lib.zem", {NeedMapping{"files", "disk", NeedKind::Tool}}, at(1)};
  check({
      {"input", compact(Input{"n", Shape{Shape::Type{ShapeTypeName::Number}}, at(1)}),
       R"({"name":"n","shape":{"shape":"type","name":"number"},"span":$S})"},
      {"output", compact(Output{"out", at(1)}), R"({"name":"out","span":$S})"},
      {"need without signatures", compact(need("rev", NeedKind::Person)),
       R"({"name":"rev","kind":"person","span":$S})"},
      {"need with signatures",
       compact(Need{"fs", NeedKind::Tool, {ToolSignature{"read", {"path"}, ToolReturnType::Text, at(1)}}, at(1)}),
       R"({"name":"fs","kind":"tool","signatures":[{"name":"read","params":["path"],"returns":"text","span":$S}],)"
       R"("span":$S})"},
      {"signature without params", compact(ToolSignature{"open", {}, ToolReturnType::Handle, at(1)}),
       R"({"name":"open","returns":"handle","span":$S})"},
      {"module without path or mapping", compact(Module{"std", "std", std::nullopt, {}, at(1)}),
       R"({"alias":"std","program":"std","span":$S})"},
      {"module with both", compact(lib),
       R"({"alias":"lib","program":"library","path":"./lib.zem",)"
       R"("mapping":[{"inner":"files","outer":"disk","kind":"tool"}],"span":$S})"},
  });
}

TEST(IrJsonKeys, EnumNames) {
  const char* need_kinds[] = {"agent", "person", "llm", "tool"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(compact(NeedMapping{"a", "b", static_cast<NeedKind>(i)}),
              std::string(R"({"inner":"a","outer":"b","kind":")") + need_kinds[i] + R"("})");
  }
  const char* returns[] = {"text", "number", "bool", "list", "record", "handle", "none"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(compact(ToolSignature{"v", {}, static_cast<ToolReturnType>(i), at(1)}),
              with_spans(std::string(R"({"name":"v","returns":")") + returns[i] + R"(","span":$S})"));
  }
  const char* binary_ops[] = {"or", "and", "eq", "not_eq", "lt", "lt_eq", "gt", "gt_eq", "add", "sub", "mul",
                              "div", "rem"};
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(compact(binary(static_cast<BinaryOp>(i), name("a"), name("b"))),
              with_spans(std::string(R"({"node":"binary","op":")") + binary_ops[i] +
                         R"(","left":{"node":"name","name":"a","span":$S},"right":{"node":"name","name":"b","span":$S},)"
                         R"("span":$S})"));
  }
  const char* verdicts[] = {"proceed", "confirm", "escalate", "stop"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(compact(GateArm{static_cast<Verdict>(i), {}, at(1)}),
              with_spans(std::string(R"({"verdict":")") + verdicts[i] + R"(","body":[],"span":$S})"));
  }
  const char* levels[] = {"debug", "info", "warn", "error"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(compact(Expr{Expr::Log{static_cast<LogLevel>(i), none(), {}, at(1)}}),
              with_spans(std::string(R"({"node":"log","level":")") + levels[i] +
                         R"(","value":{"node":"none","span":$S},"span":$S})"));
  }
  const char* types[] = {"text", "number", "bool", "list", "record"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(compact(Shape{Shape::Type{static_cast<ShapeTypeName>(i)}}),
              std::string(R"({"shape":"type","name":")") + types[i] + R"("})");
  }
}

TEST(IrJsonKeys, TasksFunctionsAndLimits) {
  Task with_params = task("t", {});
  with_params.params.push_back(DefParam{"n", num(2)});
  Thresholds only_named;
  only_named.other = {NamedNumber{"a", 0.5}, NamedNumber{"b", 2}};
  check({
      {"task without params", compact(task("t", {})),
       R"({"name":"t","budget":{"calls":50.0},"thresholds":{},"body":[],"span":$S})"},
      {"task with params", compact(with_params),
       R"({"name":"t","params":[{"name":"n","default":{"node":"number","value":2.0,"span":$S}}],)"
       R"("budget":{"calls":50.0},"thresholds":{},"body":[],"span":$S})"},
      {"def without params", compact(def("f", {})), R"({"name":"f","params":[],"body":[],"span":$S})"},
      {"param without default", compact(DefParam{"n", std::nullopt}), R"({"name":"n"})"},
      {"empty budget", compact(Budget{}), "{}"},
      {"calls and usd", compact(Budget{50.0, std::nullopt, 2.5, std::nullopt}), R"({"calls":50.0,"usd":2.5})"},
      {"all limits", compact(Budget{1.0, 2.0, 0.1, 4.0}), R"({"calls":1.0,"minutes":2.0,"usd":0.1,"steps":4.0})"},
      {"usd NaN", compact(Budget{std::nullopt, std::nullopt, kNaN, std::nullopt}), R"({"usd":null})"},
      {"usd infinite", compact(Budget{std::nullopt, std::nullopt, kInf, std::nullopt}), R"({"usd":null})"},
      {"empty thresholds", compact(Thresholds{}), "{}"},
      {"only named thresholds", compact(only_named),
       R"({"other":[{"name":"a","value":0.5},{"name":"b","value":2.0}]})"},
      {"all thresholds", compact(Thresholds{0.1, 0.2, 0.3, 0.4, {}}),
       R"({"risk_confirm":0.1,"min_confidence":0.2,"stop_confidence":0.3,"done":0.4})"},
  });
}

TEST(IrJsonKeys, Machines) {
  Machine full = machine("m", {MachineState{"a", false, {}, at(1)}});
  full.params.push_back(DefParam{"x", std::nullopt});
  full.goal = name("g");
  full.observe.push_back(shape_field("x", name("x")));
  check({
      {"machine without optional parts", compact(machine("m", {})),
       R"({"name":"m","budget":{"calls":50.0},"thresholds":{},"initial":"","states":[],)"
       R"("shape_hash":"sh1:0000000000000000","span":$S})"},
      {"machine with every part", compact(full),
       R"({"name":"m","params":[{"name":"x"}],"budget":{"calls":50.0},"thresholds":{},)"
       R"("goal":{"node":"name","name":"g","span":$S},"initial":"a",)"
       R"("observe":[{"name":"x","value":{"node":"name","name":"x","span":$S},"policy":{"policy":"head"},"span":$S}],)"
       R"("states":[{"name":"a","done":false,"span":$S}],"shape_hash":"sh1:0000000000000000","span":$S})"},
      {"done state without transitions", compact(MachineState{"end", true, {}, at(1)}),
       R"({"name":"end","done":true,"span":$S})"},
      {"plain transition", compact(transition("go", text("d"), "b", std::nullopt, {})),
       R"({"event":"go","description":{"node":"text","parts":[{"part":"literal","value":"d"}],"span":$S},)"
       R"("target":"b","risky":false,"span":$S})"},
      {"guarded risky transition with a body",
       compact(Transition{"go", none(), "b", boolean(true), true, {brk()}, at(1)}),
       R"({"event":"go","description":{"node":"none","span":$S},"target":"b",)"
       R"("when":{"node":"bool","value":true,"span":$S},"risky":true,"body":[{"stmt":"break","span":$S}],"span":$S})"},
  });
}

TEST(IrJsonKeys, Expressions) {
  Judge detailed = feels(subject("x"), name("c"));
  detailed.detail = Detail{};
  check({
      {"none", compact(none()), R"({"node":"none","span":$S})"},
      {"not", compact(unary(UnaryOp::Not, name("x"))),
       R"({"node":"unary","op":"not","operand":{"node":"name","name":"x","span":$S},"span":$S})"},
      {"empty text, list and record", compact(list({text(std::vector<TextPart>{}), record({})})),
       R"({"node":"list","items":[{"node":"text","parts":[],"span":$S},{"node":"record","fields":[],"span":$S}],)"
       R"("span":$S})"},
      {"interpolation", compact(text({lit("a"), interp(name("b"))})),
       R"({"node":"text","parts":[{"part":"literal","value":"a"},)"
       R"({"part":"interpolation","expr":{"node":"name","name":"b","span":$S}}],"span":$S})"},
      {"call without args", compact(call(name("f"))),
       R"({"node":"call","callee":{"node":"name","name":"f","span":$S},"args":[],"form":"function","span":$S})"},
      {"named and positional args", compact(call(name("f"), {named_arg("to", none()), arg(none())})),
       R"({"node":"call","callee":{"node":"name","name":"f","span":$S},)"
       R"("args":[{"name":"to","value":{"node":"none","span":$S}},{"value":{"node":"none","span":$S}}],)"
       R"("form":"function","span":$S})"},
      {"field and index", compact(index(field(name("a"), "b"), num(0))),
       R"({"node":"index","target":{"node":"field","target":{"node":"name","name":"a","span":$S},"name":"b",)"
       R"("span":$S},"index":{"node":"number","value":0.0,"span":$S},"span":$S})"},
      {"is", compact(is(name("k"), "bug")),
       R"({"node":"is","target":{"node":"name","name":"k","span":$S},"label":"bug","span":$S})"},
      {"comprehension without filter", compact(comprehension(name("x"), {"x"}, name("xs"), std::nullopt)),
       R"({"node":"comprehension","expr":{"node":"name","name":"x","span":$S},"names":["x"],)"
       R"("iterable":{"node":"name","name":"xs","span":$S},"span":$S})"},
      {"comprehension with filter", compact(comprehension(name("x"), {"k", "x"}, name("xs"), boolean(true))),
       R"({"node":"comprehension","expr":{"node":"name","name":"x","span":$S},"names":["k","x"],)"
       R"("iterable":{"node":"name","name":"xs","span":$S},"test":{"node":"bool","value":true,"span":$S},"span":$S})"},
      {"focus", compact(focus(name("d"), none(), 2000)),
       R"({"node":"focus","text":{"node":"name","name":"d","span":$S},"on":{"node":"none","span":$S},)"
       R"("max":2000.0,"span":$S})"},
      {"trail not finite", compact(trail(kInf)), R"({"node":"trail","count":null,"span":$S})"},
      {"log without fields", compact(log(none())),
       R"({"node":"log","level":"info","value":{"node":"none","span":$S},"span":$S})"},
      {"log with fields", compact(log(none(), {RecordField{"n", num(1)}})),
       R"({"node":"log","level":"info","value":{"node":"none","span":$S},)"
       R"("fields":[{"name":"n","value":{"node":"number","value":1.0,"span":$S}}],"span":$S})"},
      {"judge without detail", compact(judge_expr(feels(subject("x"), name("c")))),
       R"({"node":"judge","each":false,"subject":{"root":"x","path":[],"state_path":"x","span":$S},)"
       R"("verb":{"verb":"feels","condition":{"node":"name","name":"c","span":$S}},)"
       R"("request_group":4294967295,"span":$S})"},
      {"judge with empty detail", compact(judge_expr(detailed)),
       R"({"node":"judge","each":false,"subject":{"root":"x","path":[],"state_path":"x","span":$S},)"
       R"("verb":{"verb":"feels","condition":{"node":"name","name":"c","span":$S}},"detail":{},)"
       R"("request_group":4294967295,"span":$S})"},
  });
}

TEST(IrJsonKeys, Statements) {
  check({
      {"break", compact(brk()), R"({"stmt":"break","span":$S})"},
      {"continue", compact(cont()), R"({"stmt":"continue","span":$S})"},
      {"return without value", compact(return_stmt(std::nullopt)), R"({"stmt":"return","span":$S})"},
      {"return with value", compact(return_stmt(none())),
       R"({"stmt":"return","value":{"node":"none","span":$S},"span":$S})"},
      {"assign", compact(Stmt{Stmt::Assign{"s", {}, none(), at(1)}}),
       R"({"stmt":"assign","root":"s","path":[],"value":{"node":"none","span":$S},"span":$S})"},
      {"expr", compact(expr_stmt(none())), R"({"stmt":"expr","expr":{"node":"none","span":$S},"span":$S})"},
      {"if without otherwise", compact(if_stmt(boolean(true), {}, std::nullopt)),
       R"({"stmt":"if","branches":[{"test":{"node":"bool","value":true,"span":$S},"body":[],"span":$S}],"span":$S})"},
      {"if with empty otherwise", compact(if_stmt(boolean(true), {}, std::vector<Stmt>{})),
       R"({"stmt":"if","branches":[{"test":{"node":"bool","value":true,"span":$S},"body":[],"span":$S}],)"
       R"("otherwise":[],"span":$S})"},
      {"for", compact(Stmt{Stmt::For{{"x"}, name("xs"), {}, at(1)}}),
       R"({"stmt":"for","names":["x"],"iterable":{"node":"name","name":"xs","span":$S},"body":[],"span":$S})"},
      {"loop NaN", compact(loop(kNaN, {})), R"({"stmt":"loop","max":null,"body":[],"span":$S})"},
      {"until", compact(Stmt{Stmt::Until{none(), false, 5, {}, at(1)}}),
       R"({"stmt":"until","test":{"node":"none","span":$S},"verify":false,"max":5.0,"body":[],"span":$S})"},
      {"gate without done", compact(Stmt{Stmt::Gate{num(0.5), num(0.8), std::nullopt, {}, at(1)}}),
       R"({"stmt":"gate","risk":{"node":"number","value":0.5,"span":$S},)"
       R"("confidence":{"node":"number","value":0.8,"span":$S},"arms":[],"span":$S})"},
      {"gate with done only", compact(Stmt{Stmt::Gate{std::nullopt, std::nullopt, none(), {}, at(1)}}),
       R"({"stmt":"gate","done":{"node":"none","span":$S},"arms":[],"span":$S})"},
      {"shape", compact(Stmt{Stmt::Shape{"s", false, {}, at(1)}}),
       R"({"stmt":"shape","target":"s","strict":false,"fields":[],"span":$S})"},
      {"stop", compact(Stmt{Stmt::Stop{none(), at(1)}}),
       R"({"stmt":"stop","reason":{"node":"none","span":$S},"span":$S})"},
      {"escalate", compact(Stmt{Stmt::Escalate{none(), at(1)}}),
       R"({"stmt":"escalate","reason":{"node":"none","span":$S},"span":$S})"},
  });
}

TEST(IrJsonKeys, JudgmentsAndQuestions) {
  JudgmentLog after_two{2, log(none()), at(1)};
  Judgment with_logs = judgment("j", {});
  with_logs.params = {"a"};
  with_logs.logs.push_back(after_two);
  Judge grouped = feels(subject("x", {SubjectStep{SubjectStep::Field{"user"}}, SubjectStep{SubjectStep::Index{num(1)}}}),
                        none());
  grouped.request_group = 0;
  grouped.each = true;
  check({
      {"judgment without logs or params", compact(judgment("j", {})),
       R"({"name":"j","params":[],"results":[],"shape_hash":"sh1:0000000000000000","span":$S})"},
      {"judgment with logs", compact(with_logs),
       R"({"name":"j","params":["a"],"results":[],"logs":[{"after":2,"log":{"node":"log","level":"info",)"
       R"("value":{"node":"none","span":$S},"span":$S},"span":$S}],"shape_hash":"sh1:0000000000000000","span":$S})"},
      {"result with group 0 and steps", compact(JudgmentResult{"r", grouped, at(1)}),
       R"({"name":"r","question":{"each":true,"subject":{"root":"x","path":[{"step":"field","name":"user"},)"
       R"({"step":"index","index":{"node":"number","value":1.0,"span":$S}}],"state_path":"x.user[?]","span":$S},)"
       R"("verb":{"verb":"feels","condition":{"node":"none","span":$S}},"request_group":0,"span":$S},"span":$S})"},
      {"empty pick", compact(JudgeVerb{JudgeVerb::Pick{}}), R"({"verb":"pick","labels":[]})"},
      {"empty rate", compact(JudgeVerb{JudgeVerb::Rate{}}), R"({"verb":"rate","levels":[]})"},
      {"pick among without by", compact(JudgeVerb{JudgeVerb::PickAmong{none(), std::nullopt, false}}),
       R"({"verb":"pick_among","question":{"node":"none","span":$S},"allow_none":false})"},
      {"pick among with by", compact(JudgeVerb{JudgeVerb::PickAmong{none(), "title", true}}),
       R"({"verb":"pick_among","question":{"node":"none","span":$S},"by":"title","allow_none":true})"},
      {"escape label", compact(escape_label("other")), R"({"name":"other","escape":true,"span":$S})"},
      {"described label",
       compact(PickLabel{"bug", false, name("d"), name("w"), name("n"), name("e"), at(1)}),
       R"({"name":"bug","escape":false,"description":{"node":"name","name":"d","span":$S},)"
       R"("what":{"node":"name","name":"w","span":$S},"not_for":{"node":"name","name":"n","span":$S},)"
       R"("examples":{"node":"name","name":"e","span":$S},"span":$S})"},
      {"rate level without name", compact(RateLevel{std::nullopt, none(), at(1)}),
       R"({"situation":{"node":"none","span":$S},"span":$S})"},
      {"rate level with name", compact(RateLevel{"low", none(), at(1)}),
       R"({"name":"low","situation":{"node":"none","span":$S},"span":$S})"},
      {"empty detail", compact(Detail{}), "{}"},
      {"detail sample false", compact(Detail{std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false}),
       R"({"sample":false})"},
      {"full detail", compact(Detail{name("f"), name("n"), name("c"), name("y"), name("o"), true}),
       R"({"focus":{"node":"name","name":"f","span":$S},"note":{"node":"name","name":"n","span":$S},)"
       R"("compare":{"node":"name","name":"c","span":$S},"yes":{"node":"name","name":"y","span":$S},)"
       R"("no":{"node":"name","name":"o","span":$S},"sample":true})"},
  });
}

TEST(IrJsonKeys, Shapes) {
  std::vector<FieldShape> deepest;
  deepest.push_back(FieldShape{"c", Shape{Shape::Type{ShapeTypeName::Bool}}});
  std::vector<FieldShape> middle;
  middle.push_back(FieldShape{"b", Shape{Shape::Record{std::move(deepest)}}});
  middle.push_back(FieldShape{"loose", std::nullopt});
  std::vector<FieldShape> top;
  top.push_back(FieldShape{"a", Shape{Shape::Record{std::move(middle)}}});
  ShapeField capped{"d", name("d"), 200.0, ShapePolicy{ShapePolicy::Focus{text("why")}}, at(1)};
  ShapeField unbounded{"d", name("d"), kNaN, ShapePolicy{ShapePolicy::Tail{}}, at(1)};
  check({
      {"head", compact(ShapePolicy{ShapePolicy::Head{}}), R"({"policy":"head"})"},
      {"tail", compact(ShapePolicy{ShapePolicy::Tail{}}), R"({"policy":"tail"})"},
      {"field without a shape", compact(Shape{Shape::Record{{FieldShape{"a", std::nullopt}}}}),
       R"({"shape":"record","fields":[{"name":"a"}]})"},
      {"empty record shape", compact(Shape{Shape::Record{}}), R"({"shape":"record","fields":[]})"},
      {"nested record shapes", compact(Shape{Shape::Record{std::move(top)}}),
       R"({"shape":"record","fields":[{"name":"a","shape":{"shape":"record","fields":[{"name":"b","shape":)"
       R"({"shape":"record","fields":[{"name":"c","shape":{"shape":"type","name":"bool"}}]}},{"name":"loose"}]}}]})"},
      {"shape field without max", compact(shape_field("x", none())),
       R"({"name":"x","value":{"node":"none","span":$S},"policy":{"policy":"head"},"span":$S})"},
      {"shape field with max and focus", compact(capped),
       R"({"name":"d","value":{"node":"name","name":"d","span":$S},"max":200.0,"policy":{"policy":"focus",)"
       R"("on":{"node":"text","parts":[{"part":"literal","value":"why"}],"span":$S}},"span":$S})"},
      {"shape field with max not finite", compact(unbounded),
       R"({"name":"d","value":{"node":"name","name":"d","span":$S},"max":null,"policy":{"policy":"tail"},"span":$S})"},
  });
}

// In the value form the tag key sorts among the others, and omitted entries are missing there too.
TEST(IrJsonKeys, ValueFormOrdersKeysByBytes) {
  Judge j = feels(subject("x"), none());
  j.detail = Detail{};
  const json::Value v = forms::value_form(judge_expr(j));
  std::vector<std::string> keys;
  for (const json::Member& m : v.as_object().entries()) keys.push_back(m.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"detail", "each", "node", "request_group", "span", "subject", "verb"}));
  const json::Value number = forms::value_form(num(1));
  keys.clear();
  for (const json::Member& m : number.as_object().entries()) keys.push_back(m.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"node", "span", "value"}));
  expect_forms_agree(judge_expr(j));
}

}  // namespace
}  // namespace dravelin::ir
