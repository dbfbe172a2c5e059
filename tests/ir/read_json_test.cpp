// The IR JSON reader on documents written by hand: the forms it accepts beside the writer's own (array forms,
// tags by position, keys in any order, unit enums as one-key objects) and every refusal, by its exact text.
// In the JSON texts "$S" stands for the compact span `at(1)` and "$E" for the expression `none` at that span.
#include "ir/read_json.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "ir/ir_test_builders.h"
#include "ir/write_json.h"
#include "ir/write_json_forms.h"
#include "json/reader.h"

namespace dravelin::ir {
namespace {

using namespace build;

std::string expand(std::string_view pattern) {
  static const std::string expr = forms::with_spans(R"({"node":"none","span":$S})");
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.compare(i, 2, "$S") == 0) {
      out += forms::span1();
      ++i;
    } else if (pattern.compare(i, 2, "$E") == 0) {
      out += expr;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

// The text keeps its key order and repeated keys, as a recording line's reader hands it over.
json::Value parse_doc(std::string_view pattern) {
  auto parsed = json::parse(expand(pattern));
  EXPECT_TRUE(parsed.ok()) << pattern << ": " << parsed.error().text();
  return parsed.ok() ? std::move(parsed).value() : json::Value();
}

// A reader of one IR type, giving what it read written back in the compact form, or its error.
struct Outcome {
  bool ok = false;
  std::string text;  // the compact form of what was read, or the error
};
using ReadAs = Outcome (*)(const json::Value&);

template <class T>
Outcome read_as(const json::Value& value) {
  auto read = read_json<T>(value);
  if (!read.ok()) return {false, read.error()};
  return {true, forms::compact(*read)};
}

struct Case {
  const char* name;
  ReadAs read;
  const char* json;
  const char* expected;  // the compact form read (accepted cases) or the error text (refusals)
};

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.name; }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name << ": " << c.json; }

// ---- forms the writer never produces but the reader accepts ----

class Accepts : public testing::TestWithParam<Case> {};

TEST_P(Accepts, ReadsAsTheWriterWouldWriteIt) {
  const Case& c = GetParam();
  const Outcome got = c.read(parse_doc(c.json));
  ASSERT_TRUE(got.ok) << got.text;
  EXPECT_EQ(got.text, expand(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    IrRead, Accepts,
    testing::Values(
        // Records: keys in any order, unknown keys skipped (repeated too), optional keys missing or null.
        Case{"KeysInAnyOrder", read_as<Output>, R"({"span":$S,"name":"o"})", R"({"name":"o","span":$S})"},
        Case{"UnknownKeysSkippedEvenTwice", read_as<Output>, R"({"x":1,"name":"o","x":[{}],"span":$S})",
             R"({"name":"o","span":$S})"},
        Case{"EscapedKeyMatches", read_as<Pos>, R"({"\u006cine":4,"column":5,"offset":6})",
             R"({"line":4,"column":5,"offset":6})"},
        Case{"RootWithoutOmittedKeys", read_as<Ir>,
             R"({"ir_version":"0.1","program":"p","inputs":[],"outputs":[],"needs":[],"judgments":[],"tasks":[],)"
             R"("defs":[],"span":$S,"comment":{"any":"thing"},"file":null})",
             R"({"ir_version":"0.1","program":"p","inputs":[],"outputs":[],"needs":[],"judgments":[],"tasks":[],)"
             R"("defs":[],"span":$S})"},
        Case{"BudgetNullIsAbsentAndIntegersAreFloats", read_as<Budget>, R"({"calls":null,"usd":2})",
             R"({"usd":2.0})"},
        Case{"EmptyBudget", read_as<Budget>, "{}", "{}"},
        Case{"ThresholdsOtherIsTheNamedList", read_as<Thresholds>, R"({"other":[{"name":"p","value":0.5}]})",
             R"({"other":[{"name":"p","value":0.5}]})"},
        Case{"TransitionWithoutWhenAndBody", read_as<Transition>,
             R"({"event":"e","description":$E,"target":"t","risky":false,"span":$S})",
             R"({"event":"e","description":$E,"target":"t","risky":false,"span":$S})"},
        Case{"ModulePathNull", read_as<Module>, R"({"alias":"m","program":"lib","path":null,"span":$S})",
             R"({"alias":"m","program":"lib","span":$S})"},
        Case{"DetailNullIsNoDetail", read_as<Judge>,
             R"({"each":false,"subject":{"root":"t","path":[],"state_path":"t","span":$S},)"
             R"("verb":{"verb":"feels","condition":$E},"detail":null,"request_group":0,"span":$S})",
             R"({"each":false,"subject":{"root":"t","path":[],"state_path":"t","span":$S},)"
             R"("verb":{"verb":"feels","condition":$E},"request_group":0,"span":$S})"},
        Case{"EmptyDetailIsPresent", read_as<Detail>, R"({"sample":null})", "{}"},
        Case{"DetailSampleFalseKept", read_as<Detail>, R"({"sample":false,"note":null})", R"({"sample":false})"},
        Case{"RateLevelNameNull", read_as<RateLevel>, R"({"name":null,"situation":$E,"span":$S})",
             R"({"situation":$E,"span":$S})"},
        Case{"ArgNameNull", read_as<Arg>, R"({"name":null,"value":$E})", R"({"value":$E})"},
        Case{"ShapeFieldMaxNull", read_as<ShapeField>,
             R"({"name":"f","value":$E,"max":null,"policy":["tail"],"span":$S})",
             R"({"name":"f","value":$E,"policy":{"policy":"tail"},"span":$S})"},
        Case{"ShapeFieldMaxWhole", read_as<ShapeField>,
             R"({"name":"f","value":$E,"max":3,"policy":{"policy":"head"},"span":$S})",
             R"({"name":"f","value":$E,"max":3.0,"policy":{"policy":"head"},"span":$S})"},
        Case{"MachineStateWithoutTransitions", read_as<MachineState>, R"({"name":"s","done":true,"span":$S})",
             R"({"name":"s","done":true,"span":$S})"},
        Case{"IfOtherwiseEmptyIsPresent", read_as<Stmt>, R"({"stmt":"if","branches":[],"otherwise":[],"span":$S})",
             R"({"stmt":"if","branches":[],"otherwise":[],"span":$S})"},
        Case{"IfOtherwiseNullIsAbsent", read_as<Stmt>,
             R"({"stmt":"if","branches":[],"otherwise":null,"span":$S})", R"({"stmt":"if","branches":[],"span":$S})"},
        // Tagged unions: the tag anywhere, or by position; extra keys skipped.
        Case{"TagLast", read_as<Expr>, R"({"value":1.5,"span":$S,"node":"number"})",
             R"({"node":"number","value":1.5,"span":$S})"},
        Case{"TagByPosition", read_as<Expr>, R"({"node":4,"name":"x","span":$S})",
             R"({"node":"name","name":"x","span":$S})"},
        Case{"VerbByPosition", read_as<JudgeVerb>, R"({"verb":3,"question":$E,"allow_none":true,"kind":1})",
             R"({"verb":"pick_among","question":$E,"allow_none":true})"},
        Case{"NoneWithExtraKey", read_as<Expr>, R"({"node":"none","span":$S,"value":1})", "$E"},
        Case{"HeadSkipsWhatItHolds", read_as<ShapePolicy>, R"({"policy":"head","on":$E})", R"({"policy":"head"})"},
        Case{"JudgeNodeWithItsKeys", read_as<Expr>,
             R"({"node":"judge","each":true,"subject":{"root":"t","path":[{"step":"index","index":$E}],)"
             R"("state_path":"t","span":$S},"verb":{"verb":"rate","levels":[]},"detail":{},)"
             R"("request_group":4294967295,"span":$S})",
             R"({"node":"judge","each":true,"subject":{"root":"t","path":[{"step":"index","index":$E}],)"
             R"("state_path":"t","span":$S},"verb":{"verb":"rate","levels":[]},"detail":{},)"
             R"("request_group":4294967295,"span":$S})"},
        // Array forms, optional positions at the end left out or given as null.
        Case{"SpanAsArrays", read_as<Span>, "[[1,0,100],[1,1,101]]", "$S"},
        Case{"ExprAsArray", read_as<Expr>, R"(["name","x",$S])", R"({"node":"name","name":"x","span":$S})"},
        Case{"BudgetShortArray", read_as<Budget>, "[1, null, 2.5]", R"({"calls":1.0,"usd":2.5})"},
        Case{"EmptyArrayBudget", read_as<Budget>, "[]", "{}"},
        Case{"EmptyArrayDetail", read_as<Detail>, "[]", "{}"},
        Case{"ModuleArray", read_as<Module>, R"(["m","lib",null,[],$S])", R"({"alias":"m","program":"lib","span":$S})"},
        Case{"DefParamArrayOfName", read_as<DefParam>, R"(["n"])", R"({"name":"n"})"},
        Case{"DefAsArray", read_as<Def>, R"(["f",[["x",$E]],[["return",null,$S]],$S])",
             R"({"name":"f","params":[{"name":"x","default":$E}],"body":[{"stmt":"return","span":$S}],"span":$S})"},
        Case{"GateArrayWithNulls", read_as<Stmt>, R"(["gate",null,null,null,[],$S])",
             R"({"stmt":"gate","arms":[],"span":$S})"},
        Case{"ComprehensionArrayNullTest", read_as<Expr>, R"(["comprehension",$E,["v"],$E,null,$S])",
             R"({"node":"comprehension","expr":$E,"names":["v"],"iterable":$E,"span":$S})"},
        Case{"LogArrayEmptyFields", read_as<Expr>, R"(["log","info",$E,[],$S])",
             R"({"node":"log","level":"info","value":$E,"span":$S})"},
        Case{"HeadAsArray", read_as<ShapePolicy>, R"(["head"])", R"({"policy":"head"})"},
        Case{"RecordShapeArray", read_as<Shape>, R"(["record",[]])", R"({"shape":"record","fields":[]})"},
        Case{"FieldShapeArrayOfName", read_as<FieldShape>, R"(["score"])", R"({"name":"score"})"},
        Case{"TextPartArray", read_as<TextPart>, R"(["literal","hi"])", R"({"part":"literal","value":"hi"})"},
        Case{"RecordFieldArray", read_as<RecordField>, R"(["k",$E])", R"({"name":"k","value":$E})"},
        // Unit enums: a name, or an object whose one key is the name with null or {}.
        Case{"UnitEnumObjectNull", read_as<Expr>, R"({"node":"unary","op":{"neg":null},"operand":$E,"span":$S})",
             R"({"node":"unary","op":"neg","operand":$E,"span":$S})"},
        Case{"UnitEnumObjectEmpty", read_as<Need>, R"({"name":"n","kind":{"tool":{}},"span":$S})",
             R"({"name":"n","kind":"tool","span":$S})"}),
    case_name);

// ---- refusals, each by its exact text ----

class Refuses : public testing::TestWithParam<Case> {};

TEST_P(Refuses, WithTheMessage) {
  const Case& c = GetParam();
  const Outcome got = c.read(parse_doc(c.json));
  EXPECT_FALSE(got.ok) << "read as " << got.text;
  EXPECT_EQ(got.text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    IrRead, Refuses,
    testing::Values(
        // Records: wrong kind, missing keys in declared order, duplicates, array lengths.
        Case{"RootString", read_as<Ir>, R"("abc")", R"(invalid type: string "abc", expected struct Ir)"},
        Case{"RootEmptyArray", read_as<Ir>, "[]", "invalid length 0, expected struct Ir with 12 elements"},
        Case{"RootArrayStopsBeforeJudgments", read_as<Ir>, R"(["0.1","p",[],[],[],[]])",
             "invalid length 6, expected struct Ir with 12 elements"},
        Case{"RootArrayTooLong", read_as<Ir>, R"(["0.1","p",[],[],[],[],[],[],[],[],null,$S,1])",
             "invalid length 13, expected 12 elements in sequence"},
        Case{"RootWithoutDefs", read_as<Ir>,
             R"({"ir_version":"0.1","program":"p","inputs":[],"outputs":[],"needs":[],"judgments":[],)"
             R"("tasks":[],"span":$S})",
             "missing field `defs`"},
        Case{"FirstMissingInDeclaredOrder", read_as<Ir>,
             R"({"ir_version":"0.1","inputs":[],"outputs":[],"needs":[],"judgments":[],"tasks":[],"defs":[]})",
             "missing field `program`"},
        Case{"OmittedListGivenNull", read_as<Ir>, R"({"modules":null})", "invalid type: null, expected a sequence"},
        Case{"SpanNull", read_as<Output>, R"({"name":"o","span":null})", "invalid type: null, expected struct Span"},
        Case{"DuplicateKey", read_as<Ir>, R"({"tasks":[],"tasks":[]})", "duplicate field `tasks`"},
        Case{"DuplicateAfterNull", read_as<Ir>, R"({"file":null,"file":"a"})", "duplicate field `file`"},
        Case{"DuplicateEvenWhenEqual", read_as<Subject>, R"({"root":"a","root":"a"})", "duplicate field `root`"},
        Case{"DuplicateBeforeItsValue", read_as<Output>, R"({"name":"o","name":5})", "duplicate field `name`"},
        Case{"SpanArrayOfThree", read_as<Span>, "[[1,0,0],[1,0,0],[1,0,0]]",
             "invalid length 3, expected 2 elements in sequence"},
        Case{"SpanArrayOfOne", read_as<Span>, "[[1,0,0]]", "invalid length 1, expected struct Span with 2 elements"},
        Case{"PosWithoutLineAndColumn", read_as<Pos>, R"({"offset":1})", "missing field `line`"},
        Case{"OutputWithoutSpan", read_as<Output>, R"({"name":"report"})", "missing field `span`"},
        Case{"OutputArrayTooLong", read_as<Output>, R"(["o",$S,1])", "invalid length 3, expected 2 elements in sequence"},
        Case{"NeedWithoutKindAndSpan", read_as<Need>, R"({"name":"n"})", "missing field `kind`"},
        Case{"NeedArrayTooLong", read_as<Need>, R"(["n","tool",[],$S,0])",
             "invalid length 5, expected 4 elements in sequence"},
        Case{"ModuleArrayWithoutSpan", read_as<Module>, R"(["m","lib",null,[]])",
             "invalid length 4, expected struct Module with 5 elements"},
        Case{"NeedMappingShortArray", read_as<NeedMapping>, R"(["inner","outer"])",
             "invalid length 2, expected struct NeedMapping with 3 elements"},
        Case{"MappingElementString", read_as<Module>, R"({"alias":"m","program":"p","mapping":["x"],"span":$S})",
             R"(invalid type: string "x", expected struct NeedMapping)"},
        Case{"TaskEmpty", read_as<Task>, "{}", "missing field `name`"},
        Case{"TaskWithNameOnly", read_as<Task>, R"({"name":"t"})", "missing field `budget`"},
        Case{"TaskParamsNull", read_as<Task>, R"({"name":"t","params":null})",
             "invalid type: null, expected a sequence"},
        Case{"TaskArrayOfName", read_as<Task>, R"(["t"])", "invalid length 2, expected struct Task with 6 elements"},
        Case{"MachineGoalTwice", read_as<Machine>, R"({"goal":null,"goal":$E})", "duplicate field `goal`"},
        Case{"MachineArrayOfFive", read_as<Machine>, R"(["m",[],{},{},null])",
             "invalid length 5, expected struct Machine with 10 elements"},
        Case{"TransitionArrayOfThree", read_as<Transition>, R"(["e",$E,"t"])",
             "invalid length 4, expected struct Transition with 7 elements"},
        Case{"DefParamEmptyArray", read_as<DefParam>, "[]",
             "invalid length 0, expected struct DefParam with 2 elements"},
        Case{"DefParamArrayOfThree", read_as<DefParam>, R"(["n",null,1])",
             "invalid length 3, expected 2 elements in sequence"},
        Case{"DefArrayOfFive", read_as<Def>, R"(["f",[],[],$S,1])", "invalid length 5, expected 4 elements in sequence"},
        Case{"BudgetArrayOfFive", read_as<Budget>, "[1,2,3,4,5]", "invalid length 5, expected 4 elements in sequence"},
        Case{"ThresholdsArrayOfSix", read_as<Thresholds>, "[1,2,3,4,[],5]",
             "invalid length 6, expected 5 elements in sequence"},
        Case{"BudgetGivenNull", read_as<Budget>, "null", "invalid type: null, expected struct Budget"},
        Case{"JudgmentArrayOfThree", read_as<Judgment>, R"(["j",[],[]])",
             "invalid length 4, expected struct Judgment with 6 elements"},
        Case{"JudgmentLogsNull", read_as<Judgment>, R"({"logs":null})", "invalid type: null, expected a sequence"},
        Case{"JudgeArrayOfThree", read_as<Judge>, R"([true,["t",[],"t",$S],["feels",$E]])",
             "invalid length 4, expected struct Judge with 6 elements"},
        Case{"JudgeArrayWithoutDetail", read_as<Judge>, R"([true,["t",[],"t",$S],["feels",$E],0,$S])",
             "invalid type: integer `0`, expected struct Detail"},
        Case{"JudgeWithoutVerbAndSpan", read_as<Judge>,
             R"({"each":true,"subject":["t",[],"t",$S],"request_group":0})", "missing field `verb`"},
        Case{"JudgeSubjectNull", read_as<Judge>, R"({"subject":null})", "invalid type: null, expected struct Subject"},
        Case{"PickLabelArrayOfTwo", read_as<PickLabel>, R"(["a",false])",
             "invalid length 6, expected struct PickLabel with 7 elements"},
        Case{"RateLevelEmptyArray", read_as<RateLevel>, "[]",
             "invalid length 1, expected struct RateLevel with 3 elements"},
        Case{"DetailArrayOfSeven", read_as<Detail>, "[null,null,null,null,null,null,null]",
             "invalid length 7, expected 6 elements in sequence"},
        Case{"PickAmongArrayOfQuestion", read_as<JudgeVerb>, R"(["pick_among",$E])",
             "invalid length 2, expected struct variant JudgeVerb::PickAmong with 3 elements"},
        Case{"PickWithoutLabels", read_as<JudgeVerb>, R"({"verb":"pick"})", "missing field `labels`"},
        Case{"MachineStateArrayOfTwo", read_as<MachineState>, R"(["s",true])",
             "invalid length 3, expected struct MachineState with 4 elements"},
        Case{"MachineStateWithoutDone", read_as<MachineState>, R"({"name":"s","span":$S})", "missing field `done`"},
        Case{"ToolSignatureArrayOfName", read_as<ToolSignature>, R"(["f"])",
             "invalid length 2, expected struct ToolSignature with 4 elements"},
        Case{"ToolSignatureWithoutReturns", read_as<ToolSignature>, R"({"name":"f","span":$S})",
             "missing field `returns`"},
        Case{"ArgEmptyArray", read_as<Arg>, "[]", "invalid length 1, expected struct Arg with 2 elements"},
        Case{"ArgArrayOfExpression", read_as<Arg>, "[$E]", "invalid type: map, expected a string"},
        Case{"InputWithoutShape", read_as<Input>, R"({"name":"i","span":$S})", "missing field `shape`"},
        Case{"InputShapeWithoutTag", read_as<Input>, R"({"name":"i","shape":{"name":"text"},"span":$S})",
             "missing field `shape`"},
        Case{"InputShapeNull", read_as<Input>, R"({"shape":null})",
             "invalid type: null, expected internally tagged enum Shape"},
        Case{"RecordFieldArrayOfName", read_as<RecordField>, R"(["k"])",
             "invalid length 1, expected struct RecordField with 2 elements"},
        Case{"RecordFieldString", read_as<Expr>, R"({"node":"record","fields":["k"],"span":$S})",
             R"(invalid type: string "k", expected struct RecordField)"},
        Case{"BranchString", read_as<Stmt>, R"({"stmt":"if","branches":["x"],"span":$S})",
             R"(invalid type: string "x", expected struct Branch)"},
        Case{"GateArmNull", read_as<Stmt>, R"({"stmt":"gate","arms":[null],"span":$S})",
             "invalid type: null, expected struct GateArm"},
        Case{"ListElementOfWrongKind", read_as<Ir>, R"({"tasks":[5]})", "invalid type: integer `5`, expected struct Task"},
        Case{"ListGivenObject", read_as<Ir>, R"({"tasks":{}})", "invalid type: map, expected a sequence"},
        Case{"ListElementNull", read_as<Ir>, R"({"tasks":[null]})", "invalid type: null, expected struct Task"},
        // Values of the wrong kind or out of range.
        Case{"U32TooLarge", read_as<Pos>, "[4294967296,0,0]", "invalid value: integer `4294967296`, expected u32"},
        Case{"U32Negative", read_as<Pos>, R"({"line":-1})", "invalid value: integer `-1`, expected u32"},
        Case{"U32WithFraction", read_as<Pos>, R"({"line":3.0})", "invalid type: floating point `3.0`, expected u32"},
        Case{"U32WithExponent", read_as<Pos>, R"({"line":3e0})", "invalid type: floating point `3.0`, expected u32"},
        Case{"U32LargeFloatInIrForm", read_as<Judge>, R"({"request_group":1e16})",
             "invalid type: floating point `1e+16`, expected u32"},
        Case{"U32String", read_as<Pos>, R"({"line":"3"})", R"(invalid type: string "3", expected u32)"},
        Case{"RequestGroupHalf", read_as<Judge>, R"({"request_group":1.5})",
             "invalid type: floating point `1.5`, expected u32"},
        Case{"AfterTooLarge", read_as<JudgmentLog>, R"({"after":4294967296})",
             "invalid value: integer `4294967296`, expected u32"},
        Case{"StringEscapesInDescription", read_as<Pos>, "{\"line\":\"q\\\"b\\\\t\\tn\\nz\\u0000c\\u0001d\\u007f\"}",
             "invalid type: string \"q\\\"b\\\\t\\tn\\nz\\0c\\u{1}d\\u{7f}\", expected u32"},
        Case{"TextNull", read_as<Output>, R"({"name":null})", "invalid type: null, expected a string"},
        Case{"ModulePathNumber", read_as<Module>, R"({"path":7})", "invalid type: integer `7`, expected a string"},
        Case{"NumberNull", read_as<Expr>, R"({"node":"number","value":null,"span":$S})",
             "invalid type: null, expected f64"},
        Case{"NumberString", read_as<Expr>, R"({"node":"number","value":"3"})",
             R"(invalid type: string "3", expected f64)"},
        Case{"NamedNumberNull", read_as<Thresholds>, R"({"other":[{"name":"p","value":null}]})",
             "invalid type: null, expected f64"},
        Case{"BudgetBoolean", read_as<Budget>, R"({"calls":true})", "invalid type: boolean `true`, expected f64"},
        Case{"LoopMaxNull", read_as<Stmt>, R"({"stmt":"loop","max":null})", "invalid type: null, expected f64"},
        Case{"ShapeFieldMaxString", read_as<ShapeField>, R"({"max":"3"})", R"(invalid type: string "3", expected f64)"},
        Case{"ShapeFieldArrayWithoutMax", read_as<ShapeField>, R"(["f",$E,{"policy":"head"},$S])",
             "invalid type: map, expected f64"},
        Case{"ShapeFieldArrayEndsAfterValue", read_as<ShapeField>, R"(["f",$E])",
             "invalid length 3, expected struct ShapeField with 5 elements"},
        Case{"ShapeFieldWithoutPolicy", read_as<ShapeField>, R"({"name":"f","value":$E})", "missing field `policy`"},
        Case{"BoolInteger", read_as<Expr>, R"({"node":"bool","value":1})", "invalid type: integer `1`, expected a boolean"},
        Case{"RiskyNull", read_as<Transition>, R"({"risky":null})", "invalid type: null, expected a boolean"},
        Case{"EachNumber", read_as<Judge>, R"({"each":1})", "invalid type: integer `1`, expected a boolean"},
        Case{"SampleNumber", read_as<Detail>, R"({"sample":0})", "invalid type: integer `0`, expected a boolean"},
        Case{"StrictNumber", read_as<Stmt>, R"({"stmt":"shape","strict":1})",
             "invalid type: integer `1`, expected a boolean"},
        Case{"DoneString", read_as<MachineState>, R"({"name":"s","done":"true"})",
             R"(invalid type: string "true", expected a boolean)"},
        // Tagged unions: the tag and its identifier.
        Case{"ExprNull", read_as<Expr>, "null", "invalid type: null, expected internally tagged enum Expr"},
        Case{"StmtString", read_as<Stmt>, R"("a")", R"(invalid type: string "a", expected internally tagged enum Stmt)"},
        Case{"ExprEmptyObject", read_as<Expr>, "{}", "missing field `node`"},
        Case{"ExprEmptyArray", read_as<Expr>, "[]", "missing field `node`"},
        Case{"TagTwice", read_as<Expr>, R"({"node":"none","span":$S,"node":"none"})", "duplicate field `node`"},
        Case{"TagPositionTooLarge", read_as<Expr>, R"({"node":18})",
             "invalid value: integer `18`, expected variant index 0 <= i < 18"},
        Case{"VerbPositionTooLarge", read_as<JudgeVerb>, R"({"verb":4})",
             "invalid value: integer `4`, expected variant index 0 <= i < 4"},
        Case{"TagUnknownName", read_as<Expr>, R"({"node":"numbr"})",
             "unknown variant `numbr`, expected one of `number`, `text`, `bool`, `none`, `name`, `list`, `record`, "
             "`field`, `index`, `call`, `unary`, `binary`, `is`, `comprehension`, `focus`, `trail`, `judge`, `log`"},
        Case{"TagOtherCase", read_as<Stmt>, R"({"stmt":"Break"})",
             "unknown variant `Break`, expected one of `assign`, `expr`, `if`, `for`, `loop`, `until`, `gate`, "
             "`shape`, `return`, `continue`, `break`, `stop`, `escalate`"},
        Case{"StepUnknownName", read_as<SubjectStep>, R"({"step":"key"})",
             "unknown variant `key`, expected `field` or `index`"},
        Case{"TagNegative", read_as<Expr>, R"({"node":-1})", "invalid type: integer `-1`, expected variant identifier"},
        Case{"TagBoolean", read_as<TextPart>, R"({"part":true})",
             "invalid type: boolean `true`, expected variant identifier"},
        Case{"LiteralArrayWithoutValue", read_as<TextPart>, R"(["literal"])",
             "invalid length 0, expected struct variant TextPart::Literal with 1 element"},
        Case{"TagFloat", read_as<Shape>, R"({"shape":1.0})", "invalid type: floating point `1.0`, expected variant identifier"},
        Case{"TagErrorBeforeFields", read_as<Expr>, R"({"value":null,"node":"nope"})",
             "unknown variant `nope`, expected one of `number`, `text`, `bool`, `none`, `name`, `list`, `record`, "
             "`field`, `index`, `call`, `unary`, `binary`, `is`, `comprehension`, `focus`, `trail`, `judge`, `log`"},
        Case{"NoneWithoutSpan", read_as<Expr>, R"({"node":"none"})", "missing field `span`"},
        Case{"NoneArrayWithoutSpan", read_as<Expr>, R"(["none"])",
             "invalid length 0, expected struct variant Expr::None with 1 element"},
        Case{"NoneArrayTooLong", read_as<Expr>, R"(["none",$S,$S])", "invalid length 2, expected 1 element in sequence"},
        Case{"BinaryFirstMissingIsOp", read_as<Expr>, R"({"node":"binary","span":$S})", "missing field `op`"},
        Case{"CallFirstMissingIsCallee", read_as<Expr>, R"({"node":"call","span":$S})", "missing field `callee`"},
        Case{"FieldNameTwice", read_as<Expr>, R"({"node":"field","target":$E,"name":"a","name":"b","span":$S})",
             "duplicate field `name`"},
        Case{"ComprehensionArrayWithoutSpan", read_as<Expr>, R"(["comprehension",$E,["v"],$E])",
             "invalid length 4, expected struct variant Expr::Comprehension with 5 elements"},
        Case{"ComprehensionArraySpanAsTest", read_as<Expr>, R"(["comprehension",$E,["v"],$E,$S])",
             "missing field `node`"},
        Case{"LogFieldsNull", read_as<Expr>, R"({"node":"log","fields":null})", "invalid type: null, expected a sequence"},
        Case{"LogArraySpanAsFields", read_as<Expr>, R"(["log","info",$E,$S])", "invalid type: map, expected a sequence"},
        Case{"CallArgWithoutValue", read_as<Expr>, R"({"node":"call","callee":$E,"args":[{"name":"a"}]})",
             "missing field `value`"},
        Case{"JudgeNodeWithoutEach", read_as<Expr>, R"({"node":"judge","span":$S})", "missing field `each`"},
        Case{"JudgeNodeWithoutRequestGroup", read_as<Expr>,
             R"({"node":"judge","each":true,"subject":["t",[],"t",$S],"verb":["feels",$E],"span":$S})",
             "missing field `request_group`"},
        Case{"LiteralWithoutValue", read_as<TextPart>, R"({"part":"literal"})", "missing field `value`"},
        Case{"NestedErrorUnchanged", read_as<Expr>,
             R"({"node":"unary","op":"not","operand":{"node":"name","span":$S},"span":$S})", "missing field `name`"},
        Case{"ContinueWithoutSpan", read_as<Stmt>, R"({"stmt":"continue"})", "missing field `span`"},
        Case{"ContinueArrayWithoutSpan", read_as<Stmt>, R"(["continue"])",
             "invalid length 0, expected struct variant Stmt::Continue with 1 element"},
        Case{"BreakArrayTooLong", read_as<Stmt>, R"(["break",$S,1])", "invalid length 2, expected 1 element in sequence"},
        Case{"GateRiskTwiceAfterNull", read_as<Stmt>, R"({"stmt":"gate","risk":null,"risk":$E})",
             "duplicate field `risk`"},
        Case{"GateArrayOfNull", read_as<Stmt>, R"(["gate",null])",
             "invalid length 3, expected struct variant Stmt::Gate with 5 elements"},
        Case{"ReturnArrayEmpty", read_as<Stmt>, R"(["return"])",
             "invalid length 1, expected struct variant Stmt::Return with 2 elements"},
        Case{"IfArrayEmpty", read_as<Stmt>, R"(["if"])", "invalid length 0, expected struct variant Stmt::If with 3 elements"},
        Case{"IfArrayWithoutSpan", read_as<Stmt>, R"(["if",[],null])",
             "invalid length 2, expected struct variant Stmt::If with 3 elements"},
        Case{"UntilFirstMissingIsVerify", read_as<Stmt>, R"({"stmt":"until","test":$E,"max":1,"span":$S})",
             "missing field `verify`"},
        Case{"UntilWithoutTest", read_as<Stmt>, R"({"stmt":"until"})", "missing field `test`"},
        Case{"AssignValueNull", read_as<Stmt>, R"({"stmt":"assign","value":null})",
             "invalid type: null, expected internally tagged enum Expr"},
        Case{"TypeShapeWithoutName", read_as<Shape>, R"({"shape":"type"})", "missing field `name`"},
        Case{"TypeShapeUnknownName", read_as<Shape>, R"({"shape":"type","name":"date"})",
             "unknown variant `date`, expected one of `text`, `number`, `bool`, `list`, `record`"},
        Case{"TypeShapeArrayTooLong", read_as<Shape>, R"(["type","text","list"])",
             "invalid length 2, expected 1 element in sequence"},
        Case{"RecordShapeWithoutFields", read_as<Shape>, R"({"shape":"record"})", "missing field `fields`"},
        Case{"RecordShapeFieldsNull", read_as<Shape>, R"({"shape":"record","fields":null})",
             "invalid type: null, expected a sequence"},
        Case{"FieldShapeArrayTooLong", read_as<FieldShape>, R"(["score",null,1])",
             "invalid length 3, expected 2 elements in sequence"},
        Case{"FocusPolicyWithoutOn", read_as<ShapePolicy>, R"({"policy":"focus"})", "missing field `on`"},
        Case{"FocusPolicyArrayEmpty", read_as<ShapePolicy>, R"(["focus"])",
             "invalid length 0, expected struct variant ShapePolicy::Focus with 1 element"},
        Case{"HeadArrayWithElement", read_as<ShapePolicy>, R"(["head",1])",
             "invalid length 1, expected 0 elements in sequence"},
        // Unit enums: shape of the value first, then the name, then the payload.
        Case{"EnumInteger", read_as<Expr>, R"({"node":"unary","op":0})",
             "invalid type: integer `0`, expected string or map"},
        Case{"EnumEmptyObject", read_as<Expr>, R"({"node":"unary","op":{}})",
             "invalid value: map, expected map with a single key"},
        Case{"EnumObjectOfTwo", read_as<Expr>, R"({"node":"unary","op":{"not":null,"neg":null}})",
             "invalid value: map, expected map with a single key"},
        Case{"EnumPayload", read_as<Expr>, R"({"node":"unary","op":{"neg":1}})",
             "invalid type: integer `1`, expected unit"},
        Case{"EnumNameBeforePayload", read_as<Expr>, R"({"node":"unary","op":{"Neg":1}})",
             "unknown variant `Neg`, expected `not` or `neg`"},
        Case{"EnumOtherCase", read_as<Need>, R"({"kind":"Tool"})",
             "unknown variant `Tool`, expected one of `agent`, `person`, `llm`, `tool`"},
        Case{"EnumTrailingSpace", read_as<ToolSignature>, R"({"returns":"text "})",
             "unknown variant `text `, expected one of `text`, `number`, `bool`, `list`, `record`, `handle`, `none`"},
        Case{"EnumByPositionRefused", read_as<ToolSignature>, R"({"returns":3})",
             "invalid type: integer `3`, expected string or map"},
        Case{"BinaryOpUnknown", read_as<Expr>, R"({"node":"binary","op":"pow"})",
             "unknown variant `pow`, expected one of `or`, `and`, `eq`, `not_eq`, `lt`, `lt_eq`, `gt`, `gt_eq`, "
             "`add`, `sub`, `mul`, `div`, `rem`"},
        Case{"CallFormNull", read_as<Expr>, R"({"node":"call","callee":$E,"args":[],"form":null})",
             "invalid type: null, expected string or map"},
        Case{"VerdictArray", read_as<GateArm>, R"([["stop"]])", "invalid type: sequence, expected string or map"}),
    case_name);

}  // namespace
}  // namespace dravelin::ir

namespace dravelin::ir {
namespace {

TEST(IrReadText, SyntaxFaultsAndNestingBeyondTheLimitKeepTheJsonReadersMessage) {
  auto truncated = read_ir_json_text(R"({"ir_version":"0.1")");
  ASSERT_FALSE(truncated.ok());
  EXPECT_EQ(truncated.error(), "EOF while parsing an object at line 1 column 19");

  // Nested within the limit the text reaches the reader, which names what is wrong with the root.
  const std::string within(kIrJsonNestingLimit, '[');
  auto shallow = read_ir_json_text(within + std::string(kIrJsonNestingLimit, ']'));
  ASSERT_FALSE(shallow.ok());
  EXPECT_EQ(shallow.error(), "invalid type: sequence, expected a string");

  auto deep = read_ir_json_text(within + "[" + std::string(kIrJsonNestingLimit + 1, ']'));
  ASSERT_FALSE(deep.ok());
  EXPECT_EQ(deep.error(), "recursion limit exceeded at line 1 column " + std::to_string(kIrJsonNestingLimit + 1));
}

TEST(IrReadText, UnitEnumsOfOtherRecordsFollowTheSameRules) {
  auto level = read_unit_enum_json<LogLevel>(json::Value("warn"));
  ASSERT_TRUE(level.ok());
  EXPECT_EQ(*level, LogLevel::Warn);
  auto wrong = read_unit_enum_json<LogLevel>(json::Value("fatal"));
  ASSERT_FALSE(wrong.ok());
  EXPECT_EQ(wrong.error(), "unknown variant `fatal`, expected one of `debug`, `info`, `warn`, `error`");
}

}  // namespace
}  // namespace dravelin::ir
