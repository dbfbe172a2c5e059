#include "record/event.h"

#include <utility>

#include "json/record_form.h"
#include "record/codecs.h"
#include "runtime/value_json.h"

namespace dravelin::record {

namespace form = json::record_form;

// ---- sub-records ----

constexpr auto describe(std::type_identity<StepRecord>) {
  return form::fields_of<StepRecord>("struct StepRecord", form::required("step", &StepRecord::step),
                                     form::required("action", &StepRecord::action),
                                     form::required("target", &StepRecord::target),
                                     form::required("args", &StepRecord::args),
                                     form::required("changed", &StepRecord::changed),
                                     form::required("outcome", &StepRecord::outcome));
}
constexpr auto describe(std::type_identity<BindingRecord>) {
  return form::fields_of<BindingRecord>("struct BindingRecord", form::required("name", &BindingRecord::name),
                                        form::required("kind", &BindingRecord::kind));
}

// The forms of an identity, written without a tag and told apart by their keys when read.
constexpr auto describe(std::type_identity<EffectIdentity::Request>) {
  return form::fields_of<EffectIdentity::Request>("struct variant EffectIdentity::Request",
                                                  form::required("request_id", &EffectIdentity::Request::request_id));
}
constexpr auto describe(std::type_identity<EffectIdentity::Call>) {
  return form::fields_of<EffectIdentity::Call>("struct variant EffectIdentity::Call",
                                               form::required("capability", &EffectIdentity::Call::capability),
                                               form::required("verb", &EffectIdentity::Call::verb),
                                               form::required("args", &EffectIdentity::Call::args));
}
constexpr auto describe(std::type_identity<EffectIdentity::Observe>) {
  return form::fields_of<EffectIdentity::Observe>("struct variant EffectIdentity::Observe",
                                                  form::required("capability", &EffectIdentity::Observe::capability),
                                                  form::required("handle", &EffectIdentity::Observe::handle));
}
constexpr auto describe(std::type_identity<EffectIdentity::Generate>) {
  return form::fields_of<EffectIdentity::Generate>(
      "struct variant EffectIdentity::Generate", form::required("capability", &EffectIdentity::Generate::capability),
      form::required("instruction", &EffectIdentity::Generate::instruction),
      form::defaulted("using", &EffectIdentity::Generate::using_value));
}

namespace {

struct EffectIdentityCodec {
  template <class Out>
  static void write(Out& out, const EffectIdentity& identity) {
    std::visit([&](const auto& data) { form::write_record(data, out); }, identity.data);
  }

  template <size_t I = 0>
  static std::optional<EffectIdentity> first_form(const json::Value& value) {
    if constexpr (I == std::variant_size_v<decltype(EffectIdentity::data)>) {
      return std::nullopt;
    } else {
      using Form = std::variant_alternative_t<I, decltype(EffectIdentity::data)>;
      auto read = form::read_record<Form>(value);
      if (read.ok()) return EffectIdentity{std::move(read).value()};
      return first_form<I + 1>(value);
    }
  }

