// The JSON reader: text to `Value`, with positioned errors.
//
// This is the general reader, which the recording line reader builds on, and the base of the whole-text
// readers. Its behaviour and messages:
//   - whitespace is space, tab, line feed and carriage return;
//   - an empty text (or only whitespace) is "EOF while parsing a value";
//   - anything but whitespace after the value is "trailing characters";
//   - nesting is limited: the outermost array or object is level 1, and an array or object that would open
//     level 128 is "recursion limit exceeded" (127 levels read, 128 do not);
//   - every message is followed by " at line L column C": L counts lines from 1, C counts the BYTES of line
//     L that had been read when the fault was found (so a fault found on looking at a byte includes that
//     byte, and one found after consuming a token counts the whole token);
//   - the syntax faults of malformed JSON are: "EOF while parsing a list",
//     "EOF while parsing an object", "EOF while parsing a string", "expected `:`", "expected `,` or `]`",
//     "expected `,` or `}`", "expected ident", "expected value", "invalid escape", "invalid number",
//     "number out of range", "control character (\u0000-\u001F) found while parsing a string",
//     "key must be a string", "trailing comma", "unexpected end of hex escape" (a high surrogate escape
//     not followed by another \u escape), "lone leading surrogate in hex escape" (a high surrogate escape
//     followed by a \u escape that is no low surrogate);
//     and, for faults the above do not cover: "lone trailing surrogate in hex escape" (a low surrogate
//     escape with no high one before it) and "invalid UTF-8 in string" (raw bytes that are not UTF-8,
//     including overlong forms and encoded surrogates; the column is that of the offending byte).
//
// Numbers: an integer without fraction or exponent becomes `UInt` (>= 0) or `Int` (< 0) when it fits 64 bits;
// "-0", integers beyond 64 bits and every number with a fraction or exponent become `Float`, converted with
// std::from_chars (correctly rounded). A float beyond the double range is "number out of range"; one below
// the smallest subnormal reads as zero of its sign.
//
// Strings are decoded (escapes applied, \u escapes with surrogate pairs turned into UTF-8) and always hold
// valid UTF-8. No input makes the reader crash or loop: it is meant to be fuzzed (see fuzz.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/number_format.h"
#include "json/value.h"

namespace dravelin::json {

enum class ErrorCode : uint8_t {
  EofWhileParsingList,
  EofWhileParsingObject,
  EofWhileParsingString,
  EofWhileParsingValue,
  ExpectedColon,
  ExpectedListCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  ExpectedSomeIdent,
  ExpectedSomeValue,
  InvalidEscape,
  InvalidNumber,
  NumberOutOfRange,
  ControlCharacterWhileParsingString,
  KeyMustBeAString,
  LoneLeadingSurrogateInHexEscape,
  LoneTrailingSurrogateInHexEscape,
  InvalidUtf8,
  TrailingComma,
  TrailingCharacters,
  UnexpectedEndOfHexEscape,
  RecursionLimitExceeded,
  Message,  // a reader-specific text ("invalid type: ...", "missing field `x`", ...)
};

// The fixed message of a code ("" for Message).
std::string_view error_code_text(ErrorCode code);

struct ParseError {
  ErrorCode code = ErrorCode::Message;
  std::string message;  // the fault's text alone, e.g. "trailing characters"
  size_t line = 0;      // from 1; 0 only for an error made without a position
  size_t column = 0;    // bytes of that line read when the fault was found

  // The full text: "<message> at line L column C" (just the message when line is 0).
  std::string text() const;

