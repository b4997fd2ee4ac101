#include "backup/BackupVolume.h"
#include "platform/DiskImage.h"
#include "platform/FileOps.h"
#include "platform/OffMain.h"
#include "platform/SerialWorker.h"
#include "support/MountCleanup.h"
#include "support/SpawnedChild.h"
#include "support/TestSupport.h"
#include "support/VolumeFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <thread>
#include <cstdio>
#include <unistd.h>

using tlr::BackupVolume;

namespace {

bool mountedAt(const QString& point) {
  for (const tlr::DiskImage::MountEntry& e : tlr::DiskImage::readMountInfo()) {
    if (e.mountPoint == point) return true;
  }
  return false;
}

// The processes below `root` (its children, theirs...), read from /proc.
QList<pid_t> descendantsOf(pid_t root) {
  QList<pid_t> found{root};
  for (qsizetype i = 0; i < found.size(); ++i) {
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      bool numeric = false;
      const pid_t pid = entry.toInt(&numeric);
      if (!numeric) continue;
      QFile stat("/proc/" + entry + "/stat");
      if (!stat.open(QIODevice::ReadOnly)) continue;
      const QByteArray text = stat.readAll();
      const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
      if (fields.size() > 1 && fields[1].toInt() == found[i] && !found.contains(pid)) found << pid;
    }
  }
  return found.mid(1);
}

}  // namespace

// Started by the test below as a test process of its own: mounts an image
// in its temporary HOME and waits there to be killed.
TEST(MountGuardHolder, DISABLED_HoldsItsImageMountedUntilKilled) {
  if (const auto missing = tlr::test::encryptedVolumeUnavailable()) GTEST_SKIP() << missing->toStdString();
  tlr::test::TempHome home;
  ASSERT_TRUE(BackupVolume::create(BackupVolume::defaultImagePath(), "pw").ok());
  ASSERT_TRUE(BackupVolume::mount("pw").ok());
  std::printf("mounted\n%s\n%s\n", qPrintable(home.path()), qPrintable(BackupVolume::mountPoint()));
  std::fflush(stdout);
  while (true) ::pause();
}

// A test process killed while its image is mounted (SIGKILL to it, its
// process group and everything below it, as a runner's timeout does)
// leaves nothing mounted: the guard its fixture started detaches it.
TEST(MountGuard, ATestKilledWhileItsImageIsMountedLeavesNothingMounted) {
  if (const auto missing = tlr::test::encryptedVolumeUnavailable()) GTEST_SKIP() << missing->toStdString();
  tlr::test::SpawnedChild holder(QCoreApplication::applicationFilePath(),
                                 {"--gtest_filter=MountGuardHolder.DISABLED_HoldsItsImageMountedUntilKilled",
                                  "--gtest_also_run_disabled_tests"});
  ASSERT_TRUE(holder.started());
  QByteArray said;
  while (!said.endsWith("mounted")) {
    const QByteArray line = holder.readLine(std::chrono::seconds(90));
    ASSERT_FALSE(line.isEmpty()) << "the holder never said it mounted: " << said.toStdString();
    said = line;
  }
  const QString home = QFile::decodeName(holder.readLine());
  const QString point = QFile::decodeName(holder.readLine());
  ASSERT_TRUE(home.startsWith(QDir::tempPath() + "/") && point.startsWith(home + "/")) << point.toStdString();
  ASSERT_TRUE(mountedAt(point));

  const QList<pid_t> below = descendantsOf(holder.pid());
  ::kill(-holder.pid(), SIGKILL);
  for (const pid_t pid : below) ::kill(pid, SIGKILL);
  holder.wait();
  EXPECT_TRUE(tlr::test::waitUntil([&] { return !mountedAt(point); }, std::chrono::seconds(30)))
      << "still mounted: " << point.toStdString();

  // What the killed holder left: its HOME, and what a guard that failed
  // left mounted in it.
  tlr::test::detachMountsBelow(home);
  if (!mountedAt(point)) static_cast<void>(tlr::FileOps::removeItem(home));
}

