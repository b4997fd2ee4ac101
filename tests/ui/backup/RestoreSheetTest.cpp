#include "backup/BackupEngine.h"
#include "backup/BackupManifest.h"
#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/RestoreEngine.h"
#include "presentation/RestoreSession.h"
#include "ui/backup/RestoreSheet.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/DetailsDisclosure.h"

#include "support/RegistryJson.h"
#include "support/ScriptedPrompt.h"
#include "ui/backup/BackupUiTestSupport.h"
#include "support/VolumeFixture.h"
#include "support/gui/InView.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::LanguageScope;
using test::waitUntil;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

template <class T>
T* named(QWidget* parent, const QString& name) {
  T* found = parent->findChild<T*>(name);
  EXPECT_NE(found, nullptr) << name.toStdString();
  return found;
}

class RestoreSheetTest : public test::VolumeTest {
 protected:
  // Two agents backed up into the real image, which is left detached.
  void backUpTwoAgents(const QString& betaName = {}) {
    createImage(QStringLiteral("restore-pw"));
    alpha_ = agentWithData("alpha", {{"notes.md", "alpha notes"}, {"skills/s.md", "skill"}});
    beta_ = agentWithData("beta", {{"config.json", "{\"b\":1}"}});
    backUp({alpha_, beta_});
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_FALSE(BackupVolume::isMounted());
    QByteArray beta = agentMembers("beta");
    if (!betaName.isEmpty()) beta.replace("\"BETA\"", "\"" + betaName.toUtf8() + "\"");
    engine_.setRegistry(test::registryOfAgents({"{" + agentMembers("alpha") + "}", "{" + beta + "}"}));
  }
  RestoreSheet* open() {
    auto* sheet = new RestoreSheet(
        [this] {
          if (sheet_) sheet_->dismiss();
        },
        [this](const QString& id) { restored_ << id; }, engine_, SettingsStore::shared(), nullptr);
    sheet_ = sheet;
    sheet->present();
    return sheet;
  }
  // Answers the open confirmation.
  void answer(RestoreSheet* sheet, bool confirm) {
    ASSERT_TRUE(waitUntil([&] { return sheet->confirmation() && sheet->confirmation()->isVisible(); }));
    named<PaintedButton>(sheet->confirmation(), confirm ? "restoreConfirmConfirm" : "restoreConfirmCancel")->click();
  }
  void TearDown() override {
    if (sheet_) delete sheet_.data();
    test::VolumeTest::TearDown();
  }

  RestoreEngine engine_;
  AgentEntry alpha_, beta_;
  QPointer<RestoreSheet> sheet_;
  QStringList restored_;
};

