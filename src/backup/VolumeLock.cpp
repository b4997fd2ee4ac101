#include "backup/VolumeLock.h"

#include "platform/Log.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace tlr {
namespace {

// The lock paths this process holds: the guard within the process when no
// lock file could be made, and the count behind VolumeActivity.
struct Held {
  std::mutex mutex;
  QSet<QString> paths;
};

Held& held() {
  static Held h;
  return h;
}

std::atomic<int> g_heldCount{0};

}  // namespace

QString VolumeLock::lockPathFor(const QString& image) {
  const QFileInfo info(image);
  return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}

std::optional<VolumeLock> VolumeLock::tryAcquire(const QString& lockPath) {
  {
    std::lock_guard lock(held().mutex);
    if (held().paths.contains(lockPath)) return std::nullopt;
    held().paths.insert(lockPath);
  }
  auto giveUp = [&] {
    std::lock_guard lock(held().mutex);
    held().paths.remove(lockPath);
  };
  int fd = -1;
  if (!lockPath.contains(QChar(0))) {
    // Never waits (a FIFO put there must not stop a backup) and never
    // follows a link: the file is ours, beside the image.
    fd = ::open(QFile::encodeName(lockPath).constData(),
                O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  }
  if (fd < 0) {
    log("[Backup] ", QStringLiteral("无法创建锁文件 %1（%2），只在本进程内防止并发")
                         .arg(lockPath, QString::fromLocal8Bit(std::strerror(errno))));
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {  // never waits, so never interrupted
    ::close(fd);
    giveUp();
    return std::nullopt;
  }
  ++g_heldCount;
  VolumeActivity::shared().announce();
  return VolumeLock(lockPath, fd);
}

VolumeLock::VolumeLock(VolumeLock&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), held_(other.held_) {
  other.fd_ = -1;
  other.held_ = false;
}

VolumeLock& VolumeLock::operator=(VolumeLock&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    held_ = other.held_;
    other.fd_ = -1;
    other.held_ = false;
  }
  return *this;
}

VolumeLock::~VolumeLock() { release(); }

void VolumeLock::release() {
  if (!held_) return;
  held_ = false;
  // Closing the descriptor drops the flock.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  {
    std::lock_guard lock(held().mutex);
    held().paths.remove(path_);
  }
  --g_heldCount;
  VolumeActivity::shared().announce();
}

VolumeActivity& VolumeActivity::shared() {
  static VolumeActivity* activity = [] {
    auto* a = new VolumeActivity();
    // It belongs to the main thread, whichever thread asked first.
    if (QCoreApplication* app = QCoreApplication::instance()) a->moveToThread(app->thread());
    return a;
  }();
  return *activity;
}

bool VolumeActivity::busy() const { return g_heldCount.load() > 0; }

void VolumeActivity::announce() {
  runOnMain([] { Q_EMIT VolumeActivity::shared().changed(); });
}

}  // namespace tlr
