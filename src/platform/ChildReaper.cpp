#include "platform/ChildReaper.h"

#include "platform/ProcessTable.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace tlr::ChildReaper {
namespace {

using Clock = std::chrono::steady_clock;

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int32_t statusOf(const siginfo_t& si) {
  switch (si.si_code) {
    case CLD_EXITED: return (si.si_status & 0xFF) << 8;
    case CLD_KILLED: return si.si_status & 0x7F;
    case CLD_DUMPED: return (si.si_status & 0x7F) | 0x80;
    default: return 0;
  }
}

// The inode of a pidfd: where pidfds of one process share an inode that no
// other process has (Linux 6.9 and later), it names that very process.
ino_t identityOf(int pidFd) {
  struct stat st {};
  return pidFd >= 0 && ::fstat(pidFd, &st) == 0 ? st.st_ino : 0;
}

// Written to by the SIGCHLD handler: a child of ours ended (or one that
// landed on us did).
int childSignalFd = -1;

void onChildSignal(int) {
  const int saved = errno;
  const uint64_t one = 1;
  (void)!::write(childSignalFd, &one, sizeof one);
  errno = saved;
}

// The numeric names of a /proc folder ("/proc/self/task", "/proc"); empty
// when it cannot be read. Plain system calls, no toolkit: the reaper's
// thread may still run while the process's static objects go.
std::vector<pid_t> numericEntries(const char* folder) {
  std::vector<pid_t> numbers;
  DIR* dir = ::opendir(folder);
  if (!dir) return numbers;
  while (const dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const long number = std::strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0' && number > 0) numbers.push_back(static_cast<pid_t>(number));
  }
  ::closedir(dir);
  return numbers;
}

// Our children, from the kernel's list of each of our threads (a child
// belongs to the thread that forked it, an orphan to the one it landed on),
// else from the whole process table.
std::vector<pid_t> ourChildren() {
  std::vector<pid_t> children;
  const std::vector<pid_t> tasks = numericEntries("/proc/self/task");
  bool listed = !tasks.empty();
  for (const pid_t task : tasks) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/children", static_cast<int>(task));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::snprintf(path, sizeof path, "/proc/self/task/%d", static_cast<int>(task));
      struct stat st {};
      if (errno == ENOENT && ::stat(path, &st) == 0) listed = false;
      continue;
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    const char* at = text.c_str();
    while (*at) {
      char* end = nullptr;
      const long pid = std::strtol(at, &end, 10);
      if (end == at) {
        ++at;
        continue;
      }
      if (pid > 0) children.push_back(static_cast<pid_t>(pid));
      at = end;
    }
  }
  if (listed) return children;
  children.clear();
  const pid_t self = ::getpid();
  for (const pid_t pid : numericEntries("/proc")) {
    const std::optional<ProcStat> stat = readProcStat(pid);
    if (stat && stat->ppid == self) children.push_back(pid);
  }
  return children;
}

class Reaper {
 public:
  static Reaper& instance() {
    static Reaper* reaper = new Reaper;  // lives to the end of the process
    return *reaper;
  }

  // Across a fork and the hold that follows it; across a pass that reaps.
  std::shared_mutex starting;

