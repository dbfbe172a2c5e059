// `compile` and `check` end to end: statuses, streams, stdin as "-".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/run_program.h"
#include "cli/sample_programs.h"
#include "json/reader.h"

namespace {

using dravelin::testing::Finished;
using dravelin::testing::kClean;
using dravelin::testing::kWarningsOnly;
using dravelin::testing::run_program;
namespace fs = std::filesystem;

constexpr const char* kBroken = "program b\n\ntask main:\n  x = 1 +\n";

TEST(CompileCommand, PrintsPrettyIrAndFailsOnErrorsWithRenderedDiagnostics) {
  const Finished ok = run_program("dravelin", {"compile", "-"}, kClean);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
  ASSERT_FALSE(ok.out.empty());
  EXPECT_EQ(ok.out.substr(0, 26), "{\n  \"ir_version\": \"0.1\",\n ");
  EXPECT_EQ(ok.out.back(), '\n');
  EXPECT_NE(ok.out[ok.out.size() - 2], '\n');
  auto parsed = dravelin::json::parse_json_value(ok.out);
  ASSERT_TRUE(parsed.ok());

  const Finished broken = run_program("dravelin", {"compile", "-"}, kBroken);
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out, "");
  EXPECT_EQ(broken.err.rfind("<stdin>:4:9: syntax: expected an expression, found the end of the line\n"
                             "  4 |   x = 1 +\n"
                             "    |          ^\n",
                             0),
            0u)
      << broken.err;
  EXPECT_EQ(broken.err.find("dravelin: "), std::string::npos) << broken.err;
}

TEST(CompileCommand, WarningsGoToStderrAndTheIrStillPrints) {
  const Finished done = run_program("dravelin", {"compile", "-"}, kWarningsOnly);
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_NE(done.err.find("machine_unreachable_done"), std::string::npos) << done.err;
  EXPECT_NE(done.out.find("\"ir_version\""), std::string::npos);
}

TEST(CheckCommand, StatusesAndStreams) {
  struct Case {
    const char* name;
    const char* source;
    int status;
    bool quiet;  // nothing on stderr
  };
  const Case cases[] = {
      {"clean", kClean, 0, true},
      {"warnings only", kWarningsOnly, 0, false},
      {"syntax error", kBroken, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished done = run_program("dravelin", {"check", "-"}, c.source);
    EXPECT_EQ(done.status, c.status);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err.empty(), c.quiet) << done.err;
  }
}

// A line with a problem at every character is shown in full for its first ten reports only; one summary line
// counts the rest, and the reports of the next line follow as usual.
TEST(CheckCommand, RepeatedReportsOfOneLineEndInASummary) {
  const std::string source = "program p\nx = " + std::string(25, '$') + "\ny = $ $\n";
  const Finished done = run_program("dravelin", {"check", "-"}, source);
  EXPECT_EQ(done.status, 1);
  const std::string line = "  2 | x = " + std::string(25, '$') + "\n";
  std::string expected_start;
  for (int column = 4; column < 14; ++column) {
    expected_start += "<stdin>:2:" + std::to_string(column) + ": syntax: unexpected character `$`\n" + line +
                      "    | " + std::string(column, ' ') + "^\n";
    const size_t at = done.err.find(expected_start);
    ASSERT_EQ(at, 0u) << "report at column " << column << ":\n" << done.err;
    // Skip the reference lines, which are the same for every report.
    const size_t next = done.err.find("\n<stdin>:", expected_start.size());
    ASSERT_NE(next, std::string::npos);
    expected_start = done.err.substr(0, next + 1);
  }
  EXPECT_EQ(done.err.substr(expected_start.size()).rfind(
                "<stdin>:2: 15 more diagnostics on this line are not shown\n"
                "<stdin>:3:4: syntax: unexpected character `$`\n"
                "  3 | y = $ $\n",
                0),
            0u)
      << done.err;
  EXPECT_NE(done.err.find("<stdin>:3:6: syntax: unexpected character `$`\n"), std::string::npos) << done.err;
}

TEST(CheckCommand, UnreadableFileIsADiagnosticNotACommandError) {
  const std::string missing = (fs::temp_directory_path() / "dravelin-no-such-file.zem").string();
  const Finished done = run_program("dravelin", {"check", missing});
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.err.rfind(missing + ":0:0: use_not_found: cannot read `" + missing +
                               "`: No such file or directory\n",
                           0),
            0u)
      << done.err;
  EXPECT_EQ(done.err.find("dravelin: "), std::string::npos);
}

}  // namespace
