// Name resolution and the walk of unit bodies, seen through the occurrence recorded at one marked name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/overloaded.h"
#include "lsp/core/symbol_index.h"
#include "syntax/parse.h"

namespace dravelin::lsp {
namespace {

std::string joined(const std::vector<std::string>& path) {
  std::string out;
  for (const std::string& segment : path) out += (out.empty() ? "" : ".") + segment;
  return out;
}

std::string describe(const SymbolIndex& index, const RefTarget& target) {
  return std::visit(
      Overloaded{
          [&](const ref::Local& l) {
            const DeclaredSymbol& s = index.symbols[l.symbol];
            std::string out = "local " + std::string(decl_kind_name(s.kind)) + " " + s.name;
            if (s.parent) out += " < " + index.symbols[*s.parent].name;
            return out;
          },
          [](const ref::Unit& u) { return "unit " + joined(u.path); },
          [](const ref::ModuleAlias& a) { return "alias " + joined(a.path); },
          [](const ref::UnitMember& m) { return "member " + joined(m.unit) + ":" + m.member; },
          [](const ref::MemberLabel& m) { return "member_label " + joined(m.unit) + ":" + m.member + ":" + m.label; },
          [](const ref::UnitParameter& p) { return "unit_parameter " + joined(p.unit) + ":" + p.name; },
          [](const ref::ModuleCapability& c) { return "module_capability " + c.alias + "." + c.capability; },
          [](const ref::ModuleFile& f) { return "file " + f.path; },
          [](const ref::CapabilityVerb& v) {
            return "capability_verb " + v.verb + " " + std::string(syntax::enum_name(v.kind));
          },
          [](const ref::HandleMethod& m) { return "handle_method " + m.method; },
          [](const ref::Builtin& b) { return "builtin " + b.function; },
          [](const ref::Label& l) { return "label " + l.name; },
          [](const ref::Unresolved&) { return std::string("unresolved"); },
      },
      target);
}

// The text without its one "$" marker, and the offset the marker stood at.
std::pair<std::string, size_t> unmarked(std::string text) {
  const size_t at = text.find('$');
  EXPECT_NE(at, std::string::npos);
  text.erase(at, 1);
  return {text, at};
}

SymbolIndex index_of(const std::string& text) {
  auto program = syntax::parse_program(text);
  EXPECT_TRUE(program.ok()) << (program.ok() ? "" : syntax::debug_string(program.error()));
  if (!program.ok()) return {};
  return build_symbol_index(*program, text);
}

// "role target [decl]" of the first occurrence that starts at the offset, or "none".
std::string occurrence_starting_at(const SymbolIndex& index, size_t offset) {
  for (const Occurrence& o : index.occurrences) {
    if (o.span.start.offset != offset) continue;
    std::string out = std::string(occurrence_role_name(o.role)) + " " + describe(index, o.target);
    if (o.is_declaration) out += " decl";
    return out;
  }
  return "none";
}

struct ResolutionCase {
  const char* name;
  const char* text;  // "$" marks the name looked at
  const char* expected;
};

void PrintTo(const ResolutionCase& c, std::ostream* os) { *os << c.name; }

class Resolution : public testing::TestWithParam<ResolutionCase> {};

TEST_P(Resolution, NameAtTheMarker) {
  auto [text, offset] = unmarked(GetParam().text);
  EXPECT_EQ(occurrence_starting_at(index_of(text), offset), GetParam().expected) << text;
}

const ResolutionCase kResolutionCases[] = {
    {"first_assignment_declares_the_variable", "program p\ntask t:\n  $x = 1\n  return x\n",
     "variable local variable x < t decl"},
    {"later_assignment_is_a_use", "program p\ntask t:\n  x = 1\n  $x = 2\n", "variable local variable x < t"},
    {"use_above_the_first_assignment", "program p\ntask t:\n  if true:\n    y = $x\n  x = 1\n",
     "variable local variable x < t"},
    {"parameter_wins_over_an_assignment", "program p\ndef d(x):\n  $x = 2\n  return x\n",
     "parameter local parameter x < d"},
    {"assigned_output_is_a_use", "program p\nout reply\ntask main:\n  $reply = 1\n", "output local output reply"},
    {"input", "program p\nin req: text\ntask main:\n  x = $req\n", "input local input req"},
    {"capability", "program p\nneeds web: tool\ntask main:\n  $web.get(1)\n", "capability local capability web"},
    {"unit_by_name", "program p\ndef helper():\n  return 1\ntask main:\n  x = $helper()\n",
     "def_ref local unit helper"},
    {"local_unit_shadows_the_prelude", "program p\ndef stuck(s):\n  return 1\ntask main:\n  x = $stuck(1)\n",
     "def_ref local unit stuck"},
    {"prelude_unit", "program p\ntask main:\n  x = $stuck(1)\n", "prelude_unit unit stuck"},
    {"builtin_in_a_call", "program p\ntask main:\n  x = $len([1])\n", "builtin_function builtin len"},
    {"builtin_as_a_value_is_not", "program p\ntask main:\n  x = $len\n", "variable unresolved"},
    {"builtin_as_a_member_is_not", "program p\ntask main(x):\n  y = x.$len\n", "field unresolved"},
    {"unknown_name", "program p\ntask main:\n  x = $nobody\n", "variable unresolved"},
    {"std_segment", "program p\ntask main:\n  x = $std.stuck(1)\n", "module unresolved"},
    {"std_member", "program p\ntask main:\n  x = std.$stuck(1)\n", "def_ref unit std.stuck"},
    {"alias_segment", "program p\nuse \"./lib.zem\" as lib\ntask main:\n  x = $lib.helper(1)\n",
     "module local module lib"},
    {"alias_member", "program p\nuse \"./lib.zem\" as lib\ntask main:\n  x = lib.$helper(1)\n",
     "def_ref unit lib.helper"},
    {"inner_alias_segment", "program p\nuse \"./lib.zem\" as lib\ntask main:\n  x = lib.$inner.helper(1)\n",
     "module alias lib.inner"},
    {"named_argument_of_a_unit", "program p\ndef d(a, limit = 2):\n  return a\ntask main:\n  x = d(1, $limit: 3)\n",
     "parameter unit_parameter d:limit"},
    {"named_argument_of_anything_else", "program p\nneeds w: tool\ntask main:\n  w.get($depth: 3)\n",
     "parameter unresolved"},
    {"declared_tool_verb", "program p\nneeds w: tool:\n  get(url) -> text\ntask main:\n  x = w.$get(1)\n",
     "verb local tool_verb get < w"},
    {"undeclared_tool_verb", "program p\nneeds w: tool\ntask main:\n  x = w.$fetch(1)\n",
     "verb capability_verb fetch tool"},
    {"agent_spawn", "program p\nneeds a: agent\ntask main:\n  h = a.$spawn prompt \"go\"\n",
     "verb capability_verb spawn agent"},
    {"spawned_handle_method", "program p\nneeds a: agent\ntask main:\n  h = a.spawn prompt \"go\"\n  o = h.$observe\n",
     "verb handle_method observe"},
    {"stop_on_anything", "program p\ntask main(x):\n  x.$stop\n", "verb handle_method stop"},
    {"send_only_as_a_callee", "program p\ntask main(x):\n  y = x.$send\n", "field unresolved"},
    {"send_called", "program p\ntask main(x):\n  x.$send(\"hi\")\n", "verb handle_method send"},
    {"unknown_member_called", "program p\ntask main(x):\n  x.$poke(1)\n", "verb unresolved"},
    {"third_segment", "program p\nin req: {meta: {tags: list}}\ntask main:\n  x = req.meta.$tags\n",
     "field unresolved"},
    {"input_field", "program p\nin req: {title: text}\ntask main:\n  x = req.$title\n",
     "field local input_field title < req"},
    {"unit_result_member", "program p\njudgment j(t):\n  k = t feels \"x\"\ntask main:\n  r = j(1)\n  y = r.$k\n",
     "field member j:k"},
    {"unit_result_label",
     "program p\njudgment j(t):\n  k = t pick:\n    bug \"b\"\n    other\ntask main:\n  r = j(1)\n  y = r.k is $bug\n",
     "label member_label j:k:bug"},
    {"inline_pick_label", "program p\ntask main(t):\n  x = t pick:\n    bug \"b\"\n    other\n  y = x is $bug\n",
     "label local label bug < x"},
    {"unknown_label", "program p\ntask main(t):\n  y = t is $bug\n", "label label bug"},
    {"judgment_result_labels", "program p\njudgment j(t):\n  k = t pick:\n    $bug \"b\"\n    other\n",
     "label local label bug < k decl"},
    {"rate_level_label", "program p\ntask main(t):\n  x = t rate:\n    $low \"l\"\n    high \"h\"\n",
     "label local label low < x decl"},
    {"shorthand_record_field_is_a_use", "program p\ntask main(name):\n  x = { $name }\n",
     "parameter local parameter name < main"},
    {"record_field_key", "program p\ntask main(name):\n  x = { $name: 1 }\n", "field unresolved"},
    {"comprehension_variable", "program p\ntask main(xs):\n  y = [$x for x in xs]\n",
     "variable local variable x < main"},
    {"comprehension_variable_does_not_leak", "program p\ntask main(xs):\n  y = [x for x in xs]\n  z = $x\n",
     "variable unresolved"},
    {"comprehension_restores_the_earlier_binding",
     "program p\ntask main(xs):\n  x = 1\n  y = [x for x in xs]\n  z = $x\n", "variable local variable x < main"},
    {"for_loop_name", "program p\ntask main(xs):\n  for $x in xs:\n    log info x\n",
     "variable local variable x < main decl"},
    {"interpolation", "program p\ntask main(name):\n  x = \"hi {$name}\"\n", "parameter local parameter name < main"},
    {"nested_interpolation", "program p\ntask main(name):\n  x = \"a {\"b {$name}\"}\"\n",
     "parameter local parameter name < main"},
    {"budget_key", "program p\ntask main budget $calls 4:\n  return 1\n", "field unresolved"},
    {"threshold_key", "program p\ntask main thresholds $risk_confirm 0.5:\n  return 1\n", "field unresolved"},
    {"observed_field",
     "program p\nmachine m(t):\n  observe:\n    s t, max 10\n  state a:\n    on go \"x\" -> b when obs.$s > 1\n  state "
     "b done\n",
     "field local shaped_field s < m"},
    {"transition_target", "program p\nmachine m():\n  state a:\n    on go \"x\" -> $b\n  state b done\n",
     "machine_state local machine_state b < m"},
    {"action_variable", "program p\nmachine m():\n  state a:\n    on go \"x\" -> b:\n      $n = 1\n  state b done\n",
     "variable local variable n < m decl"},
    {"shaped_output_field", "program p\nout reply\ntask main(t):\n  reply = shape:\n    $body t, max 10\n",
     "field local shaped_field body < p decl"},
    {"shaped_variable_field_access", "program p\ntask main(t):\n  s = shape:\n    body t, max 10\n  x = s.$body\n",
     "field local shaped_field body < s"},
    {"by_field_of_pick_among", "program p\ntask main(xs):\n  c = xs pick among \"best\":\n    by $name\n",
     "field unresolved"},
    {"with_mapping_inner", "program p\nuse \"./lib.zem\" as lib with $fetcher: w\nneeds w: tool\n",
     "capability module_capability lib.fetcher"},
    {"use_path", "program p\nuse $\"./lib.zem\" as lib\n", "module file ./lib.zem"},
};

INSTANTIATE_TEST_SUITE_P(Walk, Resolution, testing::ValuesIn(kResolutionCases),
                         [](const testing::TestParamInfo<ResolutionCase>& info) { return info.param.name; });

TEST(IndexWalk, AnInterpolationThatDoesNotParseAddsNothing) {
  // A tree never holds such a part after a successful parse; an edited one stands for a tree built otherwise.
  const std::string text = "program p\ntask main(name):\n  x = \"hi {name}\"\n";
  auto program = syntax::parse_program(text);
  ASSERT_TRUE(program.ok());
  auto& task = std::get<syntax::ast::Task>(program->units[0].node);
  auto& assign = std::get<syntax::ast::Stmt::Assign>(task.body.stmts[0].node);
  auto& lit = std::get<syntax::ast::Expr::Text>(assign.value.node).text;
  std::get<syntax::TextInterpolationPart>(lit.parts[1]).source = "name +";
  SymbolIndex index = build_symbol_index(*program, text);
  EXPECT_EQ(occurrence_starting_at(index, text.find("name}")), "none");
  EXPECT_EQ(occurrence_starting_at(index, text.find("x =")), "variable local variable x < main decl");
}

TEST(IndexWalk, LogWordsAndLevelsAreRecorded) {
  const std::string text = "program p\ntask main(x):\n  log   warn x { x, n: 1 }\n";
  SymbolIndex index = index_of(text);
  ASSERT_EQ(index.log_spans.size(), 1u);
  const LogSpan& log = index.log_spans[0];
  EXPECT_EQ(text.substr(log.log.start.offset, log.log.end.offset - log.log.start.offset), "log");
  EXPECT_EQ(text.substr(log.level.start.offset, log.level.end.offset - log.level.start.offset), "warn");
  EXPECT_EQ(log.level.start.column, 8u);
  EXPECT_EQ(log.level.start.line, 3u);
}

TEST(IndexWalk, ScopesKeepWhatTheWalkLearnedOfEachName) {
  const std::string text =
      "program p\n"
      "needs a: agent\n"
      "judgment j(t):\n"
      "  k = t feels \"x\"\n"
      "task main(t):\n"
      "  h = a.spawn prompt \"go\"\n"
      "  r = j(t)\n"
      "  c = t pick:\n"
      "    yes \"y\"\n"
      "    no \"n\"\n"
      "    other\n"
      "  s = shape:\n"
      "    f t, max 5\n";
  SymbolIndex index = index_of(text);
  ASSERT_EQ(index.scopes.size(), 2u);
  const auto& names = index.scopes[1].bindings;
  EXPECT_TRUE(std::holds_alternative<shape::AgentHandle>(names.at("h").shape));
  EXPECT_EQ(std::get<shape::UnitResult>(names.at("r").shape).unit, std::vector<std::string>{"j"});
  EXPECT_EQ(std::get<shape::Choice>(names.at("c").shape).labels.size(), 2u);
  EXPECT_EQ(std::get<shape::Record>(names.at("s").shape).fields.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<shape::Opaque>(names.at("t").shape));
}

TEST(IndexWalk, ChildrenOfAUnitComeInSourceOrderThoughVariablesArePushedLater) {
  const std::string text = "program p\ntask main(a, b = 2):\n  x = a\n  y = [z for z in x]\n";
  SymbolIndex index = index_of(text);
  std::vector<std::string> names;
  for (SymbolId id : index.children(index.unit_names.at("main"))) names.push_back(index.symbols[id].name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "x", "y", "z"}));
}

}  // namespace
}  // namespace dravelin::lsp
