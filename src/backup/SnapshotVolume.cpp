#include "backup/SnapshotVolume.h"

#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
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

}  // namespace tlr
