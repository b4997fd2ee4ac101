#include "watcher/RecoveryPolicy.h"

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

bool RelaunchThrottle::noteDecision(const QString& agentId, TimePoint now) {
  const auto window = std::chrono::duration<double>(windowSec_);
  QList<TimePoint>& times = decisions_[agentId];
  times.removeIf([&](TimePoint t) { return now - t >= window; });
  times.append(now);
  return times.size() > threshold_;
}

bool RelaunchThrottle::throttle(const QString& agentId) {
  if (throttled_.contains(agentId)) return false;
  throttled_.insert(agentId);
  return true;
}

bool RelaunchThrottle::clear(const QString& agentId) {
  decisions_.insert(agentId, {});
  return throttled_.remove(agentId);
}

QString RelaunchThrottle::windowText() const { return QString::number(windowSec_) + QLatin1Char('s'); }

}  // namespace tlr
