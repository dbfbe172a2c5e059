// A recorded payload: a value a recording holds either in full or as a summary (a SHA-256 hash and a token
// count), for the five places of an event that may be large or sensitive: a request's state, a call's result,
// an observation, a log's message and each of a log's field values.
//
// JSON forms, under the payload's key:
//   1. a full payload whose JSON is not ambiguous: that JSON;
//   2. a summary: `{"redacted":{"hash":"<64 hex digits>","tokens":<n>}}`;
//   3. a full payload whose JSON would itself read as form 2 or 3: `{"$recorded_full": <its JSON>}`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "json/value.h"

namespace dravelin::record {

struct Redacted {
  std::string hash;  // the lowercase hex SHA-256 of the payload's text
  uint64_t tokens = 0;

  friend bool operator==(const Redacted&, const Redacted&) = default;
};

template <class T>
struct Recorded {
  std::variant<T, Redacted> data;

  static Recorded full(T value) { return Recorded{std::variant<T, Redacted>(std::in_place_index<0>, std::move(value))}; }
  static Recorded redacted(Redacted summary) {
    return Recorded{std::variant<T, Redacted>(std::in_place_index<1>, std::move(summary))};
  }

  bool is_full() const { return data.index() == 0; }
  bool is_redacted() const { return data.index() == 1; }
  const T* if_full() const { return std::get_if<0>(&data); }
  T* if_full() { return std::get_if<0>(&data); }
  const Redacted* if_redacted() const { return std::get_if<1>(&data); }

  // Both full with equal values, or both summaries with equal hash and tokens; never a full and a summary.
  friend bool operator==(const Recorded&, const Recorded&) = default;
};

// The key of the wrapper of form 3.
inline constexpr std::string_view kFullWrapperKey = "$recorded_full";

// The summary that a JSON value encodes in form 2: an object whose single member "redacted" holds an object
// of exactly the string "hash" and the non-negative integer "tokens"; nothing for anything else.
std::optional<Redacted> redacted_marker(const json::Value& value);
// True for an object whose single member is "$recorded_full", whatever it holds.
bool is_full_wrapper(const json::Value& value);

// Lowercase hexadecimal, two digits per byte.
std::string hex_string(std::string_view bytes);
// The summary of a text: `hex_string` of its SHA-256 and the given token count.
Redacted summarize_text(std::string_view text, uint64_t tokens);

}  // namespace dravelin::record
