#include "backup/BackupEngine.h"
#include "backup/BackupManifest.h"
#include "backup/BackupStorage.h"

#include "EngineTestSupport.h"
#include "core/stores/SettingsStore.h"
#include "platform/Paths.h"
#include "platform/TarArchive.h"
#include "support/RegistryJson.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QSet>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>
#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tlr;
using namespace tlr::test;
using Case = BackupError::Case;

namespace {

AgentEntry agent(const QString& id, const QStringList& includePaths, const QString& extra = {}) {
  QStringList quoted;
  for (const QString& p : includePaths) quoted << "\"" + p + "\"";
  return entryFromJson(QStringLiteral(R"("id":"%1","displayName":"%1 名","vendor":"v","kind":"cli",
      "identify":{"executableNames":["%1"]},"backup":{"includePaths":[%2]%3})")
                           .arg(id, quoted.join(','), extra)
                           .toUtf8());
}

struct Outcome {
  bool done = false;
  std::optional<BackupEngine::Result> result;
};

BackupEngine::Result runAndWait(BackupEngine& engine, const QList<AgentEntry>& agents) {
  Outcome outcome;
  engine.runBackup(agents, [&](const BackupEngine::Result& r) {
    outcome.done = true;
    outcome.result = r;
  });
  EXPECT_TRUE(waitUntil([&] { return outcome.done; }, std::chrono::seconds(60)));
  return outcome.result.value_or(BackupEngine::Result(Unexpected(BackupError::of(Case::scanFailed, "no answer"))));
}

QStringList archiveMembers(const QString& archive) {
  QProcess tar;
  tar.start("/usr/bin/tar", {"-tzf", archive});
  tar.waitForFinished(30000);
  QStringList members = QString::fromUtf8(tar.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  members.sort();
  return members;
}

class BackupEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    volume.folder = home.path() + "/volume";
    QDir().mkpath(volume.folder);
  }
  TempHome home;
  FolderVolume volume;
};

}  // namespace

