#include <QCoreApplication>

#include <gmock/gmock.h>

#include "support/EndOfRun.h"

// Tests run with a QCoreApplication, so code that hops to the main thread or
// uses Qt's event loop behaves as it does in the application.
int main(int argc, char** argv) {
  const tlr::test::RunFolder folder(argv[0]);
  ::testing::InitGoogleMock(&argc, argv);
  QCoreApplication app(argc, argv);
  return tlr::test::endOfRun(RUN_ALL_TESTS(), folder);
}
