#include "platform/OffMain.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <sys/eventfd.h>
#include <memory>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tlr {

// Shared with the threads, so a thread that outlives its pool (stuck in a
// task when the pool went) still finds what it touches.
struct OffMainPool::State {
  ~State() {
    if (cancelFd >= 0) ::close(cancelFd);
  }

  mutable std::mutex mutex;
  std::condition_variable wake;          // a task was queued, or cancel
  mutable std::condition_variable idle;  // a task ended, or cancel
  std::deque<std::function<void()>> queue;
  int threads = 0;   // threads alive
  int waiting = 0;   // threads waiting for a task
  int running = 0;   // tasks running
  bool cancelled = false;
  int cancelFd = -1;
  // Threads that have left their loop and are not joined yet; once the pool
  // is gone, a thread that leaves detaches itself instead.
  std::vector<pthread_t> finished;
  bool poolGone = false;

  // Joins the threads that have left their loop, waiting for each until
  // `deadline` (nullopt: not at all); those not done by then stay listed.
  // Whether none is left.
  bool joinFinished(std::optional<std::chrono::system_clock::time_point> deadline) {
    std::vector<pthread_t> joining;
    {
      std::lock_guard lock(mutex);
      joining.swap(finished);
    }
    std::vector<pthread_t> left;
    for (const pthread_t thread : joining) {
      int rc;
      if (deadline) {
        const auto since = deadline->time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
        const timespec until{static_cast<time_t>(seconds.count()),
                             static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())};
        rc = ::pthread_timedjoin_np(thread, nullptr, &until);
      } else {
        rc = ::pthread_tryjoin_np(thread, nullptr);
      }
      if (rc != 0) left.push_back(thread);
    }
    std::lock_guard lock(mutex);
    finished.insert(finished.end(), left.begin(), left.end());
    return finished.empty();
  }
};

namespace {

// More tasks than this at once wait in the queue for a free thread.
constexpr int kMaxThreads = 32;

// The pool state of the task that runs on this thread; the thread holds it.
thread_local OffMainPool::State* currentState = nullptr;

}  // namespace

OffMainPool::OffMainPool() : state_(std::make_shared<State>()) {
  state_->cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

OffMainPool::~OffMainPool() {
  cancel();
  waitForIdle(Clock::now() + std::chrono::seconds(2));
  std::lock_guard lock(state_->mutex);
  state_->poolGone = true;
  for (const pthread_t thread : state_->finished) ::pthread_detach(thread);
  state_->finished.clear();
}

OffMainPool& OffMainPool::shared() {
  static OffMainPool* pool = new OffMainPool;  // lives to the end of the process
  return *pool;
}

bool OffMainPool::start(std::function<void()> task) {
  // Threads that ended by now are joined, without waiting for any.
  state_->joinFinished(std::nullopt);
  std::unique_lock lock(state_->mutex);
  if (state_->cancelled) return false;
  state_->queue.push_back(std::move(task));
  if (state_->waiting >= static_cast<int>(state_->queue.size())) {
    state_->wake.notify_one();
    return true;
  }
  if (state_->threads >= kMaxThreads) return true;
  ++state_->threads;
  lock.unlock();
  auto* handedOver = new std::shared_ptr<State>(state_);
  pthread_t thread;
  if (::pthread_create(&thread, nullptr, &OffMainPool::threadMain, handedOver) != 0) {
    delete handedOver;
    lock.lock();
    --state_->threads;
    // The task waits in the queue for a thread that may come later.
  }
  return true;
}

void* OffMainPool::threadMain(void* handedOver) {
  const std::unique_ptr<std::shared_ptr<State>> state(static_cast<std::shared_ptr<State>*>(handedOver));
  work(*state);
  return nullptr;
}

void OffMainPool::work(std::shared_ptr<State> state) {
  ::pthread_setname_np(::pthread_self(), "TLR.offmain");
  currentState = state.get();
  std::unique_lock lock(state->mutex);
  while (true) {
    ++state->waiting;
    const bool got = state->wake.wait_for(lock, kIdleThreadLife,
                                          [&] { return state->cancelled || !state->queue.empty(); });
    --state->waiting;
    if (!got || state->cancelled) break;
    std::function<void()> task = std::move(state->queue.front());
    state->queue.pop_front();
    ++state->running;
    lock.unlock();
    task();
    task = nullptr;  // what it captured goes before the pool counts it done
    lock.lock();
    --state->running;
    state->idle.notify_all();
  }
  --state->threads;
  if (state->poolGone)
    ::pthread_detach(::pthread_self());
  else
    state->finished.push_back(::pthread_self());
  state->idle.notify_all();
  currentState = nullptr;
}

void OffMainPool::cancel() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled) return;
    state_->cancelled = true;
    dropped.swap(state_->queue);
    if (state_->cancelFd >= 0) {
      const uint64_t one = 1;
      (void)!::write(state_->cancelFd, &one, sizeof one);
    }
  }
  state_->wake.notify_all();
  state_->idle.notify_all();
  // `dropped` goes here, outside the lock: what the tasks captured may be
  // large or take locks of its own.
}

bool OffMainPool::isCancelled() const {
  std::lock_guard lock(state_->mutex);
  return state_->cancelled;
}

bool OffMainPool::waitForIdle(Clock::time_point deadline) const {
  std::unique_lock lock(state_->mutex);
  return state_->idle.wait_until(lock, deadline, [&] { return state_->running == 0 && state_->queue.empty(); });
}

bool OffMainPool::waitForThreadsToEnd(Clock::time_point deadline) {
  {
    std::unique_lock lock(state_->mutex);
    if (!state_->idle.wait_until(lock, deadline, [&] { return state_->threads == 0; })) return false;
  }
  const auto left = deadline - Clock::now();
  return state_->joinFinished(std::chrono::system_clock::now() +
                              std::chrono::duration_cast<std::chrono::system_clock::duration>(std::max(left, Clock::duration::zero())));
}

int OffMainPool::busyCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->running + static_cast<int>(state_->queue.size());
}

bool OffMainPool::onPoolThread() { return currentState != nullptr; }

bool OffMainPool::currentIsCancelled() {
  if (!currentState) return false;
  std::lock_guard lock(currentState->mutex);
  return currentState->cancelled;
}

std::thread OffMainPool::alongside(std::function<void()> body) {
  // The task's thread holds the state until it ends, after the join.
  return std::thread([state = currentState, body = std::move(body)] {
    currentState = state;
    body();
    currentState = nullptr;
  });
}

int OffMainPool::currentCancelFd() { return currentState ? currentState->cancelFd : -1; }

bool OffMainPool::pause(std::chrono::milliseconds duration) {
  State* state = currentState;
  if (!state) {
    std::this_thread::sleep_for(duration);
    return true;
  }
  std::unique_lock lock(state->mutex);
  // `idle` is also notified on cancel.
  return !state->idle.wait_for(lock, duration, [&] { return state->cancelled; });
}

}  // namespace tlr
