#pragma once

#include "core/texts/LocKey.h"

#include <array>
#include <cstddef>
#include <string_view>

// What a row of the text table (LocTable.h) may say: the rules that pick one
// of a text's forms by its values, and the checks every row passes when the
// table compiles.
namespace tlr::LocRows {

// The forms of a text in one language, as its row gives them: one, or one
// for each case of its rule.
class Forms {
 public:
  template <class... Text>
  constexpr explicit Forms(const Text&... texts) : texts_{std::u16string_view(texts)...}, count_(sizeof...(Text)) {
    static_assert(sizeof...(Text) >= 1 && sizeof...(Text) <= 4, "a language gives one to four forms");
  }

  constexpr std::size_t count() const { return count_; }
  constexpr std::u16string_view operator[](std::size_t i) const { return texts_[i]; }
  // The form for case `index` of a rule: a single form serves every case.
  constexpr std::u16string_view pick(std::size_t index) const {
    return count_ == 1 ? texts_[0] : texts_[index < count_ ? index : count_ - 1];
  }

 private:
  std::array<std::u16string_view, 4> texts_;
  std::size_t count_;
};

// The rules of TLR_CHOOSE (and TLR_COUNTED): `cases` forms to choose from,
// and `pick(key)`, the case (0-based) for a key's values.

// One or other, by the count that is value `n` (1-based): one when it is 1.
template <std::size_t n>
struct Count {
  static constexpr std::size_t cases = 2;
  static std::size_t pick(const LocKey& key) { return key.integer(n - 1) == 1 ? 0 : 1; }
};

// Two counts, values 1 and 2: one and one, one and other, other and one,
// other and other.
struct FirstTwoCounts {
  static constexpr std::size_t cases = 4;
  static std::size_t pick(const LocKey& key) {
    return (key.integer(0) == 1 ? 0 : 2) + (key.integer(1) == 1 ? 0 : 1);
  }
};

// Value 3 is not zero; it is zero.
struct ThirdNotZero {
  static constexpr std::size_t cases = 2;
  static std::size_t pick(const LocKey& key) { return key.integer(2) != 0 ? 0 : 1; }
};

// Value 1 is exactly "CPU" (a runaway's share of the processor); anything
// else (its memory).
struct FirstIsCpu {
  static constexpr std::size_t cases = 2;
  static std::size_t pick(const LocKey& key) { return key.text(0) == u"CPU" ? 0 : 1; }
};

// The values a text inserts, bit n-1 for "{n}" (n from 1 to 9), or
// kNotAPlace when it holds a brace that does not make such a place.
inline constexpr unsigned kNotAPlace = 1u << 31;
constexpr unsigned placesIn(std::u16string_view text) {
  unsigned places = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'}') return kNotAPlace;
    if (text[i] != u'{') continue;
    if (i + 2 >= text.size() || text[i + 1] < u'1' || text[i + 1] > u'9' || text[i + 2] != u'}') return kNotAPlace;
    places |= 1u << (text[i + 1] - u'1');
    i += 2;
  }
  return places;
}

constexpr unsigned firstValues(std::size_t count) { return (1u << count) - 1; }

constexpr bool noneEmpty(const Forms& forms) {
  for (std::size_t i = 0; i < forms.count(); ++i)
    if (forms[i].empty()) return false;
  return true;
}

// Whether each form names only the first `count` values, as "{1}" to "{3}".
constexpr bool namesOnlyItsValues(const Forms& forms, std::size_t count) {
  for (std::size_t i = 0; i < forms.count(); ++i)
    if ((placesIn(forms[i]) & ~firstValues(count)) != 0) return false;
  return true;
}

// Whether the forms together name each of the first `count` values.
constexpr bool namesEveryValue(const Forms& forms, std::size_t count) {
  unsigned named = 0;
  for (std::size_t i = 0; i < forms.count(); ++i) named |= placesIn(forms[i]);
  return (named & firstValues(count)) == firstValues(count);
}

constexpr bool fitsCases(const Forms& forms, std::size_t cases) {
  return forms.count() == 1 || forms.count() == cases;
}

}  // namespace tlr::LocRows

// The checks of one row: `cases` forms a rule picks from, the English and
// the Chinese forms in parentheses. The key `empty` alone has empty texts.
#define TLR_LOC_CHECK_ROW(name, params, cases, en, zh)                                                           \
  static_assert((::tlr::LocRows::noneEmpty(::tlr::LocRows::Forms en) &&                                        \
                 ::tlr::LocRows::noneEmpty(::tlr::LocRows::Forms zh)) ||                                       \
                    std::u16string_view(u"" #name) == u"empty",                                                \
                "text table, " #name ": a text in English and in Chinese");                                    \
  static_assert(::tlr::LocRows::namesOnlyItsValues(::tlr::LocRows::Forms en, ::tlr::LocParams<void params>::count) && \
                    ::tlr::LocRows::namesOnlyItsValues(::tlr::LocRows::Forms zh,                               \
                                                       ::tlr::LocParams<void params>::count),                   \
                "text table, " #name ": its texts name only the values it carries, as {1} to {3}");            \
  static_assert(::tlr::LocRows::namesEveryValue(::tlr::LocRows::Forms en, ::tlr::LocParams<void params>::count) && \
                    ::tlr::LocRows::namesEveryValue(::tlr::LocRows::Forms zh, ::tlr::LocParams<void params>::count), \
                "text table, " #name ": every value appears in its English and in its Chinese text");          \
  static_assert(::tlr::LocRows::fitsCases(::tlr::LocRows::Forms en, cases) &&                                   \
                    ::tlr::LocRows::fitsCases(::tlr::LocRows::Forms zh, cases),                                 \
                "text table, " #name ": one form, or one for each case of its rule, in each language");

#define TLR_LOC_CHECK_TEXT(name, params, en, zh) TLR_LOC_CHECK_ROW(name, params, 1, (en), (zh))

#define TLR_LOC_CHECK_COUNTED(name, params, n, one, other, zh)                                                \
  static_assert(::tlr::LocParams<void params>::isWholeNumber(n),                                            \
                "text table, " #name ": the value that counts is a whole number (LocInt or LocInt32)");     \
  TLR_LOC_CHECK_ROW(name, params, 2, (one, other), (zh))

#define TLR_LOC_CHECK_CHOOSE(name, params, rule, en, zh) \
  TLR_LOC_CHECK_ROW(name, params, ::tlr::LocRows::rule::cases, en, zh)
