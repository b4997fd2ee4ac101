#pragma once

#include "core/LocKey.h"
#include "core/SettingsValues.h"

#include <QString>

// The English and Chinese text tables: a key's text with its values
// inserted. Each table is one switch over every key without a default label,
// so a key without a text in both languages does not compile. Any thread.
namespace tlr::LocTexts {

QString en(const LocKey& key);
QString zh(const LocKey& key);
// The key's text in `language`.
QString text(AppLanguage language, const LocKey& key);

}  // namespace tlr::LocTexts
