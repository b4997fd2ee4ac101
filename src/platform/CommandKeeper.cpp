#include "platform/CommandKeeper.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tlr::CommandKeeper {
namespace {

// The signals a keeper lets pass by: what a command sends its own process
// group (a shell script's "kill 0"), or a terminal's hang-up, ends the
// command, never the keeper that holds its processes together.
constexpr int kKeeperIgnores[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM};

}  // namespace

int lifeLine() {
  static std::mutex lock;
  static pid_t owner = 0;
  static int readEnd = -1;
  std::lock_guard guard(lock);
  if (owner == ::getpid()) return readEnd;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  owner = ::getpid();
  readEnd = fds[0];  // the write end stays open, unseen, until we end
  return readEnd;
}

namespace {

struct KernelDirent {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

// SIGKILL to every child of this keeper; how many there were.
int killChildrenOfSelf() {
  const pid_t self = ::getpid();
  const int dir = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  int killed = 0;
  alignas(8) char entries[4096];
  while (true) {
    const long n = ::syscall(SYS_getdents64, dir, entries, sizeof entries);
    if (n <= 0) break;
    for (long offset = 0; offset < n;) {
      const auto* entry = reinterpret_cast<const KernelDirent*>(entries + offset);
      offset += entry->reclen;
      pid_t pid = 0;
      const char* c = entry->name;
      for (; *c >= '0' && *c <= '9'; ++c) pid = pid * 10 + (*c - '0');
      if (*c != '\0' || pid <= 0) continue;
      char path[32] = "/proc/";
      char digits[16];
      int length = 0;
      for (pid_t rest = pid; rest > 0; rest /= 10) digits[length++] = static_cast<char>('0' + rest % 10);
      int at = 6;
      while (length > 0) path[at++] = digits[--length];
      for (const char* tail = "/stat"; *tail;) path[at++] = *tail++;
      path[at] = '\0';
      const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char text[512];
      const ssize_t got = ::read(fd, text, sizeof text - 1);
      ::close(fd);
      if (got <= 0) continue;
      // "pid (comm) S ppid ...": the name may hold anything, so from its last ')'.
      const char* close = nullptr;
      for (ssize_t i = 0; i < got; ++i)
        if (text[i] == ')') close = text + i;
      if (!close || close + 4 >= text + got) continue;
      pid_t parent = 0;
      for (const char* d = close + 4; d < text + got && *d >= '0' && *d <= '9'; ++d) parent = parent * 10 + (*d - '0');
      if (parent == self && ::kill(pid, SIGKILL) == 0) ++killed;
    }
  }
  ::close(dir);
  return killed;
}

}  // namespace

bool become(pid_t parent, bool subreaper) {
  ::setpgid(0, 0);
  if (subreaper) ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
  for (const int s : kKeeperIgnores) ::signal(s, SIG_IGN);
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGCHLD);
  ::sigprocmask(SIG_SETMASK, &mask, nullptr);
  return ::getppid() == parent;
}

bool releaseCommand(pid_t keeper) {
  // It does not outlive its keeper (which leaves only once it has reaped
  // it, or once we are gone).
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != keeper) return false;
  for (const int s : kKeeperIgnores) ::signal(s, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  return true;
}

[[noreturn]] void keep(pid_t command, bool subreaper) {
  sigset_t children;
  sigemptyset(&children);
  sigaddset(&children, SIGCHLD);
  const int signals = ::signalfd(-1, &children, SFD_CLOEXEC | SFD_NONBLOCK);
  bool reported = false;
  while (true) {
    int status = 0;
    pid_t reaped;
    while ((reaped = ::waitpid(-1, &status, WNOHANG)) > 0) {
      if (reaped != command || reported) continue;
      (void)!::write(STDOUT_FILENO, &status, sizeof status);
      ::close(STDOUT_FILENO);
      reported = true;
    }
    if (reaped < 0 && errno == ECHILD) ::_exit(0);
    pollfd fds[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (::poll(fds, 2, signals < 0 ? 100 : -1) < 0) continue;
    if (fds[1].revents) {
      // We ended: so does the command, with everything it started.
      if (!subreaper) ::_exit(0);  // the command follows (PR_SET_PDEATHSIG)
      for (int round = 0; round < 10000; ++round) {
        killChildrenOfSelf();
        if (::waitpid(-1, nullptr, 0) < 0 && errno == ECHILD) break;
      }
      ::_exit(0);
    }
    signalfd_siginfo drained[8];
    while (signals >= 0 && ::read(signals, drained, sizeof drained) > 0) {
    }
  }
}


}  // namespace tlr::CommandKeeper
