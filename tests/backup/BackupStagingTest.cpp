#include "backup/BackupStaging.h"

#include "platform/TarWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;

namespace {

using tlr::test::writeBytes;
using tlr::test::readBytes;
using tlr::test::modeOf;

// Stages agents into a plain tar file in `dir` and unpacks it into
// `dir`/out with GNU tar: what a restore would find.
class Staged {
 public:
  explicit Staged(const QString& dir) : dir_(dir), archive_(dir + "/staged.tar") {
    fd_ = ::open(QFile::encodeName(archive_).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    writer_ = std::make_unique<TarWriter>(fd_);
  }
  ~Staged() { ::close(fd_); }

  StagedAgent agent(const QString& id, const QStringList& roots, const BackupStaging::Exclude& exclude = {}) {
    return BackupStaging::stageAgent(*writer_, "stage/" + id, roots, exclude);
  }

  // Finishes the archive and unpacks it; the folder of the staging.
  QString unpack() {
    EXPECT_TRUE(writer_->finish());
    QDir().mkpath(dir_ + "/out");
    QProcess tar;
    tar.start("/usr/bin/tar", {"-xpf", archive_, "-C", dir_ + "/out"});
    EXPECT_TRUE(tar.waitForFinished(30000));
    EXPECT_EQ(tar.exitCode(), 0) << tar.readAllStandardError().toStdString();
    return dir_ + "/out/stage";
  }

  QString verboseListing() const {
    QProcess tar;
    tar.start("/usr/bin/tar", {"-tvf", archive_});
    tar.waitForFinished(30000);
    return QString::fromUtf8(tar.readAllStandardOutput());
  }

 private:
  QString dir_, archive_;
  int fd_ = -1;
  std::unique_ptr<TarWriter> writer_;
};


}  // namespace

TEST(BackupStaging, StoresRegularFilesOfFolderRootsAndCountsThem) {
  QTemporaryDir dir;
  const QString data = dir.path() + "/home/.agent";
  writeBytes(data + "/skills/s1.md", "skill");
  writeBytes(data + "/memories/m.json", "12345");
  writeBytes(data + "/tasks/t.json", "t");
  writeBytes(data + "/.hidden", "h");
  writeBytes(data + "/debug.log", "excluded");
  writeBytes(data + "/logs-only/x.log", "excluded");
  QDir().mkpath(data + "/empty");
  QFile::link(data + "/skills/s1.md", data + "/link-to-file");
  ::mkfifo(QFile::encodeName(data + "/pipe").constData(), 0600);

  Staged staging(dir.path());
  const StagedAgent staged =
      staging.agent("agent", {data}, [](const QString& file, const QString&) { return file.endsWith(".log"); });
  EXPECT_EQ(staged.fileCount, 4);
  EXPECT_EQ(staged.totalBytes, 5 + 5 + 1 + 1);
  EXPECT_EQ(staged.skills, 1);
  EXPECT_EQ(staged.memoryBytes, 5);
  EXPECT_EQ(staged.tasks, 1);
  EXPECT_TRUE(staged.changed.isEmpty());
  QStringList files = staged.files;
  files.sort();
  EXPECT_EQ(files, (QStringList{".agent/.hidden", ".agent/memories/m.json", ".agent/skills/s1.md",
                                ".agent/tasks/t.json"}));
  const QString agentDir = staging.unpack() + "/agent";
  EXPECT_EQ(readBytes(agentDir + "/.agent/memories/m.json"), "12345");
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/link-to-file")) << "links inside a folder are skipped";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/pipe"));
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/empty"));
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/logs-only")) << "a folder of excluded files is not stored";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/debug.log"));
  EXPECT_EQ(modeOf(agentDir), 0700u);
}

