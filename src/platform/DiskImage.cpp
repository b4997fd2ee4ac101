#include "platform/DiskImage.h"

#include "platform/ChildProcess.h"
#include "platform/Crypto.h"
#include "platform/FileOps.h"
#include "platform/ProcessTable.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tlr::DiskImage {
namespace {

const char kCryptTool[] = "gocryptfs";

// The password's bytes and one line feed, handed to the tool on standard
// input; the caller wipes the returned copy.
QByteArray passwordLine(const QString& password) {
  QByteArray bytes = password.toUtf8();
  // Sized once: growing it would leave a copy of the bytes in freed memory.
  QByteArray line;
  line.reserve(bytes.size() + 1);
  line.append(bytes.constData(), bytes.size());
  line.append('\n');
  Crypto::wipe(bytes);
  return line;
}

QString outputText(const ChildResult& r) {
  const QByteArray raw = r.err.trimmed().isEmpty() ? r.out.trimmed() : r.err.trimmed();
  const std::optional<QString> text = decodeStrictUtf8(raw);
  return text ? *text : QStringLiteral("unknown");
}

ToolResult runCryptTool(const QStringList& arguments, const QString& password,
                        std::chrono::milliseconds timeout) {
  const QString tool = findExecutable(QLatin1String(kCryptTool), currentPath());
  if (tool.isEmpty()) {
    return Unexpected(ToolFailure{QStringLiteral("找不到 gocryptfs（PATH 中没有这个程序），请先安装 gocryptfs 和 fuse3")});
  }
  ChildSpec spec;
  spec.program = tool;  // by its full path
  spec.arguments = arguments;
  spec.input = passwordLine(password);
  spec.timeout = timeout;
  spec.outputLimit = 64 * 1024;
  // With -nosyslog the mounted daemon keeps our standard output and error:
  // files, never pipes, so no write of it can ever meet a closed pipe.
  spec.outputToMemory = true;
  // Making or attaching an image is work: a stopped run does not begin it.
  spec.refusedOnceStopped = true;
  ChildResult r = runChild(spec);
  // Only `spec` holds the password's bytes now: wipe them where they lie.
  Crypto::wipe(*spec.input);
  // Stopped, whether while it ran or before it could start.
  if (r.cancelled) return Unexpected(ToolFailure{QStringLiteral("已中止"), false, true});
  if (!r.started) {
    return Unexpected(ToolFailure{QStringLiteral("无法启动 ") + tool + QStringLiteral(": ") + r.startError});
  }
  if (r.timedOut) {
    return Unexpected(
        ToolFailure{QStringLiteral("gocryptfs 在 %1 秒内没有结束").arg(timeout.count() / 1000), false, true});
  }
  if (r.exited() && r.exitCode() == 0) return {};
  ToolFailure failed{outputText(r), r.exited() && r.exitCode() == kWrongPasswordExit};
  // The device this user may not open, as fusermount says it through
  // gocryptfs.
  const QByteArray said = r.err + r.out;
  failed.fuseDenied = said.contains("/dev/fuse: Permission denied") || said.contains("/dev/fuse: Operation not permitted");
  if (failed.reason.isEmpty()) {
    failed.reason = r.exited() ? QStringLiteral("gocryptfs exit %1").arg(r.exitCode())
                               : QStringLiteral("gocryptfs ") + signalName(r.termSignal());
  }
  return Unexpected(std::move(failed));
}

// Undoes the octal escapes of a mountinfo field ("\040" is a blank).
QString unescapeField(const QByteArray& field) {
  QByteArray out;
  out.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const QByteArray digits = field.mid(i + 1, 3);
      bool ok = digits.size() == 3;
      for (char c : digits) ok = ok && c >= '0' && c <= '7';
      if (ok) {
        out += char(digits.toInt(nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return QString::fromUtf8(out);
}

// The forms a path may take in the mount table: as written (cleaned) and
// with its links resolved.
QStringList pathForms(const QString& path) {
  QStringList forms{QDir::cleanPath(QFileInfo(path).absoluteFilePath())};
  const QString canonical = QFileInfo(path).canonicalFilePath();
  if (!canonical.isEmpty() && canonical != forms.front()) forms << canonical;
  return forms;
}

// The bytes a copy of a file writes: a file with holes counts the room its
// data takes, not its apparent size. What is no regular file is never stored.
qint64 copiedBytes(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return 0;
  return std::min<qint64>(st.st_size, static_cast<qint64>(st.st_blocks) * 512);
}

}  // namespace

ToolResult create(const QString& cipherDir, const QString& password) {
  return runCryptTool({QStringLiteral("-init"), QStringLiteral("-q"), QStringLiteral("-nosyslog"),
                       QStringLiteral("--"), cipherDir},
                      password, kCreateTimeout);
}

ToolResult attach(const QString& cipherDir, const QString& mountPoint, const QString& password) {
  // -noprealloc: gocryptfs would otherwise reserve the room of every write
  // first (fallocate), so that a disk filling up cannot leave the last block
  // of a file it overwrites unreadable. Nothing on the volume is ever
  // written over: each file is written once, from its start, into a hidden
  // snapshot folder that a failed write removes. Reserving costs a call per
  // write and leaves the file in many pieces, which made removing an old
  // snapshot ten times slower.
  ToolResult attached = runCryptTool({QStringLiteral("-q"), QStringLiteral("-nosyslog"), QStringLiteral("-noprealloc"),
                                      QStringLiteral("--"), cipherDir, mountPoint},
                                     password, kAttachTimeout);
  if (!attached && attached.error().stopped) endAttach(cipherDir, mountPoint);
  return attached;
}

bool isDisconnected(const QString& mountPoint) {
  // A daemon that hangs (stopped, deadlocked) would hold the look forever:
  // it runs on a thread of its own, and one that has not answered by the
  // deadline counts as connected, as before the look.
  struct Probe {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    bool disconnected = false;
  };
  auto probe = std::make_shared<Probe>();
  std::thread([probe, path = QFile::encodeName(mountPoint)] {
    // Not one of the threads that end before the process does (it may hang
    // for ever, and touches only what it owns).
    ::pthread_setname_np(::pthread_self(), "mount-probe");
    struct stat st{};
    const bool gone = ::stat(path.constData(), &st) != 0 && errno == ENOTCONN;
    std::lock_guard lock(probe->mutex);
    probe->done = true;
    probe->disconnected = gone;
    probe->answered.notify_all();
  }).detach();
  std::unique_lock lock(probe->mutex);
  probe->answered.wait_for(lock, kProbeTimeout, [&] { return probe->done; });
  return probe->done && probe->disconnected;
}

namespace {

// fusermount3, else fusermount, by its full path; empty when neither is there.
QString detachTool() {
  const QString tool = findExecutable(QStringLiteral("fusermount3"), currentPath());
  return tool.isEmpty() ? findExecutable(QStringLiteral("fusermount"), currentPath()) : tool;
}

}  // namespace

QString missingTool() {
  if (findExecutable(QLatin1String(kCryptTool), currentPath()).isEmpty()) return QLatin1String(kCryptTool);
  if (detachTool().isEmpty()) return QStringLiteral("fusermount3");
  return {};
}

QString packageOf(const QString& tool) {
  return tool.startsWith(QLatin1String("fusermount")) ? QStringLiteral("fuse3") : tool;
}

bool detach(const QString& mountPoint, WhenBusy whenBusy) {
  const QString tool = detachTool();
  if (tool.isEmpty()) return false;
  const auto run = [&](QStringList options) {
    ChildSpec spec;
    spec.program = tool;
    spec.arguments = options << QStringLiteral("--") << mountPoint;
    spec.timeout = kDetachTimeout;
    const ChildResult r = runChild(spec);
    return r.started && !r.timedOut && r.exited() && r.exitCode() == 0;
  };
  if (run({QStringLiteral("-u")})) return true;
  return whenBusy == WhenBusy::detachLazily && run({QStringLiteral("-u"), QStringLiteral("-z")});
}

bool endAttach(const QString& cipherDir, const QString& mountPoint) {
  const QStringList points = pathForms(mountPoint), sources = pathForms(cipherDir);
  const auto names = [](const QStringList& arguments, const QStringList& forms) {
    return std::any_of(forms.cbegin(), forms.cend(), [&](const QString& form) { return arguments.contains(form); });
  };
  // Held by pidfd from the look to the signal: the number cannot pass to
  // another process meanwhile.
  std::vector<UniqueFd> working;
  const ProcessTable table = ProcessTable::snapshot();
  for (const ProcessInfo& process : table.processes()) {
    if (process.uid != ::getuid() || process.pid == ::getpid()) continue;
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, process.pid, 0)));
    const QStringList arguments = ProcessTable::arguments(process.pid);
    // By the kernel's name of the program: the daemon gocryptfs forks runs
    // under the same one.
    if (!pidFd || process.name != QLatin1String(kCryptTool) || !names(arguments, points) || !names(arguments, sources))
      continue;
    working.push_back(std::move(pidFd));
  }
  const auto signalAll = [&](int signal) {
    for (const UniqueFd& fd : working) ::syscall(SYS_pidfd_send_signal, fd.get(), signal, nullptr, 0);
  };
  // Waits until each has ended (its pidfd turns readable), at most `grace`.
  const auto waitForEnd = [&](std::chrono::milliseconds grace) {
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (true) {
      std::vector<pollfd> fds;
      for (const UniqueFd& fd : working) fds.push_back({fd.get(), POLLIN, 0});
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
      if (std::all_of(fds.cbegin(), fds.cend(), [](const pollfd& p) {
            pollfd again{p.fd, POLLIN, 0};
            return ::poll(&again, 1, 0) > 0;
          }))
        return true;
    }
  };
  if (!working.empty()) {
    // A daemon that mounted already takes its mount down on SIGTERM.
    signalAll(SIGTERM);
    if (!waitForEnd(std::chrono::milliseconds(2000))) {
      signalAll(SIGKILL);
      waitForEnd(std::chrono::milliseconds(1000));
    }
  }
  // A mount made before the end (or left behind by a killed daemon).
  if (isMounted(cipherDir, mountPoint)) static_cast<void>(detach(mountPoint, WhenBusy::detachLazily));
  return !isMounted(cipherDir, mountPoint);
}

