#include "platform/Paths.h"

#include "platform/FileOps.h"

#include <QDir>

namespace tlr::Paths {
namespace {

QString envOr(const char* name, const QString& fallback) {
  const QByteArray value = qgetenv(name);
  // XDG says relative values are invalid and must be ignored.
  if (value.isEmpty() || !value.startsWith('/')) return fallback;
  return QString::fromLocal8Bit(value);
}

// A folder of ours, made (0700) when missing; a failure shows in the use
// that follows.
QString ownFolder(const QString& path) {
  static_cast<void>(FileOps::makeOwnFolder(path));
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

QString appSupport() { return ownFolder(dataHome() + "/Tollamere"); }

QString defaultsFile() { return configHome() + "/Tollamere/defaults.json"; }

QString diagnosticReports() { return stateHome() + "/Tollamere/DiagnosticReports"; }

QString serviceLogs() {
  ownFolder(stateHome() + "/Tollamere");
  return ownFolder(stateHome() + "/Tollamere/logs");
}

QString runtimeFolder() {
  const QString runtime = envOr("XDG_RUNTIME_DIR", QString());
  return ownFolder(runtime.isEmpty() ? dataHome() + "/Tollamere" : runtime + "/Tollamere");
}

QString volumesRoot() { return ownFolder(runtimeFolder() + "/Volumes"); }

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
