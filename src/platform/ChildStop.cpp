#include "platform/ChildStop.h"

#include "platform/ChildProcess.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tlr {
namespace {

// The watches of the runChild calls under way, and whether a stop came.
struct Watches {
  std::mutex mutex;
  std::set<int> fds;
  bool stopped = false;
};

Watches& watches() {
  static Watches* w = new Watches;  // lives to the end of the process
  return *w;
}

}  // namespace

ChildStopWatch::ChildStopWatch() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Under the stop's own lock: a stop either came before (and is seen
  // here) or finds this watch.
  std::lock_guard lock(watches().mutex);
  stoppedBefore_ = watches().stopped;
  if (fd_ >= 0) watches().fds.insert(fd_);
}

ChildStopWatch::~ChildStopWatch() {
  if (fd_ < 0) return;
  {
    std::lock_guard lock(watches().mutex);
    watches().fds.erase(fd_);
  }
  ::close(fd_);
}

void stopRunningChildren() {
  std::lock_guard lock(watches().mutex);
  watches().stopped = true;
  const std::uint64_t one = 1;
  for (const int fd : watches().fds) (void)!::write(fd, &one, sizeof one);
}

}  // namespace tlr
