#include "syntax/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_names.h"
#include "parse_helpers.h"
#include "syntax/lexer.h"

namespace dravelin::syntax {
namespace {

using namespace test_support;

TEST(DescribeToken, NamesEveryKind) {
  struct Case {
    const char* text;
    size_t index;
    const char* description;
  };
  for (const Case& c : {
           Case{"abc", 0, "`abc`"},
           Case{"in", 0, "the reserved word `in`"},
           Case{"none", 0, "the reserved word `none`"},
           Case{"1.5k", 0, "the number `1500`"},
           Case{"15%", 0, "the number `0.15`"},
           Case{"2.5", 0, "the number `2.5`"},
           Case{"1000", 0, "the number `1000`"},
           Case{"1.2.3", 0, "the number `NaN`"},
           Case{"\"t{x}\"", 0, "a text literal"},
           Case{"->", 0, "`->`"},
           Case{">=", 0, "`>=`"},
           Case{"a", 1, "the end of the line"},
           Case{"a:\n  b", 3, "an indented block"},
           Case{"a:\n  b", 6, "the end of the block"},
           Case{"a", 2, "the end of the file"},
       }) {
    auto scanned = Lexer::scan(c.text);
    ASSERT_LT(c.index, scanned.tokens.size()) << c.text;
    EXPECT_EQ(describe_token(scanned.tokens[c.index]), c.description) << c.text << " token " << c.index;
  }
}

TEST(ParserCursor, AdvancesToThePastEndEofAndStops) {
  auto tokens = tokens_of("a b");  // a, b, Newline, Eof
  Parser p(tokens, false);
  EXPECT_EQ(p.last_end(), Pos{});  // nothing consumed yet
  EXPECT_EQ(p.advance(), (Span{{1, 0, 0}, {1, 1, 1}}));
  EXPECT_EQ(p.last_end(), (Pos{1, 1, 1}));
  p.advance();
  p.advance();
  EXPECT_TRUE(p.current().is_eof());
  EXPECT_FALSE(p.current_span().is_zero());  // the list's own Eof has the end-of-text span
  p.advance();
  EXPECT_EQ(p.pos, tokens.size());
  p.advance();
  EXPECT_EQ(p.pos, tokens.size());
  EXPECT_TRUE(p.current().is_eof());
  EXPECT_TRUE(p.current_span().is_zero());
  EXPECT_TRUE(p.peek(5).is_eof());

  Diagnostic d = p.expect_failure("a name");
  EXPECT_EQ(d.code, DiagnosticCode::Syntax);
  EXPECT_EQ(d.severity, Severity::Error);
  EXPECT_EQ(d.message, "expected a name, found the end of the file");
  EXPECT_TRUE(d.span.is_zero());
  EXPECT_FALSE(d.file.has_value());
  EXPECT_TRUE(d.related.empty());
}

TEST(ParserCursor, EmptyListReadsAsEndOfFile) {
  std::vector<Token> none;
  Parser p(none, false);
  EXPECT_TRUE(p.current().is_eof());
  EXPECT_TRUE(p.advance().is_zero());
  EXPECT_EQ(p.pos, 0u);
  EXPECT_EQ(p.last_end(), Pos{});
}

// Each expectation runs on a fresh parser standing on the token at `index`.
struct ExpectCase {
  const char* text;
  size_t index;
  const char* op;
  const char* message;  // empty when the expectation holds
};

Result<Span, Diagnostic> run_expect(Parser& p, std::string_view op) {
  auto as_span = [&](auto r) -> Result<Span, Diagnostic> {
    if (!r.ok()) return err(std::move(r).error());
    return Span{};
  };
  if (op == "symbol :") return p.expect_symbol(Symbol::Colon);
  if (op == "keyword in") return p.expect_keyword(Keyword::In);
  if (op == "word as") return p.expect_word("as");
  if (op == "ident") return as_span(p.expect_ident("a loop variable"));
  if (op == "name") return as_span(p.expect_name("a field name"));
  if (op == "number") return as_span(p.expect_number("the loop's bound after `max`"));
  if (op == "newline") return as_span(p.expect_newline());
  if (op == "block") return as_span(p.expect_block_start("after `task ...:`"));
  if (op == "dedent") return as_span(p.expect_dedent());
  ADD_FAILURE() << "unknown op " << op;
  return Span{};
}

void PrintTo(const ExpectCase& c, std::ostream* os) {
  *os << c.op << " at token " << c.index << " of ";
  print_source(c.text, os);
}

class ParserExpect : public testing::TestWithParam<ExpectCase> {};

// The operation, where the parser stands and the snippet: "block_at_2_in_a_colon_nl_b".
std::string expect_case_name(const testing::TestParamInfo<ExpectCase>& info) {
  const ExpectCase& c = info.param;
  return source_case_name(c.op) + "_at_" + std::to_string(c.index) + "_in_" + source_case_name(c.text);
}

TEST_P(ParserExpect, ConsumesOrDescribes) {
  const ExpectCase& c = GetParam();
  auto tokens = tokens_of(c.text);
  Parser p(tokens, false);
  p.pos = c.index;
  auto r = run_expect(p, c.op);
  if (std::string_view(c.message).empty()) {
    EXPECT_TRUE(r.ok()) << c.text << ": " << r.error().message;
    EXPECT_GT(p.pos, c.index);
  } else {
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.error().message, c.message) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ParserExpect,
    testing::Values(
        ExpectCase{"a:", 1, "symbol :", ""},
        ExpectCase{"task main\n", 2, "symbol :", "expected `:`, found the end of the line"},
        ExpectCase{"in", 0, "keyword in", ""},
        ExpectCase{"x", 0, "keyword in", "expected `in`, found `x`"},
        ExpectCase{"as", 0, "word as", ""},
        ExpectCase{"ask", 0, "word as", "expected `as`, found `ask`"},
        ExpectCase{"x", 0, "ident", ""},
        ExpectCase{"in", 0, "ident", "expected a loop variable, found the reserved word `in`"},
        ExpectCase{"state", 0, "name", ""},
        ExpectCase{"(", 0, "name", "expected a field name, found `(`"},
        ExpectCase{"3", 0, "number", ""},
        ExpectCase{"x", 0, "number", "expected the loop's bound after `max`, found `x`"},
        ExpectCase{"a\nb", 1, "newline", ""},
        ExpectCase{"a b", 1, "newline", "expected the end of the line, found `b`"},
        ExpectCase{"a:\n  b", 1, "block", "expected the end of the line, found `:`"},
        ExpectCase{"a:\n  b", 2, "block", ""},
        // a line end followed by a line at the same depth fails on the second token
        ExpectCase{"a:\nb", 2, "block", "expected an indented block after `task ...:`, found `b`"},
        ExpectCase{"a:\n  b", 6, "dedent", ""},
        ExpectCase{"a", 0, "dedent", "expected the end of the block, found `a`"}),
    expect_case_name);

TEST(ParserExpect, FailureStaysOnTheToken) {
  auto tokens = tokens_of("a b");
  Parser p(tokens, false);
  p.advance();
  auto r = p.expect_symbol(Symbol::RParen);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().span, (Span{{1, 2, 2}, {1, 3, 3}}));
  EXPECT_EQ(p.pos, 1u);
}

TEST(ParserExpect, NamesAndWords) {
  auto tokens = tokens_of("verify max x");
  Parser p(tokens, false);
  EXPECT_TRUE(p.at_word("verify"));
  EXPECT_FALSE(p.eat_word("verifyx"));
  EXPECT_TRUE(p.eat_word("verify"));
  EXPECT_FALSE(p.at_word("max"));  // a reserved word is no identifier
  auto name = p.expect_name("a field name");
  ASSERT_TRUE(name.ok());
  EXPECT_EQ(name->name, "max");
  EXPECT_EQ(name->span, (Span{{1, 7, 7}, {1, 10, 10}}));
  auto number_tokens = tokens_of("15%");
  Parser q(number_tokens, false);
  auto number = q.expect_number("a number");
  ASSERT_TRUE(number.ok());
  EXPECT_DOUBLE_EQ(number->value, 0.15);
}

TEST(ParserNesting, GuardsCountLevelsAndRelease) {
  auto tokens = tokens_of("x");
  Parser p(tokens, false);
  {
    std::vector<NestingGuard> held;
    for (uint32_t i = 0; i < kMaxNesting; ++i) {
      auto guard = p.enter();
      ASSERT_TRUE(guard.ok()) << i;
      held.push_back(std::move(guard).value());
    }
    EXPECT_EQ(p.depth(), kMaxNesting);
    auto refused = p.enter();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, DiagnosticCode::Syntax);
    EXPECT_EQ(refused.error().message, "this nests too deeply; the limit is 100 levels of nesting");
    EXPECT_EQ(refused.error().span, p.current_span());
    EXPECT_EQ(p.depth(), kMaxNesting);  // a refused level is not counted
  }
  EXPECT_EQ(p.depth(), 0u);

  // A parser started inside another parse begins with the depth already used.
  Parser inner(tokens, false, kMaxNesting - 1);
  auto last = inner.enter();
  EXPECT_TRUE(last.ok());
  EXPECT_FALSE(inner.enter().ok());
}

}  // namespace
}  // namespace dravelin::syntax
