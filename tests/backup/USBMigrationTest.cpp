#include "backup/USBMigration.h"

#include "EngineTestSupport.h"
#include "backup/BackupEngine.h"
#include "backup/BackupManifest.h"
#include "backup/BackupVolume.h"
#include "backup/VolumeLock.h"
#include "backup/PasswordVault.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "support/RegistryJson.h"
#include "support/TestSupport.h"
#include "support/VolumeFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;
using namespace tlr::test;
using Case = USBMigration::Error::Case;

namespace {

const QString kPassword = QStringLiteral("correct horse 电池");

AgentEntry installable(const QString& id, const QString& kind, const QString& install) {
  return entryFromJson(QStringLiteral(R"("id":"%1","displayName":"%1","displayNameEN":"%1 EN","vendor":"v",
      "kind":"%2","identify":{}%3)")
                           .arg(id, kind, install)
                           .toUtf8());
}

class USBMigrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    usb = home.path() + "/usb-stick";
    QDir().mkpath(usb);
  }
  void TearDown() override { BackupVolume::unmount(); }

  // A real encrypted image at the default place, holding one file. Where
  // this user may not attach one (no FUSE for it), the test is skipped with
  // the reason.
  void makeImage() {
    if (const std::optional<QString> why = encryptedVolumeUnavailable()) GTEST_SKIP() << why->toStdString();
    const auto created = BackupVolume::create(BackupVolume::defaultImagePath(), kPassword);
    ASSERT_TRUE(created.ok()) << created.error().localizedDescription().toStdString();
    const auto mounted = BackupVolume::mount(kPassword);
    ASSERT_TRUE(mounted.ok()) << mounted.error().localizedDescription().toStdString();
    writeFile(BackupVolume::mountPoint() + "/snapshots/2026-01-01_00-00-00/manifest.json", "{}");
    BackupVolume::unmount();
  }

  TempHome home;
  QString usb;
};

}  // namespace

TEST_F(USBMigrationTest, ExportWithoutAnImageChangesNothing) {
  const auto result = USBMigration::exportToWithProgress(usb, {}, {}, {});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().description(), "还没有任何备份，请先在备份面板做一次备份");
  EXPECT_TRUE(entries(usb).isEmpty());
}

TEST_F(USBMigrationTest, ExportCopiesTheImageAndWritesTheRecipeLast) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  ASSERT_TRUE(BackupVolume::mount(kPassword).ok());
  writeFile(*BackupVolume::imageURL() + "/.hidden-cache", "not copied");
  QList<USBMigration::ExportProgress> reports;
  const auto result = USBMigration::exportToWithProgress(
      usb,
      {installable("plug", "ide-plugin", R"(,"install":{"commands":[["code","--install-extension","x"]],
          "requires":[]})"),
       installable("bare", "cli", "")},
      [] { return false; }, [&](const USBMigration::ExportProgress& p) { reports << p; });
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  EXPECT_FALSE(BackupVolume::isMounted()) << "export unmounts the backup volume";
  EXPECT_TRUE(USBMigration::hasMigrationPackage(usb));
  const QString copied = usb + "/Tollamere-Migration/TLR 备份.sparsebundle";
  EXPECT_TRUE(QFileInfo::exists(copied + "/gocryptfs.conf"));
  EXPECT_FALSE(QFileInfo::exists(copied + "/.hidden-cache"));
  ASSERT_FALSE(reports.isEmpty());
  EXPECT_EQ(reports.last().filesWritten, reports.last().filesTotal);
  EXPECT_EQ(reports.last().bytesWritten, reports.last().bytesTotal);
  EXPECT_EQ(reports.first().filesWritten, 1);

  const auto preview = USBMigration::preview(usb);
  ASSERT_TRUE(preview.ok());
  ASSERT_EQ(preview.value().recipe.size(), 1) << "an agent without an install recipe is left out";
  const auto& item = preview.value().recipe.first();
  EXPECT_EQ(item.displayName, "plug EN");
  EXPECT_EQ(item.installType, "plugin");
  EXPECT_EQ(item.requires_, QStringList());
  EXPECT_FALSE(item.officialUrl.has_value());
  EXPECT_EQ(preview.value().backupTotalBytes, reports.last().bytesTotal);

  // A second export leaves one package, the second.
  ASSERT_TRUE(USBMigration::exportToWithProgress(usb, {}, {}, {}).ok());
  EXPECT_TRUE(USBMigration::preview(usb).value().recipe.isEmpty());
}

