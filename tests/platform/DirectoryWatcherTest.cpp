#include "platform/DirectoryWatcher.h"

#include "platform/MainThread.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using tlr::DirectoryWatcher;
using tlr::test::TempHome;
using tlr::test::waitUntil;

TEST(DirectoryWatching, CompletedArrivalsAndRemovalsAreToldOnTheMainThread) {
  TempHome home;
  const QString folder = home.path() + "/watched";
  QDir().mkpath(folder);
  DirectoryWatcher watcher;
  int notices = 0;
  bool onMain = true;
  ASSERT_TRUE(watcher.start(folder, [&] {
    ++notices;
    onMain = onMain && tlr::isMainThread();
  }));
  EXPECT_FALSE(watcher.start(folder, [] {})) << "one folder a watcher";

  home.writeFile("watched/report-hang.ips", "x");
  ASSERT_TRUE(waitUntil([&] { return notices >= 1; }));
  const int afterWrite = notices;
  QFile::remove(folder + "/report-hang.ips");
  ASSERT_TRUE(waitUntil([&] { return notices > afterWrite; }));
  EXPECT_TRUE(onMain);
}

TEST(DirectoryWatching, NoNoticeRunsAfterTheWatcherIsGone) {
  TempHome home;
  const QString folder = home.path() + "/watched";
  QDir().mkpath(folder);
  std::atomic<int> notices = 0;
  {
    DirectoryWatcher watcher;
    ASSERT_TRUE(watcher.start(folder, [&] { ++notices; }));
    home.writeFile("watched/a", "x");
    // Let the background thread queue its notice while the main loop does
    // not run; nothing can be waited for here, so this is a plain pause.
    QThread::msleep(100);
  }
  waitUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(notices.load(), 0);
}

TEST(DirectoryWatching, AMissingFolderCannotBeWatched) {
  TempHome home;
  DirectoryWatcher watcher;
  EXPECT_FALSE(watcher.start(home.path() + "/absent", [] {}));
  EXPECT_FALSE(watcher.isWatching());
}

TEST(DirectoryWatching, AFolderMadeAgainIsWatchedAgainAndToldAsAChange) {
  TempHome home;
  const QString folder = home.path() + "/state/app/watched";
  QDir().mkpath(folder);
  DirectoryWatcher watcher;
  int notices = 0;
  ASSERT_TRUE(watcher.start(folder, [&] { ++notices; }));

  ASSERT_TRUE(QDir(home.path() + "/state").removeRecursively());
  ASSERT_TRUE(waitUntil([&] { return notices >= 1; })) << "the removal is a change";
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(waitUntil([&] { return notices >= 2; })) << "so is the folder made again";
  const int before = notices;
  home.writeFile("state/app/watched/report-hang.ips", "x");
  EXPECT_TRUE(waitUntil([&] { return notices > before; })) << "and what arrives in it";
}
