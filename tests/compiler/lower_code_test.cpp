#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/lower.h"
#include "lower_test_fixture.h"

namespace dravelin::compiler {
namespace {

using namespace lower_test;

// A compact picture of a lowered callee: `name(x)` for a name, `field(target, x)` for a field, `other` else.
std::string describe(const ir::Expr& expr) {
  if (const auto* name = std::get_if<ir::Expr::Name>(&expr.node)) return "name(" + name->name + ")";
  if (const auto* field = std::get_if<ir::Expr::Field>(&expr.node)) {
    return "field(" + describe(*field->target) + ", " + field->name + ")";
  }
  return "other";
}

const ir::Expr::Call* call_of(const ir::Expr& expr) {
  const auto* call = std::get_if<ir::Expr::Call>(&expr.node);
  if (call == nullptr) ADD_FAILURE() << "not a call";
  return call;
}

const std::string kLibrary =
    "program lib\n"
    "use \"inner.zem\" as inner\n"
    "def f(x):\n"
    "  return x\n"
    "def _p(x):\n"
    "  return x\n"
    "task calls:\n"
    "  a = f(1)\n"
    "  b = _p(1)\n"
    "  c = inner.g(1)\n"
    "  d = stuck(1)\n"
    "  e = helper(1)\n";
const std::string kInner = "program inner\ndef g(x):\n  return x\n";

struct CallCase {
  std::string callee;    // as written before the argument list
  std::string expected;  // by `describe`
};

TEST(LowerCode, CallsOfUnitsResolveToQualifiedNamesAndOtherCalleesStayAsWritten) {
  const std::vector<CallCase> cases = {
      {"helper", "name(helper)"},           // a unit of this module
      {"stuck", "name(std.stuck)"},         // not here, so the prelude's
      {"std.stuck", "name(std.stuck)"},     // the prelude through its alias
      {"lib.f", "name(lib.f)"},             // a library's unit
      {"lib._p", "name(lib._p)"},           // private: reported by the checker, still resolved
      {"lib.missing", "field(name(lib), missing)"},
      {"std.missing", "field(name(std), missing)"},
      {"nolib.f", "field(name(nolib), f)"},  // not an alias here
      {"lib.inner.g", "field(field(name(lib), inner), g)"},  // three names are never a unit call
      {"len", "name(len)"},
      {"unknown", "name(unknown)"},
      {"writer.send", "field(name(writer), send)"},
      {"items[0]", "other"},
  };
  std::string text =
      "program p\n"
      "use \"lib.zem\" as lib\n"
      "needs writer: agent\n"
      "def helper(x):\n"
      "  return x\n"
      "task main:\n";
  for (const CallCase& c : cases) text += "  v = " + c.callee + "(1)\n";
  text += "  helper 2\n";
  LoweredModule lowered = lower_root(text, {{"lib.zem", kLibrary}, {"inner.zem", kInner}});
  const ir::Task& main = unit_named(lowered.tasks, "main");
  ASSERT_EQ(main.body.size(), cases.size() + 1);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].callee);
    const ir::Expr::Call* call = call_of(assigned(main.body, i));
    if (call == nullptr) continue;
    EXPECT_EQ(describe(*call->callee), cases[i].expected);
    EXPECT_EQ(call->form, syntax::CallForm::Function);
    ASSERT_EQ(call->args.size(), 1u);
    syntax::Span one = span_of(text, "1)", i);
    one.end = pos_at(text, one.start.offset + 1);
    EXPECT_EQ(call->args[0].value, (ir::Expr{ir::Expr::Number{1.0, one}}));
  }
  // A resolved callee spans the whole callee as written.
  const ir::Expr::Call* through_alias = call_of(assigned(main.body, 2));
  ASSERT_NE(through_alias, nullptr);
  EXPECT_EQ(spanned(text, std::get<ir::Expr::Name>(through_alias->callee->node).span), "std.stuck");

  // The command form resolves the same way and keeps its form.
  const auto& command = std::get<ir::Stmt::Expr>(main.body.back().node);
  const ir::Expr::Call* helper = call_of(command.expr);
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(describe(*helper->callee), "name(helper)");
  EXPECT_EQ(helper->form, syntax::CallForm::Command);
}

