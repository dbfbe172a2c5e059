// The codecs of the field types that run records hold beyond the JSON layer's own: runtime values, spans, the
// enumerations written by name, the model-service records, the linked program and recorded payloads. Private
// to the record library.
#pragma once

#include <string>
#include <utility>

#include "ir/program.h"
#include "ir/read_json.h"
#include "ir/write_json.h"
#include "json/record_form.h"
#include "json/record_read.h"
#include "record/capability.h"
#include "record/event.h"
#include "record/pause.h"
#include "record/recorded.h"
#include "record/usage.h"
#include "runtime/pause_kind.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"
#include "runtime/value_json.h"
#include "syntax/diagnostic.h"
#include "syntax/unit_enums.h"
#include "zem/answer.h"
#include "zem/profile.h"
#include "zem/question.h"

namespace dravelin::record {

// The name tables of the enumerations that events and observations carry, in their enums' order.
struct EffectOperationNames {
  static constexpr std::string_view names[] = {"request", "call", "observe", "generate"};
  static constexpr bool empty_object_is_unit = true;
};
struct DrawKindNames {
  static constexpr std::string_view names[] = {"random", "now"};
  static constexpr bool empty_object_is_unit = true;
};
struct StepOutcomeNames {
  static constexpr std::string_view names[] = {"observed", "error", "no_change"};
  static constexpr bool empty_object_is_unit = true;
};
// A host's status is read from a value reduced to a map, where a unit variant's value can only be null.
struct AgentStatusNames {
  static constexpr std::string_view names[] = {"running", "waiting", "exited"};
  static constexpr bool empty_object_is_unit = false;
};
struct PauseKindNames {
  static constexpr const auto& names = runtime::kPauseKindNames;
  static constexpr bool empty_object_is_unit = true;
};
template <class E>
struct SyntaxEnumNames {
  static constexpr const auto& names = syntax::EnumNames<E>::names;
  static constexpr bool empty_object_is_unit = true;
};

// Writes a full payload's JSON, wrapped in `$recorded_full` when it would read as a marker or a wrapper.
template <class Out>
void write_unambiguous(Out& out, json::Value json) {
  if (redacted_marker(json) || is_full_wrapper(json)) {
    out.begin_object().key(kFullWrapperKey).value(json).end_object();
  } else {
    out.value(json);
  }
}

// How the payload types of recorded payloads become JSON and are read back.
template <class T>
struct Payload;

template <>
struct Payload<runtime::Value> {
  template <class Out>
  static void write(Out& out, const runtime::Value& value) {
    write_unambiguous(out, runtime::to_tagged_json(value));
  }
  static json::record_form::ReadResult<runtime::Value> read(const json::Value& value) {
    return runtime::from_recorded_tagged_json(value);
  }
};

// A text is written as a JSON string, which never reads as a marker.
template <>
struct Payload<std::string> {
  template <class Out>
  static void write(Out& out, const std::string& text) {
    out.string(text);
  }
  static json::record_form::ReadResult<std::string> read(const json::Value& value) {
    return json::record_read::read_string(value);
  }
};

template <>
struct Payload<Observation> {
  template <class Out>
  static void write(Out& out, const Observation& observation) {
    write_unambiguous(out, observation.to_json_value());
  }
  static json::record_form::ReadResult<Observation> read(const json::Value& value) {
    return Observation::read_json(value);
  }
};

// A request's state: subject path to JSON value, in key order.
template <>
struct Payload<json::Object> {
  template <class Out>
  static void write(Out& out, const json::Object& state) {
    json::Object sorted = state;
    sorted.sort_keys();
    write_unambiguous(out, json::Value(std::move(sorted)));
  }
  static json::record_form::ReadResult<json::Object> read(const json::Value& value) {
    const json::Object* object = value.if_object();
    if (object == nullptr) return err(json::invalid_type_message(value, "a map"));
    json::Object state = *object;
    state.sort_keys();
    return state;
  }
};

}  // namespace dravelin::record

