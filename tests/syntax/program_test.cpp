// Whole programs: the file header, its declarations, and the entry points parse_program and parse_tokens.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "case_names.h"
#include "syntax/lexer.h"
#include "syntax/parse.h"
#include "syntax/parser.h"
#include "tree_render.h"

namespace dravelin::syntax {
namespace {

using ast::Expr;

using namespace test_support;

ast::Program program_ok(std::string_view src) {
  auto r = parse_program(src);
  EXPECT_TRUE(r.ok()) << src << "\n" << (r.ok() ? "" : render_failure(r.error().front()));
  return r.ok() ? std::move(r).value() : ast::Program{};
}

// The one parser diagnostic, rendered; a parse that succeeds or returns anything but one diagnostic is a failure.
std::string failure(std::string_view src) {
  auto r = parse_program(src);
  if (r.ok()) return "parsed";
  if (r.error().size() != 1) return std::to_string(r.error().size()) + " diagnostics";
  return render_failure(r.error().front());
}

std::string literal_text(const ast::TextLit& t) {
  std::string out;
  for (const auto& part : t.parts) {
    if (const auto* lit = std::get_if<TextLiteralPart>(&part)) out += lit->text;
  }
  return out;
}

struct ProgramCase {
  const char* src;
  const char* expected;
};

void PrintTo(const ProgramCase& c, std::ostream* os) { print_source(c.src, os); }

// ---------------------------------------------------------------------------------------------------------------
// The header.

TEST(ProgramHeader, UsesAndDeclarationsInSourceOrder) {
  const char* src =
      "# a comment before the header\n"
      "program demo\n"
      "use \"lib/web.zem\" as web with browser: page, shell\n"
      "use \"util\" as util\n"
      "in request: {title: text, tags}\n"
      "needs page: tool:\n"
      "  fetch(url, timeout) -> text\n"
      "  ping() -> none\n"
      "  open(url) -> handle\n"
      "out summary\n"
      "needs helper: agent\n"
      "in limit: number\n";
  ast::Program prog = program_ok(src);
  EXPECT_EQ(prog.name, "demo");
  EXPECT_EQ(span_str(prog.name_span), "2:8-2:12");
  EXPECT_EQ(span_str(prog.span), "2:0-13:0");  // the first token to the end of the text
  EXPECT_TRUE(prog.units.empty());

  ASSERT_EQ(prog.uses.size(), 2u);
  const ast::UseDecl& web = prog.uses[0];
  EXPECT_EQ(literal_text(web.path), "lib/web.zem");
  EXPECT_EQ(web.alias, "web");
  EXPECT_EQ(span_str(web.alias_span), "3:21-3:24");
  EXPECT_EQ(span_str(web.span), "3:0-3:50");
  ASSERT_EQ(web.mapping.size(), 2u);
  EXPECT_EQ(web.mapping[0].inner, "browser");
  EXPECT_EQ(span_str(web.mapping[0].inner_span), "3:30-3:37");
  ASSERT_TRUE(web.mapping[0].outer.has_value());
  EXPECT_EQ(web.mapping[0].outer->name, "page");
  EXPECT_EQ(span_str(web.mapping[0].outer->span), "3:39-3:43");
  EXPECT_EQ(span_str(web.mapping[0].span), "3:30-3:43");
  EXPECT_EQ(web.mapping[1].inner, "shell");
  EXPECT_FALSE(web.mapping[1].outer.has_value());
  EXPECT_EQ(span_str(web.mapping[1].span), "3:45-3:50");
  EXPECT_TRUE(prog.uses[1].mapping.empty());

  ASSERT_EQ(prog.decls.size(), 5u);
  const auto& request = std::get<ast::Input>(prog.decls[0].node);
  EXPECT_EQ(request.name, "request");
  EXPECT_EQ(span_str(request.span), "5:0-5:31");  // `in` to the end of the shape
  EXPECT_EQ(std::get<ast::Shape::Record>(request.shape.node).fields.size(), 2u);

  const auto& page = std::get<ast::Need>(prog.decls[1].node);
  EXPECT_EQ(page.name, "page");
  EXPECT_EQ(page.kind, NeedKind::Tool);
  EXPECT_EQ(span_str(page.span), "6:0-9:21");  // to the end of the last signature
  ASSERT_EQ(page.signatures.size(), 3u);
  const ast::ToolSignature& fetch = page.signatures[0];
  EXPECT_EQ(fetch.name, "fetch");
  ASSERT_EQ(fetch.params.size(), 2u);
  EXPECT_EQ(fetch.params[1].name, "timeout");
  EXPECT_EQ(span_str(fetch.params[1].span), "7:13-7:20");
  EXPECT_EQ(fetch.returns, ToolReturnType::Text);
  EXPECT_EQ(span_str(fetch.span), "7:2-7:29");
  EXPECT_TRUE(page.signatures[1].params.empty());
  EXPECT_EQ(page.signatures[1].returns, ToolReturnType::None);
  EXPECT_EQ(page.signatures[2].returns, ToolReturnType::Handle);

  const auto& summary = std::get<ast::Output>(prog.decls[2].node);
  EXPECT_EQ(summary.name, "summary");
  EXPECT_EQ(span_str(summary.span), "10:0-10:11");
  const auto& helper = std::get<ast::Need>(prog.decls[3].node);
  EXPECT_EQ(helper.kind, NeedKind::Agent);
  EXPECT_TRUE(helper.signatures.empty());
  EXPECT_EQ(span_str(helper.span), "11:0-11:19");  // `needs` to the kind
  EXPECT_EQ(std::get<ast::Input>(prog.decls[4].node).name, "limit");
}

TEST(ProgramHeader, EveryKindAndReturnType) {
  ast::Program prog = program_ok(
      "program p\nneeds a: agent\nneeds b: person\nneeds c: llm\nneeds d: tool\nneeds e: tool:\n"
      "  v1() -> text\n  v2() -> number\n  v3() -> bool\n  v4() -> list\n  v5() -> record\n  v6() -> handle\n"
      "  v7() -> none\n");
  ASSERT_EQ(prog.decls.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    const auto& need = std::get<ast::Need>(prog.decls[i].node);
    EXPECT_EQ(need.kind, NeedKind(i)) << need.name;
    EXPECT_TRUE(need.signatures.empty()) << need.name;
  }
  const auto& e = std::get<ast::Need>(prog.decls[4].node);
  ASSERT_EQ(e.signatures.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(e.signatures[i].returns, ToolReturnType(i)) << i;
}

TEST(ProgramHeader, AHeaderAloneIsAProgram) {
  ast::Program prog = program_ok("program p");
  EXPECT_EQ(prog.name, "p");
  EXPECT_TRUE(prog.uses.empty());
  EXPECT_TRUE(prog.decls.empty());
  EXPECT_TRUE(prog.units.empty());
  EXPECT_EQ(span_str(prog.span), "1:0-1:9");
}

class ProgramRejected : public testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramRejected, WithOneDiagnostic) { EXPECT_EQ(failure(GetParam().src), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    ProgramHeaderLines, ProgramRejected,
    testing::Values(ProgramCase{"", "syntax 1:0-1:0 expected `program`, found the end of the file"},
                    ProgramCase{"# only a comment\n", "syntax 2:0-2:0 expected `program`, found the end of the file"},
                    ProgramCase{"task main:\n  return\n", "syntax 1:0-1:4 expected `program`, found the reserved word `task`"},
                    ProgramCase{"  program p\n", "syntax 1:0-1:2 expected `program`, found an indented block"},
                    ProgramCase{"program in\n", "syntax 1:8-1:10 expected the program name, found the reserved word `in`"},
                    ProgramCase{"program \"p\"\n", "syntax 1:8-1:11 expected the program name, found a text literal"},
                    ProgramCase{"program p q\n", "syntax 1:10-1:11 expected the end of the line, found `q`"},
                    ProgramCase{"program p:\n", "syntax 1:9-1:10 expected the end of the line, found `:`"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    ProgramUseLines, ProgramRejected,
    testing::Values(
        ProgramCase{"program p\nuse tools as t\n", "syntax 2:4-2:9 expected the module path, found `tools`"},
        ProgramCase{"program p\nuse \"a\" t\n", "syntax 2:8-2:9 expected `as`, found `t`"},
        ProgramCase{"program p\nuse \"a\" as in\n", "syntax 2:11-2:13 expected a module alias, found the reserved word `in`"},
        ProgramCase{"program p\nuse \"a\" as t with\n",
             "syntax 2:17-3:0 expected a capability name, found the end of the line"},
        ProgramCase{"program p\nuse \"a\" as t with a,\n",
             "syntax 2:20-3:0 expected a capability name, found the end of the line"},
        ProgramCase{"program p\nuse \"a\" as t with a:\n",
             "syntax 2:20-3:0 expected the importer's capability name, found the end of the line"},
        ProgramCase{"program p\nuse \"a\" as t with a: tool\n", "parsed"},
        ProgramCase{"program p\nuse \"a\" as t with a b\n", "syntax 2:20-2:21 expected the end of the line, found `b`"},
        ProgramCase{"program p\nuse \"a\" as t using x\n", "syntax 2:13-2:18 expected the end of the line, found `using`"},
        // The path is checked like every text: its interpolations must parse.
        ProgramCase{"program p\nuse \"{a b}\" as t\n", "syntax 2:8-2:9 expected the end of the interpolation, found `b`"}),
    NameBySource());

INSTANTIATE_TEST_SUITE_P(
    ProgramDeclarationLines, ProgramRejected,
    testing::Values(
        ProgramCase{"program p\nin x text\n", "syntax 2:5-2:9 expected `:`, found `text`"},
        ProgramCase{"program p\nin 3: text\n", "syntax 2:3-2:4 expected an input name, found the number `3`"},
        ProgramCase{"program p\nin x: string\n",
             "syntax 2:6-2:12 expected a shape (`text`, `number`, `bool`, `list`, `record` or `{ fields }`), found "
             "`string`"},
        ProgramCase{"program p\nin x: text, y: text\n", "syntax 2:10-2:11 expected the end of the line, found `,`"},
        ProgramCase{"program p\nout\n", "syntax 2:3-3:0 expected an output name, found the end of the line"},
        ProgramCase{"program p\nout a: text\n", "syntax 2:5-2:6 expected the end of the line, found `:`"},
        ProgramCase{"program p\nneeds x agent\n", "syntax 2:8-2:13 expected `:`, found `agent`"},
        ProgramCase{"program p\nneeds in: agent\n", "syntax 2:6-2:8 expected a capability name, found the reserved word `in`"},
        ProgramCase{"program p\nneeds x: robot\n",
             "syntax 2:9-2:14 expected a capability kind (`agent`, `person`, `llm` or `tool`), found `robot`"},
        // The kind is read by its text, so a misspelt one is the lexer's finding alone.
        ProgramCase{"program p\nneeds x: Agent\n",
             "uppercase_identifier 2:9-2:14 `Agent` contains an uppercase letter; identifiers are lowercase"},
        ProgramCase{"program p\nneeds x: agent:\n  ask() -> text\n",
             "syntax 2:14-2:15 expected the end of the line (only a `tool` declares a signature block, spec "
             "section 9.4), found `:`"},
        ProgramCase{"program p\nneeds x: tool: f\n", "syntax 2:15-2:16 expected the end of the line, found `f`"},
        ProgramCase{"program p\nneeds x: tool:\nout y\n",
             "syntax 3:0-3:3 expected an indented block of verb signatures after `tool:`, found the reserved word "
             "`out`"},
        ProgramCase{"program p\nneeds x: tool:\n  3() -> text\n", "syntax 3:2-3:3 expected a verb name, found the number `3`"},
        ProgramCase{"program p\nneeds x: tool:\n  f -> text\n", "syntax 3:4-3:6 expected `(`, found `->`"},
        ProgramCase{"program p\nneeds x: tool:\n  f(a,) -> text\n", "syntax 3:6-3:7 expected a parameter name, found `)`"},
        ProgramCase{"program p\nneeds x: tool:\n  f(a b) -> text\n", "syntax 3:6-3:7 expected `)`, found `b`"},
        ProgramCase{"program p\nneeds x: tool:\n  f() text\n", "syntax 3:6-3:10 expected `->`, found `text`"},
        ProgramCase{"program p\nneeds x: tool:\n  f() -> string\n",
             "syntax 3:9-3:15 expected a return type (`text`, `number`, `bool`, `list`, `record`, `handle` or "
             "`none`), found `string`"},
        ProgramCase{"program p\nneeds x: tool:\n  f() -> text extra\n",
             "syntax 3:14-3:19 expected the end of the line, found `extra`"},
        ProgramCase{"program p\nneeds x: tool:\n  f() -> text\n    g() -> text\n",
             "syntax 4:0-4:4 expected a verb name, found an indented block"}),
    NameBySource());

// The header's parts come in a fixed order; a part out of order meets the unit parser, which names that order.
INSTANTIATE_TEST_SUITE_P(
    ProgramOrder, ProgramRejected,
    testing::Values(
        ProgramCase{"program p\nin x: text\nuse \"a\" as b\n",
             "syntax 3:0-3:3 expected a unit (`use` declarations come before `in`, `out`, `needs` and every unit, "
             "spec section 3), found the reserved word `use`"},
        ProgramCase{"program p\nmachine m():\n  state s done\nin x: text\n",
             "syntax 4:0-4:2 expected a unit (`in`, `out` and `needs` declarations come before every unit, spec "
             "section 3), found the reserved word `in`"},
        ProgramCase{"program p\nmachine m():\n  state s done\nuse \"a\" as b\n",
             "syntax 4:0-4:3 expected a unit (`use` declarations come before `in`, `out`, `needs` and every unit, "
             "spec section 3), found the reserved word `use`"},
        ProgramCase{"program p\nmachine m():\n  state s done\nprogram q\n",
             "syntax 4:0-4:7 expected `judgment`, `task`, `def` or `machine`, found the reserved word `program`"}),
    NameBySource());

// ---------------------------------------------------------------------------------------------------------------
// The entry points.

TEST(ProgramEntry, LexerErrorsAreAllReturnedAndNothingIsParsed) {
  // Three lexical problems, and a missing `program` that a parse would have found first.
  auto r = parse_program("progrm Demo\ntask t:\n\tx = 1 ! 2\n");
  ASSERT_FALSE(r.ok());
  std::vector<std::string> got;
  for (const auto& d : r.error()) got.push_back(render_failure(d));
  EXPECT_EQ(got, (std::vector<std::string>{
                     "uppercase_identifier 1:7-1:11 `Demo` contains an uppercase letter; identifiers are lowercase",
                     "indent 3:0-3:1 tabs are not allowed in indentation; use spaces",
                     "syntax 3:7-3:8 unexpected character `!`"}));
}

TEST(ProgramEntry, AParseFailureIsOneDiagnostic) {
  auto r = parse_program("program p\ntask t:\n  x = 1 +\n  y = (\n");
  ASSERT_FALSE(r.ok());
  ASSERT_EQ(r.error().size(), 1u);
  const Diagnostic& d = r.error()[0];
  EXPECT_EQ(render_failure(d), "syntax 3:9-4:0 expected an expression, found the end of the line");
  EXPECT_EQ(d.severity, Severity::Error);
  EXPECT_FALSE(d.file.has_value());
  EXPECT_TRUE(d.related.empty());
}

// A judgment body's `log` line is a `log` form unless the file declares a unit named `log`, anywhere in it.
TEST(ProgramEntry, AUnitNamedLogTurnsOffTheLogForm) {
  const std::string judgment = "program p\njudgment j():\n  log info \"t\"\n";
  const char* shadowed = "syntax 3:6-3:10 expected `=`, found `info`";
  for (const char* later : {"task log:\n  return\n", "def log():\n  return\n", "machine log():\n  state s done\n",
                            "judgment log(a):\n  r = a feels \"x\"\n"}) {
    EXPECT_EQ(failure(judgment + later), shadowed) << later;
  }
  for (const char* later :
       {"task logs:\n  return\n", "def logger():\n  return\n", "machine log_in():\n  state s done\n",
        "task t:\n  log info \"x\"\n", "def f(log):\n  return log\n"}) {
    ast::Program prog = program_ok(judgment + later);
    ASSERT_EQ(prog.units.size(), 2u) << later;
    EXPECT_EQ(std::get<ast::Judgment>(prog.units[0].node).logs.size(), 1u) << later;
  }
  // Declarations named `log` are no units.
  EXPECT_EQ(std::get<ast::Judgment>(
                program_ok("program p\nout log\nneeds log: agent\njudgment j():\n  log info \"t\"\n").units[0].node)
                .logs.size(),
            1u);
}

TEST(ProgramEntry, UnitsInSourceOrderWithTheirOwnVerifyLoops) {
  const char* src =
      "program p\n"
      "task a:\n"
      "  until verify(ok), max 3:\n"
      "    ok = true\n"
      "judgment j(x):\n"
      "  r = x feels \"fine\"\n"
      "task b:\n"
      "  until verify(ok), max 3:\n"
      "    ok = true\n"
      "def f():\n"
      "  return 1\n"
      "machine m():\n"
      "  state s done\n";
  ast::Program prog = program_ok(src);
  std::vector<std::string> names;
  for (const auto& u : prog.units) names.push_back(ast::unit_name(u) + "#" + std::to_string(u.node.index()));
  EXPECT_EQ(names, (std::vector<std::string>{"a#1", "j#0", "b#1", "f#2", "m#3"}));
  EXPECT_EQ(span_str(prog.span), "1:0-14:0");

  // Two in one task are refused.
  EXPECT_EQ(failure("program p\ntask a:\n  until verify(ok), max 3:\n    ok = true\n  until verify(ok), max 3:\n"
                    "    ok = true\n"),
            "verify_twice 5:8-5:14 a task may declare `verify` once, on its outermost loop (spec section 7.4)");
}

// A whole file parses into the tree its token list parses into, however far the parse has read: a file of many
// units spans many chunks of tokens, which the parse of a file gives back as it passes them.
TEST(ProgramEntry, ALongFileParsesAsItsTokenList) {
  std::string src = "program p\nin topic: text\n";
  for (int i = 0; i < 300; ++i) {
    const std::string n = std::to_string(i);
    src += "judgment j" + n + "(x):\n  r = x feels \"item " + n + " {x}\"\n"
           "task t" + n + ":\n  v = [a * 2 for a in [1, 2, 3] if a > 1]\n  if v == []:\n    w = \"none {topic}\"\n"
           "  else:\n    w = \"some {len(v)}\"\n  log info \"done {w}\"\n  return w\n";
  }
  src += "def log_it():\n  return 1\n";
  auto lexed = lex(src);
  ASSERT_TRUE(lexed.ok());
  ASSERT_GT(lexed->size(), 8 * TokenChunks::kChunk);
  auto from_tokens = parse_tokens(*lexed);
  ASSERT_TRUE(from_tokens.ok()) << render_failure(from_tokens.error().front());
  const ast::Program from_text = program_ok(src);
  EXPECT_EQ(from_text.units.size(), 601u);
  EXPECT_TRUE(from_text == *from_tokens);
}

// The language server lexes a document once and parses pieces of its token list: a copy of some of the tokens,
// with an Eof of its own appended. Nothing may assume that the piece starts the file.
TEST(ProgramEntry, ParsesASliceOfAnotherTokenList) {
  const char* document =
      "# two programs in one text\n"
      "program a\n"
      "machine m():\n"
      "  state s done\n"
      "program b\n"
      "out r\n"
      "machine n():\n"
      "  state t:\n"
      "    on go -> t\n";
  LexOutput lexed = Lexer::scan(document);
  ASSERT_TRUE(lexed.diagnostics.empty());
  const std::vector<Token>& all = lexed.tokens;
  std::vector<size_t> programs;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].is_keyword(Keyword::Program)) programs.push_back(i);
  }
  ASSERT_EQ(programs.size(), 2u);

