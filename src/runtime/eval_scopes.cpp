#include <string>
#include <utility>

#include "runtime/eval.h"
#include "runtime/value_bounds.h"

namespace dravelin::runtime {
namespace {

RuntimeError scope_error(std::string message) {
  return make_runtime_error(RuntimeErrorCode::TypeError, std::move(message));
}

}  // namespace

namespace {

const std::shared_ptr<const Scopes::Frame>& no_inputs() {
  static const auto empty = std::make_shared<const Scopes::Frame>();
  return empty;
}

}  // namespace

Scopes::Scopes() : frames_(1), inputs_(no_inputs()) {}

Scopes::Scopes(Frame inputs) : frames_(1), inputs_(std::make_shared<const Frame>(std::move(inputs))) {}

Scopes::Scopes(std::shared_ptr<const Frame> inputs)
    : frames_(1), inputs_(inputs ? std::move(inputs) : no_inputs()) {}

Scopes& Scopes::with_capabilities(const std::vector<std::string>& names) {
  capabilities_ = std::set<std::string, std::less<>>(names.begin(), names.end());
  return *this;
}

const Value* Scopes::lookup(std::string_view name) const {
  for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
    auto it = frame->find(name);
    if (it != frame->end()) return &it->second;
  }
  auto it = inputs_->find(name);
  return it != inputs_->end() ? &it->second : nullptr;
}

void Scopes::define(std::string name, Value value) {
  frames_.back().insert_or_assign(std::move(name), std::move(value));
}

void Scopes::assign(std::string name, Value value) {
  for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
    auto it = frame->find(name);
    if (it != frame->end()) {
      it->second = std::move(value);
      return;
    }
  }
  frames_.back().emplace(std::move(name), std::move(value));
}

Result<Unit, RuntimeError> Scopes::assign_path(std::string_view root, const std::vector<std::string>& path,
                                               Value value) {
  Value* current = nullptr;
  for (auto frame = frames_.rbegin(); frame != frames_.rend() && current == nullptr; ++frame) {
    auto it = frame->find(root);
    if (it != frame->end()) current = &it->second;
  }
  if (current == nullptr) {
    if (inputs_->count(root) != 0) return err(scope_error("input `" + std::string(root) + "` is read-only"));
    return err(scope_error(std::string("`").append(root) + "` is not a variable"));
  }
  if (path.empty()) return err(scope_error("a field assignment needs a field"));
  return set_field_at_path(*current, path, std::move(value));
}

void Scopes::push_frame() { frames_.emplace_back(); }

void Scopes::pop_frame() {
  if (frames_.size() > 1) frames_.pop_back();
}

Result<Unit, RuntimeError> unpack(Scopes& scopes, const std::vector<std::string>& names, const Value& value) {
  if (names.size() == 1) {
    scopes.define(names[0], value);
    return Unit{};
  }
  const List* items = value.if_list();
  if (items == nullptr || items->size() != names.size()) {
    return err(scope_error("cannot unpack " + std::string(value.type_word()) + " into " +
                           std::to_string(names.size()) + " names"));
  }
  for (size_t i = 0; i < names.size(); ++i) scopes.define(names[i], (*items)[i]);
  return Unit{};
}

}  // namespace dravelin::runtime
