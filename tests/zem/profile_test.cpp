#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "json/reader.h"
#include "zem/profile.h"

namespace dravelin::zem {
namespace {

using tokens::BpeEncoding;

namespace fs = std::filesystem;

constexpr const char* kEndpoint = "https://api.veltrane.com/v1/quorent";

// One profile entry as a profiles file holds it; `extra` is spliced in before the closing brace.
std::string entry(const std::string& model, const std::string& extra = "", int total_tokens = 1000) {
  return R"({"model":")" + model + R"(","endpoint":"https://example.test/)" + model + R"(","total_tokens":)" +
         std::to_string(total_tokens) + R"(,"state_plus_question_tokens":500,"max_questions_per_request":8,)"
         R"("max_criteria_per_question":16,"tokenizer":"tiktoken:cl100k_base",)"
         R"("price_per_million_input_usd":1.5,"price_per_million_output_usd":3)" +
         extra + "}";
}

// Profiles files in a scratch directory, with DRAVELIN_PROFILES cleared around each test.
class ProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* saved = std::getenv("DRAVELIN_PROFILES")) saved_ = saved;
    unsetenv("DRAVELIN_PROFILES");
    dir_ = fs::temp_directory_path() / ("profiles_test_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (saved_) {
      setenv("DRAVELIN_PROFILES", saved_->c_str(), 1);
    } else {
      unsetenv("DRAVELIN_PROFILES");
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string write_file(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  fs::path dir_;
  std::optional<std::string> saved_;
};

Profile bundled_entry() {
  Profile p;
  p.model = "zem-1.13.0";
  p.endpoint = kEndpoint;
  p.total_tokens = 64000;
  p.state_plus_question_tokens = 32000;
  p.max_questions_per_request = 64;
  p.max_criteria_per_question = 255;
  p.tokenizer = TokenizerKind::chars4();
  p.price_per_million_input_usd = 0.042;
  p.price_per_million_output_usd = 0.0;
  return p;
}

TEST_F(ProfilesTest, DefaultResolvesThroughTheBundledAlias) {
  auto latest = resolve_profile(std::nullopt, std::nullopt);
  ASSERT_TRUE(latest.ok()) << latest.error();
  EXPECT_EQ(*latest, bundled_entry());
  EXPECT_EQ(latest->model, "zem-1.13.0");

  auto direct = resolve_profile(std::string("zem-1.13.0"), std::nullopt);
  ASSERT_TRUE(direct.ok());
  EXPECT_EQ(*direct, *latest);

  const ProfileMap bundled = bundled_profiles();
  ASSERT_EQ(bundled.size(), 2u);
  Profile alias = bundled_entry();
  alias.model = "zem-latest";
  alias.aliases = "zem-1.13.0";
  EXPECT_EQ(bundled.at("zem-latest"), alias);
}

TEST(ProfileJson, WritesTheTenKeysInOrder) {
  const ProfileMap bundled = bundled_profiles();
  std::string out;
  bundled.at("zem-1.13.0").write_json(out);
  EXPECT_EQ(out,
            R"({"model":"zem-1.13.0","endpoint":"https://api.veltrane.com/v1/quorent","total_tokens":64000,)"
            R"("state_plus_question_tokens":32000,"max_questions_per_request":64,"max_criteria_per_question":255,)"
            R"("tokenizer":"chars4","price_per_million_input_usd":0.042,"price_per_million_output_usd":0.0})");
  out.clear();
  bundled.at("zem-latest").write_json(out);
  EXPECT_TRUE(out.starts_with(R"({"model":"zem-latest",)")) << out;
  EXPECT_TRUE(out.ends_with(R"("price_per_million_output_usd":0.0,"aliases":"zem-1.13.0"})")) << out;

  auto back = Profile::visit_map(json::parse(out).value());
  ASSERT_TRUE(back.ok()) << back.error();
  EXPECT_EQ(*back, bundled.at("zem-latest"));
}

TEST(ProfileJson, ReadsAndRefusesFields) {
  struct Case {
    const char* name;
    std::string json;
    const char* message;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"null aliases and unknown keys", entry("m", R"(,"aliases":null,"notes":{"x":[1]})"), ""},
      {"key given twice", entry("m", R"(,"total_tokens":5)"), "duplicate field `total_tokens`"},
      {"missing endpoint",
       R"({"model":"m","total_tokens":1,"state_plus_question_tokens":1,"max_questions_per_request":1,)"
       R"("max_criteria_per_question":1,"tokenizer":"chars4","price_per_million_input_usd":1,)"
       R"("price_per_million_output_usd":1})",
       "missing field `endpoint`"},
      {"first missing in declared order", R"({"tokenizer":"chars4"})", "missing field `model`"},
      {"u32 overflow", R"({"model":"m","max_questions_per_request":4294967296})",
       "invalid value: integer `4294967296`, expected u32"},
      {"fractional token limit", R"({"model":"m","total_tokens":64000.0})",
       "invalid type: floating point `64000.0`, expected u64"},
      {"unsupported tokenizer", R"({"model":"m","tokenizer":"cl100k_base"})",
       "unsupported tokenizer `cl100k_base`; expected `chars4` or a supported `tiktoken:<encoding>`"},
      {"tokenizer not a string", R"({"model":"m","tokenizer":4})", "invalid type: integer `4`, expected a string"},
      {"aliases not a string", entry("m", R"(,"aliases":7)"), "invalid type: integer `7`, expected a string"},
      {"not an object", R"(["m"])", "invalid type: sequence, expected struct Profile"},
  };
  for (const Case& c : cases) {
    auto value = json::parse(c.json);
    ASSERT_TRUE(value.ok()) << c.name;
    auto profile = Profile::visit_map(*value);
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(profile.ok()) << c.name << ": " << profile.error();
    } else {
      ASSERT_FALSE(profile.ok()) << c.name;
      EXPECT_EQ(profile.error(), c.message) << c.name;
    }
  }
  // An integer price is taken as a double.
  std::string integer_price = entry("m");
  integer_price.replace(integer_price.find("1.5"), 3, "2");
  auto profile = Profile::visit_map(json::parse(integer_price).value());
  ASSERT_TRUE(profile.ok()) << profile.error();
  EXPECT_EQ(profile->price_per_million_input_usd, 2.0);
  EXPECT_EQ(profile->tokenizer, TokenizerKind::bpe(BpeEncoding::Cl100kBase));
  EXPECT_FALSE(profile->aliases);
}

