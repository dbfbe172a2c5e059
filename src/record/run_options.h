// What a run is asked for: the options that run set-up takes, and the sampling setting, which the first line of
// every recording carries too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"
#include "runtime/value.h"

namespace dravelin::record {

// Off (`false`), on (`true`), or on with a fixed seed for the run's random source (`{"seed": n}`), so that
// every draw repeats from run to run.
struct Sample {
  struct Seeded {
    uint64_t seed = 0;
    friend bool operator==(const Seeded&, const Seeded&) = default;
  };

  std::variant<bool, Seeded> setting = false;

  // On for `true` and for a seed.
  bool sampling() const;
  std::optional<uint64_t> seed() const;

  // `true`, `false` or `{"seed":42}`.
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  // A boolean, or an object with `seed` exactly once as an integer from 0 to 2^64 - 1 (other keys ignored);
  // anything else is "data did not match any variant of untagged enum Sample".
  static Result<Sample, std::string> read_json(const json::Value& value);

  friend bool operator==(const Sample&, const Sample&) = default;
};

struct RunOptions {
  std::optional<std::string> record;    // create a new recording at this path; refused together with `replay`
  std::optional<std::string> replay;    // replay the recording at this path
  std::optional<std::string> model;     // the model whose profile the run uses; zem-latest when absent
  std::optional<std::string> profiles;  // a profiles file over the bundled ones and DRAVELIN_PROFILES
  std::optional<Sample> sample;         // absent is off; a replay with metadata takes the recorded one
  runtime::Record inputs;               // by name; a replay with none takes the recorded inputs
  bool redact = false;                  // summaries instead of payloads in the recording

  friend bool operator==(const RunOptions&, const RunOptions&) = default;
};

}  // namespace dravelin::record
