#include "backup/BackupStaging.h"

#include "platform/TarWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;

namespace {

using tlr::test::writeBytes;
using tlr::test::readBytes;
using tlr::test::modeOf;

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Stages agents into a plain tar file in `dir` and unpacks it into
// `dir`/out with GNU tar: what a restore would find.
class Staged {
 public:
  explicit Staged(const QString& dir) : dir_(dir), archive_(dir + "/staged.tar") {
    fd_ = ::open(QFile::encodeName(archive_).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    writer_ = std::make_unique<TarWriter>(fd_);
  }
  ~Staged() { ::close(fd_); }

  StagedSnapshot stage(const QList<BackupStaging::Agent>& agents) {
    return BackupStaging::stage(*writer_, "stage", agents);
  }
  StagedAgent agent(const QString& id, const QStringList& roots, const QStringList& excludes = {}) {
    return stage({{id, roots, excludes}}).agents.value(0);
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

QByteArray native(const QString& path) { return QFile::encodeName(path); }


}  // namespace

TEST(BackupStaging, StoresRegularFilesOfFolderRootsByteForByteAndSaysWhatItLeftOut) {
  tlr::test::TempDir dir;
  const QString data = dir.path() + "/home/.agent";
  writeBytes(data + "/skills/s1.md", "skill");
  writeBytes(data + "/memories/m.json", "12345");
  writeBytes(data + "/tasks/t.json", "t");
  writeBytes(data + "/.hidden", "h");
  writeBytes(data + "/debug.log", "excluded");
  writeBytes(data + "/logs-only/x.log", "excluded");
  QDir().mkpath(data + "/empty");
  // A second name of a file: stored once, the other as a link.
  ASSERT_EQ(::link(native(data + "/memories/m.json").constData(), native(data + "/memories/m2.json").constData()), 0);
  // A time to the nanosecond.
  const struct timespec fine[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
  ::utimensat(AT_FDCWD, native(data + "/tasks/t.json").constData(), fine, 0);
  // What this user may not read, and a folder deeper than the walk goes.
  writeBytes(data + "/secret.json", "s");
  writeBytes(data + "/locked/inside.json", "i");
  ::chmod(native(data + "/secret.json").constData(), 0);
  ::chmod(native(data + "/locked").constData(), 0);
  QString deep = data + "/deep";
  for (int level = 1; level < StagedSnapshot::kMaxDepth; ++level) deep += "/d";
  writeBytes(deep + "/kept.json", "at the deepest level stored");
  writeBytes(deep + "/d/lost.json", "one level deeper");
  QFile::link(data + "/skills/s1.md", data + "/link-to-file");
  ::mkfifo(QFile::encodeName(data + "/pipe").constData(), 0600);
  ::mkfifo(QFile::encodeName(data + "/excluded.log").constData(), 0600);  // excluded: not said
  // Names that are no valid UTF-8, or hold a line break, a tab, a leading
  // dash or a backslash, go into the archive and come back as they are.
  const QList<QByteArray> odd = {QByteArray("caf\xe9-latin1.json"), QByteArray("\xff\xfe"), "new\nline", "tab\tname",
                                 "-dash", "back\\slash"};
  QDir().mkpath(data + "/odd");
  for (const QByteArray& name : odd) tlr::test::writeNativeBytes(native(data + "/odd/") + name, "odd " + name);

  Staged staging(dir.path());
  const StagedSnapshot snapshot = [&] {
    tlr::test::AsOrdinaryUser ordinary;
    return staging.stage({{"agent", {data}, {"*.log"}}});
  }();
  // Open again, so the temporary folder can go whoever runs the test.
  ::chmod(native(data + "/locked").constData(), 0700);
  const StagedAgent& staged = snapshot.agents.value(0);
  EXPECT_EQ(staged.fileCount, 6 + odd.size());
  EXPECT_EQ(staged.skills, 1);
  EXPECT_EQ(staged.memoryBytes, 5);
  EXPECT_EQ(staged.tasks, 1);
  EXPECT_TRUE(snapshot.changed.isEmpty());
  EXPECT_TRUE(snapshot.incomplete());
  QStringList unreadable = snapshot.unreadable.examples;
  unreadable.sort();
  EXPECT_EQ(unreadable, (QStringList{data + "/locked", data + "/secret.json"}));
  EXPECT_EQ(snapshot.tooDeep.examples, QStringList{deep + "/d"});
  QStringList files = staged.files.toStringList();
  files.sort();
  EXPECT_EQ(files, (QStringList{".agent/.hidden", ".agent/deep" + QString("/d").repeated(StagedSnapshot::kMaxDepth - 1) + "/kept.json",
                                ".agent/memories/m.json", ".agent/memories/m2.json", ".agent/odd/-dash",
                                ".agent/odd/\\xFF\\xFE", ".agent/odd/back\\slash", ".agent/odd/caf\\xE9-latin1.json",
                                ".agent/odd/new\nline", ".agent/odd/tab\tname", ".agent/skills/s1.md",
                                ".agent/tasks/t.json"}));
  EXPECT_EQ(snapshot.notRegular.count, 2);
  QStringList leftOut = snapshot.notRegular.examples;
  leftOut.sort();
  EXPECT_EQ(leftOut, (QStringList{data + "/link-to-file", data + "/pipe"}));
  ASSERT_EQ(staged.roots.size(), 1);
  EXPECT_EQ(staged.roots[0].stored, "agent/.agent");
  EXPECT_GT(staged.roots[0].diskBytes, 0);

  const QString agentDir = staging.unpack() + "/agent";
  EXPECT_EQ(readBytes(agentDir + "/.agent/memories/m.json"), "12345");
  for (const QByteArray& name : odd)
    EXPECT_EQ(tlr::test::readNativeBytes(native(agentDir + "/.agent/odd/") + name), "odd " + name) << name.toStdString();
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/link-to-file")) << "links inside a folder are skipped";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/pipe"));
  EXPECT_TRUE(QFileInfo(agentDir + "/.agent/empty").isDir()) << "an empty folder comes back";
  EXPECT_TRUE(entries(agentDir + "/.agent/logs-only").isEmpty()) << "a folder of excluded files comes back empty";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/debug.log"));
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/.agent/secret.json"));
  EXPECT_EQ(modeOf(agentDir), 0700u);
  struct stat one{}, two{}, timed{};
  ::stat(native(agentDir + "/.agent/memories/m.json").constData(), &one);
  ::stat(native(agentDir + "/.agent/memories/m2.json").constData(), &two);
  EXPECT_EQ(one.st_ino, two.st_ino) << "stored once, the second name as a link";
  EXPECT_EQ(staging.verboseListing().count("link to"), 1);
  ::stat(native(agentDir + "/.agent/tasks/t.json").constData(), &timed);
  EXPECT_EQ(timed.st_mtim.tv_sec, 1700000000);
  EXPECT_EQ(timed.st_mtim.tv_nsec, 123456789);
}

TEST(BackupStaging, AFileRootAndALinkToAFileAreStoredAsFiles) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/home/.agentrc", "rc");
  writeBytes(dir.path() + "/real/settings.json", "{\"k\":1}");
  QFile::link(dir.path() + "/real/settings.json", dir.path() + "/home/settings.json");
  QFile::link(dir.path() + "/nowhere", dir.path() + "/home/dangling");