TEST(LowerCode, CallsInALibraryResolveInThatLibrary) {
  std::vector<LinkedModule> modules = link_text("program p\nuse \"lib.zem\" as lib\n",
                                                {{"lib.zem", kLibrary}, {"inner.zem", kInner}});
  LoweredModule lowered = lower_program(module_named(modules, "lib"), modules);
  const ir::Task& calls = unit_named(lowered.tasks, "lib.calls");
  std::vector<std::string> callees;
  for (size_t i = 0; i < calls.body.size(); ++i) {
    if (const ir::Expr::Call* call = call_of(assigned(calls.body, i))) callees.push_back(describe(*call->callee));
  }
  EXPECT_EQ(callees, (std::vector<std::string>{"name(lib.f)", "name(lib._p)", "name(lib.inner.g)",
                                               "name(std.stuck)", "name(helper)"}));
}

// A library whose capability `llm` is served by the root program's `writer`.
const std::string kBoundLibrary =
    "program lib\n"
    "needs llm: llm\n"
    "def ask(llm, items):\n"
    "  for llm in items:\n"
    "    note = {llm, other: llm}\n"
    "  x = llm\n"
    "  llm = 1\n"
    "  y = items.llm\n"
    "  t = \"say {llm}\"\n"
    "  log info \"asked\" {llm}\n"
    "  return llm.complete(x)\n";

TEST(LowerCode, CapabilityNamesLowerToTheRootCapabilityTheyAreBoundTo) {
  std::vector<LinkedModule> modules = link_text(
      "program p\nuse \"lib.zem\" as lib with llm: writer\nneeds writer: llm\n", {{"lib.zem", kBoundLibrary}});
  LoweredModule lowered = lower_program(module_named(modules, "lib"), modules);
  const ir::Def& ask = unit_named(lowered.defs, "lib.ask");
  const std::string& text = kBoundLibrary;

  // Parameters, loop variables, assignment roots and field names keep their written names.
  ASSERT_EQ(ask.params.size(), 2u);
  EXPECT_EQ(ask.params[0].name, "llm");
  const auto& loop = std::get<ir::Stmt::For>(ask.body[0].node);
  EXPECT_EQ(loop.names, (std::vector<std::string>{"llm"}));

  // Every read of the name is replaced, whatever declared it; the shorthand reads at the field name's span.
  const auto& note = std::get<ir::Expr::Record>(assigned(loop.body, 0).node);
  std::vector<ir::RecordField> fields = {
      {"llm", ir::Expr{ir::Expr::Name{"writer", span_of(text, "llm", 4)}}},
      {"other", ir::Expr{ir::Expr::Name{"writer", span_of(text, "llm", 5)}}},
  };
  EXPECT_EQ(note.fields, fields);
  EXPECT_EQ(assigned(ask.body, 1), (ir::Expr{ir::Expr::Name{"writer", span_of(text, "llm", 6)}}));

  const auto& reassign = std::get<ir::Stmt::Assign>(ask.body[2].node);
  EXPECT_EQ(reassign.root, "llm");
  EXPECT_EQ(describe(assigned(ask.body, 3)), "field(name(items), llm)");

  const auto& t = std::get<ir::Expr::Text>(assigned(ask.body, 4).node);
  ASSERT_EQ(t.parts.size(), 2u);
  EXPECT_EQ(std::get<ir::TextPart::Interpolation>(t.parts[1].node).expr,
            (ir::Expr{ir::Expr::Name{"writer", span_of(text, "llm", 9)}}));

  const auto& log = std::get<ir::Expr::Log>(std::get<ir::Stmt::Expr>(ask.body[5].node).expr.node);
  ASSERT_EQ(log.fields.size(), 1u);
  EXPECT_EQ(log.fields[0].name, "llm");
  EXPECT_EQ(describe(log.fields[0].value), "name(writer)");

  const auto& ret = std::get<ir::Stmt::Return>(ask.body[6].node);
  ASSERT_TRUE(ret.value.has_value());
  const ir::Expr::Call* call = call_of(*ret.value);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(describe(*call->callee), "field(name(writer), complete)");
  EXPECT_TRUE(lowered.diagnostics.empty());
}