// The stick is written by the same rule as a restore's folders: one of the
// user's own that withholds writing is opened for the export and keeps its
// bits; one of another owner is refused.
TEST_F(USBMigrationTest, AStickFolderOfTheUsersOwnIsWrittenAndAnotherOwnersIsRefused) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  ::chmod(QFile::encodeName(usb).constData(), 0555);
  {
    tlr::test::AsOrdinaryUser ordinary;
    const auto exported = USBMigration::exportToWithProgress(usb, {}, {}, {});
    ASSERT_TRUE(exported.ok()) << exported.error().description().toStdString();
  }
  EXPECT_TRUE(USBMigration::hasMigrationPackage(usb));
  EXPECT_EQ(tlr::test::modeOf(usb), 0555u);
  if (::geteuid() != 0) return;  // giving it to another owner takes root
  ASSERT_EQ(::chown(QFile::encodeName(usb).constData(), 65534, 65534), 0);
  tlr::test::AsOrdinaryUser ordinary;
  const auto refused = USBMigration::exportToWithProgress(usb, {}, {}, {});
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().kind, Case::usbNotWritable);
}

TEST_F(USBMigrationTest, ACancelledOrKilledExportLeavesTheEarlierPackageWhole) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  int reports = 0;
  const auto nothing =
      USBMigration::exportToWithProgress(usb, {}, [] { return true; }, [&](const auto&) { ++reports; });
  ASSERT_FALSE(nothing.ok());
  EXPECT_EQ(nothing.error().kind, Case::cancelled);
  EXPECT_EQ(reports, 0);
  EXPECT_TRUE(entries(usb).isEmpty()) << entries(usb).join(' ').toStdString();

  ASSERT_TRUE(USBMigration::exportToWithProgress(usb, {installable("plug", "cli", R"(,"install":{})")}, {}, {}).ok());
  // A large file in the image: the next export is cancelled inside it, after
  // some of it went to the stick. What a killed export left is cleared.
  const qint64 large = 3 * FileTransfer::kCopyPiece + 5;
  writeFile(*BackupVolume::imageURL() + "/large.bin", QByteArray(large, 'L'));
  writeFile(usb + "/.Tollamere-Migration.new-killed/TLR 备份.sparsebundle/x", "left by a killed export");
  QList<USBMigration::ExportProgress> seen;
  int asked = 0;
  const auto cancelled = USBMigration::exportToWithProgress(
      usb, {},
      [&] {
        // Asked before each file and between pieces; the stick holds a piece
        // of the large file when the second piece of it is asked about.
        const qint64 onStick = QFileInfo(usb).exists() ? [&] {
          qint64 size = 0;
          for (const QString& hidden : QDir(usb).entryList({".Tollamere-Migration.new-*"}, QDir::Dirs | QDir::Hidden))
            size = std::max(size, QFileInfo(usb + "/" + hidden + "/TLR 备份.sparsebundle/large.bin").size());
          return size;
        }() : 0;
        ++asked;
        return onStick >= 2 * FileTransfer::kCopyPiece;
      },
      [&](const USBMigration::ExportProgress& p) { seen << p; });
  ASSERT_FALSE(cancelled.ok());
  EXPECT_EQ(cancelled.error().kind, Case::cancelled);
  EXPECT_GT(asked, 2);
  EXPECT_EQ(entries(usb), QStringList{"Tollamere-Migration"}) << "the new folder and the leftover are gone";
  const auto preview = USBMigration::preview(usb);
  ASSERT_TRUE(preview.ok());
  EXPECT_EQ(preview.value().recipe.size(), 1) << "the earlier package as it was";
  EXPECT_FALSE(QFileInfo::exists(usb + "/Tollamere-Migration/TLR 备份.sparsebundle/large.bin"));
  for (const auto& p : seen) {
    EXPECT_LE(p.bytesWritten, p.bytesTotal);
    EXPECT_LT(p.bytesPerSecond, 1e12);
  }
}

