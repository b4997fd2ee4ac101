#include "platform/LoginItem.h"

#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace tlr::LoginItem {
namespace {

// A desktop entry larger than this is not one of ours.
constexpr qint64 kEntryReadLimit = 1024 * 1024;

// Whether the [Desktop Entry] group says Hidden=true.
bool isHidden(const QString& text) {
  bool inMainGroup = false;
  for (const QString& raw : text.split('\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith('[')) {
      inMainGroup = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    if (!inMainGroup) continue;
    const qsizetype eq = line.indexOf('=');
    if (eq > 0 && line.left(eq).trimmed() == QLatin1String("Hidden") &&
        line.mid(eq + 1).trimmed() == QLatin1String("true"))
      return true;
  }
  return false;
}

}  // namespace

Status status() {
  // Opened without waiting and read only when it is a plain file; anything
  // else (a FIFO, a device, a folder) counts as no entry.
  const QString path = Paths::autostartFile();
  const FileOps::ReadResult read = FileOps::readFile(path, kEntryReadLimit);
  if (read.status == FileOps::ReadResult::Status::missing) return Status::notRegistered;
  if (read.status != FileOps::ReadResult::Status::ok) {
    log("[SelfGuard] ", QStringLiteral("自启动项无法读取（%1），视为未注册").arg(read.reason));
    return Status::notRegistered;
  }
  return isHidden(QString::fromUtf8(read.data)) ? Status::notRegistered : Status::enabled;
}

QString execValue(const QString& executablePath) {
  static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
  QString arg = executablePath;
  arg.replace('%', QStringLiteral("%%"));
  const bool needsQuotes =
      std::any_of(arg.begin(), arg.end(), [](QChar c) { return reserved.contains(c); });
  if (needsQuotes) {
    QString quoted;
    for (QChar c : arg) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    arg = '"' + quoted + '"';
  }
  // Desktop-entry string values escape their own backslashes once more.
  arg.replace('\\', QStringLiteral("\\\\"));
  return arg;
}

Expected<void, QString> registerApp(const QString& executablePath) {
  if (executablePath.isEmpty() || executablePath.contains('\n') || executablePath.contains('\r'))
    return Unexpected(QStringLiteral("unusable executable path"));
  const QString path = Paths::autostartFile();
  static_cast<void>(FileOps::makeFolders(QFileInfo(path).absolutePath()));  // a failure shows in the write
  const QString entry = QStringLiteral(
                            "[Desktop Entry]\nType=Application\nName=Tollamere\nExec=%1\n"
                            "Terminal=false\nX-GNOME-Autostart-enabled=true\n")
                            .arg(execValue(executablePath));
  return FileOps::writeOwnFile(path, entry.toUtf8());
}

Expected<void, QString> unregisterApp() {
  QFile file(Paths::autostartFile());
  if (!file.exists() || file.remove()) return {};
  return Unexpected(file.errorString());
}

QString currentExecutable() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationFilePath();
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

bool isProductionCopy(const QString& executablePath) {
  if (executablePath.isEmpty()) return false;
  const QDir binDir = QFileInfo(executablePath).absoluteDir();
  if (binDir.dirName() != QLatin1String("bin")) return false;
  return QFileInfo(binDir.absolutePath() +
                   QStringLiteral("/../share/tollamere/Tollamere_Tollamere.bundle"))
      .isDir();
}

QString settingsFolder() {
  const QString folder = QFileInfo(Paths::autostartFile()).absolutePath();
  static_cast<void>(FileOps::makeFolders(folder));  // a failure shows in the use that follows
  return folder;
}

}  // namespace tlr::LoginItem
