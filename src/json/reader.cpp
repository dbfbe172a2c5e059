// The JSON reader. One pass over the bytes with a position index; positions become line and column only
// when an error is made.
#include "json/reader.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace dravelin::json {

namespace {

bool is_ws(unsigned char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Bytes that end a run of plain string content: the quote, the backslash, control characters and
// every non-ASCII byte (checked as UTF-8 on the slow path).
struct StringStopTable {
  bool stop[256];
  constexpr StringStopTable() : stop() {
    for (int i = 0; i < 256; ++i) stop[i] = i < 0x20 || i == '"' || i == '\\' || i >= 0x80;
  }
};
constexpr StringStopTable kStringStop;

// The length of the valid UTF-8 sequence that starts at p (a byte >= 0x80), or 0 when it is not valid
// (Unicode Table 3-7: no overlong forms, no surrogates, nothing above U+10FFFF).
size_t utf8_sequence_length(const unsigned char* p, size_t avail) {
  const unsigned char c = p[0];
  auto cont = [&](size_t i, unsigned char lo, unsigned char hi) {
    return i < avail && p[i] >= lo && p[i] <= hi;
  };
  if (c >= 0xC2 && c <= 0xDF) return cont(1, 0x80, 0xBF) ? 2 : 0;
  if (c == 0xE0) return cont(1, 0xA0, 0xBF) && cont(2, 0x80, 0xBF) ? 3 : 0;
  if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
    return cont(1, 0x80, 0xBF) && cont(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2, 0x80, 0xBF) ? 3 : 0;
  if (c == 0xF0) return cont(1, 0x90, 0xBF) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
  if (c >= 0xF1 && c <= 0xF3) {
    return cont(1, 0x80, 0xBF) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
  }
  if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
  return 0;
}

void push_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// For a number text that std::from_chars found out of range: true when it overflows (its magnitude is
// at least 1), false when it underflows to zero. The text is valid JSON number syntax.
bool number_overflows(std::string_view num) {
  size_t i = 0;
  if (i < num.size() && num[i] == '-') ++i;
  long long first_digit_exp = 0;  // decimal exponent of the first non-zero digit, before the 'e' part
  bool found = false;
  long long int_len = 0;
  size_t j = i;
  while (j < num.size() && is_digit(num[j])) ++j;
  int_len = static_cast<long long>(j - i);
  for (size_t k = i; k < j; ++k) {
    if (num[k] != '0') {
      first_digit_exp = int_len - 1 - static_cast<long long>(k - i);
      found = true;
      break;
    }
  }
  size_t k = j;
  if (k < num.size() && num[k] == '.') {
    ++k;
    size_t frac_start = k;
    while (k < num.size() && is_digit(num[k])) {
      if (!found && num[k] != '0') {
        first_digit_exp = -static_cast<long long>(k - frac_start) - 1;
        found = true;
      }
      ++k;
    }
  }
  long long exp = 0;
  if (k < num.size() && (num[k] == 'e' || num[k] == 'E')) {
    ++k;
    bool neg = false;
    if (k < num.size() && (num[k] == '+' || num[k] == '-')) {
      neg = num[k] == '-';
      ++k;
    }
    while (k < num.size() && is_digit(num[k])) {
      if (exp < 100000000) exp = exp * 10 + (num[k] - '0');
      ++k;
    }
    if (neg) exp = -exp;
  }
  if (!found) return false;
  return first_digit_exp + exp >= 0;
}

}  // namespace

std::string_view error_code_text(ErrorCode code) {
  switch (code) {
    case ErrorCode::EofWhileParsingList: return "EOF while parsing a list";
    case ErrorCode::EofWhileParsingObject: return "EOF while parsing an object";
    case ErrorCode::EofWhileParsingString: return "EOF while parsing a string";
    case ErrorCode::EofWhileParsingValue: return "EOF while parsing a value";
    case ErrorCode::ExpectedColon: return "expected `:`";
    case ErrorCode::ExpectedListCommaOrEnd: return "expected `,` or `]`";
    case ErrorCode::ExpectedObjectCommaOrEnd: return "expected `,` or `}`";
    case ErrorCode::ExpectedSomeIdent: return "expected ident";
    case ErrorCode::ExpectedSomeValue: return "expected value";
    case ErrorCode::InvalidEscape: return "invalid escape";
    case ErrorCode::InvalidNumber: return "invalid number";
    case ErrorCode::NumberOutOfRange: return "number out of range";
    case ErrorCode::ControlCharacterWhileParsingString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case ErrorCode::KeyMustBeAString: return "key must be a string";
    case ErrorCode::LoneLeadingSurrogateInHexEscape: return "lone leading surrogate in hex escape";
    case ErrorCode::LoneTrailingSurrogateInHexEscape: return "lone trailing surrogate in hex escape";
    case ErrorCode::InvalidUtf8: return "invalid UTF-8 in string";
    case ErrorCode::TrailingComma: return "trailing comma";
    case ErrorCode::TrailingCharacters: return "trailing characters";
    case ErrorCode::UnexpectedEndOfHexEscape: return "unexpected end of hex escape";
    case ErrorCode::RecursionLimitExceeded: return "recursion limit exceeded";
    case ErrorCode::Message: return "";
  }
  return "";
}

std::string ParseError::text() const {
  if (line == 0) return message;
  std::string out;
  out.reserve(message.size() + 32);
  out += message;
  out += " at line ";
  append_u64(out, line);
  out += " column ";
  append_u64(out, column);
  return out;
}

TextPosition position_of_index(std::string_view text, size_t index) {
  if (index > text.size()) index = text.size();
  TextPosition pos;
  size_t start_of_line = 0;
  for (size_t i = 0; i < index; ++i) {
    if (text[i] == '\n') {
      ++pos.line;
      start_of_line = i + 1;
    }
  }
  pos.column = index - start_of_line;
  return pos;
}

// ---- messages ----

std::string describe_string(std::string_view text) {
  std::string out = "string \"";
  out.reserve(text.size() + 10);
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char kHex[] = "0123456789abcdef";
          out += "\\u{";
          if (c >= 0x10) out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
          out.push_back('}');
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string describe_found(const Value& found, FloatStyle style) {
  switch (found.kind()) {
    case Kind::Null: return "null";
    case Kind::Bool: return found.as_bool() ? "boolean `true`" : "boolean `false`";
    case Kind::Int: return "integer `" + format_i64(found.as_int()) + "`";
    case Kind::UInt: return "integer `" + format_u64(found.as_uint()) + "`";
    case Kind::Float: {
      const double d = found.as_float();
      std::string out = "floating point `";
      if (std::isfinite(d)) {
        append_float(out, d, style);
      } else {
        append_plain_decimal(out, d);  // NaN, inf, -inf
      }
      out.push_back('`');
      return out;
    }
    case Kind::String: return describe_string(found.as_string());
    case Kind::Array: return "sequence";
    case Kind::Object: return "map";
  }
  return "null";
}

std::string invalid_type_message(const Value& found, std::string_view expected, FloatStyle style) {
  std::string out = "invalid type: ";
  out += describe_found(found, style);
  out += ", expected ";
  out += expected;
  return out;
}

std::string invalid_value_message(const Value& found, std::string_view expected, FloatStyle style) {
  std::string out = "invalid value: ";
  out += describe_found(found, style);
  out += ", expected ";
  out += expected;
  return out;
}

std::string missing_field_message(std::string_view key) {
  std::string out = "missing field `";
  out += key;
  out += '`';
  return out;
}

std::string duplicate_field_message(std::string_view key) {
  std::string out = "duplicate field `";
  out += key;
  out += '`';
  return out;
}

std::string unknown_variant_message(std::string_view name, const std::vector<std::string_view>& names) {
  std::string out = "unknown variant `";
  out += name;
  out += "`, expected ";
  if (names.empty()) {
    out += "nothing";
  } else if (names.size() == 1) {
    out += '`';
    out += names[0];
    out += '`';
  } else if (names.size() == 2) {
    out += '`';
    out += names[0];
    out += "` or `";
    out += names[1];
    out += '`';
  } else {
    out += "one of ";
    for (size_t i = 0; i < names.size(); ++i) {
      if (i) out += ", ";
      out += '`';
      out += names[i];
      out += '`';
    }
  }
  return out;
}

// ---- Reader: errors ----

Reader::Reader(std::string_view text, ReadOptions options)
    : text_(text), remaining_depth_(options.recursion_limit), sort_objects_(options.sort_objects) {}

ParseError Reader::make_error(ErrorCode code, std::string message, size_t index) const {
  ParseError e;
  e.code = code;
  e.message = code == ErrorCode::Message ? std::move(message) : std::string(error_code_text(code));
  const TextPosition p = position_of_index(text_, index);
  e.line = p.line;
  e.column = p.column;
  return e;
}

ParseError Reader::error(ErrorCode code) const { return make_error(code, {}, pos_); }
ParseError Reader::error(std::string message) const {
  return make_error(ErrorCode::Message, std::move(message), pos_);
}
ParseError Reader::peek_error(ErrorCode code) const {
  return make_error(code, {}, std::min(text_.size(), pos_ + 1));
}
ParseError Reader::peek_error(std::string message) const {
  return make_error(ErrorCode::Message, std::move(message), std::min(text_.size(), pos_ + 1));
}

bool Reader::fail(ErrorCode code, size_t index) {
  err_code_ = code;
  err_index_ = index;
  return false;
}

bool Reader::fail_peek(ErrorCode code) { return fail(code, std::min(text_.size(), pos_ + 1)); }

ParseError Reader::take_error() { return make_error(err_code_, {}, err_index_); }

// ---- Reader: scanning ----

int Reader::skip_ws() {
  const size_t n = text_.size();
  while (pos_ < n) {
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    if (!is_ws(c)) return c;
    ++pos_;
  }
  return -1;
}

int Reader::peek() { return skip_ws(); }

bool Reader::parse_ident(const char* rest) {
  for (const char* p = rest; *p; ++p) {
    if (pos_ >= text_.size()) return fail_here(ErrorCode::EofWhileParsingValue);
    const char c = text_[pos_++];
    if (c != *p) return fail_here(ErrorCode::ExpectedSomeIdent);
  }
  return true;
}

// At the first digit; for a negative number the '-' has been consumed.
bool Reader::parse_number(bool positive, Value* out) {
  const char* s = text_.data();
  const size_t n = text_.size();
  const size_t start = positive ? pos_ : pos_ - 1;
  if (pos_ >= n) return fail_here(ErrorCode::EofWhileParsingValue);
  const unsigned char first = static_cast<unsigned char>(s[pos_++]);
  uint64_t significand = 0;
  bool is_float = false;
  if (first == '0') {
    if (pos_ < n && is_digit(static_cast<unsigned char>(s[pos_]))) return fail_peek(ErrorCode::InvalidNumber);
  } else if (first >= '1' && first <= '9') {
    significand = first - '0';
    while (pos_ < n && is_digit(static_cast<unsigned char>(s[pos_]))) {
      const unsigned digit = static_cast<unsigned char>(s[pos_]) - '0';
      if (!is_float) {
        if (significand > (UINT64_MAX - digit) / 10) {
          is_float = true;  // beyond 64 bits: read as a float
        } else {
          significand = significand * 10 + digit;
        }
      }
      ++pos_;
    }
  } else {
    return fail_here(ErrorCode::InvalidNumber);
  }
  if (pos_ < n && s[pos_] == '.') {
    ++pos_;
    const size_t digits_start = pos_;
    while (pos_ < n && is_digit(static_cast<unsigned char>(s[pos_]))) ++pos_;
    if (pos_ == digits_start) {
      return fail_peek(pos_ < n ? ErrorCode::InvalidNumber : ErrorCode::EofWhileParsingValue);
    }
    is_float = true;
  }
  if (pos_ < n && (s[pos_] == 'e' || s[pos_] == 'E')) {
    ++pos_;
    if (pos_ < n && (s[pos_] == '+' || s[pos_] == '-')) ++pos_;
    if (pos_ >= n) return fail_here(ErrorCode::EofWhileParsingValue);
    if (!is_digit(static_cast<unsigned char>(s[pos_++]))) return fail_here(ErrorCode::InvalidNumber);
    while (pos_ < n && is_digit(static_cast<unsigned char>(s[pos_]))) ++pos_;
    is_float = true;
  }
  if (!is_float) {
    if (!out) return true;
    if (positive) {
      *out = Value(significand);
    } else if (significand == 0) {
      *out = Value(-0.0);
    } else if (significand <= (uint64_t{1} << 63)) {
      *out = Value(static_cast<int64_t>(0 - significand));  // two's complement: -2^63 included
    } else {
      *out = Value(-static_cast<double>(significand));
    }
    return true;
  }
  double d = 0;
  const auto res = std::from_chars(s + start, s + pos_, d);
  if (res.ec == std::errc::result_out_of_range) {
    if (number_overflows(text_.substr(start, pos_ - start))) return fail_here(ErrorCode::NumberOutOfRange);
    d = positive ? 0.0 : -0.0;
  } else if (res.ec != std::errc() || res.ptr != s + pos_) {
    return fail_here(ErrorCode::InvalidNumber);  // not reachable: the syntax was checked above
  }
  if (out) *out = Value(d);
  return true;
}

bool Reader::decode_hex_escape(uint32_t& value) {
  const size_t n = text_.size();
  if (n - pos_ < 4) {
    pos_ = n;
    return fail_here(ErrorCode::EofWhileParsingString);
  }
  uint32_t v = 0;
  bool ok = true;
  for (int i = 0; i < 4; ++i) {
    const int h = hex_value(static_cast<unsigned char>(text_[pos_ + i]));
    if (h < 0) ok = false;
    v = (v << 4) | static_cast<uint32_t>(h < 0 ? 0 : h);
  }
  pos_ += 4;
  if (!ok) return fail_here(ErrorCode::InvalidEscape);
  value = v;
  return true;
}

// After "\u".
bool Reader::parse_unicode_escape(std::string* out) {
  uint32_t n1 = 0;
  if (!decode_hex_escape(n1)) return false;
  if (n1 >= 0xDC00 && n1 <= 0xDFFF) return fail_here(ErrorCode::LoneTrailingSurrogateInHexEscape);
  if (n1 < 0xD800 || n1 > 0xDBFF) {
    if (out) push_utf8(*out, n1);
    return true;
  }
  // A high surrogate: a low surrogate escape must follow.
  const size_t n = text_.size();
  if (pos_ >= n) return fail_here(ErrorCode::EofWhileParsingString);
  if (text_[pos_++] != '\\') return fail_here(ErrorCode::UnexpectedEndOfHexEscape);
  if (pos_ >= n) return fail_here(ErrorCode::EofWhileParsingString);
  if (text_[pos_++] != 'u') return fail_here(ErrorCode::UnexpectedEndOfHexEscape);
  uint32_t n2 = 0;
  if (!decode_hex_escape(n2)) return false;
  if (n2 < 0xDC00 || n2 > 0xDFFF) return fail_here(ErrorCode::LoneLeadingSurrogateInHexEscape);
  if (out) push_utf8(*out, (((n1 - 0xD800) << 10) | (n2 - 0xDC00)) + 0x10000);
  return true;
}

// After the backslash.
bool Reader::parse_escape(std::string* out) {
  if (pos_ >= text_.size()) return fail_here(ErrorCode::EofWhileParsingString);
  const char c = text_[pos_++];
  char decoded;
  switch (c) {
    case '"': decoded = '"'; break;
    case '\\': decoded = '\\'; break;
    case '/': decoded = '/'; break;
    case 'b': decoded = '\b'; break;
    case 'f': decoded = '\f'; break;
    case 'n': decoded = '\n'; break;
    case 'r': decoded = '\r'; break;
    case 't': decoded = '\t'; break;
    case 'u': return parse_unicode_escape(out);
    default: return fail_here(ErrorCode::InvalidEscape);
  }
  if (out) out->push_back(decoded);
  return true;
}

// After the opening quote. `out` (when given) receives the decoded text.
bool Reader::parse_string(std::string* out) {
  const char* s = text_.data();
  const size_t n = text_.size();
  size_t start = pos_;
  for (;;) {
    while (pos_ < n && !kStringStop.stop[static_cast<unsigned char>(s[pos_])]) ++pos_;
    if (pos_ >= n) return fail_here(ErrorCode::EofWhileParsingString);
    const unsigned char c = static_cast<unsigned char>(s[pos_]);
    if (c >= 0x80) {
      const size_t len = utf8_sequence_length(reinterpret_cast<const unsigned char*>(s + pos_), n - pos_);
      if (len == 0) return fail(ErrorCode::InvalidUtf8, pos_ + 1);
      pos_ += len;
      continue;
    }
    if (c == '"') {
      if (out) out->append(s + start, pos_ - start);
      ++pos_;
      return true;
    }
    if (c == '\\') {
      if (out) out->append(s + start, pos_ - start);
      ++pos_;
      if (!parse_escape(out)) return false;
      start = pos_;
      continue;
    }
    ++pos_;  // a control character
    return fail_here(ErrorCode::ControlCharacterWhileParsingString);
  }
}

bool Reader::enter() {
  if (--remaining_depth_ <= 0) return fail_peek(ErrorCode::RecursionLimitExceeded);
  return true;
}

// The separator logic of an array: at an element or at "]".
bool Reader::next_element_impl(bool& more) {
  int c = skip_ws();
  if (c < 0) return fail_peek(ErrorCode::EofWhileParsingList);
  if (c == ']') {
    more = false;
    return true;
  }
  if (first_) {
    first_ = false;
  } else if (c == ',') {
    ++pos_;
    c = skip_ws();
    if (c == ']') return fail_peek(ErrorCode::TrailingComma);
    if (c < 0) return fail_peek(ErrorCode::EofWhileParsingValue);
  } else {
    return fail_peek(ErrorCode::ExpectedListCommaOrEnd);
  }
  more = true;
  return true;
}

// The separator logic of an object and its key (without the colon).
bool Reader::next_key_impl(std::string* key, bool& more) {
  int c = skip_ws();
  if (c == '}') {
    more = false;
    return true;
  }
  if (c == ',' && !first_) {
    ++pos_;
    c = skip_ws();
  } else if (c >= 0) {
    if (!first_) return fail_peek(ErrorCode::ExpectedObjectCommaOrEnd);
    first_ = false;
  } else {
    return fail_peek(ErrorCode::EofWhileParsingObject);
  }
  if (c == '"') {
    ++pos_;
    if (key) key->clear();
    if (!parse_string(key)) return false;
    more = true;
    return true;
  }
  if (c == '}') return fail_peek(ErrorCode::TrailingComma);
  if (c < 0) return fail_peek(ErrorCode::EofWhileParsingValue);
  return fail_peek(ErrorCode::KeyMustBeAString);
}

bool Reader::parse_array(Value& out) {
  if (!enter()) return false;
  ++pos_;  // '['
  Array items;
  const bool saved_first = first_;
  first_ = true;
  for (;;) {
    bool more = false;
    if (!next_element_impl(more)) return false;
    if (!more) break;
    items.emplace_back();
    if (!parse_value(items.back())) return false;
  }
  ++pos_;  // ']'
  ++remaining_depth_;
  first_ = saved_first;
  out = Value(std::move(items));
  return true;
}

bool Reader::parse_object(Value& out) {
  if (!enter()) return false;
  ++pos_;  // '{'
  Object object;
  const bool saved_first = first_;
  first_ = true;
  std::string key;
  for (;;) {
    bool more = false;
    if (!next_key_impl(&key, more)) return false;
    if (!more) break;
    const int c = skip_ws();
    if (c != ':') return fail_peek(c < 0 ? ErrorCode::EofWhileParsingObject : ErrorCode::ExpectedColon);
    ++pos_;
    Value& slot = object.append(std::move(key), Value());
    key = std::string();
    if (!parse_value(slot)) return false;
  }
  ++pos_;  // '}'
  ++remaining_depth_;
  first_ = saved_first;
  if (sort_objects_) object.sort_keys();
  out = Value(std::move(object));
  return true;
}

bool Reader::parse_value(Value& out) {
  const int c = skip_ws();
  switch (c) {
    case -1: return fail_peek(ErrorCode::EofWhileParsingValue);
    case 'n':
      ++pos_;
      if (!parse_ident("ull")) return false;
      out = Value();
      return true;
    case 't':
      ++pos_;
      if (!parse_ident("rue")) return false;
      out = Value(true);
      return true;
    case 'f':
      ++pos_;
      if (!parse_ident("alse")) return false;
      out = Value(false);
      return true;
    case '-': ++pos_; return parse_number(false, &out);
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
      return parse_number(true, &out);
    case '"': {
      ++pos_;
      std::string s;
      if (!parse_string(&s)) return false;
      out = Value(std::move(s));
      return true;
    }
    case '[': return parse_array(out);
    case '{': return parse_object(out);
    default: return fail_peek(ErrorCode::ExpectedSomeValue);
  }
}

bool Reader::skip_value_impl() {
  const int c = skip_ws();
  switch (c) {
    case -1: return fail_peek(ErrorCode::EofWhileParsingValue);
    case 'n': ++pos_; return parse_ident("ull");
    case 't': ++pos_; return parse_ident("rue");
    case 'f': ++pos_; return parse_ident("alse");
    case '-': ++pos_; return parse_number(false, nullptr);
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
      return parse_number(true, nullptr);
    case '"': ++pos_; return parse_string(nullptr);
    case '[': {
      if (!enter()) return false;
      ++pos_;
      const bool saved_first = first_;
      first_ = true;
      for (;;) {
        bool more = false;
        if (!next_element_impl(more)) return false;
        if (!more) break;
        if (!skip_value_impl()) return false;
      }
      ++pos_;
      ++remaining_depth_;
      first_ = saved_first;
      return true;
    }
    case '{': {
      if (!enter()) return false;
      ++pos_;
      const bool saved_first = first_;
      first_ = true;
      for (;;) {
        bool more = false;
        if (!next_key_impl(nullptr, more)) return false;
        if (!more) break;
        const int d = skip_ws();
        if (d != ':') return fail_peek(d < 0 ? ErrorCode::EofWhileParsingObject : ErrorCode::ExpectedColon);
        ++pos_;
        if (!skip_value_impl()) return false;
      }
      ++pos_;
      ++remaining_depth_;
      first_ = saved_first;
      return true;
    }
    default: return fail_peek(ErrorCode::ExpectedSomeValue);
  }
}

// ---- Reader: public pull API ----

Result<Value, ParseError> Reader::read_value() {
  Value v;
  if (!parse_value(v)) return err(take_error());
  return v;
}

Result<Unit, ParseError> Reader::skip_value() {
  if (!skip_value_impl()) return err(take_error());
  return Unit{};
}

ParseError Reader::invalid_type(std::string_view expected, FloatStyle style) {
  const int c = skip_ws();
  Value found;
  switch (c) {
    case 'n':
      ++pos_;
      if (!parse_ident("ull")) return take_error();
      break;
    case 't':
      ++pos_;
      if (!parse_ident("rue")) return take_error();
      found = Value(true);
      break;
    case 'f':
      ++pos_;
      if (!parse_ident("alse")) return take_error();
      found = Value(false);
      break;
    case '-':
      ++pos_;
      if (!parse_number(false, &found)) return take_error();
      break;
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
      if (!parse_number(true, &found)) return take_error();
      break;
    case '"': {
      ++pos_;
      std::string s;
      if (!parse_string(&s)) return take_error();
      found = Value(std::move(s));
      break;
    }
    case '[': found = Value::array(); break;
    case '{': found = Value::object(); break;
    default: return peek_error(ErrorCode::ExpectedSomeValue);
  }
  return error(invalid_type_message(found, expected, style));
}

Result<Unit, ParseError> Reader::begin_container(char open) {
  const int c = skip_ws();
  if (c < 0) return err(peek_error(ErrorCode::EofWhileParsingValue));
  if (c != open) return err(peek_error(ErrorCode::ExpectedSomeValue));
  if (!enter()) return err(take_error());
  ++pos_;
  first_ = true;
  return Unit{};
}

Result<Unit, ParseError> Reader::end_container(char close, ErrorCode at_end, ErrorCode otherwise) {
  const int c = skip_ws();
  if (c == close) {
    ++pos_;
    ++remaining_depth_;
    first_ = false;
    return Unit{};
  }
  return err(peek_error(c < 0 ? at_end : otherwise));
}

Result<Unit, ParseError> Reader::begin_object() { return begin_container('{'); }

Result<bool, ParseError> Reader::next_key(std::string& key) {
  bool more = false;
  if (!next_key_impl(&key, more)) return err(take_error());
  return more;
}

Result<Unit, ParseError> Reader::colon() {
  const int c = skip_ws();
  if (c == ':') {
    ++pos_;
    return Unit{};
  }
  return err(peek_error(c < 0 ? ErrorCode::EofWhileParsingObject : ErrorCode::ExpectedColon));
}

Result<Unit, ParseError> Reader::end_object() {
  return end_container('}', ErrorCode::EofWhileParsingObject, ErrorCode::ExpectedObjectCommaOrEnd);
}

Result<Unit, ParseError> Reader::begin_array() { return begin_container('['); }

Result<bool, ParseError> Reader::next_element() {
  bool more = false;
  if (!next_element_impl(more)) return err(take_error());
  return more;
}

Result<Unit, ParseError> Reader::end_array() {
  return end_container(']', ErrorCode::EofWhileParsingList, ErrorCode::ExpectedListCommaOrEnd);
}

Result<Unit, ParseError> Reader::finish() {
  if (skip_ws() >= 0) return err(peek_error(ErrorCode::TrailingCharacters));
  return Unit{};
}

// ---- whole-text readers ----

Result<Value, ParseError> parse(std::string_view text, const ReadOptions& options) {
  Reader reader(text, options);
  Value value = TRY(reader.read_value());
  TRY(reader.finish());
  return value;
}

Result<Value, ParseError> parse_json_value(std::string_view text) {
  ReadOptions options;
  options.sort_objects = true;
  return parse(text, options);
}

Result<Object, ParseError> parse_json_object(std::string_view text) {
  ReadOptions options;
  options.sort_objects = true;
  Reader reader(text, options);
  const int c = reader.peek();
  if (c < 0) return err(reader.peek_error(ErrorCode::EofWhileParsingValue));
  if (c != '{') return err(reader.invalid_type("a map"));
  Value value = TRY(reader.read_value());
  TRY(reader.finish());
  return std::move(value).as_object();
}

}  // namespace dravelin::json
