#include "watcher/AgentLifecycleWatcher.h"

#include "core/stores/DoctorResultStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/system/OomKillWitness.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/OwnCommands.h"
#include "platform/Paths.h"
#include "watcher/AgentLifecycleParts.h"
#include "watcher/SignalledPids.h"

#include <QTimer>

#include <atomic>

#include <sys/wait.h>

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
  services.isUninstalling = [](const QString& agentId) { return OwnCommands::shared().isUninstalling(agentId); };
  services.uninstallsBegun = [](const QString& agentId) { return OwnCommands::shared().uninstallsBegun(agentId); };
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
  // Judged and written to the log on the exit watcher's thread, the moment
  // it is known; the rest on the main thread.
  kqueue_->setOnExitOnItsThread(
      [registry = registry_, signalled = services_.signalled, classify = services_.classify,
       handle = whileAlive(this, [this](const Notice& notice) { handleNotice(notice); })](
          pid_t pid, const QString& agentId, const RawExitInfo& raw) {
        handle(notice(*registry, *signalled, classify, pid, agentId, raw));
      });
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
      if (watchedPids_.value(running.pid) == id) remember(running);
      continue;
    }
    // Its relaunch is being confirmed, which records it.
    if (relaunching_.contains(id)) continue;
    if (!watchExit(running.pid, id)) continue;
    watchedPids_.insert(running.pid, id);
    remember(running);
    Instance& instance = instanceOf_[running.pid];
    // A start of the user's through us: on trial like a relaunch.
    if (const auto expected = expectedStarts_.constFind(id); expected != expectedStarts_.cend()) {
      if (services_.clock() - *expected < timing_.startTrial)
        instance.startedByUs = *expected;
      else
        expectedStarts_.erase(expected);
    }
    if (!startedRecorded) record(id, AgentEventType::started);
    // Seen running again where it was throttled: that instance is free.
    if (throttle_.clear(id, throttleFolder(instance))) {
      Q_EMIT throttledAgentsChanged();
      // No details, as before keys were kept.
      record(id, AgentEventType::restarted, std::nullopt, EventText::of(LocKey::evDetailRecoveryResumed()));
    }
  }

  const QList<pid_t> watched = watchedPids_.keys();
  for (pid_t pid : watched) {
    if (current.contains(pid)) continue;
    // Ended, and missing from a scan that overtook its exit notice: the exit
    // still needs what is known of it (its out-of-memory counts, its
    // instance and folder), and lets go of it itself.
    if (kqueue_ && !kqueue_->unwatch(pid)) continue;
    if (services_.oom) services_.oom->forget(pid);
    watchedPids_.remove(pid);
    instanceOf_.remove(pid);
    waitingForDescriptor_.remove(pid);
  }
}

void AgentLifecycleWatcher::remember(const RunningAgent& running) {
  Instance& known = instanceOf_[running.pid];
  if (known.pid == 0) known.pid = running.instancePid > 0 ? running.instancePid : running.pid;
  // A helper of an instance we started is on the same trial.
  if (!known.startedByUs && known.pid != running.pid)
    if (const auto first = instanceOf_.constFind(known.pid); first != instanceOf_.cend())
      known.startedByUs = first->startedByUs;
  if (running.workingFolder) {
    known.folder = running.workingFolder;
    lastFolder_.insert(running.entry.id, *running.workingFolder);
  }
}

std::optional<QString> AgentLifecycleWatcher::lastWorkingFolder(const QString& agentId) const {
  const auto found = lastFolder_.constFind(agentId);
  if (found == lastFolder_.constEnd()) return std::nullopt;
  return *found;
}

bool AgentLifecycleWatcher::watchExit(pid_t pid, const QString& agentId) {
  if (!kqueue_) return true;
  if (services_.oom) services_.oom->watched(pid);
  const KqueueProcessWatcher::WatchResult result = kqueue_->watch(pid, agentId);
  if (result == KqueueProcessWatcher::WatchResult::noDescriptor)
    waitingForDescriptor_.insert(pid);
  else
    waitingForDescriptor_.remove(pid);
  if (result != KqueueProcessWatcher::WatchResult::reported) return true;
  if (services_.oom) services_.oom->forget(pid);
  return false;
}

// ---- One exit ----

