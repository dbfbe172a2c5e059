// Built-ins over texts: join, head, tail, text, split, lines, number.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/builtins_internal.h"

namespace dravelin::runtime::builtins {
namespace {

// One decoded character: its scalar value (U+FFFD for bytes that are not UTF-8) and its length in bytes.
struct Decoded {
  uint32_t scalar;
  size_t length;
};

constexpr uint32_t kReplacement = 0xFFFD;

Decoded decode_at(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  uint32_t scalar = 0;
  uint32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, scalar = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, scalar = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, scalar = lead & 0x07, min = 0x10000;
  } else {
    return {kReplacement, 1};
  }
  if (pos + length > text.size()) return {kReplacement, 1};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return {kReplacement, 1};
    scalar = (scalar << 6) | (byte(pos + i) & 0x3F);
  }
  if (scalar < min || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) return {kReplacement, 1};
  return {scalar, length};
}

// The Unicode White_Space property.
bool is_white_space(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    const Decoded d = decode_at(text, begin);
    if (!is_white_space(d.scalar)) break;
    begin += d.length;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && is_continuation_byte(text[start])) --start;
    const Decoded d = decode_at(text, start);
    // A stray continuation byte is not white space, and neither is a sequence cut short.
    if (start + d.length != end || !is_white_space(d.scalar)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

void append_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The text between double quotes with backslash escapes for the quote, the backslash and the control
// characters, so that a message shows exactly what could not be read, invisible characters included.
std::string quoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (size_t pos = 0; pos < text.size();) {
    const Decoded d = decode_at(text, pos);
    pos += d.length;
    const uint32_t c = d.scalar;
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      out += "\\u{";
      if (c >= 0x10) out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
      out.push_back('}');
    } else {
      append_utf8(out, c);
    }
  }
  out.push_back('"');
  return out;
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_word[i]) return false;
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a whole text as a decimal floating-point number: an optional sign, then either digits with an optional
// point (at least one digit on either side) and an optional exponent, or one of the words inf, infinity and nan
// in any letter case. Nothing else is accepted, white space included. Values past the double range become
// infinite, values below it zero, as the nearest double would be.
std::optional<double> read_decimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const double sign = negative ? -1.0 : 1.0;
  if (equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity")) {
    return sign * std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_ascii_case(text, "nan")) return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);

  // Validate the shape first: std::from_chars would also take hexadecimal and "nan(...)" forms.
  size_t pos = 0;
  const size_t int_begin = pos;
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  const size_t int_digits = pos - int_begin;
  size_t frac_begin = pos;
  size_t frac_digits = 0;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    frac_begin = pos;
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    frac_digits = pos - frac_begin;
  }
  if (int_digits == 0 && frac_digits == 0) return std::nullopt;
  int64_t exponent = 0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool exponent_negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      exponent_negative = text[pos] == '-';
      ++pos;
    }
    const size_t exp_begin = pos;
    while (pos < text.size() && is_digit(text[pos])) {
      // Saturates: only the sign of a huge exponent matters below.
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[pos] - '0');
      ++pos;
    }
    if (pos == exp_begin) return std::nullopt;
    if (exponent_negative) exponent = -exponent;
  }
  if (pos != text.size()) return std::nullopt;

  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size()) return sign * value;
  if (ec != std::errc::result_out_of_range) return std::nullopt;

  // Out of range: decide between overflow and underflow from the decimal exponent of the first nonzero digit.
  int64_t first_digit_exponent = 0;
  bool found = false;
  for (size_t i = int_begin; i < int_begin + int_digits && !found; ++i) {
    if (text[i] != '0') {
      first_digit_exponent = static_cast<int64_t>(int_begin + int_digits - i) - 1;
      found = true;
    }
  }
  for (size_t i = frac_begin; i < frac_begin + frac_digits && !found; ++i) {
    if (text[i] != '0') {
      first_digit_exponent = -static_cast<int64_t>(i - frac_begin) - 1;
      found = true;
    }
  }
  if (!found) return sign * 0.0;
  return first_digit_exponent + exponent > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
}

RuntimeError unreadable_number(std::string_view original) {
  return builtin_error("`number` cannot read " + quoted(original) + " as a number");
}

}  // namespace

