#include "presentation/USBMigrationSession.h"

#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/USBMigration.h"
#include "core/stores/SettingsStore.h"

#include "support/VolumeFixture.h"

#include <QDir>

#include <atomic>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace tlr {
namespace {

using test::waitUntil;

class USBMigrationSessionTest : public test::VolumeTest {
 protected:
  void SetUp() override {
    test::VolumeTest::SetUp();
    if (IsSkipped()) return;
    language_ = SettingsStore::shared().language();
    SettingsStore::shared().setLanguage(AppLanguage::en);
    stick_ = home_.path() + "/media/STICK";
    ASSERT_TRUE(QDir().mkpath(stick_));
  }
  void TearDown() override {
    if (!stick_.isEmpty()) SettingsStore::shared().setLanguage(language_);
    test::VolumeTest::TearDown();
  }
  std::unique_ptr<USBMigrationSession> open(USBMigrationSession::Mode mode, QStringList volumes) {
    auto session = std::make_unique<USBMigrationSession>(mode, QList<AgentEntry>{agentWithData("alpha", {{"n", "n"}})},
                                                         [volumes] { return volumes; });
    session->refreshVolumes();
    EXPECT_TRUE(waitUntil([&] { return !session->isListing(); }));
    return session;
  }
  static bool finished(const USBMigrationSession& session) {
    return waitUntil([&] { return !session.isRunning(); }, std::chrono::seconds(60));
  }

  AppLanguage language_ = AppLanguage::en;
  QString stick_;
};

class USBMigrationSessionWithoutImageTest : public USBMigrationSessionTest {
  bool needsVolume() const override { return false; }
};

TEST_F(USBMigrationSessionTest, AnImportWhosePasswordWasRefusedOnlyProvesTheNextOneOnThePlacedImage) {
  // The old machine's image, exported to the stick.
  const QString old = home_.path() + "/old-machine/TLR 备份.sparsebundle";
  QDir().mkpath(home_.path() + "/old-machine");
  ASSERT_TRUE(BackupVolume::create(old, "right-password").ok());
  {
    auto exporter = open(USBMigrationSession::Mode::exportPkg, {stick_});
    EXPECT_EQ(exporter->selection(), stick_);
    EXPECT_TRUE(exporter->canStart(false)) << "an export needs no password";
    exporter->start();
    EXPECT_TRUE(exporter->isRunning());
    ASSERT_TRUE(finished(*exporter));
    ASSERT_TRUE(exporter->isDone()) << exporter->statusText().toStdString();
    ASSERT_TRUE(exporter->exportProgress().has_value());
    EXPECT_EQ(exporter->exportProgress()->filesWritten, exporter->exportProgress()->filesTotal);
    EXPECT_FALSE(exporter->canStart(false)) << "done";
  }
  // The new machine: no image, no stored password.
  BackupVolume::setImageURL(home_.path() + "/nothing-here");
  EXPECT_TRUE(PasswordVault::removeStored());
  PasswordVault::clearCachedPassword();

  auto session = open(USBMigrationSession::Mode::importPkg, {stick_});
  ASSERT_TRUE(waitUntil([&] { return session->preview().has_value(); }, std::chrono::seconds(20)));
  EXPECT_FALSE(session->canStart(false)) << "no password typed";
  EXPECT_TRUE(session->canStart(true));
  int ended = 0;
  QObject::connect(session.get(), &USBMigrationSession::importEnded, [&] { ++ended; });
  session->start("wrong-password");
  ASSERT_TRUE(finished(*session));
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(session->isDone());
  ASSERT_TRUE(session->statusIsFailure());
  EXPECT_EQ(session->statusText(), "The password is wrong: the encrypted backup image stays locked.");
  EXPECT_FALSE(PasswordVault::openStored().has_value()) << "a refused password is not kept";
  // The copied image stays in place as the backup image.
  EXPECT_EQ(BackupVolume::imageURL(), USBMigrationSession::importedImagePath());

  // With the package gone from the stick, only the placed image can take the
  // next password.
  ASSERT_TRUE(QDir(stick_ + "/" + USBMigration::kPackageName).removeRecursively());
  session->start("right-password");
  EXPECT_EQ(session->statusText(), "") << "the last failure goes when the next try starts";
  ASSERT_TRUE(finished(*session));
  EXPECT_EQ(ended, 2);
  ASSERT_TRUE(session->isDone()) << session->statusText().toStdString();
  EXPECT_FALSE(session->statusIsFailure());
  EXPECT_THAT(session->statusText().toStdString(),
              ::testing::StartsWith(("✓ Imported the encrypted backup image into " + home_.path() + "\n").toStdString()));
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), QStringLiteral("right-password"));
  ASSERT_TRUE(BackupVolume::mount("right-password").ok());
}

