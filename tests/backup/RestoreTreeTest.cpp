#include "backup/RestoreTree.h"
#include "core/texts/LocTexts.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tlr;
using Case = RestoreError::Case;

namespace {

using tlr::test::writeBytes;
using tlr::test::readBytes;
using tlr::test::modeOf;

QStringList names(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(RestoreTreeCheck, RefusesLinksAndSpecialFilesButNotNamesWithDots) {
  QTemporaryDir dir;
  const QString root = dir.path() + "/r";
  writeBytes(root + "/a/ok.json", "{}");
  EXPECT_TRUE(RestoreTree::validate(root).ok());

  QFile::link("/etc/passwd", root + "/a/deep-link");
  auto error = RestoreTree::validate(root);
  ASSERT_FALSE(error.ok());
  EXPECT_EQ(error.error().kind, Case::pathTraversal);
  EXPECT_EQ(error.error().description(), "拒绝恢复：检测到非法路径 符号链接 deep-link");
  QFile::remove(root + "/a/deep-link");

  ::mkfifo(QFile::encodeName(root + "/a/pipe").constData(), 0600);
  error = RestoreTree::validate(root);
  ASSERT_FALSE(error.ok());
  EXPECT_EQ(error.error().payload, "特殊文件 pipe");
  QFile::remove(root + "/a/pipe");

  // Only a component that is exactly ".." leads anywhere; these are names.
  for (const char* name : {"..hidden", "...", "a..b", "..x/inner", "x../y"}) writeBytes(root + "/a/" + name, "x");
  EXPECT_TRUE(RestoreTree::validate(root).ok());
}

TEST(RestoreTreeMerge, AFolderIsMergedFileByFile) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.agent/conf.json", "backup");
  writeBytes(dir.path() + "/src/.agent/sub/new.txt", "new");
  QDir().mkpath(dir.path() + "/src/.agent/emptyfolder");
  writeBytes(dir.path() + "/home/.agent/conf.json", "current");
  writeBytes(dir.path() + "/home/.agent/only-here.txt", "stays");

  EXPECT_TRUE(RestoreTree::restore(dir.path() + "/src/.agent", dir.path() + "/home/.agent", false).ok());
  EXPECT_EQ(readBytes(dir.path() + "/home/.agent/conf.json"), "backup");
  EXPECT_EQ(readBytes(dir.path() + "/home/.agent/sub/new.txt"), "new");
  EXPECT_EQ(readBytes(dir.path() + "/home/.agent/only-here.txt"), "stays");
  EXPECT_TRUE(QFileInfo(dir.path() + "/home/.agent/emptyfolder").isDir()) << "an empty folder comes back";
  EXPECT_EQ(names(dir.path() + "/home/.agent"), (QStringList{"conf.json", "emptyfolder", "only-here.txt", "sub"}))
      << "no temporary file is left beside the restored ones";
  EXPECT_EQ(readBytes(dir.path() + "/src/.agent/conf.json"), "backup") << "without consume the source stays";
}

TEST(RestoreTreeMerge, AFileRootIsRestoredAsAFile) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.agentrc", "from backup");
  writeBytes(dir.path() + "/home/.agentrc", "current");
  EXPECT_TRUE(RestoreTree::restore(dir.path() + "/src/.agentrc", dir.path() + "/home/.agentrc", true).ok());
  EXPECT_EQ(readBytes(dir.path() + "/home/.agentrc"), "from backup");
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/src/.agentrc")) << "consumed: moved, not copied";

  // Missing target: made, with its folders.
  writeBytes(dir.path() + "/src/settings.json", "s");
  EXPECT_TRUE(
      RestoreTree::restore(dir.path() + "/src/settings.json", dir.path() + "/home/new/settings.json", false));
  EXPECT_EQ(readBytes(dir.path() + "/home/new/settings.json"), "s");
}

TEST(RestoreTreeMerge, AFolderStandingWhereAFileGoesStopsTheRestoreNamingIt) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.agentrc", "from backup");
  writeBytes(dir.path() + "/home/.agentrc/keep", "k");
  const auto error = RestoreTree::restore(dir.path() + "/src/.agentrc", dir.path() + "/home/.agentrc", true);
  ASSERT_FALSE(error.ok());
  EXPECT_EQ(error.error().kind, Case::folderInTheWay);
  EXPECT_EQ(error.error().description(), "恢复失败：" + dir.path() + "/home/.agentrc 处是文件夹，无法放回文件");
  // Said in either language with the path, not under "Details" in Chinese.
  EXPECT_EQ(error.error().message(), (EngineMessage{LocKey::restoreErrFolderInTheWay(dir.path() + "/home/.agentrc"), {}}));
  EXPECT_EQ(readBytes(dir.path() + "/home/.agentrc/keep"), "k");

  // Same inside a folder merge: the merge stops there.
  writeBytes(dir.path() + "/src/d/x", "file");
  writeBytes(dir.path() + "/home/d/x/inner", "folder");
  const auto nested = RestoreTree::restore(dir.path() + "/src/d", dir.path() + "/home/d", false);
  ASSERT_FALSE(nested.ok());
  EXPECT_EQ(nested.error().kind, Case::folderInTheWay);
}

