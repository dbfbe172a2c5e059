// Budgets, usage and elapsed time, and the few operations through which the interpreter raises pauses, checks
// for a host cancellation and turns runtime errors into error pauses.
#include <cmath>
#include <string>
#include <utility>

#include "interp/interpreter_internal.h"
#include "interp/journal_internal.h"
#include "record/timestamp.h"

namespace dravelin::interp {

using runtime::RuntimeErrorCode;

RuntimeError paused_in_expression_error() {
  return runtime::make_runtime_error(RuntimeErrorCode::TypeError,
                                     "the run paused inside an expression; this error is never surfaced");
}

double BudgetAccount::elapsed_minutes(uint64_t now) const {
  uint64_t elapsed = now >= start_ms ? now - start_ms : 0;
  elapsed = elapsed >= paused_ms ? elapsed - paused_ms : 0;
  return static_cast<double>(elapsed) / 60000.0;
}

std::string Frame::label() const { return kind == FrameKind::Machine ? "machine:" + name : name; }

std::string Interpreter::label() const {
  for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
    if (frame->kind != FrameKind::Def) return frame->label();
  }
  return task_;
}

BudgetAccount* Interpreter::nearest_task_account() {
  for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
    if (frame->kind == FrameKind::Task) return &*frame->account;
  }
  return nullptr;
}

record::PauseCommon Interpreter::pause_common(const std::string& label, const Span& span) const {
  record::PauseCommon common;
  common.run_id = run_.run_id;
  common.task = label;
  for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
    if (frame->state && frame->label() == label) {
      common.state = frame->state;
      break;
    }
  }
  if (!frames_.empty() && frames_.front().kind == FrameKind::Task) {
    common.step = record::saturating_u64(frames_.front().account->steps_used);
  }
  common.source = span;
  return common;
}

Step<uint64_t> Interpreter::now_ms() {
  auto text = journal::now(run_, current_span_);
  if (!text.ok()) return err(fail(std::move(text).error()));
  auto ms = record::parse_timestamp_ms(*text);
  if (!ms.ok()) return err(fail(std::move(ms).error()));
  return *ms > 0 ? static_cast<uint64_t>(*ms) : uint64_t{0};
}

void Interpreter::finish_usage(uint64_t now) {
  if (frames_.empty() || frames_.front().kind != FrameKind::Task) return;
  const BudgetAccount& account = *frames_.front().account;
  usage_.minutes = account.elapsed_minutes(now);
  usage_.steps = record::saturating_u64(account.steps_used);
}

Step<Unit> Interpreter::check_budget(BudgetKey key, double amount) {
  bool minutes_limited = false;
  for (const Frame& frame : frames_) {
    if (frame.account && frame.account->limit(BudgetKey::Minutes)) minutes_limited = true;
  }
  if (key == BudgetKey::Minutes && !minutes_limited) return Unit{};
  // One clock reading per check, and none at all while no frame limits its minutes.
  uint64_t now = 0;
  if (minutes_limited) now = TRY(now_ms());

  for (size_t i = frames_.size(); i-- > 0;) {
    if (!frames_[i].account) continue;
    const BudgetAccount& account = *frames_[i].account;
    std::optional<std::pair<BudgetKey, double>> over;  // the key found over its limit, with its use so far
    if (const auto& limit = account.limit(key)) {
      double used = 0;
      switch (key) {
        case BudgetKey::Calls: used = account.calls_used; break;
        case BudgetKey::Minutes: used = account.elapsed_minutes(now); break;
        case BudgetKey::Usd: used = account.usd_used; break;
        case BudgetKey::Steps: used = account.steps_used; break;
      }
      if (*limit < used + amount) over.emplace(key, used);
    }
    if (!over) {
      const auto& minutes = account.limit(BudgetKey::Minutes);
      if (minutes && *minutes < account.elapsed_minutes(now)) over.emplace(BudgetKey::Minutes, account.elapsed_minutes(now));
    }
    if (!over) continue;

    const uint64_t frame_id = frames_[i].id;
    record::PauseCommon common = pause_common(frames_[i].label(), current_span_);
    common.state = frames_[i].state;
    const double limit = *account.limit(over->first);
    record::Resume resume = TRY(raise_pause(Pause{std::move(common), Pause::Budget{over->first, over->second, limit}}));
    if (auto* extend = std::get_if<record::Resume::Extend>(&resume.data)) {
      for (Frame& frame : frames_) {
        if (frame.id != frame_id || !frame.account) continue;
        for (const auto& [extended, value] : extend->extend) {
          // Only a number is a limit: NaN or an infinity would switch the budget off (and record a null).
          if (std::isfinite(value)) frame.account->limit(extended) = value;
        }
      }
    }
    // Checked again from the innermost frame: a limit that is still too small pauses again.
    i = frames_.size();
  }
  return Unit{};
}

