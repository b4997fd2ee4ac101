#include "backup/VolumeLock.h"

#include "platform/Log.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
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

namespace {

// Holds the lock folder's own flock while a run replaces what stands at the
// lock file's place, so that of several runs finding a link there at once
// exactly one puts its file in: the others, once inside, find a plain file
// and try the lock on it as usual. Short by nature (an lstat and a rename),
// so a run that finds it held tries again for a moment instead of waiting.
class ReplacementGuard {
 public:
  explicit ReplacementGuard(const QByteArray& folder)
      : fd_(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    for (int attempt = 0; attempt < 2000; ++attempt) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        locked_ = true;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) return;
      const struct timespec pause{0, 1000000};  // 1 ms
      ::nanosleep(&pause, nullptr);
    }
    contended_ = true;
  }
  ~ReplacementGuard() {
    if (fd_ < 0) return;
    if (locked_) ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  ReplacementGuard(const ReplacementGuard&) = delete;
  ReplacementGuard& operator=(const ReplacementGuard&) = delete;
  // Another run kept the guard for the whole try: it is replacing the file
  // and comes away holding the lock. (A folder that cannot be opened or
  // locked at all guards nothing and stops nobody.)
  bool contended() const { return contended_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
  bool contended_ = false;
};

// Opens the lock file at `path` for locking: a plain file of ours, made when
// missing. What stands there and is no plain file (a symbolic link, a FIFO,
// a socket) is never opened through: it is replaced by a fresh file of ours,
// made and locked under a temporary name first and renamed into place while
// the folder's replacement guard is held, so that of several runs replacing
// it at once exactly one comes away holding the lock on the file at the
// path. -1 with errno set when nothing can be opened; EWOULDBLOCK when
// another holds the lock.
int openLocked(const QByteArray& path) {
  const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());
  for (int attempt = 0; attempt < 8; ++attempt) {
    // Never waits (a FIFO put there must not stop a backup) and never
    // follows a link.
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    // A folder standing there is locked itself: every run meets the same
    // folder, so it keeps them apart as the file would.
    if (fd < 0 && errno == EISDIR)
      fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st{};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {  // never waits, so never interrupted
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
      }
      // Still the file at the path (not replaced while we locked it)?
      struct stat now{};
      if (::lstat(path.constData(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) return fd;
      ::close(fd);
      continue;
    }
    if (fd >= 0) {
      ::close(fd);
    } else if (errno != ELOOP && errno != ENXIO) {  // ENXIO: a socket
      return -1;
    }
    // A link, a socket or some other thing: our own file takes its place,
    // unless another run has put its own there meanwhile.
    const ReplacementGuard guard(folder);
    if (guard.contended()) {
      errno = EWOULDBLOCK;
      return -1;
    }
    struct stat there{};
    if (::lstat(path.constData(), &there) == 0 && (S_ISREG(there.st_mode) || S_ISDIR(there.st_mode))) continue;
    const QByteArray temporary = path + ".tlr-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    const int own = ::open(temporary.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (own < 0) return -1;
    ::flock(own, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
    // rename replaces the link itself, never what it points to.
    if (::rename(temporary.constData(), path.constData()) != 0) {
      const int error = errno;
      ::close(own);
      ::unlink(temporary.constData());
      errno = error;
      return -1;
    }
    log("[Backup] ", QStringLiteral("%1 不是普通文件：已换成 Tollamere 自己的锁文件").arg(QFile::decodeName(path)));
    return own;
  }
  errno = EAGAIN;
  return -1;
}

// The image whose lock file `lockPath` is (".<image name>.lock" beside it),
// or empty for another name.
QByteArray imageOfLockPath(const QString& lockPath) {
  const QFileInfo info(lockPath);
  const QString name = info.fileName();
  if (!name.startsWith('.') || !name.endsWith(QStringLiteral(".lock")) || name.size() <= 6) return {};
  return QFile::encodeName(info.absolutePath() + '/' + name.mid(1, name.size() - 6));
}

// Locks the image folder itself, which cannot be swapped under its holder
// the way the lock file beside it can be removed or replaced: a run that
// finds the file gone or new still finds the folder locked. -1 when there
// is no such folder (none yet, or a link there), and with errno EWOULDBLOCK
// when another holds it.
int lockImageFolder(const QByteArray& image) {
  if (image.isEmpty()) {
    // Said as such: what errno held before (a read that would have blocked,
    // on this thread a moment ago) is no answer about this lock.
    errno = ENOENT;
    return -1;
  }
  const int fd = ::open(image.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    errno = ENOENT;
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Unlocks before closing: a child forked on another thread this moment
// holds a copy of the descriptor until it execs, and closing ours alone
// would leave the lock held by that copy.
void unlockAndClose(int fd) {
  if (fd < 0) return;
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

}  // namespace

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
    fd = openLocked(QFile::encodeName(lockPath));
    if (fd < 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
      giveUp();
      return std::nullopt;
    }
  }
  const int fileError = errno;
  const int imageFd = lockImageFolder(imageOfLockPath(lockPath));
  if (imageFd < 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
    unlockAndClose(fd);
    giveUp();
    return std::nullopt;
  }
  if (fd < 0 && imageFd < 0) {
    log("[Backup] ", QStringLiteral("无法创建锁文件 %1（%2），只在本进程内防止并发")
                         .arg(lockPath, QString::fromLocal8Bit(std::strerror(fileError))));
  }
  ++g_heldCount;
  VolumeActivity::shared().announce();
  return VolumeLock(lockPath, fd, imageFd);
}

VolumeLock::VolumeLock(VolumeLock&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), imageFd_(other.imageFd_), held_(other.held_) {
  other.fd_ = -1;
  other.imageFd_ = -1;
  other.held_ = false;
}

VolumeLock& VolumeLock::operator=(VolumeLock&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    imageFd_ = other.imageFd_;
    held_ = other.held_;
    other.fd_ = -1;
    other.imageFd_ = -1;
    other.held_ = false;
  }
  return *this;
}

VolumeLock::~VolumeLock() { release(); }

void VolumeLock::release() {
  if (!held_) return;
  held_ = false;
  unlockAndClose(imageFd_);
  unlockAndClose(fd_);
  fd_ = -1;
  imageFd_ = -1;
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
