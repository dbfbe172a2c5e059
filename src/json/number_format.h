// The number text forms of the system, each a small named function over one shortest round-trip primitive.
//
// Every float form starts from `shortest_digits`: the shortest digit string that reads back as the same
// double (std::to_chars), with the decimal exponent of its first digit. The forms differ only in layout:
//
//   value        format_plain_decimal  format_record_float  format_ir_float   format_value_number
//   1.0          1                     1.0                  1.0               1
//   2.5          2.5                   2.5                  2.5               2.5
//   1e-6         0.000001              1e-6                 1e-6              1e-6
//   1e16         10000000000000000     1e16                 1e+16             1e16
//   -0.0         -0                    -0.0                 -0.0              0
//   NaN          NaN                   null                 null              null
//
// Each `format_*` has an `append_*` twin that appends to a buffer without a temporary string.
#pragma once

#include <cstdint>
#include <string>

namespace dravelin::json {

// The shortest round-trip decimal digits of a finite double: value = 0.d1d2d3... * 10^(exponent + 1),
// i.e. the first digit stands for 10^exponent. Zero has the single digit "0" and exponent 0.
struct ShortestDigits {
  char digits[17];  // '0'..'9', no terminator; at most 17 significant digits
  int count = 0;    // 1..17
  int exponent = 0; // decimal exponent E of the first digit (d.ddd x 10^E)
  bool negative = false;  // sign bit, so negative zero is negative
};

// The one digit primitive. `value` must be finite.
ShortestDigits shortest_digits(double value);

// Shortest plain decimal that reads back to the same float: no exponent, no fraction for whole values
// (1000, 0.15, 2.5). NaN is "NaN", infinities "inf" and "-inf".
std::string format_plain_decimal(double value);
void append_plain_decimal(std::string& out, double value);

// The record-field form (record fields and recordings): the shortest text that reads back the
// same, a whole number keeping ".0" (1.0, 50.0), fixed notation for decimal exponents -5..15 and exponent
// form otherwise (1e-6, 1.5e-7, 1e16, 1.5e300; the exponent carries a sign only when negative).
// NaN and the infinities are "null".
std::string format_record_float(double value);
void append_record_float(std::string& out, double value);

// The IR float text form, used by the IR documents: as the record-field form, but the exponent always
// carries its sign ("1e+16", "1e-6", "1.7976931348623157e+308"). NaN and the infinities are "null".
std::string format_ir_float(double value);
void append_ir_float(std::string& out, double value);

// The number rule of the value JSON forms (as `json_number`): a finite whole double of magnitude
// below 2^53 is a JSON integer (negative zero gives "0"); any other finite double is written in the
// record-field form ("9007199254740992.0", "1e16"); NaN and the infinities are "null".
std::string format_value_number(double value);
void append_value_number(std::string& out, double value);

// True when the number rule writes `value` as a JSON integer.
bool value_number_is_integer(double value);

// Which float text form a writer uses for float values.
enum class FloatStyle : uint8_t {
  Record,  // format_record_float: "1.0", "1e16" (the default: value JSON, record fields, recordings)
  Ir,      // format_ir_float: "1.0", "1e+16" (the IR document layouts)
};
void append_float(std::string& out, double value, FloatStyle style);

// Integers, written exactly: decimal digits, a minus sign for negative values.
std::string format_u64(uint64_t value);
std::string format_i64(int64_t value);
void append_u64(std::string& out, uint64_t value);
void append_i64(std::string& out, int64_t value);

}  // namespace dravelin::json
