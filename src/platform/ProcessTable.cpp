#include "platform/ProcessTable.h"

#include "platform/Utf8.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <time.h>
#include <unistd.h>

namespace tlr {
namespace {

constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD
constexpr unsigned long kExitingFlag = 0x00000004;       // PF_EXITING
// The kernel keeps this many bytes of a command name.
constexpr qsizetype kCommLength = 15;
// snapshotReusing() reads every process again at least once in this many calls.
constexpr uint64_t kRefreshRounds = 8;

// Reads a one-record /proc file (such as /proc/<pid>/stat) into `buffer`;
// returns the byte count or -1. The kernel hands such a record over in one
// read when the buffer holds it, so no second read is made to meet the end.
ssize_t readSmallFile(const char* path, char* buffer, size_t size, int dirFd = AT_FDCWD) {
  const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC);
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

// Where the fields after the command name begin. The command name sits in
// parentheses and may hold any byte, ")" included, so the fields start after
// the last ")".
const char* fieldsAfterName(const char* text, size_t size) {
  const char* close = static_cast<const char*>(::memrchr(text, ')', size));
  if (!close || close + 2 >= text + size) return nullptr;
  return close + 2;
}

std::optional<ProcStat> parseStat(const char* text, size_t size) {
  const char* end = text + size;
  const char* p = fieldsAfterName(text, size);
  const char* open = static_cast<const char*>(std::memchr(text, '(', size));
  if (!p || !open || open + 1 > p - 2) return std::nullopt;
  ProcStat f;
  f.comm = QByteArray(open + 1, static_cast<qsizetype>(p - 2 - (open + 1)));
  f.state = *p++;
  long skip = 0;
  if (!parseNumber(p, end, f.ppid) || !parseNumber(p, end, f.pgrp)) return std::nullopt;
  for (int i = 0; i < 3; ++i)  // session, tty_nr, tpgid
    if (!parseNumber(p, end, skip)) return std::nullopt;
  if (!parseNumber(p, end, f.flags)) return std::nullopt;
  unsigned long long ignored = 0;
  for (int i = 0; i < 4; ++i)  // minflt, cminflt, majflt, cmajflt
    if (!parseNumber(p, end, ignored)) return std::nullopt;
  if (!parseNumber(p, end, f.userTicks) || !parseNumber(p, end, f.systemTicks)) return std::nullopt;
  for (int i = 0; i < 6; ++i)  // cutime, cstime, priority, nice, num_threads, itrealvalue
    if (!parseNumber(p, end, ignored) && !parseNumber(p, end, skip)) return std::nullopt;
  if (!parseNumber(p, end, f.startTicks)) return std::nullopt;
  // Fields 23 to 47 come before arg_start (48) and arg_end (49); kernels
  // before 3.5 end earlier, and then the two stay zero.
  for (int i = 23; i <= 47; ++i) {
    while (p < end && *p == ' ') ++p;
    const char* next = static_cast<const char*>(std::memchr(p, ' ', static_cast<size_t>(end - p)));
    if (!next) return f;
    p = next;
  }
  unsigned long long argStart = 0, argEnd = 0;
  if (parseNumber(p, end, argStart) && parseNumber(p, end, argEnd)) {
    f.argStart = argStart;
    f.argEnd = argEnd;
  }
  return f;
}

bool isRunningProgram(const ProcStat& stat) {
  return stat.state != 'Z' && stat.state != 'X' && stat.state != 'x' && !(stat.flags & kKernelThreadFlag);
}

QByteArray baseName(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  return slash < 0 ? path : path.mid(slash + 1);
}

// The path a /proc/<pid>/<which> link names. A file or folder removed since
// reads " (deleted)" at its end: where it was is all there is to go by.
QString readProcLink(pid_t pid, const char* which) {
  char link[48];
  std::snprintf(link, sizeof link, "/proc/%d/%s", pid, which);
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof target) return {};
  QString path = QFile::decodeName(QByteArray(target, n));
  static const QString kDeleted = QStringLiteral(" (deleted)");
  if (path.endsWith(kDeleted)) path.chop(kDeleted.size());
  return path;
}

QString readExePath(pid_t pid) { return readProcLink(pid, "exe"); }

// The real user id in /proc/<pid>/status ("Uid:\t<real>\t<effective>..."):
// a setuid program keeps the real id of the user who started it.
uid_t readRealUid(pid_t pid) {
  char path[48];
  std::snprintf(path, sizeof path, "/proc/%d/status", pid);
  char text[4096];
  const ssize_t n = readSmallFile(path, text, sizeof text - 1);
  if (n <= 0) return static_cast<uid_t>(-1);
  text[n] = '\0';
  const char* line = std::strstr(text, "\nUid:");
  if (!line) return static_cast<uid_t>(-1);
  const char* p = line + 5;
  const char* end = text + n;
  while (p < end && (*p == '\t' || *p == ' ')) ++p;
  uid_t uid = 0;
  const auto [next, ec] = std::from_chars(p, end, uid);
  return ec == std::errc() ? uid : static_cast<uid_t>(-1);
}

QStringList splitArguments(const QByteArray& data) {
  QStringList out;
  qsizetype start = 0;
  while (start < data.size()) {
    qsizetype end = data.indexOf('\0', start);
    if (end < 0) end = data.size();
    if (end > start) {
      if (auto arg = decodeStrictUtf8(QByteArrayView(data.constData() + start, end - start))) out << *arg;
    }
    start = end + 1;
  }
  return out;
}

// The kernel's own ceiling for an argument vector.
size_t argumentLimit() {
  static const size_t limit = [] {
    const long max = ::sysconf(_SC_ARG_MAX);
    return max > 0 ? static_cast<size_t>(max) : size_t{2 * 1024 * 1024};
  }();
  return limit;
}

// /proc/<pid>/cmdline as the kernel gives it: the arguments, each ended by
// a zero byte.
QByteArray readCommandLine(pid_t pid) {
  char path[48];
  std::snprintf(path, sizeof path, "/proc/%d/cmdline", pid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  QByteArray data;
  char chunk[4096];
  const size_t limit = argumentLimit();
  while (static_cast<size_t>(data.size()) < limit) {
    const ssize_t n = ::read(fd, chunk, std::min<size_t>(sizeof chunk, limit - static_cast<size_t>(data.size())));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(chunk, n);
  }
  ::close(fd);
  return data;
}

// What was read of one process, kept between snapshots.
struct Known {
  ino_t ino = 0;  // of its /proc entry: a new process under an old number gets a new one
  unsigned long long startTicks = 0;
  QByteArray comm;
  unsigned long long argStart = 0, argEnd = 0;  // moved by an exec
  bool running = false;  // false for kernel threads and zombies
  ProcessInfo info;      // meaningful when running
  std::optional<QStringList> arguments;
  uint64_t round = 0;  // the last snapshot that listed it
  int reads = 0;       // reads since its start time or command name last changed
};

struct Counters {
  int statsRead = 0;
  int exesRead = 0;
  int knownRead = 0;
  int listed = 0;
};

// Fills `k` from a fresh stat record. What cannot change while the start time,
// the command name and the place of the argument vector stay the same (the
// executable, the name, the arguments) is read only when one of them changed.
// An interpreter that execs itself keeps its name and start time, but not
// the place of its arguments.
void absorb(pid_t pid, const ProcStat& stat, double bootEpoch, long ticksPerSecond, Known& k, Counters& counters) {
  const bool same = k.reads > 0 && k.startTicks == stat.startTicks && k.comm == stat.comm &&
                    k.argStart == stat.argStart && k.argEnd == stat.argEnd;
  k.running = isRunningProgram(stat);
  if (!same) {
    k.startTicks = stat.startTicks;
    k.comm = stat.comm;
    k.argStart = stat.argStart;
    k.argEnd = stat.argEnd;
    k.arguments.reset();
    k.reads = 0;
    k.info = ProcessInfo{};
    if (k.running) {
      k.info.exePath = readExePath(pid);
      k.info.uid = readRealUid(pid);
      ++counters.exesRead;
      QByteArray name = stat.comm;
      if (stat.comm.size() == kCommLength) {
        const QByteArray commandLine = readCommandLine(pid);
        k.arguments = splitArguments(commandLine);
        const QByteArray fromArgv = baseName(commandLine.left(commandLine.indexOf('\0')));
        const QByteArray fromExe = baseName(QFile::encodeName(k.info.exePath));
        if (fromArgv.startsWith(stat.comm))
          name = fromArgv;
        else if (fromExe.startsWith(stat.comm))
          name = fromExe;
      }
      k.info.name = QString::fromUtf8(name);
      if (ticksPerSecond > 0) {
        const double seconds = bootEpoch + static_cast<double>(stat.startTicks) / ticksPerSecond;
        k.info.startTime = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds * 1000.0), Qt::UTC);
      }
      k.info.startTicks = stat.startTicks;
    }
  }
  k.info.pid = pid;
  k.info.ppid = stat.ppid;
  k.info.pgid = stat.pgrp;
  k.info.state = stat.state;
  ++k.reads;
}