  // A file whose content is shorter than its size at every reading (as the
  // kernel's files are): read again once, then named as changed. The same
  // for the files of a folder, which are read on other threads than the
  // walk's.
  const QString changing = "/sys/kernel/uevent_seqnum";
  const QString changingFolder = "/sys/kernel/reboot";
  const QStringList changingFiles = QDir(changingFolder).entryList(QDir::Files, QDir::NoSort);
  Staged staging(dir.path());
  const StagedSnapshot snapshot = staging.stage(
      {{"a", {dir.path() + "/home/.agentrc", dir.path() + "/home/settings.json", dir.path() + "/home/dangling"}, {}},
       {"b", {changing}, {}},
       {"c", {changingFolder}, {}}});
  const StagedAgent& staged = snapshot.agents.value(0);
  if (QFileInfo::exists(changing)) {
    EXPECT_EQ(snapshot.changed.examples.value(0), changing);
  }
  EXPECT_EQ(snapshot.changed.count, (QFileInfo::exists(changing) ? 1 : 0) + changingFiles.size());
  EXPECT_EQ(snapshot.agents.value(2).fileCount, changingFiles.size());
  EXPECT_EQ(staged.files.toStringList(), (QStringList{".agentrc", "settings.json"}));
  EXPECT_EQ(staged.fileCount, 2);
  EXPECT_EQ(staged.totalBytes, 2 + 7);
  const QString agentDir = staging.unpack() + "/a";
  const QString listing = staging.verboseListing();
  if (QFileInfo::exists(changing)) {
    EXPECT_EQ(listing.count("b/uevent_seqnum"), 2) << "read twice";
  }
  for (const QString& name : changingFiles) EXPECT_EQ(listing.count("c/reboot/" + name + "\n"), 2) << "read twice";
  EXPECT_TRUE(listing.contains("a/settings.json")) << listing.toStdString();
  EXPECT_FALSE(listing.contains(" -> ")) << listing.toStdString();
  EXPECT_EQ(readBytes(agentDir + "/settings.json"), "{\"k\":1}");
  EXPECT_FALSE(QFileInfo(agentDir + "/settings.json").isSymLink()) << "the link's file, not the link";
  EXPECT_FALSE(QFileInfo::exists(agentDir + "/dangling"));
}

TEST(BackupStaging, ARootSharedByAgentsOrLyingInsideAnotherIsStoredOnce) {
  QTemporaryDir dir;
  const QString shared = dir.path() + "/shared";
  writeBytes(shared + "/notes/n.txt", "shared");
  writeBytes(shared + "/settings.json", "{}");
  writeBytes(shared + "/cache/c.bin", "cached");
  writeBytes(shared + "/x.tmp", "kept by b only");
  Staged staging(dir.path());
  // a reaches the notes through two roots and keeps its settings file inside
  // a cache it leaves out; b names the same folder with other patterns; c
  // names only the notes.
  const StagedSnapshot snapshot = staging.stage({
      {"a", {shared, shared + "/notes", shared + "/cache/c.bin"}, {"cache", "*.tmp"}},
      {"b", {shared, shared + "/settings.json"}, {"cache"}},
      {"c", {shared + "/notes"}, {}},
  });
  ASSERT_EQ(snapshot.agents.size(), 3);
  const StagedAgent& a = snapshot.agents[0];
  const StagedAgent& b = snapshot.agents[1];
  const StagedAgent& c = snapshot.agents[2];
  QStringList aFiles = a.files.toStringList(), bFiles = b.files.toStringList();
  aFiles.sort();
  bFiles.sort();
  // A file two roots of one agent reach is one of its files.
  EXPECT_EQ(aFiles, (QStringList{"c.bin", "shared/notes/n.txt", "shared/settings.json"}));
  EXPECT_EQ(a.fileCount, 3);
  EXPECT_EQ(bFiles, (QStringList{"shared/notes/n.txt", "shared/settings.json", "shared/x.tmp"}));
  EXPECT_EQ(b.fileCount, 3);
  EXPECT_EQ(b.totalBytes, 6 + 2 + 14);
  EXPECT_EQ(c.files.toStringList(), QStringList{"notes/n.txt"});
  EXPECT_EQ(a.roots, (QList<StagedAgent::Root>{{"shared", shared, "a/shared", a.roots.value(0).diskBytes},
                                               {"notes", shared + "/notes", "a/shared/notes", a.roots.value(1).diskBytes},
                                               {"c.bin", shared + "/cache/c.bin", "a/shared/cache/c.bin",
                                                a.roots.value(2).diskBytes}}));
  EXPECT_EQ(b.roots.value(0).stored, "a/shared");
  EXPECT_EQ(b.roots.value(1).stored, "a/shared/settings.json");
  EXPECT_EQ(c.roots.value(0).stored, "a/shared/notes");

  // Each file once in the archive, under a's entry.
  const QString out = staging.unpack();
  const QString listing = staging.verboseListing();
  EXPECT_EQ(listing.count("n.txt"), 1) << listing.toStdString();
  EXPECT_FALSE(listing.contains("link to"));
  EXPECT_EQ(entries(out), (QStringList{"a"}));
  EXPECT_EQ(readBytes(out + "/a/shared/notes/n.txt"), "shared");
  EXPECT_EQ(readBytes(out + "/a/shared/cache/c.bin"), "cached");
  EXPECT_EQ(readBytes(out + "/a/shared/x.tmp"), "kept by b only");
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
  QStringList files = staged.files.toStringList();
  files.sort();
  EXPECT_EQ(files, (QStringList{"config/a", "config~2/a", "config~2/b", "config~2~2"}));
  ASSERT_EQ(staged.roots.size(), 3);
  EXPECT_EQ(staged.roots[0].name, "config");
  EXPECT_EQ(staged.roots[1].stored, "x/config~2");
  EXPECT_EQ(staged.roots[2].path, roots[2]);
  const QString agentDir = staging.unpack() + "/x";
  EXPECT_EQ(readBytes(agentDir + "/config/a"), "1");
  EXPECT_EQ(readBytes(agentDir + "/config~2/a"), "2");
  EXPECT_EQ(readBytes(agentDir + "/config~2~2"), "a file named like the second");
}

TEST(BackupStaging, StoredFoldersKeepTheirSourcesPermissionBits) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/data/private/p", "p");
  writeBytes(dir.path() + "/data/shared/s", "s");
  writeBytes(dir.path() + "/data/readonly/r", "r");
  ::chmod(QFile::encodeName(dir.path() + "/data/readonly").constData(), 0555);
  ::chmod(QFile::encodeName(dir.path() + "/data/private").constData(), 0700);
  ::chmod(QFile::encodeName(dir.path() + "/data/shared").constData(), 0755);
  ::chmod(QFile::encodeName(dir.path() + "/data").constData(), 0750);
  Staged staging(dir.path());
  staging.agent("x", {dir.path() + "/data"});
  const QString agentDir = staging.unpack() + "/x";
  EXPECT_EQ(modeOf(agentDir + "/data"), 0750u);
  EXPECT_EQ(modeOf(agentDir + "/data/private"), 0700u);
  EXPECT_EQ(modeOf(agentDir + "/data/shared"), 0755u);
  EXPECT_EQ(modeOf(agentDir + "/data/readonly"), 0555u);
}

