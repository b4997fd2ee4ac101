#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/VolumeLock.h"

#include "core/texts/LocTexts.h"
#include "platform/ChildProcess.h"
#include "platform/DiskImage.h"
#include "platform/Paths.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "support/VolumeFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>
#include <csignal>
#include <memory>
#include <optional>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using tlr::BackupStorage;
using tlr::BackupVolume;
using tlr::BackupVolumeError;
using tlr::LocKey;
using tlr::UnlockPurpose;
using tlr::unlockReason;
using tlr::PasswordVault;
using Kind = tlr::BackupVolumeError::Kind;

namespace {

// Why this machine cannot attach a gocryptfs image, or empty when it can.
QString missingMechanism() { return tlr::test::encryptedVolumeUnavailable().value_or(QString()); }

using PromptScript = tlr::test::ScriptedPrompt;

QStringList entriesOf(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The gocryptfs process serving `mountPoint` (its command line names the
// point), or -1.
pid_t servingProcess(const QString& mountPoint) {
  const QByteArray point = QFile::encodeName(mountPoint);
  for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool numeric = false;
    const int pid = entry.toInt(&numeric);
    if (!numeric) continue;
    QFile cmdline("/proc/" + entry + "/cmdline");
    if (!cmdline.open(QIODevice::ReadOnly)) continue;
    const QList<QByteArray> args = cmdline.readAll().split('\0');
    if (!args.isEmpty() && args.front().endsWith("gocryptfs") && args.contains(point)) return pid;
  }
  return -1;
}

// Tests against the real gocryptfs and FUSE under a temporary HOME. Whatever
// a test attached is detached before its HOME goes away.
class RealVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString missing = missingMechanism();
    if (!missing.isEmpty()) GTEST_SKIP() << "cannot attach encrypted images here: " << missing.toStdString();
    PasswordVault::clearCachedPassword();
    image = home.path() + "/TLR 备份.sparsebundle";
  }
  void TearDown() override {
    if (!missingMechanism().isEmpty()) return;
    if (BackupVolume::isMounted()) {
      // A look still under way on a daemon that was stopped a moment ago
      // holds the mount until it returns.
      EXPECT_TRUE(tlr::test::waitUntil([] { return tlr::DiskImage::detach(BackupVolume::mountPoint()); },
                                       std::chrono::seconds(20)));
    }
    PasswordVault::clearCachedPassword();
    PasswordVault::setPrompt(nullptr);
  }
  void createImage(const QString& password) {
    const auto made = BackupVolume::create(image, password);
    ASSERT_TRUE(made.ok()) << made.error().localizedDescription().toStdString();
  }

  tlr::test::TempHome home;
  QString image;
};

}  // namespace

TEST_F(RealVolume, CreateMountWriteUnmountAndMountAgain) {
  createImage("pass 密码");
  EXPECT_TRUE(BackupVolume::exists());
  EXPECT_EQ(BackupVolume::imageURL(), image);
  EXPECT_TRUE(QFileInfo::exists(image + "/gocryptfs.conf"));
  EXPECT_EQ(entriesOf(home.path()), QStringList({".config", ".local", "TLR 备份.sparsebundle"}));
  // The password was sealed in the vault and stays in memory.
  EXPECT_EQ(PasswordVault::cachedPassword(), "pass 密码");
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), "pass 密码");

  EXPECT_FALSE(BackupVolume::isMounted());
  // A careless session's umask: what holds or leads to the decrypted files
  // is the owner's alone all the same.
  const mode_t umaskBefore = ::umask(0);
  const auto mounted = BackupVolume::mount("pass 密码");
  ASSERT_TRUE(mounted.ok()) << mounted.error().localizedDescription().toStdString();
  EXPECT_EQ(mounted.value(), tlr::Paths::volumesRoot() + "/TLR 备份");
  EXPECT_TRUE(BackupVolume::isMounted());
  EXPECT_TRUE(BackupVolume::mountedByThisProcess());
  // Attached already: the password is not even looked at.
  EXPECT_TRUE(BackupVolume::mount("anything").ok());

  const auto snapshot = BackupStorage::newSnapshotDirectory(QString("2026-03-01_09-30-00"));
  ::umask(umaskBefore);
  ASSERT_TRUE(snapshot.ok());
  const auto modeOf = [](const QString& path) {
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
  };
  EXPECT_EQ(modeOf(mounted.value() + "/snapshots"), 0700u);
  QFile file(snapshot.value() + "/manifest.json");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("{}");
  file.close();
  EXPECT_EQ(BackupStorage::listSnapshots(), QStringList({snapshot.value()}));
  EXPECT_GT(BackupVolume::directorySize(image), 0);

  BackupVolume::unmount();
  EXPECT_FALSE(BackupVolume::isMounted());
  EXPECT_FALSE(QFileInfo::exists(snapshot.value()));
  EXPECT_EQ(modeOf(mounted.value()), 0700u) << "the mount point";
  EXPECT_TRUE(BackupStorage::listSnapshots().isEmpty());

  ASSERT_TRUE(BackupVolume::mount("pass 密码").ok());
  EXPECT_EQ(tlr::test::readFile(snapshot.value() + "/manifest.json"), "{}");
  BackupVolume::unmount();
  EXPECT_FALSE(BackupVolume::isMounted());
}

