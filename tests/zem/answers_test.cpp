#include "zem/answers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace dravelin::zem {
namespace {

using runtime::List;

// A random source that hands out queued numbers and counts what it was asked.
struct Draws {
  std::deque<double> queued;
  int asked = 0;

  RandomSource source() {
    return [this]() -> Result<double, RuntimeError> {
      ++asked;
      if (queued.empty()) {
        return err(runtime::make_runtime_error(RuntimeErrorCode::ReplayDiverged, "no draw left"));
      }
      const double x = queued.front();
      queued.pop_front();
      return x;
    };
  }
};

AnswerSpec spec(std::string name, AnswerKind::Prob) {
  return AnswerSpec{std::move(name), false, 1, {AnswerKind::Prob{}}, false};
}
AnswerSpec spec(std::string name, AnswerKind kind, bool sample = false) {
  return AnswerSpec{std::move(name), false, 1, std::move(kind), sample};
}
AnswerSpec each_spec(std::string name, size_t count, AnswerKind kind) {
  return AnswerSpec{std::move(name), true, count, std::move(kind), false};
}

ZemAnswer noul(std::string id, double prob) { return ZemAnswer::Noul{std::move(id), prob}; }
ZemAnswer choice(std::string id, std::string label, Probabilities probabilities = {}, double confidence = 0.9) {
  return ZemAnswer::Choice{std::move(id), std::move(label), confidence, std::move(probabilities)};
}
ZemAnswer score(std::string id, uint32_t level, double value, Probabilities probabilities = {}) {
  return ZemAnswer::Score{std::move(id), level, value, 0.8, std::move(probabilities)};
}

runtime::Choice choice_value(std::string label, Probabilities probabilities = {}, double confidence = 0.9) {
  runtime::Choice c;
  c.label = std::move(label);
  c.confidence = confidence;
  c.probabilities = runtime::ProbabilityMap(probabilities.begin(), probabilities.end());
  return c;
}

struct SampleCase {
  const char* name;
  std::vector<std::string> labels;
  Probabilities probabilities;
  double x;
  std::string chosen;
};

TEST(SampleLabel, WalksTheLabelsByTheirShareOfTheWeight) {
  const std::vector<std::string> ab = {"a", "b"};
  const Probabilities weighted = {{"a", 0.2}, {"b", 0.8}};
  const std::vector<SampleCase> cases = {
      {"below the first share", ab, weighted, 0.1, "a"},
      {"the running sum must exceed x", ab, weighted, 0.2, "b"},
      {"near the top", ab, weighted, 0.99, "b"},
      {"no labels", {}, weighted, 0.5, ""},
      {"no probabilities", ab, {}, 0.9, "a"},
      {"no positive weight", ab, {{"a", 0.0}, {"b", -1.0}}, 0.5, "a"},
      {"a NaN weighs nothing", ab, {{"a", NAN}, {"b", 0.5}}, 0.1, "b"},
      {"a label missing from the map weighs nothing", {"a", "b", "c"}, {{"a", 1.0}, {"c", 1.0}}, 0.6, "c"},
      {"weights need not sum to one", ab, {{"a", 2.0}, {"b", 6.0}}, 0.24, "a"},
      {"rounding short of x falls to the last label", ab, weighted, 1.0, "b"},
  };
  for (const SampleCase& c : cases) {
    EXPECT_EQ(sample_label(c.labels, c.probabilities, c.x), c.chosen) << c.name;
  }
}

TEST(AnswersToValues, WithoutSamplingTheAnswersOwnLabelsAndLevelsAreKept) {
  const Probabilities pq = {{"bug", 0.7}, {"other", 0.3}};
  const std::vector<AnswerSpec> specs = {
      spec("tone", AnswerKind::Prob{}),
      spec("kind", AnswerKind{AnswerKind::Choice{{"bug", "other"}}}),
      spec("mood", AnswerKind{AnswerKind::Level{{"calm", "tense", "angry"}, 3}}),
      each_spec("grades", 2, AnswerKind{AnswerKind::Level{{}, 5}}),
      spec("single", AnswerKind{AnswerKind::Level{{}, 1}}),
  };
  const std::vector<ZemAnswer> answers = {
      noul("tone", 0.25),
      choice("kind", "bug", pq),
      score("mood", 1, 1.4, {{"tense", 0.6}}),
      score("grades[0]", 2, 2.0),
      score("grades[1]", 4, 3.0),
      score("single", 0, 0.0),
  };
  Draws draws;
  auto values = answers_to_values(specs, answers, false, draws.source());
  ASSERT_TRUE(values.ok()) << values.error();
  EXPECT_EQ(draws.asked, 0);
  EXPECT_FALSE(values->sampled);

  const runtime::Record& v = values->values;
  EXPECT_EQ(v.at("tone"), Value::prob(0.25));
  EXPECT_EQ(v.at("kind"), Value::choice(choice_value("bug", pq)));

  runtime::Level mood;
  mood.level = 1;
  mood.score = 1.4;
  mood.normalized = 0.7;
  mood.confidence = 0.8;
  mood.probabilities = {{"tense", 0.6}};
  mood.names = {"calm", "tense", "angry"};
  EXPECT_EQ(v.at("mood"), Value::level(mood));

  // Over five levels a score of 2 is half way; the level is the answer's, not derived from the score.
  const List& grades = v.at("grades").as_list();
  ASSERT_EQ(grades.size(), 2u);
  EXPECT_EQ(grades[0].as_level().level, 2u);
  EXPECT_EQ(grades[0].as_level().normalized, 0.5);
  EXPECT_EQ(grades[1].as_level().level, 4u);
  EXPECT_EQ(grades[1].as_level().normalized, 0.75);
  EXPECT_TRUE(grades[0].as_level().names.empty());
  // A single level has nothing to be normalised against.
  EXPECT_EQ(v.at("single").as_level().normalized, 0.0);
}

TEST(AnswersToValues, SamplingDrawsOncePerChoiceOrLevelInPlanOrder) {
  const std::vector<AnswerSpec> specs = {
      spec("tone", AnswerKind::Prob{}),
      spec("kind", AnswerKind{AnswerKind::Choice{{"a", "b"}}}),
      each_spec("grades", 2, AnswerKind{AnswerKind::Level{{}, 4}}),
  };
  const std::vector<ZemAnswer> answers = {
      noul("tone", 0.9),
      choice("kind", "a", {{"a", 0.2}, {"b", 0.8}}),
      // Unnamed levels are sampled over "0" to "3" and the level becomes the drawn position.
      score("grades[0]", 0, 0.0, {{"0", 0.5}, {"3", 0.5}}),
      score("grades[1]", 3, 3.0, {{"1", 1.0}}),
  };
  Draws draws{{0.5, 0.75, 0.0}};
  auto values = answers_to_values(specs, answers, true, draws.source());
  ASSERT_TRUE(values.ok()) << values.error();
  EXPECT_EQ(draws.asked, 3);  // the `feels` answer is never sampled
  EXPECT_TRUE(values->sampled);
  EXPECT_EQ(values->values.at("tone"), Value::prob(0.9));
  EXPECT_EQ(values->values.at("kind").as_choice().label, "b");
  const List& grades = values->values.at("grades").as_list();
  EXPECT_EQ(grades[0].as_level().level, 3u);
  // The score stays the answer's own, and so does the normalised score.
  EXPECT_EQ(grades[0].as_level().score, 0.0);
  EXPECT_EQ(grades[0].as_level().normalized, 0.0);
  EXPECT_EQ(grades[1].as_level().level, 1u);
  EXPECT_TRUE(grades[1].as_level().names.empty());
}

TEST(AnswersToValues, AJudgmentsOwnSampleFlagSamplesOnlyItsChoicesAndLevels) {
  const std::vector<AnswerSpec> specs = {
      spec("tone", AnswerKind{AnswerKind::Prob{}}, true),
      spec("kind", AnswerKind{AnswerKind::Choice{{"a", "b"}}}),
      spec("pinned", AnswerKind{AnswerKind::Choice{{"a", "b"}}}, true),
  };
  const std::vector<ZemAnswer> answers = {
      noul("tone", 0.4),
      choice("kind", "a", {{"b", 1.0}}),
      choice("pinned", "a", {{"b", 1.0}}),
  };
  Draws draws{{0.3}};
  auto values = answers_to_values(specs, answers, false, draws.source());
  ASSERT_TRUE(values.ok()) << values.error();
  EXPECT_EQ(draws.asked, 1);
  EXPECT_TRUE(values->sampled);
  EXPECT_EQ(values->values.at("kind").as_choice().label, "a");
  EXPECT_EQ(values->values.at("pinned").as_choice().label, "b");

  // `feels` with `sample` draws nothing and samples nothing.
  Draws none;
  auto prob_only = answers_to_values({specs[0]}, {answers[0]}, true, none.source());
  ASSERT_TRUE(prob_only.ok());
  EXPECT_EQ(none.asked, 0);
  EXPECT_FALSE(prob_only->sampled);
}

struct PickCase {
  const char* label;
  std::optional<uint32_t> index;  // none: no index and no item
};

TEST(AnswersToValues, PickAmongLabelsNameTheChosenItem) {
  const List items = {Value::text("zero"), Value::text("one"), Value::text("two")};
  const AnswerSpec among = spec("best", AnswerKind{AnswerKind::PickAmong{{"i0", "i1", "i2", "none"}, items}});
  const std::vector<PickCase> cases = {
      {"i0", 0},
      {"i2", 2},
      {"i+1", 1},
      {"i01", 1},
      {"i3", std::nullopt},  // past the last item: the label stays, nothing is chosen
      {"none", std::nullopt},
      {"i", std::nullopt},
      {"i-1", std::nullopt},
      {"i1x", std::nullopt},
      {"I1", std::nullopt},
      {"i99999999999999999999999", std::nullopt},
  };
  for (const PickCase& c : cases) {
    SCOPED_TRACE(c.label);
    Draws draws;
    auto values = answers_to_values({among}, {choice("best", c.label)}, false, draws.source());
    ASSERT_TRUE(values.ok()) << values.error();
    const runtime::Choice& chosen = values->values.at("best").as_choice();
    EXPECT_EQ(chosen.label, c.label);
    EXPECT_EQ(chosen.index, c.index);
    if (c.index) {
      ASSERT_TRUE(chosen.item.has_value());
      EXPECT_EQ(*chosen.item, items[*c.index]);
    } else {
      EXPECT_FALSE(chosen.item.has_value());
    }
  }

  // Sampled over the labels the plan offered.
  Draws draws{{0.9}};
  auto sampled = answers_to_values({among}, {choice("best", "i0", {{"i0", 0.5}, {"i2", 0.5}})}, true, draws.source());
  ASSERT_TRUE(sampled.ok());
  EXPECT_EQ(sampled->values.at("best").as_choice().index, std::optional<uint32_t>(2));
  EXPECT_TRUE(sampled->sampled);
}

TEST(AnswersToValues, AnswersAreMatchedById) {
  const std::vector<AnswerSpec> specs = {
      each_spec("v", 2, AnswerKind{AnswerKind::Prob{}}),
      each_spec("empty", 0, AnswerKind{AnswerKind::Prob{}}),
  };
  // Order does not matter, the later of two answers to one id counts, and strangers are ignored.
  const std::vector<ZemAnswer> answers = {noul("v[1]", 0.1), noul("stranger", 1.0), noul("v[0]", 0.2),
                                          noul("v[1]", 0.3)};
  Draws draws;
  auto values = answers_to_values(specs, answers, false, draws.source());
  ASSERT_TRUE(values.ok()) << values.error();
  EXPECT_EQ(values->values.at("v"), Value::list({Value::prob(0.2), Value::prob(0.3)}));
  EXPECT_EQ(values->values.at("empty"), Value::list({}));
  EXPECT_EQ(values->values.size(), 2u);

  // Two specs of one name: the later result replaces the earlier.
  auto twice = answers_to_values({each_spec("a", 0, AnswerKind{AnswerKind::Prob{}}), spec("a", AnswerKind::Prob{})},
                                 {noul("a", 0.6)}, false, draws.source());
  ASSERT_TRUE(twice.ok()) << twice.error();
  EXPECT_EQ(twice->values.at("a"), Value::prob(0.6));
}

struct FailureCase {
  const char* name;
  std::vector<AnswerSpec> specs;
  std::vector<ZemAnswer> answers;
  std::string message;
};

TEST(AnswersToValues, MissingAndMismatchedAnswersAreRejected) {
  const std::vector<FailureCase> cases = {
      {"a missing element of an each", {each_spec("v", 3, AnswerKind{AnswerKind::Prob{}})},
       {noul("v[0]", 0.1), noul("v[2]", 0.1)}, "no answer for question `v[1]`"},
      {"no answer at all", {spec("tone", AnswerKind::Prob{})}, {}, "no answer for question `tone`"},
      {"a choice for a feels", {spec("tone", AnswerKind::Prob{})}, {choice("tone", "yes")},
       "question `tone` expected a noul answer"},
      {"a score for a pick", {spec("kind", AnswerKind{AnswerKind::Choice{{"a"}}})}, {score("kind", 0, 0)},
       "question `kind` expected a choice answer"},
      {"a noul for a pick among", {spec("best", AnswerKind{AnswerKind::PickAmong{{"i0"}, {Value::none()}}})},
       {noul("best", 0.5)}, "question `best` expected a choice answer"},
      {"a choice for a rate", {spec("mood", AnswerKind{AnswerKind::Level{{}, 2}})}, {choice("mood", "0")},
       "question `mood` expected a score answer"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    Draws draws;
    auto values = answers_to_values(c.specs, c.answers, false, draws.source());
    ASSERT_FALSE(values.ok());
    EXPECT_EQ(values.error().code, RuntimeErrorCode::ZemRejected);
    EXPECT_FALSE(values.error().retryable);
    EXPECT_EQ(values.error().message, c.message);
  }
}

TEST(AnswersToValues, AFailedDrawEndsTheConversionUnchanged) {
  Draws draws;  // nothing queued: the first draw fails
  auto values = answers_to_values({spec("kind", AnswerKind{AnswerKind::Choice{{"a"}}})}, {choice("kind", "a")}, true,
                                  draws.source());
  ASSERT_FALSE(values.ok());
  EXPECT_EQ(values.error(), runtime::make_runtime_error(RuntimeErrorCode::ReplayDiverged, "no draw left"));
}

TEST(AnswerIds, EachGetsOneIdPerElement) {
  EXPECT_EQ(answer_ids(spec("tone", AnswerKind::Prob{})), (std::vector<std::string>{"tone"}));
  EXPECT_EQ(answer_ids(each_spec("v", 3, AnswerKind{AnswerKind::Prob{}})),
            (std::vector<std::string>{"v[0]", "v[1]", "v[2]"}));
  EXPECT_TRUE(answer_ids(each_spec("v", 0, AnswerKind{AnswerKind::Prob{}})).empty());
}

}  // namespace
}  // namespace dravelin::zem
