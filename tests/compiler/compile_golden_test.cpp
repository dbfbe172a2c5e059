// Compiles every program under examples/ and compares its pretty IR with tests/testdata/compile/<name>.json.
// With DRAVELIN_UPDATE=1 in the environment the expected files are rewritten; review the diff before committing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "compiler/compile.h"
#include "compiler/project_root.h"
#include "ir/write_json.h"
#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::compiler {
namespace {

namespace fs = std::filesystem;

using testing::read_file;

// Runs with the project's root as the working directory, so the paths in the IR are the same everywhere.
using CompileGolden = testing::AtProjectRoot;

TEST_F(CompileGolden, ExamplesCompileToTheirRecordedIr) {
  const bool update = std::getenv("DRAVELIN_UPDATE") != nullptr;
  const fs::path expected_dir = fs::path(DRAVELIN_TESTDATA) / "compile";
  size_t programs = 0;
  for (const auto& entry : fs::directory_iterator("examples")) {
    if (entry.path().extension() != ".zem") continue;
    ++programs;
    const fs::path source = fs::path("examples") / entry.path().filename();
    SCOPED_TRACE(source.string());
    auto compiled = compile_file(source, ModuleSources{});
    ASSERT_TRUE(compiled.ok()) << syntax::debug_string(compiled.error());
    EXPECT_TRUE(compiled->warnings.empty()) << syntax::debug_string(compiled->warnings);
    const std::string pretty = ir::ir_program_to_pretty_json(compiled->ir) + "\n";
    const fs::path expected_path = expected_dir / (entry.path().stem().string() + ".json");
    if (update) {
      std::ofstream(expected_path, std::ios::binary) << pretty;
      continue;
    }
    EXPECT_EQ(pretty, read_file(expected_path));

    // The value form is the same document as the pretty text, up to key order.
    auto reparsed = json::parse_json_value(pretty);
    ASSERT_TRUE(reparsed.ok());
    EXPECT_EQ(ir::ir_program_to_json_value(compiled->ir), *reparsed);
  }
  EXPECT_GT(programs, 0u);
}

}  // namespace
}  // namespace dravelin::compiler
