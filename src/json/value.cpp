// The JSON value model: copies, ordered-map operations and the two equalities.
#include "json/value.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dravelin::json {

std::string_view kind_name(Kind kind) {
  switch (kind) {
    case Kind::Null: return "null";
    case Kind::Bool: return "boolean";
    case Kind::Int:
    case Kind::UInt: return "integer";
    case Kind::Float: return "floating point";
    case Kind::String: return "string";
    case Kind::Array: return "sequence";
    case Kind::Object: return "map";
  }
  return "null";
}

// ---- Value ----

void Value::copy_from(const Value& other) {
  // Precondition: this is Null.
  switch (other.kind_) {
    case Kind::Null: break;
    case Kind::Bool: u_.b = other.u_.b; break;
    case Kind::Int: u_.i = other.u_.i; break;
    case Kind::UInt: u_.u = other.u_.u; break;
    case Kind::Float: u_.d = other.u_.d; break;
    case Kind::String: new (&u_.s) std::string(other.u_.s); break;
    case Kind::Array: new (&u_.a) Array(other.u_.a); break;
    case Kind::Object: new (&u_.o) Object(other.u_.o); break;
  }
  kind_ = other.kind_;
}

std::optional<bool> Value::to_bool() const {
  if (kind_ == Kind::Bool) return u_.b;
  return std::nullopt;
}

std::optional<uint64_t> Value::to_u64() const {
  if (kind_ == Kind::UInt) return u_.u;
  if (kind_ == Kind::Int && u_.i >= 0) return static_cast<uint64_t>(u_.i);
  return std::nullopt;
}

std::optional<int64_t> Value::to_i64() const {
  if (kind_ == Kind::Int) return u_.i;
  if (kind_ == Kind::UInt && u_.u <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(u_.u);
  return std::nullopt;
}

std::optional<double> Value::to_f64() const {
  switch (kind_) {
    case Kind::Int: return static_cast<double>(u_.i);
    case Kind::UInt: return static_cast<double>(u_.u);
    case Kind::Float: return u_.d;
    default: return std::nullopt;
  }
}

bool operator==(const Value& a, const Value& b) {
  if (a.is_integer() && b.is_integer()) {
    if (a.kind_ == b.kind_) return a.u_.u == b.u_.u;  // same representation
    const int64_t i = a.is_int() ? a.u_.i : b.u_.i;
    const uint64_t u = a.is_uint() ? a.u_.u : b.u_.u;
    return i >= 0 && static_cast<uint64_t>(i) == u;
  }
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Kind::Null: return true;
    case Kind::Bool: return a.u_.b == b.u_.b;
    case Kind::Float: return a.u_.d == b.u_.d;
    case Kind::String: return a.u_.s == b.u_.s;
    case Kind::Array: return a.u_.a == b.u_.a;
    case Kind::Object: return a.u_.o == b.u_.o;
    default: return false;  // integers handled above
  }
}

bool identical(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Kind::Null: return true;
    case Kind::Bool: return a.u_.b == b.u_.b;
    case Kind::Int: return a.u_.i == b.u_.i;
    case Kind::UInt: return a.u_.u == b.u_.u;
    case Kind::Float: {
      uint64_t x, y;
      std::memcpy(&x, &a.u_.d, sizeof x);
      std::memcpy(&y, &b.u_.d, sizeof y);
      return x == y;
    }
    case Kind::String: return a.u_.s == b.u_.s;
    case Kind::Array: {
      const Array& x = a.u_.a;
      const Array& y = b.u_.a;
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!identical(x[i], y[i])) return false;
      }
      return true;
    }
    case Kind::Object: {
      const auto& x = a.u_.o.entries();
      const auto& y = b.u_.o.entries();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (x[i].key != y[i].key || !identical(x[i].value, y[i].value)) return false;
      }
      return true;
    }
  }
  return false;
}

Value json_number(double value) {
  if (!std::isfinite(value)) return Value();
  if (std::fabs(value) < 9007199254740992.0 && value == std::trunc(value)) {
    if (value < 0) return Value(static_cast<int64_t>(value));
    return Value(static_cast<uint64_t>(value));  // negative zero becomes 0
  }
  return Value(value);
}

// ---- Object ----

