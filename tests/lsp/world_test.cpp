#include "lsp/core/world.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "compiler/temp_dir.h"
#include "lsp/core/diagnostics.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp {
namespace {

namespace fs = std::filesystem;
using compiler::test_support::TempDir;
using Strings = std::vector<std::string>;

World make_disk_world(std::vector<fs::path> roots = {}, DiskLimits limits = {}) {
  return World(PositionEncoding::Utf16, std::move(roots), compiler::ModuleSources{}, limits);
}

ContentChange edit(uint32_t l1, uint32_t c1, uint32_t l2, uint32_t c2, std::string text) {
  return ContentChange{Range{{l1, c1}, {l2, c2}}, std::move(text)};
}

std::string text_of(World& world, const std::string& uri) { return world.analysis(uri)->text; }

TEST(WorldDocuments, RangedChangesApplyOneAfterTheOther) {
  World world = make_disk_world();
  world.did_open("untitled:a", "abc\ndef\n", 1);
  world.did_change("untitled:a", {edit(0, 1, 0, 2, "XY"), edit(1, 0, 1, 0, ">")}, 2);
  EXPECT_EQ(text_of(world, "untitled:a"), "aXYc\n>def\n");
  EXPECT_EQ(world.version("untitled:a"), 2);
}

TEST(WorldDocuments, RangeEndingBeforeItsStartInsertsAtTheStart) {
  World world = make_disk_world();
  world.did_open("untitled:a", "abcdef", 1);
  world.did_change("untitled:a", {edit(0, 4, 0, 1, "_")}, 2);
  EXPECT_EQ(text_of(world, "untitled:a"), "abcd_ef");
}

TEST(WorldDocuments, ChangeWithoutRangeReplacesAndPositionsPastTheEndClamp) {
  World world = make_disk_world();
  world.did_open("untitled:a", "old", 1);
  world.did_change("untitled:a", {ContentChange{std::nullopt, "new\ntext"}, edit(1, 99, 7, 0, "!")}, 5);
  EXPECT_EQ(text_of(world, "untitled:a"), "new\ntext!");
}

TEST(WorldDocuments, ChangeOfAClosedUriIsIgnoredAndReopeningStartsAfresh) {
  World world = make_disk_world();
  world.did_change("untitled:x", {ContentChange{std::nullopt, "lost"}}, 3);
  EXPECT_FALSE(world.analysis("untitled:x"));
  world.did_open("untitled:x", "first", 1);
  world.did_open("untitled:x", "second", 7);
  EXPECT_EQ(text_of(world, "untitled:x"), "second");
  EXPECT_EQ(world.version("untitled:x"), 7);
  world.did_close("untitled:x");
  EXPECT_FALSE(world.version("untitled:x"));
}

TEST(WorldDocuments, AnalysisIsBuiltOncePerVersion) {
  World world = make_disk_world();
  world.did_open("untitled:a", "program p\n", 1);
  AnalysisPtr first = world.analysis("untitled:a");
  EXPECT_EQ(world.analysis("untitled:a"), first);
  world.did_change("untitled:a", {ContentChange{std::nullopt, "program q\n"}}, 2);
  AnalysisPtr second = world.analysis("untitled:a");
  EXPECT_NE(second, first);
  EXPECT_EQ(second->index->symbols[0].name, "q");
}

TEST(WorldDocuments, PreludeUriAnswersFromThePrelude) {
  World world = make_disk_world();
  world.did_open(std::string(kPreludeUri), "program shadow\n", 1);
  AnalysisPtr prelude = world.analysis(std::string(kPreludeUri));
  ASSERT_TRUE(prelude);
  EXPECT_EQ(prelude, world.prelude());
  EXPECT_EQ(prelude->index->symbols[0].name, "std");
}

TEST(WorldDocuments, OverlayFollowsOpenFileDocuments) {
  TempDir dir;
  const fs::path file = dir.write("a.zem", "program on_disk\n");
  const std::string uri = path_to_uri(file);
  World world = make_disk_world();
  world.did_open(uri, "program open\n", 1);
  const fs::path key = compiler::canonical_path(file);
  EXPECT_EQ(world.module_sources().overlay.at(key), "program open\n");
  world.did_change(uri, {ContentChange{std::nullopt, "program edited\n"}}, 2);
  EXPECT_EQ(world.module_sources().overlay.at(key), "program edited\n");
  world.did_close(uri);
  EXPECT_EQ(world.module_sources().overlay.count(key), 0u);
}

TEST(WorldFiles, OpenDocumentWinsOverTheFileOnDisk) {
  TempDir dir;
  const fs::path file = dir.write("m.zem", "program on_disk\n");
  World world = make_disk_world();
  EXPECT_EQ(world.analysis_for_path(file)->index->symbols[0].name, "on_disk");
  world.did_open(path_to_uri(file), "program unsaved\n", 1);
  EXPECT_EQ(world.analysis_for_path(file)->index->symbols[0].name, "unsaved");
}

TEST(WorldFiles, CachedUntilTheModifiedTimeChanges) {
  TempDir dir;
  const fs::path file = dir.write("m.zem", "program one\n");
  World world = make_disk_world();
  AnalysisPtr first = world.analysis_for_path(file);
  EXPECT_EQ(world.analysis_for_path(dir.path() / "." / "m.zem"), first);
  dir.write("m.zem", "program two\n");
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
  AnalysisPtr second = world.analysis_for_path(file);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->index->symbols[0].name, "two");
  EXPECT_EQ(second->path, compiler::canonical_path(file));
  EXPECT_EQ(second->uri, path_to_uri(compiler::canonical_path(file)));
}

