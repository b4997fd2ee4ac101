#include "watcher/ProcessExitWait.h"

#include "platform/ProcessSignals.h"

#include <algorithm>
#include <thread>

namespace tlr {

ProcessAliveProbe systemAliveProbe() {
  return [](pid_t pid) { return ProcessSignals::isAlive(pid); };
}

QList<pid_t> waitForProcessExit(const QList<pid_t>& pids, std::chrono::milliseconds grace,
                                std::chrono::milliseconds poll, const ProcessAliveProbe& isAlive) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + grace;
  QList<pid_t> alive = pids;
  while (true) {
    alive.removeIf([&](pid_t pid) { return !isAlive(pid); });
    const Clock::time_point now = Clock::now();
    if (alive.isEmpty() || now >= deadline) return alive;
    std::this_thread::sleep_for(std::min<Clock::duration>(poll, deadline - now));
  }
}

}  // namespace tlr