Step<record::Resume> Interpreter::raise_pause(Pause pause) {
  auto passage = journal::pause(run_, pause);
  if (!passage.ok()) return err(fail(std::move(passage).error()));
  switch (passage->kind) {
    case PausePassage::Kind::Passed:
      for (Frame& frame : frames_) {
        if (frame.account) frame.account->paused_ms += passage->paused_ms;
      }
      return std::move(passage->resume);
    case PausePassage::Kind::Stop: return err(Interrupt{std::move(pause)});
    case PausePassage::Kind::Aborted: break;
  }
  return err(stop_with(Pause{pause_common_here(current_span_), Pause::Stopped{std::string(kAbortedByHost)}}));
}

Interrupt Interpreter::stop_with(Pause pause) {
  auto raised = raise_pause(pause);
  if (!raised.ok()) return std::move(raised).error();
  return Interrupt{std::move(pause)};
}

Interrupt Interpreter::stop(std::string reason, const Span& span) {
  return stop_with(Pause{pause_common_here(span), Pause::Stopped{std::move(reason)}});
}

Step<Unit> Interpreter::check_abort() {
  auto aborted = journal::check_abort(run_, current_span_);
  if (!aborted.ok()) return err(fail(std::move(aborted).error()));
  if (!*aborted) return Unit{};
  return err(stop_with(Pause{pause_common_here(current_span_), Pause::Stopped{std::string(kAbortedByHost)}}));
}

namespace {

Pause error_pause_of(record::PauseCommon common, const RuntimeError& error, bool retryable) {
  return Pause{std::move(common), Pause::Error{error.code, error.message, retryable}};
}

}  // namespace

Step<record::Resume> Interpreter::error_pause(RuntimeError error) {
  // The pause and the end of a diverged run are recorded after the last event that matched.
  if (error.code == RuntimeErrorCode::ReplayDiverged) journal::cut_before_next_push(run_, run_.journal.cursor);
  const Span span = error.span.is_zero() ? current_span_ : error.span;
  return raise_pause(error_pause_of(pause_common_here(span), error, error.retryable));
}

Interrupt Interpreter::fail(RuntimeError error) {
  if (error.code == RuntimeErrorCode::ReplayDiverged) journal::cut_before_next_push(run_, run_.journal.cursor);
  const Span span = error.span.is_zero() ? current_span_ : error.span;
  Pause pause = error_pause_of(pause_common_here(span), error, false);
  // Whatever the journal answers, the error ends the execution. When it could not even record the pause, the
  // error still is the outcome: a pause parked or stopped at earlier (a `done` whose end failed to write)
  // must not stand in for it.
  auto passage = journal::pause(run_, pause);
  if (!passage.ok()) run_.pending_pause = pause;
  return Interrupt{std::move(pause)};
}

Interrupt Interpreter::interrupt_of(RuntimeError error) {
  if (run_.pending_pause) return Interrupt{*run_.pending_pause};
  return fail(std::move(error));
}

RuntimeError Interpreter::park(Interrupt interrupt) {
  if (!run_.pending_pause) run_.pending_pause = std::move(interrupt.pause);
  return paused_in_expression_error();
}

Step<Unit> Interpreter::after_effect_checks() {
  TRY(check_abort());
  TRY(check_budget(BudgetKey::Minutes, 0));
  return Unit{};
}

}  // namespace dravelin::interp
