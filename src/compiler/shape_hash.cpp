#include "compiler/shape_hash.h"

#include <new>
#include <string>
#include <type_traits>
#include <variant>

#include "base/sha256.h"

namespace dravelin::compiler {

namespace {

using namespace ir;

constexpr char kShapeHashRecord = '\x1E';
constexpr char kShapeHashField = '\x1F';

// Only the question's form and the names an answer can carry enter; texts, conditions and subjects stay out so
// that rewording a question keeps its fingerprint.
void shape_hash_verb(std::string& out, const JudgeVerb& verb) {
  std::visit(
      [&out](const auto& v) {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, JudgeVerb::Feels>) {
          out += "feels";
        } else if constexpr (std::is_same_v<V, JudgeVerb::Rate>) {
          out += "rate";
          for (std::size_t i = 0; i < v.levels.size(); ++i) {
            out += kShapeHashField;
            out += v.levels[i].name ? *v.levels[i].name : std::to_string(i);
          }
        } else if constexpr (std::is_same_v<V, JudgeVerb::Pick>) {
          out += "pick";
          for (const PickLabel& label : v.labels) {
            out += kShapeHashField;
            out += label.name;
            out += label.escape ? '!' : '.';
          }
        } else {
          static_assert(std::is_same_v<V, JudgeVerb::PickAmong>);
          out += "pick_among";
          out += kShapeHashField;
          if (v.by) out += *v.by;
          out += v.allow_none ? "none" : "required";
        }
      },
      verb.node);
}

}  // namespace

std::string hex_lower(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string judgment_shape_text(std::string_view name, const std::vector<ir::JudgmentResult>& results) {
  std::string out = "judgment";
  out += kShapeHashField;
  out += name;
  for (const JudgmentResult& result : results) {
    out += kShapeHashRecord;
    out += "result";
    out += kShapeHashField;
    out += result.name;
    out += kShapeHashField;
    out += result.question.each ? "each" : "one";
    out += kShapeHashField;
    shape_hash_verb(out, result.question.verb);
  }
  return out;
}

std::string machine_shape_text(std::string_view name, const std::vector<ir::MachineState>& states) {
  std::string out = "machine";
  out += kShapeHashField;
  out += name;
  for (const MachineState& state : states) {
    out += kShapeHashRecord;
    out += "state";
    out += kShapeHashField;
    out += state.name;
    out += state.done ? '!' : '.';
    for (const Transition& transition : state.transitions) {
      out += kShapeHashField;
      out += transition.event;
      out += "->";
      out += transition.target;
      if (transition.risky) out += "!risky";
    }
  }
  return out;
}

std::string shape_hash_of_text(std::string_view canonical) {
  // The first 8 bytes of the digest.
  return "sh1:" + sha256_hex(canonical).substr(0, 16);
}

std::string judgment_shape_hash(std::string_view name, const std::vector<ir::JudgmentResult>& results) {
  return shape_hash_of_text(judgment_shape_text(name, results));
}

std::string machine_shape_hash(std::string_view name, const std::vector<ir::MachineState>& states) {
  return shape_hash_of_text(machine_shape_text(name, states));
}

}  // namespace dravelin::compiler
