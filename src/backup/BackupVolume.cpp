#include "backup/BackupVolume.h"

#include "platform/Defaults.h"
#include "platform/DiskImage.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>

namespace tlr {

QString BackupVolume::volumeName() { return QStringLiteral("TLR 备份"); }

QString BackupVolume::locationKey() { return QStringLiteral("TLR.backup-volume.location"); }

std::optional<QString> BackupVolume::imageURL() {
  const std::optional<QString> recorded = Defaults::shared().string(locationKey());
  if (!recorded || recorded->isEmpty() || recorded->contains(QChar(0))) return std::nullopt;
  const QString path = Paths::expandTilde(*recorded);
  if (!QDir::isAbsolutePath(path)) return std::nullopt;
  return QDir::cleanPath(path);
}

void BackupVolume::setImageURL(const QString& path) {
  Defaults::shared().set(locationKey(), QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

QString BackupVolume::defaultImagePath() { return Paths::home() + QStringLiteral("/TLR 备份.sparsebundle"); }

bool BackupVolume::exists() {
  const std::optional<QString> image = imageURL();
  // A dangling link there is something too: it would stop a new image.
  return image && (QFileInfo::exists(*image) || QFileInfo(*image).isSymLink());
}

QString BackupVolume::mountPoint() { return Paths::volumesRoot() + '/' + volumeName(); }

bool BackupVolume::isMounted() {
  const std::optional<QString> image = imageURL();
  return image && DiskImage::isMounted(*image, mountPoint());
}

}  // namespace tlr
