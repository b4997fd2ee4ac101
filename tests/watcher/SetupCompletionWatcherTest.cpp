#include "watcher/SetupCompletionWatcher.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace tlr {
namespace {

using namespace std::chrono_literals;

class SetupCompletionWatcherTest : public ::testing::Test {
 protected:
  void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  // Lets a few polls go by.
  void pollSeveralTimes() {
    const int before = looks;
    test::waitUntil([&] { return looks >= before + 3; }, 1s);
  }

  QTemporaryDir dir;
  QString sentinel = dir.path() + "/tlr-setup-done-agent-1";
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 1h;
  int looks = 0;  // clock readings: one per poll after the start
  SetupCompletionWatcher watcher{SetupWatchTiming{10ms}, [this] {
                                   ++looks;
                                   return now;
                                 }};
};

TEST_F(SetupCompletionWatcherTest, ASentinelAppearingLaterCompletesOnceAndIsRemoved) {
  touch(sentinel);  // left from an earlier run: must not count
  int completed = 0;
  watcher.watch("agent", sentinel, 1800, [&] { ++completed; });
  EXPECT_FALSE(QFile::exists(sentinel));
  EXPECT_TRUE(watcher.activeWatchers().contains("agent"));
  pollSeveralTimes();
  EXPECT_EQ(completed, 0);

  touch(sentinel);
  ASSERT_TRUE(test::waitUntil([&] { return completed == 1; }, 2s));
  EXPECT_FALSE(QFile::exists(sentinel));
  EXPECT_TRUE(watcher.activeWatchers().isEmpty());
  touch(sentinel);
  pollSeveralTimes();
  EXPECT_EQ(completed, 1);
}

TEST_F(SetupCompletionWatcherTest, OnlyAPlainFileOfOursIsTheSentinel) {
  int completed = 0;
  watcher.watch("agent", sentinel, 1800, [&] { ++completed; });
  // What someone else may leave under the guessable name in /tmp.
  const QString other = dir.path() + "/elsewhere";
  touch(other);
  ASSERT_TRUE(QFile::link(other, sentinel));
  pollSeveralTimes();
  EXPECT_EQ(completed, 0) << "a link";
  QFile::remove(sentinel);
  touch(sentinel);
  if (::chown(QFile::encodeName(sentinel).constData(), 65534, 65534) == 0) {
    pollSeveralTimes();
    EXPECT_EQ(completed, 0) << "another user's file";
    QFile::remove(sentinel);
    touch(sentinel);
  }
  ASSERT_TRUE(test::waitUntil([&] { return completed == 1; }, 2s));
  EXPECT_TRUE(QFile::exists(other));
}

TEST_F(SetupCompletionWatcherTest, TheWatchGivesUpAtItsDeadlineWithoutCompleting) {
  int completed = 0;
  watcher.watch("agent", sentinel, 1800, [&] { ++completed; });
  now += 1799s;
  pollSeveralTimes();
  EXPECT_TRUE(watcher.activeWatchers().contains("agent")) << "still before the deadline";
  now += 1s;
  ASSERT_TRUE(test::waitUntil([&] { return watcher.activeWatchers().isEmpty(); }, 2s));
  touch(sentinel);
  pollSeveralTimes();
  EXPECT_EQ(completed, 0);
}

TEST_F(SetupCompletionWatcherTest, ANonPositiveTimeOutEndsAtOnce) {
  for (int timeout : {0, -5}) {
    bool completed = false;
    touch(sentinel);
    watcher.watch("agent", sentinel, timeout, [&] { completed = true; });
    EXPECT_TRUE(watcher.activeWatchers().isEmpty());
    EXPECT_FALSE(completed);
  }
}

TEST_F(SetupCompletionWatcherTest, ASecondWatchOfTheSameAgentIsIgnoredWhileTheFirstRuns) {
  const QString second = dir.path() + "/tlr-setup-done-agent-2";
  QStringList calls;
  watcher.watch("agent", sentinel, 1800, [&] { calls << "first"; });
  watcher.watch("agent", second, 1800, [&] { calls << "second"; });
  touch(second);
  pollSeveralTimes();
  EXPECT_TRUE(calls.isEmpty());
  EXPECT_TRUE(QFile::exists(second)) << "the ignored watch did not even clear its file";

  touch(sentinel);
  ASSERT_TRUE(test::waitUntil([&] { return !calls.isEmpty(); }, 2s));
  EXPECT_EQ(calls, QStringList{"first"});

  // Once it has ended, a new watch starts normally.
  watcher.watch("agent", second, 1800, [&] { calls << "again"; });
  EXPECT_FALSE(QFile::exists(second));
  touch(second);
  ASSERT_TRUE(test::waitUntil([&] { return calls.size() == 2; }, 2s));
  EXPECT_EQ(calls.last(), "again");
}

}  // namespace
}  // namespace tlr