  // The first program, cut before the second one's header, with an Eof that has no position.
  std::vector<Token> first(all.begin() + programs[0], all.begin() + programs[1]);
  first.push_back(Token{tok::Eof{}, Span{}});
  auto a = parse_tokens(first);
  ASSERT_TRUE(a.ok()) << render_failure(a.error().front());
  EXPECT_EQ(a->name, "a");
  EXPECT_EQ(span_str(a->span), "2:0-5:0");  // its own first token to the last token before the Eof
  EXPECT_EQ(a->span.start.offset, 27u);
  EXPECT_EQ(a->units.size(), 1u);

  // The second program runs to the document's end; its diagnostics point into the document.
  std::vector<Token> second(all.begin() + programs[1], all.end());
  auto b = parse_tokens(second);
  ASSERT_FALSE(b.ok());
  ASSERT_EQ(b.error().size(), 1u);
  EXPECT_EQ(render_failure(b.error()[0]),
            "event_no_description 9:7-9:9 `on go` needs a description text: it is what Zem reads (spec section 7.8)");

  // A piece that lost its Eof ends where its tokens end.
  std::vector<Token> cut(all.begin() + programs[0], all.begin() + programs[1]);
  auto c = parse_tokens(cut);
  ASSERT_TRUE(c.ok()) << render_failure(c.error().front());
  EXPECT_EQ(c->span, a->span);

