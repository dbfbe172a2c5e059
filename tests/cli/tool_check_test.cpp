// `check --tools` end to end: the program's tool verbs against one manifest or a record of them, the reports
// and statuses, and the manifest files that are refused (never waited on).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "compiler/module_sources.h"
#include "compiler/temp_dir.h"

namespace {

using dravelin::compiler::kMaxSourceBytes;
using dravelin::compiler::test_support::TempDir;
using dravelin::testing::Finished;
using dravelin::testing::run_program;
namespace fs = std::filesystem;

// Tools `files` (read, write) and `mail` (archive, send), a tool `web` with no verb called, and an agent whose
// verb is no tool verb.
constexpr const char* kProgram =
    "program p\n\n"
    "needs files: tool:\n"
    "  read(path) -> text\n"
    "  write(path, body) -> none\n"
    "needs mail: tool\n"
    "needs web: tool\n"
    "needs bot: agent\n\n"
    "task main:\n"
    "  body = files.read \"notes.txt\"\n"
    "  files.write \"copy.txt\", body\n"
    "  mail.send \"ops\", body\n"
    "  mail.archive \"ops\"\n"
    "  run = bot.spawn \"tidy up\"\n"
    "  return\n";

// The lines of a report that do not begin with two spaces: one header per report.
std::vector<std::string> headers(const std::string& err) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(start, end - start);
    if (line.rfind("  ", 0) != 0) out.push_back(line);
    start = end + 1;
  }
  return out;
}

class ToolCheck : public ::testing::Test {
 protected:
  Finished check(const std::string& manifest, const char* program = kProgram) {
    const fs::path file = dir_.write("p.zem", program);
    const fs::path tools = dir_.write("tools.json", manifest);
    return run_program("dravelin", {"check", file.string(), "--tools", tools.string()});
  }
  std::string file() const { return (dir_.path() / "p.zem").string(); }
  std::string tools() const { return (dir_.path() / "tools.json").string(); }

  TempDir dir_;
};

TEST_F(ToolCheck, AMissingVerbIsAFullReportWithoutASourceLocation) {
  const Finished done = check(R"({"verbs": {"read": {}, "write": {}, "send": {}}})");
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.out, "");
  EXPECT_EQ(done.err, file() +
                          ":0:0: verb_missing: mail.archive\n"
                          "  | source location unavailable\n"
                          "  cause: A bound tool does not implement a called verb.\n"
                          "  help: Bind an adapter whose manifest implements the verb, or correct the program's "
                          "verb name.\n"
                          "  docs: https://dravelin.dev/docs/error-reference#verb_missing\n");
}

TEST_F(ToolCheck, VerbsAreLookedUpInTheManifestOfTheirTool) {
  struct Case {
    const char* name;
    const char* manifest;
    std::vector<std::string> missing;  // the reports' messages, in order
  };
  const Case cases[] = {
      {"one manifest declaring every verb", R"({"verbs": {"archive": {}, "read": {}, "send": {}, "write": {}}})",
       {}},
      {"one manifest serves every tool", R"({"verbs": {"read": {}}})",
       {"files.write", "mail.archive", "mail.send"}},
      {"one manifest with other members beside verbs", R"({"verbs": {"read": {}, "write": {}}, "mail": 1})",
       {"mail.archive", "mail.send"}},
      {"record by tool name, a tool without an entry",
       R"({"files": {"verbs": {"read": {}, "write": {}}}, "web": {"verbs": {}}})",
       {"mail.archive (no manifest for `mail`)", "mail.send (no manifest for `mail`)"}},
      {"record with every tool short of verbs", R"({"files": {"verbs": {}}, "mail": {"verbs": {"send": {}}}})",
       {"files.read", "files.write", "mail.archive"}},
      {"empty record", "{}",
       {"files.read (no manifest for `files`)", "files.write (no manifest for `files`)",
        "mail.archive (no manifest for `mail`)", "mail.send (no manifest for `mail`)"}},
      {"empty name serves the tools without an entry of their own",
       R"({"": {"verbs": {"archive": {}, "send": {}, "write": {}}}, "files": {"verbs": {"read": {}}}})",
       {"files.write"}},
      {"positional manifests, params and returns ignored",
       R"({"files": [{"read": [], "write": [["path", "body"], "nothing"]}],
           "mail": [{"send": {"params": ["to"]}, "archive": {"returns": null}}]})",
       {}},
      {"a member named verbs that is no object names a tool", R"({"verbs": [{}], "files": [{"read": {}}]})",
       {"files.write", "mail.archive (no manifest for `mail`)", "mail.send (no manifest for `mail`)"}},
      {"a repeated tool keeps its last manifest",
       R"({"files": {"verbs": {"read": {}, "write": {}}}, "files": {"verbs": {"read": {}}}, "mail": [{}]})",
       {"files.write", "mail.archive", "mail.send"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished done = check(c.manifest);
    EXPECT_EQ(done.status, c.missing.empty() ? 0 : 1) << done.err;
    EXPECT_EQ(done.out, "");
    std::vector<std::string> expected;
    for (const std::string& message : c.missing) expected.push_back(file() + ":0:0: verb_missing: " + message);
    EXPECT_EQ(headers(done.err), expected) << done.err;
  }
}

