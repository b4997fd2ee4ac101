#pragma once

#include "platform/MainThread.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

// The one way off the window thread. Work runs on threads of our own (never
// Qt's global pool, whose teardown waits for every task) that the
// application can cancel and wait for at quit: once cancelled, nothing new
// starts, the child processes of running work are stopped (SIGTERM to their
// process group, SIGKILL after a short grace), results are no longer handed
// to the main thread, and a task that still does not end cannot hold the
// process: the application waits for the threads to end only until a
// deadline.
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
  // After cancel(): waits until every thread of the pool has ended, its own
  // teardown included (the thread-local data of the libraries its tasks
  // used, such as the toolkit's font caches, which must not go while the
  // application object does), at most until `deadline`. True when all have.
  bool waitForThreadsToEnd(Clock::time_point deadline);

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
  // Runs `body` on a thread of its own that belongs to the calling thread's
  // task: a cancel of that task's pool stops the thread's child processes
  // as it stops the task's. The task joins the thread before it ends.
  static std::thread alongside(std::function<void()> body);

  struct State;

 private:
  static void work(std::shared_ptr<State> state);
  static void* threadMain(void* handedOver);
  std::shared_ptr<State> state_;
};

// The one idiom for work that leaves the window thread:
//
//   startOffMain(context, work, then)
//
// runs `work` on the application's pool, then hands what it returned to
// `then` on the window thread (a `work` that returns nothing is followed by
// `then()`). `then` runs only while `context`, an object of the window
// thread, lives and the application is not quitting; a null `context` binds
// it to the application alone. `work` runs to its end either way (it may
// have effects of its own): whatever it captures must stay valid on its
// own, so it holds values and shared pointers, never `context`.
//
//   startOffMain(context, work)
//
// is for work from which nothing comes back: it is dropped unrun when
// `context` (if any) has gone before a thread took it up.
//
// Both return false, dropping everything unrun, once the application is
// quitting.
//
// Work that reports more than once before its end (stages, rows of
// progress), and a completion handed to another object's asynchronous call,
// go through `whileAlive(context, fn)`: a callable, made on the window
// thread, that any thread may call; `fn` then runs on the window thread
// with the arguments (at once when called there, else on a later turn, in
// the order of the calls and before the `then` of the same work) under the
// same rule as `then`.
template <class Fn>
auto whileAlive(QObject* context, Fn fn) {
  return [guard = QPointer<QObject>(context), bound = context != nullptr,
          fn = std::make_shared<Fn>(std::move(fn))](auto&&... args) {
    if (isMainThread()) {
      if ((!bound || guard) && !OffMainPool::shared().isCancelled()) (*fn)(std::forward<decltype(args)>(args)...);
      return;
    }
    runOnMain([guard, bound, fn, ... args = std::decay_t<decltype(args)>(std::forward<decltype(args)>(args))]() mutable {
      if ((!bound || guard) && !OffMainPool::shared().isCancelled()) (*fn)(std::move(args)...);
    });
  };
}

template <class Work, class Then>
bool startOffMain(QObject* context, Work work, Then then) {
  return OffMainPool::shared().start(
      [work = std::move(work), back = whileAlive(context, std::move(then))]() mutable {
        if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
          work();
          back();
        } else {
          back(work());
        }
      });
}

template <class Work>
bool startOffMain(QObject* context, Work work) {
  return OffMainPool::shared().start(
      [guard = QPointer<QObject>(context), bound = context != nullptr, work = std::move(work)]() mutable {
        if (bound && !guard) return;
        work();
      });
}

}  // namespace tlr
