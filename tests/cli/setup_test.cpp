// `dravelin setup` end to end: the built program in scratch directories with HOME set, its lines, links,
// receipt and modes, and every destination it must refuse and leave as it found it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_in_place.h"
#include "cli/setup.h"
#include "compiler/temp_dir.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;
using dravelin::compiler::test_support::TempDir;
using dravelin::testing::Outcome;
using dravelin::testing::Placement;
using dravelin::testing::run_in_place;

using dravelin::test_files::read_file;

void write_file(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string sha256sum(const fs::path& path) {
  const std::string command = "sha256sum '" + path.string() + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  char digest[65] = {};
  const size_t n = std::fread(digest, 1, 64, pipe);
  pclose(pipe);
  return std::string(digest, n);
}

std::string receipt_for(const fs::path& document) { return "dravelin-setup-v1 sha256=" + sha256sum(document) + "\n"; }

unsigned mode_of(const fs::path& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Everything below a directory, links and FIFOs included and never followed: path, type, mode, content.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::path& path = entry.path();
    std::ostringstream what;
    what << std::oct << mode_of(path) << ' ';
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      what << "link " << fs::read_symlink(path).string();
    } else if (fs::is_directory(status)) {
      what << "dir";
    } else if (fs::is_regular_file(status)) {
      what << "file " << read_file(path);
    } else {
      what << "other";
    }
    entries[fs::relative(path, root).string()] = what.str();
  }
  return entries;
}

// Replaces {S} (the scratch directory), {P} (the project) and {H} (the home directory) in a text.
std::string expand(std::string text, const fs::path& scratch) {
  const std::pair<std::string, std::string> marks[] = {
      {"{P}", (scratch / "project").string()}, {"{H}", (scratch / "home").string()}, {"{S}", scratch.string()}};
  for (const auto& [mark, value] : marks)
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
      text.replace(at, mark.size(), value);
  return text;
}

// Variables to set, or to unset when the value is absent.
using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

// A scratch directory holding an empty `project`, an empty `home` and an `outside` that nothing may touch.
class SetupCommand : public ::testing::Test {
 protected:
  SetupCommand() : scratch_(fs::canonical(temp_.path())) {
    for (const char* dir : {"project", "home", "outside"}) fs::create_directory(scratch_ / dir);
  }

  const fs::path& scratch() const { return scratch_; }

  // A placement with the environment changes and working directory of a case, the marks expanded.
  Placement placed(const Env& env, const std::string& cwd) const {
    Placement place;
    place.cwd = expand(cwd, scratch_);
    for (const auto& [name, value] : env)
      place.env.emplace_back(name, value ? std::optional(expand(*value, scratch_)) : std::nullopt);
    return place;
  }
  fs::path project() const { return scratch_ / "project"; }
  fs::path home() const { return scratch_ / "home"; }
  fs::path outside() const { return scratch_ / "outside"; }
  fs::path canonical_dir() const { return project() / ".agents/skills/dravelin"; }

  // Runs `dravelin setup` with the arguments, in the project unless told otherwise, with HOME set to `home`.
  Outcome setup(const std::vector<std::string>& args, Placement place = {}) const {
    if (place.cwd.empty()) place.cwd = project().string();
    place.env.insert(place.env.begin(), {"HOME", home().string()});
    std::vector<std::string> all{"setup"};
    for (const std::string& a : args) all.push_back(expand(a, scratch_));
    return run_in_place(place, all);
  }

 private:
  TempDir temp_;
  fs::path scratch_;
};

TEST_F(SetupCommand, FirstRunLinksTheCanonicalCopyAndTheSecondChangesNothing) {
  Placement tight;
  tight.umask = 027;
  const Outcome first = setup({"--agent", "claude-code"}, tight);
  ASSERT_FALSE(first.timed_out);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.out, expand("project: {P}/.agents/skills/dravelin (installed)\n"
                              "claude-code: {P}/.claude/skills/dravelin (installed)\n",
                              scratch()));

  const fs::path link = project() / ".claude/skills/dravelin";
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), canonical_dir());
  EXPECT_EQ(read_file(canonical_dir() / "SKILL.md"), dravelin::cli::skill_document());
  const std::string receipt = read_file(canonical_dir() / ".dravelin-setup-receipt");
  EXPECT_EQ(receipt, receipt_for(canonical_dir() / "SKILL.md"));
  EXPECT_EQ(receipt.size(), std::string("dravelin-setup-v1 sha256=").size() + 64 + 1);

  for (const char* dir : {".agents", ".agents/skills", ".agents/skills/dravelin", ".claude", ".claude/skills"})
    EXPECT_EQ(mode_of(project() / dir), 0750u) << dir;
  for (const char* file : {"SKILL.md", ".dravelin-setup-receipt"})
    EXPECT_EQ(mode_of(canonical_dir() / file), 0640u) << file;
  // Exactly the two files, and no temporary directory beside the copy.
  EXPECT_EQ(snapshot(project() / ".agents").size(), 4u);

  const auto before = snapshot(scratch());
  const Outcome second = setup({"--agent", "claude-code"});
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(second.out, expand("project: {P}/.agents/skills/dravelin (already installed)\n"
                               "claude-code: {P}/.claude/skills/dravelin (already installed)\n",
                               scratch()));
  EXPECT_EQ(snapshot(scratch()), before);
}

