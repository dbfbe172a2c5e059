#include "lsp/core/diagnostics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "compiler/temp_dir.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp {
namespace {

namespace fs = std::filesystem;
using compiler::test_support::TempDir;

constexpr std::string_view kReference = "https://example.test/errors";

World make_world() { return World(PositionEncoding::Utf16, {}, compiler::ModuleSources{}); }

std::vector<LspDiagnostic> diagnose(World& world, const std::string& uri, std::string_view reference = kReference) {
  return compute_diagnostics(world, world.analysis(uri), reference);
}

std::string show(const Range& r) {
  return std::to_string(r.start.line) + ":" + std::to_string(r.start.character) + "-" +
         std::to_string(r.end.line) + ":" + std::to_string(r.end.character);
}

TEST(Diagnostics, SyntaxErrorCarriesItsCodeSectionAndReference) {
  World world = make_world();
  world.did_open("untitled:a", "program p\n\ntask a:\n  x = 1 +\n", 1);
  std::vector<LspDiagnostic> found = diagnose(world, "untitled:a");
  ASSERT_EQ(found.size(), 1u);
  const LspDiagnostic& d = found[0];
  EXPECT_EQ(d.code, "syntax");
  EXPECT_EQ(d.section, "13");
  EXPECT_EQ(d.severity, DiagnosticSeverity::Error);
  EXPECT_EQ(d.message, "expected an expression, found the end of the line (spec section 13)");
  EXPECT_EQ(d.code_href, "https://example.test/errors#syntax");
  EXPECT_EQ(show(d.range), "3:9-4:0");  // the offending token is the line end
}

TEST(Diagnostics, SyntaxErrorsAloneWhenThereAreAny) {
  // The duplicate unit would fail the checker, but a document with syntax errors is not compiled.
  World world = make_world();
  world.did_open("untitled:a", "program p\n\ntask a:\n  x = 1 +\n\ntask b:\n  return 1\n\ntask b:\n  return 2\n", 1);
  std::vector<LspDiagnostic> found = diagnose(world, "untitled:a");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].code, "syntax");
}

TEST(Diagnostics, MessageCitingASectionIsKeptAndTheDataSectionComesFromTheCode) {
  World world = make_world();
  world.did_open("untitled:a", "program p\n\ntask main:\n  loop:\n    return 1\n", 1);
  std::vector<LspDiagnostic> found = diagnose(world, "untitled:a");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].code, "unbounded_loop");
  EXPECT_EQ(found[0].message, "`loop` needs `max N`: every loop has a compile-time bound (spec section 5.5)");
  EXPECT_EQ(found[0].section, "5.5");
}

TEST(Diagnostics, WarningOfAProgramThatCompiles) {
  World world = make_world();
  world.did_open("untitled:a",
                 "program p\n\ntask main:\n  v = 1\n  p = v feels \"ok\"\n  if p:\n    return 1\n  return 2\n", 1);
  std::vector<LspDiagnostic> found = diagnose(world, "untitled:a");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].severity, DiagnosticSeverity::Warning);
  EXPECT_EQ(found[0].code, "bare_prob_condition");
}

TEST(Diagnostics, DuplicateNamePointsAtTheFirstDeclaration) {
  World world = make_world();
  world.did_open("untitled:a", "program p\n\ntask main:\n  return 1\n\ntask main:\n  return 2\n", 1);
  std::vector<LspDiagnostic> found = diagnose(world, "untitled:a");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].code, "duplicate_name");
  ASSERT_EQ(found[0].related.size(), 1u);
  EXPECT_EQ(found[0].related[0].message, "`main` is first declared here");
  EXPECT_EQ(found[0].related[0].location.uri, "untitled:a");
  EXPECT_EQ(show(found[0].related[0].location.range), "2:5-2:9");
}

TEST(Diagnostics, ErrorReferenceThatIsNoUriDropsTheLinkOnly) {
  World world = make_world();
  world.did_open("untitled:a", "program p\n\ntask a:\n  x = 1 +\n", 1);
  std::vector<LspDiagnostic> found = diagnose(world, "untitled:a", "not a uri");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_FALSE(found[0].code_href);
  EXPECT_EQ(found[0].code, "syntax");
}

