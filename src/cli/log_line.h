// The one-line form in which a terminal shows a run's or a judgment's `log` events on stderr.
#pragma once

#include <optional>
#include <string>

#include "record/event.h"

namespace dravelin::cli {

// "log <level> <task> <line>:<column + 1>: <message>[ <fields>]" and a line feed, for a `log` event; nothing
// for any other event. A redacted message shows its summary, and the fields (when there are any) show as the
// recording writes them. Control characters in the task, the message and the fields are escaped, and so are
// backslashes in the message text, so one event is always one line.
std::optional<std::string> format_log_event(const record::Event& event);

// Writes `format_log_event` on stderr.
void print_log_event(const record::Event& event);

}  // namespace dravelin::cli
