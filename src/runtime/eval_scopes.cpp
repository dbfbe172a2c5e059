#include <deque>
#include <string>
#include <unordered_map>
#include <utility>

#include "runtime/eval.h"
#include "runtime/value_bounds.h"

namespace dravelin::runtime {
namespace {

RuntimeError scope_error(std::string message) {
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message));
}

const std::shared_ptr<const Scopes::Frame>& no_inputs() {
  static const auto empty = std::make_shared<const Scopes::Frame>();
  return empty;
}

const std::shared_ptr<const Scopes::Capabilities>& no_capabilities() {
  static const auto empty = std::make_shared<const Scopes::Capabilities>();
  return empty;
}

}  // namespace

class ScopeLayout {
 public:
  // What a `Scopes` keeps of its own; handed back here when it ends so that the next one of the body allocates
  // nothing.
  struct Storage {
    std::vector<Scopes::Binding> slots;
    std::vector<Scopes::Saved> saved;
    std::vector<uint32_t> marks;
  };

  explicit ScopeLayout(std::shared_ptr<const Scopes::Frame> inputs)
      : inputs_(inputs ? std::move(inputs) : no_inputs()) {}

  const std::shared_ptr<const Scopes::Frame>& inputs() const { return inputs_; }
  size_t size() const { return names_.size(); }
  const std::string& name(uint32_t slot) const { return names_[slot]; }
  // The input of the slot's name, or nullptr.
  const Value* input(uint32_t slot) const { return inputs_of_[slot]; }

  std::optional<uint32_t> find(std::string_view name) const {
    auto it = by_name_.find(name);
    if (it == by_name_.end()) return std::nullopt;
    return it->second;
  }

  uint32_t slot_of(std::string_view name) {
    if (auto found = find(name)) return *found;
    const auto slot = static_cast<uint32_t>(names_.size());
    const std::string& kept = names_.emplace_back(name);
    by_name_.emplace(kept, slot);
    auto input = inputs_->find(name);
    inputs_of_.push_back(input != inputs_->end() ? &input->second : nullptr);
    return slot;
  }

  uint32_t slot_of(WrittenName name) {
    const std::string* key = &name.text;
    if (!table_.empty()) {
      for (size_t i = hash(key);; i = (i + 1) & (table_.size() - 1)) {
        Entry& entry = table_[i];
        if (entry.key == nullptr) break;
        if (entry.key != key) continue;
        // The address may have been reused by another string since (IR built and dropped, as tests do): the text
        // decides.
        if (same_text(*entry.known, *key)) return entry.slot;
        entry.slot = slot_of(std::string_view(*key));
        entry.known = &names_[entry.slot];
        return entry.slot;
      }
    }
    const uint32_t slot = slot_of(std::string_view(*key));
    insert(Entry{key, &names_[slot], slot});
    return slot;
  }

  Storage take_storage() {
    if (spare_.empty()) return Storage{};
    Storage storage = std::move(spare_.back());
    spare_.pop_back();
    return storage;
  }

  void give_storage(Storage storage) {
    // Enough for a recursion of some depth; beyond that the memory goes back.
    if (spare_.size() >= 64 || storage.slots.capacity() == 0) return;
    storage.slots.clear();
    storage.saved.clear();
    storage.marks.clear();
    spare_.push_back(std::move(storage));
  }

 private:
  // Names are short: compared in line, without a call.
  static bool same_text(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }

  struct Entry {
    const std::string* key = nullptr;
    const std::string* known = nullptr;  // the slot's name, kept in `names_`
    uint32_t slot = 0;
  };

  size_t hash(const std::string* key) const {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(key) >> 3) * 0x9E3779B97F4A7C15ull >> 32) &
           (table_.size() - 1);
  }

  void insert(Entry added) {
    if ((used_ + 1) * 2 > table_.size()) {
      std::vector<Entry> old = std::move(table_);
      table_.assign(old.empty() ? 64 : old.size() * 2, Entry{});
      used_ = 0;
      for (const Entry& entry : old) {
        if (entry.key != nullptr) insert(entry);
      }
    }
    size_t i = hash(added.key);
    while (table_[i].key != nullptr) i = (i + 1) & (table_.size() - 1);
    table_[i] = added;
    ++used_;
  }

  std::shared_ptr<const Scopes::Frame> inputs_;
  std::deque<std::string> names_;  // by slot; a deque, so that the views in `by_name_` stay valid
  std::unordered_map<std::string_view, uint32_t> by_name_;
  std::vector<const Value*> inputs_of_;  // by slot
  std::vector<Entry> table_;             // by the address of a written name; open addressing
  size_t used_ = 0;
  std::vector<Storage> spare_;
};

std::shared_ptr<ScopeLayout> Scopes::make_layout(std::shared_ptr<const Frame> inputs) {
  return std::make_shared<ScopeLayout>(std::move(inputs));
}

Scopes::Scopes() : Scopes(make_layout(nullptr)) {}

Scopes::Scopes(Frame inputs) : Scopes(make_layout(std::make_shared<const Frame>(std::move(inputs)))) {}

Scopes::Scopes(std::shared_ptr<const Frame> inputs) : Scopes(make_layout(std::move(inputs))) {}

Scopes::Scopes(std::shared_ptr<ScopeLayout> layout)
    : layout_(std::move(layout)), inputs_(layout_->inputs()), capabilities_(no_capabilities()) {
  ScopeLayout::Storage storage = layout_->take_storage();
  slots_ = std::move(storage.slots);
  saved_ = std::move(storage.saved);
  marks_ = std::move(storage.marks);
  slots_.resize(layout_->size());
}

