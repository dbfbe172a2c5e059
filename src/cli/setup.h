// `dravelin setup`: installs the bundled coding-agent skill into a project or the home directory.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "cli/command.h"
#include "cli/error.h"

namespace dravelin::cli {

// The bytes of the bundled SKILL.md; every installed copy is identical to them.
std::string_view skill_document();

// The receipt written beside each installed SKILL.md: the format name and the document's SHA-256 digest.
Result<std::string, CliError> skill_receipt();

// Installs the canonical copy under the root's `.agents/skills/dravelin`, then makes it visible at each
// agent's path, by a link or (with `copy`) an independent copy. Prints one line per installation on `out`
// as it goes; on an error what was installed and printed before it stays.
Result<Unit, CliError> install_skill(const std::vector<SkillAgent>& agents, bool global, bool copy,
                                     const std::optional<std::filesystem::path>& project, std::FILE* out);

// The subcommand: install_skill with stdout; returns the process exit status.
int run_setup(const Setup& command);

}  // namespace dravelin::cli
