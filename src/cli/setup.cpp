#include "cli/setup.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "base/sha256.h"
#include "cli/output.h"
#include "cli/setup_files.h"
#include "cli/setup_steps.h"

namespace dravelin::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDocumentName = "SKILL.md";
constexpr const char* kReceiptName = ".dravelin-setup-receipt";
constexpr const char* kReceiptFormat = "dravelin-setup-v1";
constexpr const char* kCanonicalDir = ".agents";
constexpr const char* kSkillsDir = "skills";
constexpr int kTemporaryNames = 1000;

struct AgentPlace {
  SkillAgent agent;
  const char* name;         // as printed
  const char* project_dir;  // D under a project root
  const char* global_dir;   // D under the home directory
};

constexpr std::array<AgentPlace, 2> kAgentPlaces{{
    {SkillAgent::codex, "codex", ".agents", ".codex"},
    {SkillAgent::claude_code, "claude-code", ".claude", ".claude"},
}};

const AgentPlace& place_of(SkillAgent agent) {
  for (const AgentPlace& place : kAgentPlaces)
    if (place.agent == agent) return place;
  return kAgentPlaces.front();  // unreachable: the table holds every agent
}

CliError os_error(int error) { return CliError::of(os_error_text(error)); }

bool names_something_else(int error) { return error == ELOOP || error == ENOTDIR; }

void print_line(std::FILE* out, const std::string& label, const fs::path& path, const std::string& status) {
  const std::string line = label + ": " + path.string() + " (" + status + ")\n";
  write_text(out, line);
}

// The root as the user chose it: the home directory, the project or the current directory.
Result<fs::path, CliError> chosen_root(bool global, const std::optional<fs::path>& project) {
  if (global) {
    const char* home = std::getenv("HOME");
    if (home == nullptr) home = std::getenv("USERPROFILE");
    if (home == nullptr) return err(CliError::of("HOME or USERPROFILE is required for --global"));
    return fs::path(home);
  }
  if (project) return *project;
  std::string buffer(PATH_MAX, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return err(os_error(errno));
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return fs::path(buffer);
}

struct Root {
  Fd fd;
  fs::path path;  // canonical and absolute
};

// Checks the chosen root and opens it. The directory opened is the one that was checked: a root swapped for
// something else in between is refused.
Result<Root, CliError> open_root(const fs::path& chosen) {
  struct stat checked {};
  if (::lstat(chosen.c_str(), &checked) != 0)
    return err(os_error(errno).wrapped("setup root does not exist: " + chosen.string()));
  const CliError not_real = CliError::of("setup root must be a real directory: " + chosen.string());
  if (!S_ISDIR(checked.st_mode)) return err(not_real);
  char* resolved = ::realpath(chosen.c_str(), nullptr);
  if (resolved == nullptr) return err(os_error(errno));
  const fs::path canonical(resolved);
  std::free(resolved);
  const int raw = ::open(canonical.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) return err(names_something_else(errno) ? not_real : os_error(errno));
  Root root{Fd(raw), canonical};
  struct stat opened {};
  if (::fstat(root.fd.get(), &opened) != 0) return err(os_error(errno));
  if (opened.st_dev != checked.st_dev || opened.st_ino != checked.st_ino) return err(not_real);
  return root;
}

Result<Fd, CliError> real_parent(int at, const std::string& name, const fs::path& path) {
  if (::mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST)
    return err(os_error(errno).wrapped("creating " + path.string()));
  auto opened = open_real_dir(at, name);
  if (!opened.ok()) {
    if (names_something_else(opened.error()))
      return err(CliError::of("Skill parent is not a real directory: " + path.string()));
    return err(os_error(opened.error()));
  }
  return std::move(opened).value();
}

// Writes both files into the new temporary directory `temp` and moves it to the destination.
Result<Unit, CliError> assemble_and_place(const SkillPath& dest, const std::string& temp, const std::string& receipt,
                                          const BeforeRename& before_rename) {
  const int parent = dest.parent.get();
  {
    auto opened = open_real_dir(parent, temp);
    if (!opened.ok()) return err(os_error(opened.error()));
    TRY(write_new_file(opened->get(), kDocumentName, skill_document()));
    TRY(write_new_file(opened->get(), kReceiptName, receipt));
  }
  struct stat st {};
  if (::fstatat(parent, kSkillDirName, &st, AT_SYMLINK_NOFOLLOW) == 0)
    return err(CliError::of("Skill destination appeared during setup: " + dest.path.string()));
  if (errno != ENOENT) return err(os_error(errno).wrapped("inspecting " + dest.path.string()));
  if (before_rename) before_rename();
  // A plain rename would replace an empty directory that another process created meanwhile.
  if (::renameat2(parent, temp.c_str(), parent, kSkillDirName, RENAME_NOREPLACE) != 0)
    return err(os_error(errno).wrapped("installing " + dest.path.string()));
  return Unit{};
}

// Makes the canonical copy visible at an agent's path by an absolute symbolic link.
Result<std::string, CliError> link_skill_dir(const SkillPath& dest, const fs::path& canonical) {
  const int parent = dest.parent.get();
  const std::string occupied = "Skill destination is occupied: " + dest.path.string();
  struct stat st {};
  if (::fstatat(parent, kSkillDirName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return err(os_error(errno).wrapped("inspecting " + dest.path.string()));
    if (::symlinkat(canonical.c_str(), parent, kSkillDirName) != 0)
      return err(os_error(errno).wrapped("linking " + dest.path.string()));
    return std::string("installed");
  }
  if (!S_ISLNK(st.st_mode)) return err(CliError::of(occupied));
  std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
  for (;;) {
    const ssize_t n = ::readlinkat(parent, kSkillDirName, target.data(), target.size());
    if (n < 0) return err(CliError::of(occupied));
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      break;
    }
    target.resize(target.size() * 2);  // the link was replaced by a longer one since it was looked at
  }
  if (!same_components(target, canonical.string())) return err(CliError::of(occupied));
  return std::string("already installed");
}

}  // namespace

