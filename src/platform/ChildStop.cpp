#include "platform/ChildStop.h"

#include "platform/ChildProcess.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tlr {
namespace {

// The watches of the runChild calls under way.
struct Watches {
  std::mutex mutex;
  std::set<int> fds;
};

Watches& watches() {
  static Watches* w = new Watches;  // lives to the end of the process
  return *w;
}

}  // namespace

ChildStopWatch::ChildStopWatch() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) return;
  std::lock_guard lock(watches().mutex);
  watches().fds.insert(fd_);
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
  const std::uint64_t one = 1;
  for (const int fd : watches().fds) (void)!::write(fd, &one, sizeof one);
}

}  // namespace tlr
