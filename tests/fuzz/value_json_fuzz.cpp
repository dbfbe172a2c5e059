// The value readers: the tagged form round-trips every kind, the plain form reads anything.
#include "fuzz_target.h"
#include "json/reader.h"
#include "json/writer.h"
#include "runtime/value_json.h"

using namespace dravelin;

DRAVELIN_FUZZ_TARGET(value_json) {
  // The reader of a whole text (run inputs on the command line) sees the raw bytes.
  (void)runtime::parse_tagged_value(bytes);

  auto parsed = json::parse_json_value(bytes);
  if (!parsed.ok()) return fuzz::holds();
  const json::Value& doc = *parsed;

  (void)runtime::from_plain_json(doc);
  (void)runtime::handle_from_json_map(doc);
  if (doc.is_object()) (void)runtime::tagged_members_from_json(doc.as_object());

  auto value = runtime::from_tagged_json(doc);
  if (!value.ok()) {
    if (value.error().empty()) return fuzz::broken("a refused value has an empty message");
    return fuzz::holds();
  }
  const json::Value written = runtime::to_tagged_json(*value);
  auto again = runtime::from_tagged_json(written);
  if (!again.ok()) return fuzz::broken("the tagged form of a read value is refused: " + again.error());
  // NaN is written as null, so only a value without one compares equal; the text form must be stable.
  if (json::to_compact(runtime::to_tagged_json(*again)) != json::to_compact(written))
    return fuzz::broken("the tagged form changes when written a second time");
  auto reread = json::parse_json_value(json::to_compact(written));
  if (!reread.ok()) return fuzz::broken("the compact tagged form does not parse");
  (void)runtime::to_plain_json(*value);
  return fuzz::holds();
}