// A folder of the agent's that this user may not write and cannot make
// writable (another owner's, left by an agent run with sudo, say) is named
// before anything is written, with every other; the user's own read-only
// folders are not in the way.
TEST(RestoreTreeCheck, NamesEveryFolderItMayNotWriteIntoBeforeWritingAnything) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving folders to another owner takes root";
  QTemporaryDir dir;
  const QString src = dir.path() + "/src/.agent", target = dir.path() + "/home/.agent";
  for (const QString& name : QStringList{"conf.json", "locked/a.json", "sealed/b.json", "free/new/c.json", "mine/m.json",
                                         "shut/s.json"})
    writeBytes(src + "/" + name, "backup");
  for (const QString& name : QStringList{"conf.json", "locked/a.json", "sealed/b.json", "mine/m.json", "shut/s.json"})
    writeBytes(target + "/" + name, "current");
  QDir().mkpath(target + "/free");
  for (const QString& name : QStringList{"locked", "sealed"}) {
    ::chmod(QFile::encodeName(target + "/" + name).constData(), 0555);
    ASSERT_EQ(::chown(QFile::encodeName(target + "/" + name).constData(), 65534, 65534), 0);
  }
  ::chmod(QFile::encodeName(target + "/mine").constData(), 0555);
  ::chmod(QFile::encodeName(target + "/shut").constData(), 0);

  Expected<void, RestoreError> checked;
  QStringList unwritable;
  {
    tlr::test::AsOrdinaryUser ordinary;
    checked = RestoreTree::check(AT_FDCWD, src, target);
    EXPECT_TRUE(RestoreTree::check(AT_FDCWD, src, target, &unwritable).ok());
  }
  ASSERT_FALSE(checked.ok());
  EXPECT_EQ(checked.error().kind, Case::notWritable);
  EXPECT_EQ(unwritable.size(), 2) << unwritable.join("; ").toStdString();
  EXPECT_FALSE(checked.error().payload.contains(target + "/mine")) << "its own: opened for the write";
  EXPECT_FALSE(checked.error().payload.contains(target + "/shut"));
  EXPECT_EQ(modeOf(target + "/shut"), 0u) << "looked into, and its bits set back";
  // The window says so in its language, naming every place.
  const EngineMessage shown = checked.error().message();
  const QString english = LocTexts::text(AppLanguage::en, shown.key), chinese = LocTexts::text(AppLanguage::zh, shown.key);
  EXPECT_TRUE(english.startsWith("Nothing was restored: this user may not write")) << english.toStdString();
  EXPECT_TRUE(chinese.startsWith("没有恢复任何文件：当前用户无权写入")) << chinese.toStdString();
  for (const QString& name : QStringList{"locked", "sealed"}) {
    EXPECT_TRUE(checked.error().payload.contains(target + "/" + name + ": ")) << checked.error().payload.toStdString();
    EXPECT_TRUE(english.contains(target + "/" + name + ": ")) << english.toStdString();
  }
  EXPECT_EQ(readBytes(target + "/conf.json"), "current");
  if (::geteuid() == 0) {
    EXPECT_TRUE(RestoreTree::check(AT_FDCWD, src, target).ok()) << "root may write there";
  }
}

// A read-only file system is in the way whoever owns the folder. Tried in a
// child of a mount namespace of its own, where the folder is mounted
// read-only.
TEST(RestoreTreeCheck, AFolderOnAReadOnlyFileSystemIsNamed) {
  QTemporaryDir dir;
  const QString src = dir.path() + "/src/.agent", target = dir.path() + "/home/.agent";
  writeBytes(src + "/conf.json", "backup");
  writeBytes(target + "/conf.json", "current");
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    const QByteArray place = QFile::encodeName(target);
    QByteArray answer = "skip";
    if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount(place.constData(), place.constData(), nullptr, MS_BIND, nullptr) == 0 &&
        ::mount(nullptr, place.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0) {
      const auto checked = RestoreTree::check(AT_FDCWD, src, target);
      answer = checked.ok() ? QByteArray("ok") : checked.error().textualForm().toUtf8();
    }
    (void)!::write(pipeFds[1], answer.constData(), static_cast<size_t>(answer.size()));
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  QByteArray answer;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  ::close(pipeFds[0]);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  if (answer == "skip") GTEST_SKIP() << "no mount namespace of its own here";
  EXPECT_TRUE(answer.startsWith("notWritable(\"" + QFile::encodeName(target) + ": ")) << answer.toStdString();
  EXPECT_TRUE(answer.contains(QByteArray(std::strerror(EROFS)))) << answer.toStdString();
  EXPECT_EQ(readBytes(target + "/conf.json"), "current");
}

