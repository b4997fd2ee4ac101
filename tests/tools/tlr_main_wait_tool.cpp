// Quits the application while a pool thread waits for the main thread, as a
// user quitting during a setup or an install would. Must end by itself.
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cstdio>

int main(int argc, char** argv) {
  std::atomic<bool> waiting{false};
  std::atomic<bool> ran{false};
  std::atomic<int> answer{-1};
  {
    QCoreApplication app(argc, argv);
    QThreadPool::globalInstance()->start([&] {
      waiting = true;
      answer = tlr::runOnMainAndWait([&] { ran = true; }) ? 1 : 0;
    });
    // Quit as soon as the worker waits, before the loop turns again to serve it.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (waiting) QCoreApplication::quit();
    });
    poll.start(0);
    QCoreApplication::exec();
  }  // the teardown waits for the pool thread here
  std::printf("answer=%d ran=%d\n", answer.load(), ran.load() ? 1 : 0);
  return 0;
}
