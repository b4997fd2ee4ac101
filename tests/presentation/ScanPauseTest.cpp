// The count of modal runs that holds the scan.
#include "presentation/ScanPause.h"

#include <gtest/gtest.h>

using namespace tlr;

TEST(ScanPauseCounter, NestedRunsResumeOnlyWhenTheLastEnds) {
  ScanPause pause;
  int paused = 0, resumed = 0;
  QObject::connect(&pause, &ScanPause::paused, [&] { ++paused; });
  QObject::connect(&pause, &ScanPause::resumed, [&] { ++resumed; });
  {
    ModalRun outer(pause);
    {
      ModalRun inner(pause);
      EXPECT_EQ(pause.depth(), 2);
    }
    EXPECT_TRUE(pause.isPaused());
    EXPECT_EQ(resumed, 0);
  }
  EXPECT_EQ(paused, 1);
  EXPECT_EQ(resumed, 1);
  pause.leave();  // an unbalanced leave is harmless
  EXPECT_EQ(pause.depth(), 0);
  EXPECT_EQ(resumed, 1);
}
