#include "watcher/ProcessExitWait.h"

#include "platform/OffMain.h"
#include "platform/ProcessSignals.h"

#include <algorithm>

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
    // The application quitting ends the wait: what still lives is reported.
    const auto step = std::chrono::duration_cast<std::chrono::milliseconds>(std::min<Clock::duration>(poll, deadline - now));
    if (!OffMainPool::pause(std::max(step, std::chrono::milliseconds(1)))) {
      alive.removeIf([&](pid_t pid) { return !isAlive(pid); });
      return alive;
    }
  }
}

}  // namespace tlr
