#include "watcher/AgentLifecycleWatcher.h"

#include "platform/OffMain.h"
#include "watcher/AgentLifecycleParts.h"

#include <QMetaObject>
#include <QTimer>

// Bringing an agent back after an exit the policy recovers, within the
// relaunch throttle; and the start of an agent that was just locked online.

namespace tlr {

void AgentLifecycleWatcher::recoverOrThrottle(const AgentEntry& entry, ExitIntent intent, const Instance& instance) {
  if (!throttle_.noteDecision(entry.id, services_.clock())) {
    attemptRecover(entry, intent, instance, Cause::exit);
    return;
  }
  throttleRepeats(entry);
}

void AgentLifecycleWatcher::throttleRepeats(const AgentEntry& entry) {
  throttle(entry.id);
  record(entry.id, AgentEventType::throttled);
  lifecycle::log("[Throttle] ", entry,
                 QStringLiteral(" %1 内 recover 超过 %2 次，停止").arg(throttle_.windowText()).arg(throttle_.threshold()));
}

void AgentLifecycleWatcher::scheduleDelayedRecoveryCheck(const AgentEntry& entry, ExitIntent intent,
                                                         const Instance& instance) {
  QTimer::singleShot(timing_.secondLook, this, [this, entry, intent, instance] {
    if (!scanner_ || isRestarting(entry.id)) return;
    scanThen([this, entry, intent, instance](const QList<RunningAgent>& all) {
      if (isRestarting(entry.id)) return;
      if (stillRuns(all, entry.id, instance.pid)) {
        // It turned itself into a background service; the next tick picks
        // up its new pid.
        lifecycle::log("[Skip] ", entry, QStringLiteral(" 3s 后仍在跑（真 daemon 后台模式），不 recover"));
        return;
      }
      lifecycle::log("[Recover] ", entry, QStringLiteral(" 3s 后已无进程 → 触发 recover（multi-process 主进程已死）"));
      recoverOrThrottle(entry, intent, instance);
    });
  });
}

namespace {

// The process a relaunch started: the first of the agent's processes in
// `all` that was not there before, preferring one that works in `folder`
// (another instance may have been relaunched at the same moment).
const RunningAgent* newProcess(const QList<RunningAgent>& all, const QString& agentId, const QSet<pid_t>& before,
                               const QString& folder) {
  const RunningAgent* first = nullptr;
  for (const RunningAgent& r : all) {
    if (r.entry.id != agentId || r.parentAgentId || before.contains(r.pid) || before.contains(r.instancePid)) continue;
    if (r.workingFolder == folder) return &r;
    if (!first) first = &r;
  }
  return first;
}

}  // namespace

void AgentLifecycleWatcher::attemptRecover(const AgentEntry& entry, ExitIntent intent, const Instance& instance,
                                           Cause cause) {
  using Strategy = AgentEntry::Recover::Strategy;
  const AgentEventType eventType = RecoveryPolicy::recoveredEventType(intent);
  if (!scanner_ || !entry.recover || entry.recover->strategy == Strategy::openUrlScheme) {
    relaunch(entry, /*byUser=*/false, instance.folder,
             [this, entry, eventType](const Result& result) { handleRecoverResult(entry, eventType, result); });
    return;
  }
  // Until the relaunch is confirmed, the scans leave the agent to it.
  ++relaunching_[entry.id];
  const bool openApp = entry.recover->strategy == Strategy::openApp;
  startOffMain(
      this,
      [recover = recover_, scanner = scanner_, entry, openApp, folder = instance.folder,
       settle = timing_.relaunchSettle] {
        Relaunch outcome;
        // Uninstalled meanwhile: nothing to bring back.
        if (!ProcessScanner::isInstalled(entry) && !AgentRecover::canStart(entry)) {
          outcome.installed = false;
          return outcome;
        }
        // The agent's other instances, which are no sign of this one.
        QSet<pid_t> before;
        for (const RunningAgent& r : scanner->scanAll())
          if (r.entry.id == entry.id) before << r.pid;
        outcome.result = openApp ? recover->recoverOpenApp(entry) : recover->recoverExecCli(entry, folder);
        if (!outcome.result.isLaunched()) return outcome;
        // A terminal or a desktop session reports no pid, and an agent that
        // cannot start (no network, a broken install) is gone within a
        // second: only a scan a few seconds on tells whether it runs.
        OffMainPool::pause(settle);
        const QList<RunningAgent> after = scanner->scanAll();
        if (const RunningAgent* started = newProcess(after, entry.id, before, AgentRecover::startFolder(folder))) {
          outcome.pid = started->pid;
          outcome.folder = started->workingFolder;
        }
        return outcome;
      },
      [this, entry, intent, cause](const Relaunch& outcome) {
        lifecycle::countDown(relaunching_, entry.id);
        handleRelaunch(entry, intent, cause, outcome);
      });
}

void AgentLifecycleWatcher::handleRelaunch(const AgentEntry& entry, ExitIntent intent, Cause cause,
                                           const Relaunch& outcome) {
  if (!outcome.installed) {
    lifecycle::log("[Recover] ", entry, QStringLiteral(" 未安装，不 recover"));
    return;
  }
  if (!outcome.result.isLaunched()) {
    handleRecoverResult(entry, RecoveryPolicy::recoveredEventType(intent), outcome.result);
    return;
  }
  if (outcome.pid <= 0) {
    // Started and gone again: a failed recovery. It is not tried again at
    // once (an agent that cannot start would open window after window); a
    // recovery after an exit counts towards the throttle, the start of an
    // agent the user just locked online does not.
    const int seconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(timing_.relaunchSettle + std::chrono::milliseconds(999)).count());
    lifecycle::log("[Recover] ", entry, QStringLiteral(" FAIL: relaunched, but not running %1 s later").arg(seconds));
    record(entry.id, AgentEventType::exitedAbnormal, EventText::of(LocKey::evDetailRelaunchDidNotLast(seconds)));
    if (cause == Cause::exit && throttle_.noteDecision(entry.id, services_.clock())) throttleRepeats(entry);
    return;
  }
  lifecycle::log("[Recover] ", entry, QStringLiteral(" recovered pid=%1").arg(outcome.pid));
  // The pid the scan found; it also tells this relaunch apart from a user's
  // launch, which records the same type without details.
  record(entry.id, RecoveryPolicy::recoveredEventType(intent), QStringLiteral("pid=%1").arg(outcome.pid));
  // Seen running: watched from now on, so an exit a moment later is not
  // missed before the next scan.
  if (!watchedPids_.contains(outcome.pid) && watchExit(outcome.pid, entry.id)) {
    watchedPids_.insert(outcome.pid, entry.id);
    instanceOf_.insert(outcome.pid, Instance{outcome.pid, outcome.folder});
    if (outcome.folder) lastFolder_.insert(entry.id, *outcome.folder);
    record(entry.id, AgentEventType::started);
  }
}

