// Points in time as recordings write them: whole milliseconds since 1970-01-01T00:00:00Z and their fixed-width
// UTC text "YYYY-MM-DDTHH:MM:SS.mmmZ" (proleptic Gregorian calendar, no leap seconds, no offset).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "runtime/runtime_error.h"

namespace dravelin::record {

// The text of a millisecond count; a year past 9999 takes as many digits as it needs. Never fails.
std::string format_timestamp_ms(uint64_t ms);

// The millisecond count of a text that `format_timestamp_ms` could have written: exactly 24 bytes ending in
// "Z", digits in the fields' places and single-byte characters in the separators' (whatever they are), the
// fields in range (a day past its month's end runs on into the next month), not before 1970. Every refusal is
// `replay_diverged` "`<text>` is not a recorded clock reading".
Result<int64_t, runtime::RuntimeError> parse_timestamp_ms(std::string_view text);

// The system clock in milliseconds since the epoch; 0 for a clock that stands before the epoch.
uint64_t system_clock_ms();

}  // namespace dravelin::record
