#include "watcher/SignalledPids.h"

#include "platform/ProcessSignals.h"

#include <csignal>
#include <iterator>

namespace tlr {
namespace {

uint64_t bitOf(int signal) { return signal > 0 && signal < 64 ? uint64_t{1} << signal : 0; }

}  // namespace

SignalledPids& SignalledPids::shared() {
  static SignalledPids instance;
  return instance;
}

SignalledPids::SignalledPids(std::chrono::milliseconds expiry, Clock clock)
    : expiry_(expiry), clock_(std::move(clock)) {}

int SignalledPids::send(pid_t pid, int signal, Cause cause) {
  if (bitOf(signal) == 0) return ProcessSignals::send(pid, signal);
  const bool earlier = noteReturningEarlier(pid, signal, cause);
  const int error = ProcessSignals::send(pid, signal);
  // A signal that reached nothing explains nothing, but an earlier one still
  // does.
  if (error != 0 && !earlier) {
    std::lock_guard lock(mutex_);
    if (const auto found = noted_.find(pid); found != noted_.end()) {
      found->second.mask &= ~bitOf(signal);
      if (found->second.mask == 0) noted_.erase(found);
    }
  }
  return error;
}

void SignalledPids::note(pid_t pid, int signal, Cause cause) { noteReturningEarlier(pid, signal, cause); }

bool SignalledPids::noteReturningEarlier(pid_t pid, int signal, Cause cause) {
  if (pid <= 0 || bitOf(signal) == 0) return false;
  const TimePoint now = clock_();
  std::lock_guard lock(mutex_);
  pruneLocked(now);
  Note& note = noted_[pid];
  const bool earlier = (note.mask & bitOf(signal)) != 0;
  note.at = now;
  note.mask |= bitOf(signal);
  note.byUsersAction = note.byUsersAction || cause == Cause::usersAction;
  return earlier;
}

SignalledPids::Sent SignalledPids::take(pid_t pid) {
  const TimePoint now = clock_();
  std::lock_guard lock(mutex_);
  const auto found = noted_.find(pid);
  if (found == noted_.end()) return {};
  const bool fresh = isFresh(found->second.at, now);
  const Sent sent{fresh ? found->second.mask : 0, fresh && found->second.byUsersAction};
  noted_.erase(found);
  return sent;
}

bool SignalledPids::contains(pid_t pid) const {
  const TimePoint now = clock_();
  std::lock_guard lock(mutex_);
  const auto found = noted_.find(pid);
  return found != noted_.end() && isFresh(found->second.at, now);
}

void SignalledPids::pruneLocked(TimePoint now) {
  for (auto it = noted_.begin(); it != noted_.end();)
    it = isFresh(it->second.at, now) ? std::next(it) : noted_.erase(it);
}

}  // namespace tlr
