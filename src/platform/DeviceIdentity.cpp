#include "platform/DeviceIdentity.h"

#include "platform/FileOps.h"
#include "platform/UserHome.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>

namespace tlr::DeviceIdentity {
namespace {

constexpr qint64 kSmallFileLimit = 64 * 1024;

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A shell-style value: surrounding double or single quotes removed, with the
// backslash escapes of double quotes undone.
QString unquote(const QByteArray& raw) {
  QByteArray v = raw.trimmed();
  if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') return QString::fromUtf8(v.mid(1, v.size() - 2));
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
    v = v.mid(1, v.size() - 2);
    QByteArray out;
    for (qsizetype i = 0; i < v.size(); ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      out += v[i];
    }
    return QString::fromUtf8(out);
  }
  return QString::fromUtf8(v);
}

}  // namespace

QStringList machineIdFiles() {
  return {QStringLiteral("/etc/machine-id"), QStringLiteral("/var/lib/dbus/machine-id")};
}

std::optional<QString> uuidFromMachineId(const QByteArray& content) {
  const QByteArray id = content.trimmed();
  if (id.size() != 32) return std::nullopt;
  for (char c : id) {
    if (!isHexDigit(c)) return std::nullopt;
  }
  const QString up = QString::fromLatin1(id).toUpper();
  return up.mid(0, 8) + '-' + up.mid(8, 4) + '-' + up.mid(12, 4) + '-' + up.mid(16, 4) + '-' + up.mid(20, 12);
}

std::optional<QString> machineUuidFromFiles(const QStringList& files) {
  for (const QString& file : files) {
    const std::optional<QByteArray> content = FileOps::readRegularFile(file, kSmallFileLimit);
    if (content) return uuidFromMachineId(*content);
  }
  return std::nullopt;
}

std::optional<QString> machineUuid() { return machineUuidFromFiles(machineIdFiles()); }

QString loginName() {
  const std::optional<AccountEntry> found = accountOfUid(::geteuid());
  return found ? found->name : QString();
}

QString prettyHostNameFrom(const QByteArray& machineInfo) {
  for (const QByteArray& line : machineInfo.split('\n')) {
    const QByteArray t = line.trimmed();
    if (t.startsWith("PRETTY_HOSTNAME=")) return unquote(t.mid(16)).trimmed();
  }
  return {};
}

QString hostDisplayName() {
  if (const auto info = FileOps::readRegularFile(QStringLiteral("/etc/machine-info"), kSmallFileLimit)) {
    const QString pretty = prettyHostNameFrom(*info);
    if (!pretty.isEmpty()) return pretty;
  }
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return QString::fromLocal8Bit(name);
}

QString osVersionFromRelease(const QString& release) {
  QStringList numbers;
  qsizetype i = 0;
  while (numbers.size() < 3 && i < release.size() && release[i].isDigit()) {
    qsizetype j = i;
    while (j < release.size() && release[j].isDigit()) ++j;
    numbers << QString::number(release.mid(i, j - i).toULongLong());
    if (j < release.size() && release[j] == '.') {
      i = j + 1;
    } else {
      break;
    }
  }
  while (numbers.size() < 3) numbers << QStringLiteral("0");
  return QStringLiteral("Linux ") + numbers.join('.');
}

QString osVersion() {
  utsname u{};
  if (::uname(&u) != 0) return osVersionFromRelease(QString());
  return osVersionFromRelease(QString::fromLatin1(u.release));
}

}  // namespace tlr::DeviceIdentity
