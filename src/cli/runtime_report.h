// Terminal reports of runtime errors: a failed run start, a failed judgment, or a run's error outcome, rendered
// like compile diagnostics (header, excerpt, reference lines) against the program they arose in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ir/program.h"
#include "record/pause.h"
#include "runtime/runtime_error.h"

namespace dravelin::cli {

// The label for runtime errors of a compiled program: `label` when the program links no module but the
// prelude; none otherwise, because a span may then lie in an imported file.
std::optional<std::string> runtime_source_label(const ir::Ir& ir, std::string label);

// The report of a runtime error; without a label it names "<source unavailable>".
std::string format_runtime_error(const std::optional<std::string>& label, const runtime::RuntimeError& error);

// Writes the report on stderr.
void render_runtime_error(const std::optional<std::string>& label, const runtime::RuntimeError& error);
// The same for an `error` outcome; nothing for any other kind.
void render_pause_error(const std::optional<std::string>& label, const record::Pause& pause);

}  // namespace dravelin::cli
