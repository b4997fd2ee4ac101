#include "platform/ProcessUsage.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <unistd.h>

namespace tlr {
namespace {

QByteArray readProcFile(pid_t pid, const char* name) {
  QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// Fields of /proc/<pid>/stat, counted from 1 as proc(5) counts them.
constexpr int kStateField = 3;
constexpr int kUtimeField = 14;
constexpr int kStimeField = 15;
constexpr int kStartTimeField = 22;

}  // namespace

std::optional<double> ProcessUsage::cpuPercentSince(const ProcessUsage& earlier, double wallSeconds) const {
  if (startTicks != earlier.startTicks || wallSeconds <= 0) return std::nullopt;
  const double used = cpuSeconds - earlier.cpuSeconds;
  return used <= 0 ? 0.0 : 100.0 * used / wallSeconds;
}

std::optional<ProcessUsage> readProcessUsage(pid_t pid) {
  const QByteArray stat = readProcFile(pid, "stat");
  // The command name sits in parentheses and may itself hold blanks or
  // parentheses; the fields after the last ")" are plain numbers.
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0) return std::nullopt;
  const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
  const auto field = [&](int number) { return fields.value(number - kStateField); };
  if (fields.size() <= kStartTimeField - kStateField) return std::nullopt;
  const QByteArray state = field(kStateField);
  if (state == "Z" || state == "X" || state == "x") return std::nullopt;

  bool okUser = false, okSystem = false, okStart = false;
  const quint64 user = field(kUtimeField).toULongLong(&okUser);
  const quint64 system = field(kStimeField).toULongLong(&okSystem);
  const quint64 start = field(kStartTimeField).toULongLong(&okStart);
  if (!okUser || !okSystem || !okStart) return std::nullopt;

  ProcessUsage usage;
  static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  usage.cpuSeconds = static_cast<double>(user + system) / static_cast<double>(ticksPerSecond > 0 ? ticksPerSecond : 100);
  usage.startTicks = start;

  for (const QByteArray& line : readProcFile(pid, "status").split('\n')) {
    if (!line.startsWith("VmRSS:")) continue;
    const QList<QByteArray> parts = line.mid(6).simplified().split(' ');
    bool ok = false;
    usage.residentKiB = parts.value(0).toLongLong(&ok);
    if (!ok) return std::nullopt;
    return usage;
  }
  // No VmRSS line: a kernel thread or a process on its way out.
  return std::nullopt;
}

}  // namespace tlr