namespace dravelin::json::record_form {

template <>
struct Codec<runtime::Value> {
  template <class Out>
  static void write(Out& out, const runtime::Value& value) {
    out.value(runtime::to_tagged_json(value));
  }
  static ReadResult<runtime::Value> read(const json::Value& value) { return runtime::from_recorded_tagged_json(value); }
};

// Absent is null; null reads as absent, and so does a none value, whose tagged form is null.
template <>
struct Codec<runtime::OptionalValue> {
  template <class Out>
  static void write(Out& out, const runtime::OptionalValue& value) {
    if (value.has_value()) {
      Codec<runtime::Value>::write(out, *value);
    } else {
      out.null();
    }
  }
  static ReadResult<runtime::OptionalValue> read(const json::Value& value) {
    if (value.is_null()) return runtime::OptionalValue();
    runtime::Value inner = TRY(runtime::from_recorded_tagged_json(value));
    return runtime::OptionalValue(std::move(inner));
  }
};

// Spans are the IR's: written and read by the IR's own JSON forms.
template <>
struct Codec<syntax::Span> {
  template <class Out>
  static void write(Out& out, const syntax::Span& span) {
    ir::write_json(span, out);
  }
  static ReadResult<syntax::Span> read(const json::Value& value) { return ir::read_json<syntax::Span>(value); }
};

template <>
struct Codec<record::EffectOperation> : NamedEnumCodec<record::EffectOperation, record::EffectOperationNames> {};
template <>
struct Codec<record::DrawKind> : NamedEnumCodec<record::DrawKind, record::DrawKindNames> {};
template <>
struct Codec<record::StepOutcome> : NamedEnumCodec<record::StepOutcome, record::StepOutcomeNames> {};
template <>
struct Codec<record::AgentStatus> : NamedEnumCodec<record::AgentStatus, record::AgentStatusNames> {};
template <>
struct Codec<runtime::PauseKind> : NamedEnumCodec<runtime::PauseKind, record::PauseKindNames> {};
template <>
struct Codec<syntax::LogLevel> : NamedEnumCodec<syntax::LogLevel, record::SyntaxEnumNames<syntax::LogLevel>> {};
template <>
struct Codec<syntax::ast::BudgetKey>
    : NamedEnumCodec<syntax::ast::BudgetKey, record::SyntaxEnumNames<syntax::ast::BudgetKey>> {};

template <>
struct Codec<runtime::RuntimeErrorCode> {
  template <class Out>
  static void write(Out& out, runtime::RuntimeErrorCode code) {
    out.string(runtime::runtime_error_code_name(code));
  }
  static ReadResult<runtime::RuntimeErrorCode> read(const json::Value& value) {
    return runtime::read_runtime_error_code(value);
  }
};

// The model-service records keep their own writers and readers.
template <class T>
struct ZemRecordCodec {
  static void write(json::Writer& out, const T& value) { value.write_json(out); }
  static void write(json::ValueBuilder& out, const T& value) { out.value(value.to_json_value()); }
};
template <>
struct Codec<zem::Question> : ZemRecordCodec<zem::Question> {
  static ReadResult<zem::Question> read(const json::Value& value) { return zem::Question::from_content(value); }
};
template <>
struct Codec<zem::ZemAnswer> : ZemRecordCodec<zem::ZemAnswer> {
  static ReadResult<zem::ZemAnswer> read(const json::Value& value) { return zem::ZemAnswer::from_content(value); }
};
template <>
struct Codec<zem::ZemUsage> : ZemRecordCodec<zem::ZemUsage> {
  static ReadResult<zem::ZemUsage> read(const json::Value& value) { return zem::ZemUsage::visit_map(value); }
};
template <>
struct Codec<zem::Profile> : ZemRecordCodec<zem::Profile> {
  static ReadResult<zem::Profile> read(const json::Value& value) { return zem::Profile::visit_map(value); }
};

template <>
struct Codec<ir::Ir> {
  template <class Out>
  static void write(Out& out, const ir::Ir& program) {
    ir::write_json(program, out);
  }
  static ReadResult<ir::Ir> read(const json::Value& value) { return ir::read_ir_json(value); }
};

// A recorded payload in its three forms: the full payload (wrapped when it would read as a marker), or the
// summary marker.
template <class T>
struct Codec<record::Recorded<T>> {
  template <class Out>
  static void write(Out& out, const record::Recorded<T>& payload) {
    if (const record::Redacted* summary = payload.if_redacted()) {
      out.begin_object().key("redacted").begin_object();
      out.field_string("hash", summary->hash).field_u64("tokens", summary->tokens);
      out.end_object().end_object();
    } else {
      record::Payload<T>::write(out, *payload.if_full());
    }
  }
  static ReadResult<record::Recorded<T>> read(const json::Value& value) {
    if (record::is_full_wrapper(value)) {
      T full = TRY(record::Payload<T>::read(value.as_object().entries().front().value));
      return record::Recorded<T>::full(std::move(full));
    }
    if (std::optional<record::Redacted> summary = record::redacted_marker(value)) {
      return record::Recorded<T>::redacted(std::move(*summary));
    }
    T full = TRY(record::Payload<T>::read(value));
    return record::Recorded<T>::full(std::move(full));
  }
};

}  // namespace dravelin::json::record_form
