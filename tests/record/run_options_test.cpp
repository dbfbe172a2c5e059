// The sampling setting: its three forms and the untagged reading of them.
#include "record/run_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "record_test_support.h"

namespace dravelin::record {
namespace {

using namespace test_support;

TEST(SampleForm, ReadsBackAsWritten) {
  struct Case {
    std::string json;
    Sample expected;
    bool sampling;
  };
  const std::vector<Case> cases = {
      {"false", Sample{false}, false},
      {"true", Sample{true}, true},
      {R"({"seed":0})", Sample{Sample::Seeded{0}}, true},
      {R"({"seed":18446744073709551615})", Sample{Sample::Seeded{18446744073709551615ull}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    auto read = Sample::read_json(parse(c.json));
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(*read, c.expected);
    EXPECT_EQ(read->sampling(), c.sampling);
    std::string text;
    json::Writer writer(text);
    read->write_json(writer);
    EXPECT_EQ(text, c.json);
    EXPECT_EQ(json::to_compact(read->to_json_value()), c.json);
  }
  auto with_note = Sample::read_json(parse(R"({"seed":7,"note":"x"})"));
  ASSERT_TRUE(with_note.ok());
  EXPECT_EQ(with_note->seed(), 7u);
  EXPECT_EQ(Sample{}.seed(), std::nullopt);
  EXPECT_FALSE(Sample{}.sampling());
}

TEST(SampleForm, Refusals) {
  for (const char* json : {R"({"seed":-1})", R"({"seed":1.5})", R"({"seed":"7"})", "{}", "[7]", "null", "1", R"("true")",
                           R"({"seed":1,"seed":2})"}) {
    auto read = Sample::read_json(parse(json));
    ASSERT_FALSE(read.ok()) << json;
    EXPECT_EQ(read.error(), "data did not match any variant of untagged enum Sample") << json;
  }
}

}  // namespace
}  // namespace dravelin::record