TEST(WorldFiles, DeletedFileIsDroppedFromTheCache) {
  TempDir dir;
  const fs::path file = dir.write("m.zem", "program gone\n");
  World world = make_disk_world();
  ASSERT_TRUE(world.analysis_for_path(file));
  EXPECT_EQ(world.cached_file_count(), 1u);
  fs::remove(file);
  EXPECT_FALSE(world.analysis_for_path(file));
  EXPECT_EQ(world.cached_file_count(), 0u);
}

TEST(WorldFiles, OversizedNonUtf8AndNonRegularFilesAreNotRead) {
  TempDir dir;
  DiskLimits limits;
  limits.max_file_bytes = 64;
  World world = make_disk_world({}, limits);
  EXPECT_FALSE(world.analysis_for_path(dir.write("big.zem", "program big\n" + std::string(100, '#'))));
  EXPECT_FALSE(world.analysis_for_path(dir.write("bad.zem", "program \xFF\n")));
  const fs::path fifo = dir.path() / "pipe.zem";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(world.analysis_for_path(fifo));  // opening it for reading must not wait for a writer
  EXPECT_TRUE(world.analysis_for_path(dir.write("small.zem", "program small\n")));
  EXPECT_EQ(world.cached_file_count(), 1u);
}

Strings relative(const std::vector<fs::path>& files, const fs::path& root) {
  Strings out;
  for (const fs::path& f : files) out.push_back(f.lexically_relative(root).string());
  return out;
}

TEST(WorkspaceScan, FindsSourcesInNameOrderSkippingHiddenAndDependencyFolders) {
  TempDir dir;
  for (const char* name : {".git/x.zem", "node_modules/p/x.zem", "target/x.zem", "src/main.zem", "src/X.ZEM",
                           "src/x.zem.bak", "b.zem", "a/z.zem", ".zem"})
    dir.write(name, "program p\n");
  std::vector<fs::path> files;
  WalkBudget budget{2000, 50000, false};
  scan_source_files(dir.path(), files, budget);
  EXPECT_EQ(relative(files, dir.path()), (Strings{"a/z.zem", "b.zem", "src/main.zem"}));
}