TEST_F(BackupEngineTest, BacksUpAgentsSharingAFileAFileRootAndALinkRoot) {
  const QString h = home.path();
  writeFile(h + "/.alpha/skills/s.md", "skill");
  writeFile(h + "/shared/notes.txt", "shared by two");
  writeFile(h + "/.beta/memories/m.json", "{\"m\":1}");
  writeFile(h + "/.betarc", "rc");
  writeFile(h + "/real/config.json", "{\"real\":true}");
  QFile::link(h + "/real/config.json", h + "/config.json");
  // Inside a folder: never stored, but said.
  QFile::link(h + "/real/config.json", h + "/.beta/memories/link.json");
  ::mkfifo(QFile::encodeName(h + "/.beta/pipe").constData(), 0600);
  // Not stored whole, and said: a folder deeper than the walk goes, a file
  // no one may read (this kernel file refuses even root), and one that is
  // shorter than its size at every reading (as the kernel's files are).
  QString deep = h + "/.alpha/deep";
  for (int level = 1; level < StagedSnapshot::kMaxDepth; ++level) deep += "/d";
  writeFile(deep + "/d/lost.json", "one level too deep");
  const QString refusing = "/proc/sys/vm/compact_memory", changing = "/sys/kernel/uevent_seqnum";
  QFile::link(refusing, h + "/refusing");
  QFile::link(changing, h + "/changing");
  const QList<AgentEntry> agents = {
      agent("alpha", {"~/.alpha", "~/shared", "~/refusing", "~/changing"}),
      agent("beta", {"~/.beta", "~/shared", "~/.betarc", "~/config.json"}),
      agent("gamma", {"~/missing"}),
  };

  BackupEngine engine(volume.access());
  QStringList labels;
  QObject::connect(&engine, &BackupEngine::stageChanged, [&] { labels << stageText(engine); });
  QList<bool> running;
  QObject::connect(&engine, &BackupEngine::isRunningChanged, [&](bool r) { running << r; });

  const BackupEngine::Result result = runAndWait(engine, agents);
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  EXPECT_EQ(result.value().agentCount, 2);
  EXPECT_EQ(result.value().leftOutCount, 2);
  EXPECT_EQ(QSet<QString>(result.value().leftOutExamples.cbegin(), result.value().leftOutExamples.cend()),
            (QSet<QString>{"~/.beta/memories/link.json", "~/.beta/pipe"}));
  const QString tooDeep = "~/.alpha/deep" + QString("/d").repeated(StagedSnapshot::kMaxDepth);
  EXPECT_EQ(result.value().tooDeep, (NamedItems{1, {tooDeep}}));
  if (QFileInfo::exists(refusing)) {
    EXPECT_EQ(result.value().unreadable, (NamedItems{1, {"~/refusing"}}));
  }
  if (QFileInfo::exists(changing)) {
    EXPECT_EQ(result.value().changed, (NamedItems{1, {"~/changing"}}));
  }
  EXPECT_EQ(result.value().storageDisplayName, "本机备份");
  EXPECT_EQ(engine.lastBackup(), result.value());
  EXPECT_EQ(running, (QList<bool>{true, false}));
  EXPECT_EQ(labels, (QStringList{"准备中…", "正在复制文件…", "正在压缩…", "正在校验完整性…", "正在写入加密备份卷…", ""}));
  EXPECT_FALSE(engine.isRunning());

  // One snapshot with both files; the plain staging folder and archive are
  // gone from the home folder; the volume is unmounted again.
  const QStringList snapshots = entries(volume.snapshots());
  ASSERT_EQ(snapshots.size(), 1);
  const QString snapshot = volume.snapshots() + "/" + snapshots.first();
  EXPECT_EQ(entries(snapshot), (QStringList{"backup.tar.gz", "manifest.json"}));
  EXPECT_FALSE(QFileInfo::exists(h + "/.tollamere-backup-tmp"));
  EXPECT_FALSE(QFileInfo::exists(h + "/.tollamere-backup-tmp.tar.gz"));
  EXPECT_EQ(volume.mounts, 1);
  EXPECT_EQ(volume.unmounts, 1);

  const auto manifest = BackupManifest::decode(readAll(snapshot + "/manifest.json"));
  ASSERT_TRUE(manifest.ok());
  ASSERT_EQ(manifest.value().agents.size(), 2);
  EXPECT_EQ(manifest.value().agents[0].id, "alpha");
  // "shared" lies in alpha's entry, stored once, and is listed for both.
  EXPECT_EQ(manifest.value().agents[1].files.toStringList(),
            (QStringList{"shared/notes.txt", ".beta/memories/m.json", ".betarc", "config.json"}));
  EXPECT_EQ(manifest.value().archiveSha256, BackupManifest::sha256HexOfFile(snapshot + "/backup.tar.gz").value());
  EXPECT_EQ(manifest.value().totalBytes, QFileInfo(snapshot + "/backup.tar.gz").size());

  // The shared folder is stored once, in alpha's entry, and recorded for
  // beta there; the link root is its file, not a link.
  ASSERT_TRUE(manifest.value().agents[1].roots.has_value());
  EXPECT_EQ(manifest.value().agents[1].roots->value(1).stored, "alpha/shared");
  EXPECT_FALSE(manifest.value().agents[1].roots->value(0).stored.has_value());
  QProcess listing;
  listing.start("/usr/bin/tar", {"-tvzf", snapshot + "/backup.tar.gz"});
  listing.waitForFinished(30000);
  const QString verbose = QString::fromUtf8(listing.readAllStandardOutput());
  EXPECT_FALSE(verbose.contains("link to")) << verbose.toStdString();
  EXPECT_FALSE(verbose.contains(" -> ")) << verbose.toStdString();
  EXPECT_TRUE(archiveMembers(snapshot + "/backup.tar.gz").contains(".tollamere-backup-tmp/beta/config.json"));
  EXPECT_EQ(verbose.count("notes.txt"), 1) << verbose.toStdString();

  // The summary survives a restart (what was left out is the run's alone).
  BackupEngine again(volume.access());
  BackupEngine::BackupRecord kept = result.value();
  kept.leftOutCount = 0;
  kept.leftOutExamples.clear();
  kept.unreadable = kept.tooDeep = kept.changed = {};
  EXPECT_EQ(again.lastBackup(), kept);
}

TEST_F(BackupEngineTest, NoImageFailsWithTheEnginesTextAndTouchesNothing) {
  volume.exists = false;
  BackupEngine engine(volume.access());
  const auto result = runAndWait(engine, {agent("alpha", {"~"})});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, Case::notSetUp);
  EXPECT_EQ(engine.lastErrorText(), "写入失败：加密备份卷未初始化。请到「备份与恢复」面板先设置加密卷。");
  EXPECT_EQ(volume.mounts, 0);
  EXPECT_FALSE(engine.isRunning());
  EXPECT_FALSE(engine.stage().has_value());
}