bool parsePid(const char* name, pid_t& pid) {
  const char* end = name + std::strlen(name);
  const auto [next, ec] = std::from_chars(name, end, pid);
  return ec == std::errc() && next == end && pid > 0;
}

// The cache of snapshotReusing(), one for the whole process.
struct Cache {
  std::mutex lock;
  std::unordered_map<pid_t, Known> known;
  uint64_t round = 0;
  Counters last;

  static Cache& instance() {
    static Cache cache;
    return cache;
  }
};

// The stat record of `pid`, opened relative to the open /proc folder
// `procFd`: a shorter path walk than from "/".
std::optional<ProcStat> readProcStatAt(int procFd, pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "%d/stat", pid);
  char text[1024];
  const ssize_t n = readSmallFile(path, text, sizeof text, procFd);
  if (n <= 0) return std::nullopt;
  return parseStat(text, static_cast<size_t>(n));
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

bool isEnding(const ProcStat& stat) {
  return stat.state == 'Z' || stat.state == 'X' || stat.state == 'x' || (stat.flags & kExitingFlag);
}

namespace {

// Whether a status record shows SIGKILL waiting for the thread, in its own
// pending set or in its process's. A fatal signal (SIGKILL, or SIGTERM and
// the like without a handler) puts SIGKILL there for every thread at once;
// no thread runs a further instruction of its program after it.
bool killPending(const char* text, size_t size) {
  const uint64_t kill = uint64_t{1} << (SIGKILL - 1);
  for (const char* field : {"\nSigPnd:", "\nShdPnd:"}) {
    const size_t length = std::strlen(field);
    const char* at = static_cast<const char*>(::memmem(text, size, field, length));
    if (!at) continue;
    const char* p = at + length;
    const char* end = text + size;
    while (p < end && (*p == '\t' || *p == ' ')) ++p;
    uint64_t mask = 0;
    const auto [next, ec] = std::from_chars(p, end, mask, 16);
    if (ec == std::errc() && (mask & kill)) return true;
  }
  return false;
}

enum class TaskState { gone, ending, runs };

// One thread, by its /proc folder (that of a process is that of its first
// thread). A number reused meanwhile is never read through the folder.
TaskState taskState(int folder) {
  char text[8192];
  ssize_t n = readSmallFile("stat", text, sizeof text, folder);
  if (n <= 0) return TaskState::gone;
  const std::optional<ProcStat> stat = parseStat(text, static_cast<size_t>(n));
  if (!stat) return TaskState::gone;
  if (stat->flags & kKernelThreadFlag) return TaskState::gone;  // never a program
  if (isEnding(*stat)) return TaskState::ending;
  n = readSmallFile("status", text, sizeof text, folder);
  if (n <= 0) return TaskState::gone;
  return killPending(text, static_cast<size_t>(n)) ? TaskState::ending : TaskState::runs;
}

}  // namespace

