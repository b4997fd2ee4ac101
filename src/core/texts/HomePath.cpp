#include "core/texts/HomePath.h"

#include "platform/Paths.h"

#include <QDir>

namespace tlr::HomePath {

QString abbreviate(const QString& path, const QString& home) {
  QString folder = home;
  while (folder.size() > 1 && folder.endsWith('/')) folder.chop(1);
  if (folder.isEmpty() || folder == "/") return path;
  if (path == folder) return QStringLiteral("~");
  if (path.startsWith(folder + "/")) return "~" + path.mid(folder.size());
  return path;
}

QString display(const QString& registryPath) {
  const QString raw = Paths::home();
  const QString home = raw.isEmpty() ? raw : QDir::cleanPath(raw);
  QString expanded = registryPath;
  if (registryPath == "~") {
    expanded = home;
  } else if (registryPath.startsWith("~/")) {
    expanded = home + registryPath.mid(1);
  }
  return abbreviate(expanded, home);
}

}  // namespace tlr::HomePath