TEST_F(RestoreSheetTest, ReadsTheSnapshotFromTheDetachedVolumeAndRestoresOneAgentAfterConfirmation) {
  LanguageScope english(AppLanguage::en);
  // Beta's name is longer than the sheet is wide.
  const QString longName = QStringLiteral("BETA ") + QString(75, QLatin1Char('X'));
  backUpTwoAgents(longName);
  ASSERT_FALSE(HasFatalFailure());
  QFile::remove(dataPath("alpha", "notes.md"));
  QDir(home_.path() + "/.alpha/skills").removeRecursively();
  QFile::remove(dataPath("beta", "config.json"));

  RestoreSheet* sheet = open();
  ASSERT_TRUE(waitUntil([&] { return sheet->session().manifest().has_value() && !sheet->session().isLoading(); }, std::chrono::seconds(60)));
  QApplication::processEvents();
  // Short buttons, each named for whom it restores; the long name shortened
  // with "…"; nothing off the sheet, nothing to scroll sideways.
  auto* longTitle = named<Label>(sheet, "restoreAgentName_beta");
  EXPECT_TRUE(longTitle->text().endsWith(QStringLiteral("…"))) << longTitle->text().toStdString();
  EXPECT_EQ(longTitle->accessibleName(), longName);
  EXPECT_EQ(longTitle->toolTip(), longName);
  for (const QString id : {"alpha", "beta"}) {
    auto* button = named<PaintedButton>(sheet, "restoreOne_" + id);
    EXPECT_EQ(button->label(), "Restore");
    EXPECT_TRUE(test::wholeInView(button)) << id.toStdString();
  }
  EXPECT_EQ(named<PaintedButton>(sheet, "restoreOne_beta")->accessibleName(), "Restore " + longName);
  EXPECT_EQ(test::sidewaysScrolling(*sheet), QStringList());
  EXPECT_FALSE(BackupVolume::isMounted()) << "the volume is detached again after reading";
  EXPECT_FALSE(sheet->session().isCrossDevice());
  EXPECT_FALSE(named<QWidget>(sheet, "restoreCrossDevice")->isVisibleTo(sheet));
  EXPECT_EQ(named<Label>(sheet, "restoreAgentName_alpha")->text(), "ALPHA");
  EXPECT_THAT(named<Label>(sheet, "restoreBackupTime")->text().toStdString(), ::testing::StartsWith("Backup: "));
  test::shoot(sheet, "restore-sheet");
  auto* one = named<PaintedButton>(sheet, "restoreOne_alpha");
  EXPECT_EQ(one->accessibleName(), "Restore ALPHA");

  // Cancel changes nothing.
  one->click();
  answer(sheet, false);
  EXPECT_FALSE(engine_.isRunning());
  EXPECT_FALSE(QFile::exists(dataPath("alpha", "notes.md")));

  one->click();
  ASSERT_TRUE(waitUntil([&] { return sheet->confirmation() != nullptr; }));
  test::shoot(sheet->confirmation(), "restore-confirm");
  {
    // The whole warning fits: its label gets the height its text needs.
    auto* body = named<Label>(sheet->confirmation(), "restoreConfirmBody");
    EXPECT_GE(body->height(), body->heightForWidth(body->width()));
  }
  EXPECT_EQ(named<Label>(sheet->confirmation(), "restoreConfirmBody")->text().left(42),
            "About to overwrite current ALPHA data with");
  answer(sheet, true);
  ASSERT_TRUE(waitUntil([&] { return restored_.size() == 1 && !engine_.isRunning(); }, std::chrono::seconds(90)));
  EXPECT_THAT(restored_, ElementsAre("alpha"));
  EXPECT_EQ(test::readFile(dataPath("alpha", "notes.md")), "alpha notes");
  EXPECT_EQ(test::readFile(dataPath("alpha", "skills/s.md")), "skill");
  EXPECT_FALSE(QFile::exists(dataPath("beta", "config.json"))) << "only the one agent";
  auto* outcome = named<Label>(sheet, "restoreOutcome");
  EXPECT_FALSE(outcome->isHidden());
  EXPECT_EQ(outcome->text(), "✓ Restored ALPHA");
}