QList<MountEntry> readMountInfo(const QString& path) {
  QList<MountEntry> entries;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return entries;
  // /proc files report no size: read to the end.
  const QByteArray all = file.readAll();
  for (const QByteArray& line : all.split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    const qsizetype dash = fields.indexOf(QByteArray("-"));
    if (fields.size() < 5 || dash < 6 || dash + 2 >= fields.size()) continue;
    entries.append({unescapeField(fields[4]), unescapeField(fields[dash + 1]), unescapeField(fields[dash + 2])});
  }
  return entries;
}

bool isMounted(const QString& cipherDir, const QString& mountPoint, const QString& mountInfoPath) {
  const QStringList points = pathForms(mountPoint);
  const QStringList sources = pathForms(cipherDir);
  std::optional<MountEntry> top;
  for (const MountEntry& e : readMountInfo(mountInfoPath)) {
    if (points.contains(e.mountPoint)) top = e;
  }
  return top && top->fsType == QLatin1String("fuse.gocryptfs") && sources.contains(top->source);
}

std::optional<qint64> freeBytes(const QString& folder) {
  struct statvfs s{};
  if (::statvfs(QFile::encodeName(folder).constData(), &s) != 0) return std::nullopt;
  return static_cast<qint64>(s.f_bavail) * static_cast<qint64>(s.f_frsize);
}

qint64 directorySize(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  struct stat st;
  if (FileOps::holdsNul(path) || ::lstat(native.constData(), &st) != 0) return 0;
  if (!S_ISDIR(st.st_mode)) return copiedBytes(st);
  qint64 sum = 0;
  FileOps::forEachItemBelow(path, [&sum](const struct stat& item) { sum += copiedBytes(item); });
  return sum;
}

Expected<void, QString> renameNoReplace(const QString& from, const QString& to) {
  if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD, QFile::encodeName(to).constData(),
                  RENAME_NOREPLACE) != 0) {
    return Unexpected(QString::fromLocal8Bit(std::strerror(errno)));
  }
  return {};
}

std::optional<quint64> mountedDevice(const QString& mountPoint) {
  struct stat point{}, parent{};
  if (::stat(QFile::encodeName(mountPoint).constData(), &point) != 0 ||
      ::stat(QFile::encodeName(QFileInfo(mountPoint).absolutePath()).constData(), &parent) != 0 ||
      point.st_dev == parent.st_dev) {
    return std::nullopt;
  }
  return static_cast<quint64>(point.st_dev);
}

}  // namespace tlr::DiskImage
