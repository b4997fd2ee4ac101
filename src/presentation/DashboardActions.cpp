#include "presentation/DashboardActions.h"

#include "core/stores/LockOnlineStore.h"
#include "platform/OffMain.h"
#include "presentation/DashboardModel.h"

#include <QPointer>
#include <QTimer>

namespace tlr {
namespace {

// What a completion hears when there is no watcher to ask: a restart's
// reason, which reaches no window, and a fix's, which the doctor output
// sheet says in its language.
const QString kNoWatcher = QStringLiteral("watcher 未就绪");
AgentDoctor::FixResult noWatcherFix() { return AgentDoctor::FixResult::failure(LocKey::doctorErrNotReady()); }

}  // namespace

DashboardActions::DashboardActions(DashboardModel& model, QObject* parent) : QObject(parent), model_(model) {
  connect(&model_, &DashboardModel::dashboardItemsChanged, this, &DashboardActions::rowsPublished);
  // The set as it is now, so the first change is acted on like every later
  // one.
  if (LockOnlineStore* store = model_.stores().lockOnline) {
    lastSeenLockedIDs_ = store->lockedIDs();
    connect(store, &LockOnlineStore::lockedIDsChanged, this, &DashboardActions::lockedIDsChanged);
  }
}

bool DashboardActions::startLaunch(const AgentEntry& entry, AgentActions::LaunchCompletion completion) {
  AgentActions* watcher = model_.watcher();
  if (!watcher) {
    if (completion) completion(false);
    return false;
  }
  if (const auto it = launches_.constFind(entry.id); it != launches_.cend()) {
    if (completion) (*it)->append(std::move(completion));
    return false;
  }
  // Started a moment ago and not yet seen running: the earlier launch stands.
  if (settling_.contains(entry.id)) {
    if (completion) completion(true);
    return false;
  }
  auto waiters = std::make_shared<Waiters>();
  if (completion) waiters->append(std::move(completion));
  launches_.insert(entry.id, waiters);
  Q_EMIT launchingChanged(entry.id, true);
  const QString id = entry.id;
  watcher->launchOnUserClick(entry, [settleIt = whileAlive(this,
                                                           [this, id, waiters](bool started) {
                                                             if (launches_.value(id) != waiters) return;
                                                             launches_.remove(id);
                                                             if (started)
                                                               settle(id);
                                                             else
                                                               Q_EMIT launchingChanged(id, false);
                                                           }),
                                     waiters](bool started) {
    settleIt(started);
    for (const auto& done : *waiters) done(started);
  });
  return true;
}

void DashboardActions::settle(const QString& agentId) {
  const quint64 token = ++settleCounter_;
  settling_.insert(agentId, token);
  QTimer::singleShot(launchSettleMs_, this, [this, agentId, token] {
    if (settling_.value(agentId) == token) endSettling(agentId);
  });
}

void DashboardActions::endSettling(const QString& agentId) {
  if (!settling_.remove(agentId)) return;
  Q_EMIT launchingChanged(agentId, false);
}

void DashboardActions::rowsPublished(const QList<DashboardAgentItem>& rows) {
  if (settling_.isEmpty()) return;
  for (const DashboardAgentItem& row : rows)
    if (row.isRunning && settling_.contains(row.id)) endSettling(row.id);
}

bool DashboardActions::launchFromRow(const AgentEntry& entry) { return startLaunch(entry, {}); }

void DashboardActions::launch(const AgentEntry& entry, AgentActions::LaunchCompletion completion) {
  AgentActions* watcher = model_.watcher();
  if (!watcher) {
    if (completion) completion(false);
    return;
  }
  // The sheet's Open and Launch always reach the watcher (a second Open
  // brings a running application forward); the sheet keeps its own busy
  // state. A row's Launch right after it waits like after its own.
  const QString id = entry.id;
  watcher->launchOnUserClick(entry, [settleIt = whileAlive(this,
                                                           [this, id](bool started) {
                                                             if (!started || launches_.contains(id) ||
                                                                 settling_.contains(id))
                                                               return;
                                                             Q_EMIT launchingChanged(id, true);
                                                             settle(id);
                                                           }),
                                     completion = std::move(completion)](bool started) {
    settleIt(started);
    if (completion) completion(started);
  });
}

void DashboardActions::stop(const AgentEntry& entry, AgentActions::StopCompletion completion) {
  AgentActions* watcher = model_.watcher();
  if (!watcher) {
    if (completion) completion(false);
    return;
  }
  watcher->stopOnUserClick(entry, std::move(completion));
}

void DashboardActions::restart(const AgentEntry& entry, AgentActions::RestartCompletion completion) {
  AgentActions* watcher = model_.watcher();
  if (!watcher) {
    if (completion) completion(AgentRestarter::Result::relaunchFailed(kNoWatcher));
    return;
  }
  watcher->restartOnUserClick(entry, std::move(completion));
}

void DashboardActions::doctor(const AgentEntry& entry, AgentActions::DoctorCompletion completion) {
  AgentActions* watcher = model_.watcher();
  if (!watcher) {
    if (completion) completion(std::nullopt);
    return;
  }
  // The watcher calls its completion unconditionally.
  watcher->doctorOnUserClick(entry, [completion = std::move(completion)](std::optional<AgentDoctor::Result> r) {
    if (completion) completion(std::move(r));
  });
}

void DashboardActions::applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                                      AgentActions::FixCompletion completion) {
  AgentActions* watcher = model_.watcher();
  if (!watcher) {
    if (completion) completion(noWatcherFix());
    return;
  }
  watcher->applyDoctorFix(entry, issue, [completion = std::move(completion)](const AgentDoctor::FixResult& r) {
    if (completion) completion(r);
  });
}

