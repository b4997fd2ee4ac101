#include "watcher/AgentTerminal.h"

#include "platform/LoginShell.h"
#include "platform/Log.h"
#include "platform/UserPrograms.h"
#include "watcher/AgentRecover.h"
#include "watcher/InstanceTerminals.h"

namespace tlr::AgentTerminal {

TerminalLauncher::Result openConsole(const AgentEntry& entry, const QStringList& command,
                                     const std::optional<QString>& folder) {
  if (command.isEmpty()) return {};
  const QString line = command.join(QLatin1Char(' '));
  const QString where = AgentRecover::startFolder(folder);
  // Another start of the instance there: the windows we opened for it that
  // have ended go.
  InstanceTerminals::shared().closeEnded(entry.id, where);
  // The window stays open in the user's shell once the console ends, so its
  // last words stay readable.
  const TerminalLauncher::Result started =
      TerminalLauncher::run(UserPrograms::exportPathLine() + line + QStringLiteral("; exec \"${SHELL:-/bin/sh}\""),
                            where);
  if (started)
    log("[TUI] ", entry.localizedDisplayName() + QStringLiteral(": ") + TerminalLauncher::findTerminal() + QStringLiteral(" -e \"") + line +
                      QLatin1Char('"'));
  return started;
}

void runUninstallLines(const QStringList& commandLines) {
  const TerminalLauncher::Result started = TerminalLauncher::run(uninstallShellText(commandLines));
  if (!started) log("[Detail] ", QStringLiteral("launchd uninstall terminal failed: ") + started.error());
}

QString uninstallShellText(const QStringList& commandLines) {
  // The lines may ask questions, so they keep the terminal (--foreground);
  // after 60 seconds they are ended all the same.
  return UserPrograms::exportPathLine() + QStringLiteral("timeout --foreground 60 /bin/sh -c ") +
         shellQuote(commandLines.join(QStringLiteral("; "))) + QStringLiteral("; sleep 1");
}

}  // namespace tlr::AgentTerminal