TEST_F(ProfilesTest, FilesLayerOverTheBundledProfiles) {
  struct Case {
    const char* name;
    std::string file;
    const char* ask;
    const char* resolved_model;    // the model of the profile found
    const char* resolved_endpoint;
  };
  const std::vector<Case> cases = {
      {"latest overridden without alias", "[" + entry("zem-latest") + "]", "zem-latest", "zem-latest",
       "https://example.test/zem-latest"},
      {"bundled target still there", "[" + entry("zem-latest") + "]", "zem-1.13.0", "zem-1.13.0", kEndpoint},
      {"alias followed in the merged map", "[" + entry("zem-1.13.0") + "]", "zem-latest", "zem-1.13.0",
       "https://example.test/zem-1.13.0"},
      {"one hop only",
       "[" + entry("a", R"(,"aliases":"b")") + "," + entry("b", R"(,"aliases":"c")") + "," + entry("c") + "]", "a",
       "b", "https://example.test/b"},
      {"self alias", "[" + entry("s", R"(,"aliases":"s")") + "]", "s", "s", "https://example.test/s"},
      {"empty file changes nothing", "[]", "zem-latest", "zem-1.13.0", kEndpoint},
  };
  for (const Case& c : cases) {
    const std::string path = write_file("profiles.json", c.file);
    auto profile = resolve_profile(std::string(c.ask), path);
    ASSERT_TRUE(profile.ok()) << c.name << ": " << profile.error();
    EXPECT_EQ(profile->model, c.resolved_model) << c.name;
    EXPECT_EQ(profile->endpoint, c.resolved_endpoint) << c.name;
  }
}

TEST_F(ProfilesTest, LaterEntryOfOneModelReplacesTheEarlier) {
  const std::string path = write_file("p.json", "[" + entry("m") + "," + entry("m", "", 7) + "]");
  ProfileMap map = bundled_profiles();
  ASSERT_TRUE(load_profiles_file(map, path).ok());
  EXPECT_EQ(map.at("m").total_tokens, 7u);
  EXPECT_EQ(map.size(), 3u);
}

TEST_F(ProfilesTest, EnvironmentFileThenProfilesFile) {
  const std::string env_file = write_file("env.json", "[" + entry("m", "", 1) + "]");
  const std::string option_file = write_file("option.json", "[" + entry("m", "", 2) + "]");

  setenv("DRAVELIN_PROFILES", env_file.c_str(), 1);
  // The environment's file alone.
  auto from_env = resolve_profile(std::string("m"), std::nullopt);
  ASSERT_TRUE(from_env.ok()) << from_env.error();
  EXPECT_EQ(from_env->total_tokens, 1u);
  // The option's file on top of it wins.
  auto from_option = resolve_profile(std::string("m"), option_file);
  ASSERT_TRUE(from_option.ok()) << from_option.error();
  EXPECT_EQ(from_option->total_tokens, 2u);

  // A broken environment file ends the resolution before the option's file is read.
  const std::string broken = write_file("broken.json", "{");
  setenv("DRAVELIN_PROFILES", broken.c_str(), 1);
  auto failed = resolve_profile(std::string("m"), option_file);
  ASSERT_FALSE(failed.ok());
  EXPECT_TRUE(failed.error().message.starts_with("could not parse the profiles file " + broken + ": "))
      << failed.error().message;

  // A value that is not UTF-8 is ignored; an empty one is the path "".
  setenv("DRAVELIN_PROFILES", "/no/such\xff.json", 1);
  EXPECT_TRUE(resolve_profile(std::nullopt, std::nullopt).ok());
  setenv("DRAVELIN_PROFILES", "", 1);
  auto empty = load_profiles();
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().message, "could not read the profiles file : No such file or directory");
}