// A folder of many files, small ones (read ahead, in batches, up to what may
// be held at once), large ones, one with holes, second names, a FIFO, an
// excluded and an unreadable one among them: each comes back byte for byte,
// in the order the folder lists them, and what was left out is said.
TEST(BackupStaging, AFolderOfManyFilesComesBackWholeInTheOrderItIsListed) {
  QTemporaryDir dir;
  const QString data = dir.path() + "/home/.agent";
  const QString many = data + "/many";
  QHash<QString, QByteArray> contents;
  for (int i = 0; i < 300; ++i) {
    QByteArray bytes = QByteArray::number(i) + ':';
    while (bytes.size() < (i * 37) % 3000) bytes += QByteArray::number(i * 7919);
    if (i % 50 == 0) bytes.clear();
    contents.insert(QStringLiteral("f%1.json").arg(i), bytes);
  }
  // 1 MiB each: more than may be read ahead at once.
  for (int i = 0; i < 20; ++i) contents.insert(QStringLiteral("big%1.bin").arg(i), QByteArray(1 << 20, char('a' + i)));
  contents.insert("larger.bin", QByteArray((1 << 20) + 1, 'L'));
  for (auto it = contents.cbegin(); it != contents.cend(); ++it) writeBytes(many + "/" + it.key(), it.value());
  // Holes, then data at the end.
  {
    QFile sparse(many + "/sparse.img");
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    ASSERT_TRUE(sparse.seek(3 << 20));
    sparse.write("tail");
    contents.insert("sparse.img", QByteArray(3 << 20, '\0') + "tail");
  }
  for (int i = 0; i < 300; i += 30) {
    const QString second = QStringLiteral("link%1.json").arg(i);
    ASSERT_EQ(::link(native(many + QStringLiteral("/f%1.json").arg(i)).constData(), native(many + "/" + second).constData()), 0);
    contents.insert(second, contents.value(QStringLiteral("f%1.json").arg(i)));
  }
  ASSERT_EQ(::mkfifo(native(many + "/pipe").constData(), 0600), 0);
  writeBytes(many + "/left.log", "excluded");
  writeBytes(many + "/secret.json", "unreadable");
  ::chmod(native(many + "/secret.json").constData(), 0);

  Staged staging(dir.path());
  const StagedSnapshot snapshot = [&] {
    tlr::test::AsOrdinaryUser ordinary;
    return staging.stage({{"agent", {data}, {"*.log"}}});
  }();
  const StagedAgent& staged = snapshot.agents.value(0);
  EXPECT_EQ(staged.fileCount, contents.size());
  EXPECT_TRUE(snapshot.changed.isEmpty());
  EXPECT_EQ(snapshot.unreadable.examples, QStringList{many + "/secret.json"});
  EXPECT_EQ(snapshot.notRegular.examples, QStringList{many + "/pipe"});

  const QString out = staging.unpack() + "/agent/.agent/many";
  // The members in the order the folder lists its entries.
  QStringList listed;
  if (DIR* folder = ::opendir(native(many).constData())) {
    while (const dirent* entry = ::readdir(folder)) {
      const QString name = QFile::decodeName(entry->d_name);
      if (contents.contains(name)) listed << name;
    }
    ::closedir(folder);
  }
  QStringList members;
  for (const QString& line : staging.verboseListing().split('\n')) {
    const qsizetype at = line.indexOf("/many/");
    if (at >= 0 && at + 6 < line.size()) members << line.mid(at + 6).section(' ', 0, 0);
  }
  EXPECT_EQ(members.join(' ').toStdString(), listed.join(' ').toStdString());

  for (auto it = contents.cbegin(); it != contents.cend(); ++it)
    EXPECT_EQ(readBytes(out + "/" + it.key()), it.value()) << it.key().toStdString();
  struct stat first{}, second{};
  ::stat(native(out + "/f30.json").constData(), &first);
  ::stat(native(out + "/link30.json").constData(), &second);
  EXPECT_EQ(first.st_ino, second.st_ino) << "stored once, the second name as a link";
  EXPECT_FALSE(QFileInfo::exists(out + "/secret.json"));
  EXPECT_FALSE(QFileInfo::exists(out + "/left.log"));
}

