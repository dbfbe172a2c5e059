// A value or an error: how fallible functions report failure across the code base.
#pragma once

#include <cassert>
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
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Result(Err<F> e) : v_(std::in_place_index<1>, std::move(e.error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return std::get<0>(v_); }
  const T& value() const& { assert(ok()); return std::get<0>(v_); }
  T&& value() && { assert(ok()); return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { assert(!ok()); return std::get<1>(v_); }
  const E& error() const& { assert(!ok()); return std::get<1>(v_); }
  E&& error() && { assert(!ok()); return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
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
