#include "platform/FileOps.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// One of our own files is replaced whole and never written through what
// stands at its path: a link to a user's document, a link loop, a FIFO.
TEST(FileOpsOwnFile, ReplacesLinksAndSpecialFilesInsteadOfWritingThroughThem) {
  QTemporaryDir dir;
  const QString root = dir.path();
  const test::LinkedDocument document(root + "/network-log.json");
  EXPECT_EQ(FileOps::writeOwnFile(root + "/network-log.json", "ours\n"), "");
  EXPECT_TRUE(document.untouched());
  EXPECT_TRUE(document.replacedByAFile());
  EXPECT_EQ(test::readBytes(root + "/network-log.json"), "ours\n");

  QFile::link(root + "/b", root + "/a");
  QFile::link(root + "/a", root + "/b");
  EXPECT_EQ(FileOps::writeOwnFile(root + "/a", "x"), "");
  EXPECT_EQ(test::readBytes(root + "/a"), "x");

  ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/fifo").constData(), 0600), 0);
  EXPECT_EQ(FileOps::writeOwnFile(root + "/fifo", "y"), "");
  EXPECT_EQ(test::readBytes(root + "/fifo"), "y");

  EXPECT_FALSE(FileOps::writeOwnFile(root + "/no-such-folder/file", "x").isEmpty());
  // No temporary file is left behind.
  EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
            (QStringList{"a", "b", "fifo", "network-log.json"}));
}

TEST(FileOpsOwnFile, KeepsThePermissionsOfTheFileItReplacesOrMakesItTheOwnersOnly) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/entry";
  ASSERT_EQ(FileOps::writeOwnFile(path, "1"), "");
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  ASSERT_EQ(FileOps::writeOwnFile(path, "2"), "");
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(FileOps::writeOwnFile(path, "3", FileOps::OwnFileAccess::ownerOnly), "");
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
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
  EXPECT_FALSE(FileOps::writeOwnFile(root + "/kept/inner/data" + QChar(0) + "x", "new").isEmpty());
  EXPECT_EQ(test::readFile(root + "/kept/inner/data"), "");
  EXPECT_EQ(FileOps::readFile(root + "/kept/inner/data" + QChar(0), 10).status, FileOps::ReadResult::Status::failed);
}
