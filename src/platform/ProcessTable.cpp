#include "platform/ProcessTable.h"

#include "platform/Utf8.h"

#include <QFile>
#include <QTimeZone>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <algorithm>
#include <time.h>
#include <unistd.h>

namespace tlr {
namespace {

constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD

// Reads a one-record /proc file (such as /proc/<pid>/stat) into `buffer`;
// returns the byte count or -1. The kernel hands such a record over in one
// read when the buffer holds it, so no second read is made to meet the end:
// every scan reads one of these for each process of the machine.
ssize_t readSmallFile(const char* path, char* buffer, size_t size) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n = 0;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n;
}

// The wall-clock time at which the boot clock stood at zero, in seconds.
double bootEpochSeconds() {
  timespec real{}, boot{};
  ::clock_gettime(CLOCK_REALTIME, &real);
  ::clock_gettime(CLOCK_BOOTTIME, &boot);
  return (real.tv_sec - boot.tv_sec) + (real.tv_nsec - boot.tv_nsec) / 1e9;
}

template <class T>
bool parseNumber(const char*& p, const char* end, T& into) {
  while (p < end && *p == ' ') ++p;
  const auto [next, ec] = std::from_chars(p, end, into);
  if (ec != std::errc()) return false;
  p = next;
  return true;
}

// Parses /proc/<pid>/stat. The command name sits in parentheses and may hold
// any byte, ")" included, so the fields start after the last ")".
std::optional<ProcStat> parseStat(const char* text, size_t size) {
  const char* end = text + size;
  const char* close = static_cast<const char*>(::memrchr(text, ')', size));
  if (!close || close + 2 >= end) return std::nullopt;
  ProcStat f;
  const char* p = close + 2;
  f.state = *p++;
  long skip = 0;
  if (!parseNumber(p, end, f.ppid)) return std::nullopt;
  for (int i = 0; i < 4; ++i)  // pgrp, session, tty_nr, tpgid
    if (!parseNumber(p, end, skip)) return std::nullopt;
  if (!parseNumber(p, end, f.flags)) return std::nullopt;
  unsigned long long ignored = 0;
  for (int i = 0; i < 4; ++i)  // minflt, cminflt, majflt, cmajflt
    if (!parseNumber(p, end, ignored)) return std::nullopt;
  if (!parseNumber(p, end, f.userTicks) || !parseNumber(p, end, f.systemTicks)) return std::nullopt;
  for (int i = 0; i < 6; ++i)  // cutime, cstime, priority, nice, num_threads, itrealvalue
    if (!parseNumber(p, end, ignored) && !parseNumber(p, end, skip)) return std::nullopt;
  if (!parseNumber(p, end, f.startTicks)) return std::nullopt;
  return f;
}

QString baseName(const QString& path) {
  const qsizetype slash = path.lastIndexOf('/');
  return slash < 0 ? path : path.mid(slash + 1);
}

QString readExePath(const char* procDir) {
  char link[64];
  std::snprintf(link, sizeof link, "%s/exe", procDir);
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof target) return {};
  QString path = QFile::decodeName(QByteArray(target, n));
  static const QString kDeleted = QStringLiteral(" (deleted)");
  if (path.endsWith(kDeleted)) path.chop(kDeleted.size());
  return path;
}

QStringList splitArguments(const char* data, size_t size) {
  QStringList out;
  size_t start = 0;
  while (start < size) {
    const void* zero = std::memchr(data + start, 0, size - start);
    const size_t len = zero ? static_cast<const char*>(zero) - (data + start) : size - start;
    if (len > 0) {
      if (auto arg = decodeStrictUtf8(QByteArrayView(data + start, len))) out << *arg;
    }
    start += len + 1;
  }
  return out;
}

QStringList readArguments(pid_t pid, size_t limit) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/cmdline", pid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  QByteArray data;
  char chunk[4096];
  while (static_cast<size_t>(data.size()) < limit) {
    const ssize_t n = ::read(fd, chunk, std::min<size_t>(sizeof chunk, limit - static_cast<size_t>(data.size())));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(chunk, n);
  }
  ::close(fd);
  return splitArguments(data.constData(), static_cast<size_t>(data.size()));
}

// Reads one process; `bootEpoch` converts its start ticks to a date.
std::optional<ProcessInfo> readProcess(pid_t pid, double bootEpoch, long ticksPerSecond) {
  const auto stat = readProcStat(pid);
  if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->state == 'x' ||
      (stat->flags & kKernelThreadFlag))
    return std::nullopt;

  ProcessInfo info;
  info.pid = pid;
  info.ppid = stat->ppid;
  info.state = stat->state;
  char dir[32];
  std::snprintf(dir, sizeof dir, "/proc/%d", pid);
  info.exePath = readExePath(dir);
  if (!info.exePath.isEmpty()) {
    info.name = baseName(info.exePath);
  } else {
    // Not ours to inspect (or exiting): argv[0] still names the program.
    const QStringList argv = readArguments(pid, 4096);
    if (argv.isEmpty()) return std::nullopt;
    info.name = baseName(argv.first().section(' ', 0, 0));
  }
  if (info.name.isEmpty()) return std::nullopt;
  if (ticksPerSecond > 0) {
    const double seconds = bootEpoch + static_cast<double>(stat->startTicks) / ticksPerSecond;
    info.startTime = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds * 1000.0), Qt::UTC);
  }
  return info;
}

bool parsePid(const char* name, pid_t& pid) {
  const char* end = name + std::strlen(name);
  const auto [next, ec] = std::from_chars(name, end, pid);
  return ec == std::errc() && next == end && pid > 0;
}

}  // namespace

std::optional<ProcStat> readProcStat(pid_t pid) {
  char path[48];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  char text[1024];
  const ssize_t n = readSmallFile(path, text, sizeof text);
  if (n <= 0) return std::nullopt;
  return parseStat(text, static_cast<size_t>(n));
}

ProcessTable ProcessTable::snapshot() {
  ProcessTable table;
  DIR* proc = ::opendir("/proc");
  if (!proc) return table;
  const double bootEpoch = bootEpochSeconds();
  const long ticks = ::sysconf(_SC_CLK_TCK);
  while (const dirent* entry = ::readdir(proc)) {
    pid_t pid = 0;
    if (!parsePid(entry->d_name, pid)) continue;
    if (auto info = readProcess(pid, bootEpoch, ticks)) {
      table.index_.emplace(pid, table.processes_.size());
      table.processes_.push_back(std::move(*info));
    }
  }
  ::closedir(proc);
  return table;
}

const ProcessInfo* ProcessTable::find(pid_t pid) const {
  const auto it = index_.find(pid);
  return it == index_.end() ? nullptr : &processes_[it->second];
}

std::optional<ProcessInfo> ProcessTable::read(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  return readProcess(pid, bootEpochSeconds(), ::sysconf(_SC_CLK_TCK));
}

QStringList ProcessTable::arguments(pid_t pid) {
  if (pid <= 0) return {};
  // The kernel's own ceiling for an argument vector.
  static const size_t limit = [] {
    const long max = ::sysconf(_SC_ARG_MAX);
    return max > 0 ? static_cast<size_t>(max) : size_t{2 * 1024 * 1024};
  }();
  return readArguments(pid, limit);
}

}  // namespace tlr
