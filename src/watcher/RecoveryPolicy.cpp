#include "watcher/RecoveryPolicy.h"

#include <algorithm>

namespace tlr {

bool RecoveryPolicy::shouldRecover(ExitIntent intent, bool locked) {
  switch (intent) {
    case ExitIntent::crash:
    case ExitIntent::oom:
    case ExitIntent::abnormalExit:
      return true;
    case ExitIntent::normalExit:
    case ExitIntent::forceKilled:
      return locked;
    case ExitIntent::unknown:
      return false;
  }
  return false;
}

AgentEventType RecoveryPolicy::exitEventType(ExitIntent intent, bool locked) {
  switch (intent) {
    case ExitIntent::normalExit:
    case ExitIntent::unknown:
      return AgentEventType::exitedNormal;
    case ExitIntent::crash:
    case ExitIntent::abnormalExit:
      return AgentEventType::exitedAbnormal;
    case ExitIntent::oom:
      return AgentEventType::killedByOOM;
    case ExitIntent::forceKilled:
      return locked ? AgentEventType::exitedAbnormal : AgentEventType::exitedNormal;
  }
  return AgentEventType::exitedNormal;
}

AgentEventType RecoveryPolicy::recoveredEventType(ExitIntent intent) {
  return intent == ExitIntent::oom ? AgentEventType::oomRecovered : AgentEventType::recovered;
}

bool RelaunchThrottle::noteDecision(const QString& agentId, const QString& folder, TimePoint now) {
  const auto window = std::chrono::duration<double>(windowSec_);
  QList<TimePoint>& times = decisions_[{agentId, folder}];
  times.removeIf([&](TimePoint t) { return now - t >= window; });
  times.append(now);
  return times.size() > threshold_;
}

bool RelaunchThrottle::throttle(const QString& agentId, const QString& folder) {
  if (throttled_.contains({agentId, folder})) return false;
  throttled_.insert({agentId, folder});
  agents_.insert(agentId);
  return true;
}

bool RelaunchThrottle::clear(const QString& agentId, const QString& folder) {
  decisions_.remove({agentId, folder});
  const bool was = throttled_.remove({agentId, folder});
  updateAgent(agentId);
  return was;
}

bool RelaunchThrottle::clearAgent(const QString& agentId) {
  decisions_.removeIf([&](QHash<Key, QList<TimePoint>>::iterator it) { return it.key().first == agentId; });
  const bool was = agents_.contains(agentId);
  throttled_.removeIf([&](const Key& key) { return key.first == agentId; });
  agents_.remove(agentId);
  return was;
}

void RelaunchThrottle::updateAgent(const QString& agentId) {
  const bool any = std::any_of(throttled_.cbegin(), throttled_.cend(), [&](const Key& key) { return key.first == agentId; });
  if (any)
    agents_.insert(agentId);
  else
    agents_.remove(agentId);
}

QString RelaunchThrottle::windowText() const { return QString::number(windowSec_) + QLatin1Char('s'); }

}  // namespace tlr
