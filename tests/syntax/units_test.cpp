// The unit grammar (judgments, tasks, defs, machines) and shape annotations, parsed one unit at a time.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "case_names.h"
#include "json/number_format.h"
#include "parse_helpers.h"
#include "syntax/lexer.h"
#include "syntax/parser.h"
#include "tree_render.h"

namespace dravelin::syntax {
namespace {

using ast::Expr;

using namespace test_support;

std::string num(double v) { return json::format_plain_decimal(v); }

std::string render_params(const std::vector<ast::DefParam>& params) {
  if (params.empty()) return "";
  std::string out = " (params";
  for (const auto& p : params) out += " " + p.name + (p.default_value ? "=" + render_expr(*p.default_value) : "");
  return out + ")";
}

std::string render_clauses(const std::vector<ast::BudgetLimit>& budget, const std::vector<ast::Threshold>& th) {
  std::string out;
  if (!budget.empty()) {
    out += " (budget";
    for (const auto& b : budget) out += " " + std::string(enum_name(b.key)) + "=" + num(b.value);
    out += ")";
  }
  if (!th.empty()) {
    out += " (thresholds";
    for (const auto& t : th) out += " " + t.name + "=" + num(t.value);
    out += ")";
  }
  return out;
}

std::string verb_name(const ast::Judge& j) {
  static const char* const names[] = {"feels", "pick", "rate", "pick_among"};
  return names[j.verb.node.index()];
}

std::string render_unit(const ast::Unit& unit) {
  if (const auto* t = std::get_if<ast::Task>(&unit.node)) {
    return "(task " + t->name + render_params(t->params) + render_clauses(t->budget, t->thresholds) +
           " body=" + std::to_string(t->body.stmts.size()) + ")";
  }
  if (const auto* d = std::get_if<ast::Def>(&unit.node)) {
    return "(def " + d->name + render_params(d->params) + " body=" + std::to_string(d->body.stmts.size()) + ")";
  }
  if (const auto* j = std::get_if<ast::Judgment>(&unit.node)) {
    std::string out = "(judgment " + j->name + " (";
    for (size_t i = 0; i < j->params.size(); ++i) out += (i ? " " : "") + j->params[i].name;
    out += ")";
    size_t next_log = 0;
    for (size_t r = 0; r <= j->results.size(); ++r) {
      while (next_log < j->logs.size() && j->logs[next_log].after == r) {
        out += " " + render_expr(j->logs[next_log++].log);
      }
      if (r < j->results.size()) out += " " + j->results[r].name + "=" + verb_name(j->results[r].question);
    }
    return out + ")";
  }
  const auto& m = std::get<ast::Machine>(unit.node);
  std::string out = "(machine " + m.name + render_params(m.params) + render_clauses(m.budget, m.thresholds);
  if (m.goal) out += " (goal " + render_expr(*m.goal) + ")";
  if (m.initial) out += " (initial " + m.initial->name + ")";
  if (!m.observe.empty()) {
    out += " (observe";
    for (const auto& f : m.observe) {
      out += " " + f.name + "=" + render_expr(f.value) + (f.max ? ",max=" + num(*f.max) : "") +
             (f.tail ? ",tail" : "");
    }
    out += ")";
  }
  for (const auto& s : m.states) {
    out += " (state " + s.name;
    if (s.done) out += " done";
    for (const auto& t : s.transitions) {
      out += " (on " + t.event + " " + render_expr(t.description) + " -> " + t.target;
      if (t.when) out += " when " + render_expr(*t.when);
      if (t.risky) out += " risky";
      if (t.body) out += " body=" + std::to_string(t.body->stmts.size());
      out += ")";
    }
    out += ")";
  }
  return out + ")";
}

// The rendered unit, or "<code> <span> <message>".
std::string outcome(std::string_view src, bool log_shadowed = false) {
  LexedParser lexed(src, log_shadowed);
  auto r = parse_unit(lexed.parser);
  return r.ok() ? render_unit(*r) : render_failure(r.error());
}

ast::Unit unit_ok(std::string_view src) {
  LexedParser lexed(src);
  auto r = parse_unit(lexed.parser);
  EXPECT_TRUE(r.ok()) << src << "\n" << (r.ok() ? "" : render_failure(r.error()));
  return r.ok() ? std::move(r).value() : ast::Unit{ast::Task{}};
}

struct UnitCase {
  const char* src;
  const char* expected;
};

void PrintTo(const UnitCase& c, std::ostream* os) { print_source(c.src, os); }

// ---------------------------------------------------------------------------------------------------------------
// Dispatch, names and the clauses before the `:`, none of which reach a body.

class UnitsRejected : public testing::TestWithParam<UnitCase> {};

TEST_P(UnitsRejected, AtTheOffendingToken) { EXPECT_EQ(outcome(GetParam().src), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    UnitsDispatch, UnitsRejected,
    testing::Values(
        UnitCase{"use \"m\" as m\n",
             "syntax 1:0-1:3 expected a unit (`use` declarations come before `in`, `out`, `needs` and every unit, "
             "spec section 3), found the reserved word `use`"},
        UnitCase{"in x: text\n",
             "syntax 1:0-1:2 expected a unit (`in`, `out` and `needs` declarations come before every unit, spec "
             "section 3), found the reserved word `in`"},
        UnitCase{"out x\n",
             "syntax 1:0-1:3 expected a unit (`in`, `out` and `needs` declarations come before every unit, spec "
             "section 3), found the reserved word `out`"},
        UnitCase{"needs x: agent\n",
             "syntax 1:0-1:5 expected a unit (`in`, `out` and `needs` declarations come before every unit, spec "
             "section 3), found the reserved word `needs`"},
        UnitCase{"program p\n",
             "syntax 1:0-1:7 expected `judgment`, `task`, `def` or `machine`, found the reserved word `program`"},
        UnitCase{"main:\n", "syntax 1:0-1:4 expected `judgment`, `task`, `def` or `machine`, found `main`"},
        UnitCase{"  task t:\n", "syntax 1:0-1:2 expected `judgment`, `task`, `def` or `machine`, found an indented block"},
        UnitCase{"task in:\n", "syntax 1:5-1:7 expected the task's name, found the reserved word `in`"},
        UnitCase{"def 3():\n", "syntax 1:4-1:5 expected the def's name, found the number `3`"},
        UnitCase{"judgment (a):\n", "syntax 1:9-1:10 expected the judgment's name, found `(`"},
        UnitCase{"machine \"m\"():\n", "syntax 1:8-1:11 expected the machine's name, found a text literal"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    UnitsHeaderClauses, UnitsRejected,
    testing::Values(
        UnitCase{"def f:\n  return 1\n", "syntax 1:5-1:6 expected `(`, found `:`"},
        UnitCase{"machine m:\n  state s done\n", "syntax 1:9-1:10 expected `(`, found `:`"},
        UnitCase{"task t(a,):\n", "syntax 1:9-1:10 expected a parameter name, found `)`"},
        UnitCase{"task t(a b):\n", "syntax 1:9-1:10 expected `)`, found `b`"},
        UnitCase{"task t(a = ):\n", "syntax 1:11-1:12 expected an expression, found `)`"},
        UnitCase{"task t(in):\n", "syntax 1:7-1:9 expected a parameter name, found the reserved word `in`"},
        UnitCase{"task t budget tokens 5:\n",
             "syntax 1:14-1:20 expected a budget key (`calls`, `minutes`, `usd` or `steps`), found `tokens`"},
        UnitCase{"task t budget max 5:\n",
             "syntax 1:14-1:17 expected a budget key (`calls`, `minutes`, `usd` or `steps`), found the reserved "
             "word `max`"},
        UnitCase{"task t budget calls:\n", "syntax 1:19-1:20 expected the budget's limit, found `:`"},
        UnitCase{"task t budget calls 5,:\n",
             "syntax 1:22-1:23 expected a budget key (`calls`, `minutes`, `usd` or `steps`), found `:`"},
        UnitCase{"task t thresholds 3:\n", "syntax 1:18-1:19 expected a threshold name, found the number `3`"},
        UnitCase{"task t thresholds done x:\n", "syntax 1:23-1:24 expected the threshold's value, found `x`"},
        // The order is parameters, budget, thresholds.
        UnitCase{"task t thresholds a 1 budget calls 1:\n",
             "syntax 1:22-1:28 expected `:`, found the reserved word `budget`"},
        UnitCase{"def f() budget calls 1:\n", "syntax 1:8-1:14 expected `:`, found the reserved word `budget`"},
        UnitCase{"def f() thresholds a 1:\n", "syntax 1:8-1:18 expected `:`, found `thresholds`"},
        UnitCase{"task t\n", "syntax 1:6-2:0 expected `:`, found the end of the line"}),
    NameBySource());

TEST(UnitsClauses, BudgetAndThresholdsKeepTheirEntries) {
  ast::Unit task = unit_ok(
      "task t(a, b = 1 + 2) budget calls 10, usd 0.5, calls 2k thresholds risk_confirm 70%, x 1:\n  return a\n");
  EXPECT_EQ(render_unit(task),
            "(task t (params a b=(+ 1 2)) (budget calls=10 usd=0.5 calls=2000) (thresholds risk_confirm=0.7 x=1) "
            "body=1)");
  const auto& t = std::get<ast::Task>(task.node);
  EXPECT_EQ(span_str(t.name_span), "1:5-1:6");
  EXPECT_EQ(span_str(t.params[0].span), "1:7-1:8");
  EXPECT_EQ(span_str(t.params[1].span), "1:10-1:19");  // the name to the end of the default
  EXPECT_EQ(span_str(t.params[1].name_span), "1:10-1:11");
  EXPECT_EQ(span_str(t.budget[1].span), "1:38-1:45");  // `usd 0.5`
  EXPECT_EQ(t.budget[1].key, ast::BudgetKey::Usd);
  EXPECT_EQ(span_str(t.thresholds[0].span), "1:67-1:83");
  EXPECT_EQ(span_str(t.thresholds[0].name_span), "1:67-1:79");
  EXPECT_EQ(span_str(t.span), "1:0-2:10");  // to the end of the body
}

TEST(UnitsClauses, ParenthesesAreOptionalOnlyForTasks) {
  EXPECT_EQ(render_unit(unit_ok("task main:\n  return\n")), "(task main body=1)");
  EXPECT_EQ(render_unit(unit_ok("task main():\n  return\n")), "(task main body=1)");
  EXPECT_EQ(render_unit(unit_ok("def f():\n  return 1\n")), "(def f body=1)");
  EXPECT_EQ(render_unit(unit_ok("def f(x, y = none):\n  return x\n  return y\n")), "(def f (params x y=none) body=2)");
  EXPECT_EQ(outcome("task t:\nreturn\n"),
            "syntax 2:0-2:6 expected an indented block after `task ...:`, found the reserved word `return`");
  EXPECT_EQ(outcome("def f():\nreturn\n"),
            "syntax 2:0-2:6 expected an indented block after `def ...:`, found the reserved word `return`");
}

// The `verify` list belongs to one unit: the unit parser empties it whatever the unit turns out to be.
TEST(UnitsClauses, EveryUnitStartsWithNoVerifySeen) {
  for (const char* src : {"machine m():\n  state s done\n", "use \"x\" as y\n"}) {
    LexedParser lexed(src);
    lexed.parser.verify_spans.push_back(Span{{1, 0, 0}, {1, 6, 6}});
    (void)parse_unit(lexed.parser);
    EXPECT_TRUE(lexed.parser.verify_spans.empty()) << src;
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Judgment units.

TEST(UnitsJudgment, ResultsAndLogsKeepTheirInterleaving) {
  const char* src =
      "judgment j(a, b):\n"
      "  log info \"start\"\n"
      "  r = a feels \"x\"\n"
      "  log info \"t\"\n"
      "  s = b.c feels \"y\"\n";
  ast::Unit unit = unit_ok(src);
  EXPECT_EQ(render_unit(unit), "(judgment j (a b) (log info \"start\") r=feels (log info \"t\") s=feels)");
  const auto& j = std::get<ast::Judgment>(unit.node);
  ASSERT_EQ(j.logs.size(), 2u);
  EXPECT_EQ(j.logs[0].after, 0u);
  EXPECT_EQ(j.logs[1].after, 1u);
  EXPECT_EQ(span_str(j.logs[1].span), "4:2-4:14");
  EXPECT_EQ(span_str(j.params[1].span), "1:14-1:15");
  EXPECT_EQ(span_str(j.results[1].span), "5:2-5:19");  // the result name to the end of the question
  EXPECT_EQ(span_str(j.results[1].name_span), "5:2-5:3");
  EXPECT_EQ(span_str(j.span), "1:0-5:19");  // to the end of the last line
}

TEST(UnitsJudgment, AQuestionThatEndsInItsOwnBlockNeedsNoLineEnd) {
  const char* src =
      "judgment route(req):\n"
      "  kind = req pick:\n"
      "    bug \"a defect\"\n"
      "    other\n"
      "  urgent = req feels \"needs action today\"\n";
  ast::Unit unit = unit_ok(src);
  EXPECT_EQ(render_unit(unit), "(judgment route (req) kind=pick urgent=feels)");
  // The last result may also end in a block; the unit then closes right after it.
  EXPECT_EQ(render_unit(unit_ok("judgment j():\n  k = x pick:\n    a \"a\"\n    none\n")), "(judgment j () k=pick)");
}

TEST(UnitsJudgment, LogLinesNeedTheLogForm) {
  const char* src = "judgment j(a):\n  r = a feels \"x\"\n  log info \"t\"\n";
  EXPECT_EQ(outcome(src), "(judgment j (a) r=feels (log info \"t\"))");
  // With a unit named `log` in the file, the line is an ordinary result line that lacks its `=`.
  EXPECT_EQ(outcome(src, /*log_shadowed=*/true), "syntax 3:6-3:10 expected `=`, found `info`");
}

INSTANTIATE_TEST_SUITE_P(
    UnitsJudgmentLines, UnitsRejected,
    testing::Values(
        UnitCase{"judgment j:\n", "syntax 1:10-1:11 expected `(`, found `:`"},
        UnitCase{"judgment j(a,):\n", "syntax 1:13-1:14 expected a parameter name, found `)`"},
        UnitCase{"judgment j(a = 1):\n", "syntax 1:13-1:14 expected `)`, found `=`"},
        UnitCase{"judgment j()\n", "syntax 1:12-2:0 expected `:`, found the end of the line"},
        UnitCase{"judgment j():\nr = x feels \"a\"\n",
             "syntax 2:0-2:1 expected an indented block of `name = judgment` lines after `judgment ...:`, found "
             "`r`"},
        UnitCase{"judgment j():\n  3\n",
             "syntax 2:2-2:3 expected a result name (a judgment body holds only `name = judgment` lines), found "
             "the number `3`"},
        UnitCase{"judgment j():\n  if x:\n    y = 1\n",
             "syntax 2:2-2:4 expected a result name (a judgment body holds only `name = judgment` lines), found "
             "the reserved word `if`"},
        UnitCase{"judgment j(a):\n  r a feels \"x\"\n", "syntax 2:4-2:5 expected `=`, found `a`"},
        // A line that begins as a `log` form but goes on to something else.
        UnitCase{"judgment j(a):\n  log info a {n: 1} == 2\n",
             "syntax 2:2-2:24 a judgment body holds only `name = judgment` and `log` lines (spec sections 5.8 and "
             "6.7)"},
        UnitCase{"judgment j(a):\n  log trace a\n",
             "log_level 2:6-2:11 `trace` is not a log level; write `debug`, `info`, `warn` or `error` (spec section "
             "5.8)"},
        UnitCase{"judgment j(a):\n  log info a b\n", "syntax 2:13-2:14 expected the end of the line, found `b`"},
        UnitCase{"judgment j(a):\n  r = a feels \"x\" extra\n",
             "syntax 2:18-2:23 expected the end of the line, found `extra`"},
        UnitCase{"judgment j(a):\n  r = a\n",
             "syntax 2:7-3:0 expected a judgment verb (`feels`, `pick` or `rate`), found the end of the line"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------
// Machines.

TEST(UnitsMachine, EveryPartInItsPlace) {
  const char* src =
      "machine fix(goal_text = \"green\", tries = 3) budget steps 20 thresholds done 0.9:\n"
      "  goal \"make the build {goal_text}\"\n"
      "  initial start\n"
      "  observe:\n"
      "    page browser.page, max 2000, tail\n"
      "    status build.status\n"
      "  state start:\n"
      "    on go \"the build is ready\" -> finish when ready and tries > 0 risky:\n"
      "      log info \"going\"\n"
      "    on wait \"not yet\" -> start\n"
      "  state finish done\n";
  ast::Unit unit = unit_ok(src);
  EXPECT_EQ(render_unit(unit),
            "(machine fix (params goal_text=\"green\" tries=3) (budget steps=20) (thresholds done=0.9) "
            "(goal \"make the build {goal_text}\") (initial start) "
            "(observe page=browser.page,max=2000,tail status=build.status) "
            "(state start (on go \"the build is ready\" -> finish when (and ready (> tries 0)) risky body=1) "
            "(on wait \"not yet\" -> start)) (state finish done))");
  const auto& m = std::get<ast::Machine>(unit.node);
  EXPECT_EQ(span_str(m.name_span), "1:8-1:11");
  EXPECT_EQ(span_str(ast::span(*m.goal)), "2:7-2:35");
  EXPECT_EQ(span_str(m.initial->span), "3:10-3:15");
  const auto& start = m.states[0];
  EXPECT_EQ(span_str(start.name_span), "7:8-7:13");
  EXPECT_EQ(span_str(start.span), "7:2-10:30");  // `state` to the end of its last transition
  const auto& go = start.transitions[0];
  EXPECT_EQ(span_str(go.event_span), "8:7-8:9");
  EXPECT_EQ(span_str(go.target_span), "8:34-8:40");
  EXPECT_EQ(span_str(ast::span(go.description)), "8:10-8:30");
  EXPECT_EQ(span_str(go.span), "8:4-9:22");                      // to the end of its actions
  EXPECT_EQ(span_str(start.transitions[1].span), "10:4-10:30");  // to the last token of the line
  EXPECT_EQ(span_str(m.states[1].span), "11:2-11:19");           // `state` to `done`
  EXPECT_TRUE(m.states[1].transitions.empty());
  EXPECT_EQ(span_str(m.span), "1:0-11:19");
}

TEST(UnitsMachine, EveryPartIsOptional) {
  EXPECT_EQ(outcome("machine m():\n  state a done\n"), "(machine m (state a done))");
  EXPECT_EQ(outcome("machine m():\n  goal \"g\"\n"), "(machine m (goal \"g\"))");
  EXPECT_EQ(outcome("machine m():\n  initial a\n  state a done\n"), "(machine m (initial a) (state a done))");
  // The words that the machine grammar recognises stay ordinary names elsewhere.
  EXPECT_EQ(outcome("machine m(goal, observe, risky, done):\n  state s:\n    on e \"d\" -> s when done and risky\n"),
            "(machine m (params goal observe risky done) (state s (on e \"d\" -> s when (and done risky))))");
}

INSTANTIATE_TEST_SUITE_P(
    UnitsMachineBody, UnitsRejected,
    testing::Values(
        UnitCase{"machine m():\nstate s done\n",
             "syntax 2:0-2:5 expected an indented block after `machine ...:`, found the reserved word `state`"},
        UnitCase{"machine m():\n  initial a\n  goal \"g\"\n",
             "syntax 3:2-3:6 expected `state` (a machine body is `goal`, `initial`, `observe:` and then states, in "
             "that order), found `goal`"},
        UnitCase{"machine m():\n  state a done\n  initial a\n",
             "syntax 3:2-3:9 expected `state` (a machine body is `goal`, `initial`, `observe:` and then states, in "
             "that order), found the reserved word `initial`"},
        UnitCase{"machine m():\n  goal g\n", "syntax 2:7-2:8 expected the goal text, found `g`"},
        UnitCase{"machine m():\n  goal \"g\" \"h\"\n",
             "syntax 2:11-2:14 expected the end of the line, found a text literal"},
        UnitCase{"machine m():\n  initial 3\n", "syntax 2:10-2:11 expected the initial state's name, found the number `3`"},
        UnitCase{"machine m():\n  observe x\n", "syntax 2:10-2:11 expected `:`, found `x`"},
        UnitCase{"machine m():\n  observe:\n  state s done\n",
             "syntax 3:2-3:7 expected an indented block of fields after `observe:`, found the reserved word `state`"},
        UnitCase{"machine m():\n  state s done:\n", "syntax 2:14-2:15 expected the end of the line, found `:`"},
        UnitCase{"machine m():\n  state s\n",
             "syntax 2:9-3:0 expected `done` or `:` after the state's name, found the end of the line"},
        UnitCase{"machine m():\n  state in done\n",
             "syntax 2:8-2:10 expected the state's name, found the reserved word `in`"},
        UnitCase{"machine m():\n  state s:\n  state t done\n",
             "syntax 3:2-3:7 expected an indented block of `on` transitions after `state ...:`, found the reserved "
             "word `state`"},
        UnitCase{"machine m():\n  state s:\n    go \"d\" -> t\n", "syntax 3:4-3:6 expected `on`, found `go`"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    UnitsTransition, UnitsRejected,
    testing::Values(
        UnitCase{"machine m():\n  state s:\n    on go -> next\n",
             "event_no_description 3:7-3:9 `on go` needs a description text: it is what Zem reads (spec section "
             "7.8)"},
        UnitCase{"machine m():\n  state s:\n    on go\n",
             "event_no_description 3:7-3:9 `on go` needs a description text: it is what Zem reads (spec section "
             "7.8)"},
        UnitCase{"machine m():\n  state s:\n    on stay \"d\" -> s\n",
             "syntax 3:7-3:11 expected an event name, found the reserved word `stay`"},
        UnitCase{"machine m():\n  state s:\n    on go \"d\" next\n", "syntax 3:14-3:18 expected `->`, found `next`"},
        UnitCase{"machine m():\n  state s:\n    on go \"d\" ->\n",
             "syntax 3:16-4:0 expected the target state's name, found the end of the line"},
        UnitCase{"machine m():\n  state s:\n    on go \"{a b}\" -> t\n",
             "syntax 3:14-3:15 expected the end of the interpolation, found `b`"},
        UnitCase{"machine m():\n  state s:\n    on go \"d\" -> t risky when x\n",
             "syntax 3:25-3:29 expected the end of the line, found the reserved word `when`"},
        UnitCase{"machine m():\n  state s:\n    on go \"d\" -> t when\n",
             "syntax 3:23-4:0 expected an expression, found the end of the line"},
        UnitCase{"machine m():\n  state s:\n    on go \"d\" -> t:\n    on b \"e\" -> t\n",
             "syntax 4:4-4:6 expected an indented block of actions after `on ...:`, found the reserved word `on`"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------
// Shape annotations.

std::string render_shape(const ast::Shape& s) {
  if (const auto* t = std::get_if<ast::Shape::Type>(&s.node)) return std::string(enum_name(t->name));
  std::string out = "{";
  const auto& fields = std::get<ast::Shape::Record>(s.node).fields;
  for (size_t i = 0; i < fields.size(); ++i) {
    out += (i ? ", " : "") + fields[i].name + (fields[i].shape ? ": " + render_shape(*fields[i].shape) : "");
  }
  return out + "}";
}

std::string shape_outcome(std::string_view src) {
  LexedParser lexed(src);
  Parser& p = lexed.parser;
  auto r = parse_shape(p);
  if (!r.ok()) return render_failure(r.error());
  if (!p.current().is_newline()) return "stopped before " + describe_token(p.current());
  return render_shape(*r);
}

class UnitsShape : public testing::TestWithParam<UnitCase> {};

TEST_P(UnitsShape, Parses) { EXPECT_EQ(shape_outcome(GetParam().src), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    UnitsShapeForms, UnitsShape,
    testing::Values(UnitCase{"text", "text"}, UnitCase{"number", "number"}, UnitCase{"bool", "bool"}, UnitCase{"list", "list"},
                    UnitCase{"record", "record"}, UnitCase{"{}", "{}"}, UnitCase{"{title: text, tags}", "{title: text, tags}"},
                    UnitCase{"{a: {b: list, c}, d: record}", "{a: {b: list, c}, d: record}"},
                    UnitCase{"{\n  a: text,\n  b\n}", "{a: text, b}"},
                    UnitCase{"string",
                         "syntax 1:0-1:6 expected a shape (`text`, `number`, `bool`, `list`, `record` or "
                         "`{ fields }`), found `string`"},
                    UnitCase{"none",
                         "syntax 1:0-1:4 expected a shape (`text`, `number`, `bool`, `list`, `record` or "
                         "`{ fields }`), found the reserved word `none`"},
                    UnitCase{"{a: }",
                         "syntax 1:4-1:5 expected a shape (`text`, `number`, `bool`, `list`, `record` or "
                         "`{ fields }`), found `}`"},
                    UnitCase{"{a,}", "syntax 1:3-1:4 expected a field name, found `}`"},
                    UnitCase{"{a b}", "syntax 1:3-1:4 expected `}`, found `b`"},
                    UnitCase{"{in: text}", "syntax 1:1-1:3 expected a field name, found the reserved word `in`"},
                    UnitCase{"{a: text", "syntax 1:8-1:8 expected `}`, found the end of the line"}),
    NameBySource());

TEST(UnitsShapeSpans, NameTypeAndRecord) {
  auto tokens = lex("{title: text, tags, meta: {a: number}}");
  ASSERT_TRUE(tokens.ok());
  Parser p(*tokens, false);
  auto r = parse_shape(p);
  ASSERT_TRUE(r.ok());
  const auto& record = std::get<ast::Shape::Record>(r->node);
  EXPECT_EQ(span_str(record.span), "1:0-1:38");
  EXPECT_EQ(span_str(record.fields[0].span), "1:1-1:12");  // the name to the end of its shape
  EXPECT_EQ(span_str(record.fields[0].name_span), "1:1-1:6");
  EXPECT_EQ(span_str(std::get<ast::Shape::Type>(record.fields[0].shape->node).span), "1:8-1:12");
  EXPECT_EQ(span_str(record.fields[1].span), "1:14-1:18");  // a bare field: just its name
  EXPECT_FALSE(record.fields[1].shape.has_value());
  EXPECT_EQ(span_str(record.fields[2].span), "1:20-1:37");
}

TEST(UnitsShapeSpans, DeepRecordsEndInTheNestingDiagnostic) {
  auto nested = [](int levels) {
    std::string src;
    for (int i = 0; i < levels; ++i) src += "{a: ";
    src += "text";
    for (int i = 0; i < levels; ++i) src += "}";
    return src;
  };
  // Every record holds one level: a hundred nest, the next `{` (at column 400) is one too many.
  EXPECT_EQ(shape_outcome(nested(100)).rfind("{a: {a: {a: ", 0), 0u);
  const char* refused = "syntax 1:400-1:401 this nests too deeply; the limit is 100 levels of nesting";
  EXPECT_EQ(shape_outcome(nested(101)), refused);
  EXPECT_EQ(shape_outcome(nested(100000)), refused);
}

}  // namespace
}  // namespace dravelin::syntax
