#include "zem/request_group.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ir/ir_test_builders.h"
#include "judgment_fixture.h"
#include "runtime/value_json.h"

namespace dravelin::zem {
namespace {

using runtime::List;
using runtime::Record;
using testing::CompiledJudgment;
using testing::judgment_program;
using testing::test_profile;

Value txt(std::string s) { return Value::text(std::move(s)); }
Value num(double n) { return Value::number(n); }
Value list(List items) { return Value::list(std::move(items)); }
Value rec(Record entries) { return Value::record(std::move(entries)); }

Scopes scopes_with(Record bindings) {
  Scopes scopes;
  for (auto& [name, value] : bindings) scopes.define(name, std::move(value));
  return scopes;
}

std::string compact(const Question& question) {
  std::string out;
  question.write_json(out);
  return out;
}

std::vector<std::string> compact(const std::vector<Question>& questions) {
  std::vector<std::string> out;
  for (const Question& q : questions) out.push_back(compact(q));
  return out;
}

std::string state_text(const RequestGroup& group) {
  std::string out;
  write_state_json(group.state, out);
  return out;
}

// The batch of the worked example: a `feels` on a field and a `rate` asked of each element of a list.
const char* const kToneAndGrades = R"(  tone = ticket.body feels "sounds urgent"
  grades = each items rate:
    "nothing is wrong"
    "something is off"
    "everything is broken"
)";

Record ticket_and_items() {
  return {{"ticket", rec({{"body", txt("Server down")}, {"id", num(7)}})}, {"items", list({txt("a"), txt("b")})}};
}

const std::string kLevels =
    R"("levels":[{"situation":"nothing is wrong"},{"situation":"something is off"},)"
    R"({"situation":"everything is broken"}])";

TEST(BuildRequestGroup, OneGroupHoldsEveryQuestionAndOnlyTheSubjectsInItsState) {
  CompiledJudgment j(judgment_program("ticket, items", kToneAndGrades));
  Scopes scopes = scopes_with(ticket_and_items());
  auto plan = build_request_group(j.judges(), std::nullopt, scopes, test_profile(3));
  ASSERT_TRUE(plan.ok()) << plan.error();

  ASSERT_EQ(plan->groups.size(), 1u);
  const RequestGroup& group = plan->groups[0];
  EXPECT_EQ(group.model, "zem-test");
  EXPECT_EQ(compact(group.questions),
            (std::vector<std::string>{
                R"({"type":"noul","id":"tone","path":"ticket.body","condition":"sounds urgent"})",
                R"({"type":"score","id":"grades[0]","path":"items[0]",)" + kLevels + "}",
                R"({"type":"score","id":"grades[1]","path":"items[1]",)" + kLevels + "}",
            }));
  // The record's `id` is not copied: only the value at the subject path is.
  EXPECT_EQ(state_text(group), R"({"items":["a","b"],"ticket":{"body":"Server down"}})");

  const std::vector<AnswerSpec> specs = {
      AnswerSpec{"tone", false, 1, AnswerKind{AnswerKind::Prob{}}, false},
      AnswerSpec{"grades", true, 2, AnswerKind{AnswerKind::Level{{}, 3}}, false},
  };
  EXPECT_EQ(plan->specs, specs);
}

TEST(BuildRequestGroup, QuestionsOverTheCapAreRefusedUnlessAnEachAloneIsOverIt) {
  CompiledJudgment j(judgment_program("ticket, items", kToneAndGrades));

  Scopes scopes = scopes_with(ticket_and_items());
  auto refused = build_request_group(j.judges(), std::nullopt, scopes, test_profile(2));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, RuntimeErrorCode::StateTooLarge);
  EXPECT_FALSE(refused.error().retryable);
  EXPECT_EQ(refused.error().message,
            "the request group [\"tone\", \"grades\"] expands to 3 questions, over the 2 per request allowed by "
            "`zem-test`, and no `each` in it is over the cap on its own; ask fewer questions together");
  EXPECT_EQ(refused.error().span, j.judgment->results[0].question.span);

