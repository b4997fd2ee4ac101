#include "backup/BackupVolume.h"

#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using tlr::BackupVolume;
using tlr::Defaults;

TEST(BackupVolumeLocation, IsTheDefaultUntilRecordedAndReadAsAnAbsolutePath) {
  tlr::test::TempHome home;
  const QString fallback = home.path() + "/TLR 备份.sparsebundle";
  EXPECT_EQ(BackupVolume::defaultImagePath(), fallback);
  EXPECT_EQ(BackupVolume::imageURL(), fallback);
  EXPECT_FALSE(BackupVolume::hasRecordedLocation());
  EXPECT_FALSE(BackupVolume::exists());
  QDir().mkpath(fallback);
  EXPECT_TRUE(BackupVolume::exists());

  Defaults::shared().set(BackupVolume::locationKey(), QString("~/images/b.sparsebundle"));
  EXPECT_TRUE(BackupVolume::hasRecordedLocation());
  EXPECT_EQ(BackupVolume::imageURL(), home.path() + "/images/b.sparsebundle");
  EXPECT_FALSE(BackupVolume::exists());
  QDir().mkpath(home.path() + "/images/b.sparsebundle");
  EXPECT_TRUE(BackupVolume::exists());

  Defaults::shared().set(BackupVolume::locationKey(), QString("relative/b.sparsebundle"));
  EXPECT_EQ(BackupVolume::imageURL(), fallback);
  Defaults::shared().set(BackupVolume::locationKey(), 12);
  EXPECT_EQ(BackupVolume::imageURL(), fallback);
  EXPECT_FALSE(BackupVolume::hasRecordedLocation());

  BackupVolume::setImageURL(home.path() + "/x/../TLR 备份.sparsebundle/");
  EXPECT_EQ(Defaults::shared().string(BackupVolume::locationKey()), home.path() + "/TLR 备份.sparsebundle");
  EXPECT_EQ(BackupVolume::mountPoint(), tlr::Paths::volumesRoot() + "/TLR 备份");
}

