#include "ui/kit/AgentIconResolver.h"

#include "platform/DesktopEntry.h"
#include "registry/AppResources.h"

#include <QHash>
#include <QIcon>
#include <QImageReader>

namespace tlr {
namespace {

struct CachedImage {
  qint64 modifiedNs = 0;
  QPixmap pixmap;  // null when the file could not be read as an image
};

// Decoded images by path; each entry is valid for the modification time it
// was read at.
QHash<QString, CachedImage>& imageCache() {
  static QHash<QString, CachedImage> cache;
  return cache;
}

// Reads an image, at most `maxSide` on its longer side when maxSide > 0.
QPixmap loadImage(const QString& path, qint64 modifiedNs, int maxSide) {
  auto& cache = imageCache();
  const QString key = path + QLatin1Char('\n') + QString::number(maxSide);
  if (const auto it = cache.constFind(key); it != cache.cend() && it->modifiedNs == modifiedNs) return it->pixmap;
  QImageReader reader(path);
  reader.setAutoTransform(true);
  if (maxSide > 0 && reader.format() == "svg") {
    // Vector images render straight at the wanted size; bitmaps are read
    // whole and scaled below.
    const QSize natural = reader.size().isValid() ? reader.size() : QSize(maxSide, maxSide);
    reader.setScaledSize(natural.scaled(maxSide, maxSide, Qt::KeepAspectRatio));
  }
  QImage image = reader.read();
  if (!image.isNull() && maxSide > 0 && image.width() != maxSide && image.height() != maxSide)
    image = image.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  const QPixmap pixmap = image.isNull() ? QPixmap() : QPixmap::fromImage(image);
  cache.insert(key, {modifiedNs, pixmap});
  return pixmap;
}

}  // namespace

QString AgentIconResolver::iconFileName(const AgentEntry& entry) {
  if (!entry.iconAsset || entry.iconAsset->isEmpty()) return entry.id;
  const QString& asset = *entry.iconAsset;
  return asset.startsWith(QLatin1String("agent-")) ? asset.mid(6) : asset;
}

std::optional<QPixmap> AgentIconResolver::systemIcon(const QString& bundleId) {
  const std::optional<DesktopIcons::AppIcon> icon = DesktopIcons::installedAppIcon(bundleId);
  if (!icon) return std::nullopt;
  if (!icon->file.isEmpty()) {
    QPixmap pixmap = loadImage(icon->file, icon->fileModifiedNs, kAppIconSize);
    if (pixmap.isNull()) return std::nullopt;
    return pixmap;
  }
  // Only a theme name is left: the desktop's icon theme may know it.
  if (icon->themeName.isEmpty() || !QIcon::hasThemeIcon(icon->themeName)) return std::nullopt;
  QPixmap pixmap = QIcon::fromTheme(icon->themeName).pixmap(kAppIconSize, kAppIconSize);
  if (pixmap.isNull()) return std::nullopt;
  return pixmap;
}

std::optional<AgentIconResolver::Resolved> AgentIconResolver::resolve(const AgentEntry& entry,
                                                                      const QString& fallbackName) {
  return resolve(entry, fallbackName, AppResources::bundle());
}

std::optional<AgentIconResolver::Resolved> AgentIconResolver::resolve(const AgentEntry& entry,
                                                                      const QString& fallbackName,
                                                                      const ResourceBundle& bundle) {
  if (entry.identify.bundleIds) {
    for (const QString& bundleId : *entry.identify.bundleIds) {
      if (std::optional<QPixmap> icon = systemIcon(bundleId)) return Resolved{std::move(*icon), true};
    }
  }
  if (entry.iconBundleId && !entry.iconBundleId->isEmpty()) {
    if (std::optional<QPixmap> icon = systemIcon(*entry.iconBundleId)) return Resolved{std::move(*icon), true};
  }
  if (fallbackName.isEmpty() || !AgentEntry::isSafeFileComponent(fallbackName)) return std::nullopt;
  std::optional<QString> path = bundle.url(QStringLiteral("icons/") + fallbackName, QStringLiteral("png"));
  if (!path) path = bundle.url(fallbackName, QStringLiteral("png"));
  if (!path) return std::nullopt;
  const std::optional<qint64> modified = DesktopIcons::fileModifiedNs(*path);
  if (!modified) return std::nullopt;
  QPixmap image = loadImage(*path, *modified, 0);
  if (image.isNull()) return std::nullopt;
  return Resolved{std::move(image), false};
}

}  // namespace tlr
