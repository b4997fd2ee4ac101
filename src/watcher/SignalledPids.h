#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <unordered_map>

namespace tlr {

// The processes Tollamere itself signalled lately (the SIGTERM and SIGKILL of
// a user's Stop, of a restart), and with which signals. Such an exit is our
// own doing: the lifecycle watcher never brings it back, reads an exit code
// of 128 + n after our signal n as that signal (a program that catches
// SIGTERM and exits with 143, as shells and most runtimes do), and reads our
// SIGKILL as a forced kill, never as an out-of-memory kill.
//
// A note lasts `expiry` (a process that outlives it is judged by its wait
// status alone again) and is used up by the exit it explains, so a reused pid
// starts clean. Safe from any thread.
class SignalledPids final {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Why a signal was sent: a user's stop or restart (which writes its own
  // row of what became of the agent), or anything else of ours (an
  // uninstall's stop).
  enum class Cause { other, usersAction };

  // The signals sent to one process: bit n for signal n.
  struct Sent {
    uint64_t mask = 0;
    // One of them came from a user's stop or restart.
    bool byUsersAction = false;
    bool has(int signal) const { return signal > 0 && signal < 64 && (mask & (uint64_t{1} << signal)) != 0; }
    explicit operator bool() const { return mask != 0; }
  };

  static constexpr std::chrono::seconds kDefaultExpiry{60};

  // The record the whole process shares.
  static SignalledPids& shared();

  explicit SignalledPids(std::chrono::milliseconds expiry = kDefaultExpiry,
                         Clock clock = &std::chrono::steady_clock::now);
  SignalledPids(const SignalledPids&) = delete;
  SignalledPids& operator=(const SignalledPids&) = delete;

  // Sends `signal` to `pid`: 0 when delivered, else the errno. The signal is
  // noted first (and the note dropped again when it reached nothing), so an
  // exit that races the signal is still known as ours.
  int send(pid_t pid, int signal, Cause cause = Cause::other);

  // Notes that `pid` got our `signal`.
  void note(pid_t pid, int signal = SIGKILL, Cause cause = Cause::other);
  // The signals `pid` got from us within the expiry; forgets them.
  Sent take(pid_t pid);
  bool contains(pid_t pid) const;

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Note {
    TimePoint at;
    uint64_t mask = 0;
    bool byUsersAction = false;
  };
  bool isFresh(TimePoint notedAt, TimePoint now) const { return now - notedAt < expiry_; }
  void pruneLocked(TimePoint now);
  // Notes `signal` for `pid`; whether a fresh note of that signal was there
  // already.
  bool noteReturningEarlier(pid_t pid, int signal, Cause cause);

  const std::chrono::milliseconds expiry_;
  const Clock clock_;
  mutable std::mutex mutex_;
  std::unordered_map<pid_t, Note> noted_;  // guarded by mutex_
};

}  // namespace tlr
