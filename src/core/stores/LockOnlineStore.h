#pragma once

#include "core/stores/EventStore.h"
#include "platform/Defaults.h"
#include "registry/AgentEntry.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

namespace tlr {

// The agents the user wants kept online, kept in the user defaults under
// "TLR.lockOnline.enabled" (and the ids examined once under the same key
// followed by ".initialized"). On its first sight of an agent the store
// adopts it when launchd already runs its job. A stored set is read for
// what can be used in it: ids that are not texts or are absurd are left
// out, with a line, and the rest kept. Lives on the main thread.
class LockOnlineStore : public QObject {
  Q_OBJECT

 public:
  // Whether launchd runs a job with this label now.
  using LaunchdCheck = std::function<bool(const QString& label)>;

  static inline const QString defaultsKey = QStringLiteral("TLR.lockOnline.enabled");
  static QString initializedKey() { return defaultsKey + QStringLiteral(".initialized"); }

  // The store of the current user's defaults, recording into
  // EventStore::shared() and asking LaunchdStatus about launchd.
  static LockOnlineStore& shared();
  LockOnlineStore(Defaults& defaults, EventStore& events, LaunchdCheck launchdCheck, QObject* parent = nullptr);

  Defaults& defaults() const { return defaults_; }
  const QSet<QString>& lockedIDs() const { return lockedIDs_; }
  const QSet<QString>& initializedIDs() const { return initializedIDs_; }
  bool isLocked(const QString& agentId) const { return lockedIDs_.contains(agentId); }

  // Examines the entries not seen before: one whose launchd job runs becomes
  // locked. Writes and logs only when some entry was new.
  void initializeDefaults(const QList<AgentEntry>& entries);
  // Locks or unlocks one agent; records an event when that changes anything.
  void setLocked(const QString& agentId, bool locked);

 Q_SIGNALS:
  void lockedIDsChanged(const QSet<QString>& lockedIDs);

 private:
  void insertLocked(const QString& agentId);
  void writeSet(const QString& key, const QSet<QString>& ids);

  Defaults& defaults_;
  EventStore& events_;
  LaunchdCheck launchdCheck_;
  QSet<QString> lockedIDs_;
  QSet<QString> initializedIDs_;
};

}  // namespace tlr
