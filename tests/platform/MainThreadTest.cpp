#include "platform/MainThread.h"

#include "support/TestSupport.h"


#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(MainThreadHandoff, AWorkerGetsItsCallRunOnTheMainThread) {
  std::atomic<bool> onMain{false};
  std::atomic<int> answer{-1};
  std::thread worker([&] { answer = tlr::runOnMainAndWait([&] { onMain = tlr::isMainThread(); }) ? 1 : 0; });
  EXPECT_TRUE(tlr::test::waitUntil([&] { return answer != -1; }));
  worker.join();
  EXPECT_EQ(answer, 1);
  EXPECT_TRUE(onMain);
}

TEST(MainThreadHandoff, QuittingWhileAWorkerWaitsEndsTheProcess) {
  const tlr::test::ProgramRun tool = tlr::test::runProgram(tlr::test::toolPath("tlr_main_wait_tool"), {});
  ASSERT_TRUE(tool.failure.isEmpty()) << tool.failure.toStdString() << ": the teardown and the waiting worker held each other?";
  EXPECT_EQ(tool.exitCode, 0);
  const QString out = QString::fromUtf8(tool.out);
  // Either the main thread served the call before quitting, or the worker
  // gave up and the call never ran; never a call that ran after giving up.
  EXPECT_TRUE(out == "answer=0 ran=0\n" || out == "answer=1 ran=1\n") << out.toStdString();
}

// The exit watcher's thread hands every exit to the main thread while pool
// threads hand over their results: none of them may wait for another.
TEST(MainThreadHandoff, NoThreadWaitsForAnotherHeldInItsHandoff) {
  auto held = std::make_unique<tlr::test::HeldHandoff>();
  ASSERT_TRUE(held->holding());

  std::atomic<int> ran{0};
  std::atomic<int> finished{0};
  std::atomic<bool> sawMain{true};
  std::thread other([&] {
    sawMain = tlr::isMainThread();
    tlr::runOnMain([&] { ++ran; });
    ++finished;
    if (tlr::runOnMainAndWait([&] { ++ran; })) ++finished;
  });
  // The main thread serves its queue meanwhile.
  const bool served = tlr::test::waitUntil([&] { return finished == 2 && ran == 2; }, std::chrono::seconds(10));
  held.reset();
  tlr::test::waitUntil([&] { return finished == 2; });  // its call waits for this thread's queue
  other.join();
  EXPECT_TRUE(served) << "a handoff waited for the held one: " << finished << " of 2 returned, " << ran << " ran";
  EXPECT_FALSE(sawMain);
  EXPECT_TRUE(tlr::isMainThread());
}
