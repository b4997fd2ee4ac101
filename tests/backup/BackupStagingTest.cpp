#include "backup/BackupStaging.h"
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

ino_t inode(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

nlink_t links(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_nlink : 0;
}

}  // namespace

TEST(BackupStaging, CopiesRegularFilesOfFolderRootsAndCountsThem) {
  QTemporaryDir dir;
  const QString data = dir.path() + "/home/.agent";
  writeBytes(data + "/skills/s1.md", "skill");
  writeBytes(data + "/memories/m.json", "12345");
  writeBytes(data + "/tasks/t.json", "t");
  writeBytes(data + "/.hidden", "h");
  writeBytes(data + "/debug.log", "excluded");
  QDir().mkpath(data + "/empty");
  QFile::link(data + "/skills/s1.md", data + "/link-to-file");
  ::mkfifo(QFile::encodeName(data + "/pipe").constData(), 0600);
  const QString agentDir = dir.path() + "/stage/agent";
  QDir().mkpath(agentDir);

  const StagedAgent staged = BackupStaging::stageAgent(
      agentDir, {data}, [](const QString& file, const QString&) { return file.endsWith(".log"); });
  EXPECT_EQ(staged.fileCount, 4);
  EXPECT_EQ(staged.totalBytes, 5 + 5 + 1 + 1);
  EXPECT_EQ(staged.skills, 1);
  EXPECT_EQ(staged.memoryBytes, 5);
  EXPECT_EQ(staged.tasks, 1);
  QStringList files = staged.files;
  files.sort();
  EXPECT_EQ(files, (QStringList{".agent/.hidden", ".agent/memories/m.json", ".agent/skills/s1.md",
                                ".agent/tasks/t.json"}));
  EXPECT_EQ(readBytes(agentDir + "/.agent/memories/m.json"), "12345");
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/link-to-file")) << "links inside a folder are skipped";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/pipe"));
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/empty"));
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/debug.log"));
}

TEST(BackupStaging, AFileRootAndALinkToAFileAreStagedAsFiles) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/home/.agentrc", "rc");
  writeBytes(dir.path() + "/real/settings.json", "{\"k\":1}");
  QFile::link(dir.path() + "/real/settings.json", dir.path() + "/home/settings.json");
  QFile::link(dir.path() + "/nowhere", dir.path() + "/home/dangling");
  const QString agentDir = dir.path() + "/stage/a";
  QDir().mkpath(agentDir);

  const StagedAgent staged = BackupStaging::stageAgent(
      agentDir, {dir.path() + "/home/.agentrc", dir.path() + "/home/settings.json", dir.path() + "/home/dangling"},
      {});
  EXPECT_EQ(staged.files, (QStringList{".agentrc", "settings.json"}));
  EXPECT_EQ(staged.fileCount, 2);
  EXPECT_EQ(staged.totalBytes, 2 + 7);
  EXPECT_EQ(readBytes(agentDir + "/settings.json"), "{\"k\":1}");
  EXPECT_FALSE(QFileInfo(agentDir + "/settings.json").isSymLink()) << "the link's file, not the link";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/dangling"));
}

TEST(BackupStaging, OverlappingRootsStageAFileOncePerAgentWithoutCopyingIt) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/shared/notes/n.txt", "shared");
  const QString a = dir.path() + "/stage/a";
  const QString b = dir.path() + "/stage/b";
  QDir().mkpath(a);
  QDir().mkpath(b);
  // Agent a reaches the file through two roots: one file, two names.
  const StagedAgent first =
      BackupStaging::stageAgent(a, {dir.path() + "/shared", dir.path() + "/shared/notes"}, {});
  EXPECT_EQ(first.fileCount, 2);
  EXPECT_EQ(first.files, (QStringList{"shared/notes/n.txt", "notes/n.txt"}));
  EXPECT_EQ(inode(a + "/shared/notes/n.txt"), inode(a + "/notes/n.txt"));
  EXPECT_EQ(inode(a + "/notes/n.txt"), inode(dir.path() + "/shared/notes/n.txt")) << "no data copied";

  const StagedAgent second = BackupStaging::stageAgent(b, {dir.path() + "/shared"}, {});
  EXPECT_EQ(second.fileCount, 1);
  EXPECT_EQ(readBytes(b + "/shared/notes/n.txt"), "shared");
  EXPECT_EQ(links(dir.path() + "/shared/notes/n.txt"), 4u);
}

TEST(BackupStaging, TwoRootsWithOneNameAreStagedApartUnderUniqueNames) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/one/config/a", "1");
  writeBytes(dir.path() + "/two/config/a", "2");
  writeBytes(dir.path() + "/two/config/b", "3");
  writeBytes(dir.path() + "/three/config~2", "a file named like the second");
  const QString agentDir = dir.path() + "/stage/x";
  QDir().mkpath(agentDir);
  const QStringList roots{dir.path() + "/one/config", dir.path() + "/two/config", dir.path() + "/three/config~2"};
  EXPECT_EQ(BackupStaging::entryNames(roots), (QStringList{"config", "config~2", "config~2~2"}));
  const StagedAgent staged = BackupStaging::stageAgent(agentDir, roots, {});
  QStringList files = staged.files;
  files.sort();
  EXPECT_EQ(files, (QStringList{"config/a", "config~2/a", "config~2/b", "config~2~2"}));
  EXPECT_EQ(readBytes(agentDir + "/config/a"), "1");
  EXPECT_EQ(readBytes(agentDir + "/config~2/a"), "2");
  EXPECT_EQ(readBytes(agentDir + "/config~2~2"), "a file named like the second");
  EXPECT_EQ(staged.roots, (QList<StagedAgent::Root>{{"config", roots[0]}, {"config~2", roots[1]},
                                                   {"config~2~2", roots[2]}}));
}

TEST(BackupStaging, StagedFoldersKeepTheirSourcesPermissionBits) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/data/private/p", "p");
  writeBytes(dir.path() + "/data/shared/s", "s");
  ::chmod(QFile::encodeName(dir.path() + "/data/private").constData(), 0700);
  ::chmod(QFile::encodeName(dir.path() + "/data/shared").constData(), 0755);
  ::chmod(QFile::encodeName(dir.path() + "/data").constData(), 0750);
  const QString agentDir = dir.path() + "/stage/x";
  QDir().mkpath(agentDir);
  BackupStaging::stageAgent(agentDir, {dir.path() + "/data"}, {});
  auto mode = [](const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  EXPECT_EQ(mode(agentDir + "/data"), 0750u);
  EXPECT_EQ(mode(agentDir + "/data/private"), 0700u);
  EXPECT_EQ(mode(agentDir + "/data/shared"), 0755u);
}
