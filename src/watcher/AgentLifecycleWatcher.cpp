#include "watcher/AgentLifecycleWatcher.h"

#include "core/DoctorResultStore.h"
#include "core/Lang.h"
#include "core/LockOnlineStore.h"
#include "core/SettingsStore.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/OwnCommands.h"
#include "watcher/SignalledPids.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <csignal>

namespace tlr {
namespace {

void lifecycleLog(const char* tag, const AgentEntry& entry, const QString& message) {
  log(tag, entry.displayName + message);
}

QString signalText(int32_t status) {
  const int signal = status & 0x7F;
  return signal >= 1 && signal <= 126 ? QString::number(signal) : QStringLiteral("nil");
}

AgentEventType exitEventType(ExitIntent intent, bool locked) {
  switch (intent) {
    case ExitIntent::normalExit:
    case ExitIntent::unknown:
      return AgentEventType::exitedNormal;
    case ExitIntent::crash:
    case ExitIntent::abnormalExit:
      return AgentEventType::exitedAbnormal;
    case ExitIntent::oom:
      return AgentEventType::killedByOOM;
    case ExitIntent::forceKilled:
      return locked ? AgentEventType::exitedAbnormal : AgentEventType::exitedNormal;
  }
  return AgentEventType::exitedNormal;
}

AgentEventType recoveredEventType(ExitIntent intent) {
  return intent == ExitIntent::oom ? AgentEventType::oomRecovered : AgentEventType::recovered;
}

QString currentText(const LocKey& key) { return SettingsStore::dict(Lang::current(), key); }

void countDown(QHash<QString, int>& counts, const QString& agentId) {
  const auto found = counts.find(agentId);
  if (found == counts.end()) return;
  if (--found.value() <= 0) counts.erase(found);
}

}  // namespace

AgentLifecycleWatcher::Services AgentLifecycleWatcher::Services::shared() {
  Services services;
  services.events = &EventStore::shared();
  services.lockOnline = &LockOnlineStore::shared();
  services.doctorResults = &DoctorResultStore::shared();
  services.signalled = &SignalledPids::shared();
  services.classify = [](const RawExitInfo& raw, uint64_t ourSignals) {
    return ExitSignalClassifier::classify(raw, ourSignals, [] { return MemoryPressureReader::current(); });
  };
  services.runDoctor = [](const AgentEntry& entry) { return AgentDoctor().run(entry); };
  services.clock = &std::chrono::steady_clock::now;
  return services;
}

AgentLifecycleWatcher::AgentLifecycleWatcher(std::shared_ptr<const AgentRegistry> registry,
                                             std::shared_ptr<const AgentRecover> recover, Services services,
                                             Timing timing, QObject* parent)
    : QObject(parent),
      registry_(std::move(registry)),
      recover_(std::move(recover)),
      kqueue_(KqueueProcessWatcher::create()),
      services_(std::move(services)),
      timing_(timing) {}

AgentLifecycleWatcher::~AgentLifecycleWatcher() = default;

void AgentLifecycleWatcher::start() {
  if (!kqueue_) {
    log("[LifecycleWatcher] ", QStringLiteral("FAIL: kqueue init failed"));
    return;
  }
  if (started_) return;
  started_ = true;
  kqueue_->setOnExit([guard = QPointer<AgentLifecycleWatcher>(this)](pid_t pid, const QString& agentId,
                                                                     const RawExitInfo& info) {
    if (guard) guard->handleExit(pid, agentId, info);
  });
  kqueue_->start();
  log("[LifecycleWatcher] ", QStringLiteral("started; crashThreshold=%1/%2s")
                                 .arg(timing_.crashThreshold)
                                 .arg(qRound64(timing_.crashWindowSec)));
}

// ---- Reconciling with a scan ----

void AgentLifecycleWatcher::tick(const QList<RunningAgent>& currentRunning) {
  QHash<pid_t, QString> current;
  for (const RunningAgent& running : currentRunning) current.insert(running.pid, running.entry.id);

  for (const RunningAgent& running : currentRunning) {
    const QString& id = running.entry.id;
    const std::optional<AgentEvent> last = services_.events->lastEvent(id);
    const bool startedRecorded = last && last->type == AgentEventType::started;
    if (running.launchdManaged) {
      // launchd keeps it alive; we only keep its log current.
      if (!startedRecorded) record(id, AgentEventType::started);
      continue;
    }
    if (watchedPids_.contains(running.pid)) {
      if (waitingForDescriptor_.contains(running.pid)) watchExit(running.pid, id);
      continue;
    }
    // Its relaunch is being confirmed, which records it.
    if (relaunching_.contains(id)) continue;
    watchExit(running.pid, id);
    watchedPids_.insert(running.pid, id);
    if (!startedRecorded) record(id, AgentEventType::started);
    if (throttledAgents_.contains(id)) {
      clearThrottle(id);
      record(id, AgentEventType::restarted);
    }
  }

  const QList<pid_t> watched = watchedPids_.keys();
  for (pid_t pid : watched) {
    if (current.contains(pid)) continue;
    if (kqueue_) kqueue_->unwatch(pid);
    watchedPids_.remove(pid);
    waitingForDescriptor_.remove(pid);
  }
}

void AgentLifecycleWatcher::watchExit(pid_t pid, const QString& agentId) {
  if (!kqueue_) return;
  if (kqueue_->watch(pid, agentId) == KqueueProcessWatcher::WatchResult::noDescriptor)
    waitingForDescriptor_.insert(pid);
  else
    waitingForDescriptor_.remove(pid);
}

// ---- One exit ----

void AgentLifecycleWatcher::handleExit(pid_t pid, const QString& agentId, const RawExitInfo& raw) {
  watchedPids_.remove(pid);
  waitingForDescriptor_.remove(pid);
  const std::optional<AgentEntry> found = registry_->lookup(agentId);
  if (!found) return;
  const AgentEntry& entry = *found;

  Q_EMIT processExited(pid, agentId);
  // Signals we sent it: the end of our own stop, restart or uninstall.
  const SignalledPids::Sent ours = services_.signalled->take(pid);
  const ExitIntent intent = services_.classify(raw, ours.mask);
  // The name goes in as it is: a "%" in it is no place marker.
  log("[Exit] ", entry.displayName + QStringLiteral(" pid=%1 intent=%2 signal=%3 exit=%4")
                                         .arg(pid)
                                         .arg(toString(intent), signalText(raw.exitStatus))
                                         .arg((raw.exitStatus >> 8) & 0xFF));
  // Our own kill is no fault, locked online or not.
  record(agentId, exitEventType(intent, isLocked(agentId) && !ours));

  if (!shouldRecover(intent, isLocked(agentId))) return;
  if (ours || stopsInProgress_.contains(agentId) || OwnCommands::shared().isUninstalling(agentId)) {
    // The user asked for it to end; bringing it back would undo the Stop.
    lifecycleLog("[Skip] ", entry, QStringLiteral(" 由我们结束（停止/重启/卸载），不 recover"));
    return;
  }
  if (isRestarting(agentId)) {
    // The restart brings it back itself; a recovery now would start it twice.
    lifecycleLog("[Skip] ", entry, QStringLiteral(" 用户重启进行中，不 recover"));
    return;
  }
  if (hasOtherWatchedPid(agentId)) {
    lifecycleLog("[Skip] ", entry, QStringLiteral(" 还有其他 pid 在跑（watchedPids），不 recover"));
    return;
  }
  if (scanner_ && scanFinds(agentId)) {
    lifecycleLog("[Retry] ", entry, QStringLiteral(" re-scan 仍在跑，3s 后重试（可能是 multi-process 子进程残留）"));
    scheduleDelayedRecoveryCheck(entry, intent);
    return;
  }
  recoverOrThrottle(entry, intent);
}

bool AgentLifecycleWatcher::shouldRecover(ExitIntent intent, bool locked) {
  switch (intent) {
    case ExitIntent::crash:
    case ExitIntent::oom:
    case ExitIntent::abnormalExit:
      return true;
    case ExitIntent::normalExit:
    case ExitIntent::forceKilled:
      return locked;
    case ExitIntent::unknown:
      return false;
  }
  return false;
}

bool AgentLifecycleWatcher::isLocked(const QString& agentId) const {
  return services_.lockOnline->lockedIDs().contains(agentId);
}

bool AgentLifecycleWatcher::hasOtherWatchedPid(const QString& agentId) const {
  for (const QString& id : watchedPids_)
    if (id == agentId) return true;
  return false;
}

bool AgentLifecycleWatcher::scanFinds(const QString& agentId) const {
  for (const RunningAgent& running : scanner_->scan())
    if (running.entry.id == agentId) return true;
  return false;
}

// ---- The recovery policy ----

bool AgentLifecycleWatcher::shouldThrottleRecover(const QString& agentId) {
  const TimePoint now = services_.clock();
  const auto window = std::chrono::duration<double>(timing_.crashWindowSec);
  QList<TimePoint>& times = crashTimestamps_[agentId];
  times.removeIf([&](TimePoint t) { return now - t >= window; });
  times.append(now);
  return times.size() > timing_.crashThreshold;
}

void AgentLifecycleWatcher::recoverOrThrottle(const AgentEntry& entry, ExitIntent intent) {
  if (!shouldThrottleRecover(entry.id)) {
    attemptRecover(entry, intent);
    return;
  }
  throttle(entry.id);
  record(entry.id, AgentEventType::throttled);
  lifecycleLog("[Throttle] ", entry,
               QStringLiteral(" 60s 内 recover 超过 %1 次，停止").arg(timing_.crashThreshold));
}

void AgentLifecycleWatcher::scheduleDelayedRecoveryCheck(const AgentEntry& entry, ExitIntent intent) {
  QTimer::singleShot(timing_.secondLook, this, [this, entry, intent] {
    if (!scanner_ || isRestarting(entry.id)) return;
    if (scanFinds(entry.id)) {
      // It turned itself into a background service; the next tick picks up
      // its new pid.
      lifecycleLog("[Skip] ", entry, QStringLiteral(" 3s 后仍在跑（真 daemon 后台模式），不 recover"));
      return;
    }
    lifecycleLog("[Recover] ", entry, QStringLiteral(" 3s 后已无进程 → 触发 recover（multi-process 主进程已死）"));
    recoverOrThrottle(entry, intent);
  });
}

void AgentLifecycleWatcher::attemptRecover(const AgentEntry& entry, ExitIntent intent) {
  using Strategy = AgentEntry::Recover::Strategy;
  const AgentEventType eventType = recoveredEventType(intent);
  if (!scanner_ || !entry.recover || entry.recover->strategy == Strategy::openUrlScheme) {
    relaunch(entry, /*byUser=*/false,
             [this, entry, eventType](const Result& result) { handleRecoverResult(entry, eventType, result); });
    return;
  }
  // Until the relaunch is confirmed, the scans leave the agent to it.
  ++relaunching_[entry.id];
  const bool openApp = entry.recover->strategy == Strategy::openApp;
  startOffMain(
      this,
      [recover = recover_, scanner = scanner_, entry, openApp, settle = timing_.relaunchSettle] {
        Relaunch outcome;
        // Uninstalled meanwhile: nothing to bring back.
        if (!ProcessScanner::isInstalled(entry) && !AgentRecover::canStart(entry)) {
          outcome.installed = false;
          return outcome;
        }
        outcome.result = openApp ? recover->recoverOpenApp(entry) : recover->recoverExecCli(entry);
        if (!outcome.result.isLaunched()) return outcome;
        // A terminal or a desktop session reports no pid, and an agent that
        // cannot start (no network, a broken install) is gone within a
        // second: only a scan a few seconds on tells whether it runs.
        OffMainPool::pause(settle);
        outcome.pid = scanner->pidsOf(entry.id).value(0, 0);
        return outcome;
      },
      [this, entry, intent](const Relaunch& outcome) {
        countDown(relaunching_, entry.id);
        handleRelaunch(entry, intent, outcome);
      });
}

void AgentLifecycleWatcher::handleRelaunch(const AgentEntry& entry, ExitIntent intent, const Relaunch& outcome) {
  if (!outcome.installed) {
    lifecycleLog("[Recover] ", entry, QStringLiteral(" 未安装，不 recover"));
    return;
  }
  if (!outcome.result.isLaunched()) {
    handleRecoverResult(entry, recoveredEventType(intent), outcome.result);
    return;
  }
  if (outcome.pid <= 0) {
    // Started and gone again: a failed recovery, counted like any other.
    const int seconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(timing_.relaunchSettle + std::chrono::milliseconds(999)).count());
    lifecycleLog("[Recover] ", entry, QStringLiteral(" FAIL: relaunched, but not running %1 s later").arg(seconds));
    record(entry.id, AgentEventType::exitedAbnormal, currentText(LocKey::evDetailRelaunchDidNotLast(seconds)));
    recoverOrThrottle(entry, intent);
    return;
  }
  lifecycleLog("[Recover] ", entry, QStringLiteral(" recovered pid=%1").arg(outcome.pid));
  // The pid the scan found; it also tells this relaunch apart from a user's
  // launch, which records the same type without details.
  record(entry.id, recoveredEventType(intent), QStringLiteral("pid=%1").arg(outcome.pid));
  // Seen running: watched from now on, so an exit a moment later is not
  // missed before the next scan.
  if (!watchedPids_.contains(outcome.pid)) {
    watchExit(outcome.pid, entry.id);
    watchedPids_.insert(outcome.pid, entry.id);
    record(entry.id, AgentEventType::started);
  }
}

