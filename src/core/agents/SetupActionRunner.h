#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <utility>

namespace tlr {

// Carries out the setup action that opens an agent's configuration folder.
class SetupActionRunner {
 public:
  // Shows the first of `dirs` that exists in the file manager; when none
  // exists, creates the first one and shows that. Returns whether a folder
  // was shown and a message for the user naming the folder (Chinese only).
  // An empty list shows nothing.
  static std::pair<bool, QString> openConfigDir(const QList<QUrl>& dirs);
};

}  // namespace tlr
