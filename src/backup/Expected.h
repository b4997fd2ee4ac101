#pragma once

#include <utility>
#include <variant>

namespace tlr {

// The result of a backup operation that can fail: either its value or the
// error that stopped it.
template <class T, class E>
class Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(implicit)
  Expected(E error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(implicit)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

}  // namespace tlr
