#include "platform/ProcessSignals.h"

#include "platform/ProcessTable.h"

#include <cerrno>
#include <csignal>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>

namespace tlr::ProcessSignals {

int sendIf(pid_t pid, int signal, const std::function<bool(pid_t)>& isThatProcess) {
  if (pid <= 0) return ESRCH;  // never a process group or "everyone"
  // Held while the owner is checked, so the number cannot pass to another
  // process between the check and the signal.
  const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidFd < 0) return errno;
  int result = 0;
  const std::optional<ProcessInfo> process = ProcessTable::read(pid);
  if (process && process->uid != ::getuid()) {
    // Another user's process is never ours to signal, even where root could.
    result = EPERM;
  } else if (isThatProcess && !isThatProcess(pid)) {
    result = ESRCH;
  } else if (::syscall(SYS_pidfd_send_signal, pidFd, signal, nullptr, 0) != 0) {
    result = errno;
  }
  ::close(pidFd);
  return result;
}

int send(pid_t pid, int signal) { return sendIf(pid, signal, {}); }

bool isAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  return processRuns(pid);
}

}  // namespace tlr::ProcessSignals
