#include "platform/KqueueProcessWatcher.h"

#include "platform/ChildProcess.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/OpenFileLimit.h"
#include "platform/ProcessTable.h"
#include "platform/ThreadTurns.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace tlr {
namespace {

using Clock = std::chrono::steady_clock;

// The pidfd information block of Linux 6.15 (its first, 64-byte version), for
// system headers that predate it.
struct PidfdInfo {
  uint64_t mask;
  uint64_t cgroupid;
  uint32_t pid, tgid, ppid, ruid, rgid, euid, egid, suid, sgid, fsuid, fsgid;
  int32_t exit_code;
};
static_assert(sizeof(PidfdInfo) == 64);
constexpr uint64_t kPidfdInfoExit = 1u << 3;
constexpr unsigned long kPidfdGetInfo = _IOWR(0xFF, 11, PidfdInfo);

constexpr auto kReapWait = std::chrono::seconds(2);
constexpr auto kFirstRetry = std::chrono::milliseconds(1);
constexpr auto kLongestRetry = std::chrono::milliseconds(50);
constexpr auto kRememberExit = std::chrono::seconds(60);
constexpr auto kTurn = std::chrono::microseconds(100);

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

std::pair<int, int> kernelVersion() {
  utsname u{};
  if (::uname(&u) != 0) return {0, 0};
  int major = 0, minor = 0;
  std::sscanf(u.release, "%d.%d", &major, &minor);
  return {major, minor};
}

QString kernelRelease() {
  utsname u{};
  return ::uname(&u) == 0 ? QString::fromLatin1(u.release) : QStringLiteral("?");
}

// The wait status from the pidfd's exit information, once the process has
// been reaped.
std::optional<int32_t> statusFromPidfdInfo(int pidFd) {
  if (!KqueueProcessWatcher::hasPidfdExitInfo()) return std::nullopt;
  PidfdInfo info{};
  info.mask = kPidfdInfoExit;
  if (::ioctl(pidFd, kPidfdGetInfo, &info) != 0 || !(info.mask & kPidfdInfoExit)) return std::nullopt;
  return info.exit_code;
}

// Whether the process behind `pidFd` is still there (running, or exited and
// not reaped yet).
bool notReaped(int pidFd) { return ::syscall(SYS_pidfd_send_signal, pidFd, 0, nullptr, 0) == 0; }

// The wait status of an exited process, the first that answers: our own
// child (not reaped yet, or reaped by us as a detached program); a process
// whose parent has not reaped it yet, from its stat record, which is its own
// while the pidfd still finds it; the pidfd's exit information once it has
// been reaped.
std::optional<int32_t> exitStatus(pid_t pid, int pidFd) {
  if (auto s = ownChildExitStatus(pid, pidFd)) return s;
  if (auto s = readUnreapedExitStatus(pid); s && notReaped(pidFd)) return s;
  return statusFromPidfdInfo(pidFd);
}

// Whether the process behind `pidFd` has exited (the pidfd is readable).
bool hasExited(int pidFd) {
  pollfd p{pidFd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

uint64_t eventKey(pid_t pid, uint32_t token) { return (uint64_t{token} << 32) | static_cast<uint32_t>(pid); }

}  // namespace

bool KqueueProcessWatcher::hasPidfdExitInfo() {
  static const bool has = [] {
    const auto [major, minor] = kernelVersion();
    if (major < 6 || (major == 6 && minor < 15)) return false;
    const int self = pidfdOpen(::getpid());
    if (self < 0) return false;
    PidfdInfo info{};
    info.mask = kPidfdInfoExit;
    const bool ok = ::ioctl(self, kPidfdGetInfo, &info) == 0;
    ::close(self);
    return ok;
  }();
  return has;
}

std::unique_ptr<KqueueProcessWatcher> KqueueProcessWatcher::create() {
  const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) {
    log("[Kqueue] ", QStringLiteral("FAIL: kqueue() returned %1").arg(epollFd));
    return nullptr;
  }
  const int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = 0;  // no pid is 0
  if (stopFd < 0 || ::epoll_ctl(epollFd, EPOLL_CTL_ADD, stopFd, &ev) != 0) {
    log("[Kqueue] ", QStringLiteral("FAIL: kqueue() returned %1").arg(-1));
    if (stopFd >= 0) ::close(stopFd);
    ::close(epollFd);
    return nullptr;
  }
  return std::unique_ptr<KqueueProcessWatcher>(new KqueueProcessWatcher(epollFd, stopFd));
}

KqueueProcessWatcher::KqueueProcessWatcher(int epollFd, int stopFd)
    : epollFd_(epollFd), stopFd_(stopFd), delivery_(std::make_shared<Delivery>()) {}

KqueueProcessWatcher::~KqueueProcessWatcher() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof one);
    thread_.join();
  }
  delivery_.reset();  // exits already queued to the main thread are dropped
  for (auto& [pid, w] : registered_) ::close(w.pidFd);
  ::close(stopFd_);
  ::close(epollFd_);
}

