#include "EngineTestSupport.h"
#include "support/TestSupport.h"

#include "backup/BackupStorage.h"
#include "core/texts/LocTexts.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace tlr::test {

SnapshotVolume FolderVolume::access() {
  SnapshotVolume v;
  v.exists = [this] { return exists.load(); };
  v.isMounted = [this] { return mounted.load(); };
  v.mountInteractive = [this](const LocKey&) -> Expected<void, BackupVolumeError> {
    if (mountError) return Unexpected(*mountError);
    if (whileAttaching) whileAttaching();
    mounted = true;
    ++mounts;
    return {};
  };
  v.unmount = [this]() -> Expected<void, BackupVolumeError> {
    if (!mounted) return {};
    if (unmountError) return Unexpected(*unmountError);
    mounted = false;
    orphaned = false;
    ++unmounts;
    return {};
  };
  v.adoptOrphan = [this] { return mounted && orphaned.exchange(false); };
  v.lock = [this] { return VolumeLock::tryAcquire(lockFile()); };
  v.device = [this]() -> std::optional<quint64> {
    struct stat st{};
    if (!mounted || ::stat(QFile::encodeName(folder).constData(), &st) != 0) return std::nullopt;
    return static_cast<quint64>(st.st_dev);
  };
  v.workFolder = [this] { return workFolder.isEmpty() ? Paths::home() : workFolder; };
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

QString stageText(const EngineState& engine) { return engine.stage() ? LocTexts::text(AppLanguage::zh, *engine.stage()) : QString(); }

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace tlr::test

