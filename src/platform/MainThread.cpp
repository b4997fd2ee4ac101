#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

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

void runOnMainAndWait(const std::function<void()>& fn) {
  if (isMainThread()) {
    fn();
    return;
  }
  auto* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
}

}  // namespace tlr
