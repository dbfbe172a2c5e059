// Which resume payload can answer which pause: the rule of a host's resume, and of a recorded resume that a
// replay passes a pause with.
#pragma once

#include <optional>
#include <string>

#include "record/pause.h"
#include "record/resume.h"

namespace dravelin::record {

// Why `payload` cannot answer `pause`, or nothing when it can: a confirm takes an answer, an escalation
// `{ resume: true }`, a waiting pause nothing, a budget pause a non-empty extension of finite limits, a
// retryable error `{ retry: true }`; a stopped or done pause takes none ("this pause is terminal").
std::optional<std::string> resume_refusal(const Pause& pause, const Resume& payload);

}  // namespace dravelin::record