TEST_F(BackupEngineTest, AMountedVolumeStaysMountedAndNothingToBackUpIsReported) {
  volume.mounted = true;
  writeFile(home.path() + "/.empty/.keep-dir/x.log", "excluded");
  BackupEngine engine(volume.access());
  auto result = runAndWait(engine, {});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().description(), "没有已安装的 Agent，没什么可备份");
  EXPECT_TRUE(volume.mounted);

  // A root that is no folder or file (a FIFO): nothing to back up.
  ::mkfifo(QFile::encodeName(home.path() + "/.pipe").constData(), 0600);
  result = runAndWait(engine, {agent("p", {"~/.pipe"})});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().description(), "扫描失败：所有 Agent 都没有可备份的内容");
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/.tollamere-backup-tmp"));
  EXPECT_TRUE(volume.mounted);
  EXPECT_EQ(volume.unmounts, 0);

  // Folders that hold nothing the agent keeps (only what its patterns leave
  // out) are the agent's all the same: it is listed, with no file.
  result = runAndWait(engine, {agent("e", {"~/.empty"}, R"(,"excludePatterns":["*.log"])")});
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  EXPECT_EQ(result.value().agentCount, 1);
}

TEST_F(BackupEngineTest, ASecondRequestIsRefusedWhileARunIsUnderWay) {
  writeFile(home.path() + "/.alpha/a", QByteArray(1 << 20, 'a'));
  BackupEngine engine(volume.access());
  bool firstDone = false;
  engine.runBackup({agent("alpha", {"~/.alpha"})}, [&](const BackupEngine::Result&) { firstDone = true; });
  std::optional<BackupEngine::Result> second;
  engine.runBackup({agent("alpha", {"~/.alpha"})}, [&](const BackupEngine::Result& r) { second = r; });
  ASSERT_TRUE(second.has_value()) << "refused at once";
  EXPECT_EQ(second->error().description(), "已有备份正在进行中");
  EXPECT_TRUE(engine.isRunning());
  EXPECT_TRUE(engine.lastErrorText().isEmpty());
  EXPECT_TRUE(waitUntil([&] { return firstDone; }, std::chrono::seconds(60)));
}

TEST_F(BackupEngineTest, AnInterruptedWriteLeavesNoVisibleSnapshotAndTheNextRunClearsIt) {
  writeFile(home.path() + "/.alpha/a", "a");
  BackupEngine engine(volume.access());
  ASSERT_TRUE(runAndWait(engine, {agent("alpha", {"~/.alpha"})}).ok());
  const QStringList first = entries(volume.snapshots());
  // What a killed run leaves: a hidden, half-written snapshot.
  writeFile(volume.snapshots() + "/.partial-2099-01-01_00-00-00/backup.tar.gz", "half");
  volume.mounted = true;
  EXPECT_EQ(volume.access().listSnapshots().size(), 1);
  volume.mounted = false;

  ASSERT_TRUE(runAndWait(engine, {agent("alpha", {"~/.alpha"})}).ok());
  const QStringList second = entries(volume.snapshots());
  ASSERT_EQ(second.size(), 1) << second.join(' ').toStdString();
  EXPECT_FALSE(second.first().startsWith('.')) << "the leftover is cleared, the new snapshot is in place";
  EXPECT_EQ(entries(volume.snapshots() + "/" + second.first()), (QStringList{"backup.tar.gz", "manifest.json"}));
}

