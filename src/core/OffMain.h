#pragma once

#include "platform/MainThread.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <utility>

namespace tlr {

// Runs `work` on a pool thread, then hands its result to `done` on the main
// thread, unless `context` (a main-thread object) has been destroyed by then.
// Whatever `work` captures must stay valid on its own: hold shared pointers,
// never `context`.
template <class Work, class Done>
void runOffMain(QObject* context, Work work, Done done) {
  QThreadPool::globalInstance()->start(
      [guard = QPointer<QObject>(context), work = std::move(work), done = std::move(done)]() mutable {
        auto result = work();
        runOnMain([guard, done = std::move(done), result = std::move(result)]() mutable {
          if (guard) done(std::move(result));
        });
      });
}

}  // namespace tlr
