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

namespace expected_detail {
// Ends the process with `what`: asking a success for its error, or a failure
// for its value, is a fault of the caller, in every build.
[[noreturn]] void misuse(const char* what);
}  // namespace expected_detail

template <class T, class E>
class Expected;

template <class>
inline constexpr bool kIsExpected = false;
template <class T, class E>
inline constexpr bool kIsExpected<Expected<T, E>> = true;

// The result of an operation that can fail: its value, or the error that
// stopped it. `Expected<void, E>` is the result of one that only succeeds or
// fails; `return {};` is its success. Every result is looked at: dropping one
// does not build. Where a failure is of no consequence (housekeeping: a log
// line, an unmount at the end, pruning), the caller says so where it drops it.
//
// `value()` of a failure and `error()` of a success end the process (they
// are checked in every build). `value_or(fallback)` gives the value or the
// fallback; `and_then(f)` hands the value to `f`, which returns the next
// Expected with the same error type, and passes a failure on untouched.
template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(implicit)
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Expected(Unexpected<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}  // NOLINT(implicit)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const& {
    if (!ok()) expected_detail::misuse("value() of a failed Expected");
    return *std::get_if<0>(&state_);
  }
  T&& value() && {
    if (!ok()) expected_detail::misuse("value() of a failed Expected");
    return std::move(*std::get_if<0>(&state_));
  }
  const E& error() const& {
    if (ok()) expected_detail::misuse("error() of a successful Expected");
    return *std::get_if<1>(&state_);
  }
  E&& error() && {
    if (ok()) expected_detail::misuse("error() of a successful Expected");
    return std::move(*std::get_if<1>(&state_));
  }

  template <class U>
  T value_or(U&& fallback) const& {
    return ok() ? *std::get_if<0>(&state_) : static_cast<T>(std::forward<U>(fallback));
  }
  template <class U>
  T value_or(U&& fallback) && {
    return ok() ? std::move(*std::get_if<0>(&state_)) : static_cast<T>(std::forward<U>(fallback));
  }

  template <class F>
  auto and_then(F&& f) const& {
    using Next = std::remove_cvref_t<std::invoke_result_t<F, const T&>>;
    static_assert(kIsExpected<Next>, "and_then's function returns an Expected");
    if (!ok()) return Next(Unexpected<E>{*std::get_if<1>(&state_)});
    return std::forward<F>(f)(*std::get_if<0>(&state_));
  }
  template <class F>
  auto and_then(F&& f) && {
    using Next = std::remove_cvref_t<std::invoke_result_t<F, T&&>>;
    static_assert(kIsExpected<Next>, "and_then's function returns an Expected");
    if (!ok()) return Next(Unexpected<E>{std::move(*std::get_if<1>(&state_))});
    return std::forward<F>(f)(std::move(*std::get_if<0>(&state_)));
  }

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
  const E& error() const& {
    if (ok()) expected_detail::misuse("error() of a successful Expected");
    return *error_;
  }
  E&& error() && {
    if (ok()) expected_detail::misuse("error() of a successful Expected");
    return *std::move(error_);
  }

  template <class F>
  auto and_then(F&& f) const& {
    using Next = std::remove_cvref_t<std::invoke_result_t<F>>;
    static_assert(kIsExpected<Next>, "and_then's function returns an Expected");
    if (!ok()) return Next(Unexpected<E>{*error_});
    return std::forward<F>(f)();
  }
  template <class F>
  auto and_then(F&& f) && {
    using Next = std::remove_cvref_t<std::invoke_result_t<F>>;
    static_assert(kIsExpected<Next>, "and_then's function returns an Expected");
    if (!ok()) return Next(Unexpected<E>{*std::move(error_)});
    return std::forward<F>(f)();
  }

 private:
  std::optional<E> error_;
};

}  // namespace tlr