TEST_F(RealVolume, AWrongPasswordIsRefusedAsMountFailed) {
  createImage("right");
  const auto r = BackupVolume::mount("wrong");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, Kind::mountFailed);
  EXPECT_TRUE(r.error().wrongPassword);
  EXPECT_TRUE(r.error().localizedDescription().startsWith("挂载加密卷失败："));
  EXPECT_FALSE(BackupVolume::isMounted());
  // An empty password never reaches the tool.
  const auto empty = BackupVolume::mount("");
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().kind, Kind::mountFailed);
}

TEST_F(RealVolume, AFolderAtTheMountPointIsNotAMountedVolume) {
  createImage("right");
  QDir().mkpath(BackupVolume::mountPoint());
  home.writeFile(".local/share/Tollamere/Volumes/TLR 备份/stray.txt", "mine");
  EXPECT_FALSE(BackupVolume::isMounted());
  EXPECT_FALSE(BackupStorage::rootURL());

  // unmount starts no process when nothing of ours is attached.
  tlr::test::FakeBin fakes;
  fakes.addRecorder("fusermount3");
  fakes.addRecorder("fusermount");
  BackupVolume::unmount();
  EXPECT_FALSE(QFileInfo::exists(fakes.recordPath("fusermount3")));
  EXPECT_FALSE(QFileInfo::exists(fakes.recordPath("fusermount")));

  // Nothing is written into it, and the tool refuses to cover its content.
  const auto r = BackupVolume::mount("right");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, Kind::mountFailed);
  EXPECT_FALSE(r.error().wrongPassword);
  EXPECT_EQ(entriesOf(BackupVolume::mountPoint()), QStringList({"stray.txt"}));
}

TEST_F(RealVolume, CreatingOverSomethingExistingLeavesItAndRecordsThePlace) {
  home.writeFile("TLR 备份.sparsebundle/keep.txt", "old");
  const auto r = BackupVolume::create(image, "pw");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, Kind::alreadyExists);
  EXPECT_EQ(r.error().localizedDescription(), "备份卷已存在，不需要重新创建");
  EXPECT_EQ(BackupVolume::imageURL(), image);
  EXPECT_TRUE(BackupVolume::exists());
  EXPECT_EQ(entriesOf(image), QStringList({"keep.txt"}));
  EXPECT_FALSE(QFileInfo::exists(PasswordVault::vaultURL()));
}

