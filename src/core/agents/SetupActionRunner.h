#pragma once

#include "platform/Expected.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace tlr {

// Carries out the setup action that opens an agent's configuration folder.
class SetupActionRunner {
 public:
  // Shows the first of `dirs` that exists in the file manager; when none
  // exists, creates the first one and shows that. Gives a message naming
  // the folder shown (Chinese only), else why none was: an empty list, or
  // a desktop that could not open it (in the interface's language).
  static Expected<QString, QString> openConfigDir(const QList<QUrl>& dirs);
};

}  // namespace tlr
