#include "registry/AppResources.h"

#include "platform/LoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tlr {

namespace {

QString installedBundle(const QString& prefix) {
  return QDir(prefix).filePath(QStringLiteral("share/tollamere/") + QLatin1String(AppResources::kBundleName));
}

bool isFolder(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

// `folder` itself or a folder below it, links resolved on both sides.
bool isWithin(const QString& folder, const QString& ancestor) {
  const QString real = QFileInfo(folder).canonicalFilePath();
  const QString root = QFileInfo(ancestor).canonicalFilePath();
  if (real.isEmpty() || root.isEmpty()) return false;
  return real == root || real.startsWith(root == QLatin1String("/") ? root : root + '/');
}

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
  if (!exeDir.isEmpty()) candidates << QDir(exeDir).filePath(QLatin1String(kBundleName));
  // The registry decides which commands run: only a development copy, one
  // that runs from inside the build folder, may read the build folder's.
  if (!places.buildDir.isEmpty() && !exeDir.isEmpty() && isWithin(exeDir, places.buildDir))
    candidates << QDir(places.buildDir).filePath(QLatin1String(kBundleName));

  for (const QString& candidate : candidates) {
    if (isFolder(candidate)) return ResourceBundle(QDir::cleanPath(candidate));
  }
  // Nothing found: consumers find no resources and report that themselves.
  return ResourceBundle();
}

AppResources::SearchPlaces AppResources::defaultPlaces() {
  SearchPlaces places;
  places.executablePath = LoginItem::currentExecutable();
  places.buildDir = QStringLiteral(TLR_BUILD_DIR);
  return places;
}

const ResourceBundle& AppResources::bundle() {
  static const ResourceBundle instance = locate(defaultPlaces());
  return instance;
}

}  // namespace tlr
