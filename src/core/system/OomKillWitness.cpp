#include "core/system/OomKillWitness.h"

namespace tlr {

void OomKillWitness::watched(pid_t pid) {
  {
    std::lock_guard lock(mutex_);
    if (noted_.contains(pid)) return;
  }
  Counts counts;
  counts.system = OomKillCount::system(paths_);
  counts.cgroupFile = OomKillCount::cgroupFile(pid, paths_);
  counts.cgroup = OomKillCount::ofCgroup(counts.cgroupFile);
  std::lock_guard lock(mutex_);
  if (!noted_.contains(pid)) noted_.insert(pid, counts);
}

void OomKillWitness::forget(pid_t pid) {
  std::lock_guard lock(mutex_);
  noted_.remove(pid);
}

qsizetype OomKillWitness::size() const {
  std::lock_guard lock(mutex_);
  return noted_.size();
}

bool OomKillWitness::counted(pid_t pid) {
  Counts before;
  {
    std::lock_guard lock(mutex_);
    const auto found = noted_.constFind(pid);
    if (found == noted_.cend()) return false;
    before = *found;
    noted_.erase(found);
  }
  if (before.cgroup) {
    if (const auto now = OomKillCount::ofCgroup(before.cgroupFile)) return *now > *before.cgroup;
  }
  const auto now = OomKillCount::system(paths_);
  return before.system && now && *now > *before.system;
}

}  // namespace tlr
