// One line of a recording: an event stamped with its time, its run and its sequence number, and on the start
// line the execution metadata (the linked program, the resolved profile and the sampling setting).
//
// The compact line is `{"ts":...,"run_id":...,"seq":n,` then `"ir":...,"profile":...,"sample":...,` on the
// start line only, then the event's tag and fields, `}`; no whitespace anywhere. The recorder adds the line
// feed. The JSON-value form holds the same members, ordered by key at every level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "ir/program.h"
#include "json/value.h"
#include "record/event.h"
#include "record/run_options.h"
#include "zem/profile.h"

namespace dravelin::record {

// The longest line, line feed included, that a recorder writes and a recording reader accepts. A line is held
// whole in memory when it is written and when it is read, so the cap bounds what a recording can make either
// side allocate.
inline constexpr size_t kMaxRecordingLineBytes = size_t{64} << 20;

// How deeply a recording line may nest arrays and objects: the line's own object is level 1, and a container
// that would open this level is refused. Deep enough for the linked program of every program the compiler
// accepts: the parser allows 100 levels of nesting, one level adds at most four levels of IR JSON (an `if`
// nested in a body: the statement, its branch list, the branch and the branch's body), and a unit's outer
// layers, a node's span and the line around the program add a bounded number more.
inline constexpr int kRecordingLineDepthLimit = 4 * 100 + 32;

// How deeply the tagged JSON of one runtime value may nest so that every line holding it reads back: each list,
// record and special-kind object is one level, and so is every array and object inside a handle's fields. The
// deepest place a value stands in a line is below four levels of the line itself (an argument inside a failed
// call's identity).
inline constexpr int kMaxRecordedValueDepth = kRecordingLineDepthLimit - 5;

struct ExecutionMetadata {
  ir::Ir ir;
  zem::Profile profile;
  Sample sample;

  friend bool operator==(const ExecutionMetadata&, const ExecutionMetadata&) = default;
};

struct RecordedEvent {
  std::string ts;  // the timestamp text; the reader does not examine it
  std::string run_id;
  uint64_t seq = 0;  // 0 for the start event, then one more per event
  std::optional<ExecutionMetadata> metadata;  // on the start line only
  Event event;

  // Appends the compact line, without a line end.
  void write_json(std::string& out) const;
  // The same line as a JSON value (objects ordered by key), for the SDK bridge's event notifications.
  json::Value to_json_value() const;

  // Reads the text of one line, without its line break. The message of a refused line is the fault's text
  // followed by " at line 1 column <C>", C counting the bytes read when the fault was found (for a fault that
  // shows only once the object is complete, the column of its closing brace). Metadata that is absent,
  // incomplete or unreadable is no fault: the line then carries none. A text that would make a line longer
  // than `kMaxRecordingLineBytes` is refused unread.
  static Result<RecordedEvent, std::string> read_line(std::string_view text);

  friend bool operator==(const RecordedEvent&, const RecordedEvent&) = default;
};

// The compact line of an event without building a `RecordedEvent` (the recorder's and the journal's way).
void write_recorded_line(std::string& out, std::string_view ts, std::string_view run_id, uint64_t seq,
                         const ExecutionMetadata* metadata, const Event& event);

}  // namespace dravelin::record
