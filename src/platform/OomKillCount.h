#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

// The kernel's own count of out-of-memory kills: "oom_kill" of /proc/vmstat
// for the whole system, and of a process's memory cgroup ("memory.events"
// under cgroup v2, "memory.oom_control" under the v1 memory controller).
// Each call reads afresh.
namespace tlr::OomKillCount {

// Where the counts are read; tests point them at files of their own.
struct Paths {
  QString vmstat = QStringLiteral("/proc/vmstat");
  QString proc = QStringLiteral("/proc");
  QString cgroupRoot = QStringLiteral("/sys/fs/cgroup");
};

// The kills counted since boot; nothing when the file cannot be read.
std::optional<quint64> system(const Paths& paths = {});
// The memory cgroup `pid` is in, as the path of its counting file
// ("<root>/<group>/memory.events" or "<root>/memory/<group>/memory.oom_control");
// empty when the process has ended or belongs to no such group.
QString cgroupFile(pid_t pid, const Paths& paths = {});
// The kills counted in that file; nothing when it cannot be read.
std::optional<quint64> ofCgroup(const QString& file);

}  // namespace tlr::OomKillCount