void AgentLifecycleWatcher::relaunch(const AgentEntry& entry, bool byUser, std::function<void(const Result&)> done) {
  using Strategy = AgentEntry::Recover::Strategy;
  if (!entry.recover || entry.recover->strategy == Strategy::openUrlScheme) {
    QMetaObject::invokeMethod(
        this, [done = std::move(done)] { done(Result::unsupported()); }, Qt::QueuedConnection);
    return;
  }
  const bool openApp = entry.recover->strategy == Strategy::openApp;
  startOffMain(
      this,
      [recover = recover_, entry, openApp, byUser] {
        if (byUser) return openApp ? recover->userOpenApp(entry) : recover->userOpenCli(entry);
        return openApp ? recover->recoverOpenApp(entry) : recover->recoverExecCli(entry);
      },
      std::move(done));
}

void AgentLifecycleWatcher::handleRecoverResult(const AgentEntry& entry, AgentEventType eventType,
                                                const Result& result) {
  switch (result.kind) {
    case Result::Kind::launched:
      lifecycleLog("[Recover] ", entry, QStringLiteral(" recovered pid=%1").arg(result.pid));
      record(entry.id, eventType);
      return;
    case Result::Kind::failed:
      lifecycleLog("[Recover] ", entry, QStringLiteral(" FAIL: ") + result.reason);
      record(entry.id, AgentEventType::throttled, result.reason);
      throttle(entry.id);
      return;
    case Result::Kind::unsupported:
      record(entry.id, AgentEventType::throttled, currentText(LocKey::evDetailNoRecoveryStrategy()));
      throttle(entry.id);
      return;
  }
}

