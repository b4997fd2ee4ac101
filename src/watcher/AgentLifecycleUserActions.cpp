#include "watcher/AgentLifecycleWatcher.h"

#include "platform/Log.h"
#include "platform/OffMain.h"
#include "watcher/AgentLifecycleParts.h"

#include <QCoreApplication>

// The user's launch, stop and restart of an agent, and how a failed launch
// or setup is told.

namespace tlr {

LocKey UserActionFailure::title() const {
  using Unopened = AgentRecover::Result::Unopened;
  if (action == Action::launch) return LocKey::alertLaunchFailTitle(displayName);
  switch (result.unopened) {
    case Unopened::terminal: return LocKey::alertSetupOpenFailTitle(displayName);
    case Unopened::folder: return LocKey::alertConfigFolderOpenFailTitle(displayName);
    case Unopened::nothing: break;
  }
  return LocKey::alertSetupFailTitle(displayName);
}

LocKey UserActionFailure::message() const {
  using Unopened = AgentRecover::Result::Unopened;
  if (result.kind == AgentRecover::Result::Kind::unsupported) return LocKey::alertLaunchUnsupportedBody();
  if (!result.why && result.unopened == Unopened::terminal && action == Action::setup)
    return LocKey::alertSetupOpenFailBody();
  return result.reasonKey();
}

void AgentLifecycleWatcher::launchOnUserClick(const AgentEntry& entry, std::function<void(bool)> completion) {
  lifecycle::log("[Launch] ", entry, QStringLiteral(" 用户点「打开」"));
  clearThrottle(entry.id);
  // On trial from the click, as a restart is: its window may start the agent
  // and a scan see it before the launch has come back here.
  expectStart(entry.id);
  // Where the agent last ran; the home folder when it never ran here.
  relaunch(entry, /*byUser=*/true, lastWorkingFolder(entry.id),
           [this, entry, completion = std::move(completion)](const Result& result) {
    bool launched = false;
    switch (result.kind) {
      case Result::Kind::launched:
        lifecycle::log("[Launch] ", entry, QStringLiteral(" opened pid=%1").arg(result.pid));
        // Without details, which tells it from a relaunch.
        record(entry.id, AgentEventType::recovered, std::nullopt, EventText::of(LocKey::evDetailUserLaunch()));
        launched = true;
        break;
      case Result::Kind::failed:
        lifecycle::log("[Launch] ", entry, QStringLiteral(" FAIL: ") + result.reason);
        break;
      case Result::Kind::unsupported:
        lifecycle::log("[Launch] ", entry, QStringLiteral(" unsupported strategy"));
        break;
    }
    if (!launched) {
      expectedStarts_.remove(entry.id);
      Q_EMIT userActionFailed({UserActionFailure::Action::launch, entry.displayName, result});
    }
    if (completion) completion(launched);
  });
}

void AgentLifecycleWatcher::stopOnUserClick(const AgentEntry& entry, std::function<void(bool)> completion) {
  lifecycle::log("[Stop] ", entry, QStringLiteral(" 用户点[退出]"));
  if (!scanner_) {
    if (completion) completion(false);
    return;
  }
  // The caller hears the outcome even if the watcher has gone by then.
  ++stopsInProgress_[entry.id];
  startOffMain(
      nullptr, [recover = recover_, scanner = scanner_, entry] { return recover->stopAgent(entry, *scanner); },
      [recordIt = whileAlive(this,
                             [this, id = entry.id](bool stopped) {
                               lifecycle::countDown(stopsInProgress_, id);
                               record(id, AgentEventType::restarted,
                                      EventText::of(stopped ? LocKey::evDetailUserStop() : LocKey::evDetailStopFailed()));
                             }),
       completion = std::move(completion)](const Result& result) {
        const bool stopped = result.kind != Result::Kind::failed;
        recordIt(stopped);
        if (completion) completion(stopped);
      });
}

void AgentLifecycleWatcher::restartOnUserClick(const AgentEntry& entry,
                                               std::function<void(const AgentRestarter::Result&)> completion) {
  if (!scanner_) {
    if (completion) completion(AgentRestarter::Result::relaunchFailed(QStringLiteral("scanner 未注入")));
    return;
  }
  clearThrottle(entry.id);
  beginRestart(entry.id);
  // What the restart starts again is on trial.
  expectStart(entry.id);
  const AgentRestarter restarter(scanner_, recover_, timing_.restart, *services_.signalled);
  startOffMain(
      this,
      [restarter, entry] {
        AgentRestarter::Outcome outcome = restarter.restart(entry, /*dryRun=*/false);
        // Written as soon as the restart returns, whatever becomes of the
        // watcher.
        errWrite((outcome.report + QLatin1Char('\n')).toUtf8());
        return outcome.result;
      },
      [this, entry, completion = std::move(completion)](const AgentRestarter::Result& result) {
        endRestart(entry.id);
        recordRestartOutcome(entry, result);
        if (completion) completion(result);
      });
}

void AgentLifecycleWatcher::recordRestartOutcome(const AgentEntry& entry, const AgentRestarter::Result& result) {
  using Kind = AgentRestarter::Result::Kind;
  switch (result.kind) {
    case Kind::success:
      record(entry.id, AgentEventType::restarted, EventText::of(LocKey::evDetailUserRestart(result.newPid)));
      return;
    case Kind::killTimeout:
      // Told, not throttled: the user may try again at once.
      record(entry.id, AgentEventType::throttled,
             EventText::of(LocKey::evDetailRestartStuck(AgentRecover::pidList(result.strugglingPids))));
      return;
    case Kind::relaunchFailed:
      record(entry.id, AgentEventType::throttled,
             result.why ? EventText::of(LocKey::evDetailRestartFailed({}), 0, EventText::of(*result.why))
                        : EventText::of(LocKey::evDetailRestartFailed(result.reason)));
      return;
    case Kind::notRunning:
      // Nothing to restart: the user wants it running, so it is launched
      // (which logs and records on its own).
      launchOnUserClick(entry);
      return;
  }
}

void AgentLifecycleWatcher::beginRestart(const QString& agentId) { ++restartsInProgress_[agentId]; }

void AgentLifecycleWatcher::endRestart(const QString& agentId) { lifecycle::countDown(restartsInProgress_, agentId); }

}  // namespace tlr
