#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <unordered_map>

namespace tlr {

// The processes Tollamere itself killed lately (the SIGKILL of a user's Stop
// or of a restart, after SIGTERM did not end them). Such an exit is our own
// doing: the lifecycle watcher reads it as a forced kill, never as an
// out-of-memory kill. A SIGTERM is sent through here too but leaves no note:
// how a process ends after being asked to finish is judged by its wait status
// like any other exit.
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

  // Sends `signal` to `pid`: 0 when delivered, else the errno. A SIGKILL is
  // noted first (and the note dropped again when it reached nothing), so an
  // exit that races the signal is still known as ours.
  int send(pid_t pid, int signal);

  // Notes that `pid` got our SIGKILL.
  void note(pid_t pid);
  // Whether `pid` got our SIGKILL within the expiry; forgets it.
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
