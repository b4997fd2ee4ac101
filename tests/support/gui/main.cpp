#include <QApplication>

#include <gmock/gmock.h>

// Widget tests run with a QApplication on Qt's offscreen platform unless the
// caller chose another, so they need no display.
int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