TEST(RestoreTreeMerge, SetIdBitsNeverReachTheTarget) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/d/tool", "#!/bin/sh\n");
  ::chmod(QFile::encodeName(dir.path() + "/src/d/tool").constData(), 06755);
  EXPECT_TRUE(RestoreTree::restore(dir.path() + "/src/d", dir.path() + "/home/d", true).ok());
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(dir.path() + "/home/d/tool").constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

namespace {

ino_t inode(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

qint64 mtimeOf(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

}  // namespace

// When folders cannot be moved whole (another file system, a file with two
// names), the folders made file by file still get the backup's modes and
// times, although moving the files out changed the times in the source.
TEST(RestoreTreeMerge, FoldersMadeOneByOneGetTheModesAndTimesOfTheBackup) {
  QTemporaryDir dir;
  const QString src = dir.path() + "/src/.agent";
  writeBytes(src + "/top.json", "t");
  writeBytes(src + "/sub/deeper/x", "x");
  writeBytes(src + "/sub/y", "y");
  ::chmod(QFile::encodeName(src + "/sub").constData(), 0750);
  const qint64 then = 1577934245;  // 2020-01-02
  const struct timespec times[2] = {{then, 0}, {then, 0}};
  for (const QString& folder : {src + "/sub/deeper", src + "/sub", src})
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), times, 0), 0);

  // Unpacked writable for its owner, recorded as read-only.
  struct stat deeper{};
  ::stat(QFile::encodeName(src + "/sub/deeper").constData(), &deeper);
  const QHash<quint64, unsigned> recorded{{deeper.st_ino, 0555}};

  const QString target = dir.path() + "/home/.agent";
  for (const bool consume : {true, false}) {
    SCOPED_TRACE(consume ? "consumed" : "copied");
    EXPECT_TRUE(RestoreTree::restore(AT_FDCWD, src, target, consume, false, &recorded).ok());
    EXPECT_EQ(readBytes(target + "/sub/deeper/x"), "x");
    EXPECT_EQ(modeOf(target + "/sub"), 0750u);
    EXPECT_EQ(modeOf(target + "/sub/deeper"), 0555u);
    for (const QString& folder : {target, target + "/sub", target + "/sub/deeper"})
      EXPECT_EQ(mtimeOf(folder), then) << folder.toStdString();
    ::chmod(QFile::encodeName(target + "/sub/deeper").constData(), 0755);
    QDir(target).removeRecursively();
    if (consume) {
      writeBytes(src + "/top.json", "t");
      writeBytes(src + "/sub/deeper/x", "x");
      writeBytes(src + "/sub/y", "y");
      for (const QString& folder : {src + "/sub/deeper", src + "/sub", src})
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), times, 0), 0);
    }
  }
}