TEST_F(SetupCommand, ScopesAgentsAndRoots) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Env env;
    const char* cwd;  // the project when empty
    const char* out;
    std::vector<const char*> links;  // agent paths that must be links to the canonical copy
  };
  const Case cases[] = {
      {"codex in a project uses the canonical path itself",
       {"--agent", "codex"},
       {},
       "",
       "project: {P}/.agents/skills/dravelin (installed)\n",
       {}},
      {"repeated agents are installed once",
       {"--agent", "codex", "--agent", "claude-code", "--agent", "codex", "--agent", "claude-code"},
       {},
       "",
       "project: {P}/.agents/skills/dravelin (installed)\n"
       "claude-code: {P}/.claude/skills/dravelin (installed)\n",
       {"{P}/.claude/skills/dravelin"}},
      {"global installs under HOME with codex in its own directory",
       {"--global", "--agent", "codex", "--agent", "claude-code"},
       {},
       "",
       "global: {H}/.agents/skills/dravelin (installed)\n"
       "codex: {H}/.codex/skills/dravelin (installed)\n"
       "claude-code: {H}/.claude/skills/dravelin (installed)\n",
       {"{H}/.codex/skills/dravelin", "{H}/.claude/skills/dravelin"}},
      {"global falls back to USERPROFILE",
       {"--global", "--agent", "codex"},
       {{"HOME", std::nullopt}, {"USERPROFILE", "{H}"}},
       "",
       "global: {H}/.agents/skills/dravelin (installed)\n"
       "codex: {H}/.codex/skills/dravelin (installed)\n",
       {"{H}/.codex/skills/dravelin"}},
      {"a relative project path is printed canonical",
       {"--project", "project/../project/.", "--agent", "claude-code"},
       {},
       "{S}",
       "project: {P}/.agents/skills/dravelin (installed)\n"
       "claude-code: {P}/.claude/skills/dravelin (installed)\n",
       {"{P}/.claude/skills/dravelin"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(project());
    fs::remove_all(home());
    fs::create_directory(project());
    fs::create_directory(home());
    const Outcome done = setup(c.args, placed(c.env, c.cwd));
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.err, "");
    EXPECT_EQ(done.out, expand(c.out, scratch()));
    const bool global = c.args.front() == "--global";
    const fs::path canonical = (global ? home() : project()) / ".agents/skills/dravelin";
    EXPECT_EQ(read_file(canonical / "SKILL.md"), dravelin::cli::skill_document());
    for (const char* link : c.links) EXPECT_EQ(fs::read_symlink(expand(link, scratch())), canonical) << link;
    EXPECT_TRUE(fs::is_empty(global ? project() : home()));
  }
}