AgentLifecycleWatcher::Notice AgentLifecycleWatcher::notice(const AgentRegistry& registry, SignalledPids& signalled,
                                                            const Classifier& classify, pid_t pid,
                                                            const QString& agentId, const RawExitInfo& raw) {
  Notice notice{pid, agentId, raw, registry.lookup(agentId), {}, ExitIntent::unknown};
  if (!notice.entry) return notice;
  // Signals we sent it: the end of our own stop, restart or uninstall.
  notice.ours = signalled.take(pid);
  notice.intent = classify(raw, notice.ours.mask);
  // The name goes in as it is: a "%" in it is no place marker.
  log("[Exit] ", notice.entry->displayName + QStringLiteral(" pid=%1 intent=%2 signal=%3 exit=%4")
                                                 .arg(pid)
                                                 .arg(toString(notice.intent), signalText(raw.exitStatus))
                                                 .arg((raw.exitStatus >> 8) & 0xFF));
  return notice;
}

void AgentLifecycleWatcher::handleExit(pid_t pid, const QString& agentId, const RawExitInfo& raw) {
  handleNotice(notice(*registry_, *services_.signalled, services_.classify, pid, agentId, raw));
}

void AgentLifecycleWatcher::handleNotice(const Notice& notice) {
  const pid_t pid = notice.pid;
  const QString& agentId = notice.agentId;
  watchedPids_.remove(pid);
  waitingForDescriptor_.remove(pid);
  Instance instance = instanceOf_.take(pid);
  if (instance.pid == 0) instance.pid = pid;
  if (!instance.folder) instance.folder = lastWorkingFolder(agentId);
  instance.endedAt = notice.at;
  if (services_.oom) services_.oom->forget(pid);
  if (!notice.entry) return;
  const AgentEntry& entry = *notice.entry;
  const SignalledPids::Sent& ours = notice.ours;
  const ExitIntent intent = notice.intent;

  Q_EMIT processExited(pid, agentId);
  // Another of its processes lives on (a worker the agent restarts itself,
  // the second process of a stop): not the agent's end, and no row of its
  // own. Another instance (a session the user started elsewhere) does not
  // stand in for this one.
  const bool sibling = hasOtherWatchedPid(agentId, instance.pid);
  if (sibling) {
    lifecycle::log("[Skip] ", entry, QStringLiteral(" 还有其他 pid 在跑（watchedPids），不 recover"));
    return;
  }
  // The user's stop or restart writes the one row that says what happened.
  const bool usersAction = ours.byUsersAction || stopsInProgress_.contains(agentId) || isRestarting(agentId);
  const RawExitInfo& raw = notice.raw;
  const bool atStart = !usersAction && endedAtStart(instance, raw, bool(ours));
  // Our own kill is no fault, locked online or not.
  const AgentEventType exitType = RecoveryPolicy::exitEventType(intent, isLocked(agentId) && !ours);
  if (atStart) {
    // Ended by itself before it ever ran for good (the user answered a
    // question at start with "No, exit", nothing to continue, no login):
    // bringing it back would ask again. Its instance waits.
    const int status = (raw.exitStatus >> 8) & 0xFF;
    lifecycle::log("[Recover] ", entry, QStringLiteral(" ended at start (exit %1), not started again").arg(status));
    record(agentId, exitType, EventText::of(LocKey::evDetailEndedAtStart(status)));
    throttle(agentId, instance);
    return;
  }
  if (!usersAction) record(agentId, exitType);

  if (!RecoveryPolicy::shouldRecover(intent, isLocked(agentId))) return;
  if (ours || stopsInProgress_.contains(agentId) || services_.isUninstalling(agentId)) {
    // The user asked for it to end; bringing it back would undo the Stop.
    lifecycle::log("[Skip] ", entry, QStringLiteral(" 由我们结束（停止/重启/卸载），不 recover"));
    return;
  }
  if (isRestarting(agentId)) {
    // The restart brings it back itself; a recovery now would start it twice.
    lifecycle::log("[Skip] ", entry, QStringLiteral(" 用户重启进行中，不 recover"));
    return;
  }
  if (!scanner_) {
    recoverOrThrottle(entry, intent, instance);
    return;
  }
  // The confirming scan reads /proc, which the window thread never waits for.
  scanThen([this, entry, intent, instance](const QList<RunningAgent>& all) {
    if (isRestarting(entry.id)) return;
    if (stillRuns(all, entry.id, instance)) {
      lifecycle::log("[Retry] ", entry,
                     QStringLiteral(" re-scan 仍在跑，3s 后重试（可能是 multi-process 子进程残留）"));
      scheduleDelayedRecoveryCheck(entry, intent, instance);
      return;
    }
    recoverOrThrottle(entry, intent, instance);
  });
}

