// A recording of any program the compiler accepts must load again: the start line carries the linked program,
// and the deepest programs nest far deeper in JSON than in their source.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "compiler/compile.h"
#include "compiler/temp_dir.h"
#include "json/reader.h"
#include "record/recorded_event.h"
#include "record/sink.h"
#include "record_test_support.h"
#include "zem/profile.h"

namespace dravelin::record {
namespace {

using compiler::test_support::TempDir;

// The deepest nesting of arrays and objects in a JSON text, the outermost being level 1.
int json_depth(std::string_view text) {
  int depth = 0;
  int deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

std::string indent(int levels) { return std::string(2 * static_cast<size_t>(levels), ' '); }

// Programs whose nesting grows with n, each by the construct that adds the most JSON levels per level of source
// nesting.
struct Shape {
  std::string name;
  std::function<std::string(int)> program;
};

std::vector<Shape> deep_shapes() {
  return {
      {"ifs in a task",
       [](int n) {
         std::string text = "program deep\n\ntask main:\n";
         for (int i = 0; i < n; ++i) text += indent(i + 1) + "if true:\n";
         return text + indent(n + 1) + "x = 1\n";
       }},
      {"ifs in a machine's transition",
       [](int n) {
         std::string text = "program deep\n\nmachine m():\n  initial a\n  state a:\n    on go \"go\" -> b:\n";
         for (int i = 0; i < n; ++i) text += indent(i + 3) + "if true:\n";
         return text + indent(n + 3) + "x = 1\n  state b done\n\ntask main:\n  r = m()\n  return r\n";
       }},
      {"calls",
       [](int n) {
         std::string call = "1";
         for (int i = 0; i < n; ++i) call = "f(" + call + ")";
         return "program deep\n\ndef f(a):\n  return a\n\ntask main:\n  x = " + call + "\n";
       }},
      {"interpolations",
       [](int n) {
         std::string text = "1";
         for (int i = 0; i < n; ++i) text = "\"{" + text + "}\"";
         return "program deep\n\ntask main:\n  x = " + text + "\n";
       }},
      {"record shapes of an input",
       [](int n) {
         std::string shape = "text";
         for (int i = 0; i < n; ++i) shape = "{a: " + shape + "}";
         return "program deep\n\nin t: " + shape + "\n\ntask main:\n  return 1\n";
       }},
  };
}

TEST(DeepPrograms, TheStartLineOfEveryProgramTheCompilerAcceptsLoads) {
  TempDir dir;
  const zem::ProfileMap profiles = zem::bundled_profiles();
  int deepest_line = 0;
  for (const Shape& shape : deep_shapes()) {
    SCOPED_TRACE(shape.name);
    // The deepest program of this shape that compiles: the parser's nesting limit stops the others.
    std::optional<ir::Ir> program;
    int n = 110;
    for (; n > 0 && !program; --n) {
      auto compiled = compiler::compile_file(dir.write("p.zem", shape.program(n)), compiler::ModuleSources{});
      if (compiled.ok()) program = std::move(compiled).value().ir;
    }
    ASSERT_TRUE(program.has_value());
    EXPECT_GE(n, 90) << "the shape should nest close to the parser's limit";

    const auto path = dir.path() / (shape.name + ".jsonl");
    auto recorder = FileRecorder::create(path.string(), "run_1_1", false);
    ASSERT_TRUE(recorder.ok()) << recorder.error().text();
    (*recorder)->with_metadata(ExecutionMetadata{*program, profiles.at("zem-1.13.0"), Sample{}});
    ASSERT_TRUE((*recorder)->record(Event{Event::Start{"deep", "main", {}, {}, "0.1"}}).ok());
    (*recorder)->close();

    std::string line;
    std::ifstream in(path, std::ios::binary);
    std::getline(in, line);
    const int depth = json_depth(line);
    deepest_line = std::max(deepest_line, depth);
    EXPECT_LT(depth, kRecordingLineDepthLimit);
    auto parsed = json::parse(line, json::ReadOptions{.recursion_limit = kRecordingLineDepthLimit});
    EXPECT_TRUE(parsed.ok()) << parsed.error().text();
    auto read = RecordedEvent::read_line(line);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->event, (Event{Event::Start{"deep", "main", {}, {}, "0.1"}}));
    // The linked program comes back whole, so the recording can be replayed.
    ASSERT_TRUE(read->metadata.has_value());
    EXPECT_TRUE(read->metadata->ir == *program);
    EXPECT_EQ(read->metadata->profile, profiles.at("zem-1.13.0"));
  }
  // The general reader's limit of 128 levels would refuse the deepest of these lines.
  EXPECT_GT(deepest_line, 128);
}

}  // namespace
}  // namespace dravelin::record
