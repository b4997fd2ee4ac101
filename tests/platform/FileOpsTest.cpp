#include "platform/FileOps.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tlr;

TEST(FileOpsRemoval, AFolderGoesWithItsContentsButNotThroughLinks) {
  QTemporaryDir dir;
  const QString root = dir.path();
  QDir().mkpath(root + "/victim/deep/deeper");
  QDir().mkpath(root + "/kept");
  QFile(root + "/kept/data").open(QIODevice::WriteOnly);
  QFile(root + "/victim/deep/deeper/file").open(QIODevice::WriteOnly);
  QFile::link(root + "/kept", root + "/victim/deep/link");
  EXPECT_EQ(FileOps::removeItem(root + "/victim"), "");
  EXPECT_FALSE(QFileInfo::exists(root + "/victim"));
  EXPECT_TRUE(QFileInfo::exists(root + "/kept/data"));

  QFile::link(root + "/kept", root + "/top-link");
  EXPECT_EQ(FileOps::removeItem(root + "/top-link"), "");
  EXPECT_TRUE(QFileInfo::exists(root + "/kept/data"));
  EXPECT_TRUE(FileOps::removeItem(root + "/missing").endsWith("No such file or directory"));
}

TEST(FileOpsAtomicWrite, ReplacesThroughLinksAndRefusesLoops) {
  QTemporaryDir dir;
  const QString root = dir.path();
  QFile::link(root + "/target", root + "/dangling");
  EXPECT_EQ(FileOps::writeAtomically(root + "/dangling", "new\n"), "");
  EXPECT_TRUE(QFileInfo(root + "/dangling").isSymLink());
  EXPECT_EQ(test::readFile(root + "/target"), "new\n");

  QFile::link(root + "/b", root + "/a");
  QFile::link(root + "/a", root + "/b");
  EXPECT_FALSE(FileOps::writeAtomically(root + "/a", "x").isEmpty());
  EXPECT_FALSE(FileOps::writeAtomically(root + "/no-such-folder/file", "x").isEmpty());
  EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System).size(), 4);
}

TEST(FileOpsNul, APathHoldingANulIsRefusedWhole) {
  QTemporaryDir dir;
  const QString root = dir.path();
  QDir().mkpath(root + "/kept/inner");
  QFile(root + "/kept/inner/data").open(QIODevice::WriteOnly);
  const QString cut = root + "/kept" + QChar(0) + "/gone";
  EXPECT_TRUE(FileOps::removeItem(cut).contains("NUL"));
  EXPECT_TRUE(FileOps::removeItem(root + "/kept/" + QChar(0)).contains("NUL"));
  EXPECT_TRUE(QFileInfo::exists(root + "/kept/inner/data"));
  EXPECT_FALSE(FileOps::itemInfo(cut).has_value());
  EXPECT_EQ(FileOps::allocatedSizeBelow(root + "/kept/" + QChar(0)), 0u);
  EXPECT_FALSE(FileOps::writeAtomically(root + "/kept/inner/data" + QChar(0) + "x", "new").isEmpty());
  EXPECT_EQ(test::readFile(root + "/kept/inner/data"), "");
  EXPECT_EQ(FileOps::readFile(root + "/kept/inner/data" + QChar(0), 10).status, FileOps::ReadResult::Status::failed);
}
