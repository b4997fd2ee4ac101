#include "core/texts/Lang.h"

#include "platform/Defaults.h"

namespace tlr {

AppLanguage Lang::current() { return languageFromStored(Defaults::shared().string(kLanguageKey)); }

QString Lang::pick(const QString& english, const QString& chinese) {
  return current() == AppLanguage::en ? english : chinese;
}

}  // namespace tlr
