#pragma once

#include "core/stores/EventStore.h"
#include "watcher/ExitSignalClassifier.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <utility>

// When an agent that ended is brought back, and how often.
namespace tlr {

namespace RecoveryPolicy {

// Whether an exit is recovered: always a crash, an out-of-memory kill or an
// abnormal exit; a normal exit or a forced kill only when the agent is
// locked online; never an unknown end.
bool shouldRecover(ExitIntent intent, bool locked);
// The event an exit is recorded as. A forced kill of a locked agent counts as
// abnormal; pass `locked` false for our own kill, which is no fault.
AgentEventType exitEventType(ExitIntent intent, bool locked);
// The event a recovery after such an exit is recorded as.
AgentEventType recoveredEventType(ExitIntent intent);

}  // namespace RecoveryPolicy

// The relaunch throttle, kept per instance (an agent in one folder), as
// supervision is: at most `threshold` recovery decisions for an instance
// within a window of `windowSec`; the next one throttles it, and it stays
// throttled until it is cleared (it was seen running again there, or the
// user launched or restarted the agent). One instance's failures never
// pace another's.
class RelaunchThrottle final {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  RelaunchThrottle(double windowSec, int threshold) : windowSec_(windowSec), threshold_(threshold) {}

  // Notes a recovery decision for the instance at `now`; whether this one is
  // over the threshold within the window.
  bool noteDecision(const QString& agentId, const QString& folder, TimePoint now);
  // Throttles the instance; whether it was not throttled before.
  bool throttle(const QString& agentId, const QString& folder);
  // Frees the instance and forgets its decisions; whether it was throttled.
  bool clear(const QString& agentId, const QString& folder);
  // The same for every instance of the agent.
  bool clearAgent(const QString& agentId);

  // Whether an instance of the agent is throttled.
  bool isThrottled(const QString& agentId) const { return agents_.contains(agentId); }
  bool isThrottled(const QString& agentId, const QString& folder) const {
    return throttled_.contains({agentId, folder});
  }
  // The agents with a throttled instance.
  const QSet<QString>& agents() const { return agents_; }
  int threshold() const { return threshold_; }
  // The window as the log lines write it: "60s".
  QString windowText() const;

 private:
  using Key = std::pair<QString, QString>;
  void updateAgent(const QString& agentId);

  double windowSec_;
  int threshold_;
  // The times of each instance's recent recovery decisions.
  QHash<Key, QList<TimePoint>> decisions_;
  QSet<Key> throttled_;
  QSet<QString> agents_;
};

}  // namespace tlr