TEST_F(RealVolume, AFailedCreateLeavesNothingThatCountsAsExisting) {
  const auto empty = BackupVolume::create(image, "");
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().kind, Kind::createFailed);
  EXPECT_FALSE(BackupVolume::exists());
  EXPECT_EQ(BackupVolume::imageURL(), image);  // recorded all the same

  const auto lineBreak = BackupVolume::create(image, "a\nb");
  ASSERT_FALSE(lineBreak.ok());
  EXPECT_EQ(lineBreak.error().kind, Kind::createFailed);

  tlr::test::FakeBin fakes;
  fakes.add("gocryptfs", "echo 'cipher folder is not empty' >&2\nexit 6\n");
  const auto refused = BackupVolume::create(image, "pw");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().kind, Kind::createFailed);
  EXPECT_EQ(refused.error().localizedDescription(), "创建加密卷失败：cipher folder is not empty");
  EXPECT_FALSE(BackupVolume::exists());
  for (const QString& name : entriesOf(home.path())) EXPECT_FALSE(name.contains("TLR")) << name.toStdString();
  EXPECT_FALSE(PasswordVault::cachedPassword());
}

TEST_F(RealVolume, AnAttachmentWhoseDaemonDiedIsMadeAfresh) {
  createImage("pw");
  ASSERT_TRUE(BackupVolume::mount("pw").ok());
  const QString point = BackupVolume::mountPoint();
  // The daemon this test's mount started goes away (killed, crashed): the
  // mount stays in the table, but every access fails.
  const pid_t daemon = servingProcess(point);
  ASSERT_GT(daemon, 0);
  ASSERT_EQ(::kill(daemon, SIGKILL), 0);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::DiskImage::isDisconnected(point); }));
  ASSERT_TRUE(BackupVolume::isMounted());

  const auto again = BackupVolume::mount("pw");
  ASSERT_TRUE(again.ok()) << again.error().localizedDescription().toStdString();
  EXPECT_FALSE(tlr::DiskImage::isDisconnected(point));
  const auto snapshot = BackupStorage::newSnapshotDirectory(QString("2026-03-01_09-30-00"));
  ASSERT_TRUE(snapshot.ok()) << snapshot.error().localizedDescription().toStdString();
  EXPECT_TRUE(QFileInfo(snapshot.value()).isDir());

  // The same through the stored password.
  const pid_t second = servingProcess(point);
  ASSERT_GT(second, 0);
  ASSERT_EQ(::kill(second, SIGKILL), 0);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::DiskImage::isDisconnected(point); }));
  const auto interactive = BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup));
  ASSERT_TRUE(interactive.ok()) << interactive.error().localizedDescription().toStdString();
  EXPECT_FALSE(tlr::DiskImage::isDisconnected(point));
  EXPECT_TRUE(QFileInfo(snapshot.value()).isDir());
}

TEST_F(RealVolume, AHungDaemonDoesNotHoldTheMountForever) {
  createImage("pw");
  ASSERT_TRUE(BackupVolume::mount("pw").ok());
  const QString point = BackupVolume::mountPoint();
  const pid_t daemon = servingProcess(point);
  ASSERT_GT(daemon, 0);
  ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
  // Whatever happens below, the daemon runs again before the test ends, and
  // every look still waiting on it then returns.
  struct Resume {
    pid_t pid;
    ~Resume() { ::kill(pid, SIGCONT); }
  } resume{daemon};
  // A look at the mount point answers from the kernel's cache for a moment;
  // wait until one really has to ask the stopped daemon.
  const QByteArray path = QFile::encodeName(point);
  const bool blocks = tlr::test::waitUntil(
      [&] {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread([done, path] {
          struct stat st{};
          ::stat(path.constData(), &st);
          *done = true;
        }).detach();
        return !tlr::test::waitUntil([&] { return done->load(); }, std::chrono::milliseconds(300));
      },
      std::chrono::seconds(20));
  ASSERT_TRUE(blocks) << "the stopped daemon was never asked";

  std::atomic<bool> finished = false;
  std::optional<BackupVolume::Result> result;
  std::thread caller([&] {
    result.emplace(BackupVolume::mount("pw"));
    finished = true;
  });
  const bool returned = tlr::test::waitUntil([&] { return finished.load(); }, std::chrono::seconds(30));
  ::kill(daemon, SIGCONT);
  caller.join();
  EXPECT_TRUE(returned) << "mount() waited on a hung daemon";
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->ok());
}

