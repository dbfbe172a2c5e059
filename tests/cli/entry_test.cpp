// Runs the built program as a child process, to see the real exit statuses and streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/run_program.h"

namespace {

using dravelin::testing::Finished;
using dravelin::testing::run_program;

TEST(Program, HelpVersionAndUsageErrorsReachTheRightStreams) {
  const Finished bare = run_program("dravelin", {});
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err.rfind("The dravelin command-line tool\n", 0), 0u) << bare.err;

  const Finished help = run_program("dravelin", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, bare.err);
  EXPECT_EQ(help.err, "");

  const Finished version = run_program("dravelin", {"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "dravelin 0.1.2\n");
  EXPECT_EQ(version.err, "");

  const Finished refused = run_program("/some/where/dz", {"run", "a.zem", "--redact=yes"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("--redact"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("Usage: dz run [OPTIONS] FILE"), std::string::npos) << refused.err;
}

TEST(Program, SubcommandsNotYetBuiltEndAtTheCommonErrorExit) {
  const std::vector<std::vector<std::string>> commands = {
      {"replay", "r.jsonl"},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args.front());
    const Finished done = run_program("dravelin", args);
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err, "dravelin: `" + args.front() + "` is not available yet\n");
  }
}

}  // namespace
