#include "platform/ChildProcess.h"

#include "platform/ChildReaper.h"
#include "platform/ChildStop.h"
#include "platform/CommandKeeper.h"
#include "platform/FileOps.h"
#include "platform/OffMain.h"
#include "platform/OpenFileLimit.h"
#include "platform/OwnCommands.h"
#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

extern char** environ;

namespace tlr {
namespace {

using Clock = std::chrono::steady_clock;

using Fd = UniqueFd;

bool makePipe(Fd& readEnd, Fd& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
  return true;
}

// Everything exec needs, built before fork: the child may only make
// async-signal-safe calls.
struct ExecImage {
  QByteArray path;
  std::vector<QByteArray> argStore, envStore;
  std::vector<char*> argv, envp;
  QByteArray workDir;
  bool useEnviron = true;

  char** envPointer() { return useEnviron ? environ : envp.data(); }
};

QString pathFromEnvironment(const std::optional<QStringList>& env) {
  if (!env) return currentPath();
  for (const QString& entry : *env) {
    if (entry.startsWith("PATH=")) return entry.mid(5);
  }
  return QString();
}

// Whether any text of `spec` holds a NUL character, which execve would
// silently cut: the child would run with other arguments than asked for.
bool holdsNul(const ChildSpec& spec) {
  const auto nul = [](const QString& text) { return text.contains(QChar(0)); };
  if (nul(spec.program) || nul(spec.workingDirectory)) return true;
  if (std::any_of(spec.arguments.cbegin(), spec.arguments.cend(), nul)) return true;
  return spec.environment && std::any_of(spec.environment->cbegin(), spec.environment->cend(), nul);
}

std::optional<ExecImage> buildImage(const ChildSpec& spec, QString* error) {
  if (holdsNul(spec)) {
    *error = QStringLiteral("an argument holds a NUL character");
    return std::nullopt;
  }
  const QString resolved = findExecutable(spec.program, pathFromEnvironment(spec.environment));
  if (resolved.isEmpty()) {
    *error = QString::fromLocal8Bit(std::strerror(ENOENT));
    return std::nullopt;
  }
  ExecImage image;
  image.path = QFile::encodeName(resolved);
  image.argStore.push_back(QFile::encodeName(spec.program));
  for (const QString& a : spec.arguments) image.argStore.push_back(a.toLocal8Bit());
  for (auto& a : image.argStore) image.argv.push_back(a.data());
  image.argv.push_back(nullptr);
  if (spec.environment) {
    image.useEnviron = false;
    for (const QString& e : *spec.environment) image.envStore.push_back(e.toLocal8Bit());
    for (auto& e : image.envStore) image.envp.push_back(e.data());
    image.envp.push_back(nullptr);
  }
  image.workDir = QFile::encodeName(spec.workingDirectory);
  return image;
}

// Reaps our child `pid`, waiting for it, also across interrupting signals:
// through its pidfd `pidFd` when there is one, so that only this very child
// is reaped, whoever may have the number by now.
void reapBlocking(pid_t pid, int pidFd) {
  if (pidFd >= 0) {
    siginfo_t info{};
    while (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidFd), &info, WEXITED) < 0 && errno == EINTR) {
    }
    return;
  }
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// What a child wrote to an in-memory output file so far, from its start, at
// most `limit` bytes (zero: no limit).
void readMemoryFile(int fd, QByteArray& into, qsizetype limit, bool& truncated) {
  char buffer[65536];
  off_t offset = 0;
  while (true) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    offset += n;
    const qsizetype room = limit > 0 ? std::max<qsizetype>(0, limit - into.size()) : n;
    if (room < n) truncated = true;
    into.append(buffer, std::min<qsizetype>(room, n));
  }
}

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads what is there, keeping at most `limit` bytes in all (zero: no
// limit); returns false at end of file or on error.
bool readSome(int fd, QByteArray& into, qsizetype limit, bool& truncated) {
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      const qsizetype room = limit > 0 ? std::max<qsizetype>(0, limit - into.size()) : n;
      if (room < n) truncated = true;
      into.append(buffer, std::min<qsizetype>(room, n));
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

// What a forked child that failed to exec wrote to its report pipe: the
// errno. Nothing when the exec succeeded and closed the pipe unwritten.
std::optional<int> execFailure(int reportFd) {
  int e = 0;
  ssize_t n;
  do {
    n = ::read(reportFd, &e, sizeof e);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof e)) return e;
  return std::nullopt;
}


// A pseudo-terminal: `master` is ours to read (non-blocking later), `child`
// the side the child gets as its terminal. 120 columns, and no carriage
// return added before each line feed, so its output reads like a pipe's.
bool openTerminal(Fd& master, Fd& child) {
  master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) return false;
  char name[128];
  if (::ptsname_r(master.get(), name, sizeof name) != 0) return false;
  child.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!child) return false;
  termios mode{};
  if (::tcgetattr(child.get(), &mode) == 0) {
    mode.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(child.get(), TCSANOW, &mode);
  }
  const winsize size{40, 120, 0, 0};
  ::ioctl(child.get(), TIOCSWINSZ, &size);
  return true;
}

