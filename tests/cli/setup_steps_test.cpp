// The installer's steps in-process: the window before the final rename, temporary names, content checks that
// never follow a link or wait on a FIFO, path comparison, and the bundled document itself.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cli/setup.h"
#include "cli/setup_files.h"
#include "cli/setup_steps.h"
#include "compiler/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using dravelin::cli::Fd;
using dravelin::cli::SkillPath;
using dravelin::compiler::test_support::TempDir;
using ::testing::ElementsAre;

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A project root opened as the installer opens it, with the canonical skill path prepared under it.
class SkillDirSteps : public ::testing::Test {
 protected:
  SkillDirSteps() : root_path_(fs::canonical(temp_.path())) {
    fs::create_directory(root_path_ / "project");
    fs::create_directory(root_path_ / "outside");
    root_ = Fd(::open((root_path_ / "project").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }

  SkillPath prepare() {
    auto path = dravelin::cli::prepare_skill_path(root_.get(), root_path_ / "project", ".agents");
    EXPECT_TRUE(path.ok());
    return std::move(path).value();
  }
  std::string receipt() const { return *dravelin::cli::skill_receipt(); }
  fs::path skills() const { return root_path_ / "project/.agents/skills"; }
  fs::path outside() const { return root_path_ / "outside"; }

 private:
  TempDir temp_;
  fs::path root_path_;
  Fd root_;
};

TEST_F(SkillDirSteps, ADestinationCreatedBeforeTheRenameIsReportedAndKept) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& dest, const fs::path& outside)> appear;
  };
  const Case cases[] = {
      {"empty directory", [](const fs::path& dest, const fs::path&) { fs::create_directory(dest); }},
      {"link to outside", [](const fs::path& dest, const fs::path& out) { fs::create_directory_symlink(out, dest); }},
      {"FIFO", [](const fs::path& dest, const fs::path&) { mkfifo(dest.c_str(), 0644); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(skills());
    const SkillPath dest = prepare();
    auto result = dravelin::cli::install_skill_dir(dest, receipt(), [&] { c.appear(dest.path, outside()); });
    ASSERT_FALSE(result.ok());
    EXPECT_THAT(result.error().messages, ElementsAre("installing " + dest.path.string(), "File exists"));
    // What the other process made is still there, untouched, and the assembled copy is gone.
    EXPECT_THAT(names_in(skills()), ElementsAre("dravelin"));
    const fs::file_status status = fs::symlink_status(dest.path);
    if (fs::is_directory(status)) {
      EXPECT_TRUE(fs::is_empty(dest.path));
    }
    EXPECT_TRUE(fs::is_empty(outside()));
  }
}

TEST_F(SkillDirSteps, AParentSwappedForALinkNeverSendsTheCopyOutside) {
  const SkillPath dest = prepare();
  const fs::path moved = skills().parent_path() / "skills-moved";
  auto result = dravelin::cli::install_skill_dir(dest, receipt(), [&] {
    fs::rename(skills(), moved);
    fs::create_directory_symlink(outside(), skills());
  });
  ASSERT_TRUE(result.ok()) << result.error().messages.front();
  EXPECT_TRUE(fs::is_empty(outside()));
  EXPECT_THAT(names_in(moved / "dravelin"), ElementsAre(".dravelin-setup-receipt", "SKILL.md"));
}

TEST_F(SkillDirSteps, TemporaryNamesSkipLeftoversAndRunOut) {
  const SkillPath dest = prepare();
  const std::string prefix = ".dravelin-setup-" + std::to_string(getpid()) + "-";
  fs::create_directory(skills() / (prefix + "0"));
  auto installed = dravelin::cli::install_skill_dir(dest, receipt());
  ASSERT_TRUE(installed.ok()) << installed.error().messages.front();
  EXPECT_EQ(*installed, "installed");
  // The leftover is not this call's to remove; number 1 became the skill.
  EXPECT_THAT(names_in(skills()), ElementsAre(prefix + "0", "dravelin"));

  fs::remove_all(dest.path);
  for (int n = 1; n < 1000; ++n) fs::create_directory(skills() / (prefix + std::to_string(n)));
  auto exhausted = dravelin::cli::install_skill_dir(dest, receipt());
  ASSERT_FALSE(exhausted.ok());
  EXPECT_THAT(exhausted.error().messages, ElementsAre("no free temporary Skill directory name"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest.path)));
}

