#include "platform/OomKillCount.h"

#include "platform/PathNames.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

namespace tlr::OomKillCount {
namespace {

// The value of the line "<name> <number>" of a small kernel file.
std::optional<quint64> field(const QString& path, const QByteArray& name) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.size() != 2 || words[0] != name) continue;
    bool ok = false;
    const quint64 value = words[1].toULongLong(&ok);
    return ok ? std::optional<quint64>(value) : std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

std::optional<quint64> system(const Paths& paths) { return field(paths.vmstat, "oom_kill"); }

QString cgroupFile(pid_t pid, const Paths& paths) {
  QFile file(paths.proc + QStringLiteral("/%1/cgroup").arg(pid));
  if (pid <= 0 || !file.open(QIODevice::ReadOnly)) return {};
  // "0::/user.slice/…" (v2) or "4:memory:/…" (the v1 memory controller).
  QString v2, v1;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const QList<QByteArray> parts = line.split(':');
    if (parts.size() < 3) continue;
    const QByteArray group = line.mid(parts[0].size() + parts[1].size() + 2);
    // A group path never climbs out of the root.
    if (!group.startsWith('/') || PathNames::climbs(group)) continue;
    if (parts[0] == "0" && parts[1].isEmpty())
      v2 = paths.cgroupRoot + QString::fromUtf8(group) + QStringLiteral("/memory.events");
    else if (parts[1].split(',').contains("memory"))
      v1 = paths.cgroupRoot + QStringLiteral("/memory") + QString::fromUtf8(group) + QStringLiteral("/memory.oom_control");
  }
  for (const QString& candidate : {v2, v1})
    if (!candidate.isEmpty() && QFileInfo::exists(candidate)) return QDir::cleanPath(candidate);
  return {};
}

std::optional<quint64> ofCgroup(const QString& file) {
  if (file.isEmpty()) return std::nullopt;
  return field(file, "oom_kill");
}

}  // namespace tlr::OomKillCount
