#include "core/texts/LocTexts.h"

#include "core/texts/LocRows.h"
#include "core/texts/TextFill.h"

#include <string_view>

namespace tlr::LocTexts {
namespace {

using Id = LocKey::Id;

// Every row of the table passes its checks here, when this file compiles.
#define TLR_TEXT TLR_LOC_CHECK_TEXT
#define TLR_COUNTED TLR_LOC_CHECK_COUNTED
#define TLR_CHOOSE TLR_LOC_CHECK_CHOOSE
#include "core/texts/LocTable.h"

// The text of `key` from the form its row gives: as it is for a key without
// values; otherwise with the values inserted at "{1}", "{2}" and "{3}" in
// one pass, so an inserted value is never read as a place again.
QString render(const LocKey& key, std::u16string_view form) {
  if (form.empty()) return QString();
  const QStringView text(form.data(), static_cast<qsizetype>(form.size()));
  if (!LocKey::carriesValues(key.id())) return text.toString();
  return fillTemplate(text, key.formattedValues());
}

}  // namespace

QString text(AppLanguage language, const LocKey& key) {
  const bool inEnglish = language == AppLanguage::en;
  switch (key.id()) {
#define TLR_TEXT(name, params, en, zh) \
  case Id::name:                       \
    return render(key, inEnglish ? std::u16string_view(en) : std::u16string_view(zh));
#define TLR_COUNTED(name, params, n, one, other, zh)                                                         \
  case Id::name:                                                                                             \
    return render(key, inEnglish ? LocRows::Forms(one, other).pick(LocRows::Count<n>::pick(key))             \
                                 : std::u16string_view(zh));
#define TLR_CHOOSE(name, params, rule, en, zh)                                                         \
  case Id::name:                                                                                       \
    return render(key, (inEnglish ? LocRows::Forms en : LocRows::Forms zh).pick(LocRows::rule::pick(key)));
#include "core/texts/LocTable.h"
  }
  return QString();
}

}  // namespace tlr::LocTexts
