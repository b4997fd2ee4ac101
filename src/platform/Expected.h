#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tlr {

// Why an operation failed, on its way into an Expected: `return Unexpected(why);`.
// A failure is always named as one, so an error never passes for a value (a
// text that is both a result and a reason, or an empty text meant as
// "no error").
template <class E>
struct Unexpected {
  E error;
};
template <class E>
Unexpected(E) -> Unexpected<E>;

// The result of an operation that can fail: its value, or the error that
// stopped it. `Expected<void, E>` is the result of one that only succeeds or
// fails; `return {};` is its success. Every result is looked at: dropping one
// does not build. Where a failure is of no consequence (housekeeping: a log
// line, an unmount at the end, pruning), the caller says so where it drops it.
template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(implicit)
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Expected(Unexpected<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}  // NOLINT(implicit)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

template <class E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Expected(Unexpected<F> failure) : error_(std::move(failure.error)) {}  // NOLINT(implicit)

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const E& error() const& { return *error_; }
  E&& error() && { return *std::move(error_); }

 private:
  std::optional<E> error_;
};

}  // namespace tlr
