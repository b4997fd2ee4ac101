#pragma once

#include "core/texts/SettingsValues.h"

namespace tlr {

// The interface language for code that runs off the main thread (the restart
// report, the doctor's messages). Safe from any thread: each call reads the
// stored "TLR.language" afresh from the user defaults, so it agrees with the
// settings store as soon as an assignment there returns.
class Lang {
 public:
  Lang() = delete;

  static AppLanguage current();
  // `english` when the interface speaks English, else `chinese`: for texts
  // made off the main thread that a window shows.
  static QString pick(const QString& english, const QString& chinese);
};

}  // namespace tlr
