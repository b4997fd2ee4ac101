#pragma once

#include "core/texts/LocKey.h"

#include <QList>
#include <QString>
#include <QUrl>


namespace tlr {

// Carries out the setup action that opens an agent's configuration folder.
class SetupActionRunner {
 public:
  // Whether a folder was shown, and what to tell the user: the folder shown
  // or made, or why none was.
  struct Opened {
    bool shown = false;
    LocKey message;
  };

  // Shows the first of `dirs` that exists in the file manager; when none
  // exists, creates the first one and shows that. An empty list shows
  // nothing. Waits for the opener: call it off the main thread.
  static Opened openConfigDir(const QList<QUrl>& dirs);
};

}  // namespace tlr
