// An owning pointer with value semantics: copies deeply and compares by pointee.
#pragma once

#include <memory>
#include <utility>

namespace dravelin {

template <class T>
class Box {
 public:
  Box(T value) : p_(std::make_unique<T>(std::move(value))) {}
  // A default value in an allocation of its own, for readers that build a tree in place.
  // Declared without a constraint so that records holding a box of a type not yet complete stay
  // default-constructible; it is instantiated only where used.
  Box() : p_(std::make_unique<T>()) {}
  Box(const Box& other) : p_(std::make_unique<T>(*other.p_)) {}
  Box(Box&&) noexcept = default;
  Box& operator=(const Box& other) {
    if (this != &other) p_ = std::make_unique<T>(*other.p_);
    return *this;
  }
  Box& operator=(Box&&) noexcept = default;
  ~Box() = default;

  T& operator*() { return *p_; }
  const T& operator*() const { return *p_; }
  T* operator->() { return p_.get(); }
  const T* operator->() const { return p_.get(); }
  T& get() { return *p_; }
  const T& get() const { return *p_; }

  friend bool operator==(const Box& a, const Box& b) { return *a.p_ == *b.p_; }

 private:
  std::unique_ptr<T> p_;
};

}  // namespace dravelin
