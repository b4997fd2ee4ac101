// Attaches the backup volume with the password read from standard input,
// then quits the application the ordinary way. Prints "mounted" (or
// "failed: <reason>") and, after the event loop ended, whether the volume is
// still attached. Used to check that quitting detaches what this process
// attached. With the argument "hold" it stays after "mounted" until it is
// killed (a run killed while it used the volume).
#include "backup/BackupVolume.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::string line;
  std::getline(std::cin, line);
  const auto r = tlr::BackupVolume::mount(QString::fromStdString(line));
  if (r.ok()) {
    std::printf("mounted\n");
  } else {
    std::printf("failed: %s\n", r.error().localizedDescription().toUtf8().constData());
  }
  std::fflush(stdout);
  if (app.arguments().contains(QStringLiteral("hold"))) return QCoreApplication::exec();
  QTimer::singleShot(0, &app, &QCoreApplication::quit);
  QCoreApplication::exec();
  std::printf("after-quit mounted=%d\n", tlr::BackupVolume::isMounted() ? 1 : 0);
  return 0;
}
