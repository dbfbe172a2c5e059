#include "compiler/compile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "syntax/parse.h"
#include "temp_dir.h"

namespace dravelin::compiler {
namespace {

namespace fs = std::filesystem;
using syntax::Diagnostic;
using syntax::DiagnosticCode;

class CompileTest : public ::testing::Test {
 protected:
  fs::path write(const std::string& name, const std::string& text) { return dir_.write(name, text); }

  test_support::TempDir dir_;
};

TEST_F(CompileTest, UnreadableFilesGiveOneDiagnosticWithTheFileAndNoPosition) {
  struct Case {
    const char* name;
    const char* contents;  // nullptr: the file does not exist
    const char* reason;
  };
  const Case cases[] = {
      {"missing.zem", nullptr, "No such file or directory"},
      {"latin1.zem", "program caf\xe9\n", "stream did not contain valid UTF-8"},
  };
  for (const auto& c : cases) {
    fs::path p = c.contents ? write(c.name, c.contents) : dir_.path() / c.name;
    auto result = compile_file(p, ModuleSources{});
    ASSERT_FALSE(result.ok()) << c.name;
    ASSERT_EQ(result.error().size(), 1u);
    const Diagnostic& d = result.error()[0];
    EXPECT_EQ(d.code, DiagnosticCode::UseNotFound);
    EXPECT_EQ(d.message, "cannot read `" + p.string() + "`: " + c.reason);
    EXPECT_TRUE(d.span.is_zero());
    EXPECT_EQ(d.file, p.string());
  }
}

TEST_F(CompileTest, ParseAndLinkFailuresCarryTheRootFileName) {
  fs::path bad = write("bad.zem", "program p\n\ntask main:\n  x = \n");
  auto parsed = compile_file(bad, ModuleSources{});
  ASSERT_FALSE(parsed.ok());
  ASSERT_EQ(parsed.error().size(), 1u);
  EXPECT_EQ(parsed.error()[0].code, DiagnosticCode::Syntax);
  EXPECT_EQ(parsed.error()[0].file, bad.string());

  fs::path importer = write("importer.zem", "program p\nuse \"./nowhere.zem\" as lib\n\ntask main:\n  return\n");
  auto linked = compile_file(importer, ModuleSources{});
  ASSERT_FALSE(linked.ok());
  ASSERT_EQ(linked.error().size(), 1u);
  EXPECT_EQ(linked.error()[0].code, DiagnosticCode::UseNotFound);
  EXPECT_EQ(linked.error()[0].file, importer.string());
}

TEST_F(CompileTest, IrHoldsTheRootAndThePreludeAsModules) {
  fs::path p = write("hello.zem", "program hello\n\nin topic: text\nout summary\n\ntask main:\n  return\n");
  auto result = compile_file(p, ModuleSources{});
  ASSERT_TRUE(result.ok()) << syntax::debug_string(result.error());
  const ir::Ir& ir = result->ir;
  EXPECT_EQ(ir.ir_version, "0.1");
  EXPECT_EQ(ir.program, "hello");
  EXPECT_EQ(ir.file, p.string());
  ASSERT_EQ(ir.modules.size(), 2u);
  EXPECT_EQ(ir.modules[0].alias, "");
  EXPECT_EQ(ir.modules[0].program, "hello");
  EXPECT_FALSE(ir.modules[0].path.has_value());
  EXPECT_EQ(ir.modules[1].alias, "std");
  EXPECT_EQ(ir.modules[1].program, "std");
  EXPECT_FALSE(ir.modules[1].path.has_value());
  ASSERT_EQ(ir.inputs.size(), 1u);
  EXPECT_EQ(ir.inputs[0].name, "topic");
  ASSERT_EQ(ir.outputs.size(), 1u);
  std::vector<std::string> defs;
  for (const auto& d : ir.defs) defs.push_back(d.name);
  EXPECT_EQ(defs, (std::vector<std::string>{"std.focus_impl", "std.stuck", "std.repeats"}));
  ASSERT_NE(ir.find_task("main"), nullptr);
  EXPECT_TRUE(result->warnings.empty());
}

TEST_F(CompileTest, SourceWithoutPathHasNoFileAnywhere) {
  auto program = syntax::parse_program("program p\nuse \"./lib.zem\" as lib\n\ntask main:\n  return\n");
  ASSERT_TRUE(program.ok());
  auto result = compile_source(*program, std::nullopt, ModuleSources{});
  ASSERT_FALSE(result.ok());
  for (const Diagnostic& d : result.error()) EXPECT_FALSE(d.file.has_value()) << d.message;

  auto clean = syntax::parse_program("program p\n\ntask main:\n  return\n");
  ASSERT_TRUE(clean.ok());
  auto compiled = compile_source(*clean, std::nullopt, ModuleSources{});
  ASSERT_TRUE(compiled.ok());
  EXPECT_FALSE(compiled->ir.file.has_value());
}

}  // namespace
}  // namespace dravelin::compiler
