#include "record/timestamp.h"

#include <chrono>
#include <limits>
#include <optional>

#include "json/number_format.h"

namespace dravelin::record {

namespace {

void append_padded(std::string& out, uint64_t value, size_t width) {
  const std::string digits = json::format_u64(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

// The field of `width` digits at `at`, or nothing when a byte there is no ASCII digit.
std::optional<int64_t> digits_at(std::string_view text, size_t at, size_t width) {
  int64_t value = 0;
  for (size_t i = at; i < at + width; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

runtime::RuntimeError not_a_clock_reading(std::string_view text) {
  std::string message = "`";
  message += text;
  message += "` is not a recorded clock reading";
  return runtime::make_runtime_error(runtime::RuntimeErrorCode::ReplayDiverged, std::move(message));
}

}  // namespace

std::string format_timestamp_ms(uint64_t ms) {
  const uint64_t millis = ms % 1000;
  const uint64_t seconds_of_day = (ms / 1000) % 86'400;
  // Days to a civil date, counted in eras of 400 years from 0000-03-01.
  const uint64_t z = ms / 86'400'000 + 719'468;
  const uint64_t era = z / 146'097;
  const uint64_t doe = z % 146'097;
  const uint64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const uint64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const uint64_t mp = (5 * doy + 2) / 153;
  const uint64_t day = doy - (153 * mp + 2) / 5 + 1;
  const uint64_t month = mp < 10 ? mp + 3 : mp - 9;
  const uint64_t year = 400 * era + yoe + (month <= 2 ? 1 : 0);

  std::string out;
  out.reserve(24);
  append_padded(out, year, 4);
  out += '-';
  append_padded(out, month, 2);
  out += '-';
  append_padded(out, day, 2);
  out += 'T';
  append_padded(out, seconds_of_day / 3600, 2);
  out += ':';
  append_padded(out, seconds_of_day % 3600 / 60, 2);
  out += ':';
  append_padded(out, seconds_of_day % 60, 2);
  out += '.';
  append_padded(out, millis, 3);
  out += 'Z';
  return out;
}

Result<int64_t, runtime::RuntimeError> parse_timestamp_ms(std::string_view text) {
  if (text.size() != 24 || text[23] != 'Z') return err(not_a_clock_reading(text));
  // The separators may be any single-byte character; one that starts or continues a multi-byte character
  // would put a field off a character boundary.
  for (const size_t at : {4, 7, 10, 13, 16, 19}) {
    if (static_cast<unsigned char>(text[at]) >= 0x80) return err(not_a_clock_reading(text));
  }
  const auto year = digits_at(text, 0, 4);
  const auto month = digits_at(text, 5, 2);
  const auto day = digits_at(text, 8, 2);
  const auto hour = digits_at(text, 11, 2);
  const auto minute = digits_at(text, 14, 2);
  const auto second = digits_at(text, 17, 2);
  const auto millis = digits_at(text, 20, 3);
  if (!year || !month || !day || !hour || !minute || !second || !millis) return err(not_a_clock_reading(text));
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 59) {
    return err(not_a_clock_reading(text));
  }
  // A civil date to days since the epoch (a day past its month's end runs on into the next month).
  const int64_t y = *year - (*month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (*month > 2 ? *month - 3 : *month + 9) + 2) / 5 + *day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146'097 + doe - 719'468;
  const int64_t ms = days * 86'400'000 + *hour * 3'600'000 + *minute * 60'000 + *second * 1000 + *millis;
  if (ms < 0) return err(not_a_clock_reading(text));
  return ms;
}

uint64_t system_clock_ms() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  if (since_epoch.count() < 0) return 0;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds);
  return static_cast<uint64_t>(seconds.count()) * 1000 + static_cast<uint64_t>(nanos.count()) / 1'000'000;
}

}  // namespace dravelin::record