// A temporary HOME goes whole at its end, also with names in it that are no
// valid UTF-8 (a test of odd names left such folders behind in /tmp).
TEST(TempHomeEnd, NamesThatAreNoValidUtf8GoWithTheFolder) {
  QString path;
  {
    tlr::test::TempHome home;
    path = home.path();
    QDir().mkpath(path + "/shared");
    tlr::test::writeNativeBytes(QFile::encodeName(path + "/shared/") + QByteArray("caf\xe9.json"), "odd");
    tlr::test::writeNativeBytes(QFile::encodeName(path + "/shared/") + QByteArray("\xff\xfe"), "odd");
  }
  EXPECT_FALSE(QFileInfo::exists(path));
}

// What a test started and did not wait for ends in its home before the home
// goes: a task of the pool held until the window thread's next turn, the
// thread it runs alongside, and the job it gave a serial worker, each
// writing into the home as it ends. None writes into the removed home (which
// would make it again) or, with HOME put back, into the next test's.
TEST(TempHomeEnd, WorkTheTestStartedEndsBeforeTheFolderGoes) {
  tlr::SerialWorker writer(QStringLiteral("TLR.test.writer"));
  QString path;
  std::atomic<int> ended{0};
  {
    tlr::test::TempHome home;
    path = home.path();
    auto turn = std::make_shared<std::promise<void>>();
    std::shared_future<void> turned = turn->get_future().share();
    QTimer::singleShot(0, QCoreApplication::instance(), [turn] { turn->set_value(); });
    ASSERT_TRUE(tlr::OffMainPool::shared().start([turned, path, &writer, &ended] {
      turned.wait();
      std::thread beside = tlr::OffMainPool::alongside([path, &ended] {
        if (tlr::FileOps::makeOwnFolder(path + "/.local/share/Tollamere")) ++ended;
      });
      writer.post([path, &ended] {
        if (tlr::FileOps::makeOwnFolder(path + "/.local/state/Tollamere")) ++ended;
      });
      if (tlr::FileOps::makeOwnFolder(path + "/.config/Tollamere")) ++ended;
      beside.join();
    }));
  }
  ASSERT_TRUE(tlr::test::waitUntil([&] { return ended == 3; }));
  writer.flush();
  EXPECT_FALSE(QFileInfo::exists(path)) << "made again after its end: " << path.toStdString();
  static_cast<void>(tlr::FileOps::removeItem(path));
}

// Started by the test below as a run of its own: leaves a file in the run's
// temporary folder when TLR_TEST_LEAVE names one.
TEST(RunEnd, DISABLED_LeavesWhatItIsTold) {
  const QString name = qEnvironmentVariable("TLR_TEST_LEAVE");
  if (!name.isEmpty()) tlr::test::writeNativeBytes(QFile::encodeName(QDir::tempPath() + '/' + name), "forgotten");
}

// What a test leaves in its run's temporary folder fails the run, which
// names it, and goes with the folder all the same; a run that leaves
// nothing passes.
TEST(RunEnd, WhatATestLeavesBehindFailsItsRun) {
  struct Case {
    const char* leave;
    bool fails;
  };
  for (const Case& c : {Case{"", false}, Case{"forgotten.txt", true}}) {
    SCOPED_TRACE(c.leave);
    const tlr::test::TempDir outer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TLR_TEST_RUN_FOLDER"));  // a run of its own, not a part of this one
    environment.insert(QStringLiteral("TMPDIR"), outer.path());
    environment.insert(QStringLiteral("TLR_TEST_LEAVE"), QString::fromUtf8(c.leave));
    tlr::test::HeldProcess run;
    run->setProcessEnvironment(environment);
    run.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=RunEnd.DISABLED_LeavesWhatItIsTold", "--gtest_also_run_disabled_tests"});
    ASSERT_TRUE(run->waitForFinished(90000)) << "the run did not end";
    const QByteArray said = run->readAllStandardOutput() + run->readAllStandardError();
    EXPECT_TRUE(said.contains("[  PASSED  ] 1 test")) << said.toStdString();
    EXPECT_EQ(run->exitStatus() == QProcess::NormalExit && run->exitCode() != 0, c.fails) << said.toStdString();
    EXPECT_EQ(said.contains("Left behind in the run's temporary folder"), c.fails) << said.toStdString();
    if (c.fails) {
      EXPECT_TRUE(said.contains(c.leave)) << said.toStdString();
    }
    EXPECT_TRUE(QDir(outer.path()).isEmpty()) << "the run's folder stays in "
                                              << QDir(outer.path()).entryList().join(' ').toStdString();
  }
}
