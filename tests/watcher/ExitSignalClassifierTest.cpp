#include "watcher/ExitSignalClassifier.h"

#include <gtest/gtest.h>

#include <csignal>

namespace tlr {
namespace {

using I = ExitIntent;

constexpr uint64_t ours(int signal) { return uint64_t{1} << signal; }

// Whether the kernel counted an out-of-memory kill.
constexpr bool kCounted = true;
constexpr bool kNone = false;

struct Row {
  int status;
  bool oomCounted;
  I intent;
  // Signals we sent the process just before it ended.
  uint64_t sent = 0;
};

TEST(ExitSignalClassifier, JudgesEveryWaitStatus) {
  const Row rows[] = {
      {0, kNone, I::normalExit},
      {1 << 8, kNone, I::abnormalExit},
      {3 << 8, kNone, I::abnormalExit},
      {0xFF00, kNone, I::abnormalExit},
      {SIGHUP, kNone, I::normalExit},
      {SIGINT, kNone, I::normalExit},
      {SIGQUIT, kNone, I::normalExit},
      {SIGTERM, kNone, I::normalExit},
      {SIGILL, kNone, I::crash},
      {SIGTRAP, kNone, I::crash},
      {SIGABRT, kNone, I::crash},
      {SIGFPE, kNone, I::crash},
      {SIGBUS, kNone, I::crash},
      {SIGSEGV, kNone, I::crash},
      {SIGSEGV | 0x80, kNone, I::crash},  // with a core dump
      {SIGSYS, kNone, I::crash},
      // Only a kill the kernel counted is out of memory, whatever the pressure.
      {SIGKILL, kNone, I::forceKilled},
      {SIGKILL, kCounted, I::oom},
      {SIGKILL | 0x80, kCounted, I::oom},
      {SIGPIPE, kNone, I::unknown},
      {SIGALRM, kNone, I::unknown},
      {SIGUSR1, kNone, I::unknown},
      {SIGUSR2, kNone, I::unknown},
      {30, kNone, I::unknown},
      {126, kNone, I::unknown},
      {0x137F, kNone, I::abnormalExit},  // the stopped encoding
      {0x007F, kNone, I::normalExit},
      // After our own signal n, an exit code of 128 + n is that signal.
      {143 << 8, kNone, I::abnormalExit},
      {143 << 8, kNone, I::normalExit, ours(SIGTERM)},
      {129 << 8, kNone, I::normalExit, ours(SIGHUP)},
      {130 << 8, kNone, I::normalExit, ours(SIGINT) | ours(SIGTERM)},
      {130 << 8, kNone, I::abnormalExit, ours(SIGTERM)},  // answers no signal of ours
      {137 << 8, kCounted, I::forceKilled, ours(SIGTERM) | ours(SIGKILL)},
      {SIGKILL, kCounted, I::forceKilled, ours(SIGTERM) | ours(SIGKILL)},
      {0, kCounted, I::forceKilled, ours(SIGKILL)},
      {SIGKILL, kCounted, I::oom, ours(SIGTERM)},
      {SIGTERM, kNone, I::normalExit, ours(SIGTERM)},
      // A crash of its own stays a crash.
      {SIGSEGV, kNone, I::crash, ours(SIGTERM) | ours(SIGKILL)},
      {139 << 8, kNone, I::abnormalExit, ours(SIGTERM)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    SCOPED_TRACE(row.sent);
    int asked = 0;
    auto counted = [&] {
      ++asked;
      return row.oomCounted;
    };
    const ExitIntent intent = row.sent ? ExitSignalClassifier::classify(RawExitInfo{123, row.status}, row.sent, counted)
                                       : ExitSignalClassifier::classify(RawExitInfo{123, row.status}, counted);
    EXPECT_EQ(toString(intent), toString(row.intent));
    // The kernel's count is asked for a SIGKILL that is not ours only.
    EXPECT_EQ(asked, (row.status & 0x7F) == SIGKILL && !(row.sent & ours(SIGKILL)) ? 1 : 0);
  }
}

}  // namespace
}  // namespace tlr