TEST_F(BackupEngineTest, StagesAreTextKeysAndTheVolumeIsReadBack) {
  writeFile(home.path() + "/.alpha/a", "a");
  BackupEngine engine(volume.access());
  QList<std::optional<LocKey>> stages;
  QObject::connect(&engine, &BackupEngine::stageChanged, [&] { stages << engine.stage(); });
  ASSERT_TRUE(runAndWait(engine, {agent("alpha", {"~/.alpha"})}).ok());
  // The window writes them in its language; the engine knows none.
  EXPECT_EQ(stages.value(1), LocKey::backupStageCopying());

  // Reading the mounted volume leaves the window thread: held here, the
  // call returns at once; a later reading (the image is gone) overtakes it,
  // and the held one, let go, gives way.
  volume.mounted = true;
  SnapshotVolume slow = volume.access();
  auto reading = std::make_shared<std::promise<void>>();
  auto listed = std::make_shared<std::atomic<int>>(0);
  slow.listSnapshots = [list = slow.listSnapshots, held = reading->get_future().share(), listed] {
    ++*listed;
    held.wait_for(std::chrono::seconds(3));
    return list();
  };
  BackupEngine reader(slow);
  int announced = 0;
  QObject::connect(&reader, &BackupEngine::lastBackupChanged, [&] { ++announced; });
  reader.refreshLastBackupFromVolume();
  ASSERT_TRUE(reader.lastBackup().has_value());
  EXPECT_EQ(reader.lastBackup()->storageDisplayName, "本机备份") << "read back while the window thread waited";
  EXPECT_EQ(announced, 0);
  ASSERT_TRUE(waitUntil([&] { return *listed == 1; }));
  volume.exists = false;
  reader.refreshLastBackupFromVolume();
  ASSERT_TRUE(waitUntil([&] { return !reader.lastBackup().has_value(); }));
  reading->set_value();
  finishOffMainWork();
  EXPECT_FALSE(reader.lastBackup().has_value());
  EXPECT_FALSE(QFileInfo::exists(BackupEngine::lastBackupCachePath()));
  volume.exists = true;
  reader.refreshLastBackupFromVolume();
  ASSERT_TRUE(waitUntil([&] { return reader.lastBackup().has_value(); }));
  EXPECT_EQ(reader.lastBackup()->storageDisplayName, "加密备份卷");
  EXPECT_TRUE(QFileInfo::exists(BackupEngine::lastBackupCachePath()));
}

TEST_F(BackupEngineTest, WhatAKilledRunLeftIsRemovedAndItsMountDetachedAtTheEnd) {
  const QString h = home.path();
  writeFile(h + "/.alpha/a", "a");
  // A killed backup's staging and plain archive, a killed restore's staging,
  // and the volume still attached by the process that is gone.
  writeFile(h + "/.tollamere-backup-tmp/alpha/.alpha/secret", "plain");
  writeFile(h + "/.tollamere-backup-tmp.tar.gz", "plain archive");
  writeFile(h + "/.tollamere-restore-tmp/.tollamere-backup-tmp/alpha/x", "plain");
  writeFile(h + "/.tollamere-other", "not ours to remove");
  volume.mounted = true;
  volume.orphaned = true;
  BackupEngine engine(volume.access());
  ASSERT_TRUE(runAndWait(engine, {agent("alpha", {"~/.alpha"})}).ok());
  EXPECT_EQ(entries(h).filter(".tollamere"), QStringList{".tollamere-other"});
  EXPECT_FALSE(volume.mounted) << "the mount of the killed run is detached at the end";
  EXPECT_EQ(volume.unmounts, 1);
  EXPECT_EQ(volume.mounts, 0);
}