Scopes::Scopes(const Scopes& other) = default;
Scopes::Scopes(Scopes&& other) noexcept = default;
Scopes& Scopes::operator=(const Scopes& other) = default;
Scopes& Scopes::operator=(Scopes&& other) noexcept = default;

Scopes::~Scopes() {
  if (layout_) layout_->give_storage(ScopeLayout::Storage{std::move(slots_), std::move(saved_), std::move(marks_)});
}

Scopes& Scopes::with_capabilities(const std::vector<std::string>& names) {
  capabilities_ = std::make_shared<const Capabilities>(names.begin(), names.end());
  return *this;
}

Scopes& Scopes::with_capabilities(std::shared_ptr<const Capabilities> capabilities) {
  capabilities_ = capabilities ? std::move(capabilities) : no_capabilities();
  return *this;
}

Scopes::Binding& Scopes::slot(uint32_t index) {
  if (index >= slots_.size()) slots_.resize(layout_->size());
  return slots_[index];
}

const Scopes::Binding* Scopes::bound(uint32_t index) const {
  if (index >= slots_.size() || slots_[index].depth == kUnbound) return nullptr;
  return &slots_[index];
}

const Value* Scopes::lookup(std::string_view name) const {
  if (auto index = layout_->find(name)) {
    if (const Binding* binding = bound(*index)) return &binding->value;
    return layout_->input(*index);
  }
  auto it = inputs_->find(name);
  return it != inputs_->end() ? &it->second : nullptr;
}

const Value* Scopes::lookup(WrittenName name) const {
  const uint32_t index = layout_->slot_of(name);
  if (const Binding* binding = bound(index)) return &binding->value;
  return layout_->input(index);
}

const Value* Scopes::variable(std::string_view name) const {
  auto index = layout_->find(name);
  const Binding* binding = index ? bound(*index) : nullptr;
  return binding != nullptr ? &binding->value : nullptr;
}

void Scopes::define_slot(uint32_t index, Value value) {
  Binding& binding = slot(index);
  const uint32_t here = depth();
  if (binding.depth != here && here > 0) saved_.push_back(Saved{index, binding.depth, std::move(binding.value)});
  binding.value = std::move(value);
  binding.depth = here;
}

void Scopes::assign_slot(uint32_t index, Value value) {
  Binding& binding = slot(index);
  if (binding.depth == kUnbound) return define_slot(index, std::move(value));
  binding.value = std::move(value);
}

void Scopes::define(std::string_view name, Value value) { define_slot(layout_->slot_of(name), std::move(value)); }

void Scopes::define(WrittenName name, Value value) { define_slot(layout_->slot_of(name), std::move(value)); }

void Scopes::assign(std::string_view name, Value value) { assign_slot(layout_->slot_of(name), std::move(value)); }

void Scopes::assign(WrittenName name, Value value) { assign_slot(layout_->slot_of(name), std::move(value)); }

Result<Unit, RuntimeError> Scopes::assign_path_slot(std::optional<uint32_t> index, std::string_view root,
                                                    const std::vector<std::string>& path, Value value) {
  if (index && bound(*index) != nullptr) {
    if (path.empty()) return err(scope_error("a field assignment needs a field"));
    return set_field_at_path(slots_[*index].value, path, std::move(value));
  }
  if (inputs_->count(root) != 0) return err(scope_error("input `" + std::string(root) + "` is read-only"));
  return err(scope_error(std::string("`").append(root) + "` is not a variable"));
}

Result<Unit, RuntimeError> Scopes::assign_path(std::string_view root, const std::vector<std::string>& path,
                                               Value value) {
  return assign_path_slot(layout_->find(root), root, path, std::move(value));
}

Result<Unit, RuntimeError> Scopes::assign_path(WrittenName root, const std::vector<std::string>& path, Value value) {
  return assign_path_slot(layout_->slot_of(root), root.text, path, std::move(value));
}

void Scopes::push_frame() { marks_.push_back(static_cast<uint32_t>(saved_.size())); }

void Scopes::pop_frame() {
  if (marks_.empty()) return;
  const uint32_t from = marks_.back();
  marks_.pop_back();
  while (saved_.size() > from) {
    Saved& saved = saved_.back();
    Binding& binding = slots_[saved.slot];
    binding.value = std::move(saved.value);
    binding.depth = saved.depth;
    saved_.pop_back();
  }
}

std::vector<Scopes::Frame> Scopes::frames() const {
  std::vector<Frame> out(frame_count());
  for (uint32_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].depth != kUnbound) out[slots_[i].depth].insert_or_assign(layout_->name(i), slots_[i].value);
  }
  for (const Saved& saved : saved_) {
    if (saved.depth != kUnbound) out[saved.depth].insert_or_assign(layout_->name(saved.slot), saved.value);
  }
  return out;
}

namespace {

template <class Name>
Result<Unit, RuntimeError> unpack_as(Scopes& scopes, const std::vector<std::string>& names, const Value& value) {
  if (names.size() == 1) {
    scopes.define(Name{names[0]}, value);
    return Unit{};
  }
  const List* items = value.if_list();
  if (items == nullptr || items->size() != names.size()) {
    return err(scope_error("cannot unpack " + std::string(value.type_word()) + " into " +
                           std::to_string(names.size()) + " names"));
  }
  for (size_t i = 0; i < names.size(); ++i) scopes.define(Name{names[i]}, (*items)[i]);
  return Unit{};
}

}  // namespace

Result<Unit, RuntimeError> unpack(Scopes& scopes, const std::vector<std::string>& names, const Value& value) {
  return unpack_as<std::string_view>(scopes, names, value);
}

Result<Unit, RuntimeError> unpack_written(Scopes& scopes, const std::vector<std::string>& names, const Value& value) {
  return unpack_as<WrittenName>(scopes, names, value);
}

}  // namespace dravelin::runtime
