#include "core/stores/SettingsStore.h"

#include "core/texts/LocTexts.h"
#include "platform/Defaults.h"
#include "platform/Log.h"

#include <QJsonValue>

namespace tlr {
namespace {

// A stored value read as a Boolean, the way the user defaults convert one.
bool booleanReading(const QJsonValue& value) {
  if (value.isBool()) return value.toBool();
  if (value.isDouble()) return value.toDouble() != 0.0;
  if (!value.isString()) return false;
  const QString text = value.toString();
  qsizetype i = 0;
  while (i < text.size() && text[i].isSpace()) ++i;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
  while (i < text.size() && text[i] == u'0') ++i;
  if (i == text.size()) return false;
  const QChar first = text[i];
  return first == u'Y' || first == u'y' || first == u'T' || first == u't' ||
         (first >= u'1' && first <= u'9');
}

// Keeps a setting the user chose. A failed write is logged by Defaults, and
// the choice holds for this run all the same.
void store(const QString& key, const QJsonValue& value) { static_cast<void>(Defaults::shared().set(key, value)); }

}  // namespace

SettingsStore& SettingsStore::shared() {
  // Never destroyed: observers may still hold it while the process exits.
  static SettingsStore* const store = new SettingsStore();
  return *store;
}

SettingsStore::SettingsStore() {
  const Defaults& defaults = Defaults::shared();
  if (const auto stored = defaults.string(kAppearanceKey))
    appearance_ = appearanceFromRaw(*stored).value_or(AppearancePreference::system);
  language_ = languageFromStored(defaults.string(kLanguageKey));
  showInDock_ = storedShowInDock();
  applyAppearance();
}

bool SettingsStore::storedShowInDock() {
  const QJsonValue stored = Defaults::shared().value(kShowInDockKey);
  return stored.isUndefined() || booleanReading(stored);
}

void SettingsStore::setAppearance(AppearancePreference appearance) {
  appearance_ = appearance;
  store(kAppearanceKey, rawValue(appearance));
  applyAppearance();
  Q_EMIT appearanceChanged(appearance);
}

void SettingsStore::setLanguage(AppLanguage language) {
  language_ = language;
  store(kLanguageKey, rawValue(language));
  Q_EMIT languageChanged(language);
}

void SettingsStore::setShowInDock(bool show) {
  showInDock_ = show;
  store(kShowInDockKey, show);
  applyActivationPolicy();
  Q_EMIT showInDockChanged(show);
}

void SettingsStore::setAppearanceHandler(AppearanceHandler handler) {
  appearanceHandler_ = std::move(handler);
  applyAppearance();
}

void SettingsStore::setActivationPolicyHandler(ActivationPolicyHandler handler) {
  activationPolicyHandler_ = std::move(handler);
}

void SettingsStore::applyAppearance() const {
  // Without a user interface (a headless verification mode) there is no
  // window to apply it to.
  if (appearanceHandler_) appearanceHandler_(appearance_);
}

void SettingsStore::applyActivationPolicy() const {
  if (activationPolicyHandler_) activationPolicyHandler_(showInDock_);
  log("[Settings] ", QStringLiteral("activationPolicy → ") +
                         (showInDock_ ? QStringLiteral(".regular (Dock + menu bar)")
                                      : QStringLiteral(".accessory (menu bar only)")));
}

QString SettingsStore::text(const LocKey& key) const { return LocTexts::text(language_, key); }

}  // namespace tlr
