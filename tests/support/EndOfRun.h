#pragma once

#include "platform/BackgroundThreads.h"

#include <chrono>
#include <cstdio>

namespace tlr::test {

// The end of a test executable's main, as the application's: work still
// running off the window thread (a look-up a sheet started as it opened) is
// cancelled, and every thread of ours has ended (the pool's, whose
// thread-local data such as the font caches of those that drew goes with
// them; the settings' writer; the reaper) before the process's static
// objects go. A thread of ours that still runs then fails the run: one
// that outlived exit corrupted the heap as the statics went ("corrupted
// double-linked list" after a test had passed).
inline int endOfRun(int result) {
  tlr::BackgroundThreads::endAll(std::chrono::steady_clock::now() + std::chrono::seconds(5));
  const QStringList left = tlr::BackgroundThreads::stillRunning();
  if (left.isEmpty()) return result;
  std::fprintf(stderr, "Threads of ours still run at exit: %s\n", left.join(QStringLiteral(", ")).toUtf8().constData());
  return 1;
}

}  // namespace tlr::test
