#pragma once

#include <functional>
#include <sys/types.h>

// Signals to processes that are not our children (agents we supervise).
namespace tlr::ProcessSignals {

// Sends `signal` to `pid`; 0 when it was delivered, else the errno. A
// process of another user (another real uid) is refused with EPERM.
int send(pid_t pid, int signal);
// Sends `signal` to `pid` only when `isThatProcess(pid)` holds, asked while
// the number is held through a pidfd: it cannot pass to another process
// between the question and the signal. ESRCH when it does not hold; another
// user's process is refused as by send().
int sendIf(pid_t pid, int signal, const std::function<bool(pid_t)>& isThatProcess);
// Whether `pid` names a process that still runs its program: it exists
// (also when it belongs to another user) and has neither ended (a zombie
// waiting for its parent) nor begun to end (see processRuns()). Every wait
// for a signalled process to go asks this, and nothing else.
bool isAlive(pid_t pid);

}  // namespace tlr::ProcessSignals
