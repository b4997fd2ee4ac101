#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <thread>
#include <unordered_map>

namespace tlr {

// The exit of one watched process.
struct RawExitInfo {
  int32_t pid = 0;
  // The wait status of the exited process as waitpid gives it; 0 when the
  // kernel did not tell (see KqueueProcessWatcher).
  int32_t exitStatus = 0;
};

// Notices the exit of registered processes within moments of their death:
// one pidfd per process, all waited for by one epoll loop on the thread
// "TLR.kqueue", and each exit handed to the main thread. That thread asks
// the scheduler for short turns (askForShortTurns()), so that on a busy
// machine an exit does not wait for a processor behind longer work.
//
// The wait status comes, in this order, from:
//  - our own child: waitid(WNOWAIT) while it is not reaped (WNOWAIT leaves
//    the child to whoever waits for it, so the watcher never steals an exit
//    status from its owner), or the status kept when a program started by
//    spawnDetached() was reaped;
//  - a process whose parent has not reaped it yet: the exit code field of
//    /proc/<pid>/stat;
//  - the pidfd's exit information (PIDFD_GET_INFO with PIDFD_INFO_EXIT,
//    Linux 6.15 and later), which the kernel fills once the process has been
//    reaped by its parent; the loop keeps asking for up to 2 s, without
//    holding up other exits;
//  - otherwise 0.
class KqueueProcessWatcher {
 public:
  // Called on the main thread: the pid, the agent id it was watched for, and
  // its exit.
  using ExitHandler = std::function<void(pid_t pid, const QString& agentId, const RawExitInfo& info)>;

  // Nothing when the epoll loop cannot be set up (logged).
  static std::unique_ptr<KqueueProcessWatcher> create();
  // Stops the loop and waits for it; exits not yet handed on are dropped.
  ~KqueueProcessWatcher();
  KqueueProcessWatcher(const KqueueProcessWatcher&) = delete;
  KqueueProcessWatcher& operator=(const KqueueProcessWatcher&) = delete;

  // Set once, before start().
  void setOnExit(ExitHandler handler);
  // Instead of setOnExit: `handler` is called on the watcher's own thread
  // the moment an exit's status is known, for what must not wait for the
  // main thread (the exit's log line); it hands the rest on itself, and must
  // be quick, since it holds up every later exit. (A pid already gone when
  // it is watched is still reported from the main thread, on a later turn.)
  void setOnExitOnItsThread(ExitHandler handler);
  // Starts the loop; a second call does nothing.
  void start();

  enum class WatchResult {
    watching,      // its exit will be reported (also: it was watched already)
    gone,          // it has ended already; reported as exited when it was ours to report
    reported,      // it has ended already, and its exit went out before: a sighting older than its end
    noDescriptor,  // no descriptor left for it: try again later
    failed,
  };
  // Reports the exit of `pid` once. Watching a pid again only changes its
  // agent id. A pid that is already gone is reported as exited (status 0).
  // Each watch holds a descriptor; the last kReservedDescriptors below the
  // limit are never taken, so the rest of the application (its stores, its
  // bring-forward channel, the programs it starts) keeps working however
  // many processes an agent has. A watch refused for want of a descriptor
  // says so in the log, once until watches succeed again.
  WatchResult watch(pid_t pid, const QString& agentId);
  static constexpr unsigned kReservedDescriptors = 256;
  // Forgets a live `pid`: its exit will not be reported, and true comes
  // back. A pid that has ended, or has begun to end (isEnding()), stays
  // watched until its exit has gone out; for it, and for one whose exit is
  // on its way to the main thread, false comes back: its exit handler still
  // runs.
  bool unwatch(pid_t pid);
  bool isWatching(pid_t pid) const;

  int fd() const { return epollFd_; }
  // Whether this kernel gives exit statuses of processes that are not our
  // children.
  static bool hasPidfdExitInfo();

 private:
  struct Watched {
    QString agentId;
    int pidFd = -1;
    uint32_t token = 0;
  };
  struct Delivery {
    ExitHandler onExit;
    bool onItsThread = false;  // onExit runs on the watcher's thread
  };
  class Loop;

  KqueueProcessWatcher(int epollFd, int stopFd);
  void run();
  // From the loop: on its thread when the owner asked for it.
  void deliver(pid_t pid, const QString& agentId, int32_t status, bool fromLoop) const;
  // Removes the pid's registration when its token matches; returns it.
  std::optional<Watched> takeExited(pid_t pid, uint32_t token);
  bool isKnownExit(pid_t pid);

  const int epollFd_;
  const int stopFd_;
  std::shared_ptr<Delivery> delivery_;
  std::atomic<bool> running_{false};
  std::thread thread_;

  mutable std::mutex lock_;
  std::unordered_map<pid_t, Watched> registered_;  // guarded by lock_
  // Pids whose exit was seen lately, so that a late watch of the same dead
  // process does not report its exit twice. Guarded by lock_.
  std::unordered_map<pid_t, std::chrono::steady_clock::time_point> exited_;
  uint32_t nextToken_ = 1;  // guarded by lock_
  bool shortageLogged_ = false;  // guarded by lock_
};

}  // namespace tlr
