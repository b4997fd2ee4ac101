#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"

#include <QString>

// A key's text with its values inserted, in English or Chinese, as its row
// of the text table (LocTable.h) gives it. Any thread.
namespace tlr::LocTexts {

// The key's text in `language`: the one way a key and its values become
// the text a window shows.
QString text(AppLanguage language, const LocKey& key);

}  // namespace tlr::LocTexts
