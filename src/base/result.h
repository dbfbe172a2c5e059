// A value or an error: how fallible functions report failure across the code base.
#pragma once

#include <cassert>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

namespace dravelin {

// Wraps an error value so that Result<T, E> can be built from it even when T and E are the same type.
template <class E>
struct Err {
  E error;
};

template <class E>
Err<std::decay_t<E>> err(E&& e) {
  return Err<std::decay_t<E>>{std::forward<E>(e)};
}

template <class T, class E>
class [[nodiscard]] Result {
  // A large error sits in an allocation of its own: failures are rare, and an error held inline would make every
  // successful result, moved on every return, as large as the error.
  static constexpr bool kBoxed = sizeof(E) > 2 * sizeof(void*);
  struct Boxed {
    explicit Boxed(E&& e) : p(std::make_unique<E>(std::move(e))) {}
    Boxed(const Boxed& other) : p(other.p ? std::make_unique<E>(*other.p) : nullptr) {}
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(const Boxed& other) {
      if (this != &other) p = other.p ? std::make_unique<E>(*other.p) : nullptr;
      return *this;
    }
    Boxed& operator=(Boxed&&) noexcept = default;
    std::unique_ptr<E> p;
  };
  using Stored = std::conditional_t<kBoxed, Boxed, E>;

  static E& unbox(Stored& s) {
    if constexpr (kBoxed) {
      return *s.p;
    } else {
      return s;
    }
  }
  static const E& unbox(const Stored& s) {
    if constexpr (kBoxed) {
      return *s.p;
    } else {
      return s;
    }
  }

 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Result(Err<F> e) : v_(std::in_place_index<1>, Stored(E(std::move(e.error)))) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return *std::get_if<0>(&v_); }
  const T& value() const& { assert(ok()); return *std::get_if<0>(&v_); }
  T&& value() && { assert(ok()); return std::move(*std::get_if<0>(&v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { assert(!ok()); return unbox(*std::get_if<1>(&v_)); }
  const E& error() const& { assert(!ok()); return unbox(*std::get_if<1>(&v_)); }
  E&& error() && { assert(!ok()); return std::move(unbox(*std::get_if<1>(&v_))); }

 private:
  std::variant<T, Stored> v_;
};

// Success with no value.
struct Unit {};

}  // namespace dravelin

// Propagates the error of a Result-returning expression; otherwise yields its value.
// Usage: auto x = TRY(parse_thing(p));
#define DRAVELIN_TRY_CONCAT2(a, b) a##b
#define DRAVELIN_TRY_CONCAT(a, b) DRAVELIN_TRY_CONCAT2(a, b)
#define TRY(expr)                                                          \
  ({                                                                       \
    auto DRAVELIN_TRY_CONCAT(try_r_, __LINE__) = (expr);                   \
    if (!DRAVELIN_TRY_CONCAT(try_r_, __LINE__).ok())                       \
      return ::dravelin::err(std::move(DRAVELIN_TRY_CONCAT(try_r_, __LINE__)).error()); \
    std::move(DRAVELIN_TRY_CONCAT(try_r_, __LINE__)).value();              \
  })