TEST_F(RestoreSheetTest, RestoreAllShowsTheStagesAndBringsEveryAgentBack) {
  LanguageScope english(AppLanguage::en);
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  QFile::remove(dataPath("alpha", "notes.md"));
  QFile::remove(dataPath("beta", "config.json"));
  RestoreSheet* sheet = open();
  ASSERT_TRUE(waitUntil([&] { return sheet->session().manifest().has_value() && !sheet->session().isLoading(); }, std::chrono::seconds(60)));
  auto* stage = named<Label>(sheet, "restoreStage");
  QStringList stages;
  QObject::connect(&engine_, &RestoreEngine::stageChanged, sheet, [&] {
    if (!stage->text().isEmpty()) stages << stage->text();
  });
  named<PaintedButton>(sheet, "restoreAll")->click();
  ASSERT_TRUE(waitUntil([&] { return sheet->confirmation() != nullptr; }));
  EXPECT_EQ(named<Label>(sheet->confirmation(), "restoreConfirmTitle")->text(), "Restore all agents?");
  // The kit's alert: titled and named by its question, its warning symbol
  // instead of a "⚠️" in the text.
  EXPECT_NE(qobject_cast<Alert*>(sheet->confirmation()), nullptr);
  EXPECT_EQ(sheet->confirmation()->windowTitle(), "Restore all agents?");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(sheet->confirmation())->text(QAccessible::Name), "Restore all agents?");
  EXPECT_FALSE(named<Label>(sheet->confirmation(), "restoreConfirmBody")->text().contains(QStringLiteral("⚠")));
  answer(sheet, true);
  EXPECT_EQ(named<PrimaryButton>(sheet, "restoreAll")->label(), "Restoring…");
  ASSERT_TRUE(waitUntil([&] { return restored_.size() == 2 && !engine_.isRunning(); }, std::chrono::seconds(90)));
  EXPECT_THAT(restored_, UnorderedElementsAre("alpha", "beta"));
  EXPECT_EQ(named<Label>(sheet, "restoreOutcome")->text(), "✓ Restored all agents");
  EXPECT_EQ(test::readFile(dataPath("alpha", "notes.md")), "alpha notes");
  EXPECT_EQ(test::readFile(dataPath("beta", "config.json")), "{\"b\":1}");
  EXPECT_THAT(stages, ::testing::IsSupersetOf({"Verifying backup integrity…", "Extracting…", "Security check…",
                                               "Writing data…"}));
  EXPECT_FALSE(BackupVolume::isMounted());
}

// A restore that goes through but cannot put a part of the backup back (a
// folder backed up from outside the home folder that this computer's agent
// list does not name) is no plain success: the sheet says how many parts did
// not come back and lists each, its long path shortened with "…", in the
// window's language.
TEST_F(RestoreSheetTest, ARestoreThatLeavesAPartOutSaysSoAndListsIt) {
  LanguageScope english(AppLanguage::en);
  createImage(QStringLiteral("restore-pw"));
  QTemporaryDir elsewhere;
  ASSERT_TRUE(elsewhere.isValid());
  const QString outside = elsewhere.path() + "/" + QString(150, QLatin1Char('x')) + "/data";
  ASSERT_TRUE(QDir().mkpath(outside));
  test::writeBytes(outside + "/state.json", "outside");
  agentWithData("alpha", {{"notes.md", "alpha notes"}});
  backUp({test::entryFromJson(agentMembers("alpha").replace("[\"~/.alpha\"]", "[\"~/.alpha\", \"" + outside.toUtf8() + "\"]"))});
  ASSERT_FALSE(HasFatalFailure());
  engine_.setRegistry(registryOf({"alpha"}));
  QFile::remove(dataPath("alpha", "notes.md"));

  RestoreSheet* sheet = open();
  ASSERT_TRUE(waitUntil([&] { return sheet->session().manifest().has_value() && !sheet->session().isLoading(); }, std::chrono::seconds(60)));
  EXPECT_FALSE(named<QWidget>(sheet, "restoreLeftOutArea")->isVisibleTo(sheet));
  named<PaintedButton>(sheet, "restoreAll")->click();
  answer(sheet, true);
  ASSERT_TRUE(waitUntil([&] { return !restored_.isEmpty() && !engine_.isRunning(); }, std::chrono::seconds(90)));
  QApplication::processEvents();
  EXPECT_EQ(test::readFile(dataPath("alpha", "notes.md")), "alpha notes") << "the rest came back";
  auto* outcome = named<Label>(sheet, "restoreOutcome");
  EXPECT_EQ(outcome->text(), "Restored all agents except 1 part of the backup, which did not come back:");
  auto* area = named<QScrollArea>(sheet, "restoreLeftOutArea");
  ASSERT_NE(area, nullptr);
  EXPECT_TRUE(area->isVisibleTo(sheet));
  auto* line = named<Label>(sheet, "restoreLeftOut_0");
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(area->widget()->isAncestorOf(line)) << "the list scrolls";
  EXPECT_EQ(sheet->findChild<QWidget*>("restoreLeftOut_1"), nullptr);
  const QString whole =
      "ALPHA: " + outside + " (outside the home folder, and this computer's agent list does not name that place)";
  EXPECT_EQ(line->accessibleName(), whole);
  EXPECT_EQ(line->toolTip(), whole);
  EXPECT_TRUE(line->text().startsWith("ALPHA: " + elsewhere.path().left(8))) << line->text().toStdString();
  EXPECT_TRUE(line->text().contains(QStringLiteral("…"))) << line->text().toStdString();
  EXPECT_TRUE(line->text().endsWith("/data (outside the home folder, and this computer's agent list does not name that place)"));
  EXPECT_EQ(line->textFormat(), Qt::PlainText);
  EXPECT_EQ(test::sidewaysScrolling(*sheet), QStringList());
  test::shoot(sheet, "restore-sheet-left-out");
  {
    LanguageScope chinese(AppLanguage::zh);
    EXPECT_EQ(outcome->text(), "已恢复全部 Agent，但备份中有 1 项没有恢复：");
    EXPECT_EQ(line->accessibleName(), "ALPHA：" + outside + "（位于主文件夹之外，这台电脑的 Agent 列表也没有列出这个位置）");
    test::shoot(sheet, "restore-sheet-left-out-zh");
  }
  EXPECT_EQ(test::readFile(outside + "/state.json"), "outside");
}