TEST(LowerCode, RecordShorthandsReadTheirVariable) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  r = {x, y: 2}\n";
  LoweredModule lowered = lower_root(text);
  const auto& record = std::get<ir::Expr::Record>(assigned(unit_named(lowered.tasks, "main").body, 0).node);
  std::vector<ir::RecordField> fields = {
      {"x", ir::Expr{ir::Expr::Name{"x", span_of(text, "x")}}},
      {"y", ir::Expr{ir::Expr::Number{2.0, span_of(text, "2")}}},
  };
  EXPECT_EQ(record.fields, fields);
  EXPECT_EQ(record.span, span_of(text, "{x, y: 2}"));
}

TEST(LowerCode, ShapeFieldsChooseTheirCutPolicy) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  page = shape strict:\n"
      "    a notes, max 10\n"
      "    b notes, max 10, tail\n"
      "    c focus notes on \"what matters\", max 400, max 100\n"
      "    d focus notes on \"what matters\", max 400, max 100, tail\n"
      "    e notes\n";
  LoweredModule lowered = lower_root(text);
  const auto& shape = std::get<ir::Stmt::Shape>(unit_named(lowered.tasks, "main").body[0].node);
  EXPECT_EQ(shape.target, "page");
  EXPECT_TRUE(shape.strict);
  ASSERT_EQ(shape.fields.size(), 5u);
  using Policy = ir::ShapePolicy;
  EXPECT_EQ(shape.fields[0].policy, Policy{Policy::Head{}});
  EXPECT_EQ(shape.fields[0].max, 10.0);
  EXPECT_EQ(shape.fields[1].policy, Policy{Policy::Tail{}});
  // The purpose is the focus form's own `on`; the value stays the whole focus form.
  const ir::Expr purpose{ir::Expr::Text{{ir::TextPart{ir::TextPart::Literal{"what matters"}}},
                                        span_of(text, "\"what matters\"")}};
  EXPECT_EQ(shape.fields[2].policy, Policy{Policy::Focus{purpose}});
  EXPECT_TRUE(std::holds_alternative<ir::Expr::Focus>(shape.fields[2].value.node));
  EXPECT_EQ(shape.fields[2].max, 100.0);
  EXPECT_EQ(shape.fields[3].policy, Policy{Policy::Tail{}});
  EXPECT_EQ(shape.fields[4].policy, Policy{Policy::Head{}});
  EXPECT_FALSE(shape.fields[4].max.has_value());
  EXPECT_EQ(spanned(text, shape.fields[1].span), "b notes, max 10, tail");
}

