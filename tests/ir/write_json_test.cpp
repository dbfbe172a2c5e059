// The IR document in its three output forms: the root, spans, number and text forms, agreement of the forms, and
// a golden pretty document.
#include "ir/write_json.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"
#include "ir/nodes.h"
#include "ir/write_json_forms.h"
#include "json/reader.h"
#include "json/writer.h"
#include "support/numbers.h"

namespace dravelin::ir {
namespace {

using namespace build;
using forms::compact;
using forms::expect_forms_agree;
using forms::pretty;
using forms::value_form;
using forms::with_spans;

using test_numbers::kNaN;
using test_numbers::kInf;

// The keys of an object in the order they stand.
std::vector<std::string> keys_of(const json::Value& object) {
  std::vector<std::string> keys;
  for (const json::Member& m : object.as_object().entries()) keys.push_back(m.key);
  return keys;
}

// A program with every record, every variant of every union and every optional field both present and absent.
Ir full_program() {
  Ir ir = Ir::empty_named("full");
  ir.file = "full.zem";
  ir.span = Span{Pos{1, 0, 0}, Pos{90, 2, 4000}};

  std::vector<FieldShape> inner;
  inner.push_back(FieldShape{"tags", Shape{Shape::Type{ShapeTypeName::List}}});
  inner.push_back(FieldShape{"loose", std::nullopt});
  std::vector<FieldShape> outer;
  outer.push_back(FieldShape{"meta", Shape{Shape::Record{std::move(inner)}}});
  outer.push_back(FieldShape{"n", Shape{Shape::Type{ShapeTypeName::Number}}});
  ir.inputs.push_back(Input{"ticket", Shape{Shape::Record{std::move(outer)}}, at(2)});
  ir.inputs.push_back(Input{"flag", Shape{Shape::Type{ShapeTypeName::Bool}}, at(3)});
  ir.outputs.push_back(Output{"answer", at(4)});
  ir.needs.push_back(Need{"files", NeedKind::Tool,
                          {ToolSignature{"read", {"path", "mode"}, ToolReturnType::Text, at(5)},
                           ToolSignature{"ping", {}, ToolReturnType::None, at(6)}},
                          at(5)});
  ir.needs.push_back(need("reviewer", NeedKind::Person, at(7)));
  ir.modules.push_back(Module{"", "full", std::nullopt, {}, at(1)});
  ir.modules.push_back(Module{"lib", "library", "./lib.zem", {NeedMapping{"fs", "files", NeedKind::Tool}}, at(8)});

  // Judgments: every verb, details complete and empty, both escape and described labels, logs.
  Detail full_detail{text("focus"), text("note"), name("other"), text("yes"), text("no"), false};
  Judge urgent = feels(subject("ticket", {SubjectStep{SubjectStep::Field{"body"}},
                                          SubjectStep{SubjectStep::Index{num(0)}}}),
                       text("is urgent"), at(10));
  urgent.detail = full_detail;
  urgent.request_group = 0;
  PickLabel described{"bug", false, text("a defect"), text("what"), text("not for"), list({text("e1")}), at(11)};
  Judge kind = pick(subject("ticket"), {described, escape_label("other", at(12))}, at(11));
  kind.detail = Detail{};
  kind.request_group = 0;
  Judge level{true, subject("ticket"),
              JudgeVerb{JudgeVerb::Rate{{RateLevel{"low", text("calm"), at(13)},
                                         RateLevel{std::nullopt, text("on fire"), at(14)}}}},
              std::nullopt, 0, at(13)};
  Judge among{false, subject("items"), JudgeVerb{JudgeVerb::PickAmong{text("best?"), "title", true}},
              Detail{std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, true}, 0, at(15)};
  Judgment triage{"triage",
                  {"ticket", "items"},
                  {JudgmentResult{"urgent", urgent, at(10)}, JudgmentResult{"kind", kind, at(11)},
                   JudgmentResult{"level", level, at(13)}, JudgmentResult{"best", among, at(15)}},
                  {JudgmentLog{2, log(text("halfway"), {RecordField{"n", num(2)}}, at(16)), at(16)}},
                  "sh1:00000000000000aa",
                  at(9)};
  ir.judgments.push_back(std::move(triage));
  ir.judgments.push_back(judgment("bare", {JudgmentResult{"ok", feels(subject("x"), text("fine")), at(18)}}, at(17)));

  // Expressions: every variant, inside one statement list.
  Judge asked{false, subject("ticket"), JudgeVerb{JudgeVerb::PickAmong{text("which?"), std::nullopt, false}},
              std::nullopt, kNoRequestGroup, at(30)};
  Expr every = list({
      num(1.5),
      text({lit("hi "), interp(name("who"))}),
      boolean(false),
      none(),
      record({RecordField{"a", num(1)}}),
      index(name("xs"), num(0)),
      Expr{Expr::Call{name("notify"), {named_arg("to", text("ops")), arg(num(3))}, CallForm::Command, at(31)}},
      call(path("std", {"len"})),
      unary(UnaryOp::Neg, num(2)),
      binary(BinaryOp::GtEq, name("a"), name("b")),
      is(name("kind"), "bug"),
      comprehension(name("x"), {"x"}, name("xs"), std::nullopt),
      comprehension(name("v"), {"k", "v"}, name("m"), boolean(true)),
      focus(name("doc"), text("purpose"), 2000),
      trail(5),
      judge_expr(asked),
      Expr{Expr::Log{LogLevel::Warn, text("careful"), {}, at(32)}},
  });

  // Statements: every variant, optional parts present and absent.
  std::vector<Stmt> body;
  body.push_back(Stmt{Stmt::Assign{"state", {"a", "b"}, every, at(40)}});
  body.push_back(expr_stmt(name("x")));
  body.push_back(if_stmt(boolean(true), {brk()}, std::nullopt));
  body.push_back(if_stmt(boolean(false), {cont()}, std::vector<Stmt>{}));
  body.push_back(Stmt{Stmt::For{{"i", "item"}, name("xs"), {expr_stmt(name("item"))}, at(41)}});
  body.push_back(loop(3, {}));
  body.push_back(Stmt{Stmt::Until{name("done"), true, 10, {expr_stmt(name("y"))}, at(42)}});
  body.push_back(Stmt{Stmt::Gate{num(0.2), num(0.9), std::nullopt,
                                 {GateArm{Verdict::Proceed, {}, at(43)}, GateArm{Verdict::Escalate, {brk()}, at(44)}},
                                 at(43)}});
  body.push_back(Stmt{Stmt::Gate{std::nullopt, std::nullopt, name("finished"), {}, at(45)}});
  ShapeField capped{"doc", name("doc"), 500.0, ShapePolicy{ShapePolicy::Focus{text("why")}}, at(46)};
  body.push_back(Stmt{Stmt::Shape{"state", true,
                                  {capped, shape_field("a", name("a")),
                                   shape_field("b", name("b"), ShapePolicy{ShapePolicy::Tail{}})},
                                  at(46)}});
  body.push_back(return_stmt(std::nullopt));
  body.push_back(return_stmt(num(1)));
  body.push_back(Stmt{Stmt::Stop{text("enough"), at(47)}});
  body.push_back(Stmt{Stmt::Escalate{text("help"), at(48)}});

  Task main_task{"main",
                 {DefParam{"limit", num(3)}, DefParam{"who", std::nullopt}},
                 Budget{50.0, 1.5, 0.25, 100.0},
                 Thresholds{0.5, 0.6, 0.95, 0.9, {NamedNumber{"custom", 0.75}, NamedNumber{"custom", 1}}},
                 std::move(body),
                 at(39)};
  ir.tasks.push_back(std::move(main_task));
  ir.tasks.push_back(task("idle", {}, at(50)));

  // Machines: one with everything, one with nothing optional.
  MachineState open{"open", false,
                    {Transition{"close", text("closing"), "closed", name("ready"), true, {brk()}, at(61)},
                     transition("stay", text("staying"), "open", std::nullopt, {}, at(62))},
                    at(60)};
  MachineState closed{"closed", true, {}, at(63)};
  Machine flow{"flow",
               {DefParam{"x", std::nullopt}},
               Budget{{}, {}, {}, 20.0},
               Thresholds{},
               name("goal"),
               "open",
               {shape_field("x", name("x"), ShapePolicy{ShapePolicy::Head{}})},
               {open, closed},
               "sh1:00000000000000bb",
               at(59)};
  ir.machines.push_back(std::move(flow));
  ir.machines.push_back(machine("empty", {}, at(64)));

  ir.defs.push_back(def("helper", {return_stmt(name("x"))}, at(70)));
  ir.defs.push_back(Def{"with_params", {DefParam{"a", std::nullopt}}, {}, at(71)});
  return ir;
}

// ---- the document root ----

TEST(IrJsonDocument, RootWithoutModulesMachinesOrFile) {
  const Ir ir = Ir::empty_named("demo");
  EXPECT_EQ(compact(ir),
            R"({"ir_version":"0.1","program":"demo","inputs":[],"outputs":[],"needs":[],"judgments":[],)"
            R"("tasks":[],"defs":[],"span":{"start":{"line":0,"column":0,"offset":0},)"
            R"("end":{"line":0,"column":0,"offset":0}}})");
  expect_forms_agree(ir);
}

TEST(IrJsonDocument, RootKeyOrderInEachForm) {
  const Ir ir = full_program();
  const std::vector<std::string> declared = {"ir_version", "program", "inputs",   "outputs", "needs", "modules",
                                             "judgments",  "tasks",   "machines", "defs",    "file",  "span"};
  auto parsed = json::parse(ir_program_to_pretty_json(ir));
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(keys_of(*parsed), declared);
  auto parsed_compact = json::parse(compact(ir));
  ASSERT_TRUE(parsed_compact.ok());
  EXPECT_EQ(keys_of(*parsed_compact), declared);
  const std::vector<std::string> by_bytes = {"defs",     "file",    "inputs",  "ir_version", "judgments", "machines",
                                             "modules", "needs",   "outputs", "program",    "span",      "tasks"};
  EXPECT_EQ(keys_of(ir_program_to_json_value(ir)), by_bytes);
}

TEST(IrJsonDocument, EntryPointsMatchTheWriters) {
  const Ir ir = full_program();
  const std::string text = ir_program_to_pretty_json(ir);
  EXPECT_EQ(text, pretty(ir));
  EXPECT_EQ(text.front(), '{');
  EXPECT_EQ(text.back(), '}');
  EXPECT_EQ(text.substr(0, 2), "{\n");
  EXPECT_EQ(text.substr(text.size() - 2), "\n}");
  EXPECT_TRUE(json::identical(ir_program_to_json_value(ir), value_form(ir)));
}

// Every record and variant written in the three forms describes one and the same JSON value.
TEST(IrJsonDocument, ThreeFormsAgreeOnEveryNode) {
  const Ir ir = full_program();
  expect_forms_agree(ir);
  for (const Stmt& stmt : ir.tasks.front().body) expect_forms_agree(stmt);
  expect_forms_agree(ir.machines.front());
  expect_forms_agree(ir.judgments.front());
}

TEST(IrJsonDocument, ValueFormKeepsIntegersAndFloatsApart) {
  const json::Value v = ir_program_to_json_value(full_program());
  const json::Value& line = *v.find("span")->find("end")->find("line");
  EXPECT_TRUE(line.is_uint());
  const json::Value& task = v.find("tasks")->as_array().front();
  EXPECT_TRUE(task.find("budget")->find("calls")->is_float());
  const json::Value& result = v.find("judgments")->as_array().front().find("results")->as_array().front();
  EXPECT_TRUE(result.find("question")->find("request_group")->is_uint());
  const json::Value& log_entry = v.find("judgments")->as_array().front().find("logs")->as_array().front();
  EXPECT_TRUE(log_entry.find("after")->is_uint());
}

// The empty lists that are always written stand on the line of their key in the pretty form.
TEST(IrJsonDocument, PrettyEmptyBodyStaysOnItsLine) {
  Ir ir = Ir::empty_named("p");
  Task idle = task("idle", {});
  idle.budget = Budget{};
  ir.tasks.push_back(idle);
  const std::string text = ir_program_to_pretty_json(ir);
  EXPECT_NE(text.find("\n      \"budget\": {},\n      \"thresholds\": {},\n      \"body\": [],\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\n  \"inputs\": [],\n"), std::string::npos);
}

// A small program as `compile` prints it, byte for byte.
TEST(IrJsonDocument, GoldenPrettyDocument) {
  Ir ir = Ir::empty_named("hello");
  ir.file = "hello.zem";
  ir.span = Span{Pos{1, 0, 0}, Pos{9, 0, 120}};
  ir.inputs.push_back(Input{"name", Shape{Shape::Type{ShapeTypeName::Text}}, at(2)});
  ir.outputs.push_back(Output{"greeting", at(3)});
  ir.needs.push_back(need("helper", NeedKind::Agent, at(4)));
  Judge polite = feels(subject("name"), text("is polite"), at(6));
  polite.request_group = 0;
  ir.judgments.push_back(judgment("tone", {JudgmentResult{"polite", polite, at(6)}}, at(5)));
  Task main_task = task("main", {assign("greeting", text({lit("hello, "), interp(name("name"))}), at(8)),
                                 return_stmt(std::nullopt, at(9))},
                        at(7));
  main_task.budget.usd = 0.5;
  ir.tasks.push_back(std::move(main_task));

  const std::filesystem::path golden = std::filesystem::path(DRAVELIN_TESTDATA) / "ir" / "hello.json";
  std::ifstream in(golden, std::ios::binary);
  ASSERT_TRUE(in) << golden;
  std::stringstream expected;
  expected << in.rdbuf();
  // The file holds the document as `compile` prints it: followed by one newline.
  EXPECT_EQ(ir_program_to_pretty_json(ir) + "\n", expected.str());
}

// ---- spans and positions ----

TEST(IrJsonSpan, ThreeForms) {
  const Span span{Pos{1, 0, 0}, Pos{2, 4, 17}};
  EXPECT_EQ(pretty(span),
            "{\n"
            "  \"start\": {\n"
            "    \"line\": 1,\n"
            "    \"column\": 0,\n"
            "    \"offset\": 0\n"
            "  },\n"
            "  \"end\": {\n"
            "    \"line\": 2,\n"
            "    \"column\": 4,\n"
            "    \"offset\": 17\n"
            "  }\n"
            "}");
  EXPECT_EQ(compact(span), R"({"start":{"line":1,"column":0,"offset":0},"end":{"line":2,"column":4,"offset":17}})");
  EXPECT_EQ(json::to_compact(to_json_value(span)),
            R"({"end":{"column":4,"line":2,"offset":17},"start":{"column":0,"line":1,"offset":0}})");
  EXPECT_TRUE(json::identical(to_json_value(span.end), value_form(span.end)));
}

TEST(IrJsonSpan, LargestPositionIsAnInteger) {
  const Pos pos{4294967295u, 0, 4294967295u};
  EXPECT_EQ(compact(pos), R"({"line":4294967295,"column":0,"offset":4294967295})");
  const json::Value v = to_json_value(pos);
  EXPECT_TRUE(v.find("line")->is_uint());
  EXPECT_EQ(v.find("line")->as_uint(), 4294967295u);
}

// ---- numbers and texts ----

struct FloatCase {
  double value;
  const char* text;
};

TEST(IrJsonNumbers, FloatTextForm) {
  const FloatCase cases[] = {
      {1, "1.0"},
      {10, "10.0"},
      {100, "100.0"},
      {2.5, "2.5"},
      {0.1, "0.1"},
      {1.0 / 3.0, "0.3333333333333333"},
      {0.00001, "0.00001"},
      {0.000001, "1e-6"},
      {0.00000015, "1.5e-7"},
      {1e15, "1000000000000000.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e+16"},
      {1.5e300, "1.5e+300"},
      {DBL_MAX, "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {-2.5, "-2.5"},
      {kNaN, "null"},
      {kInf, "null"},
      {-kInf, "null"},
  };
  for (const FloatCase& c : cases) {
    const Expr e = num(c.value);
    const std::string want = with_spans(std::string(R"({"node":"number","value":)") + c.text + R"(,"span":$S})");
    EXPECT_EQ(compact(e), want) << c.text;
    // The value form holds a float (null when not finite) that prints the same way.
    const json::Value v = value_form(e);
    EXPECT_EQ(json::to_compact(*v.find("value"), json::FloatStyle::Ir), c.text);
    EXPECT_EQ(v.find("value")->is_null(), std::string_view(c.text) == "null");
  }
}

// A recording line is written with the record float form ("1e16"); the IR it carries keeps its own ("1e+16").
TEST(IrJsonNumbers, NestedInAHostWriterKeepsTheIrForm) {
  Ir ir = Ir::empty_named("n");
  ir.tasks.push_back(task("t", {loop(1e16, {})}));
  std::string line;
  json::Writer host(line, json::Layout::Compact, json::FloatStyle::Record);
  host.begin_object().field_f64("limit", 1e16).key("ir");
  write_json(ir, host);
  host.end_object();
  EXPECT_EQ(line.substr(0, 25), R"({"limit":1e16,"ir":{"ir_v)");
  EXPECT_NE(line.find(R"({"stmt":"loop","max":1e+16,"body":[])"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("budget":{"calls":50.0})"), std::string::npos) << line;
  EXPECT_EQ(line.find("1e16", 10), std::string::npos) << line;
}

struct EscapeCase {
  std::string text;
  std::string escaped;  // as it stands between the quotation marks
};

TEST(IrJsonTexts, Escaping) {
  const EscapeCase cases[] = {
      {"plain", "plain"},
      {"\"", R"(\")"},
      {"\\", R"(\\)"},
      {"a\nb", R"(a\nb)"},
      {"\t", R"(\t)"},
      {"\b\f\r", R"(\b\f\r)"},
      {std::string("\x00\x01\x1f", 3), R"(\u0000\u0001\u001f)"},
      {"/", "/"},
      {"\x7f", "\x7f"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"\"\\\n\t\x01/\xc3\xa9", "\\\"\\\\\\n\\t\\u0001/\xc3\xa9"},
  };
  for (const EscapeCase& c : cases) {
    EXPECT_EQ(compact(text(c.text)),
              with_spans(R"({"node":"text","parts":[{"part":"literal","value":")" + c.escaped + R"("}],"span":$S})"))
        << c.escaped;
    // The same escapes stand in the pretty text, which stays one entry per line.
    Ir ir = Ir::empty_named(c.text);
    EXPECT_NE(ir_program_to_pretty_json(ir).find("\n  \"program\": \"" + c.escaped + "\",\n"), std::string::npos);
    EXPECT_EQ(compact(ir).find('\n'), std::string::npos);
    auto parsed = json::parse(compact(ir));
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed->find("program")->as_string(), c.text);
  }
}

// ---- budget keys ----

TEST(IrJsonBudgetKeys, NamesAsValuesAndKeys) {
  using syntax::ast::BudgetKey;
  EXPECT_EQ(to_json_value(BudgetKey::Calls), json::Value("calls"));
  EXPECT_EQ(to_json_value(BudgetKey::Minutes), json::Value("minutes"));
  EXPECT_EQ(to_json_value(BudgetKey::Usd), json::Value("usd"));
  EXPECT_EQ(to_json_value(BudgetKey::Steps), json::Value("steps"));
  json::Object extend;
  for (BudgetKey key : {BudgetKey::Calls, BudgetKey::Minutes, BudgetKey::Usd, BudgetKey::Steps}) {
    extend.set(std::string(to_json_key(key)), json::Value(10.0));
  }
  extend.set(std::string(to_json_key(BudgetKey::Usd)), json::Value());
  EXPECT_EQ(json::to_compact(json::Value(std::move(extend))),
            R"({"calls":10.0,"minutes":10.0,"steps":10.0,"usd":null})");
}

}  // namespace
}  // namespace dravelin::ir
