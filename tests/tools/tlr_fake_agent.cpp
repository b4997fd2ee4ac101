// A stand-in agent process that runs until a signal ends it:
//   tlr_fake_agent                 default signal actions
//   tlr_fake_agent ignore-term     SIGTERM is ignored (only SIGKILL ends it)
//   tlr_fake_agent usr1-exits      SIGUSR1 makes it exit with status 0
//   tlr_fake_agent catches-term    SIGHUP, SIGINT and SIGTERM make it exit with
//                                  128 + the signal, as shells and runtimes do
//   tlr_fake_agent exits-soon      exits with status 1 0.7 s after it started, as an agent
//                                  without a network does
//   tlr_fake_agent doctor          a doctor that needs a terminal: it starts a
//                                  helper of its own (which leaves for a session
//                                  of its own and ends with it), and without a terminal on its
//                                  standard input and output both wait for ever
//   tlr_fake_agent spin            keeps one core busy instead of sleeping
//   tlr_fake_agent thread-sleeps   a second thread sleeps; the first ends at a
//                                  line on standard input, and the process runs
//                                  on with it ended (a zombie to /proc, as a
//                                  process is for a moment while its threads
//                                  end), until a signal ends it
//   tlr_fake_agent --help          prints a usage and exits with status 0, as
//                                  the real tools do
//   tlr_fake_agent -p PROMPT       a one-shot print run that fails: exits with
//                                  status 1 after 4.5 s, as `claude -p` without
//                                  a network does
//   tlr_fake_agent --continue      continues the folder's last session, as
//                                  `claude --continue` does: without a file
//                                  ".tlr-conversation" in its working folder it
//                                  says "No conversation found to continue"
//                                  and exits with status 1 at once; with one it
//                                  runs on
//   tlr_fake_agent untrusted       asks whether the folder is trusted and is
//                                  told "No, exit" 5 s later: exits with
//                                  status 1, as Claude Code does
// With FAKE_AGENT_FAILS_AFTER_MS set (whatever the arguments: a one-shot
// shaped as the real tool's, `codex -m o3 exec …`), it writes "Not inside a
// trusted directory" to standard error and exits with status 1 after that
// many milliseconds, as `codex exec` and `codex review` do.
// Tests copy it under a unique name, which the registry then recognises.
// When FAKE_AGENT_PID_LEDGER names a file, the process appends its pid and
// its start time (in clock ticks since boot, as /proc gives it) to it as one
// line first, so a test can find (and end) every copy that was started, also
// those that the application under test started, and never a later process
// that got the number of one that has ended.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void exitCleanly(int) { ::_exit(0); }
void exitAsAShellDoes(int signal) { ::_exit(128 + signal); }

// This process's start time in clock ticks since boot: field 22 of
// /proc/self/stat, counted after the command name (which may hold blanks and
// parentheses: it ends at the last ')').
unsigned long long ownStartTicks() {
  unsigned long long startTicks = 0;
  if (FILE* stat = std::fopen("/proc/self/stat", "re")) {
    char text[1024];
    const size_t n = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    text[n] = '\0';
    if (const char* p = std::strrchr(text, ')')) {
      for (int field = 2; field < 22 && p; ++field) p = std::strchr(p + 1, ' ');
      if (p) startTicks = std::strtoull(p + 1, nullptr, 10);
    }
  }
  return startTicks;
}

// Sleeps until `milliseconds` after the process started (not after it got
// this far: on a busy machine that can be a good part of a second later).
void sleepUntilAge(long milliseconds) {
  double uptime = 0;
  if (FILE* file = std::fopen("/proc/uptime", "re")) {
    if (std::fscanf(file, "%lf", &uptime) != 1) uptime = 0;
    std::fclose(file);
  }
  const long ticks = ::sysconf(_SC_CLK_TCK);
  long age = 0;
  if (uptime > 0 && ticks > 0)
    age = static_cast<long>((uptime - static_cast<double>(ownStartTicks()) / static_cast<double>(ticks)) * 1000.0);
  if (age < milliseconds) ::usleep(static_cast<useconds_t>(milliseconds - std::max(age, 0L)) * 1000);
}

void recordPid() {
  const char* ledger = std::getenv("FAKE_AGENT_PID_LEDGER");
  if (ledger == nullptr || *ledger == '\0') return;
  const int fd = ::open(ledger, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const unsigned long long startTicks = ownStartTicks();
  char line[64];
  const int length =
      std::snprintf(line, sizeof line, "%d %llu\n", static_cast<int>(::getpid()), startTicks);
  // One short append: lines of concurrent writers never interleave.
  if (length > 0 && ::write(fd, line, static_cast<size_t>(length)) != length) std::perror("pid ledger");
  ::close(fd);
}

bool modeIs(int argc, char** argv, const char* mode) { return argc > 1 && std::strcmp(argv[1], mode) == 0; }

}  // namespace

int main(int argc, char** argv) {
  // A fault signal should end it at once, without writing a core file.
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  if (modeIs(argc, argv, "ignore-term")) std::signal(SIGTERM, SIG_IGN);
  if (modeIs(argc, argv, "usr1-exits")) std::signal(SIGUSR1, exitCleanly);
  if (modeIs(argc, argv, "catches-term"))
    for (const int signal : {SIGHUP, SIGINT, SIGTERM}) std::signal(signal, exitAsAShellDoes);
  recordPid();
  if (modeIs(argc, argv, "--help")) {
    const char* slash = std::strrchr(argv[0], '/');
    std::printf("Usage: %s [options] [command] [prompt]\n\nOptions:\n  -h, --help  Display help for command\n",
                slash != nullptr ? slash + 1 : argv[0]);
    return 0;
  }
  if (modeIs(argc, argv, "doctor")) {
    const bool terminal = ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
    const pid_t helper = ::fork();
    if (helper == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::setsid();
      if (terminal) ::_exit(0);
      while (true) ::pause();
    }
    if (terminal) {
      ::waitpid(helper, nullptr, 0);
      std::puts("All checks passed");
      return 0;
    }
  }
  if (const char* after = std::getenv("FAKE_AGENT_FAILS_AFTER_MS"); after != nullptr && *after != '\0') {
    ::usleep(static_cast<useconds_t>(std::atoi(after)) * 1000);
    std::fputs("Not inside a trusted directory and --skip-git-repo-check was not specified.\n", stderr);
    return 1;
  }
  if (modeIs(argc, argv, "exits-soon")) {
    sleepUntilAge(700);
    return 1;
  }
  if (modeIs(argc, argv, "--continue") && ::access(".tlr-conversation", F_OK) != 0) {
    std::puts("No conversation found to continue");
    return 1;
  }
  if (modeIs(argc, argv, "untrusted")) {
    std::puts("Do you trust the files in this folder?\n  1. Yes, proceed\n> 2. No, exit");
    std::fflush(stdout);
    ::usleep(5000 * 1000);
    std::puts("Claude Code didn't start because this folder isn't trusted");
    return 1;
  }
  if (modeIs(argc, argv, "-p")) {
    ::usleep(4500 * 1000);
    return 1;
  }
  if (modeIs(argc, argv, "thread-sleeps")) {
    std::thread([] {
      while (true) ::pause();
    }).detach();
    char line[64];
    (void)!std::fgets(line, sizeof line, stdin);
    ::pthread_exit(nullptr);
  }
  if (modeIs(argc, argv, "spin")) {
    volatile unsigned long counter = 0;
    while (true) counter = counter + 1;
  }
  while (true) ::pause();
}
