#include "presentation/AgentDetailSession.h"

#include "core/stores/DoctorResultStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/system/DesktopOpen.h"
#include "platform/LaunchdStatus.h"
#include "platform/Log.h"
#include "platform/LoginShell.h"
#include "platform/OffMain.h"
#include "presentation/AgentDetailLogic.h"
#include "watcher/AgentTerminal.h"
#include "watcher/LaunchdJobControl.h"

#include <QCoreApplication>
#include <QTimer>

namespace tlr {

AgentDetailSession::Stores AgentDetailSession::Stores::shared() {
  Stores stores;
  stores.lockOnline = &LockOnlineStore::shared();
  stores.events = &EventStore::shared();
  stores.doctorResults = &DoctorResultStore::shared();
  return stores;
}

AgentDetailSession::AgentDetailSession(const DashboardAgentItem& item, AgentDetailCallbacks callbacks, Stores stores,
                                       QObject* parent)
    : QObject(parent), item_(item), callbacks_(std::move(callbacks)), stores_(std::move(stores)) {
  connect(stores_.lockOnline, &LockOnlineStore::lockedIDsChanged, this, &AgentDetailSession::changed);
  connect(stores_.events, &EventStore::eventsChanged, this, &AgentDetailSession::eventsChanged);
  connect(stores_.doctorResults, &DoctorResultStore::resultsChanged, this, &AgentDetailSession::bannerChanged);
  connect(stores_.doctorResults, &DoctorResultStore::runningIdsChanged, this, &AgentDetailSession::bannerChanged);
}

bool AgentDetailSession::isLocked() const { return stores_.lockOnline->isLocked(item_.entry.id); }

std::optional<SetupCatalog::Action> AgentDetailSession::setupAction() const {
  return callbacks_.onSetup ? item_.setupAction : std::nullopt;
}

bool AgentDetailSession::offersRestart() const { return item_.isRunning && callbacks_.onRestart; }

bool AgentDetailSession::offersDoctor() const { return item_.entry.doctor.has_value() && callbacks_.onDoctor; }

bool AgentDetailSession::offersUninstall() const { return AgentDetailLogic::offersUninstall(item_.entry); }

bool AgentDetailSession::isDoctorChecking() const {
  // A manual run replaces the result as much as an automatic one.
  return doctorRunning_ || stores_.doctorResults->runningIds().contains(item_.entry.id);
}

std::optional<AgentDoctor::Result> AgentDetailSession::storedDoctorResult() const {
  return stores_.doctorResults->result(item_.entry.id);
}

QList<AgentEvent> AgentDetailSession::recentEvents() const {
  return stores_.events->recentEvents(item_.entry.id, kRecentEvents);
}

void AgentDetailSession::setItem(const DashboardAgentItem& item) {
  item_ = item;
  Q_EMIT changed();
}

void AgentDetailSession::launch() {
  if (launching_ || !callbacks_.onLaunch) return;
  launching_ = true;
  Q_EMIT changed();
  callbacks_.onLaunch(whileAlive(this, [this](bool) {
    launching_ = false;
    Q_EMIT changed();
  }));
}

void AgentDetailSession::stop() {
  if (stopping_) return;
  stopping_ = true;
  Q_EMIT changed();
  // The Bool does not matter: the next scan shows what happened.
  const std::function<void(bool)> reset = whileAlive(this, [this](bool) {
    stopping_ = false;
    Q_EMIT changed();
  });
  if (!item_.isLaunchdManaged) {
    if (callbacks_.onStop)
      callbacks_.onStop(reset);
    else
      reset(false);
    return;
  }
  // The user manager would start a managed agent again: boot it out and
  // drop its lock first, then the dashboard's stop once that had its moment,
  // also when the sheet closed meanwhile.
  LaunchdJobControl::hardStop(item_.entry);
  stores_.lockOnline->setLocked(item_.entry.id, false);
  QTimer::singleShot(kLaunchdStopDelayMs, QCoreApplication::instance(), [onStop = callbacks_.onStop, reset]() mutable {
    if (onStop)
      onStop(reset);
    else
      reset(false);
  });
}

void AgentDetailSession::openConsole() {
  const QStringList command = item_.entry.tuiCommand.value_or(QStringList());
  if (command.isEmpty()) return;
  // Its line names this user's program folders, which are looked up off the
  // window thread.
  startOffMain(
      this,
      [entry = item_.entry, command, folder = item_.workingFolder] {
        return AgentTerminal::openConsole(entry, command, folder);
      },
      [this, command](const TerminalLauncher::Result& started) {
        if (!started) Q_EMIT terminalOpenFailed(shellWords(command), started.error());
      });
}

void AgentDetailSession::openDashboard() {
  if (const std::optional<QString> url = AgentDetailLogic::dashboardUrl(item_.entry)) {
    DesktopOpen::address(*url, this, [this, address = *url](const LocKey& reason) { Q_EMIT openFailed(address, reason); });
  }
}

void AgentDetailSession::toggleLock(bool on) {
  if (canToggleLock()) {
    if (on) {
      stores_.lockOnline->setLocked(item_.entry.id, true);
    } else {
      // Nothing changes until the user confirms.
      Q_EMIT changed();
      Q_EMIT lockOffConfirmationRequested();
      return;
    }
  }
  Q_EMIT changed();
}

void AgentDetailSession::answerLockOff(bool confirmed) {
  if (!confirmed) {
    log("[Detail] ", QStringLiteral("关闭锁定 · 取消"));
    Q_EMIT changed();
    return;
  }
  log("[Detail] ", QStringLiteral("关闭锁定 · 确认 → ") + item_.entry.id);
  stores_.lockOnline->setLocked(item_.entry.id, false);
  // Off the main thread with a deadline: a hung user bus never freezes the
  // window, and the lock is already off.
  if (item_.isLaunchdManaged) LaunchdJobControl::disableJob(item_.entry);
  Q_EMIT changed();
}

void AgentDetailSession::setup() {
  if (callbacks_.onSetup) callbacks_.onSetup();
}

void AgentDetailSession::restart() {
  if (callbacks_.onRestart) callbacks_.onRestart();
}

void AgentDetailSession::runDoctor() {
  if (doctorRunning_ || !callbacks_.onDoctor) return;
  doctorRunning_ = true;
  Q_EMIT changed();
  // The result is kept in the store even when the session is gone meanwhile.
  callbacks_.onDoctor([keep = whileAlive(stores_.doctorResults,
                                          [store = stores_.doctorResults, id = item_.entry.id](
                                              const AgentDoctor::Result& result) { store->setResult(id, result); }),
                       show = whileAlive(this, [this](const std::optional<AgentDoctor::Result>& result) {
                         doctorRunning_ = false;
                         doctorResult_ = result;
                         Q_EMIT changed();
                         Q_EMIT doctorFinished(result);
                       })](const std::optional<AgentDoctor::Result>& result) {
    if (result) keep(*result);
    show(result);
  });
}

void AgentDetailSession::autoRunDoctorIfNeeded() {
  AgentDetailLogic::autoRunDoctorIfNeeded(item_.entry, *stores_.doctorResults, callbacks_.onDoctor);
}

DoctorOutputModel::Rerun AgentDetailSession::doctorRerun() {
  if (!callbacks_.onDoctor) return {};
  return [keep = whileAlive(this, [this](const std::optional<AgentDoctor::Result>& result) { doctorResult_ = result; }),
          onDoctor = callbacks_.onDoctor](DoctorOutputModel::RerunCompletion completion) {
    onDoctor([keep, completion = std::move(completion)](std::optional<AgentDoctor::Result> result) {
      keep(result);
      completion(std::move(result));
    });
  };
}

bool AgentDetailSession::showStoredDoctorResult() {
  std::optional<AgentDoctor::Result> stored = storedDoctorResult();
  if (!stored) return false;
  doctorResult_ = std::move(stored);
  return true;
}

void AgentDetailSession::uninstalled() {
  if (item_.entry.launchdLabel && !item_.entry.launchdLabel->isEmpty())
    LaunchdStatus::invalidate(*item_.entry.launchdLabel);
}

}  // namespace tlr