TEST(BackupVolumeCreate, ALocationThatNamesNoFileIsRefusedAndNotRecorded) {
  // A recorded value that is no path reads as none, so the image would land
  // at the default place instead of the one asked for.
  tlr::test::TempHome home;
  PasswordVault::clearCachedPassword();
  tlr::test::FakeBin fakes;
  fakes.add("gocryptfs", "exit 0\n");
  for (const QString& location : {QString(""), home.path() + QChar(0) + "x.sparsebundle"}) {
    const auto r = BackupVolume::create(location, "pw");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, Kind::createFailed);
    EXPECT_FALSE(BackupVolume::hasRecordedLocation());
    EXPECT_FALSE(BackupVolume::exists());
    EXPECT_FALSE(QFileInfo::exists(BackupVolume::defaultImagePath()));
  }
  EXPECT_FALSE(PasswordVault::cachedPassword());
}

TEST_F(RealVolume, AToolMissingFromPathIsAClearError) {
  createImage("pw");
  tlr::test::FakeBin empty;
  const QByteArray saved = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(empty.path()));
  const auto mounted = BackupVolume::mount("pw");
  const auto created = BackupVolume::create(home.path() + "/second.sparsebundle", "pw");
  qputenv("PATH", saved);
  BackupVolume::setImageURL(image);
  ASSERT_FALSE(mounted.ok());
  EXPECT_EQ(mounted.error().kind, Kind::toolMissing);
  EXPECT_TRUE(mounted.error().output.contains("gocryptfs")) << mounted.error().output.toStdString();
  ASSERT_FALSE(created.ok());
  EXPECT_EQ(created.error().kind, Kind::toolMissing);
  EXPECT_TRUE(created.error().output.contains("gocryptfs"));
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/second.sparsebundle"));
  // Said in the window's language with what to install, and no "Try again":
  // it cannot succeed before the tool is there.
  EXPECT_EQ(mounted.error().message(),
            (tlr::EngineMessage{tlr::LocKey::backupErrToolMissing("gocryptfs", "gocryptfs"), {}, false}));

  // gocryptfs alone: the volume could be attached but never detached again,
  // so it is not attached at all.
  ::symlink(QFile::encodeName(tlr::findExecutable("gocryptfs", QString::fromLocal8Bit(saved))).constData(),
            QFile::encodeName(empty.path() + "/gocryptfs").constData());
  qputenv("PATH", QFile::encodeName(empty.path()));
  const auto withoutFuse = BackupVolume::mount("pw");
  qputenv("PATH", saved);
  ASSERT_FALSE(withoutFuse.ok());
  EXPECT_EQ(withoutFuse.error().kind, Kind::toolMissing);
  EXPECT_EQ(withoutFuse.error().message().key, tlr::LocKey::backupErrToolMissing("fusermount3", "fuse3"));
  EXPECT_FALSE(BackupVolume::isMounted());

  // The tool gone while the volume is attached: the detach fails, says so
  // and names what to install; the volume stays attached.
  ASSERT_TRUE(BackupVolume::mount("pw").ok());
  qputenv("PATH", QFile::encodeName(empty.path()));
  const auto detached = BackupVolume::detach();
  qputenv("PATH", saved);
  ASSERT_FALSE(detached.ok());
  EXPECT_EQ(detached.error().kind, Kind::detachFailed);
  EXPECT_EQ(detached.error().message().key, tlr::LocKey::backupErrDetachToolMissing("fusermount3", "fuse3"));
  EXPECT_TRUE(BackupVolume::isMounted());
  EXPECT_TRUE(BackupVolume::detach().ok());
  EXPECT_FALSE(BackupVolume::isMounted());
}