  static form::ReadResult<EffectIdentity> read(const json::Value& value) {
    if (std::optional<EffectIdentity> identity = first_form(value)) return std::move(*identity);
    return err(std::string("data did not match any variant of untagged enum EffectIdentity"));
  }
};

}  // namespace

// ---- the sixteen kinds ----

constexpr auto describe(std::type_identity<Event::Start>) {
  using E = Event::Start;
  return form::objects_only(form::fields_of<E>(
      "struct variant Event::Start", form::required("program", &E::program), form::required("task", &E::task),
      form::required("inputs", &E::inputs), form::required("bindings", &E::bindings),
      form::required("ir_version", &E::ir_version)));
}
constexpr auto describe(std::type_identity<Event::Request>) {
  using E = Event::Request;
  return form::objects_only(form::fields_of<E>("struct variant Event::Request",
                                               form::required("request_id", &E::request_id),
                                               form::required("state", &E::state),
                                               form::required("questions", &E::questions)));
}
constexpr auto describe(std::type_identity<Event::Answers>) {
  using E = Event::Answers;
  return form::objects_only(form::fields_of<E>(
      "struct variant Event::Answers", form::required("request_id", &E::request_id),
      form::required("answers", &E::answers), form::required("usage", &E::usage),
      form::required("latency_ms", &E::latency_ms), form::omitted("sampled", &E::sampled)));
}
constexpr auto describe(std::type_identity<Event::Generate>) {
  using E = Event::Generate;
  return form::objects_only(form::fields_of<E>(
      "struct variant Event::Generate", form::required("capability", &E::capability),
      form::required("instruction", &E::instruction), form::defaulted("using", &E::using_value),
      form::required("output", &E::output), form::required("usage", &E::usage)));
}
constexpr auto describe(std::type_identity<Event::Call>) {
  using E = Event::Call;
  return form::objects_only(form::fields_of<E>(
      "struct variant Event::Call", form::required("capability", &E::capability), form::required("verb", &E::verb),
      form::required("args", &E::args), form::required("result", &E::result),
      form::required("latency_ms", &E::latency_ms)));
}
constexpr auto describe(std::type_identity<Event::Observe>) {
  using E = Event::Observe;
  return form::objects_only(form::fields_of<E>("struct variant Event::Observe",
                                               form::required("capability", &E::capability),
                                               form::required("handle", &E::handle),
                                               form::required("observation", &E::observation)));
}
constexpr auto describe(std::type_identity<Event::EffectError>) {
  using E = Event::EffectError;
  return form::objects_only(form::fields_of<E>(
      "struct variant Event::EffectError", form::required("operation", &E::operation),
      form::required<EffectIdentityCodec>("identity", &E::identity), form::required("code", &E::code),
      form::required("message", &E::message), form::required("retryable", &E::retryable),
      form::required("source", &E::source)));
}
constexpr auto describe(std::type_identity<Event::Draw>) {
  using E = Event::Draw;
  return form::objects_only(form::fields_of<E>("struct variant Event::Draw", form::required("kind", &E::kind),
                                               form::required("value", &E::value)));
}
constexpr auto describe(std::type_identity<Event::Warning>) {
  using E = Event::Warning;
  return form::objects_only(form::fields_of<E>("struct variant Event::Warning", form::required("code", &E::code),
                                               form::required("message", &E::message),
                                               form::required("source", &E::source)));
}
constexpr auto describe(std::type_identity<Event::Log>) {
  using E = Event::Log;
  return form::objects_only(form::fields_of<E>(
      "struct variant Event::Log", form::required("level", &E::level), form::required("message", &E::message),
      form::omitted("fields", &E::fields), form::required("task", &E::task), form::required("source", &E::source)));
}
constexpr auto describe(std::type_identity<Event::Pause>) {
  using E = Event::Pause;
  return form::objects_only(form::fields_of<E>("struct variant Event::Pause", form::required("kind", &E::kind),
                                               form::required("payload", &E::payload)));
}
constexpr auto describe(std::type_identity<Event::Resume>) {
  using E = Event::Resume;
  return form::objects_only(
      form::fields_of<E>("struct variant Event::Resume", form::required("payload", &E::payload)));
}
constexpr auto describe(std::type_identity<Event::Abort>) {
  using E = Event::Abort;
  return form::objects_only(form::fields_of<E>("struct variant Event::Abort", form::required("reason", &E::reason)));
}
constexpr auto describe(std::type_identity<Event::Step>) {
  using E = Event::Step;
  return form::objects_only(form::fields_of<E>("struct variant Event::Step", form::required("record", &E::record)));
}
constexpr auto describe(std::type_identity<Event::MachineStep>) {
  using E = Event::MachineStep;
  return form::objects_only(form::fields_of<E>(
      "struct variant Event::MachineStep", form::required("machine", &E::machine),
      form::required("state", &E::state), form::required("enabled", &E::enabled),
      form::required("chosen", &E::chosen), form::required("probabilities", &E::probabilities),
      form::required("confidence", &E::confidence), form::required("to", &E::to)));
}
constexpr auto describe(std::type_identity<Event::End>) {
  using E = Event::End;
  return form::objects_only(form::fields_of<E>("struct variant Event::End", form::required("kind", &E::kind),
                                               form::required("outputs", &E::outputs),
                                               form::required("verified", &E::verified),
                                               form::required("usage", &E::usage)));
}

namespace {

template <class Out>
void write_event_entries(const Event& event, Out& out) {
  out.field_tag("event", event_kind_name(event.kind()));
  std::visit([&](const auto& data) { form::write_fields(data, out); }, event.data);
}

template <size_t I = 0>
Result<Event, std::string> read_kind(size_t kind, const json::Value& entries) {
  if constexpr (I == std::variant_size_v<Event::Data>) {
    return err(std::string("unreachable event kind"));
  } else {
    if (kind != I) return read_kind<I + 1>(kind, entries);
    using Kind = std::variant_alternative_t<I, Event::Data>;
    Kind data = TRY(form::read_record<Kind>(entries));
    return Event{Event::Data(std::in_place_index<I>, std::move(data))};
  }
}

// A log entry as a value: the log event's keys with plain texts and values.
constexpr auto kLogEntryForm = form::fields_of<LogEntry>(
    "struct LogEntry", form::required("level", &LogEntry::level), form::required("message", &LogEntry::message),
    form::omitted("fields", &LogEntry::fields), form::required("task", &LogEntry::task),
    form::required("source", &LogEntry::source));

}  // namespace

std::string_view effect_operation_name(EffectOperation operation) {
  return EffectOperationNames::names[static_cast<size_t>(operation)];
}

std::string_view effect_operation_display_name(EffectOperation operation) {
  static constexpr std::string_view kDisplay[] = {"Request", "Call", "Observe", "Generate"};
  return kDisplay[static_cast<size_t>(operation)];
}

std::string_view draw_kind_name(DrawKind kind) { return DrawKindNames::names[static_cast<size_t>(kind)]; }

std::string_view step_outcome_name(StepOutcome outcome) {
  return StepOutcomeNames::names[static_cast<size_t>(outcome)];
}

std::string_view log_level_name(LogLevel level) { return syntax::enum_name(level); }

Event::Event() = default;
Event::Event(const Event&) = default;
Event::Event(Event&&) noexcept = default;
Event& Event::operator=(const Event&) = default;
Event& Event::operator=(Event&&) noexcept = default;
Event::~Event() = default;
bool operator==(const Event&, const Event&) = default;

void Event::write_entries(json::Writer& out) const { write_event_entries(*this, out); }
void Event::write_entries(json::ValueBuilder& out) const { write_event_entries(*this, out); }

Result<Event, std::string> Event::read_entries(EventKind kind, const json::Value& entries) {
  return read_kind(static_cast<size_t>(kind), entries);
}

Event log_entry_to_event(const LogEntry& entry) {
  Event::Log log;
  log.level = entry.level;
  log.message = Recorded<std::string>::full(entry.message);
  for (const auto& [name, value] : entry.fields) log.fields.emplace(name, Recorded<runtime::Value>::full(value));
  log.task = entry.task;
  log.source = entry.source;
  return Event{std::move(log)};
}

json::Value log_entry_to_json_value(const LogEntry& entry) {
  json::ValueBuilder builder;
  form::write_record_with(kLogEntryForm, entry, builder);
  return builder.take();
}

std::vector<runtime::Value> step_records_to_values(const std::vector<StepRecord>& records) {
  std::vector<runtime::Value> out;
  out.reserve(records.size());
  for (const StepRecord& record : records) out.push_back(runtime::from_plain_json(form::to_value(record)));
  return out;
}

}  // namespace dravelin::record
