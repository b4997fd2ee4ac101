#include "backup/BackupStorage.h"

#include "backup/BackupVolume.h"
#include "platform/FileOps.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace tlr {

QString StorageError::localizedDescription() const {
  switch (kind) {
    case Kind::volumeNotMounted:
      return QStringLiteral("加密备份卷未挂载，无法写入备份。请先在 UI 里初始化加密卷。");
    case Kind::invalidLabel:
      return QStringLiteral("快照名称无效：") + detail;
    case Kind::fileSystem:
      return QStringLiteral("无法创建快照文件夹：") + detail;
  }
  return {};
}

std::optional<QString> BackupStorage::rootURL() {
  if (!BackupVolume::isMounted()) return std::nullopt;
  const QString root = BackupVolume::mountPoint() + QStringLiteral("/snapshots");
  // The owner's only, whatever the umask; a failure shows in the listing or
  // the creation that follows.
  static_cast<void>(FileOps::makeFolders(root));
  return root;
}

QString BackupStorage::timestampLabel(const QDateTime& date) {
  return date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

bool BackupStorage::isTimestampLabel(const QString& name) {
  static const QString kShape = QStringLiteral("dddd-dd-dd_dd-dd-dd");
  if (name.size() != kShape.size()) return false;
  for (qsizetype i = 0; i < name.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (kShape[i] == 'd' ? !digit : name[i] != kShape[i]) return false;
  }
  return true;
}

Expected<QString, StorageError> BackupStorage::newSnapshotDirectory(const std::optional<QString>& timestamp) {
  const QString label = timestamp.value_or(timestampLabel(QDateTime::currentDateTime()));
  if (!isTimestampLabel(label)) return Unexpected(StorageError{StorageError::Kind::invalidLabel, label});
  const std::optional<QString> root = rootURL();
  if (!root) return Unexpected(StorageError{StorageError::Kind::volumeNotMounted, {}});
  return newSnapshotDirectoryIn(*root, label);
}

Expected<QString, StorageError> BackupStorage::newSnapshotDirectoryIn(const QString& root,
                                                                      const std::optional<QString>& timestamp) {
  const QString label = timestamp.value_or(timestampLabel(QDateTime::currentDateTime()));
  // A name with "/" or ".." would lead out of the root; any other name would
  // never be listed or pruned.
  if (!isTimestampLabel(label)) return Unexpected(StorageError{StorageError::Kind::invalidLabel, label});
  const QString dir = root + '/' + label;
  const QFileInfo existing(dir);
  if (existing.isDir() && !existing.isSymLink()) return dir;
  if (existing.exists() || existing.isSymLink() || !FileOps::makeFolders(dir)) {
    return Unexpected(StorageError{StorageError::Kind::fileSystem, dir});
  }
  return dir;
}

QStringList BackupStorage::listSnapshots() {
  const std::optional<QString> root = rootURL();
  return root ? listSnapshotsIn(*root) : QStringList();
}

QStringList BackupStorage::listSnapshotsIn(const QString& root) {
  QStringList names;
  const QFileInfoList entries =
      QDir(root).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  for (const QFileInfo& e : entries) {
    if (e.isDir() && !e.isSymLink() && isTimestampLabel(e.fileName())) names << e.fileName();
  }
  std::sort(names.begin(), names.end(), std::greater<>());
  QStringList paths;
  for (const QString& n : names) paths << root + '/' + n;
  return paths;
}

void BackupStorage::pruneOldSnapshots() {
  if (const std::optional<QString> root = rootURL()) pruneOldSnapshotsIn(*root);
}

void BackupStorage::pruneOldSnapshotsIn(const QString& root) {
  const QStringList list = listSnapshotsIn(root);
  // Pruning is housekeeping: a snapshot that stays is pruned next time.
  for (qsizetype i = 1; i < list.size(); ++i) static_cast<void>(FileOps::removeItem(list[i]));
}

void BackupStorage::pruneSnapshots(const QString& keepLabel) {
  if (const std::optional<QString> root = rootURL()) pruneSnapshotsIn(*root, keepLabel);
}

void BackupStorage::pruneSnapshotsIn(const QString& root, const QString& keepLabel) {
  const QStringList list = listSnapshotsIn(root);
  const QString kept = root + '/' + keepLabel;
  if (!list.contains(kept)) return;
  for (const QString& path : list) {
    if (path != kept) static_cast<void>(FileOps::removeItem(path));  // housekeeping, as above
  }
}

}  // namespace tlr
