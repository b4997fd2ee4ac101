#include "platform/Log.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
  tlr::makeStdioUnbuffered();
  QCoreApplication app(argc, argv);
  tlr::log("[App] ", QStringLiteral("Tollamere started"));
  return app.exec();
}
