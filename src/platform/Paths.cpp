#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>

namespace tlr::Paths {
namespace {

QString envOr(const char* name, const QString& fallback) {
  const QByteArray value = qgetenv(name);
  // XDG says relative values are invalid and must be ignored.
  if (value.isEmpty() || !value.startsWith('/')) return fallback;
  return QString::fromLocal8Bit(value);
}

QString ensureDir(const QString& path, QFile::Permissions perms = {}) {
  QDir().mkpath(path);
  if (perms) QFile::setPermissions(path, perms);
  return path;
}

}  // namespace

QString home() {
  const QByteArray value = qgetenv("HOME");
  if (!value.isEmpty()) return QString::fromLocal8Bit(value);
  return QDir::homePath();
}

QString configHome() { return envOr("XDG_CONFIG_HOME", home() + "/.config"); }
QString dataHome() { return envOr("XDG_DATA_HOME", home() + "/.local/share"); }
QString stateHome() { return envOr("XDG_STATE_HOME", home() + "/.local/state"); }

QString appSupport() { return ensureDir(dataHome() + "/Tollamere"); }

QString defaultsFile() { return configHome() + "/Tollamere/defaults.json"; }

QString diagnosticReports() { return stateHome() + "/Tollamere/DiagnosticReports"; }

QString volumesRoot() {
  const QString runtime = envOr("XDG_RUNTIME_DIR", QString());
  const QString root = runtime.isEmpty() ? dataHome() + "/Tollamere/Volumes"
                                         : runtime + "/Tollamere/Volumes";
  QDir().mkpath(root);
  ::chmod(QFile::encodeName(root).constData(), 0700);
  return root;
}

QString autostartFile() { return configHome() + "/autostart/tollamere.desktop"; }

QString legacyLaunchAgentFile() {
  return configHome() + "/systemd/user/com.tollamere.app.service";
}

QString expandTilde(const QString& path) {
  if (path == "~") return home();
  if (path.startsWith("~/")) return home() + path.mid(1);
  return path;
}

}  // namespace tlr::Paths