  // The list stays the caller's: parsing it again gives the same tree.
  auto again = parse_tokens(first);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *a);
}

TEST(ProgramEntry, ASliceComputesItsOwnLogFlag) {
  // Only the tokens handed in count: the unit named `log` outside the slice does not shadow.
  LexOutput lexed = Lexer::scan("program p\njudgment j():\n  log info \"t\"\ntask log:\n  return\n");
  ASSERT_TRUE(lexed.diagnostics.empty());
  auto whole = parse_tokens(lexed.tokens);
  ASSERT_FALSE(whole.ok());
  EXPECT_EQ(render_failure(whole.error()[0]), "syntax 3:6-3:10 expected `=`, found `info`");
  size_t task = 0;
  while (!lexed.tokens[task].is_keyword(Keyword::Task)) ++task;
  std::vector<Token> head(lexed.tokens.begin(), lexed.tokens.begin() + task);
  head.push_back(Token{tok::Eof{}, Span{}});
  auto r = parse_tokens(head);
  ASSERT_TRUE(r.ok()) << render_failure(r.error().front());
  EXPECT_EQ(std::get<ast::Judgment>(r->units[0].node).logs.size(), 1u);
}

// ---------------------------------------------------------------------------------------------------------------
// Deep nesting, in each place where the grammar recurses, ends in one diagnostic.

std::string repeated(std::string_view text, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text;
  return out;
}

// `levels` nested `if` statements, each one indented a space deeper than the last.
std::string nested_if_program(int levels) {
  std::string src = "program p\ntask t:\n";
  for (int i = 1; i <= levels; ++i) src += std::string(i, ' ') + "if x:\n";
  return src + std::string(levels + 1, ' ') + "return\n";
}

std::string nested_actions(int levels) {
  std::string src = "program p\nmachine m():\n  state s:\n    on go \"d\" -> s:\n";
  for (int i = 0; i < levels; ++i) src += std::string(5 + i, ' ') + "loop max 2:\n";
  return src + std::string(5 + levels, ' ') + "return\n";
}

std::string nested_parens(int levels) {
  return "program p\ntask t:\n  x = " + repeated("(", levels) + "1" + repeated(")", levels) + "\n";
}
std::string nested_shapes(int levels) {
  return "program p\nin x: " + repeated("{a: ", levels) + "text" + repeated("}", levels) + "\n";
}
std::string nested_defaults(int levels) {
  return "program p\ndef f(a = " + repeated("[", levels) + repeated("]", levels) + "):\n  return a\n";
}
std::string nested_guards(int levels) {
  return "program p\nmachine m():\n  state s:\n    on go \"d\" -> s when " + repeated("not ", levels) + "x\n";
}

struct ProgramNestingCase {
  const char* name;
  std::string (*make)(int levels);
};

void PrintTo(const ProgramNestingCase& c, std::ostream* os) { *os << c.name; }

class ProgramNesting : public testing::TestWithParam<ProgramNestingCase> {};

TEST_P(ProgramNesting, IsRefusedWithOneDiagnostic) {
  for (int levels : {150, 2000}) {
    auto r = parse_program(GetParam().make(levels));
    ASSERT_FALSE(r.ok()) << levels;
    ASSERT_EQ(r.error().size(), 1u) << levels;
    EXPECT_EQ(r.error()[0].code, DiagnosticCode::Syntax);
    EXPECT_EQ(r.error()[0].message, "this nests too deeply; the limit is 100 levels of nesting") << levels;
  }
}

TEST_P(ProgramNesting, ModerateNestingParses) {
  auto r = parse_program(GetParam().make(40));
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : render_failure(r.error().front()));
}

