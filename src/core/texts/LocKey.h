#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

namespace tlr {

// A whole number inserted into a text as plain decimal (counts, seconds,
// minutes, percent, megabytes). Accepts integer types only: a floating-point
// or Boolean value does not compile.
struct LocInt {
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  constexpr LocInt(T v) : value(static_cast<qint64>(v)) {}  // NOLINT(google-explicit-constructor)
  qint64 value;
};

// A 32-bit whole number (a process id, an exit status, an error number).
// Wider integer types do not compile.
struct LocInt32 {
  template <std::integral T>
    requires(!std::same_as<T, bool> && sizeof(T) <= sizeof(qint32))
  constexpr LocInt32(T v) : value(static_cast<qint32>(v)) {}  // NOLINT(google-explicit-constructor)
  qint32 value;
};

// A duration in seconds, inserted with one decimal place.
struct LocSeconds {
  template <std::floating_point T>
  constexpr LocSeconds(T v) : value(static_cast<double>(v)) {}  // NOLINT(google-explicit-constructor)
  double value;
};


template <class T>
inline constexpr bool kIsLocValue = std::same_as<T, QString> || std::same_as<T, LocInt> ||
                                    std::same_as<T, LocInt32> || std::same_as<T, LocSeconds>;

// The values a row of the text table declares, as the parameters of the
// function type `void(…)`.
template <class Signature>
struct LocParams;

template <class... Args>
struct LocParams<void(Args...)> {
  static_assert((kIsLocValue<Args> && ...), "a text's values are each a QString, LocInt, LocInt32 or LocSeconds");
  static_assert(sizeof...(Args) <= 3, "a text carries at most three values");
  static constexpr std::size_t count = sizeof...(Args);
  // Whether value `n` (1-based) is a whole number.
  static constexpr bool isWholeNumber(std::size_t n) {
    constexpr std::array<bool, sizeof...(Args) + 1> whole{
        false, (std::same_as<Args, LocInt> || std::same_as<Args, LocInt32>)...};
    return n >= 1 && n <= sizeof...(Args) && whole[n];
  }
};

class LocKey;

// The factory of one key: `LocKey::restartHeader(name)` calls it with the
// values its row declares, typed as declared.
template <auto kId, class Signature>
struct LocFactory;

template <auto kId, class... Args>
struct LocFactory<kId, void(Args...)> {
  static constexpr std::size_t arity = LocParams<void(Args...)>::count;
  LocKey operator()(Args... values) const;
};

// One text key, with the values its text inserts. Equal keys with equal
// values always give equal texts. The keys, their values and their texts
// are the rows of the text table, LocTable.h.
class LocKey {
 public:
#define TLR_LOC_ROW(name, ...) name,
  enum class Id : std::uint16_t {
#include "core/texts/LocTable.h"
  };

#define TLR_LOC_ROW(name, ...) +1
  static constexpr std::size_t kCount = 0
#include "core/texts/LocTable.h"
      ;
#define TLR_LOC_ROW(name, params, ...) +(LocParams<void params>::count > 0 ? 1 : 0)
  static constexpr std::size_t kValuedCount = 0
#include "core/texts/LocTable.h"
      ;

  // Every key, in the table's order.
  static const std::array<Id, kCount>& allIds();
  // The key's name as written in the table ("restartHeader").
  static const char* name(Id id);
  static bool carriesValues(Id id);

  // A value as the key carries it.
  using Value = std::variant<std::monostate, QString, qint64, double>;

  Id id() const { return id_; }
  // The value at `index` (0-based) of the expected kind; an empty text, 0 or
  // 0.0 when the key has no such value.
  QString text(std::size_t index) const;
  qint64 integer(std::size_t index) const;
  // Every value written as the texts insert it: texts unchanged, integers in
  // plain decimal, durations with one decimal place.
  std::array<QString, 3> formattedValues() const;
  // The values as the key carries them (std::monostate where none).
  const std::array<Value, 3>& values() const { return values_; }
  // A key read back from its name and values as they were stored (an
  // event's): nothing when the name is no key's, or when values are given
  // to a key without any or none to a key that carries some.
  static std::optional<LocKey> fromStored(const QString& name, std::array<Value, 3> values);

  // The key for `id` when it carries no values; `empty` otherwise.
  static LocKey plain(Id id);

  friend bool operator==(const LocKey&, const LocKey&) = default;

  // One factory for each key, named as the key and taking the values of its
  // row: `LocKey::restartBtnAgent()`, `LocKey::restartHeader(name)`.
#define TLR_LOC_ROW(name, params, ...) static constexpr LocFactory<Id::name, void params> name{};
#include "core/texts/LocTable.h"

 private:
  template <auto, class>
  friend struct LocFactory;

  explicit LocKey(Id id, Value first = {}, Value second = {}, Value third = {})
      : id_(id), values_{std::move(first), std::move(second), std::move(third)} {}

  static Value carried(QString value) { return value; }
  static Value carried(LocInt value) { return qint64{value.value}; }
  static Value carried(LocInt32 value) { return qint64{value.value}; }
  static Value carried(LocSeconds value) { return value.value; }

  Id id_;
  std::array<Value, 3> values_;
};

template <auto kId, class... Args>
LocKey LocFactory<kId, void(Args...)>::operator()(Args... values) const {
  return LocKey(kId, LocKey::carried(std::move(values))...);
}

// Keys are added, never removed or renamed: events store them by name.
static_assert(LocKey::kCount >= 526, "the interface has at least 526 text keys");
static_assert(LocKey::kValuedCount >= 155, "at least 155 text keys carry values");

}  // namespace tlr