Result<std::string, CliError> skill_receipt() {
  return std::string(kReceiptFormat) + " sha256=" + sha256_hex(skill_document()) + "\n";
}

Result<SkillPath, CliError> prepare_skill_path(int root_fd, const fs::path& root, const std::string& dir_name) {
  const fs::path dir_path = root / dir_name;
  const Fd dir = TRY(real_parent(root_fd, dir_name, dir_path));
  const fs::path skills_path = dir_path / kSkillsDir;
  Fd skills = TRY(real_parent(dir.get(), kSkillsDir, skills_path));
  return SkillPath{std::move(skills), skills_path / kSkillDirName};
}

Result<std::string, CliError> install_skill_dir(const SkillPath& dest, const std::string& receipt,
                                                const BeforeRename& before_rename) {
  const int parent = dest.parent.get();
  const std::string where = dest.path.string();
  struct stat st {};
  if (::fstatat(parent, kSkillDirName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISDIR(st.st_mode)) return err(CliError::of("Skill destination is occupied: " + where));
    auto dir = open_real_dir(parent, kSkillDirName);
    if (!dir.ok()) {
      if (names_something_else(dir.error())) return err(CliError::of("Skill destination is occupied: " + where));
      return err(os_error(dir.error()).wrapped("inspecting " + where));
    }
    if (file_has_content(dir->get(), kReceiptName, receipt) &&
        file_has_content(dir->get(), kDocumentName, skill_document()))
      return std::string("already installed");
    return err(CliError::of("Skill destination has unmanaged or changed content: " + where));
  }
  if (errno != ENOENT) return err(os_error(errno).wrapped("inspecting " + where));

  const std::string prefix = ".dravelin-setup-" + std::to_string(::getpid()) + "-";
  for (int n = 0; n < kTemporaryNames; ++n) {
    const std::string temp = prefix + std::to_string(n);
    if (::mkdirat(parent, temp.c_str(), 0777) != 0) {
      if (errno == EEXIST) continue;
      return err(os_error(errno).wrapped("creating temporary Skill directory"));
    }
    auto placed = assemble_and_place(dest, temp, receipt, before_rename);
    if (!placed.ok()) {
      remove_tree(parent, temp);
      return err(std::move(placed).error());
    }
    return std::string("installed");
  }
  return err(CliError::of("no free temporary Skill directory name"));
}

Result<Unit, CliError> install_skill(const std::vector<SkillAgent>& agents, bool global, bool copy,
                                     const std::optional<fs::path>& project, std::FILE* out) {
  const fs::path chosen = TRY(chosen_root(global, project));
  const Root root = TRY(open_root(chosen));
  const SkillPath canonical = TRY(prepare_skill_path(root.fd.get(), root.path, kCanonicalDir));
  const std::string receipt = TRY(skill_receipt());
  const std::string status = TRY(install_skill_dir(canonical, receipt));
  print_line(out, global ? "global" : "project", canonical.path, status);

  std::vector<SkillAgent> seen;
  for (SkillAgent agent : agents) {
    bool repeated = false;
    for (SkillAgent s : seen) repeated = repeated || s == agent;
    if (repeated) continue;
    seen.push_back(agent);

    const AgentPlace& place = place_of(agent);
    const SkillPath dest =
        TRY(prepare_skill_path(root.fd.get(), root.path, global ? place.global_dir : place.project_dir));
    if (same_components(dest.path.string(), canonical.path.string())) continue;
    const std::string agent_status =
        copy ? TRY(install_skill_dir(dest, receipt)) : TRY(link_skill_dir(dest, canonical.path));
    print_line(out, place.name, dest.path, agent_status);
  }
  return Unit{};
}

int run_setup(const Setup& command) {
  auto installed = install_skill(command.agents, command.global, command.copy, command.project, stdout);
  if (!installed.ok()) return error_exit(installed.error());
  return 0;
}

}  // namespace dravelin::cli