namespace {

bool key_less(const Member& m, std::string_view key) { return std::string_view(m.key) < key; }

// The entries that a lookup can see (the last of each key), ordered by key.
std::vector<const Member*> effective_members(const std::vector<Member>& entries) {
  std::vector<const Member*> ptrs;
  ptrs.reserve(entries.size());
  for (const Member& m : entries) ptrs.push_back(&m);
  std::stable_sort(ptrs.begin(), ptrs.end(),
                   [](const Member* x, const Member* y) { return x->key < y->key; });
  size_t out = 0;
  for (size_t i = 0; i < ptrs.size(); ++i) {
    if (i + 1 < ptrs.size() && ptrs[i + 1]->key == ptrs[i]->key) continue;  // a later one wins
    ptrs[out++] = ptrs[i];
  }
  ptrs.resize(out);
  return ptrs;
}

}  // namespace

Object::Object(std::initializer_list<Member> members) {
  entries_.reserve(members.size());
  for (const Member& m : members) set(m.key, m.value);
}

void Object::clear() {
  entries_.clear();
  order_ = Order::Sorted;
}

Object::Order Object::order() const {
  if (order_ == Order::Unknown) {
    order_ = Order::Sorted;
    for (size_t i = 1; i < entries_.size(); ++i) {
      if (!(entries_[i - 1].key < entries_[i].key)) {
        order_ = Order::Unsorted;
        break;
      }
    }
  }
  return order_;
}

bool Object::is_sorted_map() const { return order() == Order::Sorted; }

const Value* Object::find(std::string_view key) const {
  if (entries_.size() > 8 && order() == Order::Sorted) {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key, key_less);
    if (it != entries_.end() && it->key == key) return &it->value;
    return nullptr;
  }
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->key == key) return &it->value;
  }
  return nullptr;
}

size_t Object::count(std::string_view key) const {
  size_t n = 0;
  for (const Member& m : entries_) n += (m.key == key);
  return n;
}

Value& Object::set(std::string key, Value value) {
  if (order() != Order::Sorted) sort_keys();
  if (entries_.empty() || entries_.back().key < key) {  // the common case of building in key order
    entries_.push_back(Member{std::move(key), std::move(value)});
    return entries_.back().value;
  }
  auto it = std::lower_bound(entries_.begin(), entries_.end(), std::string_view(key), key_less);
  if (it != entries_.end() && it->key == key) {
    it->value = std::move(value);
    return it->value;
  }
  it = entries_.insert(it, Member{std::move(key), std::move(value)});
  return it->value;
}

Value& Object::operator[](std::string_view key) {
  if (order() != Order::Sorted) sort_keys();
  auto it = std::lower_bound(entries_.begin(), entries_.end(), key, key_less);
  if (it != entries_.end() && it->key == key) return it->value;
  it = entries_.insert(it, Member{std::string(key), Value()});
  return it->value;
}

size_t Object::erase(std::string_view key) {
  const size_t before = entries_.size();
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [key](const Member& m) { return m.key == key; }),
                 entries_.end());
  if (order_ == Order::Unsorted) order_ = Order::Unknown;
  return before - entries_.size();
}

void Object::sort_keys() {
  if (order() == Order::Sorted) return;
  if (entries_.size() <= 16) {
    // Stable insertion sort: no buffer for the small objects that are the common case.
    for (size_t i = 1; i < entries_.size(); ++i) {
      if (!(entries_[i].key < entries_[i - 1].key)) continue;
      Member m = std::move(entries_[i]);
      size_t j = i;
      while (j > 0 && m.key < entries_[j - 1].key) {
        entries_[j] = std::move(entries_[j - 1]);
        --j;
      }
      entries_[j] = std::move(m);
    }
  } else {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Member& x, const Member& y) { return x.key < y.key; });
  }
  size_t out = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (i + 1 < entries_.size() && entries_[i + 1].key == entries_[i].key) continue;  // a later one wins
    if (out != i) entries_[out] = std::move(entries_[i]);
    ++out;
  }
  entries_.resize(out);
  order_ = Order::Sorted;
}

bool operator==(const Object& a, const Object& b) {
  if (a.order() == Object::Order::Sorted && b.order() == Object::Order::Sorted) {
    if (a.entries_.size() != b.entries_.size()) return false;
    for (size_t i = 0; i < a.entries_.size(); ++i) {
      if (a.entries_[i].key != b.entries_[i].key || !(a.entries_[i].value == b.entries_[i].value)) {
        return false;
      }
    }
    return true;
  }
  const auto x = effective_members(a.entries_);
  const auto y = effective_members(b.entries_);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (x[i]->key != y[i]->key || !(x[i]->value == y[i]->value)) return false;
  }
  return true;
}

}  // namespace dravelin::json
