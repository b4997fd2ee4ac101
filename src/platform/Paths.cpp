#include "platform/Paths.h"

#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

namespace tlr::Paths {
namespace {

QString envOr(const char* name, const QString& fallback) {
  const QByteArray value = qgetenv(name);
  // XDG says relative values are invalid and must be ignored.
  if (value.isEmpty() || !value.startsWith('/')) return fallback;
  return QString::fromLocal8Bit(value);
}

// The places already said to be unusable, with why: each is said once.
// Never destroyed: a thread may still ask at exit.
struct Told {
  std::mutex lock;
  QSet<QString> reasons;
};
Told& told() {
  static Told* instance = new Told;
  return *instance;
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

QString privateFolder(const QString& wanted, const std::function<QString()>& fallback) {
  const Expected<void, QString> made = FileOps::makeOwnFolder(wanted);
  if (made) return wanted;
  const QString instead = fallback();
  bool first = false;
  {
    const std::lock_guard lock(told().lock);
    first = !told().reasons.contains(made.error());
    told().reasons.insert(made.error());
  }
  if (first)
    log("[Files] ", QStringLiteral("%1 不能用作 Tollamere 的私有文件夹（%2）→ 改用 %3").arg(wanted, made.error(), instead));
  return instead;
}

QString privateFallback(const QString& name) {
  const QString root = home() + QStringLiteral("/.tollamere");
  static_cast<void>(FileOps::makeOwnFolder(root));
  const QString folder = root + '/' + name;
  // The last place there is: a failure shows in the use that follows.
  static_cast<void>(FileOps::makeOwnFolder(folder));
  return folder;
}

namespace {

QString ownOrFallback(const QString& wanted, const QString& fallbackName) {
  return privateFolder(wanted, [&] { return privateFallback(fallbackName); });
}

}  // namespace

QString appSupport() { return ownOrFallback(dataHome() + QStringLiteral("/Tollamere"), QStringLiteral("data")); }

QString configFolder() { return ownOrFallback(configHome() + QStringLiteral("/Tollamere"), QStringLiteral("config")); }

QString defaultsFile() { return configFolder() + QStringLiteral("/defaults.json"); }

QString stateFolder() { return ownOrFallback(stateHome() + QStringLiteral("/Tollamere"), QStringLiteral("state")); }

QString diagnosticReports() {
  return ownOrFallback(stateFolder() + QStringLiteral("/DiagnosticReports"), QStringLiteral("DiagnosticReports"));
}

QString serviceLogs() { return ownOrFallback(stateFolder() + QStringLiteral("/logs"), QStringLiteral("logs")); }

QString runtimeFolder() {
  const QString runtime = envOr("XDG_RUNTIME_DIR", QString());
  if (runtime.isEmpty()) return appSupport();
  return privateFolder(runtime + QStringLiteral("/Tollamere"), [] { return appSupport(); });
}

QString volumesRoot() { return ownOrFallback(runtimeFolder() + QStringLiteral("/Volumes"), QStringLiteral("Volumes")); }

QString autostartFile() { return configHome() + "/autostart/tollamere.desktop"; }

QString legacyLaunchAgentFile() {
  return configHome() + "/systemd/user/com.tollamere.app.service";
}

namespace {

// Whether the toolkit takes `folder` for a runtime folder.
bool toolkitTakes(const QByteArray& folder) {
  struct stat st;
  return folder.startsWith('/') && ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0700;
}

}  // namespace

RuntimeFolderForToolkit::RuntimeFolderForToolkit()
    : wasSet_(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")), original_(qgetenv("XDG_RUNTIME_DIR")) {
  if (wasSet_ && toolkitTakes(original_)) return;
  const QByteArray ours = QFile::encodeName(runtimeFolder());
  if (!toolkitTakes(ours)) return;
  qputenv("XDG_RUNTIME_DIR", ours);
  replaced_ = true;
}

RuntimeFolderForToolkit::~RuntimeFolderForToolkit() {
  if (!replaced_) return;
  if (wasSet_)
    qputenv("XDG_RUNTIME_DIR", original_);
  else
    qunsetenv("XDG_RUNTIME_DIR");
}

QString expandTilde(const QString& path) {
  if (path == "~") return home();
  if (path.startsWith("~/")) return home() + path.mid(1);
  return path;
}

}  // namespace tlr::Paths