TEST_F(RestoreSheetTest, ASnapshotFromAnotherMachineCarriesTheCrossDeviceNote) {
  LanguageScope english(AppLanguage::en);
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  // The snapshot as another machine would have written it.
  ASSERT_TRUE(BackupVolume::mount(QStringLiteral("restore-pw")).ok());
  const QStringList snapshots = BackupStorage::listSnapshots();
  ASSERT_FALSE(snapshots.isEmpty());
  const QString manifestPath = snapshots.first() + "/manifest.json";
  QFile file(manifestPath);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  auto decoded = BackupManifest::decode(file.readAll());
  file.close();
  ASSERT_TRUE(decoded.ok());
  BackupManifest manifest = decoded.value();
  // A name of 80 characters, shortened with "…" where it is shown.
  const QString device = QStringLiteral("old-laptop-") + QString(69, QLatin1Char('x'));
  manifest.device.name = device;
  manifest.device.macHashShort = QStringLiteral("0badc0de");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(manifest.encode());
  file.close();

  // Attached already: the sheet reads it as it is and leaves it attached.
  RestoreSheet* sheet = open();
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isLoading(); }, std::chrono::seconds(60)));
  ASSERT_TRUE(sheet->session().manifest().has_value());
  EXPECT_TRUE(sheet->session().isCrossDevice());
  EXPECT_TRUE(named<QWidget>(sheet, "restoreCrossDevice")->isVisibleTo(sheet));
  const QString whole = "This backup is from " + device + ", not this computer. All data will be restored to this machine.";
  auto* body = named<Label>(sheet, "restoreCrossDeviceBody");
  EXPECT_TRUE(body->text().contains(QStringLiteral("…"))) << body->text().toStdString();
  EXPECT_EQ(body->accessibleName(), whole);
  EXPECT_EQ(body->toolTip(), whole);
  auto* when = named<Label>(sheet, "restoreBackupTime");
  EXPECT_EQ(when->fullText().section(" · ", 1), "From " + device);
  EXPECT_TRUE(when->text().endsWith(QStringLiteral("…"))) << when->text().toStdString();
  EXPECT_EQ(when->accessibleName(), when->fullText());
  for (const char* name : {"restoreCrossDeviceBody", "restoreBackupTime", "restoreAll"})
    EXPECT_TRUE(test::wholeInView(named<QWidget>(sheet, name))) << name;
  EXPECT_EQ(test::sidewaysScrolling(*sheet), QStringList());
  test::shoot(sheet, "restore-sheet-other-machine");
  EXPECT_TRUE(BackupVolume::isMounted());
}

