#include "watcher/AgentLifecycleWatcher.h"

#include "platform/Log.h"
#include "platform/OffMain.h"
#include "watcher/InstanceTerminals.h"
#include "watcher/AgentLifecycleParts.h"

#include <QMetaObject>
#include <QTimer>

// Bringing an agent back after an exit the policy recovers, within the
// relaunch throttle; and the start of an agent that was just locked online.

namespace tlr {

void AgentLifecycleWatcher::recoverOrThrottle(const AgentEntry& entry, ExitIntent intent, const Instance& instance) {
  if (!throttle_.noteDecision(entry.id, throttleFolder(instance), services_.clock())) {
    attemptRecover(entry, intent, instance);
    return;
  }
  throttleRepeats(entry, instance);
}

void AgentLifecycleWatcher::throttleRepeats(const AgentEntry& entry, const Instance& instance) {
  throttle(entry.id, instance);
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
      if (stillRuns(all, entry.id, instance)) {
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

void AgentLifecycleWatcher::attemptRecover(const AgentEntry& entry, ExitIntent intent, const Instance& instance) {
  using Strategy = AgentEntry::Recover::Strategy;
  const AgentEventType eventType = RecoveryPolicy::recoveredEventType(intent);
  if (!scanner_ || !entry.recover || entry.recover->strategy == Strategy::openUrlScheme) {
    relaunch(entry, /*byUser=*/false, instance.folder, [this, entry, eventType, instance](const Result& result) {
      handleRecoverResult(entry, eventType, instance, result);
    });
    return;
  }
  // Until the relaunch is confirmed, the scans leave the agent to it.
  ++relaunching_[entry.id];
  const QDateTime begun = QDateTime::currentDateTimeUtc();
  relaunchesSince_[entry.id].append(begun);
  const bool openApp = entry.recover->strategy == Strategy::openApp;
  startOffMain(
      this,
      [recover = recover_, scanner = scanner_, entry, openApp, folder = instance.folder,
       settle = timing_.relaunchSettle, opensWithin = timing_.windowOpensWithin] {
        Relaunch outcome;
        // Uninstalled meanwhile: nothing to bring back.
        if (!ProcessScanner::isInstalled(entry) && !AgentRecover::canStart(entry)) {
          outcome.installed = false;
          return outcome;
        }
        const QString where = AgentRecover::startFolder(folder);
        // One start, confirmed by a scan a few seconds on: a terminal or a
        // desktop session reports no pid, and an agent that cannot start (no
        // network, a broken install, nothing to continue) is gone within a
        // second.
        const auto startAndFind = [&](bool plain) {
          // The agent's other instances, which are no sign of this one.
          QSet<pid_t> before;
          for (const RunningAgent& r : scanner->scanAll())
            if (r.entry.id == entry.id) before << r.pid;
          outcome.result = openApp ? recover->recoverOpenApp(entry) : recover->recoverExecCli(entry, folder, plain);
          if (!outcome.result.isLaunched()) return false;
          const QString& endedFile = outcome.result.endedFile;
          if (endedFile.isEmpty())
            OffMainPool::pause(settle);
          else
            InstanceTerminals::waitUntilSettled({endedFile}, settle, opensWithin);
          // The windows the instance had before are done with by now, also
          // one whose command had not quite ended when this one opened.
          if (!openApp) recover->terminals().closeEnded(entry.id, where, endedFile);
          QList<RunningAgent> all = scanner->scanAll();
          const RunningAgent* started = newProcess(all, entry.id, before, where);
          // Its command began a while ago, but the agent itself only now: it
          // has the same time to last.
          if (started && started->launchDate && !endedFile.isEmpty()) {
            const qint64 left = settle.count() - started->launchDate->msecsTo(QDateTime::currentDateTimeUtc());
            if (left > 0 && OffMainPool::pause(std::chrono::milliseconds(left))) {
              all = scanner->scanAll();
              started = newProcess(all, entry.id, before, where);
            }
          }
          if (started) {
            outcome.pid = started->pid;
            outcome.folder = started->workingFolder;
            return true;
          }
          outcome.endedStatus = InstanceTerminals::endedStatus(endedFile);
          return false;
        };
        if (startAndFind(false)) return outcome;
        // The continuing command ended at once (nothing to continue in this
        // folder): a new session there brings the agent back.
        if (outcome.endedStatus && AgentRecover::endedWithNothingToContinue(entry, outcome.result)) {
          log("[Recover] ", entry.id + QStringLiteral(" 继续会话的命令随即结束 (exit %1) → 新会话").arg(*outcome.endedStatus));
          outcome.plain = true;
          outcome.endedStatus.reset();
          startAndFind(true);
        }
        return outcome;
      },
      [this, entry, intent, instance, begun](const Relaunch& outcome) {
        lifecycle::countDown(relaunching_, entry.id);
        if (auto found = relaunchesSince_.find(entry.id); found != relaunchesSince_.end()) {
          found->removeOne(begun);
          if (found->isEmpty()) relaunchesSince_.erase(found);
        }
        handleRelaunch(entry, intent, instance, outcome);
      });
}

void AgentLifecycleWatcher::handleRelaunch(const AgentEntry& entry, ExitIntent intent, const Instance& instance,
                                           const Relaunch& outcome) {
  if (!outcome.installed) {
    lifecycle::log("[Recover] ", entry, QStringLiteral(" 未安装，不 recover"));
    return;
  }
  if (!outcome.result.isLaunched()) {
    handleRecoverResult(entry, RecoveryPolicy::recoveredEventType(intent), instance, outcome.result);
    return;
  }
  if (outcome.pid <= 0) {
    // Started and gone again: it ended at start. It is not tried again (an
    // agent that cannot start would open window after window, and one the
    // user told to exit would come back): its instance waits, throttled,
    // until it runs there again or the user starts it.
    if (outcome.endedStatus) {
      lifecycle::log("[Recover] ", entry,
                     QStringLiteral(" FAIL: relaunched, ended at start (exit %1)").arg(*outcome.endedStatus));
      record(entry.id, *outcome.endedStatus == 0 ? AgentEventType::exitedNormal : AgentEventType::exitedAbnormal,
             EventText::of(LocKey::evDetailEndedAtStart(*outcome.endedStatus)));
    } else {
      const int seconds = static_cast<int>(
          std::chrono::duration_cast<std::chrono::seconds>(timing_.relaunchSettle + std::chrono::milliseconds(999))
              .count());
      lifecycle::log("[Recover] ", entry, QStringLiteral(" FAIL: relaunched, but not running %1 s later").arg(seconds));
      record(entry.id, AgentEventType::exitedAbnormal, EventText::of(LocKey::evDetailRelaunchDidNotLast(seconds)));
    }
    throttle(entry.id, instance);
    return;
  }
  lifecycle::log("[Recover] ", entry,
                 QStringLiteral(" recovered pid=%1").arg(outcome.pid) + (outcome.plain ? QStringLiteral(" (new session)") : QString()));
  // The pid the scan found; it also tells this relaunch apart from a user's
  // launch, which records the same type without details.
  record(entry.id, RecoveryPolicy::recoveredEventType(intent), QStringLiteral("pid=%1").arg(outcome.pid));
  // Seen running: watched from now on, so an exit a moment later is not
  // missed before the next scan; on trial, as a start of ours.
  if (!watchedPids_.contains(outcome.pid) && watchExit(outcome.pid, entry.id)) {
    watchedPids_.insert(outcome.pid, entry.id);
    instanceOf_.insert(outcome.pid, Instance{outcome.pid, outcome.folder, services_.clock(), std::nullopt});
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
                                                const Instance& instance, const Result& result) {
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
      throttle(entry.id, instance);
      return;
    case Result::Kind::unsupported:
      record(entry.id, AgentEventType::throttled, EventText::of(LocKey::evDetailNoRecoveryStrategy()));
      throttle(entry.id, instance);
      return;
  }
}

void AgentLifecycleWatcher::throttle(const QString& agentId, const Instance& instance) {
  if (throttle_.throttle(agentId, throttleFolder(instance))) Q_EMIT throttledAgentsChanged();
}

void AgentLifecycleWatcher::clearThrottle(const QString& agentId) {
  if (throttle_.clearAgent(agentId)) Q_EMIT throttledAgentsChanged();
}

void AgentLifecycleWatcher::expectStart(const QString& agentId) { expectedStarts_.insert(agentId, services_.clock()); }

// ---- Locked online ----

void AgentLifecycleWatcher::recoverOnDemand(const AgentEntry& entry) {
  const Instance instance{0, lastWorkingFolder(entry.id), std::nullopt, std::nullopt};
  if (throttle_.isThrottled(entry.id, throttleFolder(instance))) {
    lifecycle::log("[RecoverOnDemand] ", entry, QStringLiteral(" 跳过：处于节流期"));
    return;
  }
  lifecycle::log("[RecoverOnDemand] ", entry, QStringLiteral(" 用户主动开锁定 → 触发启动"));
  attemptRecover(entry, ExitIntent::normalExit, instance);
}

}  // namespace tlr
