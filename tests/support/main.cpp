#include <QCoreApplication>

#include <gmock/gmock.h>

#include "platform/OffMain.h"

#include <chrono>

// Tests run with a QCoreApplication, so code that hops to the main thread or
// uses Qt's event loop behaves as it does in the application.
int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  QCoreApplication app(argc, argv);
  const int result = RUN_ALL_TESTS();
  // As the application does at quit: work still running off the window
  // thread (a look-up a sheet started as it opened) is cancelled, and the
  // pool's threads have ended, their thread-local data with them (the font
  // caches of those that drew), before the process's objects go: a thread
  // ending after the toolkit's thread storage had gone left its font cache
  // behind, which the sanitized suite reported as leaked.
  tlr::OffMainPool::shared().cancel();
  static_cast<void>(
      tlr::OffMainPool::shared().waitForThreadsToEnd(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
  return result;
}