TEST_F(USBMigrationSessionTest, AnImportRefusedBecauseAnImageIsHereAlreadyIsRefusedOnEveryTry) {
  // This machine's own image, at the place an import would put one, exported
  // to the stick.
  createImage("here-password");
  ASSERT_EQ(BackupVolume::imageURL(), USBMigrationSession::importedImagePath());
  {
    auto exporter = open(USBMigrationSession::Mode::exportPkg, {stick_});
    exporter->start();
    ASSERT_TRUE(finished(*exporter));
    ASSERT_TRUE(exporter->isDone()) << exporter->statusText().toStdString();
  }
  auto session = open(USBMigrationSession::Mode::importPkg, {stick_});
  ASSERT_TRUE(waitUntil([&] { return session->preview().has_value(); }, std::chrono::seconds(20)));
  const char* refused =
      "The import failed: this computer already has a backup image. Back it up or move it away first.";
  for (int attempt = 0; attempt < 2; ++attempt) {
    // The image that was here is not the session's to prove a password on.
    session->start("here-password");
    ASSERT_TRUE(finished(*session));
    EXPECT_FALSE(session->isDone()) << "attempt " << attempt;
    EXPECT_EQ(session->statusText(), refused) << "attempt " << attempt;
  }
}

TEST_F(USBMigrationSessionWithoutImageTest, AnImportChoosesTheVolumeWithAPackageAndSaysWhyItCannotBeRead) {
  const QString other = home_.path() + "/media/OTHER";
  QDir().mkpath(other);
  // A package whose manifest does not decode.
  test::writeBytes(stick_ + "/" + USBMigration::kPackageName + "/" + USBMigration::kManifestName, "{ not json");
  auto session = open(USBMigrationSession::Mode::importPkg, {other, stick_});
  EXPECT_EQ(session->selection(), stick_) << "the volume with a package";
  EXPECT_EQ(session->volumeLabel(0), "OTHER");
  EXPECT_EQ(session->volumeLabel(1), "STICK  ·  Migration package found");
  ASSERT_TRUE(waitUntil([&] { return session->statusIsFailure(); }));
  EXPECT_FALSE(session->preview().has_value());
  EXPECT_FALSE(session->statusText().isEmpty());
  EXPECT_FALSE(session->canStart(true));

  // A stick that is slow to answer never holds the window: the listing runs
  // on while the call returns, and shows what it found when done.
  std::atomic<bool> answer{false};
  USBMigrationSession slow(USBMigrationSession::Mode::importPkg, {}, [&answer, this] {
    for (int i = 0; i < 500 && !answer; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return QStringList{stick_};
  });
  slow.refreshVolumes();
  EXPECT_TRUE(slow.isListing());
  EXPECT_TRUE(slow.volumes().isEmpty());
  answer = true;
  ASSERT_TRUE(waitUntil([&] { return !slow.isListing(); }));
  EXPECT_EQ(slow.volumes(), QStringList{stick_});
  EXPECT_EQ(slow.selection(), stick_);

  session->select(other);
  EXPECT_EQ(session->selection(), other);
  EXPECT_FALSE(session->statusIsFailure());
  EXPECT_EQ(session->statusText(), "");
  // A volume that is not listed cannot be chosen.
  session->select(home_.path());
  EXPECT_EQ(session->selection(), other);
}

TEST_F(USBMigrationSessionWithoutImageTest, EtaAndSpeedTexts) {
  USBMigration::ExportProgress p;
  EXPECT_EQ(USBMigrationSession::etaText(p), "Calculating time left…");
  p.bytesTotal = 100'000'000;
  p.bytesWritten = 40'000'000;
  p.bytesPerSecond = 2'000'000;
  EXPECT_EQ(USBMigrationSession::etaText(p), "30s left");
  EXPECT_EQ(USBMigrationSession::speedText(p), "2.0 MB/s");
  p.bytesPerSecond = 500'000;
  EXPECT_EQ(USBMigrationSession::etaText(p), "2m left");
}

}  // namespace
}  // namespace tlr