ValueResult builtin_join(EvalContext&, const CallArguments& args) {
  const Value* texts = TRY(arg(args, "join", 0, "texts"));
  const List* items = TRY(list_for("join", *texts));
  // The separator is never read by name when a second positional argument is there.
  std::string separator = "\n";
  if (args.positional.size() >= 2) {
    separator = args.positional[1].to_text();
  } else if (auto named = args.named.find("sep"); named != args.named.end()) {
    separator = named->second.to_text();
  }
  std::string out;
  for (size_t i = 0; i < items->size(); ++i) {
    if (i > 0) out += separator;
    (*items)[i].append_text(out);
    if (!text_fits(out.size())) return err(size_error());
  }
  return Value::text(std::move(out));
}

ValueResult builtin_head(EvalContext&, const CallArguments& args) {
  const std::string* text = TRY(text_for("head", *TRY(arg(args, "head", 0, "text"))));
  const size_t n = whole_count(TRY(number_for("head", *TRY(arg(args, "head", 1, "n")))));
  size_t end = 0;
  for (size_t taken = 0; taken < n && end < text->size(); ++taken) end = next_char(*text, end);
  return Value::text(text->substr(0, end));
}

ValueResult builtin_tail(EvalContext&, const CallArguments& args) {
  const std::string* text = TRY(text_for("tail", *TRY(arg(args, "tail", 0, "text"))));
  const size_t n = whole_count(TRY(number_for("tail", *TRY(arg(args, "tail", 1, "n")))));
  const size_t length = char_count(*text);
  const size_t skip = length > n ? length - n : 0;
  size_t begin = 0;
  for (size_t skipped = 0; skipped < skip; ++skipped) begin = next_char(*text, begin);
  return Value::text(text->substr(begin));
}

ValueResult builtin_text(EvalContext&, const CallArguments& args) {
  const Value* x = TRY(arg(args, "text", 0, "x"));
  // The text form of a list or record escapes its texts, so it can be larger than the value.
  std::string text = x->to_text();
  if (!text_fits(text.size())) return err(size_error());
  return Value::text(std::move(text));
}

ValueResult builtin_split(EvalContext&, const CallArguments& args) {
  const std::string* text = TRY(text_for("split", *TRY(arg(args, "split", 0, "text"))));
  const std::string* sep = TRY(text_for("split", *TRY(arg(args, "split", 1, "sep"))));
  if (sep->empty()) return err(builtin_error("`split` needs a non-empty separator"));
  // Many short pieces take more room as a list than the text did (quotes and commas).
  ListBuilder pieces;
  size_t begin = 0;
  for (;;) {
    const size_t found = text->find(*sep, begin);
    if (found == std::string::npos) break;
    TRY(pieces.push(Value::text(text->substr(begin, found - begin))));
    begin = found + sep->size();
  }
  TRY(pieces.push(Value::text(text->substr(begin))));
  return std::move(pieces).build();
}

ValueResult builtin_lines(EvalContext&, const CallArguments& args) {
  const std::string* text = TRY(text_for("lines", *TRY(arg(args, "lines", 0, "text"))));
  ListBuilder lines;
  size_t begin = 0;
  while (begin < text->size()) {
    size_t end = text->find('\n', begin);
    const size_t next = end == std::string::npos ? text->size() : end + 1;
    if (end == std::string::npos) end = text->size();
    if (end > begin && (*text)[end - 1] == '\r') --end;
    TRY(lines.push(Value::text(text->substr(begin, end - begin))));
    begin = next;
  }
  return std::move(lines).build();
}

ValueResult builtin_number(EvalContext&, const CallArguments& args) {
  const Value* x = TRY(arg(args, "number", 0, "x"));
  if (auto b = x->if_bool()) return Value::number(*b ? 1 : 0);
  if (auto n = x->if_numeric()) return Value::number(*n);
  const std::string* original = x->if_text();
  if (original == nullptr) return err(expected_type_error("a number, bool or text for `number`", *x));

  std::string_view text = trim_white_space(*original);
  enum class Suffix { None, Percent, Thousands } suffix = Suffix::None;
  if (!text.empty() && text.back() == '%') {
    suffix = Suffix::Percent;
  } else if (!text.empty() && text.back() == 'k') {
    suffix = Suffix::Thousands;
  }
  if (suffix != Suffix::None) text = trim_white_space(text.substr(0, text.size() - 1));
  const std::optional<double> read = read_decimal(text);
  if (!read) return err(unreadable_number(*original));
  switch (suffix) {
    case Suffix::Percent: return Value::number(*read / 100);
    case Suffix::Thousands: return Value::number(*read * 1000);
    case Suffix::None: break;
  }
  return Value::number(*read);
}

}  // namespace dravelin::runtime::builtins