  // A cap of 1 leaves the `each` over it on its own: one request per question, each state holding only what
  // its own questions are about (a later element keeps its place behind nulls). A cap of 0 counts as 1.
  for (uint32_t cap : {1u, 0u}) {
    SCOPED_TRACE(cap);
    auto plan = build_request_group(j.judges(), std::nullopt, scopes, test_profile(cap));
    ASSERT_TRUE(plan.ok()) << plan.error();
    ASSERT_EQ(plan->groups.size(), 3u);
    std::vector<std::string> ids;
    std::vector<std::string> states;
    for (const RequestGroup& group : plan->groups) {
      ASSERT_EQ(group.questions.size(), 1u);
      ids.push_back(group.questions[0].id());
      states.push_back(state_text(group));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"tone", "grades[0]", "grades[1]"}));
    EXPECT_EQ(states, (std::vector<std::string>{R"({"ticket":{"body":"Server down"}})", R"({"items":["a"]})",
                                                R"({"items":[null,"b"]})"}));
  }
}

TEST(BuildRequestGroup, AnOversizedEachIsCutIntoChunksInQuestionOrder) {
  CompiledJudgment j(judgment_program("x, items", R"(  first = x feels "is it"
  many = each items feels "matters"
  last = x feels "is it still"
)"));
  List items;
  for (int i = 0; i < 70; ++i) items.push_back(num(i));
  Scopes scopes = scopes_with({{"x", txt("t")}, {"items", list(std::move(items))}});
  auto plan = build_request_group(j.judges(), std::nullopt, scopes, test_profile(64));
  ASSERT_TRUE(plan.ok()) << plan.error();

  ASSERT_EQ(plan->groups.size(), 2u);
  const RequestGroup& head = plan->groups[0];
  const RequestGroup& tail = plan->groups[1];
  ASSERT_EQ(head.questions.size(), 64u);
  ASSERT_EQ(tail.questions.size(), 8u);
  EXPECT_EQ(head.questions.front().id(), "first");
  EXPECT_EQ(head.questions.back().id(), "many[62]");
  EXPECT_EQ(tail.questions.front().id(), "many[63]");
  EXPECT_EQ(tail.questions.back().id(), "last");

  // The second chunk's array holds its own elements at their places and nulls before them.
  const json::Array& held = tail.state.find("items")->as_array();
  ASSERT_EQ(held.size(), 70u);
  for (size_t i = 0; i < 63; ++i) EXPECT_TRUE(held[i].is_null()) << i;
  EXPECT_EQ(held[63], json::Value(uint64_t{63}));
  EXPECT_EQ(held[69], json::Value(uint64_t{69}));
  EXPECT_EQ(tail.state.find("x")->as_string(), "t");
  EXPECT_EQ(plan->specs[1].question_count, 70u);

  // Every `each` at or under the cap, 70 questions together: refused.
  List small;
  for (int i = 0; i < 64; ++i) small.push_back(num(i));
  Scopes at_cap = scopes_with({{"x", txt("t")}, {"items", list(std::move(small))}});
  auto refused = build_request_group(j.judges(), std::nullopt, at_cap, test_profile(64));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message,
            "the request group [\"first\", \"many\", \"last\"] expands to 66 questions, over the 64 per request "
            "allowed by `zem-test`, and no `each` in it is over the cap on its own; ask fewer questions together");
}

TEST(BuildRequestGroup, EachOverAnEmptyListAsksNothing) {
  CompiledJudgment j(judgment_program("items", "  all = each items feels \"fine\"\n"));
  Scopes scopes = scopes_with({{"items", list({})}});
  auto plan = build_request_group(j.judges(), std::vector<std::string>{"items"}, scopes, test_profile());
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_TRUE(plan->groups.empty());
  ASSERT_EQ(plan->specs.size(), 1u);
  EXPECT_EQ(plan->specs[0].question_count, 0u);
  EXPECT_TRUE(plan->specs[0].each);
}

