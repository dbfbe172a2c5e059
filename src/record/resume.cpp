#include "record/resume.h"

#include <utility>

#include "json/reader.h"
#include "json/record_form.h"

namespace dravelin::record {

namespace form = json::record_form;

namespace {

// An extension map: one member per budget key, named by the key. A member that is no budget key, or whose
// value is no number, fails the alternative; a key given twice keeps its last number.
struct ExtendCodec {
  template <class Out>
  static void write(Out& out, const std::map<BudgetKey, double>& limits) {
    out.begin_object();
    for (const auto& [key, limit] : limits) out.key(budget_key_name(key)).f64(limit);
    out.end_object();
  }
  static form::ReadResult<std::map<BudgetKey, double>> read(const json::Value& value) {
    const json::Object* object = value.if_object();
    if (object == nullptr) return err(json::invalid_type_message(value, "a map"));
    std::map<BudgetKey, double> out;
    for (const json::Member& member : *object) {
      const std::optional<BudgetKey> key = budget_key_from_name(member.key);
      if (!key) return err(json::unknown_variant_message(member.key, {"calls", "minutes", "usd", "steps"}));
      out.insert_or_assign(*key, TRY(json::record_read::read_f64(member.value)));
    }
    return out;
  }
};

}  // namespace

// Each alternative is read from an object only: a payload is never given by position.
constexpr auto describe(std::type_identity<Resume::Answer>) {
  return form::objects_only(form::fields_of<Resume::Answer>("struct variant Resume::Answer",
                                                            form::required("answer", &Resume::Answer::answer),
                                                            form::omitted("text", &Resume::Answer::text)));
}
constexpr auto describe(std::type_identity<Resume::Continue>) {
  return form::objects_only(form::fields_of<Resume::Continue>("struct variant Resume::Continue",
                                                              form::required("resume", &Resume::Continue::resume)));
}
constexpr auto describe(std::type_identity<Resume::Extend>) {
  return form::objects_only(form::fields_of<Resume::Extend>(
      "struct variant Resume::Extend", form::required<ExtendCodec>("extend", &Resume::Extend::extend)));
}
constexpr auto describe(std::type_identity<Resume::Retry>) {
  return form::objects_only(
      form::fields_of<Resume::Retry>("struct variant Resume::Retry", form::required("retry", &Resume::Retry::retry)));
}
constexpr auto describe(std::type_identity<Resume::Nothing>) {
  return form::objects_only(form::fields_of<Resume::Nothing>("struct variant Resume::Nothing"));
}

namespace {

template <class Out>
void write_resume(const Resume& resume, Out& out) {
  std::visit([&](const auto& alternative) { form::write_record(alternative, out); }, resume.data);
}

// Reads into `out` the first alternative, in declared order, that reads the whole object; false when none does.
template <size_t I = 0>
bool read_first_alternative(const json::Value& value, Resume& out) {
  if constexpr (I == std::variant_size_v<decltype(Resume::data)>) {
    return false;
  } else {
    using Alternative = std::variant_alternative_t<I, decltype(Resume::data)>;
    auto read = form::read_record<Alternative>(value);
    if (read.ok()) {
      out.data.emplace<I>(std::move(read).value());
      return true;
    }
    return read_first_alternative<I + 1>(value, out);
  }
}

}  // namespace

Resume::Resume() = default;
Resume::Resume(const Resume&) = default;
Resume::Resume(Resume&&) noexcept = default;
Resume& Resume::operator=(const Resume&) = default;
Resume& Resume::operator=(Resume&&) noexcept = default;
Resume::~Resume() = default;

void Resume::write_json(std::string& out) const {
  json::Writer writer(out);
  write_resume(*this, writer);
}

void Resume::write_json(json::Writer& out) const { write_resume(*this, out); }

json::Value Resume::to_json_value() const {
  json::ValueBuilder builder;
  write_resume(*this, builder);
  return builder.take();
}

// GCC 12 at -O2 and above, inlining the variant's move into the result, reports the members of alternatives that
// are not the active one as maybe uninitialized; the move reads only the active alternative.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
Result<Resume, std::string> Resume::read_json(const json::Value& value) {
  if (value.is_object()) {
    Resume resume;
    if (read_first_alternative(value, resume)) return resume;
  }
  return err(std::string("data did not match any variant of untagged enum Resume"));
}
#pragma GCC diagnostic pop

}  // namespace dravelin::record
