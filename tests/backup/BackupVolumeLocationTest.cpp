#include "backup/BackupVolume.h"

#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using tlr::BackupVolume;
using tlr::Defaults;

TEST(BackupVolumeLocation, IsAbsentUntilRecordedAndReadAsAnAbsolutePath) {
  tlr::test::TempHome home;
  EXPECT_FALSE(BackupVolume::imageURL());
  EXPECT_FALSE(BackupVolume::exists());
  EXPECT_EQ(BackupVolume::defaultImagePath(), home.path() + "/TLR 备份.sparsebundle");

  Defaults::shared().set(BackupVolume::locationKey(), QString("~/images/b.sparsebundle"));
  EXPECT_EQ(BackupVolume::imageURL(), home.path() + "/images/b.sparsebundle");
  EXPECT_FALSE(BackupVolume::exists());
  QDir().mkpath(home.path() + "/images/b.sparsebundle");
  EXPECT_TRUE(BackupVolume::exists());

  Defaults::shared().set(BackupVolume::locationKey(), QString("relative/b.sparsebundle"));
  EXPECT_FALSE(BackupVolume::imageURL());
  Defaults::shared().set(BackupVolume::locationKey(), 12);
  EXPECT_FALSE(BackupVolume::imageURL());

  BackupVolume::setImageURL(home.path() + "/x/../TLR 备份.sparsebundle/");
  EXPECT_EQ(Defaults::shared().string(BackupVolume::locationKey()), home.path() + "/TLR 备份.sparsebundle");
  EXPECT_EQ(BackupVolume::mountPoint(), tlr::Paths::volumesRoot() + "/TLR 备份");
}

