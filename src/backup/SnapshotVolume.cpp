#include "backup/SnapshotVolume.h"

#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"

namespace tlr {

SnapshotVolume SnapshotVolume::standard() {
  SnapshotVolume v;
  v.exists = [] { return BackupVolume::exists(); };
  v.isMounted = [] { return BackupVolume::isMounted(); };
  v.mountInteractive = [](const QString& reason) -> std::optional<QString> {
    const auto mounted = BackupVolume::mountInteractive(reason);
    if (mounted.ok()) return std::nullopt;
    return mounted.error().localizedDescription();
  };
  v.unmount = [] { BackupVolume::unmount(); };
  v.snapshotsRoot = [] { return BackupStorage::rootURL().value_or(QString()); };
  v.listSnapshots = [] { return BackupStorage::listSnapshots(); };
  v.pruneKeeping = [](const QString& label) { BackupStorage::pruneSnapshots(label); };
  v.timestampLabel = [](const QDateTime& date) { return BackupStorage::timestampLabel(date); };
  return v;
}

}  // namespace tlr