void AgentLifecycleWatcher::throttle(const QString& agentId) {
  if (throttledAgents_.contains(agentId)) return;
  throttledAgents_.insert(agentId);
  Q_EMIT throttledAgentsChanged();
}

void AgentLifecycleWatcher::clearThrottle(const QString& agentId) {
  crashTimestamps_.insert(agentId, {});
  if (throttledAgents_.remove(agentId)) Q_EMIT throttledAgentsChanged();
}

// ---- First-time setup ----

void AgentLifecycleWatcher::handleSetupCompleted(const AgentEntry& entry) {
  record(entry.id, AgentEventType::restarted, currentText(LocKey::evDetailSetupCompleted()));
  lifecycleLog("[Setup] ", entry, QStringLiteral(" sentinel 触发 → 自动跑 doctor"));
  // The store outlives the watcher; the result is kept even if the watcher
  // goes first.
  runDoctor(entry, [store = services_.doctorResults, entry](const std::optional<AgentDoctor::Result>& result) {
    store->setResult(entry.id, result);
    if (result)
      lifecycleLog("[Setup] ", entry,
                   QStringLiteral(" 自动 doctor 完成 · %1 个已知问题").arg(result->detectedIssues.size()));
  });
}

void AgentLifecycleWatcher::runDoctor(const AgentEntry& entry,
                                      std::function<void(std::optional<AgentDoctor::Result>)> completion) {
  if (!scanner_) {
    completion(std::nullopt);
    return;
  }
  // The completion hears of the result even if the watcher has gone by then;
  // only the event needs the watcher.
  startOffMain(
      QCoreApplication::instance(),
      [run = services_.runDoctor, entry] {
        const OwnCommands::Scope checking(entry.id, OwnCommands::Purpose::check);
        return run(entry);
      },
      [self = QPointer<AgentLifecycleWatcher>(this), entry,
       completion = std::move(completion)](std::optional<AgentDoctor::Result> result) {
        if (self && result) self->record(entry.id, AgentEventType::restarted, AgentDoctor::summaryEventText(*result));
        completion(std::move(result));
      });
}