bool processRuns(pid_t pid) {
  if (pid <= 0) return false;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d", pid);
  const int folder = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  bool runs = false;
  switch (taskState(folder)) {
    case TaskState::gone:
      break;
    case TaskState::runs:
      runs = true;
      break;
    case TaskState::ending: {
      // Its first thread has ended, or is ending: on its own (the others
      // run on) or with the whole process. Any thread that is not ending
      // still runs the program.
      const int tasksFd = ::openat(folder, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      DIR* tasks = tasksFd >= 0 ? ::fdopendir(tasksFd) : nullptr;
      if (!tasks && tasksFd >= 0) ::close(tasksFd);
      while (tasks && !runs) {
        const dirent* entry = ::readdir(tasks);
        if (!entry) break;
        pid_t tid = 0;
        if (!parsePid(entry->d_name, tid)) continue;
        const int taskFolder = ::openat(::dirfd(tasks), entry->d_name, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (taskFolder < 0) continue;
        runs = taskState(taskFolder) == TaskState::runs;
        ::close(taskFolder);
      }
      if (tasks) ::closedir(tasks);
      break;
    }
  }
  ::close(folder);
  return runs;
}

std::optional<int32_t> readUnreapedExitStatus(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  char path[48];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  char text[1024];
  const ssize_t n = readSmallFile(path, text, sizeof text);
  if (n <= 0) return std::nullopt;
  const char* end = text + n;
  const char* p = fieldsAfterName(text, static_cast<size_t>(n));
  if (!p || (*p != 'Z' && *p != 'X')) return std::nullopt;
  ++p;
  // Fields 4 to 51 come before the exit code (field 52); some do not fit a
  // signed number, so they are only stepped over.
  for (int i = 4; i <= 51; ++i) {
    while (p < end && *p == ' ') ++p;
    const char* next = static_cast<const char*>(std::memchr(p, ' ', static_cast<size_t>(end - p)));
    if (!next) return std::nullopt;
    p = next;
  }
  int32_t status = 0;
  if (!parseNumber(p, end, status)) return std::nullopt;  // hidden from us: the field is absent
  return status;
}

ProcessTable ProcessTable::snapshot() {
  ProcessTable table;
  DIR* proc = ::opendir("/proc");
  if (!proc) return table;
  const double bootEpoch = bootEpochSeconds();
  const long ticks = ::sysconf(_SC_CLK_TCK);
  Counters unused;
  while (const dirent* entry = ::readdir(proc)) {
    pid_t pid = 0;
    if (!parsePid(entry->d_name, pid)) continue;
    const auto stat = readProcStat(pid);
    if (!stat || !isRunningProgram(*stat)) continue;
    Known k;
    absorb(pid, *stat, bootEpoch, ticks, k, unused);
    table.index_.emplace(pid, table.processes_.size());
    table.processes_.push_back(std::move(k.info));
  }
  ::closedir(proc);
  return table;
}

ProcessTable ProcessTable::snapshotReusing(const std::function<bool(const ProcessInfo&)>& alwaysReread) {
  ProcessTable table;
  table.reusing_ = true;
  Cache& cache = Cache::instance();
  std::lock_guard guard(cache.lock);
  DIR* proc = ::opendir("/proc");
  if (!proc) return table;
  const uint64_t round = ++cache.round;
  const double bootEpoch = bootEpochSeconds();
  const long ticks = ::sysconf(_SC_CLK_TCK);
  Counters counters;
  while (const dirent* entry = ::readdir(proc)) {
    pid_t pid = 0;
    if (!parsePid(entry->d_name, pid)) continue;
    ++counters.listed;
    auto it = cache.known.find(pid);
    bool reread = true;
    if (it != cache.known.end() && it->second.ino == entry->d_ino) {
      const Known& k = it->second;
      const bool turn = static_cast<uint64_t>(pid) % kRefreshRounds == round % kRefreshRounds;
      reread = k.reads < 2 || turn || (k.running && alwaysReread && alwaysReread(k.info));
      if (reread && k.reads >= 2) ++counters.knownRead;
    }
    if (reread) {
      ++counters.statsRead;
      const auto stat = readProcStatAt(::dirfd(proc), pid);
      if (!stat) {
        if (it != cache.known.end()) cache.known.erase(it);
        continue;
      }
      if (it == cache.known.end()) it = cache.known.emplace(pid, Known{}).first;
      it->second.ino = entry->d_ino;
      absorb(pid, *stat, bootEpoch, ticks, it->second, counters);
    }
    Known& k = it->second;
    k.round = round;
    if (!k.running) continue;
    table.index_.emplace(pid, table.processes_.size());
    table.processes_.push_back(k.info);
  }
  ::closedir(proc);
  std::erase_if(cache.known, [round](const auto& item) { return item.second.round != round; });
  cache.last = counters;
  return table;
}

ProcessTable::ReadCounts ProcessTable::lastReuseCounts() {
  Cache& cache = Cache::instance();
  std::lock_guard guard(cache.lock);
  return {cache.last.statsRead, cache.last.exesRead, cache.last.knownRead, cache.last.listed};
}

const ProcessInfo* ProcessTable::find(pid_t pid) const {
  const auto it = index_.find(pid);
  return it == index_.end() ? nullptr : &processes_[it->second];
}

std::optional<ProcessInfo> ProcessTable::read(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  const auto stat = readProcStat(pid);
  if (!stat || !isRunningProgram(*stat)) return std::nullopt;
  Known k;
  Counters unused;
  absorb(pid, *stat, bootEpochSeconds(), ::sysconf(_SC_CLK_TCK), k, unused);
  return k.info;
}

QStringList ProcessTable::arguments(pid_t pid) {
  if (pid <= 0) return {};
  return splitArguments(readCommandLine(pid));
}

QString ProcessTable::workingFolder(pid_t pid) {
  if (pid <= 0) return {};
  return readProcLink(pid, "cwd");
}

QStringList ProcessTable::argumentsOf(const ProcessInfo& process) const {
  if (!reusing_) return arguments(process.pid);
  Cache& cache = Cache::instance();
  {
    std::lock_guard guard(cache.lock);
    const auto it = cache.known.find(process.pid);
    if (it != cache.known.end() && it->second.startTicks == process.startTicks && it->second.arguments)
      return *it->second.arguments;
  }
  QStringList argv = arguments(process.pid);
  std::lock_guard guard(cache.lock);
  const auto it = cache.known.find(process.pid);
  if (it != cache.known.end() && it->second.startTicks == process.startTicks &&
      it->second.info.name == process.name)
    it->second.arguments = argv;
  return argv;
}

}  // namespace tlr
