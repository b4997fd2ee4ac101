#include "platform/MainThread.h"

#include "platform/OffMain.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace tlr {

namespace {

// The application object ends on the main thread while workers may still be
// finishing work that reports back (at the end of a run, in exit handlers).
// Its end is noted under a lock at the start of its destructor (a post
// routine), and workers look at it only under that lock, so none reads or
// posts to an object that is going away.
std::mutex& appMutex() {
  static std::mutex mutex;
  return mutex;
}
bool appEnding = false;  // under appMutex()

void noteAppEnding() {
  std::lock_guard lock(appMutex());
  appEnding = true;
}

void watchAppEnd() {
  {
    std::lock_guard lock(appMutex());
    appEnding = false;
  }
  qAddPostRoutine(noteAppEnding);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(watchAppEnd)

bool isMainThread() {
  std::lock_guard lock(appMutex());
  auto* app = QCoreApplication::instance();
  return app && !appEnding && QThread::currentThread() == app->thread();
}

void runOnMain(std::function<void()> fn) {
  std::lock_guard lock(appMutex());
  auto* app = QCoreApplication::instance();
  if (!app || appEnding) return;
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

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
    std::lock_guard appLock(appMutex());
    auto* app = QCoreApplication::instance();
    if (!app || appEnding) return false;
    QMetaObject::invokeMethod(
        app,
        [handoff, &fn] {
          std::lock_guard lock(handoff->mutex);
          if (handoff->abandoned) return;
          fn();
          handoff->done = true;
          handoff->finished.notify_all();
        },
        Qt::QueuedConnection);
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
