// Reads or changes the user settings through the settings store, in a process
// of its own and without an application object:
//   tlr_settings_tool get
//       prints "appearance=<raw> language=<raw> showInDock=<true|false> lang=<raw>",
//       where lang is the language as code off the main thread reads it
//   tlr_settings_tool set appearance|language|showInDock VALUE
//   tlr_settings_tool apply-policy      (applies the Dock setting as start-up does)
#include "core/stores/SettingsStore.h"
#include "core/texts/Lang.h"

#include <cstdio>
#include <cstring>

namespace {

int printSettings(const tlr::SettingsStore& store) {
  const QString line = QStringLiteral("appearance=%1 language=%2 showInDock=%3 lang=%4\n")
                           .arg(tlr::rawValue(store.appearance()), tlr::rawValue(store.language()),
                                store.showInDock() ? QStringLiteral("true") : QStringLiteral("false"),
                                tlr::rawValue(tlr::Lang::current()));
  const QByteArray bytes = line.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  return 0;
}

int set(tlr::SettingsStore& store, const char* name, const QString& value) {
  if (std::strcmp(name, "appearance") == 0) {
    const auto appearance = tlr::appearanceFromRaw(value);
    if (!appearance) return 2;
    store.setAppearance(*appearance);
  } else if (std::strcmp(name, "language") == 0) {
    const auto language = tlr::languageFromRaw(value);
    if (!language) return 2;
    store.setLanguage(*language);
  } else if (std::strcmp(name, "showInDock") == 0) {
    if (value != u"true" && value != u"false") return 2;
    store.setShowInDock(value == u"true");
  } else {
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  tlr::SettingsStore& store = tlr::SettingsStore::shared();
  if (std::strcmp(argv[1], "get") == 0) return printSettings(store);
  if (std::strcmp(argv[1], "apply-policy") == 0) {
    store.applyActivationPolicy();
    return 0;
  }
  if (std::strcmp(argv[1], "set") == 0 && argc == 4) return set(store, argv[2], QString::fromUtf8(argv[3]));
  return 2;
}
