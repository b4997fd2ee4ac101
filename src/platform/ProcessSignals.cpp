#include "platform/ProcessSignals.h"

#include "platform/ProcessTable.h"

#include <cerrno>
#include <csignal>

namespace tlr::ProcessSignals {

int send(pid_t pid, int signal) {
  if (pid <= 0) return ESRCH;  // never a process group or "everyone"
  return ::kill(pid, signal) == 0 ? 0 : errno;
}

bool isAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  return ProcessTable::read(pid).has_value();
}

}  // namespace tlr::ProcessSignals
