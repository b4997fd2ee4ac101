// A process that ends the way the test asks, once it reads a line on its
// standard input (or at end of input):
//   tlr_exit_tool exit <code> | segv | abort | term | sleep
//   tlr_exit_tool spawn <action...>   runs the action in a grandchild, prints
//                                     its pid, reaps it, then exits 0.
//   tlr_exit_tool hold <action...>    the same, but never reaps the grandchild:
//                                     it stays a zombie until this tool ends.
//   tlr_exit_tool late <ms> <action...>  the same as spawn, but reaps the
//                                     grandchild only <ms> after it ended.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void act(int argc, char** argv) {
  char line[64];
  if (std::strcmp(argv[0], "sleep") == 0) {
    while (true) ::pause();
  }
  (void)!std::fgets(line, sizeof line, stdin);
  if (std::strcmp(argv[0], "exit") == 0 && argc > 1) ::_exit(std::atoi(argv[1]));
  if (std::strcmp(argv[0], "segv") == 0) ::raise(SIGSEGV);
  if (std::strcmp(argv[0], "abort") == 0) ::raise(SIGABRT);
  if (std::strcmp(argv[0], "term") == 0) ::raise(SIGTERM);
  ::_exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  // Core files would only slow the faults down.
  std::signal(SIGSEGV, SIG_DFL);
  if (std::strcmp(argv[1], "spawn") == 0 && argc > 2) {
    const pid_t child = ::fork();
    if (child == 0) act(argc - 2, argv + 2);
    std::printf("%d\n", child);
    std::fflush(stdout);
    int status = 0;
    ::waitpid(child, &status, 0);
    return 0;
  }
  if (std::strcmp(argv[1], "late") == 0 && argc > 3) {
    const pid_t child = ::fork();
    if (child == 0) act(argc - 3, argv + 3);
    std::printf("%d\n", child);
    std::fflush(stdout);
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);  // ended, not reaped
    ::usleep(static_cast<useconds_t>(std::atoi(argv[2])) * 1000);
    int status = 0;
    ::waitpid(child, &status, 0);
    return 0;
  }
  if (std::strcmp(argv[1], "hold") == 0 && argc > 2) {
    const pid_t child = ::fork();
    if (child == 0) act(argc - 2, argv + 2);
    std::printf("%d\n", child);
    std::fflush(stdout);
    while (true) ::pause();
  }
  act(argc - 1, argv + 1);
}
