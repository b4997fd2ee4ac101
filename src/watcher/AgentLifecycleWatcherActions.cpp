// The user's actions on agents: launch, stop, restart, doctor, fix, setup,
// and the start of an agent that was just locked online.
#include "watcher/AgentLifecycleWatcher.h"

#include "core/Lang.h"
#include "core/LocKey.h"
#include "core/SettingsStore.h"
#include "platform/Log.h"
#include "platform/OffMain.h"

#include <QCoreApplication>
#include <QPointer>

namespace tlr {
namespace {

void actionLog(const char* tag, const AgentEntry& entry, const QString& message) {
  log(tag, entry.displayName + message);
}

QString currentText(const LocKey& key) { return SettingsStore::dict(Lang::current(), key); }

}  // namespace

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
  switch (result.unopened) {
    case Unopened::terminal:
      return action == Action::setup ? LocKey::alertSetupOpenFailBody()
                                     : LocKey::alertTerminalOpenFailBody(result.command, result.error);
    case Unopened::folder: return LocKey::alertFailureReason(result.error);
    case Unopened::nothing: break;
  }
  return LocKey::alertFailureReason(result.reason);
}

void AgentLifecycleWatcher::launchOnUserClick(const AgentEntry& entry, std::function<void(bool)> completion) {
  actionLog("[Launch] ", entry, QStringLiteral(" 用户点「打开」"));
  clearThrottle(entry.id);
  relaunch(entry, /*byUser=*/true, [this, entry, completion = std::move(completion)](const Result& result) {
    bool launched = false;
    switch (result.kind) {
      case Result::Kind::launched:
        actionLog("[Launch] ", entry, QStringLiteral(" opened pid=%1").arg(result.pid));
        record(entry.id, AgentEventType::recovered, currentText(LocKey::evDetailUserLaunch()));
        launched = true;
        break;
      case Result::Kind::failed:
        actionLog("[Launch] ", entry, QStringLiteral(" FAIL: ") + result.reason);
        break;
      case Result::Kind::unsupported:
        actionLog("[Launch] ", entry, QStringLiteral(" unsupported strategy"));
        break;
    }
    if (!launched)
      Q_EMIT userActionFailed({UserActionFailure::Action::launch, entry.displayName, result});
    if (completion) completion(launched);
  });
}

void AgentLifecycleWatcher::stopOnUserClick(const AgentEntry& entry, std::function<void(bool)> completion) {
  actionLog("[Stop] ", entry, QStringLiteral(" 用户点[退出]"));
  if (!scanner_) {
    if (completion) completion(false);
    return;
  }
  // The caller hears the outcome even if the watcher has gone by then.
  runOffMain(
      QCoreApplication::instance(),
      [recover = recover_, scanner = scanner_, entry] { return recover->stopAgent(entry, *scanner); },
      [self = QPointer<AgentLifecycleWatcher>(this), entry, completion = std::move(completion)](const Result& result) {
        const bool stopped = result.kind != Result::Kind::failed;
        if (self)
          self->record(entry.id, AgentEventType::restarted,
                       currentText(stopped ? LocKey::evDetailUserStop() : LocKey::evDetailStopFailed()));
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
  const AgentRestarter restarter(scanner_, recover_, timing_.restart, *services_.signalled);
  runOffMain(
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
      record(entry.id, AgentEventType::restarted, currentText(LocKey::evDetailUserRestart(result.newPid)));
      return;
    case Kind::killTimeout:
      // Told, not throttled: the user may try again at once.
      record(entry.id, AgentEventType::throttled,
             currentText(LocKey::evDetailRestartStuck(AgentRecover::pidList(result.strugglingPids))));
      return;
    case Kind::relaunchFailed:
      record(entry.id, AgentEventType::throttled, currentText(LocKey::evDetailRestartFailed(result.reason)));
      return;
    case Kind::notRunning:
      // Nothing to restart: the user wants it running, so it is launched
      // (which logs and records on its own).
      launchOnUserClick(entry);
      return;
  }
}

void AgentLifecycleWatcher::beginRestart(const QString& agentId) { ++restartsInProgress_[agentId]; }

void AgentLifecycleWatcher::endRestart(const QString& agentId) {
  const auto found = restartsInProgress_.find(agentId);
  if (found == restartsInProgress_.end()) return;
  if (--found.value() <= 0) restartsInProgress_.erase(found);
}

void AgentLifecycleWatcher::doctorOnUserClick(const AgentEntry& entry,
                                              std::function<void(std::optional<AgentDoctor::Result>)> completion) {
  runDoctor(entry, std::move(completion));
}

void AgentLifecycleWatcher::applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                                           std::function<void(const AgentDoctor::FixResult&)> completion) {
  if (!scanner_) {
    completion(AgentDoctor::FixResult::failure(QStringLiteral("scanner 未就绪")));
    return;
  }
  runOffMain(
      QCoreApplication::instance(), [fix = services_.applyFix, issue] { return fix(issue); },
      [self = QPointer<AgentLifecycleWatcher>(this), entry, issue,
       completion = std::move(completion)](const AgentDoctor::FixResult& fix) {
        const QString text = AgentDoctor::fixEventText(issue, fix);
        if (self) self->record(entry.id, AgentEventType::restarted, text);
        actionLog("[Doctor] ", entry, QLatin1Char(' ') + text);
        completion(fix);
      });
}

void AgentLifecycleWatcher::runSetupOnUserClick(const AgentEntry& entry) {
  actionLog("[Setup] ", entry, QStringLiteral(" 用户点「配置」"));
  auto onCompleted = [self = QPointer<AgentLifecycleWatcher>(this), entry] {
    if (self) self->handleSetupCompleted(entry);
  };
  runOffMain(
      this,
      [recover = recover_, entry, onCompleted = std::move(onCompleted)] {
        return recover->userSetupWithCompletion(entry, onCompleted);
      },
      [this, entry](const Result& result) { handleSetupResult(entry, result); });
}

void AgentLifecycleWatcher::handleSetupResult(const AgentEntry& entry, const Result& result) {
  switch (result.kind) {
    case Result::Kind::launched:
      actionLog("[Setup] ", entry, QStringLiteral(" Terminal opened for setup"));
      return;
    case Result::Kind::failed:
      actionLog("[Setup] ", entry, QStringLiteral(" FAIL: ") + result.reason);
      Q_EMIT userActionFailed({UserActionFailure::Action::setup, entry.displayName, result});
      return;
    case Result::Kind::unsupported:
      return;
  }
}

void AgentLifecycleWatcher::recoverOnDemand(const AgentEntry& entry) {
  if (throttledAgents_.contains(entry.id)) {
    actionLog("[RecoverOnDemand] ", entry, QStringLiteral(" 跳过：处于节流期"));
    return;
  }
  actionLog("[RecoverOnDemand] ", entry, QStringLiteral(" 用户主动开锁定 → 触发启动"));
  attemptRecover(entry, AgentEventType::recovered);
}

}  // namespace tlr
