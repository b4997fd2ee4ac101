#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace tlr {

// One live process of the machine.
struct ProcessInfo {
  pid_t pid = 0;
  pid_t ppid = 0;
  pid_t pgid = 0;  // its process group
  // Whose it is: the real user id; -1 when unknown.
  uid_t uid = static_cast<uid_t>(-1);
  char state = '?';  // the kernel's state letter ("R", "S", ...)
  // The executable's full path; empty when the kernel does not show it to us
  // (another user's process).
  QString exePath;
  // The name the program was started under: the kernel's command name, so a
  // program started through a link has the link's name and a script started
  // through its #! line the script's name. The kernel cuts that name at 15
  // bytes; a name of exactly 15 bytes is completed from argv[0], else from
  // the executable, when either begins with it.
  QString name;
  // When the process started; absent when unknown.
  std::optional<QDateTime> startTime;
  // The same, in clock ticks since boot: with the pid, it tells one process
  // from a later one under the same number.
  unsigned long long startTicks = 0;
};

// The fields of /proc/<pid>/stat that are read here.
struct ProcStat {
  QByteArray comm;  // the kernel's command name, at most 15 bytes
  char state = '?';
  pid_t ppid = 0;
  pid_t pgrp = 0;
  unsigned long flags = 0;
  unsigned long long userTicks = 0;    // utime
  unsigned long long systemTicks = 0;  // stime
  unsigned long long startTicks = 0;   // start time since boot, in clock ticks
  // Where the argument vector lies in the process's memory (arg_start,
  // arg_end): an exec gives the process new memory and moves it, also when
  // the command name stays the same. Zero when the kernel hides them (another
  // user's process, a zombie) or does not give them.
  unsigned long long argStart = 0;
  unsigned long long argEnd = 0;
};
// Nothing when the process is gone or its stat record does not parse.
std::optional<ProcStat> readProcStat(pid_t pid);

// Whether the process has begun to end: its first thread has ended (a
// zombie, which snapshots leave out, while its other threads may still run)
// or it is past the point of no return of its exit, where its memory, and
// with it its arguments and executable, may already be gone. Either way a
// snapshot may miss it before its pidfd tells that it has exited.
bool isEnding(const ProcStat& stat);

// Whether the process `pid` can still run its program: it is there, and
// one of its threads has neither ended nor begun to end. A zombie has ended;
// a process past the point of no return of its exit, or one that a fatal
// signal has reached (SIGKILL waits for every thread of it: it ends at its
// next step, even before it next gets a processor), is ending. A process
// whose first thread alone has ended while others run on still runs. Asked
// of any user's process; false for a kernel thread. A zombie of another
// parent still holds its number: "does not run" never means "free".
bool processRuns(pid_t pid);

// The wait status of a process that has exited but that its parent has not
// reaped yet (a zombie), from its stat record; nothing for a process that
// runs, is gone, or is not ours to inspect.
std::optional<int32_t> readUnreapedExitStatus(pid_t pid);

// A snapshot of the process table from /proc. Zombies, dead processes and
// kernel threads are left out: they are not running programs.
class ProcessTable {
 public:
  // Every process read afresh.
  static ProcessTable snapshot();

  // The same table for callers that look every few seconds, at a fraction of
  // the cost: a process already seen under the same /proc entry keeps what
  // was read of it. Read again are new processes (twice: a fork that execs a
  // moment later shows its new name at the second read), every process for
  // which `alwaysReread` holds, and a rotating eighth of the rest, so that a
  // program that execs another in place is seen within eight calls. What a
  // stat record cannot tell apart (the executable, the arguments) is read
  // again when the start time, the command name or the place of the argument
  // vector changed: an exec changes at least one of them. One cache
  // serves the whole process; calls from several threads take turns.
  static ProcessTable snapshotReusing(const std::function<bool(const ProcessInfo&)>& alwaysReread);

  // In /proc order (ascending pids). Of a table that is a temporary
  // (`for (... : ProcessTable::snapshot().processes())`) the list itself is
  // handed over, so a loop over it never reads a table already destroyed.
  const std::vector<ProcessInfo>& processes() const& { return processes_; }
  std::vector<ProcessInfo> processes() && { return std::move(processes_); }
  const ProcessInfo* find(pid_t pid) const;

  // One process read afresh; nothing when it is gone, a zombie or a kernel
  // thread.
  static std::optional<ProcessInfo> read(pid_t pid);
  // The argument vector, argv[0] first. Empty arguments and ones that are not
  // valid UTF-8 are left out; an unreadable vector is empty.
  static QStringList arguments(pid_t pid);
  // The folder the process works in (/proc/<pid>/cwd); empty when it is gone
  // or not ours to look at.
  static QString workingFolder(pid_t pid);
  // The argument vector of a process of this table. A table made by
  // snapshotReusing() reads it once per process (same pid, start time and
  // command name) and keeps it.
  QStringList argumentsOf(const ProcessInfo& process) const;

  // What the last snapshotReusing() read: processes read afresh, and
  // processes whose executable link was read; of those read afresh, the ones
  // an earlier snapshot had already read twice (not new to the cache); and
  // the processes /proc listed, running or not (zombies, kernel threads).
  struct ReadCounts {
    int statsRead = 0;
    int exesRead = 0;
    int knownRead = 0;
    int listed = 0;
  };
  static ReadCounts lastReuseCounts();

 private:
  std::vector<ProcessInfo> processes_;
  std::unordered_map<pid_t, size_t> index_;
  bool reusing_ = false;
};

}  // namespace tlr