void AgentLifecycleWatcher::record(const QString& agentId, AgentEventType type, std::optional<QString> details) {
  services_.events->append(AgentEvent::make(agentId, type, std::move(details)));
}

// ---- The user's actions: launch, stop, restart, doctor, fix, setup, and the
// start of an agent that was just locked online ----

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
  lifecycleLog("[Launch] ", entry, QStringLiteral(" 用户点「打开」"));
  clearThrottle(entry.id);
  relaunch(entry, /*byUser=*/true, [this, entry, completion = std::move(completion)](const Result& result) {
    bool launched = false;
    switch (result.kind) {
      case Result::Kind::launched:
        lifecycleLog("[Launch] ", entry, QStringLiteral(" opened pid=%1").arg(result.pid));
        record(entry.id, AgentEventType::recovered);
        launched = true;
        break;
      case Result::Kind::failed:
        lifecycleLog("[Launch] ", entry, QStringLiteral(" FAIL: ") + result.reason);
        break;
      case Result::Kind::unsupported:
        lifecycleLog("[Launch] ", entry, QStringLiteral(" unsupported strategy"));
        break;
    }
    if (!launched)
      Q_EMIT userActionFailed({UserActionFailure::Action::launch, entry.displayName, result});
    if (completion) completion(launched);
  });
}

