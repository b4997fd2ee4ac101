#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"

#include <QObject>
#include <QString>

#include <functional>

namespace tlr {

// The three user settings the whole interface depends on: appearance,
// language and the Dock icon. Every assignment is written to the user
// defaults at once, then applied, then announced through the change signals,
// so an observer that reads the store or `Lang::current()` sees the new
// value. A setting the user never changed stays absent from the defaults.
//
// The store needs no application object: what it applies to windows goes
// through handlers the user interface registers at start-up. Use it on the
// main thread; other threads read the language through `Lang::current()`.
class SettingsStore : public QObject {
  Q_OBJECT

 public:
  // Applies an appearance to every window.
  using AppearanceHandler = std::function<void(AppearancePreference)>;
  // Shows (true) or hides (false) the Dock icon: regular or accessory policy.
  using ActivationPolicyHandler = std::function<void(bool showInDock)>;

  // The store of the process, created on first use and kept until it ends.
  static SettingsStore& shared();

  // A store reading the current user defaults. The application uses only
  // `shared()`; separate instances serve tests and tools.
  SettingsStore();

  AppearancePreference appearance() const { return appearance_; }
  AppLanguage language() const { return language_; }
  bool showInDock() const { return showInDock_; }

  // Each assignment, also of the value already held, stores and applies it.
  void setAppearance(AppearancePreference appearance);
  void setLanguage(AppLanguage language);
  void setShowInDock(bool show);

  // Registers how the appearance reaches the windows and applies the current
  // one at once.
  void setAppearanceHandler(AppearanceHandler handler);
  // Registers how the Dock presence is changed; it is applied by the next
  // `applyActivationPolicy()`.
  void setActivationPolicyHandler(ActivationPolicyHandler handler);

  // Applies `showInDock` to the application and logs the policy chosen.
  void applyActivationPolicy() const;

  // "TLR.showInDock" as the store reads it at creation: absent means shown;
  // a stored value is read as a Boolean the way the user defaults read one
  // (true, a non-zero number, a text starting "Y", "T" or a non-zero digit).
  // The process entry, which runs before the store exists, is stricter: only
  // a stored Boolean counts there, so a text "false" still shows the icon.
  static bool storedShowInDock();

  // The key's text in this store's language (LocTexts::text, the one
  // function that turns a key and its values into text).
  QString text(const LocKey& key) const;

 Q_SIGNALS:
  void appearanceChanged(tlr::AppearancePreference appearance);
  void languageChanged(tlr::AppLanguage language);
  void showInDockChanged(bool showInDock);

 private:
  void applyAppearance() const;

  AppearancePreference appearance_ = AppearancePreference::system;
  AppLanguage language_ = AppLanguage::zh;
  bool showInDock_ = true;
  AppearanceHandler appearanceHandler_;
  ActivationPolicyHandler activationPolicyHandler_;
};

}  // namespace tlr
