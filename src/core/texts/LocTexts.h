#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"

#include <QString>

// The text table: a key's text with its values inserted, in English or
// Chinese. One switch over every key without a default label, one row a key
// holding both its texts side by side, so a key without a text in both
// languages does not compile. Any thread.
namespace tlr::LocTexts {

// The key's text in `language`: the one way a key and its values become
// the text a window shows.
QString text(AppLanguage language, const LocKey& key);

}  // namespace tlr::LocTexts
