#include "EngineTestSupport.h"
#include "support/TestSupport.h"

#include "backup/BackupStorage.h"
#include "platform/FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tlr::test {

SnapshotVolume FolderVolume::access() {
  SnapshotVolume v;
  v.exists = [this] { return exists.load(); };
  v.isMounted = [this] { return mounted.load(); };
  v.mountInteractive = [this](const QString&) -> std::optional<QString> {
    if (mountError) return mountError;
    mounted = true;
    ++mounts;
    return std::nullopt;
  };
  v.unmount = [this] {
    if (!mounted) return;
    mounted = false;
    ++unmounts;
  };
  v.snapshotsRoot = [this]() -> QString {
    if (!mounted) return {};
    QDir().mkpath(snapshots());
    return snapshots();
  };
  v.listSnapshots = [this] { return mounted ? BackupStorage::listSnapshotsIn(snapshots()) : QStringList(); };
  v.pruneKeeping = [this](const QString& keep) { BackupStorage::pruneSnapshotsIn(snapshots(), keep); };
  v.timestampLabel = [](const QDateTime& date) { return BackupStorage::timestampLabel(date); };
  return v;
}

void writeFile(const QString& path, const QByteArray& data) { test::writeBytes(path, data); }

QByteArray readAll(const QString& path) { return test::readBytes(path); }

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace tlr::test