TEST(FileHasContent, OnlyARegularFileWithExactlyTheseBytes) {
  TempDir temp;
  const fs::path dir = temp.path();
  temp.write("exact", "skill\n");
  temp.write("outside-exact", "skill\n");
  temp.write("shorter", "skil");
  temp.write("longer", "skill\n\n");
  temp.write("changed", "Skill\n");
  fs::create_symlink(dir / "outside-exact", dir / "link");
  mkfifo((dir / "fifo").c_str(), 0644);
  fs::create_directory(dir / "directory");
  const Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct Case {
    const char* name;
    bool expected;
  };
  const Case cases[] = {
      {"exact", true},   {"shorter", false}, {"longer", false},    {"changed", false},
      {"link", false},   {"fifo", false},    {"directory", false}, {"missing", false},
  };
  // A FIFO opened for reading waits for a writer unless opened non-blocking: end the test rather than hang it.
  alarm(20);
  for (const Case& c : cases) EXPECT_EQ(dravelin::cli::file_has_content(fd.get(), c.name, "skill\n"), c.expected) << c.name;
  alarm(0);
}

TEST(WriteNewFile, NeverReplacesOrFollowsWhatIsThere) {
  TempDir temp;
  temp.write("outside", "keep\n");
  fs::create_symlink(temp.path() / "outside", temp.path() / "link");
  temp.write("taken", "mine\n");
  const Fd fd(::open(temp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (const char* name : {"link", "taken"}) {
    auto written = dravelin::cli::write_new_file(fd.get(), name, "new\n");
    ASSERT_FALSE(written.ok()) << name;
    EXPECT_THAT(written.error().messages, ElementsAre("File exists"));
  }
  std::ifstream outside(temp.path() / "outside");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(outside), {}), "keep\n");
}

TEST(SameComponents, ComparesNamesNotSpelling) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"/p/.agents/skills/dravelin", "/p/.agents/skills/dravelin", true},
      {"/p//.agents/skills/dravelin/", "/p/.agents/./skills/dravelin", true},
      {"/p/.agents/skills/dravelin", "p/.agents/skills/dravelin", false},
      {"/p/.claude/../.agents/skills/dravelin", "/p/.agents/skills/dravelin", false},
      {"/p/.agents/skills/dravelin", "/p/.agents/skills/Dravelin", false},
      {"/p/.agents/skills", "/p/.agents/skills/dravelin", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(dravelin::cli::same_components(c.a, c.b), c.same) << c.a << " vs " << c.b;
}

// Joins the lines of each block between empty lines with blanks.
std::vector<std::string> blocks_of(std::string_view text) {
  std::vector<std::string> blocks{""};
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    if (line.empty()) {
      blocks.emplace_back();
    } else {
      if (!blocks.back().empty()) blocks.back() += ' ';
      blocks.back() += line;
    }
    at = end + 1;
  }
  return blocks;
}

TEST(SkillDocument, HoldsTheFrontMatterHeadingAndParagraphsWrapped) {
  const std::string_view document = dravelin::cli::skill_document();
  ASSERT_FALSE(document.empty());
  EXPECT_EQ(document.back(), '\n');
  EXPECT_EQ(document.find("\r"), std::string_view::npos);
  const std::string front =
      "---\nname: dravelin\ndescription: Write, check, run, and replay Dravelin programs that use Zem judgments "
      "and host-bound agent capabilities. Use for .zem files and Dravelin SDK integration.\n---\n\n";
  ASSERT_EQ(document.substr(0, front.size()), front);
  const std::string_view body = document.substr(front.size());
  EXPECT_THAT(
      blocks_of(body),
      ElementsAre(
          "# Dravelin",
          "The language authority is `spec/dravelin-language-specification.md` when the source repository is "
          "available. Do not infer language names or runtime behavior from a host adapter. Dravelin decides with "
          "declared questions; the host owns credentials, capabilities, filesystem effects, and whether to resume "
          "a pause.",
          "Start from a `.zem` example close to the task. Run `dravelin check file.zem` for diagnostics and "
          "`dravelin compile file.zem` to inspect the linked IR. `--tools manifest.json` on `check` verifies "
          "referenced tool verbs against a host manifest. A model-backed judgment needs `VELTRANE_API_KEY` and a "
          "model profile; a local check does not.",
          "Use `dravelin run file.zem --input '{...}'` to run `main` interactively. Bind each external capability "
          "explicitly with `--bind NAME=COMMAND`. `--stub NAME` selects a demonstration adapter and is not a real "
          "agent. Use `--record new.jsonl` when the run needs an auditable trace. `dravelin replay new.jsonl` "
          "replays from the recording without live model or adapter calls. Keep a redacted recording's private "
          "`.replay.jsonl` companion with it; it contains sensitive full values.",
          "Keep decision questions narrow, declare their answer labels, and send only the named subjects to Zem. "
          "Treat agent-written text as observations, not authority for control flow. A `done` machine state is "
          "`verified` only when entered through its declared guard. Test effectful behavior with a host adapter "
          "or recording, not from a successful compile alone."));
  for (size_t at = 0; at < body.size();) {
    const size_t end = body.find('\n', at);
    const std::string_view line = body.substr(at, end - at);
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_TRUE(line.empty() || line.back() != ' ') << line;
    at = end + 1;
  }
}

}  // namespace