  bool adoptOrphans() {
    std::lock_guard guard(lock_);
    if (adopting_) return true;
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return false;
    if (!startedLocked()) return false;
    childSignalFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (childSignalFd < 0) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kChildSignal;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, childSignalFd, &ev) != 0) return false;
    struct sigaction action {};
    action.sa_handler = &onChildSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    if (::sigaction(SIGCHLD, &action, nullptr) != 0) return false;
    adopting_ = true;
    // Whatever ended before the handler was there.
    onChildSignal(SIGCHLD);
    return true;
  }

  bool adopting() {
    std::lock_guard guard(lock_);
    return adopting_;
  }

  void hold(pid_t pid) {
    std::lock_guard guard(lock_);
    ++held_[pid];
  }

  void release(pid_t pid) {
    std::lock_guard guard(lock_);
    const auto it = held_.find(pid);
    if (it != held_.end() && --it->second <= 0) held_.erase(it);
  }

  void adopt(pid_t pid, int pidFd) {
    if (pidFd < 0) {
      // No pidfd on this kernel: a thread of its own waits for the child.
      std::thread([this, pid] {
        int status = 0;
        pid_t r;
        do {
          r = ::waitpid(pid, &status, 0);
        } while (r < 0 && errno == EINTR);
        if (r == pid) {
          std::lock_guard guard(lock_);
          recordLocked(pid, status, 0);
        }
      }).detach();
      return;
    }
    std::lock_guard guard(lock_);
    if (!startedLocked()) {
      ::close(pidFd);
      return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = (static_cast<uint64_t>(static_cast<uint32_t>(pidFd)) << 32) | static_cast<uint32_t>(pid);
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, pidFd, &ev) != 0) {
      ::close(pidFd);
      return;
    }
    detached_.insert(pid);
  }

  std::optional<int32_t> status(pid_t pid, int pidFd) {
    std::lock_guard guard(lock_);
    if (pidFd >= 0) {
      siginfo_t si{};
      if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidFd), &si, WEXITED | WNOHANG | WNOWAIT) ==
              0 &&
          si.si_pid != 0)
        return statusOf(si);
    }
    pruneLocked();
    const auto it = reaped_.find(pid);
    if (it == reaped_.end()) return std::nullopt;
    // The number may belong to another process by now: the kept status
    // answers only for a pidfd of the child it was kept for, where pidfds
    // tell.
    if (pidFd >= 0 && it->second.identity != 0 && identityOf(pidFd) != it->second.identity) return std::nullopt;
    return it->second.status;
  }

  void endThread() {
    std::thread thread;
    {
      std::lock_guard guard(lock_);
      if (!thread_.joinable() || stopFd_ < 0) return;
      const uint64_t one = 1;
      (void)!::write(stopFd_, &one, sizeof one);
      thread = std::move(thread_);
    }
    thread.join();
  }

  std::vector<Child> claimOrphans(unsigned long long since) {
    // No pass reaps meanwhile, and no child is half-started.
    const std::unique_lock noStart(starting);
    std::vector<Child> claimed;
    for (const pid_t pid : ourChildren()) {
      const std::optional<ProcStat> stat = readProcStat(pid);
      if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->startTicks < since) continue;
      std::lock_guard guard(lock_);
      if (held_.contains(pid) || detached_.contains(pid)) continue;
      ++held_[pid];
      claimed.push_back({pid, stat->startTicks});
    }
    return claimed;
  }

 private:
  static constexpr uint64_t kChildSignal = ~uint64_t{0};
  static constexpr uint64_t kStop = ~uint64_t{0} - 1;
  static constexpr auto kKeep = std::chrono::seconds(60);

  struct Reaped {
    int32_t status;
    Clock::time_point at;
    ino_t identity = 0;  // see identityOf(); 0 when unknown
  };

  bool startedLocked() {
    if (epollFd_ >= 0) return true;
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0) return false;
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kStop;
    if (stopFd_ >= 0) ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd_, &ev);
    thread_ = std::thread([this] { run(); });
    return true;
  }

  void recordLocked(pid_t pid, int32_t status, ino_t identity) {
    pruneLocked();
    reaped_[pid] = {status, Clock::now(), identity};
  }

  void pruneLocked() {
    const auto now = Clock::now();
    std::erase_if(reaped_, [&](const auto& item) { return now - item.second.at > kKeep; });
  }

  // Reaps every child of ours that has ended and that nobody holds.
  void reapUnheld() {
    const std::unique_lock noStart(starting);
    for (const pid_t pid : ourChildren()) {
      std::lock_guard guard(lock_);
      if (held_.contains(pid)) continue;
      siginfo_t si{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &si, WEXITED | WNOHANG | WNOWAIT) != 0 || si.si_pid == 0) continue;
      const int pidFd = pidfdOpen(pid);
      const ino_t identity = identityOf(pidFd);
      if (pidFd >= 0) ::close(pidFd);
      si = {};
      if (::waitid(P_PID, static_cast<id_t>(pid), &si, WEXITED | WNOHANG) == 0 && si.si_pid == pid)
        recordLocked(pid, statusOf(si), identity);
    }
  }

  void run() {
    ::pthread_setname_np(::pthread_self(), "TLR.reaper");
    epoll_event events[16];
    while (true) {
      const int n = ::epoll_wait(epollFd_, events, 16, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;
      }
      bool childSignal = false;
      for (int i = 0; i < n; ++i) {
        if (events[i].data.u64 == kStop) return;
        if (events[i].data.u64 == kChildSignal) {
          uint64_t count = 0;
          (void)!::read(childSignalFd, &count, sizeof count);
          childSignal = true;
          continue;
        }
        const int pidFd = static_cast<int>(events[i].data.u64 >> 32);
        const pid_t pid = static_cast<pid_t>(events[i].data.u64 & 0xFFFFFFFFu);
        std::lock_guard guard(lock_);
        siginfo_t si{};
        if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidFd), &si, WEXITED | WNOHANG) == 0 &&
            si.si_pid != 0)
          recordLocked(pid, statusOf(si), identityOf(pidFd));
        // Reaped now or by someone else already: either way it is done with.
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, pidFd, nullptr);
        ::close(pidFd);
        detached_.erase(pid);
      }
      if (childSignal) reapUnheld();
    }
  }

  std::mutex lock_;
  int epollFd_ = -1;
  int stopFd_ = -1;
  std::thread thread_;  // the reaper's, until endThread()
  bool adopting_ = false;
  std::unordered_map<pid_t, Reaped> reaped_;
  std::unordered_map<pid_t, int> held_;
  std::unordered_set<pid_t> detached_;
};

}  // namespace

bool adoptOrphans() { return Reaper::instance().adoptOrphans(); }
bool adoptsOrphans() { return Reaper::instance().adopting(); }

Starting::Starting() : lock_(Reaper::instance().starting) {}
Starting::~Starting() = default;

void hold(pid_t pid) { Reaper::instance().hold(pid); }
void release(pid_t pid) { Reaper::instance().release(pid); }
void adopt(pid_t pid, int pidFd) { Reaper::instance().adopt(pid, pidFd); }
std::optional<int32_t> exitStatus(pid_t pid, int pidFd) { return Reaper::instance().status(pid, pidFd); }
std::vector<Child> claimOrphans(unsigned long long since) { return Reaper::instance().claimOrphans(since); }
void endReaping() { Reaper::instance().endThread(); }

}  // namespace tlr::ChildReaper
