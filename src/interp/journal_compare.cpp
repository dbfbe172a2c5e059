// Replay comparison: how an event the program produces is matched with the recorded one, and how a divergence
// is worded.
#include <string>
#include <type_traits>
#include <variant>

#include "interp/journal.h"
#include "interp/journal_internal.h"
#include "json/writer.h"
#include "runtime/pause_kind.h"
#include "runtime/value_json.h"

namespace dravelin::interp {

using record::Event;

namespace {

std::string event_text(const Event& event) {
  std::string out;
  json::Writer writer(out);
  writer.begin_object();
  event.write_entries(writer);
  writer.end_object();
  return out;
}

std::string pause_text(record::Pause pause) {
  pause.common.recording_offset = 0;
  std::string out;
  pause.write_json(out);
  return out;
}

std::string backticked(std::string_view name) { return std::string("`").append(name) + "`"; }

}  // namespace

// Field equality first, as the record defines it; where that fails, the texts the recording would hold. A NaN
// or an infinity never equals itself in memory but writes as null on both sides, and a value read back from a
// recording keeps only what its line could say: the program asks for the same thing exactly when the
// recording cannot tell the two apart.
bool events_match(const Event& recorded, const Event& program) {
  if (recorded.kind() != program.kind()) return false;
  return recorded == program || event_text(recorded) == event_text(program);
}

bool pauses_match(const record::Pause& recorded, const record::Pause& program) {
  if (recorded.kind() != program.kind()) return false;
  return record::same_pause_for_replay(recorded, program) || pause_text(recorded) == pause_text(program);
}

bool values_match(const runtime::Value& recorded, const runtime::Value& program) {
  return recorded == program ||
         json::to_compact(runtime::to_tagged_json(recorded)) == json::to_compact(runtime::to_tagged_json(program));
}

bool json_match(const json::Value& recorded, const json::Value& program) {
  return recorded == program || json::to_compact(recorded) == json::to_compact(program);
}

bool identities_match(const record::EffectIdentity& recorded, const record::EffectIdentity& program) {
  using Identity = record::EffectIdentity;
  if (recorded.data.index() != program.data.index()) return false;
  return std::visit(
      [&](const auto& r) -> bool {
        using I = std::decay_t<decltype(r)>;
        const I& p = std::get<I>(program.data);
        if constexpr (std::is_same_v<I, Identity::Request>) {
          return r.request_id == p.request_id;
        } else if constexpr (std::is_same_v<I, Identity::Call>) {
          return r.capability == p.capability && r.verb == p.verb && values_match(r.args, p.args);
        } else if constexpr (std::is_same_v<I, Identity::Observe>) {
          return r.capability == p.capability && values_match(r.handle, p.handle);
        } else {
          static_assert(std::is_same_v<I, Identity::Generate>);
          if (r.capability != p.capability || r.instruction != p.instruction) return false;
          if (r.using_value.has_value() != p.using_value.has_value()) return false;
          return !r.using_value.has_value() || values_match(*r.using_value, *p.using_value);
        }
      },
      recorded.data);
}

RuntimeError replay_diverged_error(const Journal& journal, std::string_view expected, const Span& span) {
  std::string message = "the program expected ";
  message += expected;
  message += " at event ";
  message += std::to_string(journal.cursor);
  message += " of the recording but found ";
  const Event* found = journal.at_cursor();
  message += found != nullptr ? describe_recorded_event(*found) : "the end of the recording";
  return runtime::make_runtime_error(runtime::RuntimeErrorCode::ReplayDiverged, std::move(message), false, span);
}

std::string describe_recorded_event(const Event& event) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, Event::Start>) {
          return "`start`";
        } else if constexpr (std::is_same_v<E, Event::Request>) {
          return "a Zem request";
        } else if constexpr (std::is_same_v<E, Event::Answers>) {
          return "Zem answers";
        } else if constexpr (std::is_same_v<E, Event::Generate>) {
          return "a generation by " + backticked(e.capability);
        } else if constexpr (std::is_same_v<E, Event::Call>) {
          return "the call " + backticked(e.capability + "." + e.verb);
        } else if constexpr (std::is_same_v<E, Event::Observe>) {
          return "an observation of " + backticked(e.capability);
        } else if constexpr (std::is_same_v<E, Event::EffectError>) {
          return "a failed " + backticked(record::effect_operation_display_name(e.operation)) + " external attempt";
        } else if constexpr (std::is_same_v<E, Event::Draw>) {
          return e.kind == record::DrawKind::Random ? "a random draw" : "a clock reading";
        } else if constexpr (std::is_same_v<E, Event::Warning>) {
          return "a " + backticked(e.code) + " warning";
        } else if constexpr (std::is_same_v<E, Event::Log>) {
          return "a " + backticked(record::log_level_name(e.level)) + " log";
        } else if constexpr (std::is_same_v<E, Event::Pause>) {
          return "a " + backticked(runtime::pause_kind_name(e.kind)) + " pause";
        } else if constexpr (std::is_same_v<E, Event::Resume>) {
          return "a resume";
        } else if constexpr (std::is_same_v<E, Event::Abort>) {
          return "host cancellation";
        } else if constexpr (std::is_same_v<E, Event::Step>) {
          return "a step record";
        } else if constexpr (std::is_same_v<E, Event::MachineStep>) {
          return "a step of machine " + backticked(e.machine);
        } else {
          static_assert(std::is_same_v<E, Event::End>);
          return "the end of the run as " + backticked(runtime::pause_kind_name(e.kind));
        }
      },
      event.data);
}

}  // namespace dravelin::interp
