// A tool manifest, alone or as one of an object of manifests by capability name, and an observation.
#include "fuzz_target.h"
#include "json/reader.h"
#include "json/writer.h"
#include "record/capability.h"

using namespace dravelin;

namespace {

fuzz::Verdict check_manifest(const json::Value& value) {
  auto manifest = record::ToolManifest::read_json(value);
  if (!manifest.ok()) {
    if (manifest.error().empty()) return fuzz::broken("a refused manifest has an empty message");
    return fuzz::holds();
  }
  auto again = record::ToolManifest::read_json(manifest->to_json_value());
  if (!again.ok()) return fuzz::broken("the written form of an accepted manifest is refused: " + again.error());
  if (!(*again == *manifest)) return fuzz::broken("a manifest changes in a round trip");
  return fuzz::holds();
}

}  // namespace

DRAVELIN_FUZZ_TARGET(manifest) {
  auto doc = json::parse_json_value(bytes);
  if (!doc.ok()) return fuzz::holds();
  if (auto verdict = check_manifest(*doc)) return verdict;
  if (const json::Object* by_name = doc->if_object()) {
    for (const json::Member& member : *by_name) {
      if (auto verdict = check_manifest(member.value)) return verdict;
    }
  }
  auto observation = record::Observation::read_json(*doc);
  if (observation.ok()) {
    auto again = record::Observation::read_json(observation->to_json_value());
    if (!again.ok()) return fuzz::broken("the written form of an accepted observation is refused: " + again.error());
  }
  return fuzz::holds();
}
