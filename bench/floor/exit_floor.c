// The floor for an exit notice: the least a watcher on this machine can do.
// Reads "<pid>\n" lines on standard input, holds a pidfd for each in one
// epoll set, and writes "<pid>\n" to standard output the moment one exits.
// Nothing else: no exit status, no lookup, no second thread.
//   bench/floor/exit_floor  (driven by bench/exit-bench)
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <unistd.h>

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

int main(void) {
  int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return 1;
  struct epoll_event in = {.events = EPOLLIN, .data.u64 = 0};
  if (epoll_ctl(ep, EPOLL_CTL_ADD, STDIN_FILENO, &in) != 0) return 1;
  char pending[4096];
  size_t have = 0;
  for (;;) {
    struct epoll_event events[64];
    int n = epoll_wait(ep, events, 64, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 1;
    for (int i = 0; i < n; ++i) {
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
      char line[32];
      say(line, (size_t)snprintf(line, sizeof line, "%d\n", pid));
      close(fd);  // leaves the epoll set with it
    }
  }
}