// Why work of a cancelled pool starts no program.
QString quittingReason() { return QStringLiteral("not started: the application is quitting"); }
// Why a command for an agent whose uninstall has begun does not run
// (OwnCommands::mayStart()).
QString uninstallingReason() { return QStringLiteral("not started: the agent is being uninstalled"); }
// Why work a stop came before does not start (stopRunningChildren()).
QString stoppedReason() { return QStringLiteral("not started: its work was stopped"); }

int msUntil(Clock::time_point t) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace

bool ChildResult::exited() const { return started && WIFEXITED(waitStatus); }
int ChildResult::exitCode() const { return WEXITSTATUS(waitStatus); }
int ChildResult::termSignal() const { return WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0; }

QString signalName(int signal) {
  const char* name = ::sigabbrev_np(signal);
  return name ? QStringLiteral("SIG") + QString::fromLatin1(name) : QString();
}

QString currentPath() { return QString::fromLocal8Bit(qgetenv("PATH")); }

QString findExecutable(const QString& name, const QString& pathList) {
  if (name.isEmpty()) return {};
  auto executable = [](const QString& p) {
    const QFileInfo info(p);
    return info.isFile() && info.isExecutable();
  };
  if (name.contains('/')) return executable(name) ? name : QString();
  for (const QString& dir : pathList.split(':', Qt::SkipEmptyParts)) {
    const QString candidate = dir + "/" + name;
    if (executable(candidate)) return candidate;
  }
  return {};
}

