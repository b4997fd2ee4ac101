#include "core/texts/SettingsValues.h"

namespace tlr {

QString rawValue(AppearancePreference appearance) {
  switch (appearance) {
    case AppearancePreference::system:
      return QStringLiteral("system");
    case AppearancePreference::light:
      return QStringLiteral("light");
    case AppearancePreference::dark:
      return QStringLiteral("dark");
  }
  return QStringLiteral("system");
}

QString rawValue(AppLanguage language) {
  switch (language) {
    case AppLanguage::zh:
      return QStringLiteral("zh");
    case AppLanguage::en:
      return QStringLiteral("en");
  }
  return QStringLiteral("zh");
}

std::optional<AppearancePreference> appearanceFromRaw(QStringView raw) {
  for (const AppearancePreference candidate : kAllAppearances)
    if (raw == rawValue(candidate)) return candidate;
  return std::nullopt;
}

std::optional<AppLanguage> languageFromRaw(QStringView raw) {
  for (const AppLanguage candidate : kAllLanguages)
    if (raw == rawValue(candidate)) return candidate;
  return std::nullopt;
}

AppLanguage languageFromStored(const std::optional<QString>& stored) {
  return stored && *stored == rawValue(AppLanguage::en) ? AppLanguage::en : AppLanguage::zh;
}

}  // namespace tlr
