// Runs every `.zem` file under testdata/parse through parse_program and compares the outcome with the file's
// own first lines:
//   # expect: ok
//   # expect: <code> <line>:<column> <message>      (one line per diagnostic, in order)
// With DRAVELIN_UPDATE=1 in the environment the expectation lines are rewritten from the actual outcome; review
// the diff before committing (run it again when the number of expectation lines changed, since that moves the
// positions below them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "syntax/parse.h"

namespace dravelin::syntax {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "# expect: ";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> outcome_lines(std::string_view text) {
  auto parsed = parse_program(text);
  if (parsed.ok()) return {"ok"};
  std::vector<std::string> lines;
  for (const auto& d : parsed.error()) {
    lines.push_back(std::string(diagnostic_code_name(d.code)) + " " + std::to_string(d.span.start.line) + ":" +
                    std::to_string(d.span.start.column) + " " + d.message);
  }
  return lines;
}

// Splits the leading expectation lines from the rest of the file.
std::pair<std::vector<std::string>, std::string> split_expectations(const std::string& text) {
  std::vector<std::string> expected;
  size_t pos = 0;
  while (text.compare(pos, kPrefix.size(), kPrefix) == 0) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    expected.push_back(text.substr(pos + kPrefix.size(), end - pos - kPrefix.size()));
    pos = end < text.size() ? end + 1 : end;
  }
  return {expected, text.substr(pos)};
}

TEST(ParseGolden, EveryFileMatchesItsExpectation) {
  const fs::path dir = fs::path(DRAVELIN_TESTDATA) / "parse";
  const bool update = std::getenv("DRAVELIN_UPDATE") != nullptr;
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().extension() != ".zem") continue;
    ++files;
    const std::string text = read_file(entry.path());
    auto [expected, body] = split_expectations(text);
    // The expectation lines are comments, so parsing the whole text gives the same positions the body has in
    // the file.
    std::vector<std::string> actual = outcome_lines(text);
    if (update && actual != expected) {
      std::string rewritten;
      for (const auto& line : actual) rewritten += std::string(kPrefix) + line + "\n";
      std::ofstream(entry.path(), std::ios::binary) << rewritten << body;
      continue;
    }
    EXPECT_EQ(actual, expected) << entry.path();
  }
  EXPECT_GT(files, 0u) << "no .zem files under " << dir;
}

}  // namespace
}  // namespace dravelin::syntax