QString AgentLifecycleWatcher::throttleFolder(const Instance& instance) {
  return instance.folder.value_or(Paths::home());
}

bool AgentLifecycleWatcher::endedAtStart(const Instance& instance, const RawExitInfo& raw, bool ours) const {
  if (ours || !instance.startedByUs || services_.clock() - *instance.startedByUs >= timing_.startTrial) return false;
  // By itself, with an exit status: a crash, a kill or an out-of-memory end
  // is a fault to recover.
  return WIFEXITED(raw.exitStatus);
}

bool AgentLifecycleWatcher::isLocked(const QString& agentId) const {
  return services_.lockOnline->lockedIDs().contains(agentId);
}

bool AgentLifecycleWatcher::hasOtherWatchedPid(const QString& agentId, pid_t instance) const {
  // Another instance of the agent (a session the user started elsewhere)
  // does not stand in for this one.
  for (auto it = watchedPids_.cbegin(); it != watchedPids_.cend(); ++it)
    if (it.value() == agentId && instanceOf_.value(it.key()).pid == instance) return true;
  return false;
}

bool AgentLifecycleWatcher::stillRuns(const QList<RunningAgent>& all, const QString& agentId,
                                      const Instance& instance) const {
  QSet<pid_t> otherInstances;
  for (auto it = watchedPids_.cbegin(); it != watchedPids_.cend(); ++it) {
    if (it.value() != agentId) continue;
    const pid_t of = instanceOf_.value(it.key()).pid;
    if (of != instance.pid) otherInstances << of << it.key();
  }
  // Started after the instance ended, or after a relaunch of the agent
  // under way began: another instance's relaunch, not yet confirmed (two
  // crashes at once), never what is left of this one.
  std::optional<QDateTime> since = instance.endedAt;
  for (const QDateTime& begun : relaunchesSince_.value(agentId))
    if (!since || begun < *since) since = begun;
  const auto startedSince = [&](const RunningAgent& r) { return since && r.launchDate && *r.launchDate > *since; };
  return std::any_of(all.cbegin(), all.cend(), [&](const RunningAgent& r) {
    return r.entry.id == agentId && !r.parentAgentId && !otherInstances.contains(r.pid) &&
           !otherInstances.contains(r.instancePid) && !startedSince(r);
  });
}

struct AgentLifecycleWatcher::SharedScan {
  std::atomic<bool> begun{false};
  // Main thread only.
  QList<std::function<void(const QList<RunningAgent>&)>> waiting;
};

void AgentLifecycleWatcher::scanThen(std::function<void(const QList<RunningAgent>&)> then) {
  // Not begun when looked at, so it begins after whatever the caller saw.
  if (nextScan_ && !nextScan_->begun.load()) {
    nextScan_->waiting.append(std::move(then));
    return;
  }
  auto scan = std::make_shared<SharedScan>();
  scan->waiting.append(std::move(then));
  nextScan_ = scan;
  // A walk of /proc costs milliseconds: the exits of a burst (a crash that
  // takes an agent's processes with it, a storm of them) gather for a
  // moment and share one.
  QTimer::singleShot(kScanGathering, this, [this, scan] {
    const bool started = startOffMain(
        this,
        [scanner = scanner_, scan] {
          scan->begun = true;
          return scanner->scanAll();
        },
        [this, scan](const QList<RunningAgent>& all) {
          if (nextScan_ == scan) nextScan_.reset();
          for (const auto& waiting : std::as_const(scan->waiting)) waiting(all);
        });
    if (!started && nextScan_ == scan) nextScan_.reset();  // quitting
  });
}

void AgentLifecycleWatcher::record(const QString& agentId, AgentEventType type, std::optional<QString> details,
                                   std::optional<EventText> text) {
  services_.events->append(AgentEvent::make(agentId, type, std::move(details), std::move(text)));
}

void AgentLifecycleWatcher::record(const QString& agentId, AgentEventType type, const EventText& text) {
  record(agentId, type, text.say(Lang::current()).value_or(QString()), text);
}

}  // namespace tlr