TEST(BuildRequestGroup, StateParametersAreSentWholeAndSubjectsMergeIntoThem) {
  CompiledJudgment j(judgment_program("ticket, items, owner", kToneAndGrades));
  Record bindings = ticket_and_items();
  bindings.erase("items");
  bindings.emplace("items", list({txt("a"), txt("b")}));
  Scopes scopes = scopes_with(std::move(bindings));  // `owner` is not bound: it is sent as null
  auto plan = build_request_group(j.judges(), j.params(), scopes, test_profile());
  ASSERT_TRUE(plan.ok()) << plan.error();
  ASSERT_EQ(plan->groups.size(), 1u);
  EXPECT_EQ(state_text(plan->groups[0]), R"({"items":["a","b"],"owner":null,"ticket":{"body":"Server down","id":7}})");
}

TEST(BuildRequestGroup, LabelsDetailsAndCompareEntries) {
  CompiledJudgment j(judgment_program("ticket, items", R"(  kind = ticket pick:
    focus "the title"
    compare ["items[0]", "ticket.body"]
    sample true
    bug "a defect"
    feature:
      what "a wish"
      not_for "bugs"
      examples ["dark mode", 3]
    other
  sure = ticket.body feels "certain":
    note "be strict"
    yes ["x", 2]
    no ["y"]
  plain = ticket feels "plain":
    sample false
)"));
  Scopes scopes = scopes_with(ticket_and_items());
  auto plan = build_request_group(j.judges(), std::nullopt, scopes, test_profile());
  ASSERT_TRUE(plan.ok()) << plan.error();
  ASSERT_EQ(plan->groups.size(), 1u);
  const RequestGroup& group = plan->groups[0];
  EXPECT_EQ(compact(group.questions),
            (std::vector<std::string>{
                R"({"type":"choice","id":"kind","path":"ticket","labels":[{"name":"bug","description":"a defect"},)"
                R"({"name":"feature","what":"a wish","not_for":"bugs","examples":["dark mode","3"]},{"name":"other"}],)"
                R"("instruction":{"focus":"the title","compare":["items[0]","ticket.body"]}})",
                R"({"type":"noul","id":"sure","path":"ticket.body","condition":"certain",)"
                R"("instruction":{"note":"be strict","yes":["x","2"],"no":["y"]}})",
                // A detail block that sets no text attaches no instruction.
                R"({"type":"noul","id":"plain","path":"ticket","condition":"plain"})",
            }));
  // The compared places join the state beside the subjects.
  EXPECT_EQ(state_text(group), R"({"items":["a"],"ticket":{"body":"Server down","id":7}})");
  ASSERT_EQ(plan->specs.size(), 3u);
  EXPECT_EQ(plan->specs[0].kind, (AnswerKind{AnswerKind::Choice{{"bug", "feature", "other"}}}));
  EXPECT_TRUE(plan->specs[0].sample);
  EXPECT_FALSE(plan->specs[1].sample);
  EXPECT_FALSE(plan->specs[2].sample);
}

TEST(BuildRequestGroup, RateLevelNamesCountOnlyWhenEveryLevelHasOne) {
  CompiledJudgment j(judgment_program("a", R"(  named = a rate:
    calm "writes patiently"
    angry "is hostile"
  mixed = a rate:
    calm "writes patiently"
    "is losing patience"
)"));
  Scopes scopes = scopes_with({{"a", txt("hello")}});
  auto plan = build_request_group(j.judges(), std::nullopt, scopes, test_profile());
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_EQ(plan->specs[0].kind, (AnswerKind{AnswerKind::Level{{"calm", "angry"}, 2}}));
  EXPECT_EQ(plan->specs[1].kind, (AnswerKind{AnswerKind::Level{{}, 2}}));
  EXPECT_EQ(compact(plan->groups[0].questions[1]),
            R"({"type":"score","id":"mixed","path":"a","levels":[{"name":"calm","situation":"writes patiently"},)"
            R"({"situation":"is losing patience"}]})");
}

TEST(BuildRequestGroup, PickAmongOffersEachElementAsALabel) {
  CompiledJudgment j(judgment_program("replies", R"(  best = replies pick among "which reply answers":
    by body
    none
  first = replies pick among "which came first"
)"));
  const Value one = rec({{"body", txt("try again")}, {"n", num(1)}});
  const Value two = rec({{"body", txt("fixed it")}, {"n", num(2)}});
  Scopes scopes = scopes_with({{"replies", list({one, two})}});
  // Two elements and `none` under a cap of two options: `none` is not counted.
  auto plan = build_request_group(j.judges(), std::nullopt, scopes, test_profile(64, 2));
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_EQ(compact(plan->groups[0].questions),
            (std::vector<std::string>{
                R"({"type":"choice","id":"best","path":"replies","question":"which reply answers","labels":[)"
                R"({"name":"i0","description":"try again"},{"name":"i1","description":"fixed it"},{"name":"none"}]})",
                R"({"type":"choice","id":"first","path":"replies","question":"which came first","labels":[)"
                R"({"name":"i0","description":"{\"body\":\"try again\",\"n\":1}"},)"
                R"({"name":"i1","description":"{\"body\":\"fixed it\",\"n\":2}"}]})",
            }));
  EXPECT_EQ(plan->specs[0].kind, (AnswerKind{AnswerKind::PickAmong{{"i0", "i1", "none"}, {one, two}}}));
  EXPECT_EQ(plan->specs[0].question_count, 1u);
  EXPECT_EQ(plan->specs[1].kind, (AnswerKind{AnswerKind::PickAmong{{"i0", "i1"}, {one, two}}}));
}