// Agents that share a folder and leave out different parts of it: what one
// leaves out is stored for the other, with everything below it, and a root
// of the first inside it is still its own. A file with a second name on
// each side is stored once, the later name as a link, whichever side is
// walked first.
TEST(BackupStaging, WhatOneAgentLeavesOutOfASharedFolderIsStoredForAnother) {
  QTemporaryDir dir;
  const QString shared = dir.path() + "/shared";
  for (const QString sub : {"p", "q"}) {
    writeBytes(shared + "/" + sub + "/deep/d.json", "deep");
    writeBytes(shared + "/" + sub + "/inner/i.json", "inner");
  }
  writeBytes(shared + "/p/one.json", "linked");
  ASSERT_EQ(::link(native(shared + "/p/one.json").constData(), native(shared + "/q/two.json").constData()), 0);
  // a leaves out the folder walked first, so the second name comes after.
  QString first;
  if (DIR* folder = ::opendir(native(shared).constData())) {
    while (const dirent* entry = ::readdir(folder)) {
      if (first.isEmpty() && (entry->d_name == QByteArray("p") || entry->d_name == QByteArray("q"))) first = entry->d_name;
    }
    ::closedir(folder);
  }
  ASSERT_FALSE(first.isEmpty());
  const QString kept = first == "p" ? "q" : "p";
  Staged staging(dir.path());
  const StagedSnapshot snapshot = staging.stage({
      {"a", {shared, shared + "/" + first + "/inner"}, {first}},
      {"b", {shared}, {}},
  });
  QStringList aFiles = snapshot.agents.value(0).files.toStringList(), bFiles = snapshot.agents.value(1).files.toStringList();
  aFiles.sort();
  bFiles.sort();
  QStringList aExpected{"inner/i.json", "shared/" + kept + "/deep/d.json", "shared/" + kept + "/inner/i.json",
                        "shared/" + kept + (kept == "p" ? "/one.json" : "/two.json")};
  aExpected.sort();
  EXPECT_EQ(aFiles, aExpected);
  EXPECT_EQ(bFiles, (QStringList{"shared/p/deep/d.json", "shared/p/inner/i.json", "shared/p/one.json",
                                 "shared/q/deep/d.json", "shared/q/inner/i.json", "shared/q/two.json"}));
  EXPECT_EQ(snapshot.agents.value(0).roots.value(1).stored, "a/shared/" + first + "/inner");
  const QString out = staging.unpack() + "/a/shared";
  EXPECT_EQ(staging.verboseListing().count("link to"), 1) << staging.verboseListing().toStdString();
  EXPECT_EQ(readBytes(out + "/p/one.json"), "linked");
  EXPECT_EQ(readBytes(out + "/q/two.json"), "linked");
  EXPECT_EQ(readBytes(out + "/" + first + "/deep/d.json"), "deep");
}

