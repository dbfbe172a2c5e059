#include "record/usage.h"

#include <cmath>
#include <limits>

#include "json/record_form.h"
#include "json/record_read.h"

namespace dravelin::record {

namespace form = json::record_form;

constexpr auto describe(std::type_identity<Usage>) {
  return form::fields_of<Usage>("struct Usage",                                     //
                                form::required("calls", &Usage::calls),              //
                                form::required("tokens", &Usage::tokens),            //
                                form::required("usd", &Usage::usd),                  //
                                form::required("minutes", &Usage::minutes),          //
                                form::required("steps", &Usage::steps),              //
                                form::defaulted("adapter_usd", &Usage::adapter_usd),  //
                                form::defaulted("adapter_tokens", &Usage::adapter_tokens));
}

std::string_view budget_key_name(BudgetKey key) { return syntax::enum_name(key); }

std::optional<BudgetKey> budget_key_from_name(std::string_view name) {
  return syntax::enum_from_name<BudgetKey>(name);
}

Result<BudgetKey, std::string> read_budget_key(const json::Value& value) {
  const size_t index = TRY(json::record_read::read_unit_variant(value, syntax::EnumNames<BudgetKey>::names));
  return static_cast<BudgetKey>(index);
}

void Usage::write_json(std::string& out) const {
  json::Writer writer(out);
  write_json(writer);
}

void Usage::write_json(json::Writer& out) const { form::write_record(*this, out); }

json::Value Usage::to_json_value() const { return form::to_value(*this); }

Result<Usage, std::string> Usage::read_json(const json::Value& value) { return form::read_record<Usage>(value); }

uint64_t saturating_u64(double value) {
  // 2^64 is exactly representable; every double below it converts without overflow.
  constexpr double kLimit = 18446744073709551616.0;
  if (!(value >= 1.0)) return 0;  // NaN, negatives and fractions below one
  if (value >= kLimit) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

double saturating_add(double total, double amount) {
  if (std::isnan(amount)) return total;
  const double sum = total + amount;
  if (std::isfinite(sum)) return sum;
  // Only an infinite amount, or one that carries a finite total past the largest double, gets here.
  if (std::isnan(sum)) return total;
  return std::copysign(std::numeric_limits<double>::max(), sum);
}

}  // namespace dravelin::record
