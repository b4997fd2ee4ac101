#include "platform/FileOps.h"

#include "platform/Defaults.h"
#include "platform/DiskImage.h"
#include "platform/Paths.h"
#include "platform/UniqueFd.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
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
  EXPECT_TRUE(FileOps::removeItem(root + "/missing").error().reason().endsWith("No such file or directory"));
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

// A late write for a home that was removed meanwhile (work that outlived
// its owner, a test's home) made the home again, with the folders below it,
// and so would a home not mounted yet: the home folder is never made, the
// current one nor the one a writer was given, by a folder of ours, a base
// folder, or the defaults' write.
TEST(FileOpsOwnFile, AHomeThatIsGoneIsNotMadeAgain) {
  const test::TempDir other;
  QString gone;
  {
    test::TempHome home;
    gone = home.path();
    Defaults defaults(gone + "/.config/Tollamere/defaults.json");
    ASSERT_TRUE(FileOps::removeItem(gone));
    EXPECT_FALSE(FileOps::makeOwnFolder(gone + "/.config/Tollamere"));
    EXPECT_FALSE(FileOps::makeFolders(gone + "/.config/autostart"));
    EXPECT_FALSE(FileOps::makeFolders(gone));
    EXPECT_NE(Paths::configFolder(), gone + "/.config/Tollamere");
    // HOME names another folder by the time the defaults write.
    qputenv("HOME", QFile::encodeName(other.path()));
    defaults.set("TLR.language", "en");
    EXPECT_FALSE(defaults.flush());
    EXPECT_FALSE(QFileInfo::exists(gone)) << "made again: " << gone.toStdString();
    // Below a home that is there, the folders are made.
    EXPECT_TRUE(FileOps::makeOwnFolder(other.path() + "/.config/Tollamere"));
  }
  EXPECT_FALSE(QFileInfo::exists(gone));
  static_cast<void>(FileOps::removeItem(gone));
}

TEST(FileOpsNul, APathHoldingANulIsRefusedWhole) {
  QTemporaryDir dir;
  const QString root = dir.path();
  QDir().mkpath(root + "/kept/inner");
  QFile(root + "/kept/inner/data").open(QIODevice::WriteOnly);
  const QString cut = root + "/kept" + QChar(0) + "/gone";
  EXPECT_TRUE(FileOps::removeItem(cut).error().reason().contains("NUL"));
  EXPECT_TRUE(FileOps::removeItem(root + "/kept/" + QChar(0)).error().reason().contains("NUL"));
  EXPECT_TRUE(QFileInfo::exists(root + "/kept/inner/data"));
  EXPECT_FALSE(FileOps::itemInfo(cut).has_value());
  EXPECT_EQ(FileOps::allocatedSizeBelow(root + "/kept/" + QChar(0)), 0u);
  EXPECT_FALSE(FileOps::writeOwnFile(root + "/kept/inner/data" + QChar(0) + "x", "new"));
  EXPECT_EQ(test::readFile(root + "/kept/inner/data"), "");
  EXPECT_EQ(FileOps::readFile(root + "/kept/inner/data" + QChar(0), 10).status, FileOps::ReadResult::Status::failed);
}

// A bind mount (same device) and a file system of its own (another device)
// inside a folder: the removal used to empty both and fail only at the
// mount points; the measures counted what they hold.
TEST(FileOpsMounts, WalksThatRemoveOrMeasureNeverEnterAnotherFileSystem) {
  QTemporaryDir dir;
  const QString root = dir.path();
  test::writeBytes(root + "/elsewhere/precious", QByteArray(600'000, 'p'));
  test::writeBytes(root + "/victim/file", "x");
  test::writeBytes(root + "/victim/sub/file", "x");
  QDir().mkpath(root + "/victim/sub/bound");
  QDir().mkpath(root + "/victim/sub/own-fs");
  QDir().mkpath(root + "/victim/plain");
  {
    test::PrivateMounts mounts;
    if (!mounts.failure().isEmpty()) GTEST_SKIP() << mounts.failure().toStdString();
    ASSERT_TRUE(mounts.bind(root + "/elsewhere", root + "/victim/sub/bound"));
    ASSERT_TRUE(mounts.mountTmpfs(root + "/victim/sub/own-fs"));
    test::writeBytes(root + "/victim/sub/file-mount", "");
    ASSERT_TRUE(mounts.bind(root + "/elsewhere/precious", root + "/victim/sub/file-mount"));
    test::writeBytes(root + "/victim/sub/own-fs/kept", QByteArray(600'000, 'k'));

    EXPECT_TRUE(FileOps::isMountPoint(root + "/victim/sub/bound"));
    EXPECT_TRUE(FileOps::isMountPoint(root + "/victim/sub/own-fs"));
    EXPECT_FALSE(FileOps::isMountPoint(root + "/victim/plain"));
    EXPECT_FALSE(FileOps::isMountPoint(root + "/victim"));
    EXPECT_LT(FileOps::allocatedSizeBelow(root + "/victim"), 100'000u);
    EXPECT_LT(DiskImage::directorySize(root + "/victim"), 100'000);
    // Where a walk starts is measured whatever it is.
    EXPECT_GE(DiskImage::directorySize(root + "/victim/sub/bound"), 600'000);

    // A mount point itself is left whole.
    const auto itself = FileOps::removeItem(root + "/victim/sub/bound");
    ASSERT_FALSE(itself);
    EXPECT_TRUE(itself.error().error.isEmpty()) << itself.error().error.toStdString();
    EXPECT_EQ(itself.error().mountsLeft, QStringList{root + "/victim/sub/bound"});

    // Everything else goes; the mounted folders stay with the folders above them.
    const auto removed = FileOps::removeItem(root + "/victim");
    ASSERT_FALSE(removed);
    EXPECT_TRUE(removed.error().error.isEmpty()) << removed.error().error.toStdString();
    QStringList left = removed.error().mountsLeft;
    left.sort();
    EXPECT_EQ(left, (QStringList{root + "/victim/sub/bound", root + "/victim/sub/file-mount", root + "/victim/sub/own-fs"}));
    EXPECT_TRUE(removed.error().reason().endsWith(": another file system is mounted here"));
    EXPECT_EQ(QDir(root + "/victim").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"sub"});
    EXPECT_EQ(QDir(root + "/victim/sub").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"bound", "file-mount", "own-fs"}));
    EXPECT_EQ(test::readBytes(root + "/victim/sub/own-fs/kept").size(), 600'000);

    // Named relative to the folder it was given with.
    const UniqueFd folder(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const auto at = FileOps::removeItemAt(folder.get(), "victim");
    ASSERT_FALSE(at);
    left = at.error().mountsLeft;
    left.sort();
    EXPECT_EQ(left, (QStringList{"victim/sub/bound", "victim/sub/file-mount", "victim/sub/own-fs"}));
    // A file mounted onto a file is left too.
    const auto file = FileOps::removeItem(root + "/victim/sub/file-mount");
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().mountsLeft, QStringList{root + "/victim/sub/file-mount"});
  }
  EXPECT_EQ(test::readBytes(root + "/elsewhere/precious").size(), 600'000);
}
