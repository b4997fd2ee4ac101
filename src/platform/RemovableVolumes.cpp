#include "platform/RemovableVolumes.h"

#include "platform/FolderAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <pwd.h>
#include <unistd.h>

namespace tlr::RemovableVolumes {
namespace {

QString currentUserName() {
  if (const passwd* entry = ::getpwuid(::geteuid())) return QString::fromLocal8Bit(entry->pw_name);
  return {};
}

// mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
QString unescape(const QByteArray& field) {
  QByteArray out;
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const QByteArray digits = field.mid(i + 1, 3);
      bool ok = false;
      const int value = digits.toInt(&ok, 8);
      if (ok && digits.size() == 3) {
        out.append(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.append(field[i]);
  }
  return QFile::decodeName(out);
}

QByteArray readSmall(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(4096).trimmed();
}

// The block device's folder in sysfs, walked up from a partition to its disk.
bool removableDevice(const QString& sysRoot, const QByteArray& majorMinor) {
  QString device = QFileInfo(sysRoot + "/dev/block/" + QString::fromLatin1(majorMinor)).canonicalFilePath();
  if (device.isEmpty()) return false;
  static const QRegularExpression busComponent(QStringLiteral("^(usb\\d+|mmc_host|mmc\\d+)$"));
  for (const QString& component : device.split('/', Qt::SkipEmptyParts)) {
    if (busComponent.match(component).hasMatch()) return true;
  }
  while (QFileInfo::exists(device + "/partition")) device = QFileInfo(device).path();
  return readSmall(device + "/removable") == "1";
}

bool below(const QString& path, const QStringList& roots) {
  for (QString root : roots) {
    if (!root.endsWith('/')) root += '/';
    if (path.startsWith(root) && path.size() > root.size()) return true;
  }
  return false;
}

}  // namespace

QStringList defaultMountRoots(const QString& userName) {
  QStringList roots;
  if (!userName.isEmpty()) roots << "/media/" + userName << "/run/media/" + userName;
  roots << QStringLiteral("/media") << QStringLiteral("/mnt");
  return roots;
}

QStringList list(const Sources& sources) {
  const QStringList roots = sources.mountRoots.isEmpty() ? defaultMountRoots(currentUserName()) : sources.mountRoots;
  QFile table(sources.mountInfo);
  if (!table.open(QIODevice::ReadOnly)) return {};
  QStringList found;
  for (const QByteArray& line : table.readAll().split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    // id, parent, major:minor, root, mount point, options, optional
    // fields..., "-", type, source, super options.
    if (fields.size() < 10) continue;
    const QString mountPoint = unescape(fields[4]);
    if (!below(mountPoint, roots) || found.contains(mountPoint)) continue;
    if (fields[5].split(',').contains("ro")) continue;
    if (!removableDevice(sources.sysRoot, fields[2])) continue;
    if (FolderAccess::refusal(mountPoint) != 0) continue;
    found << mountPoint;
  }
  return found;
}

}  // namespace tlr::RemovableVolumes
