// Every program the tests can find (the examples and every source under tests/testdata that compiles) is
// compiled, written in the three output forms, read back, and must equal the compiled IR. The golden IR files
// read back and write out again byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compile.h"
#include "compiler/project_root.h"
#include "ir/read_json.h"
#include "ir/write_json.h"
#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::compiler {
namespace {

namespace fs = std::filesystem;

using testing::read_file;

// Runs with the project's root as the working directory, as the compile goldens do.
class IrJsonRoundTrip : public testing::AtProjectRoot {
 protected:
  // The programs under `examples/` and `tests/testdata/` that compile; most test sources there are meant to fail.
  static std::vector<std::pair<fs::path, ir::Ir>> compiled_corpus() {
    std::vector<fs::path> sources;
    for (const char* root : {"examples", "tests/testdata"}) {
      for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().extension() == ".zem") sources.push_back(entry.path());
      }
    }
    std::sort(sources.begin(), sources.end());
    std::vector<std::pair<fs::path, ir::Ir>> out;
    for (const fs::path& source : sources) {
      auto compiled = compile_file(source, ModuleSources{});
      if (compiled.ok()) out.emplace_back(source, std::move(compiled->ir));
    }
    return out;
  }
};

void expect_reads_back(const std::string& text, const ir::Ir& expected, const char* form) {
  auto read = ir::read_ir_json_text(text);
  ASSERT_TRUE(read.ok()) << form << ": " << read.error();
  EXPECT_TRUE(*read == expected) << form;
}

// Which variant names of each tagged union a document uses, found by the tag keys.
void collect_tags(const json::Value& value, std::map<std::string, std::set<std::string>>& tags) {
  static const std::set<std::string> kTagKeys = {"node", "stmt", "shape", "verb", "policy", "step", "part"};
  if (const json::Array* items = value.if_array()) {
    for (const json::Value& item : *items) collect_tags(item, tags);
  } else if (const json::Object* object = value.if_object()) {
    for (const json::Member& member : *object) {
      if (kTagKeys.count(member.key) && member.value.is_string()) tags[member.key].insert(member.value.as_string());
      collect_tags(member.value, tags);
    }
  }
}

template <class Union>
void expect_every_variant(const std::map<std::string, std::set<std::string>>& tags) {
  const auto found = tags.find(std::string(ir::VariantNames<Union>::tag));
  ASSERT_NE(found, tags.end()) << ir::VariantNames<Union>::tag;
  for (std::string_view name : ir::VariantNames<Union>::names) {
    EXPECT_TRUE(found->second.count(std::string(name))) << "no program uses the variant " << name;
  }
}

TEST_F(IrJsonRoundTrip, EveryCompiledProgramReadsBackFromEachOutputForm) {
  const auto corpus = compiled_corpus();
  ASSERT_FALSE(corpus.empty());
  std::map<std::string, std::set<std::string>> tags;
  for (const auto& [source, ir] : corpus) {
    SCOPED_TRACE(source.string());
    const std::string pretty = ir::ir_program_to_pretty_json(ir);
    std::string compact;
    json::Writer compact_out(compact, json::Layout::Compact, json::FloatStyle::Ir);
    ir::write_json(ir, compact_out);
    const json::Value value = ir::ir_program_to_json_value(ir);

    expect_reads_back(pretty, ir, "pretty");
    expect_reads_back(compact, ir, "compact");
    expect_reads_back(json::to_compact(value, json::FloatStyle::Ir), ir, "printed value form");
    auto from_value = ir::read_ir_json(value);
    ASSERT_TRUE(from_value.ok()) << from_value.error();
    EXPECT_TRUE(*from_value == ir) << "value form";
    // What is read back writes out as the same text.
    EXPECT_EQ(ir::ir_program_to_pretty_json(*from_value), pretty);
    collect_tags(value, tags);
  }
  // The corpus holds every kind of node, so the round trip above tried each of them.
  expect_every_variant<ir::Expr>(tags);
  expect_every_variant<ir::Stmt>(tags);
  expect_every_variant<ir::Shape>(tags);
  expect_every_variant<ir::JudgeVerb>(tags);
  expect_every_variant<ir::ShapePolicy>(tags);
  expect_every_variant<ir::SubjectStep>(tags);
  expect_every_variant<ir::TextPart>(tags);
}

TEST_F(IrJsonRoundTrip, GoldenIrFilesReadAndWriteBackByteForByte) {
  const fs::path testdata(DRAVELIN_TESTDATA);
  std::vector<fs::path> goldens;
  for (const char* dir : {"compile", "ir"}) {
    for (const auto& entry : fs::directory_iterator(testdata / dir)) {
      if (entry.path().extension() == ".json") goldens.push_back(entry.path());
    }
  }
  ASSERT_FALSE(goldens.empty());
  for (const fs::path& golden : goldens) {
    SCOPED_TRACE(golden.string());
    const std::string text = read_file(golden);
    auto read = ir::read_ir_json_text(text);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(ir::ir_program_to_pretty_json(*read) + "\n", text);
  }
}

}  // namespace
}  // namespace dravelin::compiler
