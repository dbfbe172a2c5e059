// The size and depth of values, and every check of a growing value against their bounds: one place, so that
// the measure and the rules that use it change together.
#include "runtime/value_bounds.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

namespace dravelin::runtime {

namespace {

constexpr size_t kNumberBytes = 24;  // as `Value::kNumberBytes`

// A text as JSON, without its escapes: the bytes and two quotes.
size_t quoted(std::string_view text) { return text.size() + 2; }

// `,` between entries.
size_t separators(size_t count) { return count > 0 ? count - 1 : 0; }

struct Measure {
  size_t bytes = 0;
  size_t depth = 0;
};

Measure json_measure(const json::Value& json) {
  if (const json::Array* items = json.if_array()) {
    Measure out{2 + separators(items->size()), 0};
    for (const json::Value& item : *items) {
      const Measure m = json_measure(item);
      out.bytes += m.bytes;
      out.depth = std::max(out.depth, m.depth);
    }
    ++out.depth;
    return out;
  }
  if (const json::Object* object = json.if_object()) {
    Measure out{2 + separators(object->size()), 0};
    for (const json::Member& member : object->entries()) {
      const Measure m = json_measure(member.value);
      out.bytes += quoted(member.key) + 1 + m.bytes;
      out.depth = std::max(out.depth, m.depth);
    }
    ++out.depth;
    return out;
  }
  switch (json.kind()) {
    case json::Kind::Null: return {4, 0};
    case json::Kind::Bool: return {5, 0};
    case json::Kind::String: return {quoted(json.as_string()), 0};
    default: return {kNumberBytes, 0};
  }
}

// `{...}` of a probability map: every label with a number.
size_t probabilities_bytes(const ProbabilityMap& probabilities) {
  size_t bytes = 2 + separators(probabilities.size());
  for (const auto& entry : probabilities) bytes += quoted(entry.first) + 1 + kNumberBytes;
  return bytes;
}

// The tagged objects of the special kinds, every key written out: `{"$zem":"choice","confidence":N,...}`.
Measure choice_measure(const Choice& c) {
  const Value* item = c.item.get();
  size_t bytes = 2 + std::string_view(R"("$zem":"choice",)").size();
  bytes += std::string_view(R"("confidence":,)").size() + kNumberBytes;
  bytes += std::string_view(R"("index":,)").size() + 10;
  if (item != nullptr) bytes += std::string_view(R"("item":,)").size() + element_size(*item);
  bytes += std::string_view(R"("label":,)").size() + quoted(c.label);
  bytes += std::string_view(R"("probabilities":)").size() + probabilities_bytes(c.probabilities);
  return {bytes, 1 + std::max<size_t>(1, item != nullptr ? value_depth(*item) : 0)};
}

Measure level_measure(const Level& l) {
  size_t bytes = 2 + std::string_view(R"("$zem":"level",)").size();
  bytes += std::string_view(R"("confidence":,"level":,"normalized":,"score":,)").size() + 3 * kNumberBytes + 10;
  bytes += std::string_view(R"("probabilities":)").size() + probabilities_bytes(l.probabilities);
  bytes += std::string_view(R"(,"names":[])").size() + separators(l.names.size());
  for (const std::string& name : l.names) bytes += quoted(name);
  return {bytes, 2};  // the object and its probabilities (or names)
}

Measure handle_measure(const Handle& h) {
  Measure out{2 + std::string_view(R"("$zem":"handle","capability":,"id":)").size() + quoted(h.capability) +
                  quoted(h.id),
              0};
  for (const auto& [key, field] : h.fields) {
    const Measure m = json_measure(field);
    out.bytes += 1 + quoted(key) + 1 + m.bytes;
    out.depth = std::max(out.depth, m.depth);
  }
  ++out.depth;
  return out;
}

Measure pause_result_measure(const PauseResult& r) {
  const size_t text = r.text ? quoted(*r.text) : 4;
  return {2 + std::string_view(R"("$zem":"pause_result","answer":,"text":)").size() + quoted(r.answer) + text, 1};
}

}  // namespace

uint64_t Value::measure() const {
  Measure m;
  switch (kind()) {
    case ValueKind::List: {
      const List& items = payload<ValueKind::List>();
      m.bytes = 2 + separators(items.size());
      for (const Value& item : items) {
        m.bytes += element_size(item);
        m.depth = std::max(m.depth, value_depth(item));
      }
      ++m.depth;
      break;
    }
    case ValueKind::Record: {
      const Record& entries = payload<ValueKind::Record>();
      m.bytes = 2 + separators(entries.size());
      for (const auto& [key, item] : entries) {
        m.bytes += quoted(key) + 1 + element_size(item);
        m.depth = std::max(m.depth, value_depth(item));
      }
      ++m.depth;
      break;
    }
    case ValueKind::Choice: m = choice_measure(payload<ValueKind::Choice>()); break;
    case ValueKind::Level: m = level_measure(payload<ValueKind::Level>()); break;
    case ValueKind::Handle: m = handle_measure(payload<ValueKind::Handle>()); break;
    case ValueKind::PauseResult: m = pause_result_measure(payload<ValueKind::PauseResult>()); break;
    default: return 0;  // scalars and texts are measured on the spot
  }
  const uint64_t word = measure_word(m.bytes, m.depth);
  // A moved-from value has no node to keep it in.
  if (node_ != nullptr) node_->measure = word;
  return word;
}

uint64_t Value::measure_word(size_t bytes, size_t depth) {
  return kMeasured | (uint64_t{std::min<size_t>(depth, UINT16_MAX)} << 32) | std::min<size_t>(bytes, UINT32_MAX);
}

void Value::set_measure(size_t bytes, size_t depth) const { node_->measure = measure_word(bytes, depth); }

size_t Value::unmeasured_size() const { return static_cast<uint32_t>(measure()); }

size_t Value::unmeasured_depth() const { return static_cast<uint16_t>(measure() >> 32); }

RuntimeError nesting_error() {
  return make_runtime_error(RuntimeErrorCode::TypeError,
                            "a value may nest at most " + std::to_string(kMaxValueDepth) + " levels deep");
}

RuntimeError size_error() {
  return make_runtime_error(RuntimeErrorCode::TypeError,
                            "a value may hold at most " + std::to_string(kMaxValueBytes) + " bytes");
}

// ---- growing within the bounds ----

namespace {

// The depth of a record once the field `skip` holds a value of depth `depth`: exact, from the other fields.
size_t depth_with(const Record& fields, const Record::const_iterator& skip, size_t depth) {
  size_t deepest = depth;
  for (auto it = fields.begin(); it != fields.end(); ++it) {
    if (it != skip) deepest = std::max(deepest, value_depth(it->second));
  }
  return deepest + 1;
}

}  // namespace

Value ListBuilder::build() && {
  Value out = Value::make<ValueKind::List>(std::move(items_));
  out.set_measure(bytes_, depth_);
  return out;
}

Result<Unit, RuntimeError> RecordBuilder::set(std::string key, Value value) {
  const size_t value_depth_now = value_depth(value);
  if (value_depth_now + 1 > kMaxValueDepth) return err(nesting_error());
  auto found = fields_.find(key);
  size_t bytes = bytes_;
  size_t depth = std::max(depth_, value_depth_now + 1);
  if (found == fields_.end()) {
    bytes += quoted(key) + 1 + element_size(value) + (fields_.empty() ? 0 : 1);
  } else {
    bytes = bytes - element_size(found->second) + element_size(value);
    // A shallower value in place of the deepest field may make the record shallower.
    if (value_depth_now + 1 < depth_) depth = depth_with(fields_, found, value_depth_now);
  }
  if (bytes > kMaxValueBytes) return err(size_error());
  if (found == fields_.end()) {
    fields_.emplace(std::move(key), std::move(value));
  } else {
    found->second = std::move(value);
  }
  bytes_ = bytes;
  depth_ = depth;
  return Unit{};
}

Value RecordBuilder::build() && {
  Value out = Value::make<ValueKind::Record>(std::move(fields_));
  out.set_measure(bytes_, depth_);
  return out;
}

Result<Value, RuntimeError> within_bounds(Value value) {
  if (value_depth(value) > kMaxValueDepth) return err(nesting_error());
  if (value_size(value) > kMaxValueBytes) return err(size_error());
  return value;
}

Result<Value, RuntimeError> concat_texts(std::string_view left, std::string_view right) {
  if (!text_fits(left.size() + right.size())) return err(size_error());
  std::string out;
  out.reserve(left.size() + right.size());
  out += left;
  out += right;
  return Value::text(std::move(out));
}

namespace {

// The measure of two lists joined: both brackets of the right list go, and a comma joins the two when both have
// items.
size_t joined_bytes(const Value& left, const Value& right) {
  return value_size(left) + value_size(right) - 2 +
         (!std::as_const(left).as_list().empty() && !right.as_list().empty() ? 1 : 0);
}

}  // namespace

Result<Value, RuntimeError> concat_lists(const Value& left, const Value& right) {
  const List& a = left.as_list();
  const List& b = right.as_list();
  const size_t bytes = joined_bytes(left, right);
  if (bytes > kMaxValueBytes) return err(size_error());
  List items;
  items.reserve(a.size() + b.size());
  items.insert(items.end(), a.begin(), a.end());
  items.insert(items.end(), b.begin(), b.end());
  Value out = Value::make<ValueKind::List>(std::move(items));
  out.set_measure(bytes, std::max(value_depth(left), value_depth(right)));
  return out;
}

Result<Unit, RuntimeError> append_to_list(Value& list, const Value& right) {
  const size_t bytes = joined_bytes(list, right);
  if (bytes > kMaxValueBytes) return err(size_error());
  const size_t depth = std::max(value_depth(list), value_depth(right));
  // `right` may be `list` itself: its items are read before they can move.
  const List& b = right.as_list();
  const size_t count = b.size();
  List& items = list.mutable_payload<ValueKind::List>();
  items.reserve(items.size() + count);
  for (size_t i = 0; i < count; ++i) items.push_back(b[i]);
  list.set_measure(bytes, depth);
  return Unit{};
}

Result<Unit, RuntimeError> append_to_text(Value& text, std::string_view right) {
  if (!text_fits(text.as_text().size() + right.size())) return err(size_error());
  text.as_text() += right;
  return Unit{};
}

// Sets the field at `path[step]` below this value, once every check has passed, and keeps the measure of every
// record on the way, innermost first. Returns how much the records grew. Checks on the way down and writes only at
// the bottom, so a failure changes nothing; recursive to the length of the path, and without allocating, since it
// runs on every field assignment.
Result<int64_t, RuntimeError> Value::set_below(const std::vector<std::string>& path, size_t step, Value& value,
                                               size_t root_bytes) {
  if (kind_ != ValueKind::Record) return err(expected_type_error("a record", *this));
  const size_t old_bytes = value_size(*this);
  const size_t old_depth = value_depth(*this);
  // A record of this value's own, reached without the accessor that forgets the measure: it is kept by hand
  // below.
  if (node_ == nullptr || node_->refs != 1) unshare<ValueKind::Record>();
  Record* fields = &static_cast<NodeOf<ValueKind::Record>*>(node_)->payload;
  const std::string& key = path[step];
  int64_t delta = 0;
  size_t old_child = 0;
  size_t new_child = 0;
  if (step + 1 == path.size()) {
    const auto at = fields->lower_bound(key);
    const bool replaces = at != fields->end() && at->first == key;
    delta = static_cast<int64_t>(element_size(value)) -
            static_cast<int64_t>(replaces ? element_size(at->second) : 0) +
            static_cast<int64_t>(replaces ? 0 : quoted(key) + 1 + (fields->empty() ? 0 : 1));
    if (static_cast<int64_t>(root_bytes) + delta > static_cast<int64_t>(kMaxValueBytes)) return err(size_error());
    old_child = replaces ? value_depth(at->second) : 0;
    new_child = value_depth(value);
    if (replaces) {
      at->second = std::move(value);
    } else {
      fields->emplace_hint(at, key, std::move(value));
    }
  } else {
    const auto at = fields->find(key);
    if (at == fields->end()) {
      return err(make_runtime_error(RuntimeErrorCode::TypeError, "record has no field `" + key + "`"));
    }
    old_child = value_depth(at->second);
    delta = TRY(at->second.set_below(path, step + 1, value, root_bytes));
    new_child = value_depth(at->second);
  }
  if (new_child + 1 >= old_depth || old_child + 1 < old_depth) {
    set_measure(static_cast<size_t>(static_cast<int64_t>(old_bytes) + delta), std::max(old_depth, new_child + 1));
  } else {
    measure();  // its deepest field became shallower
  }
  return delta;
}

Result<Unit, RuntimeError> set_field_at_path(Value& root, const std::vector<std::string>& path, Value value) {
  // The value lands `path.size()` levels below `root`.
  if (path.size() + value_depth(value) > kMaxValueDepth) return err(nesting_error());
  TRY(root.set_below(path, 0, value, value_size(root)));
  return Unit{};
}

}  // namespace dravelin::runtime
