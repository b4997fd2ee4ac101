#include "platform/MainThread.h"

#include "platform/OffMain.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace tlr {

namespace {

// The application object ends on the main thread while workers may still be
// finishing work that reports back (at the end of a run, in exit handlers).
// Its end is noted at the start of its destructor (a post routine), under
// the lock every poster holds shared, so none posts to an object that is
// going away. Posters never wait for each other: one held up inside its
// post (preempted on a busy machine, just after waking the main thread)
// holds up no other thread, the exit watcher's included. Whether a thread
// is the main thread is read without any lock.
std::shared_mutex& appMutex() {
  static std::shared_mutex mutex;
  return mutex;
}
bool appEnding = true;  // under appMutex()
std::atomic<bool> appLive{false};
std::atomic<std::thread::id> mainThreadId{};
std::atomic<void (*)()> handoffHook{nullptr};  // tests only

void noteAppEnding() {
  appLive = false;
  std::unique_lock lock(appMutex());
  appEnding = true;
}

void watchAppEnd() {
  {
    std::unique_lock lock(appMutex());
    appEnding = false;
  }
  mainThreadId = std::this_thread::get_id();
  appLive = true;
  qAddPostRoutine(noteAppEnding);
}

// Under a shared lock on appMutex().
bool postLocked(std::function<void()> fn) {
  auto* app = QCoreApplication::instance();
  if (!app || appEnding) return false;
  if (const auto hook = handoffHook.load()) hook();
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  return true;
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(watchAppEnd)

bool isMainThread() { return appLive.load() && std::this_thread::get_id() == mainThreadId.load(); }

void runOnMain(std::function<void()> fn) {
  std::shared_lock lock(appMutex());
  postLocked(std::move(fn));
}

void setHandoffHookForTesting(void (*hook)()) { handoffHook = hook; }

bool runOnMainAndWait(const std::function<void()>& fn) {
  if (isMainThread()) {
    fn();
    return true;
  }
  if (OffMainPool::shared().isCancelled()) return false;

  // The waiter and the main thread agree under one lock whether `fn` runs:
  // once the waiter has given up, the queued call does nothing, so `fn` and
  // what it refers to are never touched after this function returned.
  struct Handoff {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
  };
  auto handoff = std::make_shared<Handoff>();
  {
    std::shared_lock appLock(appMutex());
    const bool posted = postLocked([handoff, &fn] {
      std::lock_guard lock(handoff->mutex);
      if (handoff->abandoned) return;
      fn();
      handoff->done = true;
      handoff->finished.notify_all();
    });
    if (!posted) return false;
  }

  std::unique_lock lock(handoff->mutex);
  while (!handoff->finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return handoff->done; })) {
    if (QCoreApplication::closingDown() || !QCoreApplication::instance() || OffMainPool::shared().isCancelled()) {
      handoff->abandoned = true;
      return false;
    }
  }
  return true;
}

}  // namespace tlr