// A folder's entries are listed before they are stored: one that the
// listing calls a regular file but that is a folder, a link or a FIFO by the
// time the walk comes to it is taken as what it is then.
TEST(BackupStaging, AnEntryListedAsAFileThatIsNoLongerOneIsTakenAsWhatItIsNow) {
  QTemporaryDir dir;
  const QString data = dir.path() + "/.agent";
  const QString folder = data + "/r";
  // A large file, listed before the ones that change: while its content
  // fills the pipe (which nobody reads yet), the walk waits inside it.
  const QStringList changing{"x", "y", "z"};
  QString big;
  for (int attempt = 0; big.isEmpty(); ++attempt) {
    ASSERT_LT(attempt, 50);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString suffix = QString::number(attempt);
    writeBytes(folder + "/big" + suffix, QByteArray(4 << 20, 'b'));
    for (const QString& name : changing) writeBytes(folder + "/" + name, "a file at first");
    // Which comes first in the listing depends on the file system: names
    // are tried until the large file is listed before the others.
    QStringList listed;
    if (DIR* d = ::opendir(native(folder).constData())) {
      while (const dirent* entry = ::readdir(d)) listed << QString::fromUtf8(entry->d_name);
      ::closedir(d);
    }
    const qsizetype at = listed.indexOf("big" + suffix);
    if (std::all_of(changing.begin(), changing.end(), [&](const QString& n) { return listed.indexOf(n) > at; }))
      big = "big" + suffix;
  }
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  QByteArray stream;
  std::thread reader([&] {
    char buffer[4096];
    bool changed = false;
    while (true) {
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      stream.append(buffer, n);
      // The large file's header has come: the walk is inside its content.
      if (!changed && stream.contains("/r/" + big.toUtf8())) {
        changed = true;
        QFile::remove(folder + "/x");
        writeBytes(folder + "/x/inside.json", "in a folder now");
        QFile::remove(folder + "/y");
        QFile::link(folder + "/x/inside.json", folder + "/y");
        QFile::remove(folder + "/z");
        ::mkfifo(native(folder + "/z").constData(), 0600);
      }
    }
  });
  StagedSnapshot snapshot;
  {
    TarWriter writer(fds[1]);
    snapshot = BackupStaging::stage(writer, "stage", {{"agent", {data}, {}}});
    EXPECT_TRUE(writer.finish());
  }
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  QStringList files = snapshot.agents.value(0).files.toStringList();
  files.sort();
  EXPECT_EQ(files, (QStringList{".agent/r/" + big, ".agent/r/x/inside.json"}));
  QStringList leftOut = snapshot.notRegular.examples;
  leftOut.sort();
  EXPECT_EQ(leftOut, (QStringList{folder + "/y", folder + "/z"}));
  EXPECT_TRUE(snapshot.unreadable.isEmpty());
}