void KqueueProcessWatcher::setOnExit(ExitHandler handler) {
  if (running_) return;  // the loop may be reading it
  delivery_->onExit = std::move(handler);
  delivery_->onItsThread = false;
}

void KqueueProcessWatcher::setOnExitOnItsThread(ExitHandler handler) {
  if (running_) return;
  delivery_->onExit = std::move(handler);
  delivery_->onItsThread = true;
}

void KqueueProcessWatcher::start() {
  if (running_.exchange(true)) return;
  thread_ = std::thread([this] { run(); });
  log("[Kqueue] ", QStringLiteral("started, fd=%1").arg(epollFd_));
  if (hasPidfdExitInfo())
    log("[Kqueue] ", QStringLiteral("exit status: waitid for own children, /proc/<pid>/stat before the parent "
                                    "reaps, pidfd exit info after (kernel %1)")
                         .arg(kernelRelease()));
  else
    log("[Kqueue] ", QStringLiteral("exit status: waitid for own children, /proc/<pid>/stat before the parent "
                                    "reaps; a process its parent reaped at once reads as 0 (kernel %1)")
                         .arg(kernelRelease()));
}

void KqueueProcessWatcher::deliver(pid_t pid, const QString& agentId, int32_t status, bool fromLoop) const {
  // The loop ends before delivery_ goes: on its thread it is always there.
  if (fromLoop && delivery_->onItsThread) {
    if (delivery_->onExit) delivery_->onExit(pid, agentId, RawExitInfo{pid, status});
    return;
  }
  std::weak_ptr<Delivery> weak = delivery_;
  runOnMain([weak, pid, agentId, status] {
    const auto delivery = weak.lock();
    if (delivery && delivery->onExit) delivery->onExit(pid, agentId, RawExitInfo{pid, status});
  });
}

bool KqueueProcessWatcher::isKnownExit(pid_t pid) {
  const auto now = Clock::now();
  std::erase_if(exited_, [&](const auto& e) { return now - e.second > kRememberExit; });
  return exited_.contains(pid);
}

KqueueProcessWatcher::WatchResult KqueueProcessWatcher::watch(pid_t pid, const QString& agentId) {
  std::lock_guard guard(lock_);
  if (auto it = registered_.find(pid); it != registered_.end()) {
    it->second.agentId = agentId;
    return WatchResult::watching;
  }
  const auto shortage = [&](const QString& why) {
    if (!shortageLogged_)
      log("[Kqueue] ", QStringLiteral("watch pid=%1 FAIL: %2 — 文件描述符不够（上限 %3，已监听 %4 个进程），"
                                      "这些进程的退出暂时无法记录，下次扫描再试")
                           .arg(pid)
                           .arg(why)
                           .arg(OpenFileLimit::current())
                           .arg(registered_.size()));
    shortageLogged_ = true;
    return WatchResult::noDescriptor;
  };
  if (registered_.size() + kReservedDescriptors >= OpenFileLimit::current())
    return shortage(QStringLiteral("留给其他功能的 %1 个描述符不占用").arg(kReservedDescriptors));
  const int pidFd = pidfdOpen(pid);
  if (pidFd < 0) {
    const int error = errno;
    if (error == EMFILE || error == ENFILE)
      return shortage(QStringLiteral("errno=%1 (%2)").arg(error).arg(QString::fromLocal8Bit(std::strerror(error))));
    if (isKnownExit(pid)) return WatchResult::reported;
    log("[Kqueue] ", QStringLiteral("watch pid=%1 FAIL: errno=%2 — Agent 可能不存在").arg(pid).arg(error));
    if (error != ESRCH) return WatchResult::failed;
    // Gone already: a program we started and reaped has its status kept.
    deliver(pid, agentId, ownChildExitStatus(pid, -1).value_or(0), false);
    return WatchResult::gone;
  }
  if (isKnownExit(pid)) {
    if (hasExited(pidFd)) {  // the same dead process, reported already
      ::close(pidFd);
      return WatchResult::reported;
    }
    exited_.erase(pid);  // a new process under an old number
  }
  const uint32_t token = nextToken_++;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = eventKey(pid, token);
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, pidFd, &ev) != 0) {
    const int error = errno;
    ::close(pidFd);
    if (error == ENOMEM || error == ENOSPC)
      return shortage(QStringLiteral("errno=%1 (%2)").arg(error).arg(QString::fromLocal8Bit(std::strerror(error))));
    log("[Kqueue] ", QStringLiteral("watch pid=%1 FAIL: errno=%2 — Agent 可能不存在").arg(pid).arg(error));
    return WatchResult::failed;
  }
  registered_.emplace(pid, Watched{agentId, pidFd, token});
  shortageLogged_ = false;
  return WatchResult::watching;
}

