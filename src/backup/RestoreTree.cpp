#include "backup/RestoreTree.h"

#include "backup/BackupPlanner.h"
#include "platform/FileTransfer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sys/stat.h>

namespace tlr {
namespace {

using FileTransfer::Kind;
using Case = RestoreError::Case;

QDirIterator walk(const QString& root) {
  return QDirIterator(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
}

std::optional<RestoreError> putFile(const QString& source, const QString& target, bool consume) {
  const auto standing = FileTransfer::entry(target);
  if (standing && standing->kind == Kind::directory)
    return RestoreError::of(Case::copyFailed, target + QStringLiteral(" 处是文件夹，无法放回文件"));
  const QString error = FileTransfer::replaceFile(source, target, consume);
  if (!error.isEmpty()) return RestoreError::of(Case::copyFailed, error);
  return std::nullopt;
}

}  // namespace

std::optional<RestoreError> RestoreTree::validate(const QString& root) {
  QDirIterator it = walk(root);
  while (it.hasNext()) {
    const QString item = it.next();
    if (const auto info = FileTransfer::entry(item)) {
      if (info->kind == Kind::symlink)
        return RestoreError::of(Case::pathTraversal, QStringLiteral("符号链接 ") + QFileInfo(item).fileName());
      if (info->kind == Kind::special)
        return RestoreError::of(Case::pathTraversal, QStringLiteral("特殊文件 ") + QFileInfo(item).fileName());
    }
    if (item.contains(QLatin1String("/.."))) return RestoreError::of(Case::pathTraversal, item);
  }
  return std::nullopt;
}

std::optional<RestoreError> RestoreTree::restore(const QString& source, const QString& target, bool consume) {
  const auto info = FileTransfer::entry(source);
  if (!info) return std::nullopt;
  if (info->kind == Kind::regular) {
    QDir().mkpath(QFileInfo(target).path());
    return putFile(source, target, consume);
  }
  if (info->kind != Kind::directory) return std::nullopt;

  // Folders made here get the permission bits the archive records for them
  // (without set-id and sticky bits) once their files are in; folders that
  // stand already keep theirs.
  QList<std::pair<QString, unsigned>> made;
  QHash<QString, unsigned> folderModes;
  const auto giveModes = [&made] {
    for (auto it = made.crbegin(); it != made.crend(); ++it)
      ::chmod(QFile::encodeName(it->first).constData(), it->second);
  };
  if (!FileTransfer::entry(target)) made.append({target, info->mode & 0777});
  if (!QDir().mkpath(target) || !QFileInfo(target).isDir())
    return RestoreError::of(Case::copyFailed, target + QStringLiteral(" 无法创建文件夹"));
  QDirIterator it = walk(source);
  QString lastParent;
  while (it.hasNext()) {
    const QString item = it.next();
    const auto entry = FileTransfer::entry(item);
    if (!entry || (entry->kind != Kind::regular && entry->kind != Kind::directory)) continue;
    const QString relative = BackupPlanner::relativePath(item, source);
    if (relative.isEmpty()) continue;
    const QString destination = target + "/" + relative;
    if (entry->kind == Kind::directory) {
      // A folder is listed before what it holds; it is made only when a file
      // needs it, so an empty folder of the backup is not reproduced.
      folderModes.insert(destination, entry->mode & 0777);
      continue;
    }
    const QString parent = QFileInfo(destination).path();
    if (parent != lastParent) {
      QStringList missing;
      for (QString folder = parent; folder.size() > target.size() && !FileTransfer::entry(folder);
           folder = QFileInfo(folder).path())
        missing.prepend(folder);
      for (const QString& folder : missing) {
        const auto mode = folderModes.constFind(folder);
        if (mode == folderModes.constEnd()) {
          if (!QDir().mkdir(folder)) break;
        } else {
          if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0) break;
          made.append({folder, *mode});
        }
      }
      lastParent = parent;
    }
    if (auto error = putFile(item, destination, consume)) {
      giveModes();
      return error;
    }
  }
  giveModes();
  return std::nullopt;
}

}  // namespace tlr
