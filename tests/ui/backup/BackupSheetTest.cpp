#include "backup/BackupEngine.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/VolumeLock.h"
#include "presentation/BackupSession.h"
#include "ui/backup/BackupSheet.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/kit/Controls.h"
#include "ui/kit/DetailsDisclosure.h"

#include "ui/backup/BackupUiTestSupport.h"
#include "support/VolumeFixture.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::LanguageScope;
using test::waitUntil;
using ::testing::ElementsAre;

template <class T>
T* named(QWidget* parent, const char* name) {
  T* found = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

class BackupSheetTest : public test::VolumeTest {
 protected:
  BackupSheet* open(const QList<AgentEntry>& agents, BackupEngine& engine) {
    BackupSheet::Callbacks callbacks;
    callbacks.onClose = [this] {
      calls_ << "close";
      if (sheet_) sheet_->dismiss();
    };
    callbacks.onOpenRestore = [this] { calls_ << "restore"; };
    callbacks.onOpenUSBExport = [this] { calls_ << "export"; };
    callbacks.onOpenUSBImport = [this] { calls_ << "import"; };
    auto* sheet = new BackupSheet(agents, callbacks, engine, SettingsStore::shared(), nullptr);
    sheet_ = sheet;
    sheet->present();
    return sheet;
  }
  void TearDown() override {
    if (sheet_) delete sheet_.data();
    engine_.reset();
    test::VolumeTest::TearDown();
  }
  // An engine of its own for each test, made once the temporary HOME exists.
  BackupEngine& engine() {
    if (!engine_) engine_ = std::make_unique<BackupEngine>();
    return *engine_;
  }
  std::unique_ptr<BackupEngine> engine_;
  QPointer<BackupSheet> sheet_;
  QStringList calls_;
};

class BackupSheetWithoutImageTest : public BackupSheetTest {
  bool needsVolume() const override { return false; }
};

TEST_F(BackupSheetWithoutImageTest, OffersTheFirstTimeSetupAndHandsOverThroughItsButtons) {
  LanguageScope english(AppLanguage::en);
  BackupEngine& engine = this->engine();
  BackupSheet* sheet = open({agentWithData("alpha", {{"notes.md", "hello"}})}, engine);
  EXPECT_FALSE(named<PrimaryButton>(sheet, "backupSetupVolume")->isHidden());
  EXPECT_EQ(named<Label>(sheet, "backupVolumePath")->text(), "Not set up");
  EXPECT_FALSE(named<PrimaryButton>(sheet, "backupNow")->isEnabled());
  EXPECT_EQ(named<Label>(sheet, "backupStatTime")->text(), "Never");

  // The scan runs off the window's thread and counts what a backup would take.
  ASSERT_TRUE(waitUntil([&] { return sheet->session().hasScanned(); }));
  EXPECT_EQ(sheet->session().discoveredAgentCount(), 1);
  EXPECT_EQ(sheet->session().discoveredLocationCount(), 1);
  EXPECT_GT(sheet->session().estimateBytes(), 0);
  EXPECT_THAT(named<Label>(sheet, "backupScanResult")->text().toStdString(),
              ::testing::StartsWith("Scanned: 1 agent · 1 location"));

  test::shoot(sheet, "backup-sheet-no-volume");
  named<PaintedButton>(sheet, "backupSetupVolume")->click();
  ASSERT_NE(sheet->firstTimeSetup(), nullptr);
  EXPECT_TRUE(sheet->firstTimeSetup()->isVisible());

  named<PaintedButton>(sheet, "backupRestoreFromBackup")->click();
  named<PaintedButton>(sheet, "backupExportUSB")->click();
  named<PaintedButton>(sheet, "backupImportUSB")->click();
  named<PaintedButton>(sheet, "backupClose")->click();
  EXPECT_THAT(calls_, ElementsAre("restore", "export", "import", "close"));
}

TEST_F(BackupSheetWithoutImageTest, NothingToBackUpWhenNoAgentHasData) {
  LanguageScope english(AppLanguage::en);
  BackupEngine& engine = this->engine();
  AgentEntry empty = agentWithData("empty", {});
  BackupSheet* sheet = open({empty}, engine);
  ASSERT_TRUE(waitUntil([&] { return sheet->session().hasScanned(); }));
  EXPECT_EQ(sheet->session().discoveredAgentCount(), 0);
  EXPECT_EQ(named<PrimaryButton>(sheet, "backupNow")->label(), "Nothing to back up");
}

TEST_F(BackupSheetWithoutImageTest, TheLanguageSwitchRedrawsEveryText) {
  LanguageScope english(AppLanguage::en);
  BackupEngine& engine = this->engine();
  BackupSheet* sheet = open({}, engine);
  ASSERT_TRUE(waitUntil([&] { return sheet->session().hasScanned(); }));
  const auto texts = [&] {
    QStringList all;
    for (Label* label : sheet->findChildren<Label*>()) all << label->text();
    for (PaintedButton* button : sheet->findChildren<PaintedButton*>()) all << button->label();
    return all;
  };
  const QStringList before = texts();
  EXPECT_EQ(named<Label>(sheet, "backupTitle")->text(), "Backup & Restore");
  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(named<Label>(sheet, "backupTitle")->text(), "备份与恢复");
  EXPECT_EQ(named<PaintedButton>(sheet, "backupRestoreFromBackup")->label(), "从备份恢复");
  const QStringList after = texts();
  ASSERT_EQ(before.size(), after.size());
  for (int i = 0; i < before.size(); ++i) {
    // Every visible English text changed (figures and dashes stay).
    if (before[i].contains(QRegularExpression("[A-Za-z]{3}"))) {
      EXPECT_NE(before[i], after[i]) << before[i].toStdString();
    }
  }
}

TEST_F(BackupSheetTest, BackUpNowShowsEachStageFlashesAndShowsTheNewBackup) {
  LanguageScope english(AppLanguage::en);
  createImage(QStringLiteral("pw-for-backup"));
  BackupEngine& engine = this->engine();
  BackupSheet* sheet = open({agentWithData("alpha", {{"notes.md", "hello"}, {"skills/a.md", "skill"}})}, engine);
  // A link among the data is no regular file: left out, and said so.
  ASSERT_TRUE(QFile::link(home_.path() + "/.alpha/notes.md", home_.path() + "/.alpha/link.md"));
  ASSERT_TRUE(waitUntil([&] { return sheet->session().hasScanned(); }));
  auto* stage = named<Label>(sheet, "backupStage");
  QStringList stages;
  QObject::connect(&engine, &BackupEngine::stageChanged, sheet, [&] {
    if (!stage->text().isEmpty() && (stages.isEmpty() || stages.last() != stage->text())) stages << stage->text();
  });
  auto* button = named<PrimaryButton>(sheet, "backupNow");
  ASSERT_TRUE(button->isEnabled());
  button->click();
  EXPECT_EQ(button->label(), "Backing up…");
  EXPECT_FALSE(button->isEnabled());
  // Nothing else may use the volume meanwhile.
  for (const char* other : {"backupRestoreFromBackup", "backupExportUSB", "backupImportUSB"})
    EXPECT_FALSE(named<PaintedButton>(sheet, other)->isEnabled()) << other;
  ASSERT_TRUE(waitUntil([&] { return !engine.isRunning(); }, std::chrono::seconds(90)));
  // No error: what the backup left out takes the message line.
  auto* message = named<Label>(sheet, "backupError");
  EXPECT_EQ(message->text(), "Not backed up: 1 item that is not a regular file (a link, FIFO or socket): ~/.alpha/link.md");
  EXPECT_THAT(stages, ElementsAre("Preparing…", "Copying files…", "Compressing…", "Verifying integrity…",
                                  "Writing to encrypted backup image…"));
  // The flash and its checkmark, read together before the pictures take
  // their time: the flash is short.
  EXPECT_TRUE(sheet->session().isFlashing());
  EXPECT_EQ(button->symbol(), "checkmark");
  test::shoot(sheet, "backup-sheet");
  {
    LanguageScope chinese(AppLanguage::zh);
    EXPECT_EQ(message->text(), "未备份 1 项（符号链接、FIFO 或套接字，不是普通文件）：~/.alpha/link.md");
    test::shoot(sheet, "backup-sheet-zh");
  }
  EXPECT_TRUE(stage->isHidden());
  ASSERT_TRUE(engine.lastBackup().has_value());
  EXPECT_EQ(named<Label>(sheet, "backupStatAgentCount")->text(), "1");
  EXPECT_NE(named<Label>(sheet, "backupStatTime")->text(), "Never");
  // The flash ends on its own.
  EXPECT_TRUE(waitUntil([&] { return !sheet->session().isFlashing(); }, std::chrono::seconds(5)));
  EXPECT_EQ(button->symbol(), "archivebox");
}

TEST_F(BackupSheetTest, AFailedBackupShowsTheEnginesErrorText) {
  LanguageScope english(AppLanguage::en);
  createImage(QStringLiteral("the-right-one"));
  // The stored password no longer opens the image and nobody can be asked.
  EXPECT_TRUE(PasswordVault::seal(QStringLiteral("a-wrong-one")));
  PasswordVault::clearCachedPassword();
  BackupEngine& engine = this->engine();
  BackupSheet* sheet = open({agentWithData("alpha", {{"notes.md", "hello"}})}, engine);
  named<PrimaryButton>(sheet, "backupNow")->click();
  ASSERT_TRUE(waitUntil([&] { return !engine.isRunning(); }, std::chrono::seconds(60)));
  auto* error = named<Label>(sheet, "backupError");
  EXPECT_FALSE(error->isHidden());
  // The engine's Chinese description (with gocryptfs's own words) stays for
  // the log; the window says it in its language and keeps the tool's output
  // apart, behind "Details".
  EXPECT_TRUE(engine.lastErrorText().startsWith("挂载加密卷失败：")) << engine.lastErrorText().toStdString();
  EXPECT_EQ(error->text(), "The password is wrong: the encrypted backup image stays locked.");
  auto* details = named<DetailsDisclosure>(sheet, "backupErrorDetails");
  EXPECT_FALSE(details->isHidden());
  EXPECT_FALSE(details->isExpanded());
  EXPECT_EQ(details->details(), engine.lastErrorText().mid(QStringLiteral("挂载加密卷失败：").size()).trimmed());
  EXPECT_FALSE(error->text().contains(details->details()));
  EXPECT_FALSE(sheet->session().isFlashing());
  {
    LanguageScope chinese(AppLanguage::zh);
    EXPECT_EQ(error->text(), "密码不正确，加密备份卷没有解锁");
  }
}

TEST_F(BackupSheetTest, ClosingWhileABackupRunsLetsItFinish) {
  createImage(QStringLiteral("pw-close"));
  BackupEngine& engine = this->engine();
  BackupSheet* sheet = open({agentWithData("alpha", {{"notes.md", "hello"}})}, engine);
  named<PrimaryButton>(sheet, "backupNow")->click();
  ASSERT_TRUE(engine.isRunning());
  QSignalSpy gone(sheet, &QObject::destroyed);
  named<PaintedButton>(sheet, "backupClose")->click();
  ASSERT_TRUE(!gone.isEmpty() || gone.wait(2000));
  ASSERT_TRUE(waitUntil([&] { return !engine.isRunning(); }, std::chrono::seconds(90)));
  ASSERT_TRUE(engine.lastBackup().has_value()) << engine.lastErrorText().toStdString();
  EXPECT_EQ(engine.lastBackup()->agentCount, 1);
}

TEST_F(BackupSheetWithoutImageTest, WhileAnotherOperationUsesTheVolumeNothingElseIsOffered) {
  LanguageScope english(AppLanguage::en);
  home_.writeFile(QFileInfo(BackupVolume::defaultImagePath()).fileName() + "/gocryptfs.conf", "{}");
  BackupSheet* sheet = open({agentWithData("alpha", {{"notes.md", "hello"}})}, engine());
  ASSERT_TRUE(waitUntil([&] { return sheet->session().hasScanned(); }));
  const char* controls[] = {"backupNow", "backupRestoreFromBackup", "backupExportUSB", "backupImportUSB"};
  for (const char* name : controls) EXPECT_TRUE(named<PaintedButton>(sheet, name)->isEnabled()) << name;
  {
    // A restore, export or import of this process holds the volume.
    const std::optional<VolumeLock> held = VolumeLock::tryAcquire(BackupVolume::lockPath());
    ASSERT_TRUE(held.has_value());
    ASSERT_TRUE(waitUntil([&] { return !named<PaintedButton>(sheet, "backupNow")->isEnabled(); }));
    for (const char* name : controls) EXPECT_FALSE(named<PaintedButton>(sheet, name)->isEnabled()) << name;
  }
  ASSERT_TRUE(waitUntil([&] { return named<PaintedButton>(sheet, "backupNow")->isEnabled(); }));
  for (const char* name : controls) EXPECT_TRUE(named<PaintedButton>(sheet, name)->isEnabled()) << name;
}

}  // namespace
}  // namespace tlr
