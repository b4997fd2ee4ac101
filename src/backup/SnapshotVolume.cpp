#include "backup/SnapshotVolume.h"

#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"

namespace tlr {

SnapshotVolume SnapshotVolume::standard() {
  SnapshotVolume v;
  v.exists = [] { return BackupVolume::exists(); };
  v.isMounted = [] { return BackupVolume::isMounted(); };
  v.mountInteractive = [](const LocKey& reason) {
    return BackupVolume::mountInteractive(reason).and_then([](auto&&) -> Expected<void, BackupVolumeError> { return {}; });
  };
  v.unmount = [] { return BackupVolume::detach(); };
  v.adoptOrphan = [] { return BackupVolume::adoptOrphan(); };
  v.lock = [] { return VolumeLock::tryAcquire(BackupVolume::lockPath()); };
  v.device = [] { return BackupVolume::mountedDevice(); };
  v.snapshotsRoot = [] { return BackupStorage::rootURL().value_or(QString()); };
  v.listSnapshots = [] { return BackupStorage::listSnapshots(); };
  v.pruneKeeping = [](const QString& label) { BackupStorage::pruneSnapshots(label); };
  v.timestampLabel = [](const QDateTime& date) { return BackupStorage::timestampLabel(date); };
  v.workFolder = [] { return Paths::home(); };
  return v;
}

PendingAttach::PendingAttach(const SnapshotVolume& volume, const LocKey& reason) {
  thread_ = OffMainPool::alongside([this, mount = volume.mountInteractive, reason] {
    Expected<void, BackupVolumeError> attached = mount(reason);
    std::lock_guard lock(mutex_);
    result_ = std::move(attached);
    ended_.notify_all();
  });
}

PendingAttach::~PendingAttach() { thread_.join(); }

bool PendingAttach::ended() const {
  std::lock_guard lock(mutex_);
  return result_.has_value();
}

Expected<void, BackupVolumeError> PendingAttach::wait() const {
  std::unique_lock lock(mutex_);
  ended_.wait(lock, [this] { return result_.has_value(); });
  return *result_;
}

}  // namespace tlr
