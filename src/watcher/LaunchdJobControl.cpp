#include "watcher/LaunchdJobControl.h"

#include "platform/LoginShell.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "watcher/AgentRecover.h"
#include "watcher/ProcessScanner.h"

namespace tlr::LaunchdJobControl {
namespace {

bool hasLabel(const AgentEntry& entry) { return entry.launchdLabel && !entry.launchdLabel->isEmpty(); }

}  // namespace

QString disableLogText(const QString& label, const ServiceManager::CallOutcome& outcome,
                       std::chrono::milliseconds timeout) {
  const QString target = ServiceManager::userTarget(label);
  if (!outcome.started) return QStringLiteral("launchctl disable failed: ") + outcome.startError;
  if (outcome.timedOut) {
    const double seconds = std::chrono::duration<double>(timeout).count();
    return QStringLiteral("launchctl disable failed: %1 did not answer within %2 s and was stopped")
        .arg(target, QString::number(seconds, 'g', 3));
  }
  if (!outcome.exited)
    return QStringLiteral("launchctl disable failed: %1 ended by signal %2").arg(target).arg(outcome.signal);
  return QStringLiteral("launchctl disable %1 → exit=%2").arg(target).arg(outcome.exitStatus);
}

void disableJob(const AgentEntry& entry, QObject* context,
                std::function<void(const ServiceManager::CallOutcome&)> done, std::chrono::milliseconds timeout) {
  if (!hasLabel(entry)) return;
  const QString label = *entry.launchdLabel;
  startOffMain(
      context,
      [label, timeout] {
        const ServiceManager::CallOutcome outcome = ServiceManager::disableJob(label, timeout);
        log("[Detail] ", disableLogText(label, outcome, timeout));
        ProcessScanner::invalidateLaunchdCache(label);
        return outcome;
      },
      [done = std::move(done)](const ServiceManager::CallOutcome& outcome) {
        if (done) done(outcome);
      });
}

QString uninstallShellText(const QStringList& commandLines) {
  // The lines may ask questions, so they keep the terminal (--foreground);
  // after 60 seconds they are ended all the same.
  return AgentRecover::searchPathPrefix() + QStringLiteral("timeout --foreground 60 /bin/sh -c ") +
         shellQuote(commandLines.join(QStringLiteral("; "))) + QStringLiteral("; sleep 1");
}

void hardStop(const AgentEntry& entry) {
  const bool labelled = hasLabel(entry);
  if (entry.launchdUninstallCommand && !entry.launchdUninstallCommand->isEmpty()) {
    const TerminalLauncher::Result started = TerminalLauncher::run(uninstallShellText(*entry.launchdUninstallCommand));
    if (!started.ok) log("[Detail] ", QStringLiteral("launchd uninstall terminal failed: ") + started.error);
  } else if (labelled) {
    startOffMain(nullptr, [label = *entry.launchdLabel] {
      ServiceManager::bootout(label);
      // Asked afresh once the job is down, not from an answer taken while
      // it was going.
      ProcessScanner::invalidateLaunchdCache(label);
    });
  }
  if (labelled) ProcessScanner::invalidateLaunchdCache(*entry.launchdLabel);
}

TerminalLauncher::Result openConsole(const AgentEntry& entry, const QStringList& command) {
  if (command.isEmpty()) return {true, QString()};
  const QString line = command.join(QLatin1Char(' '));
  // The window stays open in the user's shell once the console ends, so its
  // last words stay readable.
  const TerminalLauncher::Result started =
      TerminalLauncher::run(AgentRecover::searchPathPrefix() + line + QStringLiteral("; exec \"${SHELL:-/bin/sh}\""));
  if (started.ok)
    log("[TUI] ", entry.localizedDisplayName() + QStringLiteral(": osascript do script \"") + line +
                      QLatin1Char('"'));
  return started;
}

}  // namespace tlr::LaunchdJobControl
