// The floor for the scan: the least a process finder on this machine can do.
// Every 4 seconds it lists /proc, reads each process's stat record (its name
// and parent) and, for a process whose name is one it looks for, its
// command line. After the given seconds it prints the processor time it used
// and exits.
//   bench/floor/proc_floor <seconds> [name...]   (driven by bench/idle-cost)
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

static long readSmall(const char* path, char* buf, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n = read(fd, buf, size - 1);
  close(fd);
  if (n < 0) return -1;
  buf[n] = '\0';
  return n;
}

static int scan(char** names, int count) {
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  int found = 0;
  struct dirent* e;
  char path[300], text[1024];
  while ((e = readdir(proc)) != NULL) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
    if (readSmall(path, text, sizeof text) <= 0) continue;
    char* open = strchr(text, '(');
    char* close = strrchr(text, ')');
    if (!open || !close) continue;
    *close = '\0';
    for (int i = 0; i < count; ++i) {
      if (strcmp(open + 1, names[i]) != 0) continue;
      snprintf(path, sizeof path, "/proc/%s/cmdline", e->d_name);
      if (readSmall(path, text, sizeof text) >= 0) ++found;
      break;
    }
  }
  closedir(proc);
  return found;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const double seconds = atof(argv[1]);
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  int found = 0;
  for (;;) {
    found = scan(argv + 2, argc - 2);
    clock_gettime(CLOCK_MONOTONIC, &now);
    double elapsed = (double)(now.tv_sec - start.tv_sec) + (double)(now.tv_nsec - start.tv_nsec) / 1e9;
    if (elapsed + 4 > seconds) break;
    struct timespec pause = {4, 0};
    while (nanosleep(&pause, &pause) != 0) {}
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = (double)usage.ru_utime.tv_sec + (double)usage.ru_stime.tv_sec +
                     ((double)usage.ru_utime.tv_usec + (double)usage.ru_stime.tv_usec) / 1e6;
  printf("%.6f %d\n", cpu, found);
  return 0;
}