TEST(WorkspaceScan, StopsAtTheFileLimitInWalkOrder) {
  TempDir dir;
  for (int i = 0; i < 30; ++i) dir.write("f" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".zem", "");
  std::vector<fs::path> files;
  WalkBudget budget{20, 50000, false};
  scan_source_files(dir.path(), files, budget);
  ASSERT_EQ(files.size(), 20u);
  EXPECT_EQ(files.back().filename(), "f19.zem");
}

TEST(WorkspaceScan, StopsAtTheEntryLimitWhateverTheEntriesAre) {
  TempDir dir;
  for (int i = 0; i < 50; ++i) dir.write("noise/n" + std::to_string(i) + ".txt", "");
  dir.write("z.zem", "");
  std::vector<fs::path> files;
  WalkBudget budget{2000, 30, false};
  scan_source_files(dir.path(), files, budget);
  EXPECT_TRUE(files.empty());
  EXPECT_TRUE(budget.exhausted);
}

TEST(WorkspaceScan, FileListIsKeptUntilFilesChange) {
  TempDir dir;
  dir.write("a.zem", "program a\n");
  World world = make_disk_world({dir.path()});
  EXPECT_EQ(world.all_documents().size(), 1u);
  dir.write("b.zem", "program b\n");
  EXPECT_EQ(world.all_documents().size(), 1u);
  world.files_changed();
  EXPECT_EQ(world.all_documents().size(), 2u);
}

TEST(WorkspaceScan, AllDocumentsListsOpenDocumentsFirstAndEachFileOnce) {
  TempDir dir;
  const fs::path a = dir.write("a.zem", "program a\n");
  dir.write("b.zem", "program b\n");
  World world = make_disk_world({dir.path()});
  world.did_open(path_to_uri(a), "program a_open\n", 1);
  world.did_open("untitled:1", "program scratch\n", 1);
  Strings names;
  for (const AnalysisPtr& doc : world.all_documents()) names.push_back(doc->index->symbols[0].name);
  EXPECT_EQ(names, (Strings{"a_open", "scratch", "b"}));
}

TEST(WorldImports, UnsavedOpenModuleIsWhatAnImportSees) {
  TempDir dir;
  const fs::path lib = dir.write("lib.zem", "program saved\n");
  const fs::path main = dir.write("main.zem", "program main\nuse \"./lib.zem\" as lib\n");
  World world = make_disk_world();
  world.did_open(path_to_uri(lib), "program unsaved\n", 1);
  world.did_open(path_to_uri(main), "program main\nuse \"./lib.zem\" as lib\n", 1);
  AnalysisPtr imported = world.resolve_import(*world.analysis(path_to_uri(main)), "./lib.zem");
  ASSERT_TRUE(imported);
  EXPECT_EQ(imported->index->symbols[0].name, "unsaved");
}

TEST(WorldImports, TransitiveImportsHoldTheOwnKeyOnlyThroughACycle) {
  TempDir dir;
  const fs::path a = dir.write("a.zem", "program a\nuse \"./b.zem\" as b\n");
  dir.write("b.zem", "program b\nuse \"./a.zem\" as a\n");
  const fs::path c = dir.write("c.zem", "program c\nuse \"./b.zem\" as b\n");
  World world = make_disk_world();
  const std::string a_key = compiler::display_path(compiler::canonical_path(a));
  const std::string c_key = compiler::display_path(compiler::canonical_path(c));
  EXPECT_EQ(world.transitive_imports(world.analysis_for_path(a)).count(a_key), 1u);
  EXPECT_EQ(world.transitive_imports(world.analysis_for_path(c)).count(c_key), 0u);
}

TEST(WorldImports, DependentsAreTheOpenDocumentsImportingDirectlyOrNot) {
  TempDir dir;
  const fs::path base = dir.write("base.zem", "program base\n");
  const fs::path mid = dir.write("mid.zem", "program mid\nuse \"./base.zem\" as base\n");
  const fs::path top = dir.write("top.zem", "program top\nuse \"./mid.zem\" as mid\n");
  const fs::path other = dir.write("other.zem", "program other\n");
  World world = make_disk_world();
  for (const fs::path& p : {base, top, other}) world.did_open(path_to_uri(p), *compiler::ModuleSources{}.read_text(p), 1);
  EXPECT_EQ(world.dependents(path_to_uri(base)), (Strings{path_to_uri(top)}));
  EXPECT_TRUE(world.dependents(path_to_uri(top)).empty());
  EXPECT_TRUE(world.dependents("untitled:never-opened").empty());
  (void)mid;
}

