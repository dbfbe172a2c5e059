#include "record/recorded_event.h"

#include "json/record_form.h"
#include "record/codecs.h"

namespace dravelin::record {

namespace form = json::record_form;

namespace {

// The line's entries in order: the stamps, the metadata on the start line, then the event's tag and fields.
template <class Out>
void write_line(Out& out, std::string_view ts, std::string_view run_id, uint64_t seq,
                const ExecutionMetadata* metadata, const Event& event) {
  out.begin_object();
  out.field_string("ts", ts).field_string("run_id", run_id).field_u64("seq", seq);
  if (metadata != nullptr) {
    out.key("ir");
    form::Codec<ir::Ir>::write(out, metadata->ir);
    out.key("profile");
    form::Codec<zem::Profile>::write(out, metadata->profile);
    out.key("sample");
    form::Codec<Sample>::write(out, metadata->sample);
  }
  event.write_entries(out);
  out.end_object();
}

}  // namespace

void write_recorded_line(std::string& out, std::string_view ts, std::string_view run_id, uint64_t seq,
                         const ExecutionMetadata* metadata, const Event& event) {
  json::Writer writer(out);
  write_line(writer, ts, run_id, seq, metadata, event);
}

void RecordedEvent::write_json(std::string& out) const {
  write_recorded_line(out, ts, run_id, seq, metadata ? &*metadata : nullptr, event);
}

json::Value RecordedEvent::to_json_value() const {
  json::ValueBuilder builder;
  write_line(builder, ts, run_id, seq, metadata ? &*metadata : nullptr, event);
  return builder.take();
}

}  // namespace dravelin::record
