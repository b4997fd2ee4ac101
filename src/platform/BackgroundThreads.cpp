#include "platform/BackgroundThreads.h"

#include "platform/ChildReaper.h"
#include "platform/OffMain.h"
#include "platform/SerialWorker.h"

#include <QDir>
#include <QFile>

#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace tlr::BackgroundThreads {

namespace {

QStringList runningNow() {
  const QString self = QString::number(static_cast<long>(::syscall(SYS_gettid)));
  QStringList names;
  const QString tasks = QStringLiteral("/proc/self/task");
  for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (tid == self) continue;
    QFile comm(tasks + '/' + tid + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly)) continue;  // gone meanwhile
    const QString name = QString::fromUtf8(comm.readAll()).trimmed();
    if (name.startsWith(QLatin1String("TLR."))) names << name + QStringLiteral(" (") + tid + ')';
  }
  return names;
}

}  // namespace

bool endAll(std::chrono::steady_clock::time_point deadline) {
  OffMainPool::shared().cancel();
  const bool poolEnded = OffMainPool::shared().waitForThreadsToEnd(deadline);
  SerialWorker::endAll();
  ChildReaper::endReaping();
  return poolEnded;
}

QStringList stillRunning(std::chrono::milliseconds settle) {
  const auto until = std::chrono::steady_clock::now() + settle;
  QStringList names = runningNow();
  while (!names.isEmpty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    names = runningNow();
  }
  return names;
}

}  // namespace tlr::BackgroundThreads
