#include "watcher/LaunchdJobControl.h"

#include "platform/Log.h"
#include "platform/OffMain.h"
#include "watcher/AgentTerminal.h"
#include "watcher/ProcessScanner.h"

namespace tlr::LaunchdJobControl {
namespace {

bool hasLabel(const AgentEntry& entry) { return entry.launchdLabel && !entry.launchdLabel->isEmpty(); }

}  // namespace

QString disableLogText(const QString& label, const ServiceManager::CallOutcome& outcome,
                       std::chrono::milliseconds timeout) {
  // Named as the tool that ran: systemctl of the user manager.
  const QString target = ServiceManager::unitName(label);
  if (!outcome.started) return QStringLiteral("systemctl --user disable failed: ") + outcome.startError;
  if (outcome.timedOut) {
    const double seconds = std::chrono::duration<double>(timeout).count();
    return QStringLiteral("systemctl --user disable failed: %1 did not answer within %2 s and was stopped")
        .arg(target, QString::number(seconds, 'g', 3));
  }
  if (!outcome.exited)
    return QStringLiteral("systemctl --user disable failed: %1 ended by signal %2").arg(target).arg(outcome.signal);
  return QStringLiteral("systemctl --user disable %1 → exit=%2").arg(target).arg(outcome.exitStatus);
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

void hardStop(const AgentEntry& entry) {
  const bool labelled = hasLabel(entry);
  if (entry.launchdUninstallCommand && !entry.launchdUninstallCommand->isEmpty()) {
    // Its line names this user's program folders, looked up off the window
    // thread.
    startOffMain(nullptr, [lines = *entry.launchdUninstallCommand] { AgentTerminal::runUninstallLines(lines); });
  } else if (labelled) {
    startOffMain(nullptr, [label = *entry.launchdLabel] {
      // Not waited on beyond its own call: whether the job went down is
      // for the next scan to see.
      static_cast<void>(ServiceManager::bootout(label));
      // Asked afresh once the job is down, not from an answer taken while
      // it was going.
      ProcessScanner::invalidateLaunchdCache(label);
    });
  }
  if (labelled) ProcessScanner::invalidateLaunchdCache(*entry.launchdLabel);
}

}  // namespace tlr::LaunchdJobControl