TEST_F(USBMigrationTest, ImportWithTheRightAndAWrongPassword) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  ASSERT_TRUE(USBMigration::exportToWithProgress(usb, {}, {}, {}).ok());
  // The new machine: no image yet.
  ASSERT_TRUE(FileOps::removeItem(BackupVolume::defaultImagePath()));
  QFile::remove(PasswordVault::vaultURL());

  auto result = USBMigration::importSnapshot(usb, QStringLiteral("wrong password"));
  ASSERT_FALSE(result.ok());
  EXPECT_TRUE(result.error().description().startsWith("挂载加密卷失败：")) << result.error().description().toStdString();
  EXPECT_FALSE(QFileInfo::exists(PasswordVault::vaultURL())) << "a refused password is never sealed";

  // The image stays as the configured one; a second import is refused until
  // it is moved away.
  EXPECT_EQ(BackupVolume::imageURL(), BackupVolume::defaultImagePath());
  result = USBMigration::importSnapshot(usb, kPassword);
  ASSERT_FALSE(result.ok());
  EXPECT_TRUE(result.error().description().startsWith("导入失败：本机已有备份卷在 "));

  ASSERT_TRUE(FileOps::removeItem(BackupVolume::defaultImagePath()));
  result = USBMigration::importSnapshot(usb, kPassword);
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  EXPECT_FALSE(BackupVolume::isMounted());
  EXPECT_TRUE(waitUntil([] { return QFileInfo::exists(PasswordVault::vaultURL()); }));
  ASSERT_TRUE(BackupVolume::mount(kPassword).ok());
  EXPECT_EQ(readAll(BackupVolume::mountPoint() + "/snapshots/2026-01-01_00-00-00/manifest.json"), "{}");
}

TEST_F(USBMigrationTest, AnInterruptedImportNeverBlocksTheNextOne) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  ASSERT_TRUE(USBMigration::exportToWithProgress(usb, {}, {}, {}).ok());
  ASSERT_TRUE(FileOps::removeItem(BackupVolume::defaultImagePath()));
  // What a crash during the copy leaves: a hidden partial copy.
  writeFile(home.path() + "/.TLR 备份.sparsebundle.import-crashed/gocryptfs.conf", "half");
  const auto result = USBMigration::importSnapshot(usb, kPassword);
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/.TLR 备份.sparsebundle.import-crashed"));
}

TEST_F(USBMigrationTest, AVolumeThatWillNotDetachIsNeverCopiedLive) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  ASSERT_TRUE(BackupVolume::mount(kPassword).ok());
  // A file open on the volume keeps it attached: the detach fails.
  QFile busy(BackupVolume::mountPoint() + "/snapshots/2026-01-01_00-00-00/manifest.json");
  ASSERT_TRUE(busy.open(QIODevice::ReadOnly));
  const auto result = USBMigration::exportToWithProgress(usb, {}, {}, {});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, Case::volumeStillMounted);
  EXPECT_EQ(result.error().message().key, LocKey::usbErrStillMounted());
  EXPECT_FALSE(QFileInfo::exists(usb + "/Tollamere-Migration"));
  busy.close();
}

TEST_F(USBMigrationTest, ThePreviewCountsTheAgentsOfTheBackupNotOfTheRecipe) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  // The backup's newest snapshot holds two agents, neither with a recipe.
  ASSERT_TRUE(BackupVolume::mount(kPassword).ok());
  BackupManifest manifest;
  manifest.createdAt = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
  manifest.agents = {{"alpha", "Alpha", 1, 1, {}, {"a"}, {}}, {"beta", "Beta", 1, 1, {}, {"b"}, {}}};
  const QString snapshot = BackupVolume::mountPoint() + "/snapshots/2026-01-02_03-04-05";
  writeFile(snapshot + "/backup.tar.gz", "x");
  manifest.totalBytes = 1;
  writeFile(snapshot + "/manifest.json", manifest.encode());
  ASSERT_TRUE(USBMigration::exportToWithProgress(usb, {installable("bare", "cli", "")}, {}, {}).ok());
  auto preview = USBMigration::preview(usb);
  ASSERT_TRUE(preview.ok());
  EXPECT_TRUE(preview.value().recipe.isEmpty());
  EXPECT_EQ(preview.value().agentCount(), 2);

  // Detached: the summary of the last backup tells.
  writeFile(BackupEngine::lastBackupCachePath(), R"({"agentCount": 3, "storageDisplayName": "本机备份",
      "timestamp": "2026-01-02T03:04:05Z", "totalBytes": 1})");
  ASSERT_TRUE(USBMigration::exportToWithProgress(usb, {}, {}, {}).ok());
  EXPECT_EQ(USBMigration::preview(usb).value().agentCount(), 3);
}

