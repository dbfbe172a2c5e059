#include "record/run_options.h"

#include "json/record_form.h"

namespace dravelin::record {

namespace form = json::record_form;

constexpr auto describe(std::type_identity<Sample::Seeded>) {
  return form::objects_only(
      form::fields_of<Sample::Seeded>("struct variant Sample::Seeded", form::required("seed", &Sample::Seeded::seed)));
}

bool Sample::sampling() const {
  if (const bool* on = std::get_if<bool>(&setting)) return *on;
  return true;
}

std::optional<uint64_t> Sample::seed() const {
  if (const Seeded* seeded = std::get_if<Seeded>(&setting)) return seeded->seed;
  return std::nullopt;
}

void Sample::write_json(json::Writer& out) const {
  if (const bool* on = std::get_if<bool>(&setting)) {
    out.boolean(*on);
  } else {
    form::write_record(std::get<Seeded>(setting), out);
  }
}

json::Value Sample::to_json_value() const {
  if (const bool* on = std::get_if<bool>(&setting)) return json::Value(*on);
  return form::to_value(std::get<Seeded>(setting));
}

Result<Sample, std::string> Sample::read_json(const json::Value& value) {
  if (value.is_bool()) return Sample{value.as_bool()};
  if (value.is_object()) {
    auto seeded = form::read_record<Seeded>(value);
    if (seeded.ok()) return Sample{std::move(seeded).value()};
  }
  return err(std::string("data did not match any variant of untagged enum Sample"));
}

}  // namespace dravelin::record
