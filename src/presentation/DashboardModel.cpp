#include "presentation/DashboardModel.h"

#include "core/texts/LocTexts.h"

#include "core/stores/LockOnlineStore.h"
#include "core/stores/SettingsStore.h"
#include "core/texts/LocKey.h"
#include "presentation/AgentActions.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
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

void DashboardModel::forgetProcess(pid_t pid) {
  lastRunning_.removeIf([pid](const RunningAgent& r) { return r.pid == pid; });
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

QString DashboardModel::statusText(const DashboardAgentItem& item, AppLanguage language) {
  // A faulted agent may still run (another instance, a throttled one's
  // sibling): the row says both, as the counters count both.
  if (item.isFaulted)
    return item.instances > 0 ? LocTexts::text(language, LocKey::statusFaultedRunning(item.instances))
                              : LocTexts::text(language, LocKey::statusFaulted());
  if (item.instances > 1) return LocTexts::text(language, LocKey::statusRunningInstances(item.instances));
  return LocTexts::text(language, item.isRunning ? LocKey::statusRunning() : LocKey::statusStopped());
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
  QHash<QString, QSet<pid_t>> instancesById;
  for (const RunningAgent& r : lastRunning_) {
    if (!runningById.contains(r.entry.id)) runningById.insert(r.entry.id, &r);
    if (!r.parentAgentId) instancesById[r.entry.id].insert(r.instancePid > 0 ? r.instancePid : r.pid);
    if (r.parentAgentId && !embeddedByParent.contains(*r.parentAgentId)) embeddedByParent.insert(*r.parentAgentId, &r);
  }

  QSet<QString> ids;
  for (const AgentEntry& e : lastInstalled_) ids.insert(e.id);
  setupActions_.track(lastInstalled_);

  // The newest event of each installed agent: the store keeps each agent's,
  // so a log of thousands of events costs a row no more than a short one.
  QHash<QString, AgentEventType> newestEvent;
  if (stores_.events) {
    for (const QString& id : std::as_const(ids))
      if (const std::optional<AgentEvent> newest = stores_.events->lastEvent(id)) newestEvent.insert(id, newest->type);
  }

  const QSet<QString> locked = stores_.lockOnline ? stores_.lockOnline->lockedIDs() : QSet<QString>{};
  const QSet<QString> throttled = watcher_ ? watcher_->throttledAgents() : QSet<QString>{};
  const AppLanguage language = stores_.settings ? stores_.settings->language() : AppLanguage::zh;

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
    item.instances = item.isRunning ? std::max<int>(1, instancesById.value(entry.id).size()) : 0;
    if (run) item.workingFolder = run->workingFolder;
    item.bigStatusText = statusText(item, language);
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

using Values = QStringList;
using KeyMaker = std::function<LocKey(const Values&)>;

// `stored` read back as the text of `make` in either language: the values
// it holds, in order, when `make` of them gives exactly that text again.
std::optional<Values> readBack(const QString& stored, qsizetype count, const KeyMaker& make) {
  // Values no text holds, to find where each value sits in a text.
  static const Values kProbes = {QStringLiteral("2147483646"), QStringLiteral("2147483645"),
                                 QStringLiteral("2147483644")};
  const Values probes = kProbes.mid(0, count);
  for (AppLanguage built : {AppLanguage::en, AppLanguage::zh}) {
    const QString shape = LocTexts::text(built, make(probes));
    QList<std::pair<qsizetype, qsizetype>> slots;  // where in the text, which value
    for (qsizetype v = 0; v < count; ++v)
      if (const qsizetype at = shape.indexOf(probes[v]); at >= 0) slots.append({at, v});
    std::sort(slots.begin(), slots.end());
    QString pattern = QRegularExpression::escape(shape);
    for (const QString& probe : probes) pattern.replace(probe, QStringLiteral("(.*?)"));
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("\\A") + pattern + QStringLiteral("\\z"),
                           QRegularExpression::DotMatchesEverythingOption)
            .match(stored);
    if (!match.hasMatch()) continue;
    Values values(count);
    for (qsizetype g = 0; g < slots.size(); ++g) values[slots[g].second] = match.captured(g + 1);
    if (LocTexts::text(built, make(values)) == stored) return values;
  }
  return std::nullopt;
}

// The key `make` builds of the values `stored` holds, when `stored` is its
// text in either language.
std::optional<LocKey> keyOf(const QString& stored, qsizetype count, const KeyMaker& make) {
  const std::optional<Values> values = readBack(stored, count, make);
  if (!values) return std::nullopt;
  return make(*values);
}

bool isText(const QString& stored, const LocKey& key) {
  return stored == LocTexts::text(AppLanguage::en, key) || stored == LocTexts::text(AppLanguage::zh, key);
}

qint32 int32(const QString& value) { return value.toInt(); }
qint64 int64(const QString& value) { return value.toLongLong(); }

// The reason of a failed restart, when it is one of the restarter's own.
std::optional<LocKey> restartReason(const QString& stored) {
  for (const LocKey& key : {LocKey::restartReasonNoRecover(), LocKey::restartReasonDidntSurvive(),
                            LocKey::restartReasonGracefulFailedVerify()})
    if (isText(stored, key)) return key;
  if (auto key = keyOf(stored, 1, [](const Values& v) { return LocKey::restartReasonGracefulExitNonZero(int32(v[0])); }))
    return key;
  return keyOf(stored, 1, [](const Values& v) { return LocKey::restartReasonTimedOut(int64(v[0])); });
}

// What a restarted event records of itself: a stop, a setup, a restart, a
// doctor run or a fix. The details are stored in the language of their day
// (the doctor's and the fixes' in Chinese); they are recognised in either
// and said again by key, never shown as stored.
std::optional<LocKey> restartedText(const QString& stored) {
  for (const LocKey& key : {LocKey::evDetailUserStop(), LocKey::evDetailStopFailed(), LocKey::evDetailSetupCompleted()})
    if (isText(stored, key)) return key;
  if (auto key = keyOf(stored, 1, [](const Values& v) { return LocKey::evDetailUserRestart(int32(v[0])); })) return key;
  if (auto v = readBack(stored, 1, [](const Values& v) { return LocKey::evDetailDoctorNoIssues(int32(v[0])); })) {
    // A check that exited otherwise than with 0 and found nothing failed.
    const qint32 exitCode = int32(v->at(0));
    return exitCode == 0 ? LocKey::evDetailDoctorNoIssues(exitCode) : LocKey::evDetailDoctorFailed(exitCode);
  }
  if (auto key = keyOf(stored, 2, [](const Values& v) { return LocKey::evDetailDoctorIssues(int32(v[0]), int64(v[1])); }))
    return key;
  if (auto key = keyOf(stored, 1, [](const Values& v) { return LocKey::evDetailDoctorTimedOut(int64(v[0])); }))
    return key;
  // A fix: its outcome and the issue's id, then the fix's own message in the
  // language of its day, which stays out.
  static const QRegularExpression fix(QStringLiteral("\\A(.*?\\[(.*?)\\]) "), QRegularExpression::DotMatchesEverythingOption);
  if (const QRegularExpressionMatch m = fix.match(stored); m.hasMatch()) {
    const QString head = m.captured(1), id = m.captured(2);
    for (const LocKey& key : {LocKey::evDetailFixSucceeded(id), LocKey::evDetailFixFailed(id)})
      if (isText(head, key)) return key;
  }
  return std::nullopt;
}

// What a throttled event records: an agent without a way to relaunch it, or
// a user's restart that got stuck or failed, with the restarter's reason
// when it is one of its own. Another reason (a relaunch's) keeps the
// language of its day: it stays out.
std::optional<QString> throttledText(const QString& stored, AppLanguage language) {
  const auto say = [language](const LocKey& key) { return LocTexts::text(language, key); };
  if (isText(stored, LocKey::evDetailNoRecoveryStrategy())) return say(LocKey::evDetailNoRecoveryStrategy());
  if (auto key = keyOf(stored, 1, [](const Values& v) { return LocKey::evDetailRestartStuck(v[0]); })) return say(*key);
  if (auto v = readBack(stored, 1, [](const Values& v) { return LocKey::evDetailRestartFailed(v[0]); })) {
    if (const std::optional<LocKey> reason = restartReason(v->at(0))) return say(LocKey::evDetailRestartFailed(say(*reason)));
    return say(LocKey::evDetailRestartFailedNoReason());
  }
  return std::nullopt;
}

// A runaway: the measure and its value, said again in `language` (the
// stored text names memory "内存" in both languages).
std::optional<QString> runawayText(const QString& stored, AppLanguage language) {
  static const QString kMemory = QStringLiteral("内存");
  for (const QString& kind : {QStringLiteral("CPU"), kMemory}) {
    const auto v = readBack(stored, 1, [&](const Values& v) { return LocKey::resourceRunawayDetails(kind, int64(v[0])); });
    if (!v) continue;
    const QString shown = kind == kMemory ? LocTexts::text(language, LocKey::detailFieldMemory()) : kind;
    return LocTexts::text(language, LocKey::resourceRunawayDetails(shown, int64(v->at(0))));
  }
  return std::nullopt;
}

LocKey::Id typeText(AgentEventType type) {
  switch (type) {
    case AgentEventType::started: return LocKey::Id::eventStarted;
    case AgentEventType::exitedNormal: return LocKey::Id::eventExitedNormal;
    case AgentEventType::exitedAbnormal: return LocKey::Id::eventExitedAbnormal;
    case AgentEventType::recovered: return LocKey::Id::eventRecovered;
    case AgentEventType::throttled: return LocKey::Id::eventThrottled;
    case AgentEventType::restarted: return LocKey::Id::eventRestarted;
    case AgentEventType::killedByOOM: return LocKey::Id::eventKilledByOOM;
    case AgentEventType::oomRecovered: return LocKey::Id::eventOomRecovered;
    case AgentEventType::lockOnlineEnabled: return LocKey::Id::eventLockOnlineEnabled;
    case AgentEventType::lockOnlineDisabled: return LocKey::Id::eventLockOnlineDisabled;
    case AgentEventType::hangDetected: return LocKey::Id::eventHangDetected;
    case AgentEventType::runawayDetected: return LocKey::Id::evDetailRunawayFallback;
    case AgentEventType::zombieRecovered: return LocKey::Id::eventRecovered;
  }
  return LocKey::Id::eventStarted;
}

}  // namespace