TEST_F(USBMigrationTest, ExportAndImportAreRefusedWhileAnotherOperationUsesTheVolume) {
  ASSERT_NO_FATAL_FAILURE(makeImage());
  if (IsSkipped()) return;
  std::optional<VolumeLock> held = VolumeLock::tryAcquire(BackupVolume::lockPath());
  ASSERT_TRUE(held.has_value());
  auto exported = USBMigration::exportToWithProgress(usb, {}, {}, {});
  ASSERT_FALSE(exported.ok());
  EXPECT_EQ(exported.error().description(), "已有备份正在进行中");
  EXPECT_FALSE(QFileInfo::exists(usb + "/Tollamere-Migration"));
  held.reset();
  ASSERT_TRUE(USBMigration::exportToWithProgress(usb, {}, {}, {}).ok());
  ASSERT_TRUE(FileOps::removeItem(BackupVolume::defaultImagePath()));
  held = VolumeLock::tryAcquire(BackupVolume::lockPath());
  const auto imported = USBMigration::importSnapshot(usb, kPassword);
  ASSERT_FALSE(imported.ok());
  EXPECT_EQ(imported.error().kind, Case::busy);
  EXPECT_FALSE(QFileInfo::exists(BackupVolume::defaultImagePath()));
}

TEST(USBMigrationManifest, NumbersBeyondSixtyFourBitsAreRefusedNotConverted) {
  const QByteArray rest = R"("createdAt":"2026-03-01T09:30:00Z","installRecipe":[],
      "source":{"deviceName":"a","macHashShort":"b","osVersion":"c"})";
  EXPECT_FALSE(USBMigration::MigrationManifest::decode("{\"schemaVersion\":1e300," + rest + "}").has_value());
  EXPECT_FALSE(USBMigration::MigrationManifest::decode("{\"schemaVersion\":-1e300," + rest + "}").has_value());
  EXPECT_FALSE(
      USBMigration::MigrationManifest::decode("{\"schemaVersion\":1,\"backupAgentCount\":1e300," + rest + "}")
          .has_value());
  const auto decoded = USBMigration::MigrationManifest::decode("{\"schemaVersion\":7,\"backupAgentCount\":2," + rest + "}");
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->schemaVersion, 7);
  EXPECT_EQ(decoded->backupAgentCount, 2);
}

TEST(USBMigrationManifest, RoundTripsAndRejectsMissingKeys) {
  USBMigration::MigrationManifest m;
  m.createdAt = QDateTime(QDate(2026, 3, 1), QTime(9, 30), Qt::UTC);
  m.source = {"box", "1a2b3c4d", "Linux 6.1.0"};
  m.installRecipe = {{"a", "A", "cli", QList<QStringList>{{"npm", "i", "-g", "a"}}, "https://a.example", {}}};
  const QByteArray json = m.encode();
  EXPECT_TRUE(json.indexOf("\"createdAt\"") < json.indexOf("\"installRecipe\""));
  EXPECT_FALSE(json.contains("\"requires\""));
  EXPECT_EQ(USBMigration::MigrationManifest::decode(json), m);
  EXPECT_FALSE(USBMigration::MigrationManifest::decode(R"({"schemaVersion":1,"createdAt":"2026-03-01T09:30:00Z",
      "installRecipe":[]})")
                   .has_value());
  EXPECT_FALSE(USBMigration::MigrationManifest::decode(R"({"schemaVersion":1,"createdAt":"2026-03-01T09:30:00.5Z",
      "installRecipe":[],"source":{"deviceName":"a","macHashShort":"b","osVersion":"c"}})")
                   .has_value());
}
