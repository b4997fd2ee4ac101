#pragma once

#include "platform/BackgroundThreads.h"
#include "support/RunFolder.h"

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
// double-linked list" after a test had passed). What the tests left in the
// run's temporary folder fails the run too, named with the first paths
// inside it: a test's work that outlived its home, or a temporary file a
// test forgot.
inline int endOfRun(int result, const RunFolder& folder) {
  tlr::BackgroundThreads::endAll(std::chrono::steady_clock::now() + std::chrono::seconds(5));
  const QStringList left = tlr::BackgroundThreads::stillRunning();
  if (!left.isEmpty()) {
    std::fprintf(stderr, "Threads of ours still run at exit: %s\n", left.join(QStringLiteral(", ")).toUtf8().constData());
    result = 1;
  }
  const QStringList behind = folder.leftBehind();
  if (!behind.isEmpty()) {
    std::fprintf(stderr, "Left behind in the run's temporary folder %s: %s\n", folder.path().toUtf8().constData(),
                 behind.join(QStringLiteral(", ")).toUtf8().constData());
    result = 1;
  }
  return result;
}

}  // namespace tlr::test