ChildResult runChild(const ChildSpec& spec) {
  ChildResult result;
  // Ours from here on, whatever happens.
  Fd handedIn(spec.inputFd), handedOut(spec.outputFd);
  // Watched from before the child starts: a stop that comes meanwhile is
  // not missed.
  const ChildStopWatch stopWatch;
  const auto startTime = Clock::now();
  if (OffMainPool::currentIsCancelled()) {
    result.cancelled = true;
    result.startError = quittingReason();
    return result;
  }
  if (!OwnCommands::mayStart()) {
    result.startError = uninstallingReason();
    return result;
  }
  if (spec.refusedOnceStopped && stopWatch.stoppedBefore()) {
    result.cancelled = true;
    result.startError = stoppedReason();
    return result;
  }
  auto image = buildImage(spec, &result.startError);
  if (!image) return result;

  Fd outRead, outWrite, errRead, errWrite, inRead, inWrite, execRead, execWrite, statusRead, statusWrite;
  Fd outMemory, errMemory;  // with outputToMemory: the child's output files
  Fd terminal;              // with terminal: the pseudo-terminal's side the child gets
  bool outputReady = false;
  if (spec.terminal) {
    outputReady = openTerminal(outRead, terminal) && makePipe(errRead, errWrite);
  } else if (spec.outputToMemory) {
    outMemory = Fd(::memfd_create("tlr-child-out", MFD_CLOEXEC));
    errMemory = Fd(::memfd_create("tlr-child-err", MFD_CLOEXEC));
    outputReady = outMemory && errMemory;
  } else {
    outputReady = (handedOut || makePipe(outRead, outWrite)) && makePipe(errRead, errWrite);
  }
  const bool pipedInput = spec.input && !handedIn && !spec.terminal;
  const int life = CommandKeeper::lifeLine();
  if (!outputReady || !makePipe(execRead, execWrite) || !makePipe(statusRead, statusWrite) ||
      (pipedInput && !makePipe(inRead, inWrite)) || life < 0) {
    result.startError = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  Fd devNull(spec.input || handedIn || spec.terminal ? -1 : ::open("/dev/null", O_RDONLY | O_CLOEXEC));
  // What a scoped command leaves running stays under its keeper; a
  // relaunch's daemon, and a tool's (a mount's file system), go their way.
  const bool subreaper = OwnCommands::keepsWhatItLeaves();

  const pid_t parent = ::getpid();
  // No child of ours is reaped by anyone else from its fork on.
  std::optional<ChildReaper::Starting> starting(std::in_place);
  const pid_t keeper = ::fork();
  if (keeper < 0) {
    result.startError = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  if (keeper == 0) {
    // The keeper (platform/CommandKeeper.h).
    if (!CommandKeeper::become(parent, subreaper)) ::_exit(127);
    const pid_t keeperPid = ::getpid();
    const pid_t command = ::fork();
    if (command == 0) {
      // The command.
      if (!CommandKeeper::releaseCommand(keeperPid)) ::_exit(127);
      OpenFileLimit::restoreInChild();
      if (spec.umask) ::umask(*spec.umask);
      if (terminal) {
        // Its own session, with the pseudo-terminal as its controlling one.
        ::setsid();
        ::ioctl(terminal.get(), TIOCSCTTY, 0);
        ::dup2(terminal.get(), STDIN_FILENO);
        ::dup2(terminal.get(), STDOUT_FILENO);
      } else {
        const int inFd = handedIn ? handedIn.get() : pipedInput ? inRead.get() : devNull.get();
        if (inFd >= 0) ::dup2(inFd, STDIN_FILENO);
        ::dup2(handedOut ? handedOut.get() : spec.outputToMemory ? outMemory.get() : outWrite.get(), STDOUT_FILENO);
      }
      ::dup2(spec.outputToMemory ? errMemory.get() : errWrite.get(), STDERR_FILENO);
      if ((spec.workingDirectoryFd >= 0 ? ::fchdir(spec.workingDirectoryFd)
                                        : !image->workDir.isEmpty() ? ::chdir(image->workDir.constData()) : 0) != 0) {
        const int e = errno;
        (void)!::write(execWrite.get(), &e, sizeof e);
        ::_exit(127);
      }
      ::execve(image->path.constData(), image->argv.data(), image->envPointer());
      const int e = errno;
      (void)!::write(execWrite.get(), &e, sizeof e);
      ::_exit(127);
    }
    if (command < 0) {
      const int e = errno;
      (void)!::write(execWrite.get(), &e, sizeof e);
      ::_exit(127);
    }
    // Only the life line and the status pipe stay open here: nothing of the
    // application (its lock, its sockets) and no end of the command's pipes.
    ::dup2(life, STDIN_FILENO);
    ::dup2(statusWrite.get(), STDOUT_FILENO);
    ::close_range(STDERR_FILENO, ~0U, 0);
    CommandKeeper::keep(command, subreaper);
  }

  ChildReaper::hold(keeper);
  starting.reset();
  ::setpgid(keeper, keeper);  // also here, so the group exists before any stop
  // Known as ours before the command can start anything: none of its
  // processes is ever taken for an agent.
  OwnCommands& own = OwnCommands::shared();
  const int keeperFd = pidfdOpen(keeper);
  // Ours, to reap exactly this keeper: the record closes its own.
  const Fd reapFd(keeperFd >= 0 ? ::fcntl(keeperFd, F_DUPFD_CLOEXEC, 0) : -1);
  const bool mayRun = own.started(keeper, keeperFd);
  outWrite.reset();
  errWrite.reset();
  execWrite.reset();
  statusWrite.reset();
  inRead.reset();
  devNull.reset();
  handedIn.reset();
  handedOut.reset();
  terminal.reset();

  // Reaps the keeper, which ends once the command has (and, as a subreaper,
  // once all it left running has), or leaves it to the record.
  // The record reaps a keeper that waits for what the command left.
  auto finish = [&] {
    own.ended(keeper);
    if (!subreaper || keeperFd < 0) reapBlocking(keeper, reapFd.get());
    ChildReaper::release(keeper);
  };

  if (const std::optional<int> execErrno = execFailure(execRead.get())) {
    finish();
    result.startError = QString::fromLocal8Bit(std::strerror(*execErrno));
    return result;
  }
  result.started = true;

  if (outRead) setNonBlocking(outRead.get());
  if (errRead) setNonBlocking(errRead.get());
  if (inWrite) setNonBlocking(inWrite.get());
  setNonBlocking(statusRead.get());

  const QByteArray input = spec.input.value_or(QByteArray());
  qsizetype written = 0;
  if (inWrite && input.isEmpty()) inWrite.reset();

  const bool hasDeadline = spec.timeout.count() > 0;
  const auto deadline = startTime + spec.timeout;
  // Readable once the work we run for is cancelled (the application quits),
  // or once the children running now are to stop.
  int cancelFd = OffMainPool::currentCancelFd();
  int stopFd = stopWatch.fd();
  const auto stopped = [&] {
    pollfd p{stopFd, POLLIN, 0};
    return stopFd >= 0 && ::poll(&p, 1, 0) > 0;
  };
  std::optional<Clock::time_point> killAt;   // set once SIGTERM went out
  std::optional<Clock::time_point> drainUntil;  // set once the command has ended
  bool reaped = false;
  // Every process of the command gets the signal, wherever it went. (Without
  // pidfds, only its process group: the keeper lets SIGTERM pass, and its
  // end takes the command along.)
  bool killedTheGroup = false;
  auto stop = [&](int signal) {
    if (keeperFd >= 0) {
      own.signalCommand(keeper, signal);
    } else {
      ::kill(-keeper, signal);
      killedTheGroup = killedTheGroup || signal == SIGKILL;
    }
  };
  // Its agent's uninstall began while it was being started: ended at once,
  // as the uninstall ends what it finds.
  if (!mayRun) stop(SIGKILL);

  // The command's wait status, as its keeper reports it. A keeper gone
  // without a word was killed before the command ended (the command's
  // end takes the command along): unless that was our own stop, the command
  // failed, and what it left is ended.
  auto readStatus = [&] {
    int status = 0;
    ssize_t n;
    do {
      n = ::read(statusRead.get(), &status, sizeof status);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EAGAIN) return;
    reaped = true;
    result.waitStatus = n == static_cast<ssize_t>(sizeof status) ? status : SIGKILL;
    result.keeperLost = n != static_cast<ssize_t>(sizeof status) && !killedTheGroup;
    drainUntil = Clock::now() + spec.drainGrace;
  };

  while (true) {
    if (reaped && !outRead && !errRead) break;
    if (reaped && Clock::now() >= *drainUntil) break;

    if (!reaped && hasDeadline && !killAt && Clock::now() >= deadline) {
      result.timedOut = true;
      if (spec.onTimeout) spec.onTimeout();
      stop(SIGTERM);
      killAt = Clock::now() + spec.killGrace;
    }
    if (!reaped && ((cancelFd >= 0 && OffMainPool::currentIsCancelled()) || stopped())) {
      // Once, with a short grace: quitting does not wait for the usual one.
      cancelFd = -1;
      stopFd = -1;
      result.cancelled = true;
      stop(SIGTERM);
      const auto soon = Clock::now() + std::min<Clock::duration>(spec.killGrace, OffMainPool::kCancelKillGrace);
      if (!killAt || (*killAt != Clock::time_point::max() && *killAt > soon)) killAt = soon;
    }
    if (!reaped && killAt && Clock::now() >= *killAt) {
      stop(SIGKILL);
      killAt = Clock::time_point::max();
    }

    std::vector<pollfd> fds;
    if (outRead) fds.push_back({outRead.get(), POLLIN, 0});
    if (errRead) fds.push_back({errRead.get(), POLLIN, 0});
    if (inWrite) fds.push_back({inWrite.get(), POLLOUT, 0});
    if (!reaped) fds.push_back({statusRead.get(), POLLIN, 0});
    if (!reaped && cancelFd >= 0) fds.push_back({cancelFd, POLLIN, 0});
    if (!reaped && stopFd >= 0) fds.push_back({stopFd, POLLIN, 0});

    int wait = 1000;
    if (reaped) wait = std::min(wait, msUntil(*drainUntil));
    if (!reaped && hasDeadline && !killAt) wait = std::min(wait, msUntil(deadline));
    if (!reaped && killAt && *killAt != Clock::time_point::max()) wait = std::min(wait, msUntil(*killAt));

    const int ready = ::poll(fds.data(), fds.size(), wait);
    if (ready < 0 && errno != EINTR) break;
    for (const pollfd& p : fds) {
      if (!p.revents) continue;
      if (p.fd == outRead.get()) {
        if (!readSome(p.fd, result.out, spec.outputLimit, result.outTruncated)) outRead.reset();
      } else if (p.fd == errRead.get()) {
        if (!readSome(p.fd, result.err, spec.outputLimit, result.errTruncated)) errRead.reset();
      } else if (inWrite && p.fd == inWrite.get()) {
        if (p.revents & (POLLERR | POLLHUP)) {
          inWrite.reset();
          continue;
        }
        const ssize_t w = ::write(p.fd, input.constData() + written, input.size() - written);
        if (w > 0) written += w;
        if (w < 0 && errno != EAGAIN && errno != EINTR) inWrite.reset();
        if (written >= input.size()) inWrite.reset();
      } else if (p.fd == statusRead.get()) {
        readStatus();
      }
      // The cancel and stop descriptors are looked at at the top of the loop.
    }
  }
  if (!reaped) {
    // Only a failed poll leaves the loop early: wait for the command.
    ::fcntl(statusRead.get(), F_SETFL, ::fcntl(statusRead.get(), F_GETFL) & ~O_NONBLOCK);
    readStatus();
  }
  if (result.keeperLost) own.keeperLost(keeper);
  finish();
  if (!mayRun) {
    result.started = false;
    result.startError = uninstallingReason();
  }
  if (spec.outputToMemory) {
    readMemoryFile(outMemory.get(), result.out, spec.outputLimit, result.outTruncated);
    readMemoryFile(errMemory.get(), result.err, spec.outputLimit, result.errTruncated);
  }
  result.elapsedSeconds = std::chrono::duration<double>(Clock::now() - startTime).count();
  return result;
}

std::optional<int32_t> ownChildExitStatus(pid_t pid, int pidFd) {
  return ChildReaper::exitStatus(pid, pidFd);
}

Expected<pid_t, QString> spawnDetached(const ChildSpec& spec, const QString& logFile) {
  if (OffMainPool::currentIsCancelled()) {
    return Unexpected(quittingReason());
  }
  QString error;
  auto image = buildImage(spec, &error);
  if (!image) {
    return Unexpected(error);
  }
  // Each start begins a new log, a file of our own whatever stood there.
  Fd logFd;
  if (logFile.isEmpty()) {
    logFd.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!logFd) return Unexpected(QString::fromLocal8Bit(std::strerror(errno)));
  } else {
    Expected<Fd, QString> opened = FileOps::openOwnFile(logFile);
    if (!opened) return Unexpected(std::move(opened).error());
    logFd = std::move(opened).value();
  }
  Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!devNull) {
    return Unexpected(QString::fromLocal8Bit(std::strerror(errno)));
  }
  // The report pipe carries the exec errno on failure; it closes on a
  // successful exec.
  Fd reportRead, reportWrite;
  if (!makePipe(reportRead, reportWrite)) {
    return Unexpected(QString::fromLocal8Bit(std::strerror(errno)));
  }
  std::optional<ChildReaper::Starting> starting(std::in_place);
  const pid_t pid = ::fork();
  if (pid < 0) {
    return Unexpected(QString::fromLocal8Bit(std::strerror(errno)));
  }
  if (pid == 0) {
    // A session of its own: no terminal, and nothing we send to our process
    // group reaches it. It outlives us.
    ::setsid();
    sigset_t empty;
    sigemptyset(&empty);
    ::sigprocmask(SIG_SETMASK, &empty, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    OpenFileLimit::restoreInChild();
    ::dup2(devNull.get(), STDIN_FILENO);
    ::dup2(logFd.get(), STDOUT_FILENO);
    ::dup2(logFd.get(), STDERR_FILENO);
    if (!image->workDir.isEmpty() && ::chdir(image->workDir.constData()) != 0) {
      const int e = errno;
      (void)!::write(reportWrite.get(), &e, sizeof e);
      ::_exit(127);
    }
    ::execve(image->path.constData(), image->argv.data(), image->envPointer());
    const int e = errno;
    (void)!::write(reportWrite.get(), &e, sizeof e);
    ::_exit(127);
  }
  // This very child, whoever reaps it.
  const int pidFd = pidfdOpen(pid);
  starting.reset();
  reportWrite.reset();
  if (const std::optional<int> execErrno = execFailure(reportRead.get())) {
    reapBlocking(pid, pidFd);
    if (pidFd >= 0) ::close(pidFd);
    return Unexpected(QString::fromLocal8Bit(std::strerror(*execErrno)));
  }
  ChildReaper::adopt(pid, pidFd);
  return pid;
}

}  // namespace tlr
