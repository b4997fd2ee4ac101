#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The value types of the user settings and their stored (raw) forms.
namespace tlr {

// How the application's windows look.
enum class AppearancePreference {
  system,  // follow the desktop's light or dark setting
  light,
  dark,
};

// The language of the user interface.
enum class AppLanguage {
  zh,  // Chinese (simplified), the default
  en,
};

inline constexpr std::array<AppearancePreference, 3> kAllAppearances{
    AppearancePreference::system, AppearancePreference::light, AppearancePreference::dark};
inline constexpr std::array<AppLanguage, 2> kAllLanguages{AppLanguage::zh, AppLanguage::en};

// The user-defaults keys of the settings.
inline constexpr QLatin1String kAppearanceKey{"TLR.appearance"};
inline constexpr QLatin1String kLanguageKey{"TLR.language"};
inline constexpr QLatin1String kShowInDockKey{"TLR.showInDock"};

QString rawValue(AppearancePreference appearance);
QString rawValue(AppLanguage language);
// Exactly "system", "light" or "dark" (case-sensitive); anything else fails.
std::optional<AppearancePreference> appearanceFromRaw(QStringView raw);
// Exactly "zh" or "en" (case-sensitive); anything else fails.
std::optional<AppLanguage> languageFromRaw(QStringView raw);

// The language a stored "TLR.language" stands for: English only for exactly
// "en"; Chinese when nothing (or no text) is stored and for any other text.
AppLanguage languageFromStored(const std::optional<QString>& stored);

}  // namespace tlr
