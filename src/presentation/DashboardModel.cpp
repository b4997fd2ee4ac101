#include "presentation/DashboardModel.h"

#include "core/LocKey.h"
#include "core/LockOnlineStore.h"
#include "core/SettingsStore.h"
#include "presentation/AgentActions.h"
#include "watcher/AgentDoctor.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace tlr {

DashboardModel::Stores DashboardModel::Stores::shared() {
  return {&EventStore::shared(), &LockOnlineStore::shared(), &SettingsStore::shared()};
}

DashboardModel::DashboardModel(std::shared_ptr<const AgentRegistry> registry, Stores stores, QObject* parent)
    : QObject(parent), registry_(std::move(registry)), stores_(stores) {
  connect(&setupActions_, &SetupActionCache::changed, this, &DashboardModel::refresh);
  // A new language re-labels every row at once; a new event marks its row at
  // once. (The lock set is followed by DashboardActions, which also starts
  // newly locked agents.)
  if (stores_.settings) connect(stores_.settings, &SettingsStore::languageChanged, this, &DashboardModel::refresh);
  if (stores_.events) connect(stores_.events, &EventStore::eventsChanged, this, &DashboardModel::refresh);
}

QSet<QString> DashboardModel::installedIds() const {
  QSet<QString> ids;
  for (const AgentEntry& e : lastInstalled_) ids.insert(e.id);
  return ids;
}

bool DashboardModel::isFaultEvent(AgentEventType type) {
  switch (type) {
    case AgentEventType::exitedAbnormal:
    case AgentEventType::throttled:
    case AgentEventType::killedByOOM:
    case AgentEventType::hangDetected:
    case AgentEventType::runawayDetected:
      return true;
    case AgentEventType::started:
    case AgentEventType::exitedNormal:
    case AgentEventType::recovered:
    case AgentEventType::restarted:
    case AgentEventType::oomRecovered:
    case AgentEventType::lockOnlineEnabled:
    case AgentEventType::lockOnlineDisabled:
    case AgentEventType::zombieRecovered:
      return false;
  }
  return false;
}

int DashboardModel::orderWeight(const DashboardAgentItem& item) {
  if (item.isThrottled) return 1000;
  int rank = 0;
  switch (item.entry.kind) {
    case AgentEntry::Kind::desktopApp:
      rank = 0;
      break;
    case AgentEntry::Kind::cli:
      rank = 1;
      break;
    case AgentEntry::Kind::idePlugin:
      rank = 2;
      break;
  }
  return (item.isLockedOnline ? 0 : 10) + (item.isRunning ? 0 : 100) + rank;
}

void DashboardModel::update(const QList<AgentEntry>& installed, const QList<RunningAgent>& running) {
  // Kept first, so that a refresh from the window uses these lists.
  lastInstalled_ = installed;
  lastRunning_ = running;

  // The first record of each agent, and the first embedded record of each
  // parent: the scanner gives one of each, but a duplicate must not make a
  // row flicker between two processes.
  QHash<QString, const RunningAgent*> runningById;
  QHash<QString, const RunningAgent*> embeddedByParent;
  for (const RunningAgent& r : lastRunning_) {
    if (!runningById.contains(r.entry.id)) runningById.insert(r.entry.id, &r);
    if (r.parentAgentId && !embeddedByParent.contains(*r.parentAgentId)) embeddedByParent.insert(*r.parentAgentId, &r);
  }

  QSet<QString> ids;
  for (const AgentEntry& e : lastInstalled_) ids.insert(e.id);
  setupActions_.track(lastInstalled_);

  // The newest event of each installed agent, in one pass over the log
  // (newest first), which stops once every agent has one.
  QHash<QString, AgentEventType> newestEvent;
  if (stores_.events) {
    for (const AgentEvent& ev : stores_.events->events()) {
      if (newestEvent.size() == ids.size()) break;
      if (ids.contains(ev.agentId) && !newestEvent.contains(ev.agentId)) newestEvent.insert(ev.agentId, ev.type);
    }
  }

  const QSet<QString> locked = stores_.lockOnline ? stores_.lockOnline->lockedIDs() : QSet<QString>{};
  const QSet<QString> throttled = watcher_ ? watcher_->throttledAgents() : QSet<QString>{};
  const AppLanguage language = stores_.settings ? stores_.settings->language() : AppLanguage::zh;
  auto text = [language](LocKey::Id id) { return SettingsStore::dict(language, LocKey::plain(id)); };
  const QString faultedText = text(LocKey::Id::statusFaulted);
  const QString runningText = text(LocKey::Id::statusRunning);
  const QString stoppedText = text(LocKey::Id::statusStopped);

  QList<DashboardAgentItem> rows;
  rows.reserve(lastInstalled_.size());
  QSet<QString> seen;
  for (const AgentEntry& entry : lastInstalled_) {
    if (seen.contains(entry.id)) continue;
    seen.insert(entry.id);
    DashboardAgentItem item;
    item.id = entry.id;
    item.entry = entry;
    const RunningAgent* run = runningById.value(entry.id);
    item.isLockedOnline = locked.contains(entry.id);
    item.isThrottled = throttled.contains(entry.id);
    item.isRunning = run != nullptr;
    item.isLaunchdManaged = run && run->launchdManaged;
    const auto newest = newestEvent.constFind(entry.id);
    item.isFaulted = item.isThrottled || (newest != newestEvent.cend() && isFaultEvent(*newest));
    item.bigStatusText = item.isFaulted ? faultedText : item.isRunning ? runningText : stoppedText;
    if (const RunningAgent* embedded = embeddedByParent.value(entry.id)) {
      item.embeddedCliPID = embedded->pid;
      item.embeddedCliName = embedded->entry.localizedDisplayName();
    }
    item.setupAction = setupActions_.action(entry.id);
    rows.append(std::move(item));
  }

  std::stable_sort(rows.begin(), rows.end(), [](const DashboardAgentItem& a, const DashboardAgentItem& b) {
    return orderWeight(a) < orderWeight(b);
  });
  dashboardItems_ = std::move(rows);
  Q_EMIT dashboardItemsChanged(dashboardItems_);
}