TEST(LowerCode, StatementsKeepTheirStructure) {
  const std::string text =
      "program p\n"
      "needs writer: agent\n"
      "task main:\n"
      "  report.title.text = 1\n"
      "  writer.stop\n"
      "  if a:\n"
      "    b = 1\n"
      "  elif c:\n"
      "    b = 2\n"
      "  else:\n"
      "    b = 3\n"
      "  if a:\n"
      "    return\n"
      "  for k, v in items:\n"
      "    continue\n"
      "  loop max 3:\n"
      "    break\n"
      "  until verify(finished), max 5:\n"
      "    x = 1\n"
      "  gate risk r, confidence c, done d:\n"
      "    proceed -> return 1\n"
      "    stop ->\n"
      "      stop \"too risky\"\n"
      "  escalate \"help\"\n";
  LoweredModule lowered = lower_root(text);
  const std::vector<ir::Stmt>& body = unit_named(lowered.tasks, "main").body;
  ASSERT_EQ(body.size(), 9u);

  const auto& assign = std::get<ir::Stmt::Assign>(body[0].node);
  EXPECT_EQ(assign.root, "report");
  EXPECT_EQ(assign.path, (std::vector<std::string>{"title", "text"}));
  EXPECT_EQ(spanned(text, assign.span), "report.title.text = 1");
  EXPECT_EQ(describe(std::get<ir::Stmt::Expr>(body[1].node).expr), "field(name(writer), stop)");

  const auto& chain = std::get<ir::Stmt::If>(body[2].node);
  ASSERT_EQ(chain.branches.size(), 2u);
  EXPECT_EQ(describe(chain.branches[1].test), "name(c)");
  EXPECT_EQ(spanned(text, chain.branches[1].span).substr(0, 6), "c:\n   ");
  ASSERT_TRUE(chain.otherwise.has_value());
  EXPECT_EQ(chain.otherwise->size(), 1u);
  const auto& single = std::get<ir::Stmt::If>(body[3].node);
  EXPECT_FALSE(single.otherwise.has_value());
  EXPECT_FALSE(std::get<ir::Stmt::Return>(single.branches[0].body[0].node).value.has_value());

  const auto& loop_over = std::get<ir::Stmt::For>(body[4].node);
  EXPECT_EQ(loop_over.names, (std::vector<std::string>{"k", "v"}));
  EXPECT_TRUE(std::holds_alternative<ir::Stmt::Continue>(loop_over.body[0].node));
  const auto& bounded = std::get<ir::Stmt::Loop>(body[5].node);
  EXPECT_EQ(bounded.max, 3.0);
  EXPECT_TRUE(std::holds_alternative<ir::Stmt::Break>(bounded.body[0].node));
  const auto& until = std::get<ir::Stmt::Until>(body[6].node);
  EXPECT_TRUE(until.verify);
  EXPECT_EQ(until.max, 5.0);
  EXPECT_EQ(until.body.size(), 1u);

  const auto& gate = std::get<ir::Stmt::Gate>(body[7].node);
  ASSERT_TRUE(gate.risk && gate.confidence && gate.done);
  EXPECT_EQ(describe(*gate.done), "name(d)");
  ASSERT_EQ(gate.arms.size(), 2u);
  EXPECT_EQ(gate.arms[0].verdict, syntax::Verdict::Proceed);
  EXPECT_EQ(gate.arms[1].verdict, syntax::Verdict::Stop);
  EXPECT_TRUE(std::holds_alternative<ir::Stmt::Stop>(gate.arms[1].body[0].node));
  EXPECT_EQ(spanned(text, std::get<ir::Stmt::Escalate>(body[8].node).span), "escalate \"help\"");
}

TEST(LowerCode, InterpolationsAreParsedAgainAtTheirPlaceInTheFile) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  t = \"a {x + 1} b {name}\"\n"
      "  u = \"{log info x}\"\n";
  LoweredModule lowered = lower_root(text);
  const std::vector<ir::Stmt>& body = unit_named(lowered.tasks, "main").body;
  const auto& t = std::get<ir::Expr::Text>(assigned(body, 0).node);
  ASSERT_EQ(t.parts.size(), 4u);
  EXPECT_EQ(t.parts[0], (ir::TextPart{ir::TextPart::Literal{"a "}}));
  const ir::Expr sum{ir::Expr::Binary{syntax::BinaryOp::Add, ir::Expr{ir::Expr::Name{"x", span_of(text, "x")}},
                                      ir::Expr{ir::Expr::Number{1.0, span_of(text, "1")}}, span_of(text, "x + 1")}};
  EXPECT_EQ(std::get<ir::TextPart::Interpolation>(t.parts[1].node).expr, sum);
  EXPECT_EQ(t.parts[2], (ir::TextPart{ir::TextPart::Literal{" b "}}));
  EXPECT_EQ(describe(std::get<ir::TextPart::Interpolation>(t.parts[3].node).expr), "name(name)");

  // Without a unit named `log`, `log info x` inside braces is the log form.
  const auto& u = std::get<ir::Expr::Text>(assigned(body, 1).node);
  ASSERT_EQ(u.parts.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<ir::Expr::Log>(std::get<ir::TextPart::Interpolation>(u.parts[0].node).expr.node));
}

