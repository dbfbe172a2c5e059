// `check --tools`: the tool verbs a compiled program calls, compared with the manifests of the adapters that
// will serve them, so that a missing verb is found before a run starts.
#pragma once

#include <filesystem>

#include "ir/nodes.h"

namespace dravelin::cli {

// Reads the manifest file `tools` (one manifest for every tool, or an object of manifests by capability name,
// where the empty name serves every tool without one of its own) and reports each verb of `ir` that its
// tool's manifest lacks on stderr, labelled with `file`. Returns the exit status: 0 when every verb is
// declared, 1 when a verb was reported or the file could not be read (then after the "dravelin: " line).
int check_tool_verbs(const std::filesystem::path& file, const std::filesystem::path& tools, const ir::Ir& ir);

}  // namespace dravelin::cli