TEST_F(BackupEngineTest, AnotherOperationOnTheImageRefusesTheBackupAtOnce) {
  writeFile(home.path() + "/.alpha/a", "a");
  // A socket standing at the lock file's place is replaced by a lock file
  // of ours, so the lock holds between processes too.
  {
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray place = QFile::encodeName(volume.lockFile());
    ASSERT_LT(size_t(place.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, place.constData(), size_t(place.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(listener);
  }
  // Held by a restore, an export or an import (here or in another process).
  std::optional<VolumeLock> held = VolumeLock::tryAcquire(volume.lockFile());
  ASSERT_TRUE(held.has_value());
  {
    const int other = ::open(QFile::encodeName(volume.lockFile()).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    ASSERT_GE(other, 0) << "a plain file of ours stands there now";
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "and another process finds it locked";
    ::close(other);
  }
  BackupEngine engine(volume.access());
  const auto refused = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().description(), "已有备份正在进行中");
  EXPECT_EQ(refused.error().message(), EngineMessage::busy());
  EXPECT_EQ(volume.mounts, 0);
  EXPECT_FALSE(QFileInfo::exists(volume.snapshots()));
  held.reset();
  EXPECT_TRUE(runAndWait(engine, {agent("alpha", {"~/.alpha"})}).ok()) << "free again once the other is done";
}

TEST_F(BackupEngineTest, AVolumeThatStaysAttachedFailsTheRunSayingWhatToInstall) {
  writeFile(home.path() + "/.alpha/a", "a");
  volume.unmountError =
      BackupVolumeError{BackupVolumeError::Kind::detachFailed, "找不到 fusermount3", false, "fusermount3"};
  BackupEngine engine(volume.access());
  const auto result = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
  ASSERT_FALSE(result.ok()) << "the decrypted files stay reachable: no success";
  EXPECT_EQ(result.error().message(),
            (EngineMessage{LocKey::backupErrDetachToolMissing("fusermount3", "fuse3"), {}, false}));
  EXPECT_EQ(engine.lastFailure(), result.error().message());
}

TEST_F(BackupEngineTest, NoSnapshotIsKeptWhenTheVolumeFailsTheWrite) {
  writeFile(home.path() + "/.alpha/a", "a");
  const QString failed = QStringLiteral("/backup.tar.gz: ");
  const QString noSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));
  // Fails the `which`-th flush of a folder: the snapshot's own, then the
  // volume's once the snapshot has its name.
  const auto failingFolderFlush = [](int which) {
    return [which, seen = std::make_shared<int>(0)](int fd) {
      struct stat st {};
      if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && ++*seen == which) {
        errno = ENOSPC;
        return -1;
      }
      return ::fsync(fd);
    };
  };
  const struct {
    const char* name;
    std::function<void(SnapshotVolume&)> fault;
    QString errorEnd;
  } cases[] = {
      // Attached when the run began; the folder at its mount point is bare now.
      {"gone", [](SnapshotVolume& v) { v.device = [] { return std::optional<quint64>(); }; },
       "加密备份卷未挂载，无法写入备份。请先在 UI 里初始化加密卷。"},
      {"not flushed",
       [](SnapshotVolume& v) {
         v.syncFile = [](int) {
           errno = ENOSPC;
           return -1;
         };
       },
       failed + QString::fromLocal8Bit(std::strerror(ENOSPC))},
      // The disk holds less than was written.
      {"short",
       [](SnapshotVolume& v) {
         v.syncFile = [](int fd) {
           struct stat st {};
           return ::fstat(fd, &st) == 0 && ::ftruncate(fd, st.st_size - 1) == 0 ? ::fsync(fd) : -1;
         };
       },
       failed + QString::fromLocal8Bit(std::strerror(EIO))},
      // Flushed together with the archive.
      {"manifest not flushed",
       [](SnapshotVolume& v) {
         v.syncFile = [](int fd) {
           if (QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName() == "manifest.json") {
             errno = ENOSPC;
             return -1;
           }
           return ::fsync(fd);
         };
       },
       "/manifest.json: " + noSpace},
      {"folder not flushed", [&](SnapshotVolume& v) { v.syncFile = failingFolderFlush(1); }, ": " + noSpace},
      // Its name never reached the disk: a crash now would leave no snapshot.
      {"name not flushed", [&](SnapshotVolume& v) { v.syncFile = failingFolderFlush(2); },
       volume.snapshots() + ": " + noSpace},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SnapshotVolume faulty = volume.access();
    c.fault(faulty);
    BackupEngine engine(faulty);
    const auto result = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().description().endsWith(c.errorEnd)) << result.error().description().toStdString();
    EXPECT_TRUE(entries(volume.snapshots()).isEmpty()) << "no snapshot, not even a partial one";
    EXPECT_FALSE(engine.lastBackup().has_value());
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/.tollamere-backup-tmp.tar.gz"));
  }
}

// The volume takes a moment to attach (deriving the key from the password):
// the files are read and packed meanwhile, the stream held until the
// snapshot can be written on the volume.
TEST_F(BackupEngineTest, TheFilesArePackedWhileTheVolumeAttaches) {
  writeFile(home.path() + "/.alpha/a", "a");
  writeFile(home.path() + "/.alpha/sessions/s.json", "{}");
  BackupEngine engine(volume.access());
  std::mutex mutex;
  std::condition_variable changed;
  bool packed = false;
  QObject::connect(&engine, &EngineState::stageChanged, [&] {
    std::lock_guard lock(mutex);
    packed = packed || engine.stage() == LocKey::backupStageCompressing();
    changed.notify_all();
  });
  bool packedBeforeAttached = false;
  volume.whileAttaching = [&] {
    std::unique_lock lock(mutex);
    packedBeforeAttached = changed.wait_for(lock, std::chrono::seconds(20), [&] { return packed; });
  };
  const auto result = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  EXPECT_TRUE(packedBeforeAttached);
  EXPECT_EQ(volume.mounts, 1);
  EXPECT_EQ(volume.unmounts, 1);
  const QStringList snapshots = entries(volume.snapshots());
  ASSERT_EQ(snapshots.size(), 1);
  const QString archive = volume.snapshots() + "/" + snapshots.front() + "/backup.tar.gz";
  const auto manifest = BackupManifest::decode(readAll(volume.snapshots() + "/" + snapshots.front() + "/manifest.json"));
  ASSERT_TRUE(manifest.ok());
  EXPECT_EQ(manifest.value().archiveSha256, BackupManifest::sha256Hex(readAll(archive))) << "held bytes written whole";
}

