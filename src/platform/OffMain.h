#pragma once

#include "platform/MainThread.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

// The one way off the window thread. Work runs on threads of our own (never
// Qt's global pool, whose teardown waits for every task) that the
// application can cancel and wait for at quit: once cancelled, nothing new
// starts, the child processes of running work are stopped (SIGTERM to their
// process group, SIGKILL after a short grace), results are no longer handed
// to the main thread, and a task that still does not end cannot hold the
// process, because the threads are never joined.
namespace tlr {

class OffMainPool final {
 public:
  using Clock = std::chrono::steady_clock;

  // How long a child of cancelled work has between SIGTERM and SIGKILL.
  static constexpr std::chrono::milliseconds kCancelKillGrace{400};
  // How long an idle thread waits for new work before it ends.
  static constexpr std::chrono::seconds kIdleThreadLife{30};

  OffMainPool();
  // Cancels and gives running work a moment; a thread stuck beyond it is
  // left to itself (it keeps what it needs alive).
  ~OffMainPool();
  OffMainPool(const OffMainPool&) = delete;
  OffMainPool& operator=(const OffMainPool&) = delete;

  // The application's pool; lives to the end of the process.
  static OffMainPool& shared();

  // Runs `task` on a thread of this pool. False, dropping the task unrun,
  // once the pool is cancelled. Any thread.
  bool start(std::function<void()> task);

  // From now on nothing new starts, queued tasks are dropped, and child
  // processes of running tasks (runChild, spawnDetached) are stopped or
  // refused. Idempotent; any thread.
  void cancel();
  bool isCancelled() const;

  // Waits until no task runs or is queued, at most until `deadline`. True
  // when the pool is idle.
  bool waitForIdle(Clock::time_point deadline) const;
  // Tasks running or queued now.
  int busyCount() const;

  // Whether the calling thread runs a task of a pool (of any pool), rather
  // than being the main thread or a service thread.
  static bool onPoolThread();
  // Whether the calling thread runs a task of a cancelled pool: child
  // processes are then refused, and long loops of their own (a copy) stop
  // early.
  static bool currentIsCancelled();
  // For a poll() loop that waits on a child process: a descriptor that
  // becomes readable (and stays so) once the pool of the calling thread's
  // task is cancelled; -1 on a thread that runs no pool task.
  static int currentCancelFd();
  // Waits `duration` on the calling thread; for a task of a pool the wait
  // ends early when the pool is cancelled. True when the whole time passed.
  static bool pause(std::chrono::milliseconds duration);

  struct State;

 private:
  static void work(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

// Runs `task` on the application's pool; nothing comes back. False when the
// application is quitting and the task was dropped.
inline bool startOffMain(std::function<void()> task) { return OffMainPool::shared().start(std::move(task)); }

// Runs `work` on the application's pool, then hands its result to `done` on
// the main thread, unless `context` (a main-thread object) has been
// destroyed by then or the application is quitting. Whatever `work`
// captures must stay valid on its own: hold shared pointers, never
// `context`.
template <class Work, class Done>
void runOffMain(QObject* context, Work work, Done done) {
  startOffMain([guard = QPointer<QObject>(context), work = std::move(work), done = std::move(done)]() mutable {
    auto result = work();
    runOnMain([guard, done = std::move(done), result = std::move(result)]() mutable {
      if (guard && !OffMainPool::shared().isCancelled()) done(std::move(result));
    });
  });
}

}  // namespace tlr
