#pragma once

#include "platform/Expected.h"

#include <QString>
#include <QStringList>

// Runs a shell command line in a new terminal window, for everything the user
// should watch or answer ("run in Terminal"). The window belongs to the user:
// we start it and do not wait for it.
namespace tlr {

class TerminalLauncher {
 public:
  // Fails with why nothing was started.
  using Result = Expected<void, QString>;

  // The terminal programs tried, in order, on PATH.
  static const QStringList& candidates();
  // The full path of the first candidate on PATH, or empty.
  static QString findTerminal();
  // The arguments that make `terminal` (a candidate's path) run `commandText`
  // with /bin/sh. The text stays one argument, so it needs no quoting.
  static QStringList arguments(const QString& terminal, const QString& commandText);

  // Starts the first terminal found with `/bin/sh -c commandText`, detached,
  // so a window that stays open blocks nothing. The window closes when the
  // shell ends; a command line that should stay readable keeps its shell.
  // The shell starts in `workingFolder` (ours when empty).
  static Result run(const QString& commandText, const QString& workingFolder = QString());
};

}  // namespace tlr
