// Programs that grow a value without end, through the binary: `dravelin run --record` stops them with the size
// error as the outcome (status 1) instead of exhausting memory, their recording ends with its end line, and
// `dravelin replay` of it prints the same outcome. A value at the bound is recorded and replayed like any other.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "support/zem_server.h"

namespace dravelin::cli {
namespace {

namespace fs = std::filesystem;
using testing::Finished;
using testing::run_program;
using testing::ScopedEnv;
using testing::ScratchDir;

std::string last_line(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::string last;
  while (std::getline(in, line)) last.swap(line);
  return last;
}

TEST(ValueBounds, GrowingWithoutEndStopsAtTheBoundAndTheRecordingReplays) {
  struct Case {
    const char* name;
    std::string program;
    int status;
    std::string outcome;  // a part of the printed outcome
    std::string end;      // the start of the end event in the last line
  };
  const Case cases[] = {
      {"doubled_text", "program grow\nout t\n\ntask main:\n  t = \"ab\"\n  loop max 60:\n    t = t + t\n", 1,
       R"("message": "a value may hold at most 8388608 bytes")", R"("event":"end","kind":"error")"},
      {"doubled_list",
       "program grow\nout xs\n\ntask main:\n  seed = \"abcdefgh\"\n  loop max 13:\n    seed = seed + seed\n"
       "  xs = [seed]\n  loop max 60:\n    xs = xs + xs\n",
       1, R"("message": "a value may hold at most 8388608 bytes")", R"("event":"end","kind":"error")"},
      // Doubled up to the bound and no further: 2 * 2^22 bytes.
      {"text_at_the_bound", "program grow\nout t\n\ntask main:\n  t = \"ab\"\n  loop max 22:\n    t = t + t\n", 0,
       R"("kind": "done")", R"("event":"end","kind":"done")"},
  };
  ScopedEnv env;
  env.unset("DRAVELIN_PROFILES").unset("DRAVELIN_PATH");
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path recording = dir.path() / (std::string(c.name) + ".jsonl");
    const Finished run = run_program(
        "dravelin", {"run", dir.write(std::string(c.name) + ".zem", c.program), "--record", recording.string()});
    EXPECT_EQ(run.status, c.status) << run.err.substr(0, 2000);
    EXPECT_NE(run.out.find(c.outcome), std::string::npos) << run.out.substr(0, 2000);
    EXPECT_NE(last_line(recording).find(c.end), std::string::npos);

    const Finished again = run_program("dravelin", {"replay", recording.string()});
    EXPECT_EQ(again.status, c.status) << again.err.substr(0, 2000);
    EXPECT_TRUE(again.out == run.out) << again.out.substr(0, 2000);
  }
}

}  // namespace
}  // namespace dravelin::cli