  friend bool operator==(const ParseError&, const ParseError&) = default;
};

// The line and column of a byte index of a text, as the error texts count them.
struct TextPosition {
  size_t line = 1;
  size_t column = 0;
};
TextPosition position_of_index(std::string_view text, size_t index);

struct ReadOptions {
  // Levels of nesting: a container that would open this level is refused. 128 by default.
  int recursion_limit = 128;
  // Make every object an ordered map (byte order, a repeated key keeping its last value), as the whole-text
  // readers do. Off: objects keep document order and repeated keys (the reader's own tree).
  bool sort_objects = false;
};

// Reads the whole text as one JSON value followed by nothing but whitespace. Objects keep document order
// and repeated keys unless `options.sort_objects` is set.
Result<Value, ParseError> parse(std::string_view text, const ReadOptions& options = {});

// Whole-text reader: the whole text as one JSON value; objects are ordered maps (last repeat wins).
Result<Value, ParseError> parse_json_value(std::string_view text);

// Whole-text reader: the whole text as one JSON object, returned as an ordered map (nested objects too).
// Any other JSON value is "invalid type: <found>, expected a map at line L column C"; other text after
// the object is "trailing characters ...".
Result<Object, ParseError> parse_json_object(std::string_view text);

// The description of a found value in "invalid type"/"invalid value" messages:
// "null", "boolean `true`", "integer `-1`", "floating point `1.5`" (float in `style`, whole values with
// ".0"; non-finite as "NaN", "inf", "-inf"), "string \"abc\"" (quote, backslash, tab, CR, LF and NUL escaped
// as \" \\ \t \r \n \0, other control characters as \u{1f}), "sequence", "map".
std::string describe_found(const Value& found, FloatStyle style = FloatStyle::Record);
std::string describe_string(std::string_view text);  // the string row alone: string "..."

// Message builders for readers built on this one (no position; wrap with Reader::error when positioned).
std::string invalid_type_message(const Value& found, std::string_view expected,
                                 FloatStyle style = FloatStyle::Record);
std::string invalid_value_message(const Value& found, std::string_view expected,
                                  FloatStyle style = FloatStyle::Record);
std::string missing_field_message(std::string_view key);    // missing field `key`
std::string duplicate_field_message(std::string_view key);  // duplicate field `key`
// unknown variant `name`, expected `a` | `a` or `b` | one of `a`, `b`, `c` (no names: "expected nothing")
std::string unknown_variant_message(std::string_view name, const std::vector<std::string_view>& names);

// A pull reader over one text, for readers that read JSON directly without building a whole tree (the
// recording line reader). It reads step for step as `parse` does, so positions and messages match those
// of `parse`:
//
//   Reader r(line);
//   if (r.peek() != '{') return r.invalid_type("struct RecordedEvent");
//   TRY(r.begin_object());
//   std::string key;
//   while (TRY(r.next_key(key))) {   // key read; the colon not yet
//     TRY(r.colon());
//     Value v = TRY(r.read_value());
//   }
//   TRY(r.end_object());   // consumes the closing brace
//   TRY(r.finish());       // "trailing characters"
class Reader {
 public:
  explicit Reader(std::string_view text, ReadOptions options = {});

  std::string_view text() const { return text_; }
  size_t offset() const { return pos_; }  // bytes consumed

  // Skips whitespace; the next byte (0..255), or -1 at the end of the text.
  int peek();

  // Errors at this reader's position. `error` counts the bytes consumed; `peek_error` also the byte being
  // looked at (capped at the end of the text).
  ParseError error(ErrorCode code) const;
  ParseError error(std::string message) const;
  ParseError peek_error(ErrorCode code) const;
  ParseError peek_error(std::string message) const;

  // One complete value at this place (leading whitespace skipped), within the remaining nesting levels.
  Result<Value, ParseError> read_value();
  // Skips one complete value, checking its syntax, without keeping it.
  Result<Unit, ParseError> skip_value();

  // The refusal of a value of the wrong kind: a scalar is read (its own syntax faults
  // win), an array or object is not consumed, and the result is
  // "invalid type: <found>, expected <expected>" at the position then reached.
  ParseError invalid_type(std::string_view expected, FloatStyle style = FloatStyle::Record);

  // Objects. `begin_object` expects "{" next (after whitespace) and takes one nesting level. `next_key`
  // reads the separator and the next key and returns true, or returns false at "}" without consuming it.
  // `colon` reads the ":" after a key. `end_object` consumes the "}" and gives the level back.
  Result<Unit, ParseError> begin_object();
  Result<bool, ParseError> next_key(std::string& key);
  Result<Unit, ParseError> colon();
  Result<Unit, ParseError> end_object();

  // Arrays, the same way: `next_element` returns true when an element follows (not yet read).
  Result<Unit, ParseError> begin_array();
  Result<bool, ParseError> next_element();
  Result<Unit, ParseError> end_array();

  // Only whitespace may remain: otherwise "trailing characters".
  Result<Unit, ParseError> finish();

 private:
  bool fail(ErrorCode code, size_t index);
  bool fail_here(ErrorCode code) { return fail(code, pos_); }
  bool fail_peek(ErrorCode code);
  int skip_ws();
  bool parse_value(Value& out);
  bool skip_value_impl();
  bool parse_ident(const char* rest);
  bool parse_number(bool positive, Value* out);
  bool parse_string(std::string* out);
  bool parse_escape(std::string* out);
  bool parse_unicode_escape(std::string* out);
  bool decode_hex_escape(uint32_t& value);
  bool parse_array(Value& out);
  bool parse_object(Value& out);
  bool enter();
  bool next_element_impl(bool& more);
  bool next_key_impl(std::string* key, bool& more);
  // The pull API's opening and closing of an array or object: `open` or `close` is its bracket; a missing
  // closing bracket is `at_end` at the end of the text and `otherwise` before anything else.
  Result<Unit, ParseError> begin_container(char open);
  Result<Unit, ParseError> end_container(char close, ErrorCode at_end, ErrorCode otherwise);
  ParseError take_error();
  ParseError make_error(ErrorCode code, std::string message, size_t index) const;

  std::string_view text_;
  size_t pos_ = 0;
  int remaining_depth_;
  bool sort_objects_;
  bool first_ = true;  // pull API: no element or entry read yet in the innermost open container
  ErrorCode err_code_ = ErrorCode::Message;
  size_t err_index_ = 0;
};

}  // namespace dravelin::json
