#include "verify/ScratchVolume.h"

#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "platform/Crypto.h"
#include "platform/DiskImage.h"
#include "platform/FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <mutex>

#include <sys/stat.h>

namespace tlr {

namespace {

// The folders of the scratch volumes this process made and has not removed.
struct Live {
  std::mutex mutex;
  QStringList folders;
};

Live& live() {
  static Live* l = new Live;  // lives to the end of the process
  return *l;
}

// Detaches what is attached at `folder`'s mount point and removes the
// folder; true when nothing is left.
bool removeScratch(const QString& folder) {
  const QString image = folder + QStringLiteral("/image");
  const QString point = folder + QStringLiteral("/mnt");
  if (!QFileInfo::exists(folder)) return true;
  // A scratch image is ours alone: work of ours that was stopped and still
  // holds a file there does not keep it attached.
  // Whether the detach and the removal went is looked at after each.
  if (DiskImage::isMounted(image, point))
    static_cast<void>(DiskImage::detach(point, DiskImage::WhenBusy::detachLazily));
  // Never remove through a mount that would not go: that would delete the
  // decrypted content instead.
  if (DiskImage::isMounted(image, point)) return false;
  static_cast<void>(FileOps::removeItem(folder));
  return !QFileInfo::exists(folder);
}

}  // namespace

void ScratchVolume::removeAll() {
  std::lock_guard lock(live().mutex);
  for (const QString& folder : live().folders) removeScratch(folder);
  live().folders.clear();
}

Expected<std::shared_ptr<ScratchVolume>, QString> ScratchVolume::create() {
  // Nothing is made or attached that could not be detached again.
  if (const auto missing = BackupVolume::missingTool()) return Unexpected(missing->localizedDescription());
  QTemporaryDir made(QDir::tempPath() + QStringLiteral("/tlr-selftest-XXXXXX"));
  if (!made.isValid()) return Unexpected(QStringLiteral("无法创建临时文件夹：") + made.errorString());
  made.setAutoRemove(false);
  QString password = QString::number(QRandomGenerator::system()->generate64(), 36) +
                     QString::number(QRandomGenerator::system()->generate64(), 36);
  std::shared_ptr<ScratchVolume> scratch(new ScratchVolume(made.path(), password));
  {
    std::lock_guard lock(live().mutex);
    live().folders << made.path();
  }
  Crypto::wipe(password);
  // A scratch folder that cannot be removed now stays listed, and goes with
  // removeAll() at the end.
  if (!QDir().mkpath(scratch->image()) || !QDir().mkpath(scratch->mountPoint())) {
    static_cast<void>(scratch->remove());
    return Unexpected(QStringLiteral("无法创建临时文件夹：") + scratch->folder());
  }
  const DiskImage::ToolResult created = DiskImage::create(scratch->image(), scratch->password_);
  if (!created) {
    static_cast<void>(scratch->remove());
    return Unexpected(QStringLiteral("创建加密卷失败：") + created.error().reason);
  }
  return scratch;
}

ScratchVolume::~ScratchVolume() {
  static_cast<void>(remove());  // as in create(): removeAll() takes what stays
  Crypto::wipe(password_);
}

bool ScratchVolume::remove() {
  std::lock_guard lock(live().mutex);
  if (!removeScratch(folder_)) return false;
  live().folders.removeAll(folder_);
  return true;
}

SnapshotVolume ScratchVolume::access() const {
  // The engines may outlive a step that fails; they hold their own copy of
  // these paths, never the object.
  const QString image = this->image();
  const QString point = mountPoint();
  const QString folder = folder_;
  const QString password = password_;
  const QString snapshots = point + QStringLiteral("/snapshots");
  auto isMounted = [image, point] { return DiskImage::isMounted(image, point); };
  SnapshotVolume v;
  v.exists = [image] { return QFileInfo::exists(image + QStringLiteral("/gocryptfs.conf")); };
  v.isMounted = isMounted;
  v.mountInteractive = [image, point, password, isMounted](const LocKey&) -> Expected<void, BackupVolumeError> {
    if (isMounted()) return {};
    if (auto missing = BackupVolume::missingTool()) return Unexpected(std::move(*missing));
    const DiskImage::ToolResult attached = DiskImage::attach(image, point, password);
    if (!attached) return Unexpected(BackupVolumeError::ofAttach(attached.error()));
    return {};
  };
  v.unmount = [point, isMounted]() -> Expected<void, BackupVolumeError> {
    // Unmounting at the end: the scratch volume is removed after, and a
    // mount that stays keeps its folder from going.
    if (isMounted() && !DiskImage::detach(point))
      return Unexpected(BackupVolumeError{BackupVolumeError::Kind::detachFailed, point, false, {}});
    return {};
  };
  v.adoptOrphan = [] { return false; };
  v.lock = [image] { return VolumeLock::tryAcquire(VolumeLock::lockPathFor(image)); };
  v.device = [point, isMounted] { return isMounted() ? DiskImage::mountedDevice(point) : std::nullopt; };
  v.snapshotsRoot = [snapshots, isMounted]() -> QString {
    if (!isMounted()) return {};
    QDir().mkpath(snapshots);
    return snapshots;
  };
  v.listSnapshots = [snapshots, isMounted] {
    return isMounted() ? BackupStorage::listSnapshotsIn(snapshots) : QStringList();
  };
  v.pruneKeeping = [snapshots](const QString& label) { BackupStorage::pruneSnapshotsIn(snapshots, label); };
  v.timestampLabel = [](const QDateTime& date) { return BackupStorage::timestampLabel(date); };
  v.workFolder = [folder] { return folder; };
  v.userVolume = false;
  return v;
}

}  // namespace tlr