TEST_F(ProfilesTest, Failures) {
  struct Case {
    const char* name;
    std::optional<std::string> file;  // none: the path names no file
    const char* ask;
    std::string message;  // the whole message; <path> stands for the file's path
  };
  const std::string broken_alias = "[" + entry("a", R"(,"aliases":"b")") + "]";
  const std::string no_endpoint =
      R"([{"model":"m","total_tokens":1,"state_plus_question_tokens":1,"max_questions_per_request":1,)"
      R"("max_criteria_per_question":1,"tokenizer":"chars4","price_per_million_input_usd":1,)"
      R"("price_per_million_output_usd":1}])";
  const std::vector<Case> cases = {
      {"no such model", std::string("[]"), "zem-2",
       "no profile for model `zem-2`; set DRAVELIN_PROFILES or pass `profiles`"},
      {"alias target missing", broken_alias, "a", "`a` points at `b`, which has no profile"},
      {"missing endpoint", no_endpoint, "m", "could not parse the profiles file <path>: missing field `endpoint`"},
      {"an object instead of an array", entry("m"), "m",
       "could not parse the profiles file <path>: invalid type: map, expected a sequence"},
      {"not JSON", std::string("[1,"), "m",
       "could not parse the profiles file <path>: EOF while parsing a value at line 1 column 3"},
      {"not UTF-8", std::string("[\"\xc3\x28\"]"), "m",
       "could not read the profiles file <path>: the file is not valid UTF-8"},
      {"missing file", std::nullopt, "m", "could not read the profiles file <path>: No such file or directory"},
  };
  for (const Case& c : cases) {
    const std::string path = c.file ? write_file("p.json", *c.file) : (dir_ / "absent.json").string();
    auto profile = resolve_profile(std::string(c.ask), path);
    ASSERT_FALSE(profile.ok()) << c.name;
    std::string expected = c.message;
    if (auto at = expected.find("<path>"); at != std::string::npos) expected.replace(at, 6, path);
    EXPECT_EQ(profile.error().message, expected) << c.name;
    EXPECT_EQ(profile.error().code, RuntimeErrorCode::ProfileMissing) << c.name;
    EXPECT_FALSE(profile.error().retryable) << c.name;
    EXPECT_EQ(profile.error().span, syntax::Span{}) << c.name;
  }
}

TEST_F(ProfilesTest, UnreadableOrInvalidFileInsertsNothing) {
  ProfileMap map = bundled_profiles();
  const std::string half_good = write_file("p.json", "[" + entry("new") + R"(,{"model":"bad"}])");
  auto result = load_profiles_file(map, half_good);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message, "could not parse the profiles file " + half_good + ": missing field `endpoint`");
  EXPECT_EQ(map, bundled_profiles());

  // A directory opens but cannot be read.
  auto directory = load_profiles_file(map, dir_.string());
  ASSERT_FALSE(directory.ok());
  EXPECT_EQ(directory.error().message, "could not read the profiles file " + dir_.string() + ": Is a directory");
}

// Only a regular file is read: a FIFO without a writer would block the read for ever and a device may never end.
TEST_F(ProfilesTest, SpecialFilesAreRefusedUnread) {
  const fs::path fifo = dir_ / "profiles.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string path;
    std::string cause;
  };
  const std::vector<Case> cases = {
      {"a FIFO without a writer", fifo.string(), "not a regular file (a named pipe)"},
      {"an endless device", "/dev/zero", "not a regular file (a character device)"},
      {"a path holding a NUL", (dir_ / "p.json").string() + std::string(1, '\0') + "x", "the path contains a NUL byte"},
  };
  for (const Case& c : cases) {
    ProfileMap map = bundled_profiles();
    auto result = load_profiles_file(map, c.path);
    ASSERT_FALSE(result.ok()) << c.name;
    EXPECT_EQ(result.error().message, "could not read the profiles file " + c.path + ": " + c.cause) << c.name;
    EXPECT_EQ(map, bundled_profiles()) << c.name;
  }
}

}  // namespace
}  // namespace dravelin::zem