void DashboardActions::setup(const AgentEntry& entry) {
  if (AgentActions* watcher = model_.watcher()) watcher->runSetupOnUserClick(entry);
}

AgentDetailCallbacks DashboardActions::detailCallbacks(const AgentEntry& entry, std::function<void()> onClose) {
  // The callbacks may outlive this object inside a sheet that closes late.
  const QPointer<DashboardActions> self(this);
  AgentDetailCallbacks c;
  c.onClose = std::move(onClose);
  c.onSetup = [self, entry] {
    if (self) self->setup(entry);
  };
  c.onRestart = [self, entry] {
    if (self) self->restart(entry);
  };
  c.onDoctor = [self, entry](AgentActions::DoctorCompletion done) {
    if (self)
      self->doctor(entry, std::move(done));
    else if (done)
      done(std::nullopt);
  };
  c.onApplyDoctorFix = [self, entry](const AgentDoctor::KnownIssue& issue, AgentActions::FixCompletion done) {
    if (self)
      self->applyDoctorFix(entry, issue, std::move(done));
    else if (done)
      done(noWatcherFix());
  };
  c.onLaunch = [self, entry](AgentActions::LaunchCompletion done) {
    if (self)
      self->launch(entry, std::move(done));
    else if (done)
      done(false);
  };
  c.onStop = [self, entry](AgentActions::StopCompletion done) {
    if (self)
      self->stop(entry, std::move(done));
    else if (done)
      done(false);
  };
  return c;
}

void DashboardActions::lockedIDsChanged(const QSet<QString>& lockedIDs) {
  model_.refresh();
  if (!lastSeenLockedIDs_) {
    lastSeenLockedIDs_ = lockedIDs;
    return;
  }
  const QSet<QString> newlyLocked = QSet<QString>(lockedIDs).subtract(*lastSeenLockedIDs_);
  lastSeenLockedIDs_ = lockedIDs;
  AgentActions* watcher = model_.watcher();
  if (newlyLocked.isEmpty() || !watcher) return;
  // Every newly locked agent whose row shows it stopped and not run by the
  // user manager; ids without a row are passed over.
  QList<AgentEntry> toStart;
  for (const QString& id : newlyLocked) {
    for (const DashboardAgentItem& row : model_.dashboardItems()) {
      if (row.id != id) continue;
      if (!row.isRunning && !row.isLaunchdManaged) toStart << row.entry;
      break;
    }
  }
  for (const AgentEntry& entry : toStart) watcher->recoverOnDemand(entry);
}

std::optional<DashboardAgentItem> DashboardActions::followSelection(const DashboardAgentItem& open,
                                                                     const QList<DashboardAgentItem>& rows) {
  for (const DashboardAgentItem& row : rows) {
    if (row.id != open.id) continue;
    if (DashboardAgentItem::sameState(row, open)) return std::nullopt;
    return row;
  }
  return std::nullopt;
}

}  // namespace tlr
