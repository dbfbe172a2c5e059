#include "record/pause.h"

#include <tuple>
#include <utility>

#include "json/record_form.h"
#include "record/codecs.h"

namespace dravelin::record {

namespace form = json::record_form;

// The common fields follow the kind's own in the object, and are read from the entries the kind leaves.
constexpr auto describe(std::type_identity<PauseCommon>) {
  return form::fields_of<PauseCommon>("struct PauseCommon",                                      //
                                      form::required("run_id", &PauseCommon::run_id),            //
                                      form::required("step", &PauseCommon::step),                //
                                      form::required("task", &PauseCommon::task),                //
                                      form::omitted("state", &PauseCommon::state),               //
                                      form::required("source", &PauseCommon::source),            //
                                      form::required("recording_offset", &PauseCommon::recording_offset));
}

// A kind's own fields are all required, and given by name only: after the tag, an array's rest is refused.
constexpr auto describe(std::type_identity<Pause::Confirm>) {
  return form::objects_only(form::fields_of<Pause::Confirm>("struct variant Pause::Confirm",
                                                            form::required("message", &Pause::Confirm::message),
                                                            form::required("options", &Pause::Confirm::options),
                                                            form::required("context", &Pause::Confirm::context)));
}
constexpr auto describe(std::type_identity<Pause::Escalate>) {
  return form::objects_only(form::fields_of<Pause::Escalate>("struct variant Pause::Escalate",
                                                             form::required("reason", &Pause::Escalate::reason),
                                                             form::required("context", &Pause::Escalate::context)));
}
constexpr auto describe(std::type_identity<Pause::Waiting>) {
  return form::objects_only(
      form::fields_of<Pause::Waiting>("struct variant Pause::Waiting", form::required("on", &Pause::Waiting::on),
                                      form::required("condition", &Pause::Waiting::condition),
                                      form::required("timeout_minutes", &Pause::Waiting::timeout_minutes)));
}
constexpr auto describe(std::type_identity<Pause::Budget>) {
  return form::objects_only(form::fields_of<Pause::Budget>(
      "struct variant Pause::Budget", form::required("key", &Pause::Budget::key),
      form::required("used", &Pause::Budget::used), form::required("limit", &Pause::Budget::limit)));
}
constexpr auto describe(std::type_identity<Pause::Error>) {
  return form::objects_only(form::fields_of<Pause::Error>(
      "struct variant Pause::Error", form::required("code", &Pause::Error::code),
      form::required("message", &Pause::Error::message), form::required("retryable", &Pause::Error::retryable)));
}
constexpr auto describe(std::type_identity<Pause::Stopped>) {
  return form::objects_only(form::fields_of<Pause::Stopped>("struct variant Pause::Stopped",
                                                            form::required("reason", &Pause::Stopped::reason)));
}
constexpr auto describe(std::type_identity<Pause::Done>) {
  return form::objects_only(form::fields_of<Pause::Done>(
      "struct variant Pause::Done", form::required("outputs", &Pause::Done::outputs),
      form::required("verified", &Pause::Done::verified), form::required("usage", &Pause::Done::usage)));
}

namespace {

template <class Out>
void write_pause(const Pause& pause, Out& out) {
  out.begin_tagged_object("kind", runtime::pause_kind_name(pause.kind()));
  form::write_fields(pause.common, out);
  std::visit([&](const auto& detail) { form::write_fields(detail, out); }, pause.detail);
  out.end_object();
}

template <size_t I = 0>
form::ReadResult<Pause::Detail> read_detail(size_t kind, const json::Value& value, json::Object& others) {
  if constexpr (I == std::variant_size_v<Pause::Detail>) {
    return err(std::string("unreachable pause kind"));
  } else {
    if (kind != I) return read_detail<I + 1>(kind, value, others);
    using Kind = std::variant_alternative_t<I, Pause::Detail>;
    Kind detail{};
    const json::record_read::OtherVisitor set_aside = [&](const json::Member& entry) -> form::ReadResult<Unit> {
      others.append(entry.key, entry.value);
      return Unit{};
    };
    TRY(form::read_fields_into(value, detail, 0, &set_aside));
    return Pause::Detail(std::in_place_index<I>, std::move(detail));
  }
}

}  // namespace

Result<PauseKind, std::string> read_pause_kind(const json::Value& value) {
  return form::Codec<PauseKind>::read(value);
}

Pause::Pause() = default;
Pause::Pause(const Pause&) = default;
Pause::Pause(Pause&&) noexcept = default;
Pause& Pause::operator=(const Pause&) = default;
Pause& Pause::operator=(Pause&&) noexcept = default;
Pause::~Pause() = default;
bool operator==(const Pause&, const Pause&) = default;

bool Pause::ends_run() const {
  switch (kind()) {
    case PauseKind::Stopped:
    case PauseKind::Done: return true;
    case PauseKind::Error: return !std::get<Error>(detail).retryable;
    default: return false;
  }
}

void Pause::write_json(std::string& out) const {
  json::Writer writer(out);
  write_pause(*this, writer);
}

void Pause::write_json(json::Writer& out) const { write_pause(*this, out); }

json::Value Pause::to_json_value() const {
  json::ValueBuilder builder;
  write_pause(*this, builder);
  return builder.take();
}

Result<Pause, std::string> Pause::read_json(const json::Value& value) {
  const size_t kind = TRY(json::record_read::read_tag(value, "kind", runtime::kPauseKindNames,
                                                      "internally tagged enum Pause"));
  // The kind's own fields first; the entries it does not know are set aside, in order, for the common fields.
  json::Object others;
  Pause pause;
  pause.detail = TRY(read_detail(kind, value, others));
  pause.common = TRY(form::read_record<PauseCommon>(json::Value(std::move(others))));
  return pause;
}

bool same_pause_for_replay(const Pause& recorded, const Pause& raised) {
  auto common = [](const PauseCommon& c) { return std::tie(c.run_id, c.step, c.task, c.state, c.source); };
  return common(recorded.common) == common(raised.common) && recorded.detail == raised.detail;
}

}  // namespace dravelin::record
