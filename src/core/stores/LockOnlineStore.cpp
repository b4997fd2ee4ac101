#include "core/stores/LockOnlineStore.h"

#include "core/stores/SharedStore.h"
#include "platform/LaunchdStatus.h"
#include "platform/Log.h"

#include <QJsonArray>

namespace tlr {
namespace {

// What a stored set may hold: agent ids are short, and a registry names few.
constexpr qsizetype kMaxIdLength = 200;
constexpr qsizetype kMaxIds = 1000;

// The ids stored under `key`. Whatever can be used is kept: an element that
// is not a text, or an absurd one, is left out with a line saying so, and the
// next write stores the rest.
QSet<QString> readSet(const Defaults& defaults, const QString& key) {
  const QJsonValue stored = defaults.value(key);
  if (stored.isUndefined()) return {};
  if (!stored.isArray()) {
    log("[LockOnline] ", QStringLiteral("%1 不是列表，按空集合读取").arg(key));
    return {};
  }
  const QJsonArray array = stored.toArray();
  QSet<QString> ids;
  qsizetype skipped = 0;
  for (const QJsonValue& item : array) {
    if (item.isString() && item.toString().size() <= kMaxIdLength && ids.size() < kMaxIds)
      ids.insert(item.toString());
    else
      ++skipped;
  }
  if (skipped > 0)
    log("[LockOnline] ", QStringLiteral("%1 中 %2 项不是可用的 id（不是文本、过长或超过 %3 项），已略过，其余 %4 项照用")
                             .arg(key)
                             .arg(skipped)
                             .arg(kMaxIds)
                             .arg(ids.size()));
  return ids;
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
  // A failed write is logged; the set holds for this run.
  static_cast<void>(defaults_.set(key, QJsonArray::fromStringList(sorted(ids))));
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
