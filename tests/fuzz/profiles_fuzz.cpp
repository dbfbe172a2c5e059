// A profiles file: an accepted list writes back as the same list.
#include "fuzz_target.h"
#include "json/writer.h"
#include "zem/profile.h"

using namespace dravelin;

DRAVELIN_FUZZ_TARGET(profiles) {
  auto profiles = zem::parse_profiles(bytes);
  if (!profiles.ok()) {
    if (profiles.error().empty()) return fuzz::broken("a refused profiles text has an empty message");
    return fuzz::holds();
  }
  json::Array written;
  for (const zem::Profile& profile : *profiles) written.push_back(profile.to_json_value());
  auto again = zem::parse_profiles(json::to_compact(json::Value(std::move(written))));
  if (!again.ok()) return fuzz::broken("the written form of accepted profiles is refused: " + again.error());
  if (again->size() != profiles->size()) return fuzz::broken("profiles were lost in a round trip");
  for (size_t i = 0; i < again->size(); ++i) {
    std::string a, b;
    (*profiles)[i].write_json(a);
    (*again)[i].write_json(b);
    if (a != b) return fuzz::broken("a profile changes in a round trip");
  }
  return fuzz::holds();
}
