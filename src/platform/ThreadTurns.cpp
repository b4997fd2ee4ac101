#include "platform/ThreadTurns.h"

#include <cstdint>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

namespace tlr {
namespace {

// The kernel's scheduling attributes (their first, 56-byte version), which
// the C library does not wrap.
struct SchedAttr {
  uint32_t size;
  uint32_t policy;
  uint64_t flags;
  int32_t nice;
  uint32_t priority;
  uint64_t runtime;  // for the normal policy: the turn, in nanoseconds
  uint64_t deadline;
  uint64_t period;
};
static_assert(sizeof(SchedAttr) == 48);

constexpr uint32_t kNormalPolicy = 0;  // SCHED_OTHER

bool readAttr(int tid, SchedAttr& attr) {
  std::memset(&attr, 0, sizeof attr);
  return ::syscall(SYS_sched_getattr, tid, &attr, sizeof attr, 0) == 0;
}

}  // namespace

bool askForShortTurns(std::chrono::microseconds turn) {
  SchedAttr attr;
  if (!readAttr(0, attr) || attr.policy != kNormalPolicy) return false;
  const int nice = attr.nice;
  std::memset(&attr, 0, sizeof attr);
  attr.size = sizeof attr;
  attr.policy = kNormalPolicy;
  attr.nice = nice;
  attr.runtime = static_cast<uint64_t>(std::chrono::nanoseconds(turn).count());
  return ::syscall(SYS_sched_setattr, 0, &attr, 0) == 0;
}

std::chrono::microseconds turnOf(int tid) {
  SchedAttr attr;
  if (!readAttr(tid, attr)) return std::chrono::microseconds(0);
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::nanoseconds(attr.runtime));
}

}  // namespace tlr
