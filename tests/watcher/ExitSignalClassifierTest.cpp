#include "watcher/ExitSignalClassifier.h"

#include <gtest/gtest.h>

#include <csignal>

namespace tlr {
namespace {

using L = MemoryPressureLevel;
using I = ExitIntent;

constexpr uint64_t ours(int signal) { return uint64_t{1} << signal; }

struct Row {
  int status;
  L pressure;
  I intent;
  // Signals we sent the process just before it ended.
  uint64_t sent = 0;
};

TEST(ExitSignalClassifier, JudgesEveryWaitStatus) {
  const Row rows[] = {
      {0, L::unknown, I::normalExit},
      {1 << 8, L::unknown, I::abnormalExit},
      {3 << 8, L::unknown, I::abnormalExit},
      {0xFF00, L::unknown, I::abnormalExit},
      {SIGHUP, L::unknown, I::normalExit},
      {SIGINT, L::unknown, I::normalExit},
      {SIGQUIT, L::unknown, I::normalExit},
      {SIGTERM, L::unknown, I::normalExit},
      {SIGILL, L::unknown, I::crash},
      {SIGTRAP, L::unknown, I::crash},
      {SIGABRT, L::unknown, I::crash},
      {SIGFPE, L::unknown, I::crash},
      {SIGBUS, L::unknown, I::crash},
      {SIGSEGV, L::unknown, I::crash},
      {SIGSEGV | 0x80, L::unknown, I::crash},  // with a core dump
      {SIGSYS, L::unknown, I::crash},
      {SIGKILL, L::none, I::forceKilled},
      {SIGKILL, L::normal, I::oom},
      {SIGKILL, L::warning, I::oom},
      {SIGKILL, L::critical, I::oom},
      {SIGKILL, L::unknown, I::forceKilled},
      {SIGPIPE, L::unknown, I::unknown},
      {SIGALRM, L::unknown, I::unknown},
      {SIGUSR1, L::unknown, I::unknown},
      {SIGUSR2, L::unknown, I::unknown},
      {30, L::unknown, I::unknown},
      {126, L::unknown, I::unknown},
      {0x137F, L::unknown, I::abnormalExit},  // the stopped encoding
      {0x007F, L::unknown, I::normalExit},
      // After our own signal n, an exit code of 128 + n is that signal.
      {143 << 8, L::unknown, I::abnormalExit},
      {143 << 8, L::unknown, I::normalExit, ours(SIGTERM)},
      {129 << 8, L::unknown, I::normalExit, ours(SIGHUP)},
      {130 << 8, L::unknown, I::normalExit, ours(SIGINT) | ours(SIGTERM)},
      {130 << 8, L::unknown, I::abnormalExit, ours(SIGTERM)},  // answers no signal of ours
      {137 << 8, L::critical, I::forceKilled, ours(SIGTERM) | ours(SIGKILL)},
      {SIGKILL, L::critical, I::forceKilled, ours(SIGTERM) | ours(SIGKILL)},
      {0, L::critical, I::forceKilled, ours(SIGKILL)},
      {SIGKILL, L::normal, I::oom, ours(SIGTERM)},
      {SIGTERM, L::unknown, I::normalExit, ours(SIGTERM)},
      // A crash of its own stays a crash.
      {SIGSEGV, L::unknown, I::crash, ours(SIGTERM) | ours(SIGKILL)},
      {139 << 8, L::unknown, I::abnormalExit, ours(SIGTERM)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    SCOPED_TRACE(row.sent);
    int asked = 0;
    auto pressure = [&] {
      ++asked;
      return row.pressure;
    };
    const ExitIntent intent = row.sent ? ExitSignalClassifier::classify(RawExitInfo{123, row.status}, row.sent, pressure)
                                       : ExitSignalClassifier::classify(RawExitInfo{123, row.status}, pressure);
    EXPECT_EQ(toString(intent), toString(row.intent));
    // Pressure is read for a SIGKILL that is not ours only.
    EXPECT_EQ(asked, (row.status & 0x7F) == SIGKILL && !(row.sent & ours(SIGKILL)) ? 1 : 0);
  }
}

}  // namespace
}  // namespace tlr