TEST(BuildRequestGroup, PickAmongMarkedEachIsATypeError) {
  // The checker refuses it; a program read from elsewhere may still carry it.
  CompiledJudgment j(judgment_program("replies", "  best = replies pick among \"which\"\n"));
  ir::Judge judge = j.judgment->results[0].question;
  judge.each = true;
  Scopes scopes = scopes_with({{"replies", list({txt("a"), txt("b")})}});
  auto refused = build_request_group({NamedJudge{"best", &judge}}, std::nullopt, scopes, test_profile());
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, RuntimeErrorCode::TypeError);
  EXPECT_EQ(refused.error().message, "`each` cannot be combined with `pick among` (spec section 6.4a)");
  EXPECT_EQ(refused.error().span, judge.span);
}

struct GroupFailureCase {
  const char* name;
  std::string results;  // the judgment's result lines, over the parameters `a` and `i`
  Record bindings;
  RuntimeErrorCode code;
  std::string message;
  Profile profile = test_profile();
};

TEST(BuildRequestGroup, Failures) {
  const std::string at_index = "  r = a[i] feels \"odd\"\n";
  const std::string on_body = "  r = a.body feels \"odd\"\n";
  const std::string among_by = "  r = a pick among \"which\":\n    by body\n";
  const List three = {txt("x"), txt("y"), txt("z")};
  const RuntimeErrorCode type = RuntimeErrorCode::TypeError;
  const std::vector<GroupFailureCase> cases = {
      {"unknown subject", on_body, {}, type, "unknown subject `a`"},
      {"field of a text", on_body, {{"a", txt("t")}}, type, "expected a record for `.body`, got text"},
      {"missing field", on_body, {{"a", rec({})}}, type, "subject `a` has no field `body`"},
      {"index into a record", at_index, {{"a", rec({})}, {"i", num(0)}}, type, "expected a list to index, got record"},
      {"index past the end", at_index, {{"a", list(three)}, {"i", num(3)}}, type,
       "index 3 is out of range for subject `a`"},
      {"fractional index", at_index, {{"a", list(three)}, {"i", num(1.5)}}, type,
       "expected a whole non-negative index, got number"},
      {"negative index", at_index, {{"a", list(three)}, {"i", num(-1)}}, type,
       "expected a whole non-negative index, got number"},
      {"infinite index", at_index, {{"a", list(three)}, {"i", num(INFINITY)}}, type,
       "expected a whole non-negative index, got number"},
      {"index as a text", at_index, {{"a", list(three)}, {"i", txt("0")}}, type,
       "expected a whole non-negative index, got text"},
      {"an index past every integer saturates", at_index, {{"a", list(three)}, {"i", num(1e30)}}, type,
       "index 18446744073709551615 is out of range for subject `a`"},
      {"each over a text", "  r = each a feels \"odd\"\n", {{"a", txt("t")}}, type,
       "expected a list for `each`, got text"},
      {"pick among a record", "  r = a pick among \"which\"\n", {{"a", rec({})}}, type,
       "expected a list for `pick among`, got record"},
      {"pick among nothing", "  r = a pick among \"which\"\n", {{"a", list({})}}, type,
       "`pick among` needs at least one element"},
      {"pick among by, over texts", among_by, {{"a", list(three)}}, type,
       "expected a record with field `body` for `pick among ... by`, got text"},
      {"pick among by, a record without the field", among_by,
       {{"a", list({rec({{"body", txt("b")}}), rec({{"title", txt("t")}})})}}, type,
       "`pick among` element 1 has no field `body`"},
      {"pick over the option cap", "  r = a pick:\n    x \"one\"\n    y \"two\"\n    other\n", {{"a", txt("t")}},
       RuntimeErrorCode::PickTooMany,
       "a `pick` has 3 options, over the 2 allowed by `zem-test`; filter and rank in code first",
       test_profile(64, 2)},
      {"pick among over the option cap", "  r = a pick among \"which\"\n", {{"a", list(three)}},
       RuntimeErrorCode::PickTooMany,
       "a `pick among` list has 3 options, over the 2 allowed by `zem-test`; filter and rank in code first",
       test_profile(64, 2)},
      {"compare text that is no state path", "  r = a pick:\n    compare [\"a[]\"]\n    x \"one\"\n    other\n",
       {{"a", list(three)}}, type, "`a[]` is not a state path"},
      {"compare of an unknown root", "  r = a pick:\n    compare [\"nope\"]\n    x \"one\"\n    other\n",
       {{"a", txt("t")}}, type, "unknown subject `nope`"},
      {"an effect inside a question", "  r = a feels \"at {now()}\"\n", {{"a", txt("t")}}, type,
       "`now()` is not allowed inside a question"},
  };
  for (const GroupFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    CompiledJudgment j(judgment_program("a, i", c.results));
    Scopes scopes = scopes_with(c.bindings);
    auto plan = build_request_group(j.judges(), std::nullopt, scopes, c.profile);
    ASSERT_FALSE(plan.ok());
    EXPECT_EQ(plan.error().code, c.code);
    EXPECT_EQ(plan.error().message, c.message);
    EXPECT_FALSE(plan.error().retryable);
    EXPECT_FALSE(plan.error().span.is_zero());
  }
}

