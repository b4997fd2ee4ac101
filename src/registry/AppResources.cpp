#include "registry/AppResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tlr {

namespace {

QString installedBundle(const QString& prefix) {
  return QDir(prefix).filePath(QStringLiteral("share/tollamere/") + QLatin1String(AppResources::kBundleName));
}

bool isFolder(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

}  // namespace

std::optional<QString> ResourceBundle::url(const QString& name, const QString& extension) const {
  if (!isValid()) return std::nullopt;
  const QString path = QDir(folder_).filePath(name + QLatin1Char('.') + extension);
  if (!QFileInfo(path).isFile()) return std::nullopt;
  return path;
}

ResourceBundle AppResources::locate(const SearchPlaces& places) {
  QStringList candidates;
  const QFileInfo exe(places.executablePath);
  const QString exeDir = places.executablePath.isEmpty() ? QString() : exe.absolutePath();
  if (!exeDir.isEmpty() && QFileInfo(exeDir).fileName() == QLatin1String("bin")) {
    candidates << installedBundle(QFileInfo(exeDir).absolutePath());
  }
  if (!places.installPrefix.isEmpty()) candidates << installedBundle(places.installPrefix);
  if (!exeDir.isEmpty()) candidates << QDir(exeDir).filePath(QLatin1String(kBundleName));
  if (!places.buildDir.isEmpty()) candidates << QDir(places.buildDir).filePath(QLatin1String(kBundleName));

  for (const QString& candidate : candidates) {
    if (isFolder(candidate)) return ResourceBundle(QDir::cleanPath(candidate));
  }
  // Nothing found: consumers find no resources and report that themselves.
  return ResourceBundle();
}

AppResources::SearchPlaces AppResources::defaultPlaces() {
  SearchPlaces places;
  if (QCoreApplication::instance()) places.executablePath = QCoreApplication::applicationFilePath();
  places.installPrefix = QStringLiteral(TLR_INSTALL_PREFIX);
  places.buildDir = QStringLiteral(TLR_BUILD_DIR);
  return places;
}

const ResourceBundle& AppResources::bundle() {
  static const ResourceBundle instance = locate(defaultPlaces());
  return instance;
}

}  // namespace tlr
