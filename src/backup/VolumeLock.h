#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace tlr {

// Keeps the operations on one backup image apart: a backup, a restore, a
// migration export or import, and reading the image's snapshots each hold
// this lock for as long as they use the image, so a second one is refused at
// once instead of racing the first for the mount, the staging folders and
// the snapshot names. The lock is an exclusive flock on a small file beside
// the image (a folder standing there is locked itself) and, when the image
// stands, on the image folder too, which cannot be removed or replaced under
// its holder the way the file can; it holds between processes (a
// verification mode and the application) and within one process alike, and
// the kernel drops it when its holder ends, however it ends.
class VolumeLock {
 public:
  // The lock file of the image at `image`: ".<image name>.lock" beside it.
  static QString lockPathFor(const QString& image);

  // Takes the lock of `lockPath` without waiting; nothing when it is held
  // (by this process or another). When the file cannot be made at all (the
  // image's folder cannot be written), the lock is taken within this process
  // only, and a line says so.
  static std::optional<VolumeLock> tryAcquire(const QString& lockPath);

  VolumeLock(VolumeLock&& other) noexcept;
  VolumeLock& operator=(VolumeLock&& other) noexcept;
  VolumeLock(const VolumeLock&) = delete;
  VolumeLock& operator=(const VolumeLock&) = delete;
  ~VolumeLock();

  const QString& path() const { return path_; }

 private:
  VolumeLock(QString path, int fd, int imageFd) : path_(std::move(path)), fd_(fd), imageFd_(imageFd) {}
  void release();

  QString path_;
  int fd_ = -1;
  int imageFd_ = -1;  // the image folder's, when the image stands
  bool held_ = true;
};

// Whether this process is using a backup image right now, for the windows:
// every other operation on the volume is offered only while it is not. Read
// on the main thread; `changed` is emitted there.
class VolumeActivity final : public QObject {
  Q_OBJECT
 public:
  static VolumeActivity& shared();
  bool busy() const;

 Q_SIGNALS:
  void changed();

 private:
  friend class VolumeLock;
  VolumeActivity() = default;
  void announce();
};

}  // namespace tlr
