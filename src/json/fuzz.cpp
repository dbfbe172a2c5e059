// The fuzz entry: every reader over the same bytes, with round trips through both layouts.
#include "json/fuzz.h"

#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::json {

namespace {

bool error_in_text(const ParseError& e, std::string_view text) {
  if (e.line < 1 || e.message.empty()) return false;
  const TextPosition end = position_of_index(text, text.size());
  if (e.line > end.line) return false;
  if (e.line == end.line && e.column > end.column) return false;
  return true;
}

}  // namespace

bool fuzz_one_input(std::string_view bytes) {
  auto doc = parse(bytes);
  auto sorted = parse_json_value(bytes);
  if (doc.ok() != sorted.ok()) return false;

  Reader skipper(bytes);
  auto skipped = skipper.skip_value();
  bool skip_ok = skipped.ok();
  ParseError skip_error;
  if (skip_ok) {
    auto fin = skipper.finish();
    skip_ok = fin.ok();
    if (!skip_ok) skip_error = fin.error();
  } else {
    skip_error = skipped.error();
  }
  if (skip_ok != doc.ok()) return false;

  auto object = parse_json_object(bytes);
  if (object.ok() && !(doc.ok() && doc->is_object())) return false;

  if (!doc.ok()) {
    const ParseError& e = doc.error();
    if (!error_in_text(e, bytes)) return false;
    if (!(sorted.error() == e) || !(skip_error == e)) return false;
    if (!object.ok() && !error_in_text(object.error(), bytes)) return false;
    return true;
  }

  const Value& v = *doc;
  if (!(v == *sorted)) return false;
  if (object.ok() && !(Value(*object) == v)) return false;

  const std::string compact = to_compact(v);
  for (unsigned char c : compact) {
    if (c < 0x20) return false;
  }
  auto back = parse(compact);
  if (!back.ok() || !identical(*back, v)) return false;

  const std::string pretty = to_pretty(v);
  auto back_pretty = parse(pretty);
  if (!back_pretty.ok() || !identical(*back_pretty, v)) return false;

  // The ordered-map form prints its keys strictly ascending at every level.
  auto sorted_back = parse(to_compact(*sorted));
  if (!sorted_back.ok() || !identical(*sorted_back, *sorted)) return false;
  return true;
}

}  // namespace dravelin::json
