#include "platform/DiskImage.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace DiskImage = tlr::DiskImage;

TEST(DiskImageMountTable, OnlyTheTopGocryptfsMountOfThisImageCounts) {
  tlr::test::TempHome home;
  const QString image = home.path() + "/TLR 备份.sparsebundle";
  const QString point = home.path() + "/vol/TLR 备份";
  QDir().mkpath(image);
  QDir().mkpath(point);
  auto escaped = [](QString p) { return p.replace(" ", "\\040"); };
  auto table = [&](const QStringList& lines) {
    return home.writeFile("mountinfo", (lines.join("\n") + "\n").toUtf8());
  };
  const QString ours = "45 27 0:40 / " + escaped(point) + " rw,nosuid - fuse.gocryptfs " + escaped(image) +
                       " rw,user_id=0";
  const QString tmpfs = "46 45 0:41 / " + escaped(point) + " rw shared:5 - tmpfs tmpfs rw";
  const QString otherImage = "45 27 0:40 / " + escaped(point) + " rw - fuse.gocryptfs /elsewhere rw";

  EXPECT_TRUE(DiskImage::isMounted(image, point, table({"1 0 8:1 / / rw - ext4 /dev/sda1 rw", ours})));
  EXPECT_TRUE(DiskImage::isMounted(image + "/", point + "/", table({ours})));
  EXPECT_FALSE(DiskImage::isMounted(image, point, table({ours, tmpfs})));
  EXPECT_FALSE(DiskImage::isMounted(image, point, table({otherImage})));
  EXPECT_FALSE(DiskImage::isMounted(image, point, table({"1 0 8:1 / / rw - ext4 /dev/sda1 rw"})));
  EXPECT_FALSE(DiskImage::isMounted(image, point, home.path() + "/no-such-table"));

  const auto entries = DiskImage::readMountInfo(table({ours}));
  ASSERT_EQ(entries.size(), 1);
  EXPECT_EQ(entries[0].mountPoint, point);
  EXPECT_EQ(entries[0].source, image);
}

TEST(DiskImageSizes, SumsSizesWithoutFollowingLinks) {
  tlr::test::TempHome home;
  home.writeFile("d/a", QByteArray(1000, 'a'));
  home.writeFile("d/sub/b", QByteArray(24, 'b'));
  home.writeFile("big", QByteArray(1 << 20, 'c'));
  ASSERT_TRUE(QFile::link(home.path() + "/big", home.path() + "/d/link"));
  // 2 GB with one 4 KB piece of data: what a copy writes, not its size.
  QFile sparse(home.path() + "/d/sparse");
  ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
  sparse.seek(1 << 30);
  sparse.write(QByteArray(4096, 's'));
  sparse.resize(2LL << 30);
  sparse.close();
  EXPECT_LE(DiskImage::directorySize(home.path() + "/d"), 1024 + 8192);
  EXPECT_GE(DiskImage::directorySize(home.path() + "/d"), 1024 + 4096);
  EXPECT_EQ(DiskImage::directorySize(home.path() + "/missing"), 0);
  const auto free = DiskImage::freeBytes(home.path());
  ASSERT_TRUE(free);
  EXPECT_GT(*free, 0);
  EXPECT_FALSE(DiskImage::freeBytes(home.path() + "/missing"));
}

TEST(DiskImageRename, NeverReplacesWhatIsThere) {
  tlr::test::TempHome home;
  QDir().mkpath(home.path() + "/new");
  QDir().mkpath(home.path() + "/taken");
  EXPECT_FALSE(DiskImage::renameNoReplace(home.path() + "/new", home.path() + "/taken"));
  EXPECT_TRUE(QFileInfo::exists(home.path() + "/new"));
  EXPECT_TRUE(DiskImage::renameNoReplace(home.path() + "/new", home.path() + "/free"));
  EXPECT_TRUE(QFileInfo::exists(home.path() + "/free"));
}
