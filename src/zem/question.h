// The questions of a model-service request and their parts, with their one JSON form.
//
// The compact form is what recordings hold and what request sizes are measured on: keys in declared order, a
// tagged record's `type` first, absent optional fields and empty lists left out (see each writer), no
// whitespace. The value form (`to_json_value`) has the same keys in byte order, for SDK notifications and
// printed answers. The readers follow the shared rules of runtime/zem_records.h and take the object or the
// positional array form; every record the writers produce reads back equal to itself.
//
// Equality compares every field: texts byte for byte, optional fields both absent or both equal, lists
// element by element.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"

namespace dravelin::zem {

// Extra guidance taken from a judgment's detail block.
struct Instruction {
  std::optional<std::string> focus;
  std::optional<std::string> note;
  std::vector<std::string> compare;
  std::vector<std::string> yes;  // examples for which the condition holds
  std::vector<std::string> no;   // examples for which it does not

  // True when nothing is set; such an instruction is still written, as `{}`.
  bool empty() const;

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  static Result<Instruction, std::string> visit_map(const json::Value& value);

  friend bool operator==(const Instruction&, const Instruction&) = default;
};

// One option of a choice question.
struct ChoiceLabel {
  std::string name;
  std::optional<std::string> description;
  std::optional<std::string> what;
  std::optional<std::string> not_for;
  std::vector<std::string> examples;

  // A label with a name and a description only (a machine's event menu).
  static ChoiceLabel make(std::string name, std::optional<std::string> description);

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  static Result<ChoiceLabel, std::string> visit_map(const json::Value& value);

  friend bool operator==(const ChoiceLabel&, const ChoiceLabel&) = default;
};

// One level of a score question; an answer's `level` is a position in the question's list.
struct ScoreLevel {
  std::optional<std::string> name;
  std::string situation;

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  static Result<ScoreLevel, std::string> visit_map(const json::Value& value);

  friend bool operator==(const ScoreLevel&, const ScoreLevel&) = default;
};

// One narrow question of a request, tagged by `type`: "noul" (answered with a probability), "choice" or
// "score".
struct Question {
  enum class Kind : uint8_t { Noul, Choice, Score };

  struct Noul {
    std::string id;
    std::string path;       // where the subject stands in the request's state, e.g. items[2].title
    std::string condition;
    std::optional<Instruction> instruction;
    friend bool operator==(const Noul&, const Noul&) = default;
  };
  struct Choice {
    std::string id;
    std::string path;
    std::optional<std::string> question;  // the question's own text; absent asks the default one
    std::vector<ChoiceLabel> labels;
    std::optional<Instruction> instruction;
    friend bool operator==(const Choice&, const Choice&) = default;
  };
  struct Score {
    std::string id;
    std::string path;
    std::vector<ScoreLevel> levels;
    std::optional<Instruction> instruction;
    friend bool operator==(const Score&, const Score&) = default;
  };

  std::variant<Noul, Choice, Score> data;

  Question(Noul noul) : data(std::move(noul)) {}
  Question(Choice choice) : data(std::move(choice)) {}
  Question(Score score) : data(std::move(score)) {}
  // Copies, moves and equality of the three kinds are defined once, in question.cpp, not in every includer.
  Question(const Question&);
  Question(Question&&) noexcept;
  Question& operator=(const Question&);
  Question& operator=(Question&&) noexcept;
  ~Question();

  Kind kind() const { return static_cast<Kind>(data.index()); }
  static std::string_view kind_name(Kind kind);  // the tag: "noul", "choice", "score"
  const std::string& id() const;
  const std::string& path() const;
  const std::optional<Instruction>& instruction() const;

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  // Reads one question from a parsed JSON value (one element of a recorded `questions` array).
  static Result<Question, std::string> from_content(const json::Value& value);

  // Equal lengths and equal questions in the same order.
  static bool slice_eq(const std::vector<Question>& a, const std::vector<Question>& b);

  friend bool operator==(const Question&, const Question&);
};

}  // namespace dravelin::zem