TEST_F(RealVolume, AWrongStoredPasswordIsReplacedAfterOnePrompt) {
  createImage("right");
  // The lock-out state: memory and vault hold a password the image refuses.
  EXPECT_TRUE(PasswordVault::seal("wrong"));
  auto prompt = std::make_shared<PromptScript>(QList<std::optional<QString>>{QString("right")});
  PasswordVault::setPrompt(prompt);

  const auto r = BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup));
  ASSERT_TRUE(r.ok()) << r.error().localizedDescription().toStdString();
  EXPECT_EQ(prompt->reasons, QList<LocKey>({LocKey::vaultUnlockForBackup()}));
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), "right");

  // From now on the vault opens the volume without asking.
  BackupVolume::unmount();
  PasswordVault::clearCachedPassword();
  ASSERT_TRUE(BackupVolume::mountInteractive(unlockReason(UnlockPurpose::restore)).ok());
  EXPECT_EQ(prompt->reasons.size(), 1);
}

TEST_F(RealVolume, WithoutAnAnswerARefusedStoredPasswordIsForgottenEverywhere) {
  createImage("right");
  EXPECT_TRUE(PasswordVault::seal("wrong"));
  const auto r = BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup));  // the headless prompt answers nothing
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, Kind::mountFailed);
  EXPECT_TRUE(r.error().wrongPassword);
  EXPECT_FALSE(PasswordVault::cachedPassword());
  EXPECT_FALSE(QFileInfo::exists(PasswordVault::vaultURL()));

  const auto missing = BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, Kind::passwordMissing);
}

TEST_F(RealVolume, ATypedPasswordIsSealedOnlyOnceItOpenedTheVolume) {
  createImage("right");
  PasswordVault::clearCachedPassword();
  ASSERT_TRUE(PasswordVault::removeStored());
  auto prompt = std::make_shared<PromptScript>(QList<std::optional<QString>>{QString("typo"), QString("right")});
  PasswordVault::setPrompt(prompt);

  const auto first = BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup));
  ASSERT_FALSE(first.ok());
  EXPECT_EQ(first.error().kind, Kind::mountFailed);
  EXPECT_FALSE(PasswordVault::cachedPassword());
  EXPECT_FALSE(QFileInfo::exists(PasswordVault::vaultURL()));

  ASSERT_TRUE(BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup)).ok());
  EXPECT_EQ(prompt->reasons.size(), 2);
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), "right");
}

TEST_F(RealVolume, QuittingDetachesOnlyWhatThisProcessAttached) {
  createImage("pw");
  tlr::ChildSpec spec;
  spec.program = tlr::test::toolPath("tlr_volume_tool");
  spec.input = QByteArray("pw\n");
  spec.timeout = std::chrono::seconds(60);
  const tlr::ChildResult own = tlr::runChild(spec);
  EXPECT_EQ(own.out, "mounted\nafter-quit mounted=0\n") << own.err.toStdString();
  EXPECT_FALSE(BackupVolume::isMounted());

  // Attached by someone else (here: this test) before the tool ran: left so.
  ASSERT_TRUE(BackupVolume::mount("pw").ok());
  const tlr::ChildResult other = tlr::runChild(spec);
  EXPECT_EQ(other.out, "mounted\nafter-quit mounted=1\n") << other.err.toStdString();
  EXPECT_TRUE(BackupVolume::isMounted());
}

TEST_F(RealVolume, QuittingWhileWorkStillUsesTheVolumeLeavesNothingDecryptedReachable) {
  createImage("pw");
  tlr::ChildSpec spec;
  spec.program = tlr::test::toolPath("tlr_volume_tool");
  spec.arguments = {"busy"};
  spec.input = QByteArray("pw\n");
  spec.timeout = std::chrono::seconds(60);
  const tlr::ChildResult run = tlr::runChild(spec);
  EXPECT_EQ(run.out, "mounted\nafter-quit mounted=0\n") << run.err.toStdString();
  EXPECT_FALSE(BackupVolume::isMounted());
  EXPECT_FALSE(QFileInfo::exists(BackupVolume::mountPoint() + "/written"));
  // The daemon goes once the last file it served is closed: nothing it
  // decrypts stays behind the process.
  EXPECT_TRUE(tlr::test::waitUntil([&] { return servingProcess(BackupVolume::mountPoint()) < 0; },
                                   std::chrono::seconds(10)));
}

