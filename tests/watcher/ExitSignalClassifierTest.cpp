#include "watcher/ExitSignalClassifier.h"

#include <gtest/gtest.h>

#include <csignal>

namespace tlr {
namespace {

using L = MemoryPressureLevel;
using I = ExitIntent;

struct Row {
  int status;
  L pressure;
  I intent;
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
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    int asked = 0;
    const ExitIntent intent = ExitSignalClassifier::classify(RawExitInfo{123, row.status}, [&] {
      ++asked;
      return row.pressure;
    });
    EXPECT_EQ(toString(intent), toString(row.intent));
    EXPECT_EQ(asked, (row.status & 0x7F) == SIGKILL ? 1 : 0);  // pressure is read for SIGKILL only
  }
}

}  // namespace
}  // namespace tlr
