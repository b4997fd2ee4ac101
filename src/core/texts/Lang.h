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
};

}  // namespace tlr
