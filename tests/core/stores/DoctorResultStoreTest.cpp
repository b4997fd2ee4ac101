#include "core/stores/DoctorResultStore.h"



#include <gtest/gtest.h>

using tlr::DoctorResultStore;

namespace {

class DoctorResultStoreTest : public ::testing::Test {
 protected:
  QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
  DoctorResultStore store{[this] { return now; }};
  tlr::DoctorResult result;
};

}  // namespace

TEST_F(DoctorResultStoreTest, AnAgentWithoutAResultIsAlwaysDue) {
  store.noteAutoRunStarted("a");
  EXPECT_TRUE(store.shouldAutoRun("a"));
}

TEST_F(DoctorResultStoreTest, AResultWithoutAnAutomaticRunIsDue) {
  store.setResult("a", result);
  EXPECT_TRUE(store.shouldAutoRun("a"));
}

TEST_F(DoctorResultStoreTest, TheCooldownEndsAtExactlyThreeHundredSeconds) {
  store.noteAutoRunStarted("a");
  store.setResult("a", result);
  now = now.addSecs(299);
  EXPECT_FALSE(store.shouldAutoRun("a"));
  now = now.addMSecs(999);
  EXPECT_FALSE(store.shouldAutoRun("a"));
  now = now.addMSecs(1);
  EXPECT_TRUE(store.shouldAutoRun("a"));
}

TEST_F(DoctorResultStoreTest, AClockSetBackWaitsTheFullTimeAgain) {
  store.noteAutoRunStarted("a");
  store.setResult("a", result);
  now = now.addSecs(-100);
  EXPECT_FALSE(store.shouldAutoRun("a"));
  now = now.addSecs(399);
  EXPECT_FALSE(store.shouldAutoRun("a"));
  now = now.addSecs(1);
  EXPECT_TRUE(store.shouldAutoRun("a"));
}

TEST_F(DoctorResultStoreTest, ARunWithoutResultRemovesTheStoredOneAndMakesItDue) {
  int changed = 0;
  QObject::connect(&store, &DoctorResultStore::resultsChanged, [&] { ++changed; });
  store.noteAutoRunStarted("a");
  result.exitCode = 3;
  store.setResult("a", result);
  ASSERT_TRUE(store.result("a"));
  EXPECT_EQ(store.result("a")->exitCode, 3);
  EXPECT_FALSE(store.shouldAutoRun("a"));
  store.setResult("a", std::nullopt);
  EXPECT_FALSE(store.result("a"));
  EXPECT_TRUE(store.shouldAutoRun("a"));
  EXPECT_EQ(changed, 2);
  store.setResult("a", std::nullopt);  // nothing left to remove
  EXPECT_EQ(changed, 2);
}

TEST_F(DoctorResultStoreTest, RunningIdsAreObserved) {
  int changed = 0;
  QObject::connect(&store, &DoctorResultStore::runningIdsChanged, [&] { ++changed; });
  store.setRunning("a", true);
  store.setRunning("a", true);
  EXPECT_TRUE(store.runningIds().contains("a"));
  store.setRunning("a", false);
  EXPECT_TRUE(store.runningIds().isEmpty());
  EXPECT_EQ(changed, 2);
}

TEST_F(DoctorResultStoreTest, AnAutomaticRunIsNotStartedTwiceWhileTheFirstIsUnderWay) {
  ASSERT_TRUE(store.beginAutoRun("a"));
  EXPECT_TRUE(store.runningIds().contains("a"));
  ASSERT_TRUE(store.lastAutoRunAt("a"));
  // No result yet, so the cool-down alone would allow a second run.
  EXPECT_TRUE(store.shouldAutoRun("a"));
  EXPECT_FALSE(store.beginAutoRun("a"));
  EXPECT_TRUE(store.beginAutoRun("b"));  // other agents are not held up

  result.exitCode = 0;
  store.finishAutoRun("a", result);
  EXPECT_FALSE(store.runningIds().contains("a"));
  ASSERT_TRUE(store.result("a"));
  EXPECT_FALSE(store.beginAutoRun("a"));  // cooling down now
  now = now.addSecs(300);
  EXPECT_TRUE(store.beginAutoRun("a"));
}

TEST_F(DoctorResultStoreTest, AnAutomaticRunWithoutResultClearsTheStoredOneAndIsDueAgain) {
  store.setResult("a", result);
  ASSERT_TRUE(store.beginAutoRun("a"));
  store.finishAutoRun("a", std::nullopt);
  EXPECT_FALSE(store.result("a"));
  EXPECT_TRUE(store.runningIds().isEmpty());
  EXPECT_TRUE(store.beginAutoRun("a"));
}
