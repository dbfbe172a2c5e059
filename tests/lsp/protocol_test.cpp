#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "json/reader.h"
#include "json/writer.h"
#include "lsp/protocol/read.h"
#include "lsp/protocol/write.h"
#include "lsp/server/options.h"

namespace dravelin::lsp {
namespace {

json::Value parse(const std::string& text) { return json::parse(text).value(); }

struct OptionsCase {
  const char* name;
  std::string json;
  Options expected;
};
// Cases show their names in test listings, not their bytes.
void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class InitializationOptions : public testing::TestWithParam<OptionsCase> {};

TEST_P(InitializationOptions, ReadWithDefaults) { EXPECT_EQ(read_options(parse(GetParam().json)), GetParam().expected); }

const Options kDefaults;

INSTANTIATE_TEST_SUITE_P(
    Cases, InitializationOptions,
    testing::Values(
        OptionsCase{"Absent", "null", kDefaults},
        OptionsCase{"Both", R"({"paths":["lib","/opt"],"errorReference":"https://x/ref","other":1})",
                    Options{{"lib", "/opt"}, "https://x/ref"}},
        OptionsCase{"NullReferenceIsTheDefault", R"({"paths":[],"errorReference":null})", kDefaults},
        OptionsCase{"PathsAsTextSpoilsBoth", R"({"paths":"lib","errorReference":"https://x"})", kDefaults},
        OptionsCase{"RepeatedKeySpoilsBoth", R"({"paths":["a"],"paths":["b"]})", kDefaults},
        OptionsCase{"ArrayInOrder", R"([["lib"],"https://x"])", Options{{"lib"}, "https://x"}},
        OptionsCase{"ShortArray", R"([["lib"]])", Options{{"lib"}, std::string(kDefaultErrorReference)}},
        OptionsCase{"LongArray", R"([["lib"],"https://x",3])", kDefaults},
        OptionsCase{"Number", "5", kDefaults}),
    [](const auto& info) { return std::string(info.param.name); });

struct ParamsCase {
  const char* name;
  std::string json;
  std::string error;
};
void PrintTo(const ParamsCase& c, std::ostream* os) { *os << c.name; }

class PositionParamsErrors : public testing::TestWithParam<ParamsCase> {};

TEST_P(PositionParamsErrors, NameTheFirstFault) {
  auto read = protocol::read_position_params(parse(GetParam().json), "HoverParams");
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionParamsErrors,
    testing::Values(
        ParamsCase{"NotAnObject", "[]", "invalid type: sequence, expected struct HoverParams"},
        ParamsCase{"NoPosition", R"({"textDocument":{"uri":"file:///a.zem"}})", "missing field `position`"},
        ParamsCase{"NoDocument", R"({"position":{"line":0,"character":0}})", "missing field `textDocument`"},
        ParamsCase{"NegativeLine", R"({"textDocument":{"uri":"file:///a"},"position":{"line":-1,"character":0}})",
                   "invalid value: integer `-1`, expected u32"},
        ParamsCase{"UriNotAUri", R"({"textDocument":{"uri":"a b"},"position":{"line":0,"character":0}})",
                   "invalid value: string \"a b\", expected a URI"},
        ParamsCase{"RepeatedMember",
                   R"({"textDocument":{"uri":"file:///a"},"position":{"line":0,"character":0},"position":{}})",
                   "duplicate field `position`"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InitializeParams, ReadsEncodingsFoldersRootAndOptions) {
  auto read = protocol::read_initialize_params(parse(
      R"({"processId":null,"rootUri":"file:///r","capabilities":{"general":{"positionEncodings":["utf-8"]}},
          "workspaceFolders":[{"uri":"file:///w","name":"w"}],"initializationOptions":{"paths":["lib"]}})"));
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read->position_encodings, (std::vector<std::string>{"utf-8"}));
  EXPECT_EQ(read->workspace_folders, (std::vector<std::string>{"file:///w"}));
  EXPECT_EQ(read->root_uri, "file:///r");
  EXPECT_TRUE(read->initialization_options.is_object());

  auto without_folders = protocol::read_initialize_params(parse(R"({"capabilities":{},"workspaceFolders":null})"));
  ASSERT_TRUE(without_folders.ok());
  EXPECT_FALSE(without_folders->workspace_folders);
  EXPECT_FALSE(protocol::read_initialize_params(parse(R"({"processId":1})")).ok());
  EXPECT_FALSE(protocol::read_initialize_params(parse(R"({"capabilities":{},"rootUri":5})")).ok());
}

TEST(DidChangeParams, ReadRangedAndWholeChanges) {
  auto read = protocol::read_did_change_params(parse(
      R"({"textDocument":{"uri":"file:///a","version":3},"contentChanges":[
          {"range":{"start":{"line":0,"character":1},"end":{"line":0,"character":2}},"rangeLength":1,"text":"x"},
          {"text":"all"}]})"));
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read->version, 3);
  ASSERT_EQ(read->changes.size(), 2u);
  EXPECT_EQ(read->changes[0].range, (Range{{0, 1}, {0, 2}}));
  EXPECT_FALSE(read->changes[1].range);
  EXPECT_EQ(read->changes[1].text, "all");
}

TEST(Writers, DiagnosticMembersInProtocolOrderAbsentOnesLeftOut) {
  LspDiagnostic d;
  d.range = Range{{1, 2}, {1, 4}};
  d.code = "syntax";
  d.message = "m";
  d.section = "13";
  EXPECT_EQ(json::to_compact(protocol::to_json(d)),
            R"({"range":{"start":{"line":1,"character":2},"end":{"line":1,"character":4}},"severity":1,)"
            R"("code":"syntax","source":"dravelin","message":"m","data":{"specSection":"13"}})");
  d.code_href = "https://x#syntax";
  d.related.push_back(RelatedInformation{Location{"file:///a", Range{}}, "r"});
  const std::string with_all = json::to_compact(protocol::to_json(d));
  EXPECT_NE(with_all.find(R"("code":"syntax","codeDescription":{"href":"https://x#syntax"},"source")"),
            std::string::npos);
  EXPECT_NE(with_all.find(R"("relatedInformation":[{"location":{"uri":"file:///a")"), std::string::npos);
}

TEST(Writers, PublishParamsCarryTheVersionOnlyWhenGiven) {
  EXPECT_EQ(json::to_compact(protocol::publish_diagnostics_params("file:///a", {}, std::nullopt)),
            R"({"uri":"file:///a","diagnostics":[]})");
  EXPECT_EQ(json::to_compact(protocol::publish_diagnostics_params("file:///a", {}, 4)),
            R"({"uri":"file:///a","diagnostics":[],"version":4})");
}

}  // namespace
}  // namespace dravelin::lsp