// Interpolations are parsed again with the file's own reading of `log`: once a unit bears that name, `log info x`
// is no longer the log form, and inside braces it no longer parses at all.
TEST(LowerCode, AUnitNamedLogChangesHowInterpolationsAreReadAgain) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  u = \"{log info x}\"\n";
  std::vector<LinkedModule> modules = link_text(text);
  ASSERT_FALSE(modules.empty());
  ast::Def log_unit;
  log_unit.name = "log";
  modules[0].program.units.push_back(ast::Unit{log_unit});

  LoweredModule lowered = lower_program(modules[0], modules);
  ASSERT_EQ(lowered.diagnostics.size(), 1u);
  EXPECT_EQ(lowered.diagnostics[0].code, syntax::DiagnosticCode::Syntax);
  EXPECT_EQ(lowered.diagnostics[0].message, "expected the end of the interpolation, found `info`");
  EXPECT_EQ(spanned(text, lowered.diagnostics[0].span), "info");
  const auto& u = std::get<ir::Expr::Text>(assigned(unit_named(lowered.tasks, "main").body, 0).node);
  ASSERT_EQ(u.parts.size(), 1u);
  EXPECT_EQ(std::get<ir::TextPart::Interpolation>(u.parts[0].node).expr,
            (ir::Expr{ir::Expr::None{span_of(text, "log info x")}}));
}

TEST(LowerCode, AnInterpolationThatNoLongerParsesBecomesNoneAndReportsWhy) {
  const std::string text =
      "program p\n"
      "task main:\n"
      "  t = \"a {x} b\"\n";
  std::vector<LinkedModule> modules = link_text(text);
  ASSERT_FALSE(modules.empty());
  ASSERT_EQ(modules[0].program.units.size(), 1u);
  // Trees built by other hands than the parser's may hold anything.
  auto& task = std::get<ast::Task>(modules[0].program.units[0].node);
  auto& assign = std::get<ast::Stmt::Assign>(task.body.stmts[0].node);
  ast::TextLit& lit = std::get<ast::Expr::Text>(assign.value.node).text;
  // Without the parser's kept expressions, lowering parses the sources itself.
  lit.interpolations.clear();
  auto& parts = lit.parts;
  ASSERT_EQ(parts.size(), 3u);
  auto& interpolation = std::get<syntax::TextInterpolationPart>(parts[1]);
  interpolation.source = "x +";
  modules[0].source_path = "/somewhere/main.zem";

  LoweredModule lowered = lower_program(modules[0], modules);
  ASSERT_FALSE(lowered.diagnostics.empty());
  for (const syntax::Diagnostic& d : lowered.diagnostics) {
    EXPECT_EQ(d.severity, syntax::Severity::Error);
    EXPECT_EQ(d.file, "/somewhere/main.zem");
  }
  const auto& t = std::get<ir::Expr::Text>(assigned(unit_named(lowered.tasks, "main").body, 0).node);
  ASSERT_EQ(t.parts.size(), 3u);
  EXPECT_EQ(std::get<ir::TextPart::Interpolation>(t.parts[1].node).expr,
            (ir::Expr{ir::Expr::None{interpolation.span}}));
  EXPECT_EQ(t.parts[2], (ir::TextPart{ir::TextPart::Literal{" b"}}));
}

TEST(LowerCode, CalleePathSpellsNamesAndFieldChainsOnly) {
  struct Case {
    std::string source;
    std::optional<std::vector<std::string>> names;
  };
  const std::vector<Case> cases = {
      {"a", std::vector<std::string>{"a"}},
      {"a.b.c", std::vector<std::string>{"a", "b", "c"}},
      {"a[0].b", std::nullopt},
      {"f(x).b", std::nullopt},
      {"1", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    auto parsed = syntax::parse_expression(c.source, syntax::Pos{1, 0, 0});
    ASSERT_TRUE(parsed.ok());
    std::optional<std::vector<ast::Ident>> path = callee_path(*parsed);
    ASSERT_EQ(path.has_value(), c.names.has_value());
    if (!path) continue;
    std::vector<std::string> names;
    for (const ast::Ident& ident : *path) {
      names.push_back(ident.name);
      EXPECT_EQ(spanned(c.source, ident.span), ident.name);
    }
    EXPECT_EQ(names, *c.names);
  }
}

}  // namespace
}  // namespace dravelin::compiler