TEST_F(RestoreSheetTest, WithoutAnImageItSaysThereIsNoBackup) {
  LanguageScope chinese(AppLanguage::zh);
  RestoreSheet* sheet = open();
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isLoading(); }));
  EXPECT_FALSE(sheet->session().manifest().has_value());
  EXPECT_EQ(named<Label>(sheet, "restoreNoBackup")->text(), "还没有可恢复的备份");
  EXPECT_TRUE(named<PrimaryButton>(sheet, "restoreAll")->isHidden());
}

using test::ScriptedPrompt;

TEST_F(RestoreSheetTest, AFailedRestoreSaysWhyInTheSheetInItsLanguage) {
  LanguageScope english(AppLanguage::en);
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  RestoreSheet* sheet = open();
  ASSERT_TRUE(waitUntil([&] { return sheet->session().manifest().has_value() && !sheet->session().isLoading(); }, std::chrono::seconds(60)));
  // The stored password is gone: the restore has to ask.
  PasswordVault::clearCachedPassword();
  EXPECT_TRUE(PasswordVault::removeStored());
  auto prompt = std::make_shared<ScriptedPrompt>(QList<std::optional<QString>>{std::nullopt, QString("wrong one")});
  PasswordVault::setPrompt(prompt);
  auto* outcome = named<Label>(sheet, "restoreOutcome");

  // The prompt cancelled.
  named<PaintedButton>(sheet, "restoreOne_alpha")->click();
  answer(sheet, true);
  ASSERT_TRUE(waitUntil([&] { return !engine_.isRunning() && !outcome->isHidden(); }, std::chrono::seconds(60)));
  EXPECT_EQ(outcome->text(), "No password was given: the encrypted backup image stays locked.");
  EXPECT_EQ(prompt->reasons.mid(0, 1), QList<LocKey>{LocKey::vaultUnlockForRestore()});

  // A wrong password: said in the sheet, gocryptfs's words behind Details.
  named<PaintedButton>(sheet, "restoreAll")->click();
  answer(sheet, true);
  ASSERT_TRUE(waitUntil([&] { return !engine_.isRunning() && outcome->text().startsWith("The password"); },
                        std::chrono::seconds(60)));
  EXPECT_EQ(outcome->text(), "The password is wrong: the encrypted backup image stays locked.");
  auto* details = named<DetailsDisclosure>(sheet, "restoreOutcomeDetails");
  EXPECT_FALSE(details->isHidden());
  EXPECT_FALSE(details->details().isEmpty());
  EXPECT_TRUE(restored_.isEmpty());
  EXPECT_FALSE(BackupVolume::isMounted());
  {
    LanguageScope chinese(AppLanguage::zh);
    EXPECT_EQ(outcome->text(), "密码不正确，加密备份卷没有解锁");
  }
}

