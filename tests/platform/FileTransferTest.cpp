#include "platform/FileTransfer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tlr;

namespace {

using tlr::test::writeBytes;
using tlr::test::readBytes;

unsigned modeOf(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0xffff;
}

QStringList names(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(FileTransfer, CopyNewKeepsPermissionsWithoutSetIdAndNeverOverwrites) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src", QByteArray(3 << 20, 'q'));
  ::chmod(QFile::encodeName(dir.path() + "/src").constData(), 04751);
  EXPECT_TRUE(FileTransfer::copyNew(dir.path() + "/src", dir.path() + "/dst"));
  EXPECT_EQ(readBytes(dir.path() + "/dst").size(), 3 << 20);
  EXPECT_EQ(modeOf(dir.path() + "/dst"), 0751u);

  writeBytes(dir.path() + "/taken", "old");
  EXPECT_FALSE(FileTransfer::copyNew(dir.path() + "/src", dir.path() + "/taken"));
  EXPECT_EQ(readBytes(dir.path() + "/taken"), "old");

  // A link is followed to its file; a FIFO is refused without waiting.
  QFile::link(dir.path() + "/src", dir.path() + "/link");
  EXPECT_TRUE(FileTransfer::copyNew(dir.path() + "/link", dir.path() + "/via-link"));
  EXPECT_EQ(FileTransfer::entry(dir.path() + "/via-link")->kind, FileTransfer::Kind::regular);
  ::mkfifo(QFile::encodeName(dir.path() + "/fifo").constData(), 0600);
  EXPECT_FALSE(FileTransfer::copyNew(dir.path() + "/fifo", dir.path() + "/from-fifo"));
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/from-fifo"));
  EXPECT_EQ(FileTransfer::entry(dir.path() + "/fifo")->kind, FileTransfer::Kind::special);
}

TEST(FileTransfer, ReplaceFileSwapsInOneStepAndLeavesNoTemporary) {
  QTemporaryDir dir;
  const QString target = dir.path() + "/t/config.json";
  writeBytes(target, "old");
  writeBytes(dir.path() + "/s/new", "new");
  EXPECT_TRUE(FileTransfer::replaceFile(dir.path() + "/s/new", target, false));
  EXPECT_EQ(readBytes(target), "new");
  EXPECT_EQ(readBytes(dir.path() + "/s/new"), "new") << "copied, not moved";
  EXPECT_EQ(names(dir.path() + "/t"), QStringList{"config.json"});

  // Moving: the source goes, the target has its content and its mode.
  writeBytes(dir.path() + "/s/moved", "moved");
  ::chmod(QFile::encodeName(dir.path() + "/s/moved").constData(), 06640);
  EXPECT_TRUE(FileTransfer::replaceFile(dir.path() + "/s/moved", target, true));
  EXPECT_EQ(readBytes(target), "moved");
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/s/moved"));
  EXPECT_EQ(modeOf(target), 0640u);

  // A file with a second name is copied even when moving is allowed.
  writeBytes(dir.path() + "/s/a", "shared");
  ASSERT_TRUE(FileTransfer::hardLink(dir.path() + "/s/a", dir.path() + "/s/b"));
  EXPECT_TRUE(FileTransfer::replaceFile(dir.path() + "/s/a", target, true));
  EXPECT_TRUE(QFileInfo::exists(dir.path() + "/s/a"));
  EXPECT_EQ(FileTransfer::entry(target)->linkCount, 1u);
}

TEST(FileTransfer, ReplaceFileReplacesALinkItselfAndRefusesAFolder) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/outside", "precious");
  QDir().mkpath(dir.path() + "/t");
  QFile::link(dir.path() + "/outside", dir.path() + "/t/link");
  writeBytes(dir.path() + "/new", "new");
  EXPECT_TRUE(FileTransfer::replaceFile(dir.path() + "/new", dir.path() + "/t/link", false));
  EXPECT_EQ(readBytes(dir.path() + "/outside"), "precious") << "never written through a link";
  EXPECT_EQ(FileTransfer::entry(dir.path() + "/t/link")->kind, FileTransfer::Kind::regular);

  QDir().mkpath(dir.path() + "/t/folder/inside");
  EXPECT_FALSE(FileTransfer::replaceFile(dir.path() + "/new", dir.path() + "/t/folder", false));
  EXPECT_TRUE(QFileInfo(dir.path() + "/t/folder/inside").isDir());
  EXPECT_EQ(names(dir.path() + "/t"), (QStringList{"folder", "link"}));
}

TEST(FileTransfer, RenameFolderIntoPlaceExchangesWithAnExistingFolder) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/.partial/file", "new");
  EXPECT_TRUE(FileTransfer::renameFolderIntoPlace(dir.path() + "/.partial", dir.path() + "/label"));
  EXPECT_EQ(readBytes(dir.path() + "/label/file"), "new");

  writeBytes(dir.path() + "/.partial2/file", "newer");
  EXPECT_TRUE(FileTransfer::renameFolderIntoPlace(dir.path() + "/.partial2", dir.path() + "/label"));
  EXPECT_EQ(readBytes(dir.path() + "/label/file"), "newer");
  EXPECT_EQ(names(dir.path()), QStringList{"label"});
}
