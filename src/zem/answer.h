// The model service's answers and the usage of a request, with their one JSON form.
//
// Written compactly with keys in declared order (a `type` tag first) or as JSON values with the same keys in
// byte order; numbers in the shortest form that reads back the same, a whole number keeping ".0", and a
// number that is not finite as null. Such a null does not read back (except under `usd`, where it reads as
// absent), so an answer holding NaN fails to read. Equality compares numbers as doubles: a NaN is never
// equal to anything.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"

namespace dravelin::zem {

// The service's probability per option key, ordered by key bytes.
using Probabilities = std::map<std::string, double>;

// The parsed answer to one question, tagged by `type` like the question it answers.
struct ZemAnswer {
  enum class Kind : uint8_t { Noul, Choice, Score };

  struct Noul {
    std::string id;
    double prob = 0.0;  // that the condition holds
    friend bool operator==(const Noul&, const Noul&) = default;
  };
  struct Choice {
    std::string id;
    std::string label;  // the chosen label's name
    double confidence = 0.0;
    Probabilities probabilities;
    friend bool operator==(const Choice&, const Choice&) = default;
  };
  struct Score {
    std::string id;
    uint32_t level = 0;  // the chosen level's position in the question's levels, from 0
    double score = 0.0;
    double confidence = 0.0;
    Probabilities probabilities;
    friend bool operator==(const Score&, const Score&) = default;
  };

  std::variant<Noul, Choice, Score> data;

  ZemAnswer(Noul noul) : data(std::move(noul)) {}
  ZemAnswer(Choice choice) : data(std::move(choice)) {}
  ZemAnswer(Score score) : data(std::move(score)) {}
  // Copies, moves and equality of the three kinds are defined once, in answer.cpp, not in every includer.
  ZemAnswer(const ZemAnswer&);
  ZemAnswer(ZemAnswer&&) noexcept;
  ZemAnswer& operator=(const ZemAnswer&);
  ZemAnswer& operator=(ZemAnswer&&) noexcept;
  ~ZemAnswer();

  Kind kind() const { return static_cast<Kind>(data.index()); }
  static std::string_view kind_name(Kind kind);  // the tag: "noul", "choice", "score"
  const std::string& id() const;

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  // Reads one answer from a parsed JSON value (one element of a recorded `answers` array).
  static Result<ZemAnswer, std::string> from_content(const json::Value& value);

  static bool slice_eq(const std::vector<ZemAnswer>& a, const std::vector<ZemAnswer>& b);

  friend bool operator==(const ZemAnswer&, const ZemAnswer&);
};

// The tokens and cost of one model-service request or one generation.
struct ZemUsage {
  uint64_t tokens = 0;
  std::optional<double> usd;  // when the cost is known

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  static Result<ZemUsage, std::string> visit_map(const json::Value& value);

  friend bool operator==(const ZemUsage&, const ZemUsage&) = default;
};

}  // namespace dravelin::zem
