// A whole recording file through the replay set-up: every refusal is a clean `replay_diverged` with words, and a
// recording that is accepted reads back line for line and is counted to its last byte.
//
// The bytes before a line "--companion--" are the recording, those after it (when it is there) its companion,
// so that redacted recordings are completed from fuzzed companions too.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz_target.h"
#include "record/recording_reader.h"
#include "record/sink.h"
#include "run/replay.h"

using namespace dravelin;

namespace {

constexpr std::string_view kCompanionMark = "\n--companion--\n";

// One scratch directory for the whole process; each input overwrites the same two files.
const std::string& scratch_directory() {
  static const std::string directory = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dravelin-replay-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return directory;
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

DRAVELIN_FUZZ_TARGET(replay) {
  std::string_view recording = bytes;
  std::optional<std::string_view> companion;
  if (const size_t mark = bytes.find(kCompanionMark); mark != std::string_view::npos) {
    recording = bytes.substr(0, mark + 1);
    companion = bytes.substr(mark + kCompanionMark.size());
  }
  const std::string path = scratch_directory() + "/run.jsonl";
  const std::string companion_file = record::companion_path(path);
  write_file(path, recording);
  if (companion) write_file(companion_file, *companion);
  else ::unlink(companion_file.c_str());

  record::RunOptions options;
  options.replay = path;
  auto setup = run::read_replay(options, ir::Ir{}, "", /*from_recording=*/true);
  if (!setup.ok()) {
    if (setup.error().code != runtime::RuntimeErrorCode::ReplayDiverged)
      return fuzz::broken("a refusal that is not replay_diverged: " + setup.error().text());
    if (setup.error().message.empty()) return fuzz::broken("a refusal without words");
    return fuzz::holds();
  }

  auto lines = record::read_recording(path);
  if (!lines.ok()) return fuzz::broken("an accepted recording does not read line by line: " + lines.error().text());
  if (lines->size() != setup->events.size()) return fuzz::broken("the journal and the file differ in length");
  if (setup->events.empty() || setup->events.front().kind() != record::EventKind::Start)
    return fuzz::broken("an accepted journal does not begin with its start event");
  if (setup->bytes != recording.size()) return fuzz::broken("the recording's size is not counted to its last byte");
  for (const record::Event& event : setup->events)
    if (record::has_redacted_payload(event)) return fuzz::broken("a journal event kept a summary");
  return fuzz::holds();
}