TEST_F(RealVolume, AnAttachmentWhoseProcessWasKilledIsTakenOverAndDetachedWhenNothingUsesIt) {
  createImage("pw");
  // Attached by a process that is then killed, as a run killed mid-way.
  QProcess holder;
  holder.start(tlr::test::toolPath("tlr_volume_tool"), {"hold"});
  ASSERT_TRUE(holder.waitForStarted());
  holder.write("pw\n");
  holder.closeWriteChannel();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return holder.readAllStandardOutput().contains("mounted"); },
                                   std::chrono::seconds(60)));
  EXPECT_TRUE(BackupVolume::ownerAlive());
  EXPECT_FALSE(BackupVolume::adoptOrphan()) << "its owner still runs";
  ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
  ASSERT_TRUE(holder.waitForFinished(10000));
  ASSERT_TRUE(BackupVolume::isMounted()) << "the decrypted volume outlives the killed process";
  EXPECT_FALSE(BackupVolume::ownerAlive());

  // In use (its lock held by a run): left to that run. A child forked
  // meanwhile (on another thread, say, and not yet at its exec) holds a copy
  // of the lock's descriptor; the run's end frees the lock all the same.
  struct Forked {
    pid_t pid = -1;
    ~Forked() {
      if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    }
  } child;
  {
    const std::optional<tlr::VolumeLock> inUse = tlr::VolumeLock::tryAcquire(BackupVolume::lockPath());
    ASSERT_TRUE(inUse.has_value());
    child.pid = ::fork();
    if (child.pid == 0) {
      ::pause();
      ::_exit(0);
    }
    ASSERT_GT(child.pid, 0);
    BackupVolume::detachOrphan();
    EXPECT_TRUE(BackupVolume::isMounted());
  }
  // Free: detached, and its record with it.
  BackupVolume::detachOrphan();
  EXPECT_FALSE(BackupVolume::isMounted());
  EXPECT_FALSE(QFileInfo::exists(BackupVolume::ownerRecordPath()));
}

TEST(BackupVolumeSizes, FreeSpaceIsThatOfTheImagesFolder) {
  tlr::test::TempHome home;
  BackupVolume::setImageURL(home.path() + "/no-such-folder/TLR 备份.sparsebundle");
  EXPECT_FALSE(BackupVolume::hostFreeSpace());
  BackupVolume::setImageURL(home.path() + "/TLR 备份.sparsebundle");
  const auto free = BackupVolume::hostFreeSpace();
  ASSERT_TRUE(free);
  EXPECT_GT(*free, 0);
  EXPECT_EQ(BackupVolume::directorySize(home.path() + "/missing"), 0);
}

TEST(BackupVolumeErrors, DescriptionsCarryTheToolOutput) {
  EXPECT_EQ((BackupVolumeError{Kind::createFailed, "x", false}).localizedDescription(), "创建加密卷失败：x");
  EXPECT_EQ((BackupVolumeError{Kind::mountFailed, "", false}).localizedDescription(), "挂载加密卷失败：");
  EXPECT_EQ((BackupVolumeError{Kind::notInitialized, {}, false}).localizedDescription(), "备份卷还没初始化");
  EXPECT_EQ((BackupVolumeError{Kind::passwordMissing, {}, false}).localizedDescription(), "密码库（.pwd.vault）里没有备份卷密码");
}

