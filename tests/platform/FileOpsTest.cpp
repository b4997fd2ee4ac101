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
  EXPECT_TRUE(FileOps::removeItem(root + "/victim"));
  EXPECT_FALSE(QFileInfo::exists(root + "/victim"));
  EXPECT_TRUE(QFileInfo::exists(root + "/kept/data"));

  QFile::link(root + "/kept", root + "/top-link");
  EXPECT_TRUE(FileOps::removeItem(root + "/top-link"));
  EXPECT_TRUE(QFileInfo::exists(root + "/kept/data"));
  EXPECT_TRUE(FileOps::removeItem(root + "/missing").error().endsWith("No such file or directory"));
}

// One of our own files is replaced whole and never written through what
// stands at its path: a link to a user's document, a link loop, a FIFO.
TEST(FileOpsOwnFile, ReplacesLinksAndSpecialFilesInsteadOfWritingThroughThem) {
  QTemporaryDir dir;
  const QString root = dir.path();
  const test::LinkedDocument document(root + "/network-log.json");
  EXPECT_TRUE(FileOps::writeOwnFile(root + "/network-log.json", "ours\n"));
  EXPECT_TRUE(document.untouched());
  EXPECT_TRUE(document.replacedByAFile());
  EXPECT_EQ(test::readBytes(root + "/network-log.json"), "ours\n");

  QFile::link(root + "/b", root + "/a");
  QFile::link(root + "/a", root + "/b");
  EXPECT_TRUE(FileOps::writeOwnFile(root + "/a", "x"));
  EXPECT_EQ(test::readBytes(root + "/a"), "x");

  ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/fifo").constData(), 0600), 0);
  EXPECT_TRUE(FileOps::writeOwnFile(root + "/fifo", "y"));
  EXPECT_EQ(test::readBytes(root + "/fifo"), "y");

  EXPECT_FALSE(FileOps::writeOwnFile(root + "/no-such-folder/file", "x"));
  // No temporary file is left behind.
  EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
            (QStringList{"a", "b", "fifo", "network-log.json"}));
}

// Under umask 000 our folders came out 0777 and our files 0666: another
// user could swap them. Folders above ours that exist are not ours to change.
TEST(FileOpsOwnFile, FoldersAndFilesOfOursAreTheOwnersOnlyWhateverTheUmask) {
  QTemporaryDir dir;
  const QString base = dir.path() + "/base";
  ASSERT_TRUE(QDir().mkpath(base));
  ASSERT_EQ(::chmod(QFile::encodeName(base).constData(), 0755), 0);
  const mode_t previous = ::umask(0);
  EXPECT_TRUE(FileOps::makeOwnFolder(base + "/made/on/the/way/Tollamere"));
  const QString path = base + "/made/entry";
  EXPECT_TRUE(FileOps::writeOwnFile(path, "1"));
  ::umask(previous);
  for (const char* folder : {"/made", "/made/on/the", "/made/on/the/way/Tollamere"})
    EXPECT_EQ(test::modeOf(base + folder), 0700u) << folder;
  EXPECT_EQ(test::modeOf(base), 0755u);
  EXPECT_EQ(test::modeOf(path), 0600u);

  // One left open by an earlier start is closed again, and so is a file.
  ASSERT_EQ(::chmod(QFile::encodeName(base + "/made").constData(), 0777), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0666), 0);
  EXPECT_TRUE(FileOps::makeOwnFolder(base + "/made"));
  EXPECT_TRUE(FileOps::writeOwnFile(path, "2"));
  EXPECT_EQ(test::modeOf(base + "/made"), 0700u);
  EXPECT_EQ(test::modeOf(path), 0600u);
  // The base folders only get made.
  EXPECT_TRUE(FileOps::makeFolders(base));
  EXPECT_EQ(test::modeOf(base), 0755u);
  EXPECT_FALSE(FileOps::makeOwnFolder(path + "/below-a-file"));
}

TEST(FileOpsNul, APathHoldingANulIsRefusedWhole) {
  QTemporaryDir dir;
  const QString root = dir.path();
  QDir().mkpath(root + "/kept/inner");
  QFile(root + "/kept/inner/data").open(QIODevice::WriteOnly);
  const QString cut = root + "/kept" + QChar(0) + "/gone";
  EXPECT_TRUE(FileOps::removeItem(cut).error().contains("NUL"));
  EXPECT_TRUE(FileOps::removeItem(root + "/kept/" + QChar(0)).error().contains("NUL"));
  EXPECT_TRUE(QFileInfo::exists(root + "/kept/inner/data"));
  EXPECT_FALSE(FileOps::itemInfo(cut).has_value());
  EXPECT_EQ(FileOps::allocatedSizeBelow(root + "/kept/" + QChar(0)), 0u);
  EXPECT_FALSE(FileOps::writeOwnFile(root + "/kept/inner/data" + QChar(0) + "x", "new"));
  EXPECT_EQ(test::readFile(root + "/kept/inner/data"), "");
  EXPECT_EQ(FileOps::readFile(root + "/kept/inner/data" + QChar(0), 10).status, FileOps::ReadResult::Status::failed);
}
