// Reading one recording line: the envelope straight from the text, every other entry held back as a parsed
// value and interpreted once the line's object is complete (so the tag, the metadata and the event's keys may
// stand anywhere), then the execution metadata (never a fault), then the event.
#include <string>
#include <utility>

#include "json/reader.h"
#include "json/record_read.h"
#include "record/codecs.h"
#include "record/recorded_event.h"

namespace dravelin::record {

namespace {

namespace rr = json::record_read;
using json::ParseError;

// The metadata of a line that carries all three entries, each once and each readable; nothing otherwise.
std::optional<ExecutionMetadata> read_metadata(const json::Object& pending) {
  const json::Value* ir = nullptr;
  const json::Value* profile = nullptr;
  const json::Value* sample = nullptr;
  for (const json::Member& entry : pending) {
    const json::Value** slot = entry.key == "ir"        ? &ir
                               : entry.key == "profile" ? &profile
                               : entry.key == "sample"  ? &sample
                                                        : nullptr;
    if (slot == nullptr) continue;
    if (*slot != nullptr) return std::nullopt;  // given twice
    *slot = &entry.value;
  }
  if (ir == nullptr || profile == nullptr || sample == nullptr) return std::nullopt;
  auto read_ir = json::record_form::Codec<ir::Ir>::read(*ir);
  if (!read_ir.ok()) return std::nullopt;
  auto read_profile = json::record_form::Codec<zem::Profile>::read(*profile);
  if (!read_profile.ok()) return std::nullopt;
  auto read_sample = Sample::read_json(*sample);
  if (!read_sample.ok()) return std::nullopt;
  return ExecutionMetadata{std::move(read_ir).value(), std::move(read_profile).value(),
                           std::move(read_sample).value()};
}

// The tag, and the kind's entries: every pending entry but the tag, in line order.
rr::ReadResult<std::pair<EventKind, json::Value>> split_event_tag(json::Object pending) {
  std::optional<size_t> kind;
  json::Object entries;
  entries.reserve(pending.size());
  for (json::Member& entry : std::move(pending).take_entries()) {
    if (entry.key == "event") {
      if (kind) return err(json::duplicate_field_message("event"));
      kind = TRY(rr::read_variant_identifier(entry.value, kEventKindNames));
      continue;
    }
    entries.append(std::move(entry.key), std::move(entry.value));
  }
  if (!kind) return err(json::missing_field_message("event"));
  return std::pair{static_cast<EventKind>(*kind), json::Value(std::move(entries))};
}

class LineReader {
 public:
  explicit LineReader(std::string_view text)
      : reader_(text, json::ReadOptions{.recursion_limit = kRecordingLineDepthLimit, .sort_objects = false}) {}

  Result<RecordedEvent, ParseError> read() {
    const int first = reader_.peek();
    if (first < 0) return err(reader_.error(json::ErrorCode::EofWhileParsingValue));
    if (first != '{') return err(reader_.invalid_type("struct RecordedEvent"));
    TRY(reader_.begin_object());
    std::optional<std::string> ts;
    std::optional<std::string> run_id;
    std::optional<uint64_t> seq;
    json::Object pending;
    std::string key;
    while (TRY(reader_.next_key(key))) {
      if (key == "ts" || key == "run_id") {
        std::optional<std::string>& slot = key == "ts" ? ts : run_id;
        if (slot) return err(reader_.error(json::duplicate_field_message(key)));
        TRY(reader_.colon());
        slot = TRY(read_text());
      } else if (key == "seq") {
        if (seq) return err(reader_.error(json::duplicate_field_message(key)));
        TRY(reader_.colon());
        seq = TRY(read_u64());
      } else {
        TRY(reader_.colon());
        json::Value value = TRY(reader_.read_value());
        pending.append(std::move(key), std::move(value));
      }
    }
    TRY(reader_.end_object());
    // What can only be judged on the whole object is reported at its closing brace.
    if (!ts) return err(reader_.error(json::missing_field_message("ts")));
    if (!run_id) return err(reader_.error(json::missing_field_message("run_id")));
    if (!seq) return err(reader_.error(json::missing_field_message("seq")));

    RecordedEvent line;
    line.ts = std::move(*ts);
    line.run_id = std::move(*run_id);
    line.seq = *seq;
    line.metadata = read_metadata(pending);
    auto tagged = split_event_tag(std::move(pending));
    if (!tagged.ok()) return err(reader_.error(std::move(tagged).error()));
    auto event = Event::read_entries(tagged->first, tagged->second);
    if (!event.ok()) return err(reader_.error(std::move(event).error()));
    line.event = std::move(event).value();
    TRY(reader_.finish());
    return line;
  }

 private:
  Result<std::string, ParseError> read_text() {
    if (reader_.peek() != '"') return err(reader_.invalid_type("a string"));
    json::Value value = TRY(reader_.read_value());
    return std::move(value).as_string();
  }

  Result<uint64_t, ParseError> read_u64() {
    const int next = reader_.peek();
    if (next == '[' || next == '{') return err(reader_.invalid_type("u64"));
    json::Value value = TRY(reader_.read_value());
    if (value.is_uint()) return value.as_uint();
    if (value.is_int()) return err(reader_.error(json::invalid_value_message(value, "u64")));
    return err(reader_.error(json::invalid_type_message(value, "u64")));
  }

  json::Reader reader_;
};

}  // namespace

Result<RecordedEvent, std::string> RecordedEvent::read_line(std::string_view text) {
  // A line no recorder writes is refused before it is parsed (the text comes without its line feed).
  if (text.size() >= kMaxRecordingLineBytes) {
    std::string message = "the line is longer than the ";
    message += std::to_string(kMaxRecordingLineBytes);
    message += " bytes a recording line may hold";
    return err(ParseError{json::ErrorCode::Message, std::move(message), 1, 0}.text());
  }
  auto read = LineReader(text).read();
  if (!read.ok()) return err(read.error().text());
  return std::move(read).value();
}

}  // namespace dravelin::record
