#include "watcher/AgentLifecycleWatcher.h"

#include "core/stores/DoctorResultStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/system/OomKillWitness.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/OwnCommands.h"
#include "watcher/AgentLifecycleParts.h"
#include "watcher/SignalledPids.h"


// Watching: the pids each scan finds, their exits, and what is recorded.

namespace tlr {
namespace {

QString signalText(int32_t status) {
  const int signal = status & 0x7F;
  return signal >= 1 && signal <= 126 ? QString::number(signal) : QStringLiteral("nil");
}

}  // namespace

AgentLifecycleWatcher::Services AgentLifecycleWatcher::Services::shared() {
  Services services;
  services.events = &EventStore::shared();
  services.lockOnline = &LockOnlineStore::shared();
  services.doctorResults = &DoctorResultStore::shared();
  services.signalled = &SignalledPids::shared();
  services.oom = std::make_shared<OomKillWitness>();
  services.classify = systemClassifier(services.oom);
  services.runDoctor = [](const AgentEntry& entry) { return AgentDoctor().run(entry); };
  services.clock = &std::chrono::steady_clock::now;
  return services;
}

AgentLifecycleWatcher::Classifier AgentLifecycleWatcher::Services::systemClassifier(
    std::shared_ptr<OomKillWitness> oom) {
  return [oom = std::move(oom)](const RawExitInfo& raw, uint64_t ourSignals) {
    return ExitSignalClassifier::classify(raw, ourSignals, [&] { return oom->counted(raw.pid); });
  };
}

AgentLifecycleWatcher::AgentLifecycleWatcher(std::shared_ptr<const AgentRegistry> registry,
                                             std::shared_ptr<const AgentRecover> recover, Services services,
                                             Timing timing, QObject* parent)
    : QObject(parent),
      registry_(std::move(registry)),
      recover_(std::move(recover)),
      kqueue_(KqueueProcessWatcher::create()),
      services_(std::move(services)),
      timing_(timing),
      throttle_(timing.crashWindowSec, timing.crashThreshold) {}

AgentLifecycleWatcher::~AgentLifecycleWatcher() = default;

void AgentLifecycleWatcher::start() {
  if (!kqueue_) {
    log("[LifecycleWatcher] ", QStringLiteral("FAIL: kqueue init failed"));
    return;
  }
  if (started_) return;
  started_ = true;
  kqueue_->setOnExit(whileAlive(
      this, [this](pid_t pid, const QString& agentId, const RawExitInfo& info) { handleExit(pid, agentId, info); }));
  kqueue_->start();
  log("[LifecycleWatcher] ",
      QStringLiteral("started; crashThreshold=%1/%2").arg(throttle_.threshold()).arg(throttle_.windowText()));
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
    if (throttle_.isThrottled(id)) {
      clearThrottle(id);
      record(id, AgentEventType::restarted);
    }
  }

  const QList<pid_t> watched = watchedPids_.keys();
  for (pid_t pid : watched) {
    if (current.contains(pid)) continue;
    if (kqueue_) kqueue_->unwatch(pid);
    if (services_.oom) services_.oom->forget(pid);
    watchedPids_.remove(pid);
    waitingForDescriptor_.remove(pid);
  }
}

void AgentLifecycleWatcher::watchExit(pid_t pid, const QString& agentId) {
  if (!kqueue_) return;
  if (services_.oom) services_.oom->watched(pid);
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
  if (services_.oom) services_.oom->forget(pid);
  // The name goes in as it is: a "%" in it is no place marker.
  log("[Exit] ", entry.displayName + QStringLiteral(" pid=%1 intent=%2 signal=%3 exit=%4")
                                         .arg(pid)
                                         .arg(toString(intent), signalText(raw.exitStatus))
                                         .arg((raw.exitStatus >> 8) & 0xFF));
  // Our own kill is no fault, locked online or not.
  record(agentId, RecoveryPolicy::exitEventType(intent, isLocked(agentId) && !ours));

  if (!RecoveryPolicy::shouldRecover(intent, isLocked(agentId))) return;
  if (ours || stopsInProgress_.contains(agentId) || OwnCommands::shared().isUninstalling(agentId)) {
    // The user asked for it to end; bringing it back would undo the Stop.
    lifecycle::log("[Skip] ", entry, QStringLiteral(" 由我们结束（停止/重启/卸载），不 recover"));
    return;
  }
  if (isRestarting(agentId)) {
    // The restart brings it back itself; a recovery now would start it twice.
    lifecycle::log("[Skip] ", entry, QStringLiteral(" 用户重启进行中，不 recover"));
    return;
  }
  if (hasOtherWatchedPid(agentId)) {
    lifecycle::log("[Skip] ", entry, QStringLiteral(" 还有其他 pid 在跑（watchedPids），不 recover"));
    return;
  }
  if (scanner_ && scanFinds(agentId)) {
    lifecycle::log("[Retry] ", entry, QStringLiteral(" re-scan 仍在跑，3s 后重试（可能是 multi-process 子进程残留）"));
    scheduleDelayedRecoveryCheck(entry, intent);
    return;
  }
  recoverOrThrottle(entry, intent);
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

void AgentLifecycleWatcher::record(const QString& agentId, AgentEventType type, std::optional<QString> details) {
  services_.events->append(AgentEvent::make(agentId, type, std::move(details)));
}

}  // namespace tlr
