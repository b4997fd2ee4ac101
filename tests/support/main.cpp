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
  // thread (a look-up a sheet started as it opened) is cancelled and waited
  // for before the process's objects go.
  tlr::OffMainPool::shared().cancel();
  static_cast<void>(tlr::OffMainPool::shared().waitForIdle(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
  return result;
}
