#include "core/LockOnlineStore.h"

#include "core/SharedStore.h"
#include "platform/LaunchdStatus.h"
#include "platform/Log.h"

#include <QJsonArray>

namespace tlr {
namespace {

QSet<QString> readSet(const Defaults& defaults, const QString& key) {
  const auto list = defaults.stringList(key);
  return list ? QSet<QString>(list->cbegin(), list->cend()) : QSet<QString>();
}

// ["a", "b"]: sorted, so that the line reads the same on every run.
QStringList sorted(const QSet<QString>& ids) {
  QStringList list(ids.cbegin(), ids.cend());
  list.sort();
  return list;
}

}  // namespace

LockOnlineStore& LockOnlineStore::shared() {
  return sharedPerDefaults<LockOnlineStore>([](Defaults& d) {
    return std::make_unique<LockOnlineStore>(d, EventStore::shared(), &LaunchdStatus::isManaged);
  });
}

LockOnlineStore::LockOnlineStore(Defaults& defaults, EventStore& events, LaunchdCheck launchdCheck, QObject* parent)
    : QObject(parent),
      defaults_(defaults),
      events_(events),
      launchdCheck_(std::move(launchdCheck)),
      lockedIDs_(readSet(defaults, defaultsKey)),
      initializedIDs_(readSet(defaults, initializedKey())) {}

void LockOnlineStore::writeSet(const QString& key, const QSet<QString>& ids) {
  defaults_.set(key, QJsonArray::fromStringList(sorted(ids)));
}

void LockOnlineStore::insertLocked(const QString& agentId) {
  lockedIDs_.insert(agentId);
  Q_EMIT lockedIDsChanged(lockedIDs_);
}

void LockOnlineStore::initializeDefaults(const QList<AgentEntry>& entries) {
  if (entries.isEmpty()) return;
  QStringList adopted;
  bool anyNew = false;
  for (const AgentEntry& entry : entries) {
    if (initializedIDs_.contains(entry.id)) continue;
    if (entry.launchdLabel && launchdCheck_ && launchdCheck_(*entry.launchdLabel)) {
      insertLocked(entry.id);
      adopted << entry.id;
    }
    initializedIDs_.insert(entry.id);
    anyNew = true;
  }
  if (!anyNew) return;
  writeSet(defaultsKey, lockedIDs_);
  writeSet(initializedKey(), initializedIDs_);
  log("[LockOnline] ", QStringLiteral("初始化完成 · 按 launchd 状态自动接管: ") + quotedList(adopted) +
                           QStringLiteral(" · 全部已锁定: ") + quotedList(sorted(lockedIDs_)));
}

void LockOnlineStore::setLocked(const QString& agentId, bool locked) {
  const bool wasLocked = lockedIDs_.contains(agentId);
  if (locked)
    lockedIDs_.insert(agentId);
  else
    lockedIDs_.remove(agentId);
  Q_EMIT lockedIDsChanged(lockedIDs_);
  writeSet(defaultsKey, lockedIDs_);
  log("[LockOnline] ", agentId + QStringLiteral(" → ") +
                           (locked ? QStringLiteral("ON 锁定在线") : QStringLiteral("OFF 默认")) +
                           QStringLiteral(" | 当前已锁定: ") + quotedList(sorted(lockedIDs_)));
  if (wasLocked != locked)
    events_.append(AgentEvent::make(agentId, locked ? AgentEventType::lockOnlineEnabled
                                                     : AgentEventType::lockOnlineDisabled));
}

}  // namespace tlr
