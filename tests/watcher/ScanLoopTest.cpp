#include "watcher/ScanLoop.h"

#include "platform/MainThread.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace tlr {
namespace {

using namespace std::chrono_literals;

// The window thread is held while the round runs: the round completes off
// it, and its result comes to the window thread once that is free again.
TEST(ScanLoop, ARoundRunsOffTheWindowThreadAndNeverOverlapsAnother) {
  std::atomic<int> rounds{0};
  std::atomic<bool> onWindowThread{false};
  std::promise<void> firstDone;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ScanLoop::Scan scan = [&, released] {
    if (isMainThread()) onWindowThread = true;
    if (++rounds == 1) {
      firstDone.set_value();
      // A round on the window thread would wait for itself.
      if (!onWindowThread) released.wait();
    }
    ScanLoop::Round round;
    round.installed.append(AgentEntry{});
    return round;
  };
  QList<int> delivered;
  ScanLoop loop(scan, [&](const ScanLoop::Round& round) {
    EXPECT_TRUE(isMainThread());
    delivered << static_cast<int>(round.installed.size());
  });

  loop.refresh();
  // Held here, on the window thread, until the round has run.
  ASSERT_EQ(firstDone.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(onWindowThread);
  EXPECT_TRUE(delivered.isEmpty());
  // Asked twice more while it runs: one more round follows, not two.
  loop.refresh();
  loop.refresh();
  release.set_value();
  ASSERT_TRUE(test::waitUntil([&] { return delivered.size() == 2 && !loop.isScanning(); }, 5s));
  test::finishOffMainWork();
  EXPECT_EQ(rounds, 2);
  EXPECT_EQ(delivered, (QList<int>{1, 1}));
}

}  // namespace
}  // namespace tlr