TEST_F(SetupCommand, CopiesAreIndependentAndALinkWillNotReplaceOne) {
  const std::string lines = "project: {P}/.agents/skills/dravelin ({status})\n"
                            "claude-code: {P}/.claude/skills/dravelin ({status})\n";
  auto with_status = [&](const std::string& status) {
    std::string text = lines;
    for (size_t at; (at = text.find("{status}")) != std::string::npos;) text.replace(at, 8, status);
    return expand(text, scratch());
  };
  const Outcome first = setup({"--copy", "--agent", "claude-code", "--agent", "codex"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, with_status("installed"));
  const fs::path copy = project() / ".claude/skills/dravelin";
  ASSERT_TRUE(fs::is_directory(fs::symlink_status(copy)));
  EXPECT_EQ(read_file(copy / "SKILL.md"), dravelin::cli::skill_document());
  EXPECT_EQ(read_file(copy / ".dravelin-setup-receipt"), receipt_for(copy / "SKILL.md"));
  EXPECT_NE(fs::status(copy).permissions(), fs::perms::none);

  const Outcome again = setup({"--copy", "--agent", "claude-code"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, with_status("already installed"));

  const auto before = snapshot(scratch());
  const Outcome linked = setup({"--agent", "claude-code"});
  EXPECT_EQ(linked.status, 1);
  EXPECT_EQ(linked.out, expand("project: {P}/.agents/skills/dravelin (already installed)\n", scratch()));
  EXPECT_EQ(linked.err, expand("dravelin: Skill destination is occupied: {P}/.claude/skills/dravelin\n", scratch()));
  EXPECT_EQ(snapshot(scratch()), before);
}

void install_codex(const fs::path& scratch) {
  Placement place;
  place.cwd = (scratch / "project").string();
  ASSERT_EQ(run_in_place(place, {"setup", "--agent", "codex"}).status, 0);
}

void write_skill_dir(const fs::path& dir, const std::string& document, const std::string& receipt) {
  fs::create_directories(dir);
  write_file(dir / "SKILL.md", document);
  write_file(dir / ".dravelin-setup-receipt", receipt);
}

std::string good_receipt() { return *dravelin::cli::skill_receipt(); }

TEST_F(SetupCommand, RefusesWhatItDidNotMakeAndLeavesItAsItWas) {
  struct Case {
    const char* name;
    void (*plant)(const fs::path& scratch);  // what stands there before the command
    std::vector<std::string> args;
    Env env;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"project is a file",
       [](const fs::path& s) { write_file(s / "afile", "x"); },
       {"--project", "{S}/afile", "--agent", "codex"}, {}, "",
       "dravelin: setup root must be a real directory: {S}/afile\n"},
      {"project does not exist",
       [](const fs::path&) {},
       {"--project", "{S}/missing", "--agent", "codex"}, {}, "",
       "dravelin: setup root does not exist: {S}/missing: No such file or directory\n"},
      {"project is a link to a directory",
       [](const fs::path& s) { fs::create_directory_symlink(s / "outside", s / "link"); },
       {"--project", "{S}/link", "--agent", "codex"}, {}, "",
       "dravelin: setup root must be a real directory: {S}/link\n"},
      {"global with neither HOME nor USERPROFILE",
       [](const fs::path&) {},
       {"--global", "--agent", "codex"}, {{"HOME", std::nullopt}, {"USERPROFILE", std::nullopt}}, "",
       "dravelin: HOME or USERPROFILE is required for --global\n"},
      {"global with HOME set but empty",
       [](const fs::path&) {},
       {"--global", "--agent", "codex"}, {{"HOME", ""}, {"USERPROFILE", "{H}"}}, "",
       "dravelin: setup root does not exist: : No such file or directory\n"},
      {"canonical skills directory is a link out of the project",
       [](const fs::path& s) {
         fs::create_directory(s / "project/.agents");
         fs::create_directory_symlink(s / "outside", s / "project/.agents/skills");
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill parent is not a real directory: {P}/.agents/skills\n"},
      {"agents directory is a FIFO",
       [](const fs::path& s) { mkfifo((s / "project/.agents").c_str(), 0644); },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill parent is not a real directory: {P}/.agents\n"},
      {"edited SKILL.md",
       [](const fs::path& s) {
         install_codex(s);
         std::ofstream(s / "project/.agents/skills/dravelin/SKILL.md", std::ios::app) << "my note\n";
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination has unmanaged or changed content: {P}/.agents/skills/dravelin\n"},
      {"edited receipt",
       [](const fs::path& s) {
         install_codex(s);
         write_file(s / "project/.agents/skills/dravelin/.dravelin-setup-receipt", "dravelin-setup-v1 sha256=0\n");
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination has unmanaged or changed content: {P}/.agents/skills/dravelin\n"},
      {"another version's skill with its own receipt",
       [](const fs::path& s) {
         const fs::path dir = s / "project/.agents/skills/dravelin";
         fs::create_directories(dir);
         write_file(dir / "SKILL.md", "# An older skill\n");
         write_file(dir / ".dravelin-setup-receipt", receipt_for(dir / "SKILL.md"));
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination has unmanaged or changed content: {P}/.agents/skills/dravelin\n"},
      {"SKILL.md is a link to a matching file outside",
       [](const fs::path& s) {
         write_file(s / "outside/SKILL.md", std::string(dravelin::cli::skill_document()));
         const fs::path dir = s / "project/.agents/skills/dravelin";
         fs::create_directories(dir);
         write_file(dir / ".dravelin-setup-receipt", good_receipt());
         fs::create_symlink(s / "outside/SKILL.md", dir / "SKILL.md");
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination has unmanaged or changed content: {P}/.agents/skills/dravelin\n"},
      {"receipt is a FIFO",
       [](const fs::path& s) {
         const fs::path dir = s / "project/.agents/skills/dravelin";
         fs::create_directories(dir);
         write_file(dir / "SKILL.md", std::string(dravelin::cli::skill_document()));
         mkfifo((dir / ".dravelin-setup-receipt").c_str(), 0644);
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination has unmanaged or changed content: {P}/.agents/skills/dravelin\n"},
      {"SKILL.md is a FIFO",
       [](const fs::path& s) {
         const fs::path dir = s / "project/.agents/skills/dravelin";
         fs::create_directories(dir);
         write_file(dir / ".dravelin-setup-receipt", good_receipt());
         mkfifo((dir / "SKILL.md").c_str(), 0644);
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination has unmanaged or changed content: {P}/.agents/skills/dravelin\n"},
      {"canonical path is a FIFO",
       [](const fs::path& s) {
         fs::create_directories(s / "project/.agents/skills");
         mkfifo((s / "project/.agents/skills/dravelin").c_str(), 0644);
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination is occupied: {P}/.agents/skills/dravelin\n"},
      {"canonical path is a link to a complete copy outside",
       [](const fs::path& s) {
         write_skill_dir(s / "outside/skill", std::string(dravelin::cli::skill_document()), good_receipt());
         fs::create_directories(s / "project/.agents/skills");
         fs::create_directory_symlink(s / "outside/skill", s / "project/.agents/skills/dravelin");
       },
       {"--agent", "codex"}, {}, "",
       "dravelin: Skill destination is occupied: {P}/.agents/skills/dravelin\n"},
      {"agent link points elsewhere",
       [](const fs::path& s) {
         install_codex(s);
         fs::create_directories(s / "project/.claude/skills");
         fs::create_directory_symlink(s / "outside", s / "project/.claude/skills/dravelin");
       },
       {"--agent", "claude-code"}, {}, "project: {P}/.agents/skills/dravelin (already installed)\n",
       "dravelin: Skill destination is occupied: {P}/.claude/skills/dravelin\n"},
      {"relative agent link that reaches the canonical copy",
       [](const fs::path& s) {
         install_codex(s);
         fs::create_directories(s / "project/.claude/skills");
         fs::create_directory_symlink("../../.agents/skills/dravelin", s / "project/.claude/skills/dravelin");
       },
       {"--agent", "claude-code"}, {}, "project: {P}/.agents/skills/dravelin (already installed)\n",
       "dravelin: Skill destination is occupied: {P}/.claude/skills/dravelin\n"},
      {"agent path is a FIFO",
       [](const fs::path& s) {
         install_codex(s);
         fs::create_directories(s / "project/.claude/skills");
         mkfifo((s / "project/.claude/skills/dravelin").c_str(), 0644);
       },
       {"--agent", "claude-code"}, {}, "project: {P}/.agents/skills/dravelin (already installed)\n",
       "dravelin: Skill destination is occupied: {P}/.claude/skills/dravelin\n"},
      {"agent path is a FIFO and copies are asked for",
       [](const fs::path& s) {
         install_codex(s);
         fs::create_directories(s / "project/.claude/skills");
         mkfifo((s / "project/.claude/skills/dravelin").c_str(), 0644);
       },
       {"--copy", "--agent", "claude-code"}, {}, "project: {P}/.agents/skills/dravelin (already installed)\n",
       "dravelin: Skill destination is occupied: {P}/.claude/skills/dravelin\n"},
      {"agent skills directory is a link out of the project",
       [](const fs::path& s) {
         install_codex(s);
         fs::create_directory(s / "project/.claude");
         fs::create_directory_symlink(s / "outside", s / "project/.claude/skills");
       },
       {"--copy", "--agent", "claude-code"}, {}, "project: {P}/.agents/skills/dravelin (already installed)\n",
       "dravelin: Skill parent is not a real directory: {P}/.claude/skills\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* dir : {"project", "home", "outside"}) {
      fs::remove_all(scratch() / dir);
      fs::create_directory(scratch() / dir);
    }
    for (const char* stray : {"afile", "link"}) fs::remove(scratch() / stray);
    c.plant(scratch());
    const auto before = snapshot(scratch());
    const Outcome done = setup(c.args, placed(c.env, ""));
    ASSERT_FALSE(done.timed_out) << "setup hung";
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.out, expand(c.out, scratch()));
    EXPECT_EQ(done.err, expand(c.err, scratch()));
    EXPECT_EQ(snapshot(scratch()), before);
  }
}

TEST_F(SetupCommand, AFailedWriteLeavesNoTemporaryDirectory) {
  Placement place;
  place.file_size_limit = 100;  // less than SKILL.md
  const Outcome done = setup({"--agent", "codex"}, place);
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(done.out, "");
  EXPECT_EQ(done.err, "dravelin: File too large\n");
  EXPECT_TRUE(fs::is_directory(project() / ".agents/skills"));
  EXPECT_TRUE(fs::is_empty(project() / ".agents/skills"));
}

}  // namespace
