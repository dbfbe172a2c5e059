#include "lsp/core/uri.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace dravelin::lsp {
namespace {

struct UriCase {
  const char* name;
  std::string uri;
  std::optional<std::string> path;
};
// Cases show their names in test listings, not their bytes.
void PrintTo(const UriCase& c, std::ostream* os) { *os << c.name; }

class UriToPath : public testing::TestWithParam<UriCase> {};

TEST_P(UriToPath, Decodes) {
  std::optional<std::filesystem::path> path = uri_to_path(GetParam().uri);
  ASSERT_EQ(path.has_value(), GetParam().path.has_value()) << GetParam().uri;
  if (path) {
    EXPECT_EQ(path->native(), *GetParam().path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UriToPath,
    testing::Values(UriCase{"EscapedSpace", "file:///tmp/a%20b.zem", "/tmp/a b.zem"},
                    UriCase{"Localhost", "file://localhost/tmp/x.zem", "/tmp/x.zem"},
                    UriCase{"OtherAuthority", "file://server/x.zem", std::nullopt},
                    UriCase{"NotAFile", "untitled:1", std::nullopt},
                    UriCase{"BadEscape", "file:///bad%zz", std::nullopt},
                    UriCase{"TruncatedEscape", "file:///bad%4", std::nullopt},
                    UriCase{"QueryAndFragmentDropped", "file:///x.zem?q#f", "/x.zem"},
                    UriCase{"PlusStays", "file:///a+b.zem", "/a+b.zem"},
                    UriCase{"LowercaseHex", "file:///%c3%a9.zem", "/\xC3\xA9.zem"},
                    UriCase{"NotUtf8", "file:///%ff.zem", std::nullopt},
                    UriCase{"NulNamesNoFile", "file:///tmp/a%00.zem", std::nullopt},
                    UriCase{"AuthorityWithoutPath", "file://localhost", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PathToUri, EscapesEveryByteOutsideTheSafeSet) {
  EXPECT_EQ(path_to_uri("/tmp/a b.zem"), "file:///tmp/a%20b.zem");
  EXPECT_EQ(path_to_uri("/tmp/\xC3\xA9.zem"), "file:///tmp/%C3%A9.zem");
  EXPECT_EQ(path_to_uri("rel/x-y_z~.zem"), "file:///rel/x-y_z~.zem");
}

TEST(PathToUri, RoundTripsThroughUriToPath) {
  for (std::string path : {"/tmp/a b/c#d?.zem", "/x/100%.zem", "/\xE6\xBC\xA2/\xF0\x9F\x98\x80.zem"})
    EXPECT_EQ(uri_to_path(path_to_uri(path))->native(), path);
}

TEST(IsUri, NeedsASchemeAndNoWhiteSpace) {
  EXPECT_TRUE(is_uri("file:///x.zem"));
  EXPECT_TRUE(is_uri("https://dravelin.dev/docs/error-reference#use_cycle"));
  EXPECT_TRUE(is_uri(kPreludeUri));
  EXPECT_FALSE(is_uri("not a uri#syntax"));
  EXPECT_FALSE(is_uri("/just/a/path"));
  EXPECT_FALSE(is_uri("1abc:x"));
  EXPECT_FALSE(is_uri(""));
}

}  // namespace
}  // namespace dravelin::lsp