bool KqueueProcessWatcher::unwatch(pid_t pid) {
  std::lock_guard guard(lock_);
  const auto it = registered_.find(pid);
  // Taken by the loop a moment ago: its exit is on its way.
  if (it == registered_.end()) return !isKnownExit(pid);
  // A process on its way out is missing from the scan that lets go of it,
  // possibly before this thread's loop has taken its exit, and even before
  // its pidfd tells: its first thread has ended while the others still end,
  // or its memory, and with it what a scan knows it by, is gone already.
  // Keep the watch, so that its exit is still reported rather than lost.
  // Read before the pidfd is asked: while the pidfd finds the process
  // running, its number is still its own.
  const std::optional<ProcStat> stat = readProcStat(pid);
  if ((stat && isEnding(*stat)) || hasExited(it->second.pidFd)) return false;
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second.pidFd, nullptr);
  ::close(it->second.pidFd);
  registered_.erase(it);
  return true;
}

bool KqueueProcessWatcher::isWatching(pid_t pid) const {
  std::lock_guard guard(lock_);
  return registered_.contains(pid);
}

std::optional<KqueueProcessWatcher::Watched> KqueueProcessWatcher::takeExited(pid_t pid, uint32_t token) {
  std::lock_guard guard(lock_);
  const auto it = registered_.find(pid);
  if (it == registered_.end() || it->second.token != token) return std::nullopt;
  Watched w = std::move(it->second);
  registered_.erase(it);
  exited_[pid] = Clock::now();
  return w;
}

void KqueueProcessWatcher::run() {
  ::pthread_setname_np(::pthread_self(), "TLR.kqueue");
  // An exit is a moment's work: on a busy machine it should not wait for a
  // processor behind threads that run for whole turns.
  askForShortTurns(kTurn);

  // Exits whose status is not known yet: their parent has still to reap
  // them. Asked again with a growing pause, for at most kReapWait.
  struct Pending {
    pid_t pid;
    QString agentId;
    int pidFd;
    Clock::time_point deadline, nextTry;
    std::chrono::milliseconds pause;
  };
  std::vector<Pending> pending;
  const auto closeAll = [&] {
    for (const Pending& p : pending) ::close(p.pidFd);
  };

  const auto settle = [&](Pending& p, Clock::time_point now) {
    std::optional<int32_t> status = exitStatus(p.pid, p.pidFd);
    if (!status && now < p.deadline) {
      p.nextTry = now + p.pause;
      p.pause = std::min(p.pause * 2, kLongestRetry);
      return false;
    }
    ::close(p.pidFd);
    deliver(p.pid, p.agentId, status.value_or(0), true);
    return true;
  };

  epoll_event events[32];
  while (true) {
    int timeout = -1;
    if (!pending.empty()) {
      auto next = pending.front().nextTry;
      for (const Pending& p : pending) next = std::min(next, p.nextTry);
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
      timeout = static_cast<int>(std::max<long long>(0, wait));
    }
    const int n = ::epoll_wait(epollFd_, events, 32, timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      log("[Kqueue] ", QStringLiteral("kevent error errno=%1").arg(errno));
      closeAll();
      return;
    }
    const auto now = Clock::now();
    for (int i = 0; i < n; ++i) {
      const uint64_t key = events[i].data.u64;
      if (key == 0) {  // stop
        closeAll();
        return;
      }
      const pid_t pid = static_cast<pid_t>(key & 0xFFFFFFFFu);
      auto watched = takeExited(pid, static_cast<uint32_t>(key >> 32));
      if (!watched) continue;  // unwatched meanwhile
      Pending p{pid, std::move(watched->agentId), watched->pidFd, now + kReapWait, now, kFirstRetry};
      // Without the pidfd exit information no later answer can come.
      if (!hasPidfdExitInfo()) p.deadline = now;
      if (settle(p, now)) continue;  // its descriptor, closed, left the set
      // Asked again later: it stays open, and must not wake the loop again.
      ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, p.pidFd, nullptr);
      pending.push_back(std::move(p));
    }
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->nextTry <= now && settle(*it, now))
        it = pending.erase(it);
      else
        ++it;
    }
  }
}

}  // namespace tlr
