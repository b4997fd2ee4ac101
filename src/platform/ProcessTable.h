#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace tlr {

// One live process of the machine.
struct ProcessInfo {
  pid_t pid = 0;
  pid_t ppid = 0;
  char state = '?';  // the kernel's state letter ("R", "S", ...)
  // The executable's full path; empty when the kernel does not show it to us
  // (another user's process).
  QString exePath;
  // The executable's file name, whole (the kernel's own command name is cut
  // at 15 bytes): from exePath, else from argv[0].
  QString name;
  // When the process started; absent when unknown.
  std::optional<QDateTime> startTime;
};

// The fields of /proc/<pid>/stat that are read here.
struct ProcStat {
  char state = '?';
  pid_t ppid = 0;
  unsigned long flags = 0;
  unsigned long long userTicks = 0;    // utime
  unsigned long long systemTicks = 0;  // stime
  unsigned long long startTicks = 0;   // start time since boot, in clock ticks
};
// Nothing when the process is gone or its stat record does not parse.
std::optional<ProcStat> readProcStat(pid_t pid);

// A snapshot of the process table from /proc. Zombies, dead processes and
// kernel threads are left out: they are not running programs.
class ProcessTable {
 public:
  static ProcessTable snapshot();

  // In /proc order (ascending pids).
  const std::vector<ProcessInfo>& processes() const { return processes_; }
  const ProcessInfo* find(pid_t pid) const;

  // One process read afresh; nothing when it is gone, a zombie or a kernel
  // thread.
  static std::optional<ProcessInfo> read(pid_t pid);
  // The argument vector, argv[0] first. Empty arguments and ones that are not
  // valid UTF-8 are left out; an unreadable vector is empty.
  static QStringList arguments(pid_t pid);

 private:
  std::vector<ProcessInfo> processes_;
  std::unordered_map<pid_t, size_t> index_;
};

}  // namespace tlr