// A large archive goes to the disk as it is written, so the flush before the
// snapshot is put in place has only the last part left.
TEST_F(BackupEngineTest, ALargeArchiveIsFlushedAsItIsWritten) {
  QFile random("/dev/urandom");
  ASSERT_TRUE(random.open(QIODevice::ReadOnly));
  writeFile(home.path() + "/.alpha/big.bin", random.read(40 << 20));
  SnapshotVolume recording = volume.access();
  auto sizes = std::make_shared<std::vector<qint64>>();
  auto sizesMutex = std::make_shared<std::mutex>();
  recording.syncFile = [sizes, sizesMutex](int fd) {
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > (1 << 20)) {
      std::lock_guard lock(*sizesMutex);
      sizes->push_back(st.st_size);
    }
    return 0;  // the flush itself is the system's, not this test's
  };
  BackupEngine engine(recording);
  const auto result = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  ASSERT_GE(sizes->size(), 2u);
  EXPECT_LT(sizes->front(), sizes->back()) << "a flush while it was written";
  EXPECT_EQ(sizes->back(), result.value().totalBytes);
}

// The archive and the manifest go to the disk together; the snapshot takes
// its name only once both are there, whichever comes last.
TEST_F(BackupEngineTest, ASnapshotIsNamedOnlyOnceItsArchiveAndManifestAreOnTheDisk) {
  writeFile(home.path() + "/.alpha/a", "a");
  struct Flushes {
    std::mutex mutex;
    std::condition_variable changed;
    QStringList done;
  };
  auto flushes = std::make_shared<Flushes>();
  SnapshotVolume recording = volume.access();
  recording.syncFile = [flushes](int fd) {
    const QString name = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName();
    if (name == "backup.tar.gz") {
      // The archive's flush ends after the manifest's (at most a while after
      // it began, should the manifest's never come first).
      std::unique_lock lock(flushes->mutex);
      flushes->changed.wait_for(lock, std::chrono::seconds(5), [&] { return flushes->done.contains("manifest.json"); });
    }
    const int result = ::fsync(fd);
    std::lock_guard lock(flushes->mutex);
    flushes->done << name;
    flushes->changed.notify_all();
    return result;
  };
  QStringList flushedWhenNamed;
  recording.timestampLabel = [flushes, &flushedWhenNamed, label = recording.timestampLabel](const QDateTime& date) {
    std::lock_guard lock(flushes->mutex);
    flushedWhenNamed = flushes->done;
    return label(date);
  };
  BackupEngine engine(recording);
  const auto result = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  EXPECT_TRUE(flushedWhenNamed.contains("backup.tar.gz")) << flushedWhenNamed.join(' ').toStdString();
  EXPECT_TRUE(flushedWhenNamed.contains("manifest.json")) << flushedWhenNamed.join(' ').toStdString();
  EXPECT_EQ(entries(volume.snapshots()).size(), 1);
}