INSTANTIATE_TEST_SUITE_P(ProgramNestingForms, ProgramNesting,
                         testing::Values(ProgramNestingCase{"ifs", nested_if_program}, ProgramNestingCase{"actions", nested_actions},
                                         ProgramNestingCase{"parens", nested_parens}, ProgramNestingCase{"shapes", nested_shapes},
                                         ProgramNestingCase{"defaults", nested_defaults},
                                         ProgramNestingCase{"guards", nested_guards}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------------
// The prelude that the compiler carries parses as any program does.

std::string read_source(const std::string& relative) {
  std::ifstream in(std::string(DRAVELIN_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const ast::Def& def_named(const ast::Program& prog, std::string_view name) {
  for (const auto& u : prog.units) {
    if (ast::unit_name(u) == name) return std::get<ast::Def>(u.node);
  }
  ADD_FAILURE() << "no def " << name;
  static const ast::Def none;
  return none;
}

const Expr& assigned_value(const ast::Block& body, size_t index) {
  return std::get<ast::Stmt::Assign>(body.stmts.at(index).node).value;
}

TEST(ProgramPrelude, ParsesIntoItsThreeDefs) {
  const std::string text = read_source("compiler/std.zem");
  ASSERT_FALSE(text.empty());
  ast::Program prog = program_ok(text);
  EXPECT_EQ(prog.name, "std");
  EXPECT_TRUE(prog.uses.empty());
  EXPECT_TRUE(prog.decls.empty());
  std::vector<std::string> names;
  for (const auto& u : prog.units) {
    EXPECT_TRUE(std::holds_alternative<ast::Def>(u.node));
    names.push_back(ast::unit_name(u));
  }
  ASSERT_EQ(names, (std::vector<std::string>{"focus_impl", "stuck", "repeats"}));

  // focus_impl: three parameters; `keep` judges every chunk; `kept` filters with a two-name comprehension.
  const ast::Def& focus = def_named(prog, "focus_impl");
  ASSERT_EQ(focus.params.size(), 3u);
  EXPECT_EQ(focus.params[2].name, "limit");
  EXPECT_FALSE(focus.params[2].default_value.has_value());
  const auto& keep = std::get<Expr::Judge>(assigned_value(focus.body, 2).node).judge;
  EXPECT_TRUE(keep->each);
  EXPECT_EQ(keep->subject.root, "chunks");
  EXPECT_TRUE(std::holds_alternative<ast::JudgeVerb::Feels>(keep->verb.node));
  const auto& kept = std::get<Expr::Comprehension>(assigned_value(focus.body, 3).node);
  ASSERT_EQ(kept.names.size(), 2u);
  EXPECT_EQ(kept.names[0].name, "c");
  EXPECT_EQ(kept.names[1].name, "p");
  EXPECT_EQ(std::get<Expr::Name>(std::get<Expr::Call>(kept.iterable->node).callee->node).name, "zip");
  ASSERT_TRUE(kept.test.has_value());
  EXPECT_EQ(std::get<Expr::Binary>((**kept.test).node).op, BinaryOp::Gt);

  // stuck: a `rate:` with three named levels, lowest first.
  const ast::Def& stuck = def_named(prog, "stuck");
  const auto& progress = std::get<Expr::Judge>(assigned_value(stuck.body, 2).node).judge;
  EXPECT_EQ(progress->subject.root, "steps");
  const auto& levels = std::get<ast::JudgeVerb::Rate>(progress->verb.node).levels;
  ASSERT_EQ(levels.size(), 3u);
  const char* expected[][2] = {{"unchanged", "each step leaves the state unchanged"},
                               {"drifting", "the state changes but not toward the goal"},
                               {"advancing", "the state is moving toward the goal"}};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(levels[i].name.has_value());
    EXPECT_EQ(levels[i].name->name, expected[i][0]);
    EXPECT_EQ(literal_text(std::get<Expr::Text>(levels[i].situation.node).text), expected[i][1]);
  }
  // The line after the `rate:` block follows its Dedent directly.
  EXPECT_TRUE(std::holds_alternative<ast::Stmt::Return>(stuck.body.stmts.at(3).node));

  // repeats: a `for` loop over the keys.
  const ast::Def& repeats = def_named(prog, "repeats");
  ASSERT_EQ(repeats.body.stmts.size(), 4u);
  EXPECT_TRUE(std::holds_alternative<ast::Stmt::For>(repeats.body.stmts[2].node));
  EXPECT_EQ(span_str(prog.span), "1:0-30:0");
}

}  // namespace
}  // namespace dravelin::syntax
