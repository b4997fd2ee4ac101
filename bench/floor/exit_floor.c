// The floor for an exit notice: the least a watcher on this machine can do.
// Reads "<pid>\n" lines on standard input, holds a pidfd for each in one
// epoll set, and writes "<pid>\n" to standard output the moment one exits.
// Nothing else: no exit status, no lookup, no second thread. Like the
// application's exit watcher it asks the scheduler for turns of 0.1 ms
// (Linux 6.12 and later), which any process may.
//   bench/floor/exit_floor            (driven by bench/exit-bench)
//   bench/floor/exit_floor <fd>       also reads the application's output
//       from the descriptor <fd>, in the same epoll set, and stamps both:
//       "f <seconds> <pid>" for an exit it saw, "a <seconds> <line>" for a
//       line of the application's, <seconds> being CLOCK_MONOTONIC when the
//       wait that found it returned. Both sides are then timed by one small
//       process waiting for either, not by the bench's own loop, whose work
//       and scheduling would otherwise count against whichever line it read
//       second.
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#define APP_KEY UINT64_MAX

static int pidfd_open_(pid_t pid) { return (int)syscall(SYS_pidfd_open, pid, 0); }

static void say(const char* text, size_t n) {
  while (n > 0) {
    ssize_t w = write(STDOUT_FILENO, text, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) exit(1);
    text += w;
    n -= (size_t)w;
  }
}

// Short turns, as the application's exit watcher asks for (its
// askForShortTurns()): the normal policy, the niceness kept.
static void ask_for_short_turns(void) {
  struct {
    uint32_t size, policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime, deadline, period;
  } attr;
  memset(&attr, 0, sizeof attr);
  if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 || attr.policy != 0) return;
  int32_t nice = attr.nice;
  memset(&attr, 0, sizeof attr);
  attr.size = sizeof attr;
  attr.nice = nice;
  attr.runtime = 100000;
  syscall(SYS_sched_setattr, 0, &attr, 0);
}

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// The application's output: whole lines go out stamped, a partial one waits.
static char app_line[65536];
static size_t app_have = 0;

static int read_app(int fd, double at) {
  ssize_t r = read(fd, app_line + app_have, sizeof app_line - app_have - 1);
  if (r < 0 && (errno == EINTR || errno == EAGAIN)) return 1;
  if (r <= 0) return 0;
  app_have += (size_t)r;
  char* start = app_line;
  char* nl;
  while ((nl = memchr(start, '\n', (size_t)(app_line + app_have - start))) != NULL) {
    char stamp[48];
    say(stamp, (size_t)snprintf(stamp, sizeof stamp, "a %.6f ", at));
    say(start, (size_t)(nl - start) + 1);
    start = nl + 1;
  }
  app_have = (size_t)(app_line + app_have - start);
  if (app_have == sizeof app_line - 1) app_have = 0;  // a line longer than the buffer is dropped
  memmove(app_line, start, app_have);
  return 1;
}

int main(int argc, char** argv) {
  ask_for_short_turns();
  int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return 1;
  struct epoll_event in = {.events = EPOLLIN, .data.u64 = 0};
  if (epoll_ctl(ep, EPOLL_CTL_ADD, STDIN_FILENO, &in) != 0) return 1;
  int app = argc > 1 ? atoi(argv[1]) : -1;
  if (app >= 0) {
    struct epoll_event out = {.events = EPOLLIN, .data.u64 = APP_KEY};
    if (epoll_ctl(ep, EPOLL_CTL_ADD, app, &out) != 0) return 1;
  }
  char pending[4096];
  size_t have = 0;
  for (;;) {
    struct epoll_event events[64];
    int n = epoll_wait(ep, events, 64, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 1;
    const double at = app >= 0 ? now() : 0;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == APP_KEY) {
        if (!read_app(app, at)) {
          epoll_ctl(ep, EPOLL_CTL_DEL, app, NULL);
          close(app);
          app = -2;  // ended; exits are still stamped
        }
        continue;
      }
      if (events[i].data.u64 == 0) {
        ssize_t r = read(STDIN_FILENO, pending + have, sizeof pending - have - 1);
        if (r <= 0) return 0;  // the bench is done
        have += (size_t)r;
        char* start = pending;
        char* nl;
        while ((nl = memchr(start, '\n', (size_t)(pending + have - start))) != NULL) {
          *nl = '\0';
          pid_t pid = (pid_t)atoi(start);
          int fd = pid > 0 ? pidfd_open_(pid) : -1;
          if (fd >= 0) {
            struct epoll_event ev = {.events = EPOLLIN, .data.u64 = ((uint64_t)(unsigned)fd << 32) | (unsigned)pid};
            if (epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) != 0) close(fd);
          } else {
            char line[32];
            say(line, (size_t)snprintf(line, sizeof line, "gone %d\n", pid));
          }
          start = nl + 1;
        }
        have = (size_t)(pending + have - start);
        memmove(pending, start, have);
        continue;
      }
      pid_t pid = (pid_t)(events[i].data.u64 & 0xFFFFFFFFu);
      int fd = (int)(events[i].data.u64 >> 32);
      char line[64];
      if (app == -1)
        say(line, (size_t)snprintf(line, sizeof line, "%d\n", pid));
      else
        say(line, (size_t)snprintf(line, sizeof line, "f %.6f %d\n", at, pid));
      close(fd);  // leaves the epoll set with it
    }
  }
}