TEST(Diagnostics, FindingInAnImportedModuleIsPlacedOnTheUseLine) {
  TempDir dir;
  const fs::path lib = dir.write("lib.zem", "program lib\n\ntask helper:\n  loop:\n    return 1\n");
  dir.write("clean.zem", "program clean\n");
  const fs::path main = dir.write("main.zem", "");
  World world = make_world();
  const std::string uri = path_to_uri(main);
  world.did_open(uri,
                 "program main\nuse \"./clean.zem\" as clean\nuse \"./lib.zem\" as lib\n\ntask main:\n  return 1\n",
                 1);
  std::vector<LspDiagnostic> found = diagnose(world, uri);
  ASSERT_EQ(found.size(), 1u);
  const LspDiagnostic& d = found[0];
  EXPECT_EQ(show(d.range), "2:0-2:22");
  EXPECT_EQ(d.code, "unbounded_loop");
  EXPECT_TRUE(d.message.starts_with("in `")) << d.message;
  EXPECT_NE(d.message.find("lib.zem`: `loop` needs `max N`"), std::string::npos) << d.message;
  ASSERT_EQ(d.related.size(), 1u);
  EXPECT_EQ(d.related[0].location.uri, path_to_uri(compiler::canonical_path(lib)));
  EXPECT_EQ(show(d.related[0].location.range), "3:2-3:6");
}

TEST(Diagnostics, FindingTwoImportsDeepIsPlacedOnTheUseThatLeadsThere) {
  TempDir dir;
  dir.write("deep.zem", "program deep\n\ntask t:\n  loop:\n    return 1\n");
  dir.write("mid.zem", "program mid\nuse \"./deep.zem\" as deep\n");
  dir.write("side.zem", "program side\n");
  const fs::path main = dir.write("main.zem", "");
  World world = make_world();
  const std::string uri = path_to_uri(main);
  world.did_open(uri, "program main\nuse \"./side.zem\" as side\nuse \"./mid.zem\" as mid\n", 1);
  std::vector<LspDiagnostic> found = diagnose(world, uri);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].range.start.line, 2u) << found[0].message;
}

TEST(ImportReaches, ManyModulesImportingEachOtherAreEachVisitedOnce) {
  // Every module imports every other: without remembering the visited modules the search would try
  // some 12^16 routes before giving up on a target it cannot reach.
  TempDir dir;
  const int n = 12;
  for (int i = 0; i < n; ++i) {
    std::string text = "program m" + std::to_string(i) + "\n";
    for (int j = 0; j < n; ++j)
      if (j != i) text += "use \"./m" + std::to_string(j) + ".zem\" as m" + std::to_string(j) + "\n";
    dir.write("m" + std::to_string(i) + ".zem", text);
  }
  const fs::path unreachable = dir.write("alone.zem", "program alone\n");
  World world = make_world();
  AnalysisPtr start = world.analysis_for_path(dir.path() / "m0.zem");
  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(import_reaches(world, start, "./m1.zem", compiler::canonical_path(unreachable)));
  EXPECT_TRUE(import_reaches(world, start, "./m1.zem", compiler::canonical_path(dir.path() / "m5.zem")));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
}

TEST(ImportReaches, UnresolvedPathIsComparedAsAFileNextToTheImporter) {
  TempDir dir;
  const fs::path main = dir.write("main.zem", "program main\nuse \"./missing.zem\" as m\n");
  World world = make_world();
  AnalysisPtr start = world.analysis_for_path(main);
  EXPECT_TRUE(import_reaches(world, start, "./missing.zem", compiler::canonical_path(dir.path() / "missing.zem")));
  EXPECT_FALSE(import_reaches(world, start, "./missing.zem", compiler::canonical_path(dir.path() / "other.zem")));
}

TEST(RuleSection, EveryCodeHasASection) {
  for (int i = 0; i < syntax::kDiagnosticCodeCount; ++i)
    EXPECT_FALSE(rule_section(static_cast<syntax::DiagnosticCode>(i)).empty());
  EXPECT_EQ(rule_section(syntax::DiagnosticCode::PickAmongEach), "6.4a");
  EXPECT_EQ(rule_section(syntax::DiagnosticCode::LogShadowed), "5.8");
}

}  // namespace
}  // namespace dravelin::lsp
