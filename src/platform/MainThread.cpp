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

bool isMainThread() {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void runOnMain(std::function<void()> fn) {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool runOnMainAndWait(const std::function<void()>& fn) {
  if (isMainThread()) {
    fn();
    return true;
  }
  auto* app = QCoreApplication::instance();
  if (!app || OffMainPool::shared().isCancelled()) return false;

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
