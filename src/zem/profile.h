// Model profiles: where a model's requests go, how large a request may be, how its tokens are counted and
// what they cost.
//
// Profiles come from a bundled list compiled into the program, layered with the file named by
// DRAVELIN_PROFILES and then with a `profiles` file the caller names; a later entry replaces an earlier one
// of the same model. A profile may be an alias for another model's entry, followed one hop.
//
// JSON form (bundled text, profiles files, a recording's start line): an object with the ten keys below, in
// this order when written (compact; "aliases" only when set). When read, every key but "aliases" is
// required, "aliases" may be absent or null, unknown keys are skipped and a key given twice is refused.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"
#include "runtime/runtime_error.h"
#include "tokens/tokenizer.h"

namespace dravelin::zem {

using runtime::RuntimeError;
using runtime::RuntimeErrorCode;
using tokens::Tokenizer;
using tokens::TokenizerKind;

struct Profile {
  std::string model;     // the model id; sent as the request's model and named in limit messages
  std::string endpoint;  // the URL requests are POSTed to, taken whole
  uint64_t total_tokens = 0;                 // state plus all questions of one request
  uint64_t state_plus_question_tokens = 0;   // state plus the largest question of one request
  uint32_t max_questions_per_request = 0;
  uint32_t max_criteria_per_question = 0;    // options of one choice question
  TokenizerKind tokenizer = TokenizerKind::chars4();
  double price_per_million_input_usd = 0.0;  // the only price any cost is computed from
  double price_per_million_output_usd = 0.0;  // kept and recorded only
  std::optional<std::string> aliases;        // this model id stands for that model's entry

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  // Reads a profile from a parsed JSON object; the error is the reader's description of the first fault.
  static Result<Profile, std::string> visit_map(const json::Value& value);

  // Every field, the prices compared as doubles.
  friend bool operator==(const Profile&, const Profile&) = default;
};

// Model id to profile; an entry's key is always its `model`.
using ProfileMap = std::map<std::string, Profile>;

inline constexpr std::string_view kDefaultModel = "zem-latest";
inline constexpr std::string_view kProfilesVariable = "DRAVELIN_PROFILES";

// A profiles text: a JSON array of profiles, in array order. The error is the JSON reader's description of a
// syntax fault, or the record reader's of the first entry that is no profile.
Result<std::vector<Profile>, std::string> parse_profiles(std::string_view text);

// The bundled profiles: `zem-latest` (an alias for `zem-1.13.0`) and `zem-1.13.0`.
ProfileMap bundled_profiles();

// The bundled profiles, layered with the file that DRAVELIN_PROFILES names when it is set to valid UTF-8.
Result<ProfileMap, RuntimeError> load_profiles();

// Reads the file at `path` as a JSON array of profiles and inserts them into `map` in array order, each
// replacing any entry of its model. On failure nothing is inserted.
Result<Unit, RuntimeError> load_profiles_file(ProfileMap& map, std::string_view path);

// The entry of `model`, or, when that entry aliases another model, the other model's entry unchanged.
Result<Profile, RuntimeError> find_profile(const ProfileMap& map, std::string_view model);

// `load_profiles`, then the `profiles` file on top, then `find_profile` for the model (zem-latest when none
// is given). Every failure is `profile_missing`, not retryable, without a span.
Result<Profile, RuntimeError> resolve_profile(const std::optional<std::string>& model,
                                              const std::optional<std::string>& profiles_path);

}  // namespace dravelin::zem
