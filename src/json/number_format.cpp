// The number text forms, all built on one shortest round-trip digit primitive (std::to_chars).
#include "json/number_format.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace dravelin::json {

namespace {

constexpr double kTwoPow53 = 9007199254740992.0;

// Digits of the integer part (and the zeros that follow them) of a fixed-notation number.
void append_fixed_body(std::string& out, const ShortestDigits& d, bool whole_keeps_fraction) {
  const int e = d.exponent;
  if (e >= 0) {
    const int int_digits = e + 1;
    if (d.count <= int_digits) {
      out.append(d.digits, static_cast<size_t>(d.count));
      out.append(static_cast<size_t>(int_digits - d.count), '0');
      if (whole_keeps_fraction) out.append(".0", 2);
    } else {
      out.append(d.digits, static_cast<size_t>(int_digits));
      out.push_back('.');
      out.append(d.digits + int_digits, static_cast<size_t>(d.count - int_digits));
    }
  } else {
    out.append("0.", 2);
    out.append(static_cast<size_t>(-e - 1), '0');
    out.append(d.digits, static_cast<size_t>(d.count));
  }
}

// Fixed notation for decimal exponents -5..15, exponent form otherwise; whole values keep ".0".
void append_shortest_float(std::string& out, double value, bool plus_exponent) {
  if (!std::isfinite(value)) {
    out.append("null", 4);
    return;
  }
  const ShortestDigits d = shortest_digits(value);
  if (d.negative) out.push_back('-');
  if (d.exponent >= -5 && d.exponent <= 15) {
    append_fixed_body(out, d, true);
    return;
  }
  out.push_back(d.digits[0]);
  if (d.count > 1) {
    out.push_back('.');
    out.append(d.digits + 1, static_cast<size_t>(d.count - 1));
  }
  out.push_back('e');
  int e = d.exponent;
  if (e < 0) {
    out.push_back('-');
    e = -e;
  } else if (plus_exponent) {
    out.push_back('+');
  }
  char buf[8];
  auto res = std::to_chars(buf, buf + sizeof buf, e);
  out.append(buf, res.ptr);
}

}  // namespace

ShortestDigits shortest_digits(double value) {
  ShortestDigits d;
  // Scientific notation of the shortest round trip: "-d.ddde+XXX" needs at most 24 characters.
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const char* p = buf;
  const char* end = res.ptr;
  if (p < end && *p == '-') {
    d.negative = true;
    ++p;
  }
  while (p < end && *p != 'e') {
    if (*p != '.' && d.count < 17) d.digits[d.count++] = *p;
    ++p;
  }
  if (p < end) ++p;  // 'e'
  int sign = 1;
  if (p < end && (*p == '+' || *p == '-')) {
    if (*p == '-') sign = -1;
    ++p;
  }
  int e = 0;
  std::from_chars(p, end, e);
  d.exponent = sign * e;
  if (d.count == 0) {  // not reachable for finite values; keep the struct well formed
    d.digits[0] = '0';
    d.count = 1;
    d.exponent = 0;
  }
  // to_chars gives no trailing zeros for shortest output except for zero itself ("0e+00").
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  return d;
}

void append_plain_decimal(std::string& out, double value) {
  if (std::isnan(value)) {
    out.append("NaN", 3);
    return;
  }
  if (std::isinf(value)) {
    out.append(value < 0 ? "-inf" : "inf");
    return;
  }
  const ShortestDigits d = shortest_digits(value);
  if (d.negative) out.push_back('-');
  append_fixed_body(out, d, false);
}

std::string format_plain_decimal(double value) {
  std::string out;
  append_plain_decimal(out, value);
  return out;
}

void append_record_float(std::string& out, double value) { append_shortest_float(out, value, false); }

std::string format_record_float(double value) {
  std::string out;
  append_record_float(out, value);
  return out;
}

void append_ir_float(std::string& out, double value) { append_shortest_float(out, value, true); }

std::string format_ir_float(double value) {
  std::string out;
  append_ir_float(out, value);
  return out;
}

void append_float(std::string& out, double value, FloatStyle style) {
  append_shortest_float(out, value, style == FloatStyle::Ir);
}

bool value_number_is_integer(double value) {
  return std::isfinite(value) && std::fabs(value) < kTwoPow53 && value == std::trunc(value);
}

void append_value_number(std::string& out, double value) {
  if (value_number_is_integer(value)) {
    append_i64(out, static_cast<int64_t>(value));  // -0.0 converts to 0
  } else {
    append_record_float(out, value);  // "null" when not finite
  }
}

std::string format_value_number(double value) {
  std::string out;
  append_value_number(out, value);
  return out;
}

void append_u64(std::string& out, uint64_t value) {
  char buf[20];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

void append_i64(std::string& out, int64_t value) {
  char buf[20];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

std::string format_u64(uint64_t value) {
  std::string out;
  append_u64(out, value);
  return out;
}

std::string format_i64(int64_t value) {
  std::string out;
  append_i64(out, value);
  return out;
}

}  // namespace dravelin::json