TEST(BuildRequestGroup, EveryRequestMustFitTheProfilesSizeLimits) {
  CompiledJudgment j(judgment_program("a", "  r = a feels \"long\"\n"));
  Scopes scopes = scopes_with({{"a", txt(std::string(400, 'x'))}});
  Profile small = test_profile();
  small.total_tokens = 50;
  auto plan = build_request_group(j.judges(), std::nullopt, scopes, small);
  ASSERT_FALSE(plan.ok());
  EXPECT_EQ(plan.error().code, RuntimeErrorCode::StateTooLarge);
  EXPECT_EQ(plan.error().message.rfind("the state plus all questions is ", 0), 0u) << plan.error().message;
  EXPECT_NE(plan.error().message.find("the largest subject is `a` (101 tokens)"), std::string::npos)
      << plan.error().message;
}

TEST(BuildRequestGroup, IndexStepsTakeProbsAndResolveFromTheScopes) {
  CompiledJudgment j(judgment_program("a, i", "  r = a[i].title feels \"odd\"\n"));
  Scopes scopes = scopes_with({{"a", list({rec({{"title", txt("zero")}}), rec({{"title", txt("one")}})})},
                               {"i", Value::prob(1)}});
  auto plan = build_request_group(j.judges(), std::nullopt, scopes, test_profile());
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_EQ(plan->groups[0].questions[0].path(), "a[1].title");
  EXPECT_EQ(state_text(plan->groups[0]), R"({"a":[null,{"title":"one"}]})");
}