TEST(BackupStaging, AFileRootAndALinkToAFileAreStoredAsFiles) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/home/.agentrc", "rc");
  writeBytes(dir.path() + "/real/settings.json", "{\"k\":1}");
  QFile::link(dir.path() + "/real/settings.json", dir.path() + "/home/settings.json");
  QFile::link(dir.path() + "/nowhere", dir.path() + "/home/dangling");

  Staged staging(dir.path());
  const StagedAgent staged = staging.agent(
      "a", {dir.path() + "/home/.agentrc", dir.path() + "/home/settings.json", dir.path() + "/home/dangling"});
  EXPECT_EQ(staged.files, (QStringList{".agentrc", "settings.json"}));
  EXPECT_EQ(staged.fileCount, 2);
  EXPECT_EQ(staged.totalBytes, 2 + 7);
  const QString listing = staging.verboseListing();
  EXPECT_FALSE(listing.contains(" -> ")) << listing.toStdString();
  const QString agentDir = staging.unpack() + "/a";
  EXPECT_EQ(readBytes(agentDir + "/settings.json"), "{\"k\":1}");
  EXPECT_FALSE(QFileInfo(agentDir + "/settings.json").isSymLink()) << "the link's file, not the link";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/dangling"));
}

TEST(BackupStaging, AFileReachedTwiceIsStoredWholeUnderEachName) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/shared/notes/n.txt", "shared");
  Staged staging(dir.path());
  // Agent a reaches the file through two roots; agent b shares it.
  const StagedAgent first = staging.agent("a", {dir.path() + "/shared", dir.path() + "/shared/notes"});
  EXPECT_EQ(first.fileCount, 2);
  EXPECT_EQ(first.files, (QStringList{"shared/notes/n.txt", "notes/n.txt"}));
  const StagedAgent second = staging.agent("b", {dir.path() + "/shared"});
  EXPECT_EQ(second.fileCount, 1);
  EXPECT_FALSE(staging.verboseListing().contains("link to"));
  const QString out = staging.unpack();
  EXPECT_EQ(readBytes(out + "/a/shared/notes/n.txt"), "shared");
  EXPECT_EQ(readBytes(out + "/a/notes/n.txt"), "shared");
  EXPECT_EQ(readBytes(out + "/b/shared/notes/n.txt"), "shared");
}

TEST(BackupStaging, TwoRootsWithOneNameAreStagedApartUnderUniqueNames) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/one/config/a", "1");
  writeBytes(dir.path() + "/two/config/a", "2");
  writeBytes(dir.path() + "/two/config/b", "3");
  writeBytes(dir.path() + "/three/config~2", "a file named like the second");
  const QStringList roots{dir.path() + "/one/config", dir.path() + "/two/config", dir.path() + "/three/config~2"};
  EXPECT_EQ(BackupStaging::entryNames(roots), (QStringList{"config", "config~2", "config~2~2"}));
  Staged staging(dir.path());
  const StagedAgent staged = staging.agent("x", roots);
  QStringList files = staged.files;
  files.sort();
  EXPECT_EQ(files, (QStringList{"config/a", "config~2/a", "config~2/b", "config~2~2"}));
  EXPECT_EQ(staged.roots, (QList<StagedAgent::Root>{{"config", roots[0]}, {"config~2", roots[1]},
                                                   {"config~2~2", roots[2]}}));
  const QString agentDir = staging.unpack() + "/x";
  EXPECT_EQ(readBytes(agentDir + "/config/a"), "1");
  EXPECT_EQ(readBytes(agentDir + "/config~2/a"), "2");
  EXPECT_EQ(readBytes(agentDir + "/config~2~2"), "a file named like the second");
}

TEST(BackupStaging, StoredFoldersKeepTheirSourcesPermissionBits) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/data/private/p", "p");
  writeBytes(dir.path() + "/data/shared/s", "s");
  ::chmod(QFile::encodeName(dir.path() + "/data/private").constData(), 0700);
  ::chmod(QFile::encodeName(dir.path() + "/data/shared").constData(), 0755);
  ::chmod(QFile::encodeName(dir.path() + "/data").constData(), 0750);
  Staged staging(dir.path());
  staging.agent("x", {dir.path() + "/data"});
  const QString agentDir = staging.unpack() + "/x";
  EXPECT_EQ(modeOf(agentDir + "/data"), 0750u);
  EXPECT_EQ(modeOf(agentDir + "/data/private"), 0700u);
  EXPECT_EQ(modeOf(agentDir + "/data/shared"), 0755u);
}
