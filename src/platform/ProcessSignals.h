#pragma once

#include <sys/types.h>

// Signals to processes that are not our children (agents we supervise).
namespace tlr::ProcessSignals {

// Sends `signal` to `pid`; 0 when it was delivered, else the errno. A
// process of another user (another real uid) is refused with EPERM.
int send(pid_t pid, int signal);
// Whether `pid` names a running process: it exists (also when it belongs to
// another user) and is not a zombie waiting for its parent.
bool isAlive(pid_t pid);

}  // namespace tlr::ProcessSignals
