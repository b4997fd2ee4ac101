#include "core/texts/Lang.h"

#include "platform/Defaults.h"

namespace tlr {

AppLanguage Lang::current() { return languageFromStored(Defaults::shared().string(kLanguageKey)); }

}  // namespace tlr
