#include "presentation/BackupSession.h"

#include "backup/BackupEngine.h"
#include "backup/BackupVolume.h"
#include "backup/VolumeLock.h"
#include "core/stores/SettingsStore.h"
#include "core/texts/LocTexts.h"

#include "support/VolumeFixture.h"


#include <gtest/gtest.h>

#include <memory>

namespace tlr {
namespace {

using test::waitUntil;

class BackupSessionTest : public test::VolumeTest {
 protected:
  BackupSession& open(const QList<AgentEntry>& agents) {
    engine_ = std::make_unique<BackupEngine>();
    session_ = std::make_unique<BackupSession>(agents, *engine_);
    session_->open();
    return *session_;
  }
  void TearDown() override {
    session_.reset();
    engine_.reset();
    test::VolumeTest::TearDown();
  }
  std::unique_ptr<BackupEngine> engine_;
  std::unique_ptr<BackupSession> session_;
};

class BackupSessionWithoutImageTest : public BackupSessionTest {
  bool needsVolume() const override { return false; }
};

TEST_F(BackupSessionWithoutImageTest, TheScanCountsWhatABackupWouldTake) {
  BackupSession& session =
      open({agentWithData("alpha", {{"notes.md", "hello"}, {"skills/a.md", "skill"}}), agentWithData("empty", {}),
            agentWithData("beta", {{"config.json", "{}\n"}})});
  EXPECT_TRUE(session.isScanning());
  ASSERT_TRUE(waitUntil([&] { return session.hasScanned(); }));
  EXPECT_FALSE(session.isScanning());
  EXPECT_EQ(session.discoveredAgentCount(), 2) << "an agent without data is not counted";
  EXPECT_EQ(session.discoveredLocationCount(), 2);
  EXPECT_EQ(session.estimateBytes(), 10 + 3) << "every file below every agent's places";
  EXPECT_FALSE(session.nothingToBackUp());
  // No image: nothing to back up into.
  EXPECT_FALSE(session.hasImage());
  EXPECT_EQ(session.imagePath(), std::nullopt);
  EXPECT_FALSE(session.canBackUp());
  session.backUpNow();
  EXPECT_FALSE(session.isRunning());
  EXPECT_TRUE(session.exclusionsText().isEmpty()) << "these agents leave nothing out";

  // An agent whose entry leaves something out says so, by name.
  AgentEntry withCaches = agentWithData("gamma", {{"cache/x", "c"}});
  withCaches.backup->excludePatterns = QStringList{"cache/*", "*.tmp"};
  BackupSession& gamma = open({withCaches});
  EXPECT_EQ(gamma.exclusionsText(), LocTexts::text(SettingsStore::shared().language(),
                                                   LocKey::backupExclusionsNote("GAMMA (cache/*, *.tmp)")));
}

TEST_F(BackupSessionWithoutImageTest, NothingIsOfferedWhenNoAgentHasDataOrTheVolumeIsInUse) {
  home_.writeFile(QFileInfo(BackupVolume::defaultImagePath()).fileName() + "/gocryptfs.conf", "{}");
  {
    BackupSession& session = open({agentWithData("empty", {})});
    ASSERT_TRUE(waitUntil([&] { return session.hasScanned(); }));
    EXPECT_TRUE(session.nothingToBackUp());
    EXPECT_FALSE(session.canBackUp());
  }
  BackupSession& session = open({agentWithData("alpha", {{"notes.md", "hello"}})});
  ASSERT_TRUE(waitUntil([&] { return session.hasScanned(); }));
  EXPECT_EQ(session.imagePath(), BackupVolume::defaultImagePath());
  EXPECT_TRUE(session.canBackUp());
  int changes = 0;
  QObject::connect(&session, &BackupSession::changed, [&] { ++changes; });
  {
    // A restore, export or import of this process holds the volume.
    const std::optional<VolumeLock> held = VolumeLock::tryAcquire(BackupVolume::lockPath());
    ASSERT_TRUE(held.has_value());
    // Said at once, and announced.
    EXPECT_TRUE(session.volumeInUse());
    EXPECT_FALSE(session.canBackUp());
    EXPECT_TRUE(waitUntil([&] { return changes > 0; }));
    session.backUpNow();
    EXPECT_FALSE(session.isRunning()) << "refused while the volume is in use";
  }
  ASSERT_TRUE(waitUntil([&] { return !session.volumeInUse(); }));
  EXPECT_TRUE(session.canBackUp());
}

TEST_F(BackupSessionTest, ABackupRunsFlashesAndUpdatesTheLastBackupAndTheVolumesFigures) {
  createImage(QStringLiteral("pw-for-backup"));
  AgentEntry alpha = agentWithData("alpha", {{"notes.md", "hello"}});
  // Not stored, and said so after the run: a link, a folder too deep, and a
  // file no one may read (this kernel file refuses even root); the last two
  // leave the backup incomplete. A line break in a name is shown as the log
  // shows it.
  QFile::link(home_.path() + "/.alpha/notes.md", home_.path() + "/.alpha/link\nname.md");
  const QString deep = ".alpha/deep" + QString("/d").repeated(StagedSnapshot::kMaxDepth);
  home_.writeFile(deep + "/lost.json", "one level too deep");
  const bool refuses = QFile::link("/proc/sys/vm/compact_memory", home_.path() + "/refusing") &&
                       QFileInfo::exists(home_.path() + "/refusing");
  alpha.backup->includePaths->append("~/refusing");
  BackupSession& session = open({alpha});
  ASSERT_TRUE(waitUntil([&] { return session.hasScanned() && session.volumeUsed().has_value(); }));
  EXPECT_FALSE(session.lastBackup().has_value());
  const qint64 usedBefore = *session.volumeUsed();
  session.backUpNow();
  EXPECT_TRUE(session.isRunning());
  EXPECT_TRUE(session.volumeInUse());
  EXPECT_FALSE(session.canBackUp());
  EXPECT_FALSE(session.stageText().isEmpty());
  ASSERT_TRUE(waitUntil([&] { return !session.isRunning(); }, std::chrono::seconds(90)));
  EXPECT_EQ(session.failure(), std::nullopt) << engine_->lastErrorText().toStdString();
  EXPECT_TRUE(session.stageText().isEmpty());
  EXPECT_TRUE(session.isFlashing());
  ASSERT_TRUE(session.lastBackup().has_value());
  EXPECT_EQ(session.lastBackup()->agentCount, 1);
  SettingsStore::shared().setLanguage(AppLanguage::en);
  EXPECT_EQ(session.leftOutText(),
            "This backup is incomplete.\n"
            "Not backed up: 1 item that is not a regular file (a link, FIFO or socket): ~/.alpha/link\\nname.md\n" +
                QString(refuses ? "Not backed up, not readable: 1 item this user may not read: ~/refusing\n" : "") +
                "Not backed up: 1 folder more than 256 levels deep: ~/" + deep);
  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(session.leftOutText(), "此次备份不完整。\n"
                                   "未备份 1 项（符号链接、FIFO 或套接字，不是普通文件）：~/.alpha/link\\nname.md\n" +
                                       QString(refuses ? "未备份，无法读取：1 项（当前用户没有读取权限）：~/refusing\n" : "") +
                                       "未备份 1 个文件夹（层级超过 256 层）：~/" + deep);
  // The volume's figures are read again after the run.
  EXPECT_TRUE(waitUntil([&] { return session.volumeUsed() > usedBefore; }));
  EXPECT_TRUE(waitUntil([&] { return !session.isFlashing(); }, std::chrono::seconds(5)));
}

TEST_F(BackupSessionTest, AFailedBackupIsTheSessionsFailureUntilTheNextRun) {
  createImage(QStringLiteral("the-right-one"));
  // The stored password no longer opens the image and nobody can be asked.
  EXPECT_TRUE(PasswordVault::seal(QStringLiteral("a-wrong-one")));
  PasswordVault::clearCachedPassword();
  BackupSession& session = open({agentWithData("alpha", {{"notes.md", "hello"}})});
  session.backUpNow();
  ASSERT_TRUE(waitUntil([&] { return !session.isRunning(); }, std::chrono::seconds(60)));
  ASSERT_TRUE(session.failure().has_value());
  EXPECT_EQ(session.failure()->key, LocKey::backupErrWrongPassword());
  EXPECT_FALSE(session.isFlashing());
  EXPECT_TRUE(PasswordVault::seal(QStringLiteral("the-right-one")));
  PasswordVault::clearCachedPassword();
  session.backUpNow();
  EXPECT_EQ(session.failure(), std::nullopt) << "not while the next run is under way";
  ASSERT_TRUE(waitUntil([&] { return !session.isRunning(); }, std::chrono::seconds(90)));
  EXPECT_EQ(session.failure(), std::nullopt);
}

}  // namespace
}  // namespace tlr