// A user who may not use FUSE is told so, and what to do, not that the image
// would not unlock; the stored password is not taken for a wrong one.
TEST(BackupVolumeErrors, AUserWhoMayNotUseFuseIsToldSo) {
  tlr::test::TempHome home;
  tlr::test::FakeBin bin;
  // As gocryptfs answers when fusermount3 may not open /dev/fuse.
  bin.add("gocryptfs", "read -r _\n"
                       "echo '/usr/bin/fusermount3: failed to open /dev/fuse: Permission denied' >&2\n"
                       "echo 'fs.Mount failed: fusermount exited with code 256' >&2\n"
                       "exit 19\n");
  QDir().mkpath(BackupVolume::defaultImagePath());
  PasswordVault::clearCachedPassword();
  ASSERT_TRUE(PasswordVault::seal("stored"));
  const auto mounted = BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup));
  ASSERT_FALSE(mounted.ok());
  EXPECT_EQ(mounted.error().kind, Kind::fuseNotPermitted);
  EXPECT_TRUE(mounted.error().localizedDescription().startsWith("挂载加密卷失败：当前用户无权使用 FUSE（/dev/fuse）："));
  const tlr::EngineMessage shown = mounted.error().message();
  EXPECT_FALSE(shown.retryable) << "trying again cannot help until it is allowed";
  EXPECT_TRUE(shown.details.contains("/dev/fuse: Permission denied"));
  const QString english = tlr::LocTexts::text(tlr::AppLanguage::en, shown.key);
  EXPECT_TRUE(english.startsWith("This user may not use FUSE (/dev/fuse)")) << english.toStdString();
  EXPECT_TRUE(tlr::LocTexts::text(tlr::AppLanguage::zh, shown.key).startsWith("当前用户无权使用 FUSE（/dev/fuse）"));
  EXPECT_EQ(PasswordVault::openStored(), QString("stored")) << "the stored password is kept";
  EXPECT_FALSE(BackupVolume::isMounted());
  PasswordVault::clearCachedPassword();
}

TEST(BackupVolumeErrors, NoImageIsNotInitialized) {
  tlr::test::TempHome home;
  PasswordVault::clearCachedPassword();
  const auto r = BackupVolume::mount("pw");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, Kind::notInitialized);
  BackupVolume::setImageURL(home.path() + "/gone.sparsebundle");
  EXPECT_EQ(BackupVolume::mount("pw").error().kind, Kind::notInitialized);
  EXPECT_FALSE(QFileInfo::exists(BackupVolume::mountPoint()));
  EXPECT_EQ(BackupVolume::mountInteractive(unlockReason(UnlockPurpose::backup)).error().kind, Kind::passwordMissing);
}

namespace {

// Another process asking for the lock at `lockFile`: "held" (it keeps it
// until its standard input closes) or "busy".
struct OtherProcessLock {
  explicit OtherProcessLock(const QString& lockFile) {
    process.start(tlr::test::toolPath("tlr_backup_tool"), {"lock", lockFile});
  }
  // Started ready to ask; it asks on go().
  struct Together {};
  OtherProcessLock(const QString& lockFile, Together) {
    process.start(tlr::test::toolPath("tlr_backup_tool"), {"lock", lockFile, "together"});
    answer();  // "ready"
  }
  void go() { process.write("go\n"); }
  ~OtherProcessLock() {
    process.closeWriteChannel();
    process.waitForFinished(10000);
  }
  // Its answer; log lines before it are passed over.
  QString answer() {
    while (true) {
      while (!process.canReadLine())
        if (!process.waitForReadyRead(10000)) return {};
      const QString line = QString::fromUtf8(process.readLine()).trimmed();
      if (line == "held" || line == "busy" || line == "ready") return line;
    }
  }
  QProcess process;
};

}  // namespace

