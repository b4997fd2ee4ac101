#include "watcher/SignalledPids.h"

#include "platform/ProcessSignals.h"

#include <csignal>
#include <iterator>

namespace tlr {

SignalledPids& SignalledPids::shared() {
  static SignalledPids instance;
  return instance;
}

SignalledPids::SignalledPids(std::chrono::milliseconds expiry, Clock clock)
    : expiry_(expiry), clock_(std::move(clock)) {}

int SignalledPids::send(pid_t pid, int signal) {
  if (signal != SIGKILL) return ProcessSignals::send(pid, signal);
  const bool earlier = noteReturningEarlier(pid);
  const int error = ProcessSignals::send(pid, signal);
  // A failed SIGKILL explains nothing, but an earlier one still does.
  if (error != 0 && !earlier) {
    std::lock_guard lock(mutex_);
    noted_.erase(pid);
  }
  return error;
}

void SignalledPids::note(pid_t pid) { noteReturningEarlier(pid); }

bool SignalledPids::noteReturningEarlier(pid_t pid) {
  if (pid <= 0) return false;
  const TimePoint now = clock_();
  std::lock_guard lock(mutex_);
  pruneLocked(now);
  const bool earlier = noted_.contains(pid);
  noted_[pid] = now;
  return earlier;
}

bool SignalledPids::take(pid_t pid) {
  const TimePoint now = clock_();
  std::lock_guard lock(mutex_);
  const auto found = noted_.find(pid);
  if (found == noted_.end()) return false;
  const bool fresh = isFresh(found->second, now);
  noted_.erase(found);
  return fresh;
}

bool SignalledPids::contains(pid_t pid) const {
  const TimePoint now = clock_();
  std::lock_guard lock(mutex_);
  const auto found = noted_.find(pid);
  return found != noted_.end() && isFresh(found->second, now);
}

void SignalledPids::pruneLocked(TimePoint now) {
  for (auto it = noted_.begin(); it != noted_.end();)
    it = isFresh(it->second, now) ? std::next(it) : noted_.erase(it);
}

}  // namespace tlr
