#include "core/system/OomKillWitness.h"

namespace tlr {

void OomKillWitness::watched(pid_t pid) {
  if (noted_.contains(pid)) return;
  Counts counts;
  counts.system = OomKillCount::system(paths_);
  counts.cgroupFile = OomKillCount::cgroupFile(pid, paths_);
  counts.cgroup = OomKillCount::ofCgroup(counts.cgroupFile);
  noted_.insert(pid, counts);
}

bool OomKillWitness::counted(pid_t pid) {
  const auto found = noted_.constFind(pid);
  if (found == noted_.cend()) return false;
  const Counts before = *found;
  noted_.erase(found);
  if (before.cgroup) {
    if (const auto now = OomKillCount::ofCgroup(before.cgroupFile)) return *now > *before.cgroup;
  }
  const auto now = OomKillCount::system(paths_);
  return before.system && now && *now > *before.system;
}

}  // namespace tlr
