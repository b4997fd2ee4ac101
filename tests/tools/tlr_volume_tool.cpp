// Attaches the backup volume with the password read from standard input,
// then quits the application the ordinary way. Prints "mounted" (or
// "failed: <reason>") and, after the event loop ended, whether the volume is
// still attached. Used to check that quitting detaches what this process
// attached. With the argument "hold" it stays after "mounted" until it is
// killed (a run killed while it used the volume). With "busy" it quits while
// work off the main thread still uses the volume: a child process writing a
// file in it and a thread reading one, as a backup does; like the
// application, it cancels that work when it quits.
#include "backup/BackupVolume.h"
#include "platform/ChildProcess.h"
#include "platform/OffMain.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// Starts the two users of the volume and returns once both hold a file in it.
bool occupyVolume() {
  const QString point = tlr::BackupVolume::mountPoint();
  // Shared with the reading thread, which may outlive a call that gave up.
  const auto holding = std::make_shared<std::atomic<bool>>(false);
  tlr::startOffMain(nullptr, [point] {
    tlr::ChildSpec spec;
    spec.program = QStringLiteral("/bin/sh");
    spec.arguments = {QStringLiteral("-c"), QStringLiteral("exec 3>\"$1/written\"; echo x >&3; exec sleep 60"),
                      QStringLiteral("sh"), point};
    spec.timeout = std::chrono::seconds(120);
    // Only holding the file matters; the test ends the holder.
    static_cast<void>(tlr::runChild(spec));
  });
  tlr::startOffMain(nullptr, [point, holding] {
    const int fd = ::open(QFile::encodeName(point + QStringLiteral("/read")).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    *holding = true;
    // Held until the work is cancelled, as a long read would be; the file
    // is left open, as a thread stuck in a read leaves it.
    while (!tlr::OffMainPool::currentIsCancelled()) tlr::OffMainPool::pause(std::chrono::milliseconds(50));
    (void)fd;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (*holding && QFile::exists(point + QStringLiteral("/written"))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool busy = app.arguments().contains(QStringLiteral("busy"));
  // As the application: running work is cancelled first when it quits.
  if (busy) QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { tlr::OffMainPool::shared().cancel(); });
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
  if (busy && r.ok() && !occupyVolume()) std::printf("could not occupy the volume\n");
  QTimer::singleShot(0, &app, &QCoreApplication::quit);
  QCoreApplication::exec();
  std::printf("after-quit mounted=%d\n", tlr::BackupVolume::isMounted() ? 1 : 0);
  std::fflush(stdout);
  // Like the application, which does not wait for work that would not end.
  ::_exit(0);
}
