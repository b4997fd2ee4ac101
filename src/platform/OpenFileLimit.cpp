#include "platform/OpenFileLimit.h"

#include <atomic>
#include <mutex>

namespace tlr::OpenFileLimit {
namespace {

// Written once, before any child can be forked from a thread that sees it.
rlimit original{};
std::atomic<bool> raised{false};

}  // namespace

Change raiseToHardLimit() {
  static std::once_flag once;
  static Change change;
  std::call_once(once, [] {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    change = {limit.rlim_cur, limit.rlim_cur};
    if (limit.rlim_cur >= limit.rlim_max) return;
    original = limit;
    rlimit wanted = limit;
    wanted.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &wanted) != 0) return;
    change.after = wanted.rlim_cur;
    raised.store(true);
  });
  return change;
}

rlim_t current() {
  rlimit limit{};
  return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 0;
}

void restoreInChild() {
  // The hard limit was never changed: this gives back the old soft one.
  if (raised.load(std::memory_order_relaxed)) ::setrlimit(RLIMIT_NOFILE, &original);
}

}  // namespace tlr::OpenFileLimit