// Exactly one run proceeds, whatever stands at the lock file's place or
// happens to it while a run holds the lock.
TEST(VolumeLockAcrossProcesses, WhateverHappensAtTheLockFileOneRunProceeds) {
  tlr::test::TempHome home;
  const QString image = home.path() + "/TLR 备份.sparsebundle";
  QDir().mkpath(image);
  const QString lockFile = tlr::VolumeLock::lockPathFor(image);
  const QByteArray place = QFile::encodeName(lockFile);
  const struct {
    const char* what;
    std::function<void()> before;  // at the lock file's place before the first run
    std::function<void()> whileHeld;
  } cases[] = {
      {"a folder stands there", [&] { QDir().mkpath(lockFile); }, [] {}},
      {"the lock file is removed", [] {}, [&] { ::unlink(place.constData()); }},
      {"the lock file is replaced", [] {},
       [&] {
         tlr::test::writeBytes(lockFile + ".new", "");
         ::rename(QFile::encodeName(lockFile + ".new").constData(), place.constData());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    {
      std::optional<tlr::VolumeLock> held = tlr::VolumeLock::tryAcquire(lockFile);
      ASSERT_TRUE(held.has_value());
      c.whileHeld();
      OtherProcessLock other(lockFile);
      EXPECT_EQ(other.answer(), "busy");
    }
    OtherProcessLock after(lockFile);
    EXPECT_EQ(after.answer(), "held") << "free again once the first is done";
    QDir(lockFile).removeRecursively();
    QFile::remove(lockFile);
  }

  // Several runs at once finding a link there: one replaces it and proceeds,
  // the others find the lock held, whichever of them exchanged first.
  const QString bare = home.path() + "/racing/.lock";  // no image beside it
  QDir().mkpath(home.path() + "/racing");
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    QFile::remove(bare);
    ASSERT_TRUE(QFile::link(home.path() + "/elsewhere", bare));
    std::vector<std::unique_ptr<OtherProcessLock>> runs;
    for (int i = 0; i < 8; ++i) runs.push_back(std::make_unique<OtherProcessLock>(bare, OtherProcessLock::Together{}));
    for (const auto& run : runs) run->go();
    int proceeding = 0;
    for (const auto& run : runs) proceeding += run->answer() == "held" ? 1 : 0;
    EXPECT_EQ(proceeding, 1);
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/elsewhere")) << "nothing is made through the link";
  }
}

// The lock's other defences, each on its own: within one process where no
// lock file can be made; the folder's guard while another run replaces what
// stands at the lock file's place; the unlock a run's end does before it
// closes (a child forked meanwhile keeps a copy of the descriptor); and a
// stale errno on the taking thread, which is no other holder.
TEST(VolumeLockAcrossProcesses, EachDefenceHoldsOnItsOwn) {
  tlr::test::TempHome home;
  {
    SCOPED_TRACE("no lock file can be made");
    const QString closed = home.path() + "/closed";
    QDir().mkpath(closed);
    ::chmod(QFile::encodeName(closed).constData(), 0555);
    tlr::test::AsOrdinaryUser ordinary;
    std::optional<tlr::VolumeLock> first = tlr::VolumeLock::tryAcquire(closed + "/.lock");
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(QFileInfo::exists(closed + "/.lock"));
    EXPECT_FALSE(tlr::VolumeLock::tryAcquire(closed + "/.lock").has_value()) << "kept apart within the process";
    first.reset();
    EXPECT_TRUE(tlr::VolumeLock::tryAcquire(closed + "/.lock").has_value());
  }
  const QString folder = home.path() + "/racing";
  const QString bare = folder + "/.lock";
  QDir().mkpath(folder);
  {
    SCOPED_TRACE("another run is replacing a link there");
    ASSERT_TRUE(QFile::link(home.path() + "/elsewhere", bare));
    const int guard = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(guard, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(tlr::VolumeLock::tryAcquire(bare).has_value()) << "the other one comes away holding it";
    EXPECT_TRUE(QFileInfo(bare).isSymLink()) << "replaced by one run only";
    ::close(guard);
    EXPECT_TRUE(tlr::VolumeLock::tryAcquire(bare).has_value());
    EXPECT_FALSE(QFileInfo(bare).isSymLink());
  }
  {
    SCOPED_TRACE("a child forked while it was held");
    pid_t child = -1;
    {
      const std::optional<tlr::VolumeLock> held = tlr::VolumeLock::tryAcquire(bare);
      ASSERT_TRUE(held.has_value());
      child = ::fork();
      if (child == 0) {
        ::pause();
        ::_exit(0);
      }
      ASSERT_GT(child, 0);
    }
    OtherProcessLock after(bare);
    EXPECT_EQ(after.answer(), "held");
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  {
    SCOPED_TRACE("a stale errno");
    errno = EWOULDBLOCK;
    EXPECT_TRUE(tlr::VolumeLock::tryAcquire(bare).has_value());
  }
}
