#include "record/resume_fit.h"

#include <cmath>
#include <variant>

namespace dravelin::record {

std::optional<std::string> resume_refusal(const Pause& pause, const Resume& payload) {
  switch (pause.kind()) {
    case PauseKind::Confirm:
      if (std::holds_alternative<Resume::Answer>(payload.data)) return std::nullopt;
      return "expected `{ answer, text? }`";
    case PauseKind::Escalate: {
      const auto* go_on = std::get_if<Resume::Continue>(&payload.data);
      if (go_on != nullptr && go_on->resume) return std::nullopt;
      return "expected `{ resume: true }`";
    }
    case PauseKind::Waiting:
      if (std::holds_alternative<Resume::Nothing>(payload.data)) return std::nullopt;
      return "a waiting pause takes nothing";
    case PauseKind::Budget: {
      const auto* extend = std::get_if<Resume::Extend>(&payload.data);
      bool fits = extend != nullptr && !extend->extend.empty();
      // A limit of NaN or infinity would switch the budget off and be recorded as null, which no replay could
      // read back as the same limit.
      if (fits) {
        for (const auto& [key, limit] : extend->extend) fits = fits && std::isfinite(limit);
      }
      if (fits) return std::nullopt;
      return "expected `{ extend: { key: n } }`";
    }
    case PauseKind::Error: {
      const auto* retry = std::get_if<Resume::Retry>(&payload.data);
      if (retry != nullptr && retry->retry) return std::nullopt;
      return "expected `{ retry: true }`";
    }
    case PauseKind::Stopped:
    case PauseKind::Done:
      break;
  }
  return "this pause is terminal";
}

}  // namespace dravelin::record
