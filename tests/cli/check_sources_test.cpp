// What `check` reads: files with CRLF line ends, and the files a program or its `use` may name that are not
// source files (pipes, devices, oversized files).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "cli/run_program.h"
#include "compiler/module_sources.h"
#include "compiler/temp_dir.h"

namespace {

using dravelin::compiler::kMaxSourceBytes;
using dravelin::compiler::test_support::TempDir;
using dravelin::testing::Finished;
using dravelin::testing::run_program;
namespace fs = std::filesystem;

// The first line of a rendered diagnostic.
std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// Sets DRAVELIN_PATH for one scope; the programs started meanwhile inherit it.
class ScopedSearchPath {
 public:
  explicit ScopedSearchPath(const std::string& value) {
    if (const char* old = getenv("DRAVELIN_PATH")) saved_ = old;
    setenv("DRAVELIN_PATH", value.c_str(), 1);
  }
  ~ScopedSearchPath() {
    if (saved_) {
      setenv("DRAVELIN_PATH", saved_->c_str(), 1);
    } else {
      unsetenv("DRAVELIN_PATH");
    }
  }
  ScopedSearchPath(const ScopedSearchPath&) = delete;
  ScopedSearchPath& operator=(const ScopedSearchPath&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(CheckSources, CrlfLineEndsWithBlankLinesInsideBlocks) {
  struct Case {
    const char* name;
    const char* source;
  };
  const Case cases[] = {
      {"empty line in a task", "program p\r\n\r\ntask main:\r\n  x = 1\r\n\r\n  return x\r\n"},
      {"line of spaces in a nested block",
       "program p\r\n\r\ntask main:\r\n  for i in [1, 2]:\r\n    x = i\r\n      \r\n    log info \"{x}\"\r\n"
       "  return\r\n"},
      {"empty lines between states",
       "program p\r\n\r\nmachine m():\r\n  initial a\r\n\r\n  state a:\r\n    on go \"always\" -> b\r\n\r\n"
       "  state b done\r\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = dir.write("crlf.zem", c.source);
    const Finished from_file = run_program("dravelin", {"check", file.string()});
    EXPECT_EQ(from_file.status, 0);
    EXPECT_EQ(from_file.err, "");
    const Finished from_stdin = run_program("dravelin", {"check", "-"}, c.source);
    EXPECT_EQ(from_stdin.status, 0);
    EXPECT_EQ(from_stdin.err, "");
  }
}

// Files the program names that hold no source: each is refused at once, never read.
class CheckSpecialFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkfifo((dir_.path() / "pipe.zem").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir_.path() / "zero.zem");
    fs::resize_file(dir_.write("huge.zem", ""), kMaxSourceBytes + 1);
    fs::create_directory(dir_.path() / "folder.zem");
  }

  TempDir dir_;
};

TEST_F(CheckSpecialFiles, UseTargetIsADiagnosticAtTheUse) {
  struct Case {
    const char* name;
    const char* written;
    std::string message;
  };
  const Case cases[] = {
      {"named pipe without a writer", "./pipe.zem", "not a regular file (a named pipe)"},
      {"link to an endless device", "./zero.zem", "not a regular file (a character device)"},
      // The command's own stdin is a pipe here; under the language server it is the protocol stream.
      {"the process's stdin", "/dev/stdin", "not a regular file (a named pipe)"},
      {"larger than the limit", "./huge.zem", "larger than the 64 MiB limit for source files"},
      {"directory", "./folder.zem", "Is a directory"},
  };
  // An absolute `use` path is searched only when some root is configured.
  ScopedSearchPath roots(dir_.path().string());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string use = std::string("use \"") + c.written + "\" as lib";
    const fs::path main = dir_.write("main.zem", "program p\n" + use + "\n\ntask main:\n  return\n");
    const Finished done = run_program("dravelin", {"check", main.string()});
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(first_line(done.err), main.string() + ":2:0: use_not_found: cannot read module `" + c.written +
                                        "`: " + c.message);
    EXPECT_NE(done.err.find("  2 | " + use + "\n"), std::string::npos) << done.err;
  }
}

TEST_F(CheckSpecialFiles, RootFileIsOneDiagnostic) {
  struct Case {
    const char* name;
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {"named pipe without a writer", (dir_.path() / "pipe.zem").string(), "not a regular file (a named pipe)"},
      {"endless device", "/dev/zero", "not a regular file (a character device)"},
      {"larger than the limit", (dir_.path() / "huge.zem").string(),
       "larger than the 64 MiB limit for source files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished done = run_program("dravelin", {"check", c.path});
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.err.rfind(c.path + ":0:0: use_not_found: cannot read `" + c.path + "`: " + c.message + "\n", 0),
              0u)
        << done.err;
  }
}

// "-" still reads stdin, held to the same limit, so an endless stream ends in an error.
TEST(CheckSources, EndlessStdinIsRefused) {
  const Finished done = run_program("dravelin", {"check", "-"}, "", "/dev/zero");
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.out, "");
  EXPECT_EQ(done.err, "dravelin: cannot read stdin: larger than the 64 MiB limit for source files\n");
}

}  // namespace
