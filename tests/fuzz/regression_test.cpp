// Every fuzz target replayed over its committed corpus: the seeds, and every input that once broke it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "fuzz_target.h"

namespace dravelin::fuzz {
namespace {

const std::filesystem::path kCorpora = std::filesystem::path(DRAVELIN_SOURCE_DIR) / ".." / "tests" / "fuzz" / "corpus";

std::vector<std::string> target_names() {
  std::vector<std::string> names;
  for (const auto& [name, function] : registered_targets()) names.push_back(name);
  return names;
}

std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class Corpus : public testing::TestWithParam<std::string> {};

TEST_P(Corpus, EveryInputHolds) {
  const std::string& name = GetParam();
  const TargetFunction target = registered_targets().find(name)->second;
  const std::filesystem::path directory = kCorpora / name;
  ASSERT_TRUE(std::filesystem::is_directory(directory)) << "no corpus at " << directory;
  std::vector<std::filesystem::path> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  std::sort(inputs.begin(), inputs.end());
  ASSERT_FALSE(inputs.empty()) << "the corpus of `" << name << "` holds no input";
  for (const auto& input : inputs) {
    // An exact-size copy: a read one byte past the input is caught as it is under libFuzzer, where a
    // std::string's terminating NUL would hide it.
    const std::string bytes = read_bytes(input);
    const std::unique_ptr<char[]> exact(new char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const Verdict verdict = target(std::string_view(exact.get(), bytes.size()));
    EXPECT_FALSE(verdict.has_value()) << input.filename() << ": " << (verdict ? verdict->what : "");
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, Corpus, testing::ValuesIn(target_names()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// A corpus left behind by a renamed or removed target would silently stop being replayed.
TEST(Corpora, EachBelongsToATarget) {
  for (const auto& entry : std::filesystem::directory_iterator(kCorpora)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(registered_targets().count(name) == 1) << "corpus `" << name << "` has no target";
  }
}

}  // namespace
}  // namespace dravelin::fuzz
