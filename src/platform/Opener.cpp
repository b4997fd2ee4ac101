#include "platform/Opener.h"

#include "platform/ChildProcess.h"

#include <QDir>
#include <QFileInfo>

namespace tlr::Opener {
namespace {

QString startOpener(const QString& target) {
  if (target.isEmpty()) return QStringLiteral("nothing to open");
  ChildSpec spec;
  spec.program = QStringLiteral("xdg-open");
  spec.arguments = {target};
  const DetachedResult started = spawnDetached(spec, QString());
  if (started.pid > 0) return {};
  return QStringLiteral("xdg-open: ") + started.error;
}

}  // namespace

QString openUrl(const QString& url) { return startOpener(url); }

QString openFolder(const QString& path) { return startOpener(QDir::cleanPath(path)); }

QString reveal(const QString& path) {
  return startOpener(QFileInfo(QDir::cleanPath(path)).absolutePath());
}

}  // namespace tlr::Opener
