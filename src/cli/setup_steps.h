// The steps of the skill installer below `install_skill`, open to tests.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "base/result.h"
#include "cli/error.h"
#include "cli/setup_files.h"

namespace dravelin::cli {

// A skill path: the `skills` directory that holds it, opened, and the path as printed.
struct SkillPath {
  Fd parent;                    // root/D/skills
  std::filesystem::path path;   // root/D/skills/dravelin
};

// The name of the skill directory under a `skills` directory.
inline constexpr const char* kSkillDirName = "dravelin";

// Makes sure that `dir_name` and its `skills` exist under the root as real directories, and returns the skill
// path under them (which it does not create).
Result<SkillPath, CliError> prepare_skill_path(int root_fd, const std::filesystem::path& root,
                                               const std::string& dir_name);

// Called after a new copy has been assembled and the destination found still free, right before the copy is
// moved into place; lets tests stage another process acting in that window.
using BeforeRename = std::function<void()>;

// Installs a complete copy (document and receipt) at `dest`, or recognises an earlier one: "installed" or
// "already installed". A failure leaves no temporary directory behind.
Result<std::string, CliError> install_skill_dir(const SkillPath& dest, const std::string& receipt,
                                                const BeforeRename& before_rename = {});

}  // namespace dravelin::cli
