#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <unordered_map>

namespace tlr {

// The processes Tollamere itself signalled lately (a user's Stop, a restart's
// SIGTERM and SIGKILL). Their exits are our own doing: the lifecycle watcher
// reads them as forced kills, never as crashes or out-of-memory kills, so a
// process the user just stopped is not brought back as if it had died.
//
// A note lasts `expiry` (a process that outlives it is judged by its wait
// status again) and is used up by the exit it explains, so a reused pid starts
// clean. Safe from any thread.
class SignalledPids final {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr std::chrono::seconds kDefaultExpiry{60};

  // The record the whole process shares.
  static SignalledPids& shared();

  explicit SignalledPids(std::chrono::milliseconds expiry = kDefaultExpiry,
                         Clock clock = &std::chrono::steady_clock::now);
  SignalledPids(const SignalledPids&) = delete;
  SignalledPids& operator=(const SignalledPids&) = delete;

  // Notes `pid`, then sends it `signal`: 0 when delivered, else the errno
  // (and a note made only for this signal is dropped again).
  // Noting first means an exit that races the signal is still known as ours.
  int send(pid_t pid, int signal);

  void note(pid_t pid);
  // Whether `pid` was signalled by us within the expiry; forgets it.
  bool take(pid_t pid);
  bool contains(pid_t pid) const;

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  bool isFresh(TimePoint notedAt, TimePoint now) const { return now - notedAt < expiry_; }
  void pruneLocked(TimePoint now);
  // Notes `pid`; whether a fresh note of it was there already.
  bool noteReturningEarlier(pid_t pid);

  const std::chrono::milliseconds expiry_;
  const Clock clock_;
  mutable std::mutex mutex_;
  std::unordered_map<pid_t, TimePoint> noted_;  // guarded by mutex_
};

}  // namespace tlr
