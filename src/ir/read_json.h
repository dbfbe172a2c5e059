// Reads the IR back from its JSON form: the linked program that a recording's start line carries.
//
// The reader accepts everything the writers produce (write_json.h), in any key order, and checks the form of the
// JSON only: no value is compared with another and no name is resolved. What it accepts, by the same forms that
// drive the writers (json_forms.h):
//   - a record as an object (keys in any order, other keys skipped unread, a known key given twice refused, the
//     first missing required key in declared order reported after the walk) or as an array of its values in
//     declared order (a missing optional value at the end taking its absent or empty value);
//   - a tagged union as an object holding its tag key anywhere, or as an array whose first element is the tag;
//     the tag is a variant name or the variant's position;
//   - a unit enum as its name, or as an object whose only key is the name and whose value is null or {};
//   - an optional value as a missing key or null (absent) or the value; a list the writer omits when empty as a
//     missing key (empty) or an array, never null.
// The IR is untrusted input here: whatever the document holds, the result is an IR or an error, never a crash.
// The walk's recursion follows the nesting of the parsed value, a few small frames per level, with no limit of
// its own: a value nested thousands of levels deep reads within a thread's stack.
//
// Errors are one message text without a position, the first fault in document order:
//   "invalid type: <found>, expected <what>"        a value of the wrong kind
//   "invalid value: integer `<n>`, expected u32"    an unsigned 32-bit field out of range
//   "invalid value: integer `<i>`, expected variant index 0 <= i < <N>"
//   "invalid value: map, expected map with a single key"   a unit enum object of 0 or 2+ keys
//   "invalid length <i>, expected struct <X> with <N> elements"   an array ending at required position i
//   "invalid length <L>, expected <N> elements in sequence"       an array longer than the record
//   "missing field `<key>`", "duplicate field `<key>`"
//   "unknown variant `<text>`, expected <names>"   a tag or unit enum naming nothing
// <found> describes the JSON value met ("null", "integer `5`", "floating point `1.5`", "string \"a\"",
// "sequence", "map"), floats in the IR float form.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "ir/nodes.h"
#include "json/value.h"
#include "syntax/unit_enums.h"

namespace dravelin::ir {

template <class T>
using ReadResult = Result<T, std::string>;

// The levels of nesting that `read_ir_json_text` lets the JSON reader accept: deeper than any IR the compiler produces
// (its sources nest at most 100 constructs deep, each a few JSON levels), within what the JSON reader and this
// reader walk safely on a thread's stack.
inline constexpr int kIrJsonNestingLimit = 4096;

// The whole document from a parsed value: objects in document order with their repeated keys, numbers with
// their kinds (json::parse keeps both).
ReadResult<Ir> read_ir_json(const json::Value& value);

// The whole document from its text (any of the writers' text forms): a JSON syntax fault gives the JSON
// reader's message with its position.
ReadResult<Ir> read_ir_json_text(std::string_view text);

// One value of any IR type with a JSON form (every record and tagged union, `Span` and `Pos` included), for the
// records of other layers that carry one (a recording event's `source` span).
template <class T>
ReadResult<T> read_json(const json::Value& value);

// A unit enum by the IR's rules, for records of other layers that hold one (the level of a recorded log event).
template <class E>
ReadResult<E> read_unit_enum_json(const json::Value& value);

}  // namespace dravelin::ir
