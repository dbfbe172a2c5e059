#include "run/replay.h"

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

// The checks that concern the sequence of lines: one leading start event, one run, counted sequence numbers,
// metadata on the start line only.
Result<Unit, RuntimeError> check_lines(const std::vector<record::RecordedEvent>& lines) {
  if (lines.empty()) return err(diverged("the recording has no leading start event"));
  const record::RecordedEvent& first = lines.front();
  if (first.event.kind() != record::EventKind::Start) {
    return err(diverged("the recording does not begin with a start event"));
  }
  if (first.seq != 0) return err(diverged("event 0 has sequence " + std::to_string(first.seq) + " instead of 0"));
  for (size_t i = 1; i < lines.size(); ++i) {
    const record::RecordedEvent& line = lines[i];
    const std::string at = "event " + std::to_string(i);
    if (line.run_id != first.run_id) return err(diverged(at + " has a different run id from the leading start event"));
    if (line.seq != i) {
      return err(diverged(at + " has sequence " + std::to_string(line.seq) + " instead of " + std::to_string(i)));
    }
    if (line.event.kind() == record::EventKind::Start) return err(diverged(at + " is a second start event"));
    if (line.metadata) return err(diverged(at + " carries execution metadata outside the start event"));
  }
  return Unit{};
}

}  // namespace

Result<ReplaySetup, RuntimeError> read_replay(const record::RunOptions& options, ir::Ir program,
                                              const std::string& task, bool from_recording) {
  const std::string& path = *options.replay;
  record::RecordingReader reader(path);
  std::vector<record::RecordedEvent> lines;
  while (auto next = TRY(record::load_recording(reader))) lines.push_back(std::move(*next));
  TRY(check_lines(lines));

  record::RecordedEvent& first = lines.front();
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

  for (size_t i = 0; i < lines.size(); ++i) {
    const record::Event& event = lines[i].event;
    if (event.kind() == record::EventKind::Log && record::has_redacted_payload(event)) {
      setup.summarised_logs.emplace(i, event);
    }
  }
  lines = TRY(record::check_replay_companion(path, std::move(lines), *setup.profile.tokenizer.tokenizer()));
  setup.events.reserve(lines.size());
  for (record::RecordedEvent& line : lines) setup.events.push_back(std::move(line.event));
  return setup;
}

}  // namespace dravelin::run