struct PathCase {
  const char* text;
  std::optional<std::pair<std::string, std::vector<ResolvedStep>>> parsed;  // none: refused
};

TEST(ParseStatePath, NamesFieldsAndIndexes) {
  using S = ResolvedStep;
  const uint64_t top = std::numeric_limits<uint64_t>::max();
  const std::vector<PathCase> cases = {
      {"items", std::make_pair("items", std::vector<S>{})},
      {"a.b_2[3].C", std::make_pair("a", std::vector<S>{S::field("b_2"), S::index(3), S::field("C")})},
      {"items[0", std::make_pair("items", std::vector<S>{S::index(0)})},
      {"items[+7]", std::make_pair("items", std::vector<S>{S::index(7)})},
      {"x[18446744073709551615]", std::make_pair("x", std::vector<S>{S::index(top)})},
      {"x[18446744073709551616]", std::nullopt},
      {"items[]", std::nullopt},
      {"items[+]", std::nullopt},
      {"items[-1]", std::nullopt},
      {"items[1x]", std::nullopt},
      {"items.x-y", std::nullopt},
      {"a..b", std::nullopt},
      {".a", std::nullopt},
      {"", std::nullopt},
      {"a b", std::nullopt},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parse_state_path(c.text);
    if (!c.parsed) {
      ASSERT_FALSE(parsed.ok());
      EXPECT_EQ(parsed.error().code, RuntimeErrorCode::TypeError);
      EXPECT_EQ(parsed.error().message, "`" + std::string(c.text) + "` is not a state path");
      continue;
    }
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(*parsed, *c.parsed);
  }
}

TEST(QuestionTexts, OptionalTextsAndTextLists) {
  namespace b = ir::build;
  runtime::QuestionHost host;
  const auto tokenizer = TokenizerKind::chars4().tokenizer();
  EvalContext context{host, *tokenizer};
  Scopes scopes;

  EXPECT_EQ(*eval_optional_text(context, std::nullopt, scopes), std::nullopt);
  // A none value is still a text: its empty text form.
  EXPECT_EQ(*eval_optional_text(context, b::none(), scopes), std::optional<std::string>(""));
  EXPECT_EQ(*eval_optional_text(context, b::num(2.5), scopes), std::optional<std::string>("2.5"));

  struct ListCase {
    const char* name;
    std::optional<ir::Expr> expr;
    std::vector<std::string> texts;
  };
  const std::vector<ListCase> cases = {
      {"absent", std::nullopt, {}},
      {"none", b::none(), {}},
      {"a list, element by element", b::list({b::text("a"), b::num(2), b::boolean(true), b::list({b::num(1)})}),
       {"a", "2", "true", "[1]"}},
      {"an empty list", b::list({}), {}},
      {"any other value as one text", b::num(3), {"3"}},
  };
  for (const ListCase& c : cases) {
    auto texts = eval_text_list(context, c.expr, scopes);
    ASSERT_TRUE(texts.ok()) << c.name;
    EXPECT_EQ(*texts, c.texts) << c.name;
  }
  auto refused = eval_text_list(context, b::call(b::name("random")), scopes);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "`random()` is not allowed inside a question");
}

}  // namespace
}  // namespace dravelin::zem