QString DashboardModel::eventText(const AgentEvent& event, AppLanguage language) {
  // Each row reads as its type in the window's language. Where the type
  // alone would misdescribe what the row records (a user's stop, setup,
  // doctor run or fix recorded as restarted, a launch as recovered, a
  // failed restart as throttled, a relaunch that did not last as an
  // abnormal exit), the text says what happened instead.
  // Stored details are never shown as they are: they keep the language of
  // their day.
  // An event that keeps what it means says it again by key.
  if (event.text)
    if (std::optional<QString> said = event.text->say(language)) return *said;
  // Older events: what their stored details say, recognised only where a
  // text of the table gives exactly those details again.
  const QString details = event.details.value_or(QString());
  std::optional<QString> said;
  // A user's launch is recorded as recovered without details; an automatic
  // relaunch carries the pid it was found under.
  if (details.isEmpty() && event.type == AgentEventType::recovered)
    said = LocTexts::text(language, LocKey::evDetailUserLaunch());
  if (!details.isEmpty()) {
    switch (event.type) {
      case AgentEventType::restarted:
        if (const std::optional<LocKey> key = restartedText(details)) said = LocTexts::text(language, *key);
        break;
      case AgentEventType::throttled:
        said = throttledText(details, language);
        break;
      case AgentEventType::recovered:
        if (isText(details, LocKey::evDetailUserLaunch()))
          said = LocTexts::text(language, LocKey::evDetailUserLaunch());
        break;
      case AgentEventType::exitedAbnormal:
        // A relaunch that did not last, counted as the agent's failure.
        if (const auto key = keyOf(details, 1, [](const Values& v) { return LocKey::evDetailRelaunchDidNotLast(int64(v[0])); }))
          said = LocTexts::text(language, *key);
        break;
      case AgentEventType::runawayDetected:
        said = runawayText(details, language);
        break;
      default:
        break;
    }
  }
  return said.value_or(LocTexts::text(language, LocKey::plain(typeText(event.type))));
}

QString DashboardModel::eventText(const AgentEvent& event, const SettingsStore& store) {
  return eventText(event, store.language());
}

}  // namespace tlr
