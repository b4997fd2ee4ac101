#pragma once

#include "core/stores/SettingsStore.h"
#include "core/texts/SettingsValues.h"
#include "ui/kit/Theme.h"

namespace tlr::test {

// The application's colour scheme as the windows' start-up sets it: one
// Appearance painting the application palette, which every widget follows.
// Light at first and again when it ends.
class ApplicationLook {
 public:
  ApplicationLook() { appearance_.setAppliesApplicationPalette(true); }
  ~ApplicationLook() { appearance_.setPreference(AppearancePreference::system); }
  ApplicationLook(const ApplicationLook&) = delete;
  ApplicationLook& operator=(const ApplicationLook&) = delete;

  void set(AppearancePreference preference) { appearance_.setPreference(preference); }
  Appearance& appearance() { return appearance_; }

 private:
  Appearance appearance_;
};

// Windows handed the process's settings hear its language changes, as the
// application's windows do. Call it once the test's HOME is in place: the
// first call reads the settings from there.
inline void relaySharedLanguage() {
  static const bool relayed = (relayLanguageChanges(SettingsStore::shared()), true);
  Q_UNUSED(relayed);
}

}  // namespace tlr::test
