#include "cli/tool_check.h"

#include <map>
#include <string>
#include <utility>

#include "base/result.h"
#include "cli/diagnostics.h"
#include "cli/error.h"
#include "compiler/module_sources.h"
#include "compiler/tool_verbs.h"
#include "json/reader.h"
#include "record/capability.h"

namespace dravelin::cli {
namespace {

// Manifests by capability name; the empty name serves every tool that has none of its own.
using Manifests = std::map<std::string, record::ToolManifest, std::less<>>;

// The refusal of a file that is JSON but neither a manifest nor an object of them.
std::string not_a_manifest_message(const std::string& shown) {
  return "`" + shown + "` must be a manifest `{ \"verbs\": { ... } }` or a record of them by capability name";
}

Result<Manifests, CliError> read_manifests(const std::filesystem::path& tools) {
  const std::string shown = compiler::display_path(tools);
  // Read as a module source is, so that a FIFO or a device given by mistake is refused instead of waited on.
  auto text = compiler::read_regular_file(tools, "larger than the 64 MiB limit for manifest files");
  if (!text.ok()) return err(CliError::of(std::move(text).error().message).wrapped("cannot read `" + shown + "`"));
  auto value = json::parse_json_value(*text);
  if (!value.ok()) return err(CliError::of(value.error().text()).wrapped("`" + shown + "` is not JSON"));

  const json::Object* object = value->if_object();
  if (!object) return err(CliError::of(not_a_manifest_message(shown)));
  Manifests manifests;
  // A `verbs` object makes the whole file one manifest; otherwise every member is the manifest of the tool it
  // names (a tool may well be called "verbs").
  const json::Value* verbs = object->find("verbs");
  if (verbs && verbs->is_object()) {
    auto manifest = record::ToolManifest::read_json(*value);
    if (!manifest.ok()) return err(CliError::of(std::move(manifest).error()));
    manifests.emplace("", std::move(manifest).value());
    return manifests;
  }
  for (const auto& [name, member] : *object) {
    auto manifest = record::ToolManifest::read_json(member);
    if (!manifest.ok()) return err(CliError::of(std::move(manifest).error()));
    manifests.insert_or_assign(name, std::move(manifest).value());
  }
  return manifests;
}

const record::ToolManifest* manifest_for(const Manifests& manifests, const std::string& tool) {
  auto it = manifests.find(tool);
  if (it == manifests.end()) it = manifests.find("");
  return it == manifests.end() ? nullptr : &it->second;
}

}  // namespace

int check_tool_verbs(const std::filesystem::path& file, const std::filesystem::path& tools, const ir::Ir& ir) {
  auto manifests = read_manifests(tools);
  if (!manifests.ok()) return error_exit(manifests.error());

  bool missing = false;
  for (const auto& [tool, verbs] : compiler::used_tool_verbs(ir)) {
    const record::ToolManifest* manifest = manifest_for(*manifests, tool);
    for (const std::string& verb : verbs) {
      if (!manifest) {
        render_missing_verb(file, tool + "." + verb + " (no manifest for `" + tool + "`)");
      } else if (!manifest->verbs.contains(verb)) {
        render_missing_verb(file, tool + "." + verb);
      } else {
        continue;
      }
      missing = true;
    }
  }
  return missing ? 1 : 0;
}

}  // namespace dravelin::cli