TEST_F(RestoreSheetTest, AWrongPasswordWhileReadingTheBackupCanBeRetriedInTheSheet) {
  LanguageScope english(AppLanguage::en);
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  PasswordVault::clearCachedPassword();
  EXPECT_TRUE(PasswordVault::removeStored());
  auto prompt = std::make_shared<ScriptedPrompt>(QList<std::optional<QString>>{QString("wrong one"), QString("restore-pw")});
  PasswordVault::setPrompt(prompt);
  RestoreSheet* sheet = open();
  auto* retry = named<PaintedButton>(sheet, "restoreRetry");
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isLoading() && sheet->session().loadError(); },
                        std::chrono::seconds(60)));
  EXPECT_TRUE(retry->isVisibleTo(sheet));
  EXPECT_EQ(retry->label(), "Enter the password again");
  EXPECT_EQ(named<Label>(sheet, "restoreNoBackupHint")->text(),
            "The password is wrong: the encrypted backup image stays locked.");
  test::shoot(sheet, "restore-sheet-wrong-password");
  {
    LanguageScope chinese(AppLanguage::zh);
    EXPECT_EQ(named<Label>(sheet, "restoreNoBackupHint")->text(), "密码不正确，加密备份卷没有解锁");
    test::shoot(sheet, "restore-sheet-wrong-password-zh");
  }
  // The rows are on the sheet as soon as the session says it has read the
  // backup, not a turn of the event loop later.
  bool rowShownWithTheChange = false;
  QObject::connect(&sheet->session(), &RestoreSession::changed, sheet, [&] {
    const auto* row = sheet->findChild<PaintedButton*>(QStringLiteral("restoreOne_alpha"));
    rowShownWithTheChange = row && row->isVisibleTo(sheet);
  });
  retry->click();
  ASSERT_TRUE(waitUntil([&] { return sheet->session().manifest().has_value() && !sheet->session().isLoading(); },
                        std::chrono::seconds(60)));
  EXPECT_EQ(prompt->reasons.size(), 2);
  EXPECT_FALSE(retry->isVisibleTo(sheet));
  EXPECT_TRUE(rowShownWithTheChange);
  EXPECT_TRUE(named<PaintedButton>(sheet, "restoreOne_alpha")->isVisibleTo(sheet));
}

TEST_F(RestoreSheetTest, ANewerDamagedBackupIsNamedAndTheNewestGoodOneOffered) {
  LanguageScope english(AppLanguage::en);
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  addDamagedSnapshot(QStringLiteral("restore-pw"));
  ASSERT_FALSE(HasFatalFailure());

  RestoreSheet* sheet = open();
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isLoading(); }, std::chrono::seconds(60)));
  ASSERT_TRUE(sheet->session().manifest().has_value()) << "the older, good backup is offered";
  EXPECT_EQ(sheet->session().manifest()->agents.size(), 2);
  auto* note = named<Label>(sheet, "restoreNewerDamaged");
  EXPECT_TRUE(note->isVisibleTo(sheet));
  EXPECT_EQ(note->text(), "A newer backup is damaged and cannot be restored; this is the newest one that can.");
  EXPECT_EQ(named<Label>(sheet, "restoreAgentStats_alpha")->text().section(" · ", 0, 0), "1 skill");
  test::shoot(sheet, "restore-sheet-damaged-newer");
  {
    LanguageScope chinese(AppLanguage::zh);
    EXPECT_NE(note->text(), "A newer backup is damaged and cannot be restored; this is the newest one that can.");
    test::shoot(sheet, "restore-sheet-damaged-newer-zh");
  }

  // The damaged one left alone: it is said to be damaged, not that there is
  // no backup, and nothing offers to try again.
  ASSERT_TRUE(BackupVolume::mount(QStringLiteral("restore-pw")).ok());
  for (const QString& snapshot : BackupStorage::listSnapshots()) {
    if (!snapshot.endsWith(QStringLiteral("2999-01-01_00-00-00"))) QDir(snapshot).removeRecursively();
  }
  BackupVolume::unmount();
  RestoreSheet* alone = open();
  ASSERT_TRUE(waitUntil([&] { return !alone->session().isLoading(); }, std::chrono::seconds(60)));
  EXPECT_FALSE(alone->session().manifest().has_value());
  EXPECT_EQ(named<Label>(alone, "restoreNoBackup")->text(), "The backup is damaged and cannot be restored");
  EXPECT_EQ(named<Label>(alone, "restoreNoBackupHint")->text(), "The backup's manifest is damaged.");
  EXPECT_FALSE(named<PaintedButton>(alone, "restoreRetry")->isVisibleTo(alone));
  LanguageScope chinese(AppLanguage::zh);
  EXPECT_EQ(named<Label>(alone, "restoreNoBackup")->text(), "备份已损坏，无法恢复");
}

}  // namespace
}  // namespace tlr