namespace {

// A detail built from a key with one value: recognised in either language by
// the text around the value, and said again in `language`.
struct ValuedDetail {
  LocKey (*make)(const QString& value);
  bool numeric;
};

std::optional<QString> valueBetween(const QString& stored, const QString& probe, const QString& sentinel) {
  const qsizetype at = probe.indexOf(sentinel);
  if (at < 0) return std::nullopt;
  const QString before = probe.left(at);
  const QString after = probe.mid(at + sentinel.size());
  if (stored.size() < before.size() + after.size() || !stored.startsWith(before) || !stored.endsWith(after))
    return std::nullopt;
  return stored.mid(before.size(), stored.size() - before.size() - after.size());
}

std::optional<QString> localizedDetail(const QString& stored, AppLanguage language) {
  static const LocKey::Id kPlain[] = {LocKey::Id::evDetailUserStop,           LocKey::Id::evDetailStopFailed,
                                      LocKey::Id::evDetailUserLaunch,         LocKey::Id::evDetailSetupCompleted,
                                      LocKey::Id::evDetailNoRecoveryStrategy, LocKey::Id::evDetailRunawayFallback};
  for (LocKey::Id id : kPlain) {
    for (AppLanguage built : {AppLanguage::en, AppLanguage::zh})
      if (stored == SettingsStore::dict(built, LocKey::plain(id))) return SettingsStore::dict(language, LocKey::plain(id));
  }
  static const ValuedDetail kValued[] = {
      {[](const QString& v) { return LocKey::evDetailUserRestart(v.toInt()); }, true},
      {[](const QString& v) { return LocKey::evDetailRestartStuck(v); }, false},
      {[](const QString& v) { return LocKey::evDetailRestartFailed(v); }, false},
      {[](const QString& v) { return LocKey::evDetailRelaunchDidNotLast(v.toInt()); }, true},
  };
  // A value no text holds, to find where the value sits in each text.
  const QString sentinel = QStringLiteral("2147483646");
  for (const ValuedDetail& detail : kValued) {
    for (AppLanguage built : {AppLanguage::en, AppLanguage::zh}) {
      const std::optional<QString> value = valueBetween(stored, SettingsStore::dict(built, detail.make(sentinel)),
                                                        sentinel);
      if (!value) continue;
      bool number = true;
      if (detail.numeric) value->toInt(&number);
      if (number) return SettingsStore::dict(language, detail.make(*value));
    }
  }
  return AgentDoctor::localizedEventText(stored, language == AppLanguage::en);
}

}  // namespace

QString DashboardModel::eventText(const AgentEvent& event, AppLanguage language) {
  // What the event records of itself (a manual stop, a doctor run, a fix and
  // its outcome, a launch by the user) says more than its type.
  if (event.details && !event.details->isEmpty()) return localizedDetail(*event.details, language).value_or(*event.details);
  LocKey::Id id = LocKey::Id::eventStarted;
  switch (event.type) {
    case AgentEventType::started:
      id = LocKey::Id::eventStarted;
      break;
    case AgentEventType::exitedNormal:
      id = LocKey::Id::eventExitedNormal;
      break;
    case AgentEventType::exitedAbnormal:
      id = LocKey::Id::eventExitedAbnormal;
      break;
    case AgentEventType::recovered:
      id = LocKey::Id::eventRecovered;
      break;
    case AgentEventType::throttled:
      id = LocKey::Id::eventThrottled;
      break;
    case AgentEventType::restarted:
      id = LocKey::Id::eventRestarted;
      break;
    case AgentEventType::killedByOOM:
      id = LocKey::Id::eventKilledByOOM;
      break;
    case AgentEventType::oomRecovered:
      id = LocKey::Id::eventOomRecovered;
      break;
    case AgentEventType::lockOnlineEnabled:
      id = LocKey::Id::eventLockOnlineEnabled;
      break;
    case AgentEventType::lockOnlineDisabled:
      id = LocKey::Id::eventLockOnlineDisabled;
      break;
    case AgentEventType::hangDetected:
      id = LocKey::Id::eventHangDetected;
      break;
    case AgentEventType::runawayDetected:
      id = LocKey::Id::evDetailRunawayFallback;
      break;
    case AgentEventType::zombieRecovered:
      id = LocKey::Id::eventRecovered;
      break;
  }
  return SettingsStore::dict(language, LocKey::plain(id));
}

QString DashboardModel::eventText(const AgentEvent& event, const SettingsStore& store) {
  return eventText(event, store.language());
}

}  // namespace tlr
