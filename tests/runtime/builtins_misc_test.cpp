// Built-ins that reach the host, the tokenizer or libcrypto: now, random, tokens, hash; and bool.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "builtins_test_support.h"

namespace dravelin::runtime::testing {
namespace {

using MiscBuiltins = BuiltinsTest;

TEST_F(MiscBuiltins, HashIsLowercaseSha256OfTheTextForm) {
  const ResultCase cases[] = {
      {"hash", args({txt("abc")}), txt("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")},
      {"hash", args({txt("")}), txt("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")},
      {"hash", args({Value::none()}), txt("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")},
  };
  for (const ResultCase& c : cases) expect_result(c);

  // A value hashes its text form, so equal lists hash equally and a number hashes like its digits.
  EXPECT_EQ(call("hash", args({list({num(1), txt("a")})})).value(), call("hash", args({txt("[1,\"a\"]")})).value());
  EXPECT_EQ(call("hash", args({num(3)})).value(), call("hash", args({txt("3")})).value());
  EXPECT_NE(call("hash", args({num(3)})).value(), call("hash", args({num(4)})).value());
}

TEST_F(MiscBuiltins, BoolAppliesTruthiness) {
  Choice choice;
  choice.label = "no";
  const ResultCase cases[] = {
      {"bool", args({txt("")}), boolean(false)},
      {"bool", args({txt("0")}), boolean(true)},
      {"bool", args({Value::choice(choice)}), boolean(true)},
      {"bool", args({num(0)}), boolean(false)},
      {"bool", args({num(-0.0)}), boolean(false)},
      {"bool", args({num(std::nan(""))}), boolean(true)},
      {"bool", args({prob(0)}), boolean(false)},
      {"bool", args({rec({})}), boolean(false)},
      {"bool", args({list({num(0)})}), boolean(true)},
      {"bool", args({Value::none()}), boolean(false)},
  };
  for (const ResultCase& c : cases) expect_result(c);
}

TEST_F(MiscBuiltins, TokensCountsTheTextFormWithTheContextTokenizer) {
  const ResultCase cases[] = {
      {"tokens", args({txt("abcde")}), num(2)},
      {"tokens", args({txt("")}), num(0)},
      {"tokens", args({list({num(1), num(2)})}), num(2)},  // "[1,2]"
      {"tokens", named({{"x", num(123456789)}}), num(3)},
  };
  for (const ResultCase& c : cases) expect_result(c);

  // The same call through another profile's tokenizer counts differently.
  auto bpe = TokenizerKind::bpe(BpeEncoding::Cl100kBase).tokenizer();
  EvalContext context{host, *bpe};
  ValueResult counted = call_builtin(context, "tokens", args({txt("hello world")}));
  ASSERT_TRUE(counted.ok()) << counted.error();
  EXPECT_EQ(counted.value(), num(2));
}

TEST_F(MiscBuiltins, NowAndRandomAskTheHost) {
  host.queue(txt("2024-05-01T12:00:00.000Z")).queue(num(0.25));
  ValueResult now = call("now", args({}));
  ASSERT_TRUE(now.ok()) << now.error();
  EXPECT_EQ(now.value(), txt("2024-05-01T12:00:00.000Z"));
  ValueResult random = call("random", args({num(1)}, {{"seed", num(2)}}));
  ASSERT_TRUE(random.ok()) << random.error();
  EXPECT_EQ(random.value(), num(0.25));

  ASSERT_EQ(host.calls().size(), 2u);
  EXPECT_EQ(host.calls()[0].op, HostOp::Now);
  EXPECT_EQ(host.calls()[1].op, HostOp::Random);
}

TEST_F(MiscBuiltins, HostFailuresPassThroughUnchanged) {
  syntax::Span span;
  span.start = {3, 4, 20};
  span.end = {3, 9, 25};
  const RuntimeError unavailable =
      make_runtime_error(RuntimeErrorCode::ReplayDiverged, "event 7 is not a clock reading", true, span);
  const RuntimeError refused = make_runtime_error(RuntimeErrorCode::TypeError, "`random()` is not allowed inside a question");
  host.queue_error(unavailable).queue_error(refused);

  ValueResult now = call("now", args({}));
  ASSERT_FALSE(now.ok());
  EXPECT_EQ(now.error(), unavailable);
  ValueResult random = call("random", args({}));
  ASSERT_FALSE(random.ok());
  EXPECT_EQ(random.error(), refused);
}

}  // namespace
}  // namespace dravelin::runtime::testing
