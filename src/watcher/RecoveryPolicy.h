#pragma once

#include "core/stores/EventStore.h"
#include "watcher/ExitSignalClassifier.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>

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

// The relaunch throttle: at most `threshold` recovery decisions for an agent
// within a window of `windowSec`; the next one throttles the agent, and it
// stays throttled until it is cleared (it was seen running again, or the
// user launched or restarted it).
class RelaunchThrottle final {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  RelaunchThrottle(double windowSec, int threshold) : windowSec_(windowSec), threshold_(threshold) {}

  // Notes a recovery decision for the agent at `now`; whether this one is
  // over the threshold within the window.
  bool noteDecision(const QString& agentId, TimePoint now);
  // Throttles the agent; whether it was not throttled before.
  bool throttle(const QString& agentId);
  // Frees the agent and forgets its decisions; whether it was throttled.
  bool clear(const QString& agentId);

  bool isThrottled(const QString& agentId) const { return throttled_.contains(agentId); }
  const QSet<QString>& agents() const { return throttled_; }
  int threshold() const { return threshold_; }
  // The window as the log lines write it: "60s".
  QString windowText() const;

 private:
  double windowSec_;
  int threshold_;
  // The times of each agent's recent recovery decisions.
  QHash<QString, QList<TimePoint>> decisions_;
  QSet<QString> throttled_;
};

}  // namespace tlr