void AgentLifecycleWatcher::stopOnUserClick(const AgentEntry& entry, std::function<void(bool)> completion) {
  lifecycleLog("[Stop] ", entry, QStringLiteral(" 用户点[退出]"));
  if (!scanner_) {
    if (completion) completion(false);
    return;
  }
  // The caller hears the outcome even if the watcher has gone by then.
  ++stopsInProgress_[entry.id];
  startOffMain(
      QCoreApplication::instance(),
      [recover = recover_, scanner = scanner_, entry] { return recover->stopAgent(entry, *scanner); },
      [self = QPointer<AgentLifecycleWatcher>(this), entry, completion = std::move(completion)](const Result& result) {
        const bool stopped = result.kind != Result::Kind::failed;
        if (self) {
          countDown(self->stopsInProgress_, entry.id);
          self->record(entry.id, AgentEventType::restarted,
                       currentText(stopped ? LocKey::evDetailUserStop() : LocKey::evDetailStopFailed()));
        }
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

void AgentLifecycleWatcher::endRestart(const QString& agentId) { countDown(restartsInProgress_, agentId); }

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
  startOffMain(
      QCoreApplication::instance(),
      [fix = services_.applyFix, issue, id = entry.id] {
        const OwnCommands::Scope repairing(id, OwnCommands::Purpose::check);
        return fix(issue);
      },
      [self = QPointer<AgentLifecycleWatcher>(this), entry, issue,
       completion = std::move(completion)](const AgentDoctor::FixResult& fix) {
        const QString text = AgentDoctor::fixEventText(issue, fix);
        if (self) self->record(entry.id, AgentEventType::restarted, text);
        lifecycleLog("[Doctor] ", entry, QLatin1Char(' ') + text);
        completion(fix);
      });
}

void AgentLifecycleWatcher::runSetupOnUserClick(const AgentEntry& entry) {
  lifecycleLog("[Setup] ", entry, QStringLiteral(" 用户点「配置」"));
  auto onCompleted = [self = QPointer<AgentLifecycleWatcher>(this), entry] {
    if (self) self->handleSetupCompleted(entry);
  };
  startOffMain(
      this,
      [recover = recover_, entry, onCompleted = std::move(onCompleted)] {
        return recover->userSetupWithCompletion(entry, onCompleted);
      },
      [this, entry](const Result& result) { handleSetupResult(entry, result); });
}

void AgentLifecycleWatcher::handleSetupResult(const AgentEntry& entry, const Result& result) {
  switch (result.kind) {
    case Result::Kind::launched:
      lifecycleLog("[Setup] ", entry, QStringLiteral(" Terminal opened for setup"));
      return;
    case Result::Kind::failed:
      lifecycleLog("[Setup] ", entry, QStringLiteral(" FAIL: ") + result.reason);
      Q_EMIT userActionFailed({UserActionFailure::Action::setup, entry.displayName, result});
      return;
    case Result::Kind::unsupported:
      return;
  }
}

void AgentLifecycleWatcher::recoverOnDemand(const AgentEntry& entry) {
  if (throttledAgents_.contains(entry.id)) {
    lifecycleLog("[RecoverOnDemand] ", entry, QStringLiteral(" 跳过：处于节流期"));
    return;
  }
  lifecycleLog("[RecoverOnDemand] ", entry, QStringLiteral(" 用户主动开锁定 → 触发启动"));
  attemptRecover(entry, ExitIntent::normalExit);
}

}  // namespace tlr
