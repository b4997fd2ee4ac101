#include "backup/RestoreTree.h"

#include "backup/BackupPlanner.h"
#include "platform/FileTransfer.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

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

  if (!QDir().mkpath(target) || !QFileInfo(target).isDir())
    return RestoreError::of(Case::copyFailed, target + QStringLiteral(" 无法创建文件夹"));
  QDirIterator it = walk(source);
  QString lastParent;
  while (it.hasNext()) {
    const QString item = it.next();
    const auto entry = FileTransfer::entry(item);
    if (!entry || entry->kind != Kind::regular) continue;
    const QString relative = BackupPlanner::relativePath(item, source);
    if (relative.isEmpty()) continue;
    const QString destination = target + "/" + relative;
    const QString parent = QFileInfo(destination).path();
    if (parent != lastParent) {
      QDir().mkpath(parent);
      lastParent = parent;
    }
    if (auto error = putFile(item, destination, consume)) return error;
  }
  return std::nullopt;
}

}  // namespace tlr
