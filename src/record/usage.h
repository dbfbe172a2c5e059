// The usage counters of a run and the budget keys that name its limits, with their JSON forms.
//
// `Usage` is written with all seven counters in declared order, the float ones in the record float form (0 as
// 0.0, null when not finite). Reading takes an object (keys in any order, others ignored, `adapter_usd` and
// `adapter_tokens` 0 when absent) or the array of the counters in order (at least five of them).
// Equality compares all seven counters, the float ones numerically (a NaN equals nothing).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"
#include "json/writer.h"
#include "syntax/unit_enums.h"

namespace dravelin::record {

// The four budget counters of a task or machine: calls, minutes, usd, steps. Keys order by that index, so a map
// keyed by them holds and writes its entries in that order.
using BudgetKey = syntax::ast::BudgetKey;

// "calls", "minutes", "usd", "steps".
std::string_view budget_key_name(BudgetKey key);
std::optional<BudgetKey> budget_key_from_name(std::string_view name);
// A key where it is a value: its name, or an object whose single entry is the name with null or {} beside it.
// Never an index.
Result<BudgetKey, std::string> read_budget_key(const json::Value& value);

struct Usage {
  uint64_t calls = 0;
  uint64_t tokens = 0;
  double usd = 0;
  double minutes = 0;  // the task's running time, time spent paused left out
  uint64_t steps = 0;
  double adapter_usd = 0;       // reported by capabilities under `usage`
  uint64_t adapter_tokens = 0;  // reported by capabilities under `usage`

  void write_json(std::string& out) const;
  void write_json(json::Writer& out) const;
  json::Value to_json_value() const;
  static Result<Usage, std::string> read_json(const json::Value& value);

  friend bool operator==(const Usage&, const Usage&) = default;
};

// A counter kept as a double (a frame's steps, a count) as an unsigned integer: truncated toward zero, 0 for
// NaN and for anything below 1, the largest value for anything at or beyond 2^64. Never undefined.
uint64_t saturating_u64(double value);

// `total + amount` for a float counter, held to the finite doubles: a sum past the largest one stays at it (with
// its sign), and an amount that is not a number is left out. A counter is written where a run records it, and
// a recording has no form for an infinity that reads back.
double saturating_add(double total, double amount);

}  // namespace dravelin::record
