// Reading a reply: answers, token counts, error texts.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "json/reader.h"
#include "json/writer.h"
#include "syntax/utf8.h"
#include "zem/wire.h"

namespace dravelin::zem {

namespace {

std::string backquoted(std::string_view text) {
  std::string out = "`";
  out.append(text).append("`");
  return out;
}

std::string answer_fault(std::string_view id, std::string_view what) {
  std::string out = "answer ";
  out.append(backquoted(id)).append(" ").append(what);
  return out;
}

// "probabilities" as a map of numbers. Of a key given twice the later value counts, so a repeated key is
// judged by its last value; the first offending key is named in key order.
Result<Probabilities, std::string> read_probabilities(const json::Value& answer, std::string_view id) {
  const json::Value* member = answer.find("probabilities");
  const json::Object* object = member ? member->if_object() : nullptr;
  if (object == nullptr) return err(answer_fault(id, "has no `probabilities`"));
  std::map<std::string_view, const json::Value*> last;
  for (const json::Member& entry : *object) last[entry.key] = &entry.value;
  Probabilities out;
  for (const auto& [key, value] : last) {
    const std::optional<double> number = value->to_f64();
    if (!number) return err(answer_fault(id, "probability " + backquoted(key) + " is not a number"));
    out.emplace_hint(out.end(), std::string(key), *number);
  }
  return out;
}

double confidence_of(const json::Value& answer, const Probabilities& probabilities) {
  const json::Value* member = answer.find("confidence");
  if (member != nullptr) {
    if (const std::optional<double> given = member->to_f64()) return *given;
  }
  return derived_confidence(probabilities);
}

// The decimal index a probability key names ("2", "+02"), or none; an index too large for 64 bits is none.
std::optional<uint64_t> key_index(std::string_view key) {
  if (!key.empty() && key.front() == '+') key.remove_prefix(1);
  if (key.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : key) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// Index keys become level names when every level has one. Keys are visited in order and a renamed key
// overwrites, so of two keys that meet, the one that sorted later stays.
Probabilities name_levels(Probabilities probabilities, const std::vector<ScoreLevel>& levels) {
  const bool all_named =
      std::all_of(levels.begin(), levels.end(), [](const ScoreLevel& level) { return level.name.has_value(); });
  if (!all_named || levels.empty()) return probabilities;
  Probabilities out;
  for (auto& [key, probability] : probabilities) {
    const std::optional<uint64_t> index = key_index(key);
    if (index && *index < levels.size()) {
      out[*levels[*index].name] = probability;
    } else {
      out[key] = probability;
    }
  }
  return out;
}

// round(score), halves away from zero, kept within the levels (0 when there are none).
uint32_t level_of(double score, size_t level_count) {
  if (level_count == 0) return 0;
  const double top = static_cast<double>(std::min<size_t>(level_count - 1, std::numeric_limits<uint32_t>::max()));
  const double rounded = std::round(score);
  if (!(rounded > 0.0)) return 0;  // below zero, and NaN
  if (rounded >= top) return static_cast<uint32_t>(top);
  return static_cast<uint32_t>(rounded);
}

Result<ZemAnswer, std::string> read_answer(const Question& question, const json::Value& answer) {
  const std::string& id = question.id();
  if (question.kind() == Question::Kind::Noul) {
    const json::Value* member = answer.find("noul");
    const std::optional<double> prob = member ? member->to_f64() : std::nullopt;
    if (!prob) return err(answer_fault(id, "has no numeric `noul`"));
    return ZemAnswer(ZemAnswer::Noul{id, *prob});
  }
  if (question.kind() == Question::Kind::Choice) {
    Probabilities probabilities = TRY(read_probabilities(answer, id));
    const json::Value* label = answer.find("choice");
    if (label == nullptr || !label->is_string()) return err(answer_fault(id, "has no `choice`"));
    const double confidence = confidence_of(answer, probabilities);
    return ZemAnswer(ZemAnswer::Choice{id, label->as_string(), confidence, std::move(probabilities)});
  }
  const auto& levels = std::get<Question::Score>(question.data).levels;
  const json::Value* member = answer.find("score");
  const std::optional<double> score = member ? member->to_f64() : std::nullopt;
  if (!score) return err(answer_fault(id, "has no numeric `score`"));
  Probabilities probabilities = name_levels(TRY(read_probabilities(answer, id)), levels);
  const double confidence = confidence_of(answer, probabilities);
  return ZemAnswer(ZemAnswer::Score{id, level_of(*score, levels.size()), *score, confidence, std::move(probabilities)});
}

// Counts only a plain unsigned integer: no sign, fraction or exponent, within 64 bits.
std::optional<uint64_t> token_count(const json::Value* value) {
  if (value == nullptr || !value->is_uint()) return std::nullopt;
  return value->as_uint();
}

std::optional<uint64_t> reply_tokens(const json::Value& reply) {
  const json::Value* usage = reply.find("usage");
  if (usage == nullptr || !usage->is_object()) return std::nullopt;
  const std::optional<uint64_t> input = token_count(usage->find("input_tokens"));
  const std::optional<uint64_t> output = token_count(usage->find("output_tokens"));
  if (!input && !output) return std::nullopt;
  const uint64_t a = input.value_or(0);
  const uint64_t b = output.value_or(0);
  // A sum past the range stays at the top rather than wrapping to a small count.
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The text without leading and trailing Unicode white space; the text must be well-formed UTF-8.
std::string_view trim_white_space(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    const syntax::Utf8Char c = syntax::decode_utf8(text, start);
    if (!is_white_space(c.code)) break;
    start += c.length;
  }
  size_t end = start;
  for (size_t i = start; i < text.size();) {
    const syntax::Utf8Char c = syntax::decode_utf8(text, i);
    i += c.length;
    if (!is_white_space(c.code)) end = i;
  }
  return text.substr(start, end - start);
}

// The text a member of an error body yields, if any.
std::optional<std::string> member_text(const json::Value* member) {
  if (member == nullptr || member->is_null()) return std::nullopt;
  if (member->is_string()) return member->as_string();
  if (member->is_object()) {
    const json::Value* message = member->find("message");
    if (message != nullptr && message->is_string()) return message->as_string();
    return std::nullopt;
  }
  return json::to_compact(*member);
}

}  // namespace

Result<ParsedResponse, std::string> parse_response(const json::Value& reply, const RequestGroup& group) {
  const json::Value* answers = reply.find("answers");
  if (answers == nullptr || !answers->is_object()) return err(std::string("the response has no `answers` object"));
  ParsedResponse out;
  out.answers.reserve(group.questions.size());
  for (const Question& question : group.questions) {
    const json::Value* answer = answers->find(question.id());
    if (answer == nullptr) return err("the response has no answer for " + backquoted(question.id()));
    out.answers.push_back(TRY(read_answer(question, *answer)));
  }
  out.tokens = reply_tokens(reply);
  return out;
}

std::string http_error_message(uint16_t status, std::string_view body) {
  std::string out = "HTTP ";
  out += std::to_string(status);
  out += ": ";
  const std::string text = decode_utf8_lossy(body);
  if (auto parsed = json::parse_json_value(text); parsed.ok() && parsed->is_object()) {
    for (const std::string_view key : {"message", "detail", "error"}) {
      if (std::optional<std::string> found = member_text(parsed->find(key))) return out + *found;
    }
  }
  out += trim_white_space(text);
  return out;
}

double derived_confidence(const Probabilities& probabilities) {
  const size_t n = probabilities.size();
  if (n == 0) return 0.0;
  if (n == 1) return 1.0;
  double largest = 0.0;
  for (const auto& entry : probabilities) largest = std::max(largest, entry.second);
  const double count = static_cast<double>(n);
  return std::clamp((largest * count - 1.0) / (count - 1.0), 0.0, 1.0);
}

std::string decode_utf8_lossy(std::string_view bytes) {
  if (syntax::is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  size_t i = 0;
  while (i < bytes.size()) {
    const uint32_t b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      out += static_cast<char>(b0);
      ++i;
      continue;
    }
    const syntax::Utf8Lead lead = syntax::utf8_lead(b0);
    // The longest prefix of a well-formed sequence is one ill-formed subsequence, replaced once.
    size_t taken = 1;
    bool complete = lead.need > 0;
    for (uint32_t k = 1; complete && k <= lead.need; ++k) {
      const size_t at = i + k;
      const uint32_t lo = k == 1 ? lead.lo : 0x80;
      const uint32_t hi = k == 1 ? lead.hi : 0xBF;
      if (at >= bytes.size()) {
        complete = false;
        break;
      }
      const uint32_t b = static_cast<unsigned char>(bytes[at]);
      if (b < lo || b > hi) {
        complete = false;
        break;
      }
      ++taken;
    }
    if (complete) {
      out.append(bytes.substr(i, taken));
    } else {
      syntax::append_utf8(out, syntax::kReplacementChar);
    }
    i += taken;
  }
  return out;
}

}  // namespace dravelin::zem
