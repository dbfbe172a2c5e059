// One recording line: an accepted line writes back as a line that reads as the same event.
#include "fuzz_target.h"
#include "record/recorded_event.h"

using namespace dravelin;

DRAVELIN_FUZZ_TARGET(recording_line) {
  auto event = record::RecordedEvent::read_line(bytes);
  if (!event.ok()) {
    if (event.error().empty()) return fuzz::broken("a refused line has an empty message");
    return fuzz::holds();
  }
  std::string line;
  event->write_json(line);
  if (line.find('\n') != std::string::npos) return fuzz::broken("a written line holds a line feed");
  auto again = record::RecordedEvent::read_line(line);
  if (!again.ok()) return fuzz::broken("the written form of an accepted line is refused: " + again.error());
  std::string second;
  again->write_json(second);
  if (second != line) return fuzz::broken("a line changes when it is read and written again");
  (void)event->to_json_value();
  return fuzz::holds();
}
