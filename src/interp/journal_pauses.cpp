// The effects without an outside party that must still come out the same when a run is executed again:
// random draws, clock readings and pauses.
#include <string>
#include <utility>

#include "interp/journal.h"
#include "interp/journal_internal.h"
#include "interp/run_state.h"
#include "record/resume_fit.h"
#include "record/timestamp.h"

namespace dravelin::interp::journal {

using record::DrawKind;
using record::Event;

namespace {

const Event::Draw* draw_at(const Journal& j, DrawKind kind) {
  const Event* at = j.at_cursor();
  const auto* draw = at != nullptr ? std::get_if<Event::Draw>(&at->data) : nullptr;
  return draw != nullptr && draw->kind == kind ? draw : nullptr;
}

std::string pause_word(const record::Pause& pause) { return std::string(runtime::pause_kind_name(pause.kind())); }

Result<uint64_t, RuntimeError> parse_ms(std::string_view text) {
  const int64_t ms = TRY(record::parse_timestamp_ms(text));
  return ms > 0 ? static_cast<uint64_t>(ms) : 0;
}

}  // namespace

Result<double, RuntimeError> random(RunState& run, const Span& span) {
  Journal& j = run.journal;
  if (!j.live()) {
    const Event::Draw* draw = draw_at(j, DrawKind::Random);
    if (draw == nullptr) return diverged(run, "a random draw", span);
    // Only a number the generator can give may stand in for its draw: anything else is a corrupt recording.
    const std::optional<double> recorded = draw->value.is_number() ? draw->value.to_f64() : std::nullopt;
    if (!recorded || !(*recorded >= 0 && *recorded < 1)) {
      return diverged(run, "a random draw holding a number from 0 up to 1", span);
    }
    const double value = *recorded;
    ++j.cursor;
    return value;
  }
  zem::Xoshiro256StarStar generator(j.random);
  const double value = generator.next_f64();
  j.random = generator.state();
  TRY(push(run, Event{Event::Draw{DrawKind::Random, json::Value(value)}}));
  return value;
}

Result<std::string, RuntimeError> now(RunState& run, const Span& span) {
  Journal& j = run.journal;
  if (!j.live()) {
    const Event::Draw* draw = draw_at(j, DrawKind::Now);
    if (draw == nullptr) return diverged(run, "a clock reading", span);
    if (!draw->value.is_string()) return diverged(run, "a clock reading holding a timestamp text", span);
    std::string text = draw->value.as_string();
    ++j.cursor;
    return text;
  }
  std::string text = record::format_timestamp_ms(run.now_ms());
  TRY(push(run, Event{Event::Draw{DrawKind::Now, json::Value(text)}}));
  return text;
}

Result<uint64_t, RuntimeError> clock_after_pause(RunState& run, const Span& span) {
  Journal& j = run.journal;
  const Event::Draw* draw = draw_at(j, DrawKind::Now);
  if (draw == nullptr) return diverged(run, "the clock reading after the pause", span);
  const uint64_t ms = TRY(parse_ms(draw->value.is_string() ? draw->value.as_string() : std::string()));
  ++j.cursor;
  return ms;
}

Result<PausePassage, RuntimeError> pause(RunState& run, record::Pause raised) {
  Journal& j = run.journal;
  const Span span = raised.common.source;

  if (j.live()) {
    raised.common.recording_offset = next_line_offset(run);
    const bool resumable = !raised.ends_run();
    TRY(push(run, Event{Event::Pause{raised.kind(), raised}}));
    const uint64_t index = j.events.size() - 1;
    // The reading right after a resumable pause is where the time spent paused starts.
    if (resumable) TRY(now(run, span));
    j.paused_at = j.surfaced_until = index;
    run.pending_pause = std::move(raised);
    return PausePassage{};
  }

  const Event* at = j.at_cursor();
  const auto* recorded = at != nullptr ? std::get_if<Event::Pause>(&at->data) : nullptr;
  // The recording that stops here refused this pause: so does its replay.
  if ((recorded == nullptr || !pauses_match(recorded->payload, raised)) &&
      oversized(run, Event{Event::Pause{raised.kind(), raised}})) {
    return err(oversized_event_error(record::EventKind::Pause));
  }
  if (recorded == nullptr) return diverged(run, "a `" + pause_word(raised) + "` pause", span);
  // A line whose two kinds disagree cannot be the pause the program raises, whichever of them it names.
  if (recorded->kind != recorded->payload.kind()) {
    return diverged(run, "a `" + pause_word(raised) + "` pause whose line names one kind", span);
  }
  if (!pauses_match(recorded->payload, raised)) {
    return diverged(
        run, "the same `" + pause_word(raised) + "` pause, not the recorded `" + pause_word(recorded->payload) + "`",
        span);
  }
  const uint64_t u = j.cursor++;
  const auto stop_here = [&](bool surfaced) {
    j.paused_at = u;
    if (surfaced) j.surfaced_until = u;
    run.pending_pause = std::get<Event::Pause>(j.events[u].data).payload;
    return PausePassage{};
  };
  // A pause the run has never stopped at is shown to the host first, and a terminal one is never passed.
  if (!j.surfaced_until || *j.surfaced_until < u || recorded->payload.ends_run()) return stop_here(true);

  if (TRY(check_abort(run, span))) return PausePassage{PausePassage::Kind::Aborted, {}, 0};
  const uint64_t paused_from = TRY(clock_after_pause(run, span));
  if (raised.kind() == runtime::PauseKind::Waiting) {
    // Messages injected while the run waited are not the program's own effects.
    while (const Event* next = j.at_cursor()) {
      const auto* call = std::get_if<Event::Call>(&next->data);
      if (call == nullptr || call->verb != "send") break;
      ++j.cursor;
    }
  }
  if (TRY(check_abort(run, span))) return PausePassage{PausePassage::Kind::Aborted, {}, 0};

  const Event* next = j.at_cursor();
  const auto* resume = next != nullptr ? std::get_if<Event::Resume>(&next->data) : nullptr;
  if (resume == nullptr) return stop_here(false);
  // A resume read from a recording is passed only where a host's resume would have been accepted (the run's
  // own resumes were checked when the host gave them).
  if (j.replaying && record::resume_refusal(recorded->payload, resume->payload)) {
    return diverged(run, "a resume that fits the `" + pause_word(raised) + "` pause", span);
  }
  record::Resume payload = resume->payload;
  ++j.cursor;
  const uint64_t resumed_at = TRY(parse_ms(TRY(now(run, span))));
  return PausePassage{PausePassage::Kind::Passed, std::move(payload),
                      resumed_at >= paused_from ? resumed_at - paused_from : 0};
}

}  // namespace dravelin::interp::journal