// The usual case: restoring again over what an earlier restore put back,
// read-only folders of the user's own among it (0555 as the backup records
// them, and one the user closed since). Each is opened while its files go
// in and gets its bits back exactly, also when the restore stops inside it.
TEST(RestoreTreeMerge, RestoringAgainOverItsOwnReadOnlyFoldersPutsEveryFileBackAndKeepsTheirBits) {
  QTemporaryDir dir;
  const QString src = dir.path() + "/src/.agent", target = dir.path() + "/home/.agent";
  const QString rc = dir.path() + "/src/.agentrc";
  for (const QString& name : QStringList{"conf.json", "ro/r.txt", "ro/deeper/d.txt", "..hidden", ".../x", "a..b"})
    writeBytes(src + "/" + name, "backup " + name.toUtf8());
  writeBytes(rc, "rc");
  // Unpacked writable for its owner, recorded read-only.
  struct stat ro{};
  ::stat(QFile::encodeName(src + "/ro").constData(), &ro);
  const QHash<quint64, unsigned> recorded{{ro.st_ino, 0555}};
  const auto putBack = [&] {
    tlr::test::AsOrdinaryUser ordinary;
    const auto checked = RestoreTree::check(AT_FDCWD, src, target);
    if (!checked) return checked;
    return RestoreTree::restore(AT_FDCWD, src, target, false, false, &recorded);
  };
  ASSERT_TRUE(putBack().ok());
  ASSERT_EQ(modeOf(target + "/ro"), 0555u);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    {
      tlr::test::AsOrdinaryUser ordinary;
      ::chmod(QFile::encodeName(target + "/ro").constData(), 0755);
      writeBytes(target + "/ro/r.txt", "changed");
      writeBytes(target + "/ro/mine.txt", "stays");
      ::remove(QFile::encodeName(target + "/ro/deeper/d.txt").constData());
      ::rmdir(QFile::encodeName(target + "/ro/deeper").constData());
      writeBytes(target + "/..hidden", "changed");
      ::chmod(QFile::encodeName(target + "/ro").constData(), 0555);
      // Closed by the user since: 0500 on the agent's folder itself.
      ::chmod(QFile::encodeName(target).constData(), round == 0 ? 0555 : 0500);
    }
    const auto again = putBack();
    ASSERT_TRUE(again.ok()) << again.error().description().toStdString();
    EXPECT_EQ(readBytes(target + "/ro/r.txt"), "backup ro/r.txt");
    EXPECT_EQ(readBytes(target + "/ro/deeper/d.txt"), "backup ro/deeper/d.txt") << "made inside a 0555 folder";
    EXPECT_EQ(readBytes(target + "/ro/mine.txt"), "stays");
    EXPECT_EQ(readBytes(target + "/..hidden"), "backup ..hidden");
    EXPECT_EQ(readBytes(target + "/.../x"), "backup .../x");
    EXPECT_EQ(modeOf(target + "/ro"), 0555u);
    EXPECT_EQ(modeOf(target), round == 0 ? 0555u : 0500u);
  }

  // A file root in a folder of the user's that is read-only, and a folder
  // that must be made in one.
  const QString closed = dir.path() + "/home/closed";
  writeBytes(closed + "/.agentrc", "current");
  ::chmod(QFile::encodeName(closed).constData(), 0555);
  {
    tlr::test::AsOrdinaryUser ordinary;
    EXPECT_TRUE(RestoreTree::check(AT_FDCWD, rc, closed + "/.agentrc").ok());
    EXPECT_TRUE(RestoreTree::restore(rc, closed + "/.agentrc", false).ok());
    EXPECT_TRUE(RestoreTree::restore(src, closed + "/new/.agent", false).ok());
  }
  EXPECT_EQ(readBytes(closed + "/.agentrc"), "rc");
  EXPECT_EQ(readBytes(closed + "/new/.agent/conf.json"), "backup conf.json");
  EXPECT_EQ(modeOf(closed), 0555u);

  // Stopped inside one (a folder where the backup holds a file): its bits
  // come back all the same.
  ::chmod(QFile::encodeName(target + "/ro").constData(), 0755);
  ::remove(QFile::encodeName(target + "/ro/r.txt").constData());
  QDir().mkpath(target + "/ro/r.txt");
  ::chmod(QFile::encodeName(target + "/ro").constData(), 0555);
  {
    tlr::test::AsOrdinaryUser ordinary;
    const auto stopped = RestoreTree::restore(AT_FDCWD, src, target, false, false, &recorded);
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error().kind, Case::folderInTheWay);
  }
  EXPECT_EQ(modeOf(target + "/ro"), 0555u);
}

TEST(RestoreTreeCheck, ReadiesTheTreeForBeingMovedAndSaysWhenItCannotBe) {
  QTemporaryDir dir;
  const QString root = dir.path() + "/r";
  writeBytes(root + "/a/tool", "#!/bin/sh\n");
  ::chmod(QFile::encodeName(root + "/a/tool").constData(), 06755);
  ::chmod(QFile::encodeName(root + "/a").constData(), 01755);
  QDir().mkpath(root + "/a/empty/emptier");
  bool movable = false;
  ASSERT_TRUE(RestoreTree::validate(root, &movable).ok());
  EXPECT_TRUE(movable);
  EXPECT_EQ(modeOf(root + "/a/tool"), 0755u);
  EXPECT_EQ(modeOf(root + "/a"), 0755u);
  EXPECT_TRUE(QFileInfo(root + "/a/empty/emptier").isDir()) << "empty folders are put back";

  // A folder its owner could not enter is opened, and checked inside.
  writeBytes(root + "/b/inside", "x");
  ::chmod(QFile::encodeName(root + "/b").constData(), 0);
  ASSERT_TRUE(RestoreTree::validate(root, &movable).ok());
  EXPECT_FALSE(movable);
  EXPECT_EQ(modeOf(root + "/b"), 0700u);
  QFile::link("/etc/passwd", root + "/b/link");
  ::chmod(QFile::encodeName(root + "/b").constData(), 0);
  const auto refused = RestoreTree::validate(root, &movable);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().payload, "符号链接 link");
}

