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

bool registerApp(const QString& executablePath, QString* error) {
  if (executablePath.isEmpty() || executablePath.contains('\n') || executablePath.contains('\r')) {
    *error = QStringLiteral("unusable executable path");
    return false;
  }
  const QString path = Paths::autostartFile();
  FileOps::makeFolders(QFileInfo(path).absolutePath());
  const QString entry = QStringLiteral(
                            "[Desktop Entry]\nType=Application\nName=Tollamere\nExec=%1\n"
                            "Terminal=false\nX-GNOME-Autostart-enabled=true\n")
                            .arg(execValue(executablePath));
  *error = FileOps::writeOwnFile(path, entry.toUtf8());
  return error->isEmpty();
}

bool unregisterApp(QString* error) {
  QFile file(Paths::autostartFile());
  if (!file.exists() || file.remove()) return true;
  *error = file.errorString();
  return false;
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
  FileOps::makeFolders(folder);
  return folder;
}

}  // namespace tlr::LoginItem
