#include "run/replay.h"

#include <map>
#include <optional>
#include <utility>
#include <variant>

#include "record/recorded_event.h"
#include "record/recording_reader.h"

namespace dravelin::run {
namespace {

using runtime::RuntimeError;
using runtime::RuntimeErrorCode;

constexpr std::string_view kRuntimeIrVersion = "0.1";

RuntimeError diverged(std::string message) {
  return runtime::make_runtime_error(RuntimeErrorCode::ReplayDiverged, std::move(message));
}

// Why a line cannot stand at position `i` of the recording whose first line is `first`, or nothing: one leading
// start event, one run, counted sequence numbers, metadata on the start line only.
std::optional<std::string> misplaced(const record::RecordedEvent& line, uint64_t i, const record::RecordedEvent& first) {
  if (i == 0) {
    if (line.event.kind() != record::EventKind::Start) return "the recording does not begin with a start event";
    if (line.seq != 0) return "event 0 has sequence " + std::to_string(line.seq) + " instead of 0";
    return std::nullopt;
  }
  const std::string at = "event " + std::to_string(i);
  if (line.run_id != first.run_id) return at + " has a different run id from the leading start event";
  if (line.seq != i) return at + " has sequence " + std::to_string(line.seq) + " instead of " + std::to_string(i);
  if (line.event.kind() == record::EventKind::Start) return at + " is a second start event";
  if (line.metadata) return at + " carries execution metadata outside the start event";
  return std::nullopt;
}

}  // namespace

Result<ReplaySetup, RuntimeError> read_replay(const record::RunOptions& options, ir::Ir program,
                                              const std::string& task, bool from_recording) {
  const std::string& path = *options.replay;
  // Each line is read once; only its event is kept, its envelope checked as it comes. A file that cannot be
  // read is reported before a line that stands in the wrong place.
  record::RecordingReader reader(path);
  std::optional<record::RecordedEvent> first_line;
  std::vector<record::Event> events;
  std::vector<uint64_t> line_offsets;
  std::map<uint64_t, record::Event> summarised_logs;
  std::optional<std::string> fault;
  for (;;) {
    const uint64_t line_start = reader.bytes_read();
    auto next = TRY(record::load_recording(reader));
    if (!next) break;
    record::RecordedEvent& line = *next;
    const uint64_t i = events.size();
    if (!fault) fault = misplaced(line, i, i == 0 ? line : *first_line);
    if (line.event.kind() == record::EventKind::Log && record::has_redacted_payload(line.event)) {
      summarised_logs.emplace(i, line.event);
    }
    if (i == 0) first_line = line;
    events.push_back(std::move(line.event));
    line_offsets.push_back(line_start);
  }
  if (!first_line) return err(diverged("the recording has no leading start event"));
  if (fault) return err(diverged(std::move(*fault)));

  const record::RecordedEvent& first = *first_line;
  const auto& start = std::get<record::Event::Start>(first.event.data);
  ReplaySetup setup;
  setup.task = start.task;
  setup.run_id = first.run_id;
  setup.inputs = options.inputs.empty() ? start.inputs : options.inputs;
  setup.bytes = reader.bytes_read();

  if (start.ir_version != kRuntimeIrVersion) {
    return err(diverged("the recording IR version `" + start.ir_version + "` is not supported by runtime version `" +
                        std::string(kRuntimeIrVersion) + "`"));
  }
  if (first.metadata && first.metadata->ir.ir_version != start.ir_version) {
    return err(diverged("the recording start IR version `" + start.ir_version +
                        "` does not match the embedded IR version `" + first.metadata->ir.ir_version + "`"));
  }
  if (from_recording && !first.metadata) {
    return err(diverged("the recording start event lacks linked IR, resolved profile or sample metadata"));
  }
  if (!task.empty() && task != start.task) {
    return err(diverged("the recording is of task `" + start.task + "`, not `" + task + "`"));
  }

  if (first.metadata) {
    // Copied, not taken: the companion check below compares the start line's metadata with the companion's.
    const record::ExecutionMetadata& metadata = *first.metadata;
    if (from_recording) {
      program = metadata.ir;
    } else if (program.ir_version != metadata.ir.ir_version) {
      return err(diverged("the recording IR version `" + metadata.ir.ir_version +
                          "` does not match the supplied program version `" + program.ir_version + "`"));
    }
    setup.profile = metadata.profile;
    setup.sample = metadata.sample;
    setup.model = setup.profile.model;
  } else {
    setup.profile = TRY(zem::resolve_profile(options.model, options.profiles));
    setup.sample = options.sample.value_or(record::Sample{});
    setup.model = options.model;
  }
  setup.program = std::move(program);

  TRY(record::complete_from_companion(path, first.run_id, first.metadata, events,
                                      *setup.profile.tokenizer.tokenizer()));
  setup.events = std::move(events);
  setup.line_offsets = std::move(line_offsets);
  setup.summarised_logs = std::move(summarised_logs);
  return setup;
}

}  // namespace dravelin::run
