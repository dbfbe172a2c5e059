#include "serve/protocol/params.h"

#include "json/reader.h"
#include "json/record_form.h"
#include "runtime/value_json.h"

namespace dravelin::serve::protocol {
namespace form = json::record_form;

namespace {

// An object whose members stay JSON values; "a map".
struct ObjectCodec {
  template <class Out>
  static void write(Out& out, const json::Object& object) {
    out.value(json::Value(object));
  }
  static form::ReadResult<json::Object> read(const json::Value& value) {
    const json::Object* object = value.if_object();
    if (object == nullptr) return err(json::invalid_type_message(value, "a map"));
    return *object;
  }
};

// An object of runtime values in their tagged JSON form; "a map", then the value reader's text.
struct TaggedValuesCodec {
  template <class Out>
  static void write(Out& out, const runtime::Record& values) {
    out.value(runtime::tagged_members_to_json(values));
  }
  static form::ReadResult<runtime::Record> read(const json::Value& value) {
    const json::Object* object = value.if_object();
    if (object == nullptr) return err(json::invalid_type_message(value, "a map"));
    return runtime::tagged_members_from_json(*object);
  }
};

template <class R, class... F>
constexpr auto as_map(form::Description<R, F...> d) {
  return form::read_as_map(d);
}

}  // namespace

constexpr auto describe(std::type_identity<ProgramLoadParams>) {
  using P = ProgramLoadParams;
  return as_map(form::fields_of<P>("struct ProgramLoadParams", form::omitted("source", &P::source),
                                   form::omitted("path", &P::path), form::defaulted("paths", &P::paths)));
}

constexpr auto describe(std::type_identity<JudgmentRunParams>) {
  using P = JudgmentRunParams;
  return as_map(form::fields_of<P>("struct JudgmentRunParams", form::required("program_id", &P::program_id),
                                   form::required("name", &P::name),
                                   form::required<ObjectCodec>("state", &P::state),
                                   form::omitted("model", &P::model), form::omitted("profiles", &P::profiles)));
}

constexpr auto describe(std::type_identity<BindingParam>) {
  using P = BindingParam;
  return as_map(form::fields_of<P>("struct BindingParam", form::required("name", &P::name),
                                   form::required("kind", &P::kind), form::omitted("manifest", &P::manifest)));
}

constexpr auto describe(std::type_identity<TaskStartParams>) {
  using P = TaskStartParams;
  return as_map(form::fields_of<P>(
      "struct TaskStartParams", form::required("program_id", &P::program_id), form::required("name", &P::name),
      form::defaulted<TaggedValuesCodec>("inputs", &P::inputs), form::defaulted("bindings", &P::bindings),
      form::omitted("record", &P::record), form::omitted("replay", &P::replay), form::omitted("redact", &P::redact),
      form::omitted("model", &P::model), form::omitted("sample", &P::sample),
      form::omitted("profiles", &P::profiles), form::defaulted("paths", &P::paths)));
}

constexpr auto describe(std::type_identity<RunParams>) {
  return as_map(form::fields_of<RunParams>("struct RunParams", form::required("run_id", &RunParams::run_id)));
}

constexpr auto describe(std::type_identity<RunResumeParams>) {
  using P = RunResumeParams;
  return as_map(form::fields_of<P>("struct RunResumeParams", form::required("run_id", &P::run_id),
                                   form::required("payload", &P::payload)));
}

constexpr auto describe(std::type_identity<RunInjectParams>) {
  using P = RunInjectParams;
  return as_map(form::fields_of<P>("struct RunInjectParams", form::required("run_id", &P::run_id),
                                   form::required("capability", &P::capability),
                                   form::required("message", &P::message)));
}

Result<ProgramLoadParams, std::string> ProgramLoadParams::read(const json::Value& value) {
  return form::read_record<ProgramLoadParams>(value);
}
Result<JudgmentRunParams, std::string> JudgmentRunParams::read(const json::Value& value) {
  return form::read_record<JudgmentRunParams>(value);
}
Result<BindingParam, std::string> BindingParam::read(const json::Value& value) {
  return form::read_record<BindingParam>(value);
}
Result<TaskStartParams, std::string> TaskStartParams::read(const json::Value& value) {
  return form::read_record<TaskStartParams>(value);
}
Result<RunParams, std::string> RunParams::read(const json::Value& value) { return form::read_record<RunParams>(value); }
Result<RunResumeParams, std::string> RunResumeParams::read(const json::Value& value) {
  return form::read_record<RunResumeParams>(value);
}
Result<RunInjectParams, std::string> RunInjectParams::read(const json::Value& value) {
  return form::read_record<RunInjectParams>(value);
}

}  // namespace dravelin::serve::protocol