TEST_F(ToolCheck, AProgramWithoutToolVerbsPassesAnyManifest) {
  const Finished done = check(R"({"web": {"verbs": {}}})",
                              "program q\n\nneeds web: tool\nneeds bot: agent\n\ntask main:\n"
                              "  run = bot.spawn \"x\"\n  return\n");
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.err, "");
}

TEST_F(ToolCheck, TheProgramIsCompiledAndReportedBeforeTheManifestIsRead) {
  // The manifest would be refused, but a program with errors never gets that far.
  const Finished broken = check("not json", "program b\n\ntask main:\n  x = 1 +\n");
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find(":4:9: syntax: "), std::string::npos) << broken.err;
  EXPECT_EQ(broken.err.find("dravelin: "), std::string::npos) << broken.err;

  // Warnings come first, then the tool reports.
  const Finished warned = check(R"({"verbs": {}})",
                                "program w\n\nneeds web: tool\n\n"
                                "machine m():\n  initial start\n  state start:\n"
                                "    on go \"always\" -> stuck\n    on finish \"done\" -> end:\n      web.fetch\n"
                                "  state stuck:\n    on spin \"again\" -> stuck\n  state end done\n");
  EXPECT_EQ(warned.status, 1);
  const std::vector<std::string> lines = headers(warned.err);
  ASSERT_EQ(lines.size(), 2u) << warned.err;
  EXPECT_NE(lines[0].find("warning: machine_unreachable_done"), std::string::npos) << warned.err;
  EXPECT_EQ(lines[1], file() + ":0:0: verb_missing: web.fetch");
}

TEST_F(ToolCheck, AProgramFromStdinIsLabelledAsGiven) {
  const fs::path tools = dir_.write("tools.json", R"({"verbs": {}})");
  const Finished done = run_program("dravelin", {"check", "-", "--tools=" + tools.string()}, kProgram);
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(headers(done.err).front(), "-:0:0: verb_missing: files.read") << done.err;
}

TEST_F(ToolCheck, ManifestFilesThatCannotBeReadEndWithTheirMessage) {
  struct Case {
    const char* name;
    std::string manifest;
    std::string message;  // after "dravelin: "; TOOLS stands for the manifest's path
  };
  const std::string tools_mark = "TOOLS";
  const Case cases[] = {
      {"empty file", "", "`TOOLS` is not JSON: EOF while parsing a value at line 1 column 0"},
      {"unfinished object", "{", "`TOOLS` is not JSON: EOF while parsing an object at line 1 column 1"},
      {"text after the value", "{\"verbs\": {}} x", "`TOOLS` is not JSON: trailing characters at line 1 column 15"},
      {"bytes that are not UTF-8", "{\"verbs\": {\"\xff\": {}}}",
       "cannot read `TOOLS`: stream did not contain valid UTF-8"},
      {"an array", R"([{"verbs": {}}])",
       "`TOOLS` must be a manifest `{ \"verbs\": { ... } }` or a record of them by capability name"},
      {"a string", R"("verbs")",
       "`TOOLS` must be a manifest `{ \"verbs\": { ... } }` or a record of them by capability name"},
      {"a verb that is no record", R"({"verbs": {"read": "x"}})",
       "invalid type: string \"x\", expected struct ManifestVerb"},
      {"a tool's manifest without verbs", R"({"files": {"verbs": {}}, "mail": {}})", "missing field `verbs`"},
      {"an empty positional manifest", R"({"files": []})",
       "invalid length 0, expected struct ToolManifest with 1 element"},
      {"a positional manifest of two", R"({"files": [{}, {}]})",
       "invalid length 2, expected fewer elements in array"},
      {"a tool's manifest that is a number", R"({"files": 3})",
       "invalid type: integer `3`, expected struct ToolManifest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished done = check(c.manifest);
    std::string message = c.message;
    if (const size_t at = message.find(tools_mark); at != std::string::npos)
      message.replace(at, tools_mark.size(), tools());
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err, "dravelin: " + message + "\n");
  }
}

TEST_F(ToolCheck, ManifestPathsThatAreNoRegularFileAreRefusedAtOnce) {
  const fs::path file = dir_.write("p.zem", kProgram);
  const fs::path fifo = dir_.path() / "fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path folder = dir_.path() / "manifests";
  fs::create_directory(folder);
  const fs::path huge = dir_.write("huge.json", "");
  fs::resize_file(huge, kMaxSourceBytes + 1);
  struct Case {
    const char* name;
    std::string path;
    std::string os_text;
  };
  const Case cases[] = {
      {"a FIFO without a writer", fifo.string(), "not a regular file (a named pipe)"},
      {"a directory", folder.string(), "Is a directory"},
      {"a device", "/dev/zero", "not a regular file (a character device)"},
      {"a file over the size limit", huge.string(), "larger than the 64 MiB limit for manifest files"},
      {"a missing file", (dir_.path() / "absent.json").string(), "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished done = run_program("dravelin", {"check", file.string(), "--tools", c.path});
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.err, "dravelin: cannot read `" + c.path + "`: " + c.os_text + "\n");
  }
}

}  // namespace
