#include "ui/kit/Theme.h"

#include <QApplication>
#include <QFile>

#include <gmock/gmock.h>

#include "support/EndOfRun.h"

// Widget tests run with a QApplication on Qt's offscreen platform unless the
// caller chose another, so they need no display. The offscreen screen is
// 1280 × 800, the size of the X server the black-box tests use, so a window
// can grow to hold the tallest sheet.
int main(int argc, char** argv) {
  const tlr::test::RunFolder folder(argv[0]);
  ::testing::InitGoogleMock(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    const QString path = folder.path() + QStringLiteral("/offscreen.json");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
      file.write(R"({"screens":[{"name":"offscreen","x":0,"y":0,"width":1280,"height":800,"logicalDpi":96,)"
                 R"("logicalBaseDpi":96,"dpr":1}]})");
      file.close();
      qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QFile::encodeName(path));
    } else {
      qputenv("QT_QPA_PLATFORM", "offscreen");
    }
  }
  QApplication app(argc, argv);
  // The application's look, as the windows' start-up sets it: the light
  // scheme painted into the application palette.
  tlr::Appearance appearance;
  appearance.setAppliesApplicationPalette(true);
  return tlr::test::endOfRun(RUN_ALL_TESTS(), folder);
}
