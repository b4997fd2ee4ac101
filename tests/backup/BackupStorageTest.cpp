#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using tlr::BackupStorage;
using tlr::BackupVolume;
using tlr::StorageError;

namespace {

class SnapshotRoot : public ::testing::Test {
 protected:
  QString dir(const QString& name) {
    QDir().mkpath(root() + "/" + name);
    QFile marker(root() + "/" + name + "/backup.tar.gz");
    marker.open(QIODevice::WriteOnly);
    return root() + "/" + name;
  }
  QString root() const { return tmp.path(); }
  QStringList names(const QStringList& paths) const {
    QStringList out;
    for (const QString& p : paths) out << QFileInfo(p).fileName();
    return out;
  }
  QStringList everything() const {
    return QDir(root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
  }
  QTemporaryDir tmp;
};

}  // namespace

TEST(BackupStorageLabels, LabelsUseTheLocalTimeZoneAndAFixedShape) {
  const QByteArray savedTz = qgetenv("TZ");
  qputenv("TZ", "Asia/Shanghai");
  const QDateTime utc(QDate(2025, 3, 1), QTime(1, 15, 9), Qt::UTC);
  EXPECT_EQ(BackupStorage::timestampLabel(utc), "2025-03-01_09-15-09");
  if (savedTz.isNull()) {
    qunsetenv("TZ");
  } else {
    qputenv("TZ", savedTz);
  }

  EXPECT_TRUE(BackupStorage::isTimestampLabel("2025-03-01_09-15-00"));
  for (const char* bad : {"2025-03-01_09-15-00-old", "latest", "2025-03-01 09-15-00", "2025-3-01_09-15-00",
                          "x2025-03-01_09-15-0", "../../etc/x", ""}) {
    EXPECT_FALSE(BackupStorage::isTimestampLabel(bad)) << bad;
  }
}

TEST_F(SnapshotRoot, ListsOnlyLabelFoldersNewestFirstAndPruneLeavesTheRest) {
  dir("2025-03-01_09-15-00");
  dir("2025-03-02_08-00-00");
  dir("2024-12-31_23-59-59");
  dir("2025-03-02_08-00-00-old");
  dir("latest");
  dir(".2025-03-03_08-00-00");
  QFile fileLikeALabel(root() + "/2025-03-04_08-00-00");
  ASSERT_TRUE(fileLikeALabel.open(QIODevice::WriteOnly));
  fileLikeALabel.close();
  QTemporaryDir outside;
  QDir().mkpath(outside.path() + "/kept");
  ASSERT_TRUE(QFile::link(outside.path() + "/kept", root() + "/2025-03-05_08-00-00"));

  EXPECT_EQ(names(BackupStorage::listSnapshotsIn(root())),
            QStringList({"2025-03-02_08-00-00", "2025-03-01_09-15-00", "2024-12-31_23-59-59"}));

  BackupStorage::pruneOldSnapshotsIn(root());
  EXPECT_EQ(everything(), QStringList({".2025-03-03_08-00-00", "2025-03-02_08-00-00", "2025-03-02_08-00-00-old",
                                       "2025-03-04_08-00-00", "2025-03-05_08-00-00", "latest"}));
  EXPECT_TRUE(QFileInfo::exists(outside.path() + "/kept"));
  EXPECT_TRUE(QFileInfo::exists(root() + "/2025-03-02_08-00-00/backup.tar.gz"));
}

TEST_F(SnapshotRoot, PruneKeepsTheNamedSnapshotWhenTheClockWentBack) {
  // A snapshot written at 01:30, then the clock went back an hour and the
  // next one was written at 01:10: the newest snapshot has the lower name.
  dir("2025-11-02_01-30-00");
  dir("2025-10-30_12-00-00");
  const QString written = dir("2025-11-02_01-10-00");
  BackupStorage::pruneSnapshotsIn(root(), "2025-11-02_01-10-00");
  EXPECT_EQ(everything(), QStringList({"2025-11-02_01-10-00"}));
  EXPECT_TRUE(QFileInfo::exists(written + "/backup.tar.gz"));

  // A label that names no snapshot deletes nothing.
  dir("2025-11-03_00-00-00");
  BackupStorage::pruneSnapshotsIn(root(), "2025-11-04_00-00-00");
  EXPECT_EQ(everything().size(), 2);
}

TEST_F(SnapshotRoot, NewFoldersAreMadeOnceAndOnlyUnderTimeLabels) {
  const auto first = BackupStorage::newSnapshotDirectoryIn(root(), QString("2025-03-01_09-15-00"));
  ASSERT_TRUE(first.ok());
  QFile inside(first.value() + "/manifest.json");
  ASSERT_TRUE(inside.open(QIODevice::WriteOnly));
  inside.close();
  const auto again = BackupStorage::newSnapshotDirectoryIn(root(), QString("2025-03-01_09-15-00"));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.value(), first.value());
  EXPECT_TRUE(QFileInfo::exists(first.value() + "/manifest.json"));

  const auto escape = BackupStorage::newSnapshotDirectoryIn(root(), QString("../escape"));
  ASSERT_FALSE(escape.ok());
  EXPECT_EQ(escape.error().kind, StorageError::Kind::invalidLabel);
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(root()).dir().path() + "/escape"));

  QFile blocker(root() + "/2025-03-02_00-00-00");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const auto blocked = BackupStorage::newSnapshotDirectoryIn(root(), QString("2025-03-02_00-00-00"));
  ASSERT_FALSE(blocked.ok());
  EXPECT_EQ(blocked.error().kind, StorageError::Kind::fileSystem);

  const auto now = BackupStorage::newSnapshotDirectoryIn(root());
  ASSERT_TRUE(now.ok());
  EXPECT_TRUE(BackupStorage::isTimestampLabel(QFileInfo(now.value()).fileName()));
}

TEST(BackupStorageVolume, AFolderAtTheMountPointIsNotAnAttachedVolume) {
  tlr::test::TempHome home;
  BackupVolume::setImageURL(home.path() + "/TLR 备份.sparsebundle");
  QDir().mkpath(home.path() + "/TLR 备份.sparsebundle");
  QDir().mkpath(BackupVolume::mountPoint());
  EXPECT_FALSE(BackupVolume::isMounted());
  EXPECT_FALSE(BackupStorage::rootURL());
  EXPECT_TRUE(BackupStorage::listSnapshots().isEmpty());
  const auto r = BackupStorage::newSnapshotDirectory(QString("2025-03-01_09-15-00"));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, StorageError::Kind::volumeNotMounted);
  EXPECT_EQ(r.error().localizedDescription(), "加密备份卷未挂载，无法写入备份。请先在 UI 里初始化加密卷。");
  BackupStorage::pruneOldSnapshots();
  EXPECT_TRUE(QDir(BackupVolume::mountPoint()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}
