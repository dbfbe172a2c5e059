// Growing values within their bounds. Every way a run makes a value larger goes through these: a text, list or
// record that would pass `kMaxValueBytes` or `kMaxValueDepth` is refused with `size_error` or `nesting_error`
// before it is made, judged from the sizes its parts already know, so that no check walks a value.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "runtime/runtime_error.h"
#include "runtime/value.h"

namespace dravelin::runtime {

// Whether a text of this many bytes may be held.
inline bool text_fits(size_t bytes) { return bytes <= kMaxValueBytes; }

// A list built an item at a time. An item that would take the list past a bound is refused (and dropped), so
// a list is never built far beyond what it may hold.
class ListBuilder {
 public:
  ListBuilder() = default;
  explicit ListBuilder(size_t expected) { items_.reserve(expected); }

  // Inline: every list literal pushes its items here.
  Result<Unit, RuntimeError> push(Value item) {
    const size_t depth = std::max(depth_, value_depth(item) + 1);
    if (depth > kMaxValueDepth) return err(nesting_error());
    const size_t bytes = bytes_ + element_size(item) + (items_.empty() ? 0 : 1);
    if (bytes > kMaxValueBytes) return err(size_error());
    items_.push_back(std::move(item));
    bytes_ = bytes;
    depth_ = depth;
    return Unit{};
  }
  size_t size() const { return items_.size(); }
  Value build() &&;

 private:
  List items_;
  size_t bytes_ = 2;  // `[]`
  size_t depth_ = 1;
};

// A record built a field at a time; a name given again keeps the later value. A field that would take the record
// past a bound is refused, and the record keeps what it had.
class RecordBuilder {
 public:
  Result<Unit, RuntimeError> set(std::string key, Value value);
  Value build() &&;

 private:
  Record fields_;
  size_t bytes_ = 2;  // `{}`
  size_t depth_ = 1;
};

// The value itself when it is within both bounds, else the size or nesting error (for values made elsewhere:
// replies of hosts, values read from JSON, records of results).
Result<Value, RuntimeError> within_bounds(Value value);

// `+` on two texts, and on two lists (both must be lists), judged from the operands' sizes before the result is
// made.
Result<Value, RuntimeError> concat_texts(std::string_view left, std::string_view right);
Result<Value, RuntimeError> concat_lists(const Value& left, const Value& right);
// The same joins made in place, for `x = x + y`: the items of `right` appended to the list `list`, the text
// `right` to the text `text`. The left value is copied first only when it shares its payload; on failure it is
// unchanged.
Result<Unit, RuntimeError> append_to_list(Value& list, const Value& right);
Result<Unit, RuntimeError> append_to_text(Value& text, std::string_view right);

// Sets the field at the end of `path` in the records below `root` (creating it when absent), keeping the sizes
// of every record on the way. Fails without changing anything: "expected a record, got <type word>", "record
// has no field `<field>`", the nesting error (the value would stand too deep) or the size error (`root` would
// grow too large). An empty path is the caller's to refuse.
Result<Unit, RuntimeError> set_field_at_path(Value& root, const std::vector<std::string>& path, Value value);

}  // namespace dravelin::runtime
