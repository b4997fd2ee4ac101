#pragma once

#include "platform/OomKillCount.h"

#include <QHash>
#include <QString>

#include <mutex>
#include <optional>
#include <sys/types.h>

namespace tlr {

// Tells whether the kernel killed a process for want of memory: it notes the
// kernel's out-of-memory kill counts when the process starts being watched
// and compares them at its end. Only a kill the kernel counted is one; the
// memory pressure of the moment never makes a SIGKILL an out-of-memory kill.
// The process's memory cgroup counts where it can be read at both times
// (it counts the kills of that group only); otherwise the system's count
// does. With neither, nothing was counted. Safe to use from any thread (the
// exit watcher's asks as the main thread notes).
class OomKillWitness final {
 public:
  explicit OomKillWitness(OomKillCount::Paths paths = {}) : paths_(std::move(paths)) {}

  // Notes the counts as `pid` starts being watched; a pid noted already
  // keeps its first counts.
  void watched(pid_t pid);
  // Whether the kernel counted an out-of-memory kill since `pid` was
  // watched; forgets the pid.
  bool counted(pid_t pid);
  // Forgets a pid that is no longer watched.
  void forget(pid_t pid);
  qsizetype size() const;

 private:
  struct Counts {
    std::optional<quint64> system;
    QString cgroupFile;
    std::optional<quint64> cgroup;
  };

  OomKillCount::Paths paths_;
  mutable std::mutex mutex_;
  QHash<pid_t, Counts> noted_;  // guarded by mutex_
};

}  // namespace tlr