TEST(WorldImports, DependentsOfManyAreThoseOfEachLeavingOutTheOnesAsked) {
  // base <- via (on disk only) <- top; loop_a <-> loop_b -> base; lone and an untitled document import nothing
  // that resolves.
  TempDir dir;
  const fs::path base = dir.write("base.zem", "program base\n");
  dir.write("via.zem", "program via\nuse \"./base.zem\" as base\n");
  const fs::path top = dir.write("top.zem", "program top\nuse \"./via.zem\" as via\n");
  const fs::path loop_a = dir.write("loop_a.zem", "program loop_a\nuse \"./loop_b.zem\" as b\n");
  const fs::path loop_b = dir.write("loop_b.zem", "program loop_b\nuse \"./loop_a.zem\" as a\nuse \"./base.zem\" as base\n");
  const fs::path lone = dir.write("lone.zem", "program lone\n");
  World world = make_disk_world();
  std::map<std::string, std::string> uri;
  for (const fs::path& p : {base, top, loop_a, loop_b, lone}) {
    uri[p.stem().string()] = path_to_uri(p);
    world.did_open(path_to_uri(p), *compiler::ModuleSources{}.read_text(p), 1);
  }
  world.did_open("untitled:scratch", "program scratch\nuse \"./base.zem\" as base\n", 1);

  struct Case {
    Strings asked;
    Strings expected;
  };
  const Case cases[] = {
      {{"base"}, {"loop_a", "loop_b", "top"}},
      {{"loop_a"}, {"loop_b"}},
      {{"loop_a", "loop_b"}, {}},
      {{"base", "loop_a"}, {"loop_b", "top"}},
      {{"top", "lone"}, {}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    Strings asked, expected;
    for (const std::string& name : c.asked) asked.push_back(uri[name]);
    for (const std::string& name : c.expected) expected.push_back(uri[name]);
    EXPECT_EQ(world.dependents(asked), expected) << testing::PrintToString(c.asked);
    // The same as asking about each one alone, less the ones asked.
    std::set<std::string> one_by_one;
    for (const std::string& u : asked)
      for (const std::string& d : world.dependents(u)) one_by_one.insert(d);
    for (const std::string& u : asked) one_by_one.erase(u);
    EXPECT_EQ(Strings(one_by_one.begin(), one_by_one.end()), expected) << testing::PrintToString(c.asked);
  }
}

TEST(WorldImports, OpenDocumentsInAMissingFolderResolveEachOtherHoweverSpelled) {
  TempDir dir;
  const fs::path ghost = dir.path() / "ghost";  // never made: the documents exist only as opened
  const std::string a = path_to_uri(ghost / "app/a.zem");
  const std::string b = path_to_uri(ghost / "app/b.zem");
  const std::string c = path_to_uri(ghost / "app/sub/c.zem");
  World world = make_disk_world();
  world.did_open(a, "program a\nuse \"../app/./sub/c.zem\" as c\nuse \"./b.zem\" as b\n", 1);
  world.did_open(b, "program b\n\ndef f(x):\n  return missing\n", 1);
  world.did_open(c, "program c\n", 1);

  AnalysisPtr importer = world.analysis(a);
  for (const char* written : {"./b.zem", "./././b.zem", "../app/b.zem", "./sub/../b.zem", "../../ghost/app/b.zem"})
    EXPECT_EQ(world.resolve_import(*importer, written), world.analysis(b)) << written;
  EXPECT_EQ(world.resolve_import(*importer, "../app/./sub/c.zem"), world.analysis(c));
  // A ".." after a folder nobody has is refused, as the file system would refuse it.
  EXPECT_FALSE(world.resolve_import(*importer, "./nope/../b.zem"));
  EXPECT_FALSE(world.resolve_import(*importer, "./b.zem/../b.zem"));

  EXPECT_EQ(world.dependents(b), Strings{a});
  EXPECT_EQ(world.dependents(c), Strings{a});
  // The finding in b is shown in a, on the use that leads to b (not the first one).
  std::vector<LspDiagnostic> found = compute_diagnostics(world, importer, "https://example.test/errors");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].code, "unassigned_read");
  EXPECT_EQ(found[0].range.start.line, 2u);
  ASSERT_EQ(found[0].related.size(), 1u);
  EXPECT_EQ(found[0].related[0].location.uri, b);

  // Closed, b is found no more.
  world.did_close(b);
  EXPECT_FALSE(world.resolve_import(*world.analysis(a), "./b.zem"));
}

