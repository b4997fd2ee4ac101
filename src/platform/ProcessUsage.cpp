#include "platform/ProcessUsage.h"

#include "platform/ProcessTable.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <unistd.h>

namespace tlr {

std::optional<double> ProcessUsage::cpuPercentSince(const ProcessUsage& earlier, double wallSeconds) const {
  if (startTicks != earlier.startTicks || wallSeconds <= 0) return std::nullopt;
  const double used = cpuSeconds - earlier.cpuSeconds;
  return used <= 0 ? 0.0 : 100.0 * used / wallSeconds;
}

std::optional<ProcessUsage> readProcessUsage(pid_t pid) {
  const std::optional<ProcStat> stat = readProcStat(pid);
  if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->state == 'x') return std::nullopt;

  ProcessUsage usage;
  static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  usage.cpuSeconds = static_cast<double>(stat->userTicks + stat->systemTicks) /
                     static_cast<double>(ticksPerSecond > 0 ? ticksPerSecond : 100);
  usage.startTicks = stat->startTicks;

  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return std::nullopt;
  for (const QByteArray& line : status.readAll().split('\n')) {
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
