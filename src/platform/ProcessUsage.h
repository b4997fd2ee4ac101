#pragma once

#include <QtGlobal>

#include <optional>
#include <sys/types.h>

namespace tlr {

// What one process has used so far, read from /proc/<pid>/stat and
// /proc/<pid>/status. A CPU share comes from two of these: the CPU time
// between them over the wall time between them, so a process that idles
// and then spins shows its current load, not its lifetime average.
struct ProcessUsage {
  double cpuSeconds = 0;    // user + system time since the process started
  qint64 residentKiB = 0;   // VmRSS
  quint64 startTicks = 0;   // start time since boot, in clock ticks: tells a reused pid apart

  // Percent of one core between `earlier` and this reading, `wallSeconds`
  // apart (100 = one core fully busy). Nothing when the two readings are of
  // different processes or no time passed.
  std::optional<double> cpuPercentSince(const ProcessUsage& earlier, double wallSeconds) const;
};

// Nothing when the process is gone, a zombie, or its files cannot be read.
std::optional<ProcessUsage> readProcessUsage(pid_t pid);

}  // namespace tlr