TEST_F(BackupEngineTest, ASnapshotBeingWrittenThatIsSwappedForALinkIsNeverWrittenThroughNorKept) {
  writeFile(home.path() + "/.alpha/a", "a");
  QTemporaryDir outside;
  SnapshotVolume swapped = volume.access();
  int asked = 0;
  // While the run writes, its hidden folder is moved away and a link to a
  // folder elsewhere put in its place.
  swapped.device = [inner = swapped.device, &asked, this, &outside] {
    if (++asked == 2) {
      for (const QString& partial : QDir(volume.snapshots()).entryList({".partial-*"}, QDir::Dirs | QDir::Hidden)) {
        QDir().rename(volume.snapshots() + "/" + partial, volume.snapshots() + "/.moved");
        QFile::link(outside.path(), volume.snapshots() + "/" + partial);
      }
    }
    return inner();
  };
  BackupEngine engine(swapped);
  const auto result = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
  ASSERT_GE(asked, 2);
  ASSERT_FALSE(result.ok());
  EXPECT_TRUE(result.error().description().endsWith("正在写入的快照文件夹被替换，备份没有完成"))
      << result.error().description().toStdString();
  EXPECT_TRUE(QDir(outside.path()).isEmpty()) << "nothing written outside the volume";
  EXPECT_TRUE(BackupStorage::listSnapshotsIn(volume.snapshots()).isEmpty());
  EXPECT_FALSE(engine.lastBackup().has_value());
}

TEST_F(BackupEngineTest, ABackupMakesNoPlainCopySoItNeedsNoRoomOutsideTheVolume) {
  const QString h = home.path();
  writeFile(h + "/.alpha/skills/s.md", "skill");
  // Where plain copies used to be staged: a file, so nothing can be made there.
  writeFile(h + "/work", "not a folder");
  volume.workFolder = h + "/work";
  BackupEngine engine(volume.access());
  const auto result = runAndWait(engine, {agent("alpha", {"~/.alpha"})});
  ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
  const QStringList snapshots = entries(volume.snapshots());
  ASSERT_EQ(snapshots.size(), 1);
  const QString archive = volume.snapshots() + "/" + snapshots.first() + "/backup.tar.gz";
  EXPECT_TRUE(archiveMembers(archive).contains(".tollamere-backup-tmp/alpha/.alpha/skills/s.md"));
  EXPECT_EQ(readAll(h + "/work"), "not a folder");
}

TEST(BackupEngineCache, ASummaryWithNumbersBeyondSixtyFourBitsIsNotRead) {
  TempHome home;
  for (const char* numbers : {R"("totalBytes": 1e300, "agentCount": 2)", R"("totalBytes": 10, "agentCount": -1e300)",
                              R"("totalBytes": 10.5, "agentCount": 2)"}) {
    writeFile(BackupEngine::lastBackupCachePath(),
              QStringLiteral(R"({"timestamp": "2026-01-01T00:00:00Z", "storageDisplayName": "本机备份", %1})")
                  .arg(QString::fromLatin1(numbers))
                  .toUtf8());
    EXPECT_FALSE(BackupEngine::readLastBackupCache().has_value()) << numbers;
  }
  writeFile(BackupEngine::lastBackupCachePath(),
            R"({"timestamp": "2026-01-01T00:00:00Z", "storageDisplayName": "本机备份", "totalBytes": 10,
                "agentCount": 2})");
  ASSERT_TRUE(BackupEngine::readLastBackupCache().has_value());
  EXPECT_EQ(BackupEngine::readLastBackupCache()->agentCount, 2);
}

// An oversize backup of `bytes`.
BackupError oversize(qint64 bytes) {
  BackupError error = BackupError::of(Case::oversize);
  error.bytes = bytes;
  return error;
}

TEST(BackupErrorTexts, DescriptionsAreTheEnginesChineseTexts) {
  EXPECT_EQ(oversize(524288000).description(), "备份过大（500 MB > 500 MB），请检查是否有异常大文件");
  EXPECT_EQ(oversize(1048575).description(), "备份过大（0 MB > 500 MB），请检查是否有异常大文件");
  EXPECT_EQ(BackupError::of(Case::packFailed, "unknown").description(), "打包失败：unknown");
  EXPECT_EQ(BackupError::of(Case::scanFailed, "x").textualForm(), "scanFailed(\"x\")");
}

TEST_F(BackupEngineTest, ALinkInPlaceOfTheLastBackupCacheIsReplacedNotWrittenThrough) {
  writeFile(home.path() + "/.alpha/a", "a");
  const LinkedDocument document(BackupEngine::lastBackupCachePath());
  BackupEngine engine(volume.access());
  ASSERT_TRUE(runAndWait(engine, {agent("alpha", {"~/.alpha"})}).ok());
  EXPECT_TRUE(document.untouched());
  EXPECT_TRUE(document.replacedByAFile());
  EXPECT_TRUE(readBytes(BackupEngine::lastBackupCachePath()).contains("totalBytes"));
}