TEST(WorldDocuments, ClosingOneOfTwoUrisOfAFileKeepsTheOtherInTheOverlay) {
  TempDir dir;
  const fs::path file = dir.path() / "m.zem";
  const std::string plain = path_to_uri(file);
  const std::string dotted = path_to_uri(dir.path() / "./m.zem");
  ASSERT_NE(plain, dotted);
  World world = make_disk_world();
  world.did_open(plain, "program plain\n", 1);
  world.did_open(dotted, "program dotted\n", 1);
  world.did_close(dotted);
  EXPECT_EQ(world.module_sources().overlay.at(compiler::canonical_path(file)), "program plain\n");
  EXPECT_EQ(world.analysis_for_path(file)->index->symbols[0].name, "plain");
  world.did_close(plain);
  EXPECT_EQ(world.module_sources().overlay.count(compiler::canonical_path(file)), 0u);
}

TEST(WorldResolve, DefiningDocumentFollowsUnitsModulesAndCapabilities) {
  TempDir dir;
  dir.write("lib.zem", "program lib\nneeds net: tool\n\ndef fetch_all(x):\n  return x\n");
  const fs::path main = dir.write("main.zem", "program main\nuse \"./lib.zem\" as lib with net\nneeds net: tool\n");
  World world = make_disk_world();
  const std::string uri = path_to_uri(main);
  world.did_open(uri, "program main\nuse \"./lib.zem\" as lib with net\nneeds net: tool\n\ntask go:\n  return 1\n", 1);
  AnalysisPtr doc = world.analysis(uri);

  auto name_of = [&](const RefTarget& target) -> std::string {
    std::optional<ResolvedSymbol> found = world.defining_document(doc, target);
    if (!found) return "none";
    const std::string where = found->analysis == doc ? "here" : found->analysis == world.prelude() ? "std" : "lib";
    return where + ":" + found->declared().name;
  };
  EXPECT_EQ(name_of(ref::Unit{{"go"}}), "here:go");
  EXPECT_EQ(name_of(ref::Unit{{"stuck"}}), "std:stuck");
  EXPECT_EQ(name_of(ref::Unit{{"lib", "fetch_all"}}), "lib:fetch_all");
  EXPECT_EQ(name_of(ref::Unit{{"std", "repeats"}}), "std:repeats");
  EXPECT_EQ(name_of(ref::Unit{{"nothing"}}), "none");
  EXPECT_EQ(name_of(ref::UnitParameter{{"lib", "fetch_all"}, "x"}), "lib:x");
  EXPECT_EQ(name_of(ref::ModuleCapability{"lib", "net"}), "lib:net");
  EXPECT_EQ(name_of(ref::ModuleFile{"./lib.zem"}), "lib:lib");
  EXPECT_EQ(name_of(ref::ModuleFile{"./missing.zem"}), "none");
  EXPECT_EQ(name_of(ref::Builtin{"len"}), "none");
  EXPECT_EQ(world.defining_document(doc, ref::Unit{{"go"}}), world.defining_document(doc, ref::Local{
      doc->index->unit_names.at("go")}));
}

}  // namespace
}  // namespace dravelin::lsp
