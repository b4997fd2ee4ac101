#include "platform/TerminalLauncher.h"

#include "platform/ChildProcess.h"

#include <QFileInfo>

namespace tlr {

const QStringList& TerminalLauncher::candidates() {
  static const QStringList names{"x-terminal-emulator", "gnome-terminal", "konsole",
                                 "xfce4-terminal", "xterm"};
  return names;
}

QString TerminalLauncher::findTerminal() {
  const QString path = currentPath();
  for (const QString& name : candidates()) {
    const QString found = findExecutable(name, path);
    if (!found.isEmpty()) return found;
  }
  return {};
}

QStringList TerminalLauncher::arguments(const QString& terminal, const QString& commandText) {
  const QString name = QFileInfo(terminal).fileName();
  // gnome-terminal's "-e" takes one string that it splits itself, and
  // xfce4-terminal's does the same; both run a program and its arguments
  // after "--" and "-x" respectively. The others take "-e program args...".
  QString option = QStringLiteral("-e");
  if (name == "gnome-terminal") option = QStringLiteral("--");
  if (name == "xfce4-terminal") option = QStringLiteral("-x");
  return {option, QStringLiteral("/bin/sh"), QStringLiteral("-c"), commandText};
}

TerminalLauncher::Result TerminalLauncher::run(const QString& commandText, const QString& workingFolder) {
  const QString terminal = findTerminal();
  if (terminal.isEmpty()) {
    // The message that shows this names the programs looked for.
    return Unexpected(QStringLiteral("no terminal program found on PATH"));
  }
  ChildSpec spec;
  spec.program = terminal;
  spec.arguments = arguments(terminal, commandText);
  spec.workingDirectory = workingFolder;
  const Expected<pid_t, QString> started = spawnDetached(spec, QString());
  if (!started) return Unexpected(terminal + QStringLiteral(": ") + started.error());
  return {};
}

}  // namespace tlr
