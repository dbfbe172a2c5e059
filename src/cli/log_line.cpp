#include "cli/log_line.h"

#include <variant>

#include "cli/output.h"
#include "syntax/terminal_text.h"
#include "json/number_format.h"
#include "json/writer.h"

namespace dravelin::cli {

std::optional<std::string> format_log_event(const record::Event& event) {
  const auto* log = std::get_if<record::Event::Log>(&event.data);
  if (log == nullptr) return std::nullopt;
  std::string line = "log ";
  line += record::log_level_name(log->level);
  line += ' ';
  syntax::append_for_terminal(line, log->task, syntax::Backslashes::Escaped);
  line += ' ';
  json::append_u64(line, log->source.start.line);
  line += ':';
  json::append_u64(line, uint64_t{log->source.start.column} + 1);
  line += ": ";

  const std::string* text = log->message.if_full();
  const bool need_entries = text == nullptr || !log->fields.empty();
  json::Value entries;
  if (need_entries) {
    // The payloads exactly as a recording line holds them (summaries, wrapped full payloads).
    json::ValueBuilder builder;
    builder.begin_object();
    event.write_entries(builder);
    builder.end_object();
    entries = builder.take();
  }
  // The message and the fields are the program's (or a recording's): shown escaped, one event stays one line.
  if (text != nullptr) {
    syntax::append_for_terminal(line, *text, syntax::Backslashes::Escaped);
  } else if (const json::Object* object = entries.if_object()) {
    if (const json::Value* message = object->find("message")) {
      syntax::append_for_terminal(line, json::to_compact(*message), syntax::Backslashes::Kept);
    }
  }
  if (const json::Object* object = entries.if_object(); object != nullptr && !log->fields.empty()) {
    if (const json::Value* fields = object->find("fields")) {
      line += ' ';
      syntax::append_for_terminal(line, json::to_compact(*fields), syntax::Backslashes::Kept);
    }
  }
  line += '\n';
  return line;
}

void print_log_event(const record::Event& event) {
  if (auto line = format_log_event(event)) {
    write_text(stderr, *line);
  }
}

}  // namespace dravelin::cli
