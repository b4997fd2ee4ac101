#pragma once

#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <sys/types.h>
#include <vector>

// Our children that nobody else waits for: the programs spawnDetached()
// starts, and, once this process is the subreaper of all it starts
// (adoptOrphans()), every process below it whose parent ended while it ran
// (a double fork, a command that killed its keeper), which then becomes our
// child instead of init's. They are reaped on the thread "TLR.reaper" as
// they end, so none stays a zombie, and the wait status of each is kept for
// a minute (exitStatus()): exact statuses on every kernel.
//
// A child whose owner reaps it itself (a command's keeper, held by
// OwnCommands) is held, and never reaped here; a child is held from the
// moment it is forked (a Starting lives across the fork and the hold).
namespace tlr::ChildReaper {

// Makes this process the subreaper of everything it starts
// (PR_SET_CHILD_SUBREAPER), so nothing it starts leaves its tree, and reaps
// the orphans that land on it. Once; any later call does nothing. False
// when the kernel refuses.
bool adoptOrphans();
// Whether adoptOrphans() succeeded.
bool adoptsOrphans();

// Held while a child is forked and until its owner holds it: no child is
// reaped here meanwhile. Many may live at once.
class Starting {
 public:
  Starting();
  ~Starting();
  Starting(const Starting&) = delete;
  Starting& operator=(const Starting&) = delete;

 private:
  std::shared_lock<std::shared_mutex> lock_;
};

// The owner of child `pid` reaps it: it is never reaped here until released.
void hold(pid_t pid);
void release(pid_t pid);

// A program started by spawnDetached(), `pidFd` its pidfd (taken over; -1
// when the kernel has none): reaped as it ends, its status kept.
void adopt(pid_t pid, int pidFd);

// The wait status of our own child `pid` (`pidFd` its pidfd, or -1) that
// has ended: read without reaping while nobody has reaped it yet, else the
// one kept when it was reaped here, for a minute. Nothing for a process that
// runs or is not our child.
std::optional<int32_t> exitStatus(pid_t pid, int pidFd);

struct Child {
  pid_t pid = 0;
  unsigned long long startTicks = 0;  // as /proc gives it
};
// Holds (as hold()) and returns our running children that nobody holds,
// other than programs started by spawnDetached(), started at the clock
// tick `since` or later: processes below us that lost their parent. The
// caller releases each.
std::vector<Child> claimOrphans(unsigned long long since);

// Ends the thread "TLR.reaper", for the end of the process: a child that
// ends later stays a zombie until the process has gone. Not undone.
void endReaping();

}  // namespace tlr::ChildReaper