void AgentLifecycleWatcher::relaunch(const AgentEntry& entry, bool byUser, const std::optional<QString>& folder,
                                     std::function<void(const Result&)> done) {
  using Strategy = AgentEntry::Recover::Strategy;
  if (!entry.recover || entry.recover->strategy == Strategy::openUrlScheme) {
    QMetaObject::invokeMethod(
        this, [done = std::move(done)] { done(Result::unsupported()); }, Qt::QueuedConnection);
    return;
  }
  const bool openApp = entry.recover->strategy == Strategy::openApp;
  startOffMain(
      this,
      [recover = recover_, entry, openApp, byUser, folder] {
        if (byUser) return openApp ? recover->userOpenApp(entry) : recover->userOpenCli(entry, folder);
        return openApp ? recover->recoverOpenApp(entry) : recover->recoverExecCli(entry, folder);
      },
      std::move(done));
}

void AgentLifecycleWatcher::handleRecoverResult(const AgentEntry& entry, AgentEventType eventType,
                                                const Result& result) {
  switch (result.kind) {
    case Result::Kind::launched:
      lifecycle::log("[Recover] ", entry, QStringLiteral(" recovered pid=%1").arg(result.pid));
      record(entry.id, eventType);
      return;
    case Result::Kind::failed:
      lifecycle::log("[Recover] ", entry, QStringLiteral(" FAIL: ") + result.reason);
      // One failed relaunch, not repeated failures; the details keep the
      // relaunch's reason as it logged it.
      record(entry.id, AgentEventType::throttled, result.reason,
             EventText::of(LocKey::evDetailRelaunchFailed({}), 0, EventText::of(result.reasonKey())));
      throttle(entry.id);
      return;
    case Result::Kind::unsupported:
      record(entry.id, AgentEventType::throttled, EventText::of(LocKey::evDetailNoRecoveryStrategy()));
      throttle(entry.id);
      return;
  }
}

void AgentLifecycleWatcher::throttle(const QString& agentId) {
  if (throttle_.throttle(agentId)) Q_EMIT throttledAgentsChanged();
}

void AgentLifecycleWatcher::clearThrottle(const QString& agentId) {
  if (throttle_.clear(agentId)) Q_EMIT throttledAgentsChanged();
}

// ---- Locked online ----

void AgentLifecycleWatcher::recoverOnDemand(const AgentEntry& entry) {
  if (throttle_.isThrottled(entry.id)) {
    lifecycle::log("[RecoverOnDemand] ", entry, QStringLiteral(" 跳过：处于节流期"));
    return;
  }
  lifecycle::log("[RecoverOnDemand] ", entry, QStringLiteral(" 用户主动开锁定 → 触发启动"));
  attemptRecover(entry, ExitIntent::normalExit, Instance{0, lastWorkingFolder(entry.id)}, Cause::lock);
}

}  // namespace tlr