TEST(RestoreTreeMerge, AFolderWhosePlaceIsFreeIsMovedThereWhole) {
  QTemporaryDir dir;
  const QString src = dir.path() + "/src/.agent";
  writeBytes(src + "/conf.json", "backup");
  writeBytes(src + "/sub/deeper/x", "x");
  const ino_t whole = inode(src);
  EXPECT_TRUE(RestoreTree::restore(src, dir.path() + "/home/.agent", true, true).ok());
  EXPECT_EQ(inode(dir.path() + "/home/.agent"), whole) << "one rename, nothing copied";
  EXPECT_EQ(readBytes(dir.path() + "/home/.agent/sub/deeper/x"), "x");
  EXPECT_FALSE(QFileInfo::exists(src));

  // Into a folder that stands: its missing subfolder moves whole, its files
  // are merged one by one, and what only it holds stays.
  const QString src2 = dir.path() + "/src2/.agent";
  writeBytes(src2 + "/conf.json", "backup");
  writeBytes(src2 + "/sessions/s1.json", "s1");
  writeBytes(dir.path() + "/home2/.agent/conf.json", "current");
  writeBytes(dir.path() + "/home2/.agent/mine.txt", "stays");
  const ino_t sessions = inode(src2 + "/sessions");
  EXPECT_TRUE(RestoreTree::restore(src2, dir.path() + "/home2/.agent", true, true).ok());
  EXPECT_EQ(inode(dir.path() + "/home2/.agent/sessions"), sessions);
  EXPECT_EQ(readBytes(dir.path() + "/home2/.agent/conf.json"), "backup");
  EXPECT_EQ(readBytes(dir.path() + "/home2/.agent/mine.txt"), "stays");

  // Not allowed to move folders: made anew, the source kept when not consumed.
  const QString src3 = dir.path() + "/src3/.agent";
  writeBytes(src3 + "/sub/y", "y");
  EXPECT_TRUE(RestoreTree::restore(src3, dir.path() + "/home3/.agent", false, true).ok());
  EXPECT_NE(inode(dir.path() + "/home3/.agent"), inode(src3));
  EXPECT_EQ(readBytes(dir.path() + "/home3/.agent/sub/y"), "y");
  EXPECT_EQ(readBytes(src3 + "/sub/y"), "y");
}

TEST(RestoreErrorTexts, DescriptionsAreTheEnginesChineseTexts) {
  EXPECT_EQ(RestoreError::of(Case::noBackupFound).description(), "iCloud 里没找到备份。请先创建一份备份。");
  EXPECT_EQ(RestoreError::of(Case::agentNotInBackup, "aider").description(), "备份里没有 aider 的数据");
  EXPECT_EQ(RestoreError::of(Case::unpackFailed).description(), "解压失败：");
  EXPECT_EQ(RestoreError::of(Case::unknownAgent, "x").description(), "未知 Agent: x");
  EXPECT_EQ(RestoreError::of(Case::sha256Mismatch).description(),
            "备份完整性校验失败（archive 内容与 manifest 记录不符）");
  // A window shows each in its own language alone.
  EXPECT_EQ(LocTexts::text(AppLanguage::zh, RestoreError::of(Case::sha256Mismatch).message().key),
            "备份没有通过完整性校验：备份文件与它的清单不符。");
  RestoreError full = RestoreError::of(Case::diskFull, "/home/u");
  EXPECT_EQ(LocTexts::text(AppLanguage::en, full.message().key), "The disk is full, so the restore did not finish: the disk holding /home/u has no room left.");
  full.bytes = 2'500'000'000;
  full.freeBytes = 1'200'000;
  EXPECT_EQ(full.description(), "磁盘已满：/home/u 所在的磁盘空间不足，恢复需要约 2.5 GB，可用 1.2 MB");
  EXPECT_EQ(LocTexts::text(AppLanguage::en, full.message().key),
            "The disk is full, so the restore did not finish: it needs about 2.5 GB, and the disk holding /home/u has "
            "1.2 MB free.");
  EXPECT_EQ(LocTexts::text(AppLanguage::zh, full.message().key), "磁盘已满，恢复没有完成：恢复需要约 2.5 GB，/home/u 所在的磁盘只剩 1.2 MB。");
}
