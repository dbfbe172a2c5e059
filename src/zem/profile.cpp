#include "zem/profile.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/regular_file.h"
#include "json/reader.h"
#include "json/record_read.h"
#include "syntax/utf8.h"

namespace dravelin::zem {

namespace rr = json::record_read;

namespace {

// A constant of the program, read like any profiles file so that both go through one reader.
constexpr std::string_view kBundledProfiles = R"([
  {
    "model": "zem-latest",
    "endpoint": "https://api.veltrane.com/v1/quorent",
    "total_tokens": 64000,
    "state_plus_question_tokens": 32000,
    "max_questions_per_request": 64,
    "max_criteria_per_question": 255,
    "tokenizer": "chars4",
    "price_per_million_input_usd": 0.042,
    "price_per_million_output_usd": 0.0,
    "aliases": "zem-1.13.0"
  },
  {
    "model": "zem-1.13.0",
    "endpoint": "https://api.veltrane.com/v1/quorent",
    "total_tokens": 64000,
    "state_plus_question_tokens": 32000,
    "max_questions_per_request": 64,
    "max_criteria_per_question": 255,
    "tokenizer": "chars4",
    "price_per_million_input_usd": 0.042,
    "price_per_million_output_usd": 0.0
  }
])";

constexpr rr::Field kProfileFields[] = {
    {"model", true},
    {"endpoint", true},
    {"total_tokens", true},
    {"state_plus_question_tokens", true},
    {"max_questions_per_request", true},
    {"max_criteria_per_question", true},
    {"tokenizer", true},
    {"price_per_million_input_usd", true},
    {"price_per_million_output_usd", true},
    {"aliases", false},
};

template <class Out>
void write_profile(const Profile& profile, Out& out) {
  out.begin_object();
  out.field_string("model", profile.model);
  out.field_string("endpoint", profile.endpoint);
  out.field_u64("total_tokens", profile.total_tokens);
  out.field_u64("state_plus_question_tokens", profile.state_plus_question_tokens);
  out.field_u32("max_questions_per_request", profile.max_questions_per_request);
  out.field_u32("max_criteria_per_question", profile.max_criteria_per_question);
  write_json_field_tokenizer(out, profile.tokenizer);
  out.field_f64("price_per_million_input_usd", profile.price_per_million_input_usd);
  out.field_f64("price_per_million_output_usd", profile.price_per_million_output_usd);
  if (profile.aliases) out.field_string("aliases", *profile.aliases);
  out.end_object();
}

rr::ReadResult<TokenizerKind> read_tokenizer(const json::Value& value) {
  auto kind = TokenizerKind::from_json(value);
  if (!kind.ok()) return err(kind.error().message);
  return *kind;
}

RuntimeError profile_error(std::string message) {
  return make_runtime_error(RuntimeErrorCode::ProfileMissing, std::move(message));
}

// A profiles file is a few entries; the limit only keeps a wrong path (a log, an image) from being read whole.
constexpr size_t kMaxProfilesFileBytes = size_t{64} << 20;

}  // namespace

Result<std::vector<Profile>, std::string> parse_profiles(std::string_view text) {
  auto document = json::parse(text);
  if (!document.ok()) return err(document.error().text());
  return rr::read_list<Profile>(*document, Profile::visit_map);
}

void Profile::write_json(std::string& out) const {
  json::Writer writer(out);
  write_profile(*this, writer);
}

void Profile::write_json(json::Writer& out) const { write_profile(*this, out); }

json::Value Profile::to_json_value() const {
  json::ValueBuilder builder;
  write_profile(*this, builder);
  return builder.take();
}

Result<Profile, std::string> Profile::visit_map(const json::Value& value) {
  if (!value.is_object()) return err(json::invalid_type_message(value, "struct Profile"));
  Profile out;
  TRY(rr::read_record(value, {"struct Profile", kProfileFields},
                      [&](size_t field, const json::Value& v) -> rr::ReadResult<Unit> {
                        switch (field) {
                          case 0: out.model = TRY(rr::read_string(v)); break;
                          case 1: out.endpoint = TRY(rr::read_string(v)); break;
                          case 2: out.total_tokens = TRY(rr::read_u64(v)); break;
                          case 3: out.state_plus_question_tokens = TRY(rr::read_u64(v)); break;
                          case 4: out.max_questions_per_request = TRY(rr::read_u32(v)); break;
                          case 5: out.max_criteria_per_question = TRY(rr::read_u32(v)); break;
                          case 6: out.tokenizer = TRY(read_tokenizer(v)); break;
                          case 7: out.price_per_million_input_usd = TRY(rr::read_f64(v)); break;
                          case 8: out.price_per_million_output_usd = TRY(rr::read_f64(v)); break;
                          default: out.aliases = TRY(rr::read_opt_string(v)); break;
                        }
                        return Unit{};
                      }));
  return out;
}

ProfileMap bundled_profiles() {
  static const ProfileMap bundled = [] {
    auto profiles = parse_profiles(kBundledProfiles);
    if (!profiles.ok()) {
      // The text is a constant of the program: failing here is a fault of the build, not of the user.
      std::fprintf(stderr, "internal error: the bundled profiles are valid JSON (%s)\n", profiles.error().c_str());
      std::abort();
    }
    ProfileMap map;
    for (Profile& profile : *profiles) {
      std::string model = profile.model;
      map.insert_or_assign(std::move(model), std::move(profile));
    }
    return map;
  }();
  return bundled;
}

Result<ProfileMap, RuntimeError> load_profiles() {
  ProfileMap map = bundled_profiles();
  const char* path = std::getenv(std::string(kProfilesVariable).c_str());
  if (path != nullptr && syntax::is_valid_utf8(path)) TRY(load_profiles_file(map, path));
  return map;
}

Result<Unit, RuntimeError> load_profiles_file(ProfileMap& map, std::string_view path) {
  const std::string file(path);
  // Read as a source file is, so that a FIFO or a device named by mistake is refused instead of waited on.
  auto text = read_regular_file_bytes(file, kMaxProfilesFileBytes, "larger than the 64 MiB limit for profiles files");
  if (text.ok() && !syntax::is_valid_utf8(*text)) text = err(std::string("the file is not valid UTF-8"));
  if (!text.ok()) return err(profile_error("could not read the profiles file " + file + ": " + text.error()));
  auto profiles = parse_profiles(*text);
  if (!profiles.ok()) {
    return err(profile_error("could not parse the profiles file " + file + ": " + profiles.error()));
  }
  for (Profile& profile : *profiles) {
    std::string model = profile.model;
    map.insert_or_assign(std::move(model), std::move(profile));
  }
  return Unit{};
}

Result<Profile, RuntimeError> find_profile(const ProfileMap& map, std::string_view model) {
  auto entry = map.find(std::string(model));
  if (entry == map.end()) {
    return err(profile_error("no profile for model `" + std::string(model) + "`; set " +
                             std::string(kProfilesVariable) + " or pass `profiles`"));
  }
  if (!entry->second.aliases) return entry->second;
  const std::string& target = *entry->second.aliases;
  auto aliased = map.find(target);
  if (aliased == map.end()) {
    return err(profile_error(std::string("`").append(model) + "` points at `" + target + "`, which has no profile"));
  }
  return aliased->second;
}

Result<Profile, RuntimeError> resolve_profile(const std::optional<std::string>& model,
                                              const std::optional<std::string>& profiles_path) {
  ProfileMap map = TRY(load_profiles());
  if (profiles_path) TRY(load_profiles_file(map, *profiles_path));
  return find_profile(map, model ? std::string_view(*model) : kDefaultModel);
}

}  // namespace dravelin::zem
