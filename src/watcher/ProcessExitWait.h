#pragma once

#include <QList>

#include <chrono>
#include <functional>
#include <sys/types.h>

namespace tlr {

// Whether a process still runs its program (one that has ended or is ending
// does not).
using ProcessAliveProbe = std::function<bool(pid_t)>;

// The system's answer: ProcessSignals::isAlive.
ProcessAliveProbe systemAliveProbe();

// Waits until every one of `pids` has ended or `grace` has passed, looking
// again every `poll`; returns the ones still running, in their order. Blocks
// the calling thread; in a task of a pool that is cancelled (the application
// quits) it stops waiting at once.
QList<pid_t> waitForProcessExit(const QList<pid_t>& pids, std::chrono::milliseconds grace,
                                std::chrono::milliseconds poll, const ProcessAliveProbe& isAlive);

}  // namespace tlr
