#include "backup/RestoreEngine.h"

#include "EngineTestSupport.h"
#include "support/RawTar.h"
#include "backup/BackupEngine.h"
#include "backup/BackupVolume.h"
#include "support/RegistryJson.h"
#include "support/TestSupport.h"
#include "core/texts/LocTexts.h"
#include "platform/DiskImage.h"
#include "platform/FileOps.h"
#include "platform/MainThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;
using namespace tlr::test;
using Case = RestoreError::Case;

namespace tlr {
// A gap as a failing expectation shows it.
void PrintTo(const RestoreGap& gap, std::ostream* out) {
  *out << "{" << static_cast<int>(gap.reason) << ", " << gap.agentId.toStdString() << ", " << gap.root.toStdString()
       << ", " << gap.place.toStdString() << "}";
}
}  // namespace tlr

namespace {

QByteArray agentJson(const QString& id, const QStringList& includePaths) {
  QStringList quoted;
  for (const QString& p : includePaths) quoted << "\"" + p + "\"";
  return QStringLiteral(R"({"id":"%1","displayName":"%1","vendor":"v","kind":"cli",
      "identify":{"executableNames":["%1"]},"backup":{"includePaths":[%2]}})")
      .arg(id, quoted.join(','))
      .toUtf8();
}


class RestoreEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    volume.folder = home.path() + "/volume";
    QDir().mkpath(volume.folder);
    h = home.path();
    writeFile(h + "/.alpha/skills/s.md", "alpha skill");
    writeFile(h + "/shared/notes.txt", "shared by two");
    writeFile(h + "/.beta/memories/m.json", "{\"m\":1}");
    writeFile(h + "/.betarc", "rc");
    registry = registryOfAgents({agentJson("alpha", {"~/.alpha", "~/shared"}),
                                 agentJson("beta", {"~/.beta", "~/shared", "~/.betarc"})});
  }

  void backUp() {
    BackupEngine engine(volume.access());
    bool done = false;
    bool ok = false;
    engine.runBackup(registry->visibleAgents(), [&](const BackupEngine::Result& r) {
      done = true;
      ok = r.ok();
    });
    ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
    ASSERT_TRUE(ok);
  }

  // Restore staging folders left in the home folder.
  QStringList stagingLeft() const {
    return QDir(h).entryList({".tollamere-restore-tmp*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
  }

  // Runs a restore to its end; the error it ended with, else what it left
  // out in `report`.
  std::optional<RestoreError> restore(RestoreEngine& engine, const QString& agentId = {},
                                      RestoreReport* report = nullptr) {
    bool done = false;
    std::optional<RestoreError> error;
    auto completion = [&](const Expected<RestoreReport, RestoreError>& restored) {
      done = true;
      if (!restored) error = restored.error();
      if (restored && report) *report = restored.value();
    };
    const bool started = agentId.isEmpty() ? engine.restoreAll(completion) : engine.restoreAgent(agentId, completion);
    EXPECT_TRUE(started);
    EXPECT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
    return error;
  }

  void damageAll() {
    writeFile(h + "/.alpha/skills/s.md", "changed");
    writeFile(h + "/shared/notes.txt", "changed");
    writeFile(h + "/.beta/memories/m.json", "changed");
    writeFile(h + "/.betarc", "changed");
    writeFile(h + "/.alpha/mine-only.txt", "stays");
  }

  QString newestSnapshot() {
    const QStringList labels = entries(volume.snapshots());
    EXPECT_FALSE(labels.isEmpty()) << "no snapshot was written";
    return volume.snapshots() + "/" + labels.value(labels.size() - 1);
  }

  // Puts `archive` in the newest snapshot with a manifest that matches it.
  void replaceArchive(const QByteArray& archive) {
    writeFile(newestSnapshot() + "/backup.tar.gz", archive);
    auto manifest = BackupManifest::decode(readAll(newestSnapshot() + "/manifest.json")).value();
    manifest.archiveSha256 = BackupManifest::sha256Hex(archive);
    manifest.totalBytes = archive.size();
    writeFile(newestSnapshot() + "/manifest.json", manifest.encode());
  }

  TempHome home;
  FolderVolume volume;
  QString h;
  std::shared_ptr<const AgentRegistry> registry;
};

}  // namespace

TEST_F(RestoreEngineTest, RestoresAllAgentsAndTheirFileRoots) {
  // Names that are no valid UTF-8, or hold a line break, a tab, a leading
  // dash or a backslash, come back byte for byte into a folder that stands.
  const QList<QByteArray> odd = {QByteArray("caf\xe9.json"), QByteArray("\xff\xfe"), "new\nline", "tab\tname",
                                 "-dash", "back\\slash"};
  for (const QByteArray& name : odd) tlr::test::writeNativeBytes(QFile::encodeName(h + "/shared/") + name, "odd " + name);
  backUp();
  damageAll();
  for (const QByteArray& name : odd) tlr::test::writeNativeBytes(QFile::encodeName(h + "/shared/") + name, "changed");
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  QStringList labels;
  QObject::connect(&engine, &RestoreEngine::stageChanged, [&] { labels << stageText(engine); });
  const auto error = restore(engine);
  ASSERT_FALSE(error.has_value()) << error->description().toStdString();
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "alpha skill");
  EXPECT_EQ(readAll(h + "/shared/notes.txt"), "shared by two");
  EXPECT_EQ(readAll(h + "/.beta/memories/m.json"), "{\"m\":1}");
  EXPECT_EQ(readAll(h + "/.betarc"), "rc") << "a file root comes back as a file";
  EXPECT_EQ(readAll(h + "/.alpha/mine-only.txt"), "stays");
  for (const QByteArray& name : odd)
    EXPECT_EQ(tlr::test::readNativeBytes(QFile::encodeName(h + "/shared/") + name), "odd " + name) << name.toStdString();
  // The archive is hashed while it is unpacked into the staging folder; the
  // hash is compared before the check and the merge.
  EXPECT_EQ(labels, (QStringList{"准备中…", "正在解压…", "正在校验备份完整性…", "正在安全检查…", "正在写入数据…", ""}));
  EXPECT_TRUE(stagingLeft().isEmpty()) << stagingLeft().join(' ').toStdString();
  EXPECT_EQ(volume.mounts, 2) << "the backup's mount and the restore's";
  EXPECT_EQ(volume.unmounts, 2);
  EXPECT_FALSE(engine.isRunning());
}

TEST_F(RestoreEngineTest, RestoresOneAgentAloneEvenWhenItSharesAFile) {
  tlr::test::writeNativeBytes(QFile::encodeName(h + "/shared/\xff name"), "odd");
  // What comes back as it was: a path longer than the system takes whole, an
  // empty folder, a folder its owner may not write, a file's second name,
  // a time to the nanosecond.
  QByteArray longPath;
  for (int i = 0; i < 25; ++i) longPath += QByteArray(199, 'a' + i) + '/';
  longPath += "deep.json";
  ASSERT_GT(longPath.size(), 5000);
  writeThroughFolders(h + "/shared", longPath, "far down");
  QDir().mkpath(h + "/shared/empty");
  writeFile(h + "/shared/read-only/r.txt", "r");
  ::chmod(QFile::encodeName(h + "/shared/read-only").constData(), 0555);
  ASSERT_EQ(::link(QFile::encodeName(h + "/shared/notes.txt").constData(),
                   QFile::encodeName(h + "/shared/notes-again.txt").constData()),
            0);
  const struct timespec fine[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
  ::utimensat(AT_FDCWD, QFile::encodeName(h + "/.betarc").constData(), fine, 0);
  backUp();
  damageAll();
  // The folder beta shares with alpha is stored in alpha's entry; beta alone
  // still brings it back, here to a place that is gone.
  ::chmod(QFile::encodeName(h + "/shared/read-only").constData(), 0755);
  ASSERT_TRUE(FileOps::removeItem(h + "/shared").ok());
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine, "beta");
  ASSERT_FALSE(error.has_value()) << error->description().toStdString();
  EXPECT_EQ(readAll(h + "/shared/notes.txt"), "shared by two");
  EXPECT_EQ(tlr::test::readNativeBytes(QFile::encodeName(h + "/shared/\xff name")), "odd");
  EXPECT_EQ(readAll(h + "/.betarc"), "rc");
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "changed") << "the other agent is not touched";
  EXPECT_EQ(readThroughFolders(h + "/shared", longPath), "far down");
  EXPECT_TRUE(QFileInfo(h + "/shared/empty").isDir());
  EXPECT_EQ(modeOf(h + "/shared/read-only"), 0555u);
  EXPECT_EQ(readAll(h + "/shared/read-only/r.txt"), "r");
  struct stat one{}, two{}, rc{};
  ::stat(QFile::encodeName(h + "/shared/notes.txt").constData(), &one);
  ::stat(QFile::encodeName(h + "/shared/notes-again.txt").constData(), &two);
  EXPECT_EQ(one.st_ino, two.st_ino);
  ::stat(QFile::encodeName(h + "/.betarc").constData(), &rc);
  EXPECT_EQ(rc.st_mtim.tv_nsec, 123456789);
  ::chmod(QFile::encodeName(h + "/shared/read-only").constData(), 0755);
  EXPECT_TRUE(FileOps::removeItem(h + "/shared").ok()) << "a path too long to be removed by name";
}

// An agent whose folders hold only empty folders is listed, counted and
// restored like any other.
TEST_F(RestoreEngineTest, AnAgentWhoseFoldersHoldOnlyEmptyFoldersIsListedAndRestored) {
  QDir().mkpath(h + "/.hollow/sessions/today");
  QDir().mkpath(h + "/.hollow/skills");
  registry = registryOfAgents({agentJson("alpha", {"~/.alpha", "~/shared"}), agentJson("hollow", {"~/.hollow"})});
  backUp();
  const auto manifest = BackupManifest::decode(readAll(newestSnapshot() + "/manifest.json"));
  ASSERT_TRUE(manifest.ok());
  ASSERT_EQ(manifest.value().agents.size(), 2);
  EXPECT_EQ(manifest.value().agents[1].id, "hollow");
  EXPECT_EQ(manifest.value().agents[1].fileCount, 0);
  ASSERT_TRUE(FileOps::removeItem(h + "/.hollow").ok());
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ASSERT_FALSE(error.has_value()) << error->description().toStdString();
  EXPECT_TRUE(QFileInfo(h + "/.hollow/sessions/today").isDir());
  EXPECT_TRUE(QFileInfo(h + "/.hollow/skills").isDir());
  ASSERT_TRUE(FileOps::removeItem(h + "/.hollow").ok());
  EXPECT_FALSE(restore(engine, "hollow").has_value());
  EXPECT_TRUE(QFileInfo(h + "/.hollow/sessions/today").isDir()) << "restored alone too";
}

// A file's second name is stored as a link only where the part of the
// archive that holds it holds the first name too: one agent whose folders
// lie inside another's, sharing files with it, is restored alone from its
// own part. (Eight pairs: whichever order the folder lists them in, some
// pair's first name lies outside the inner agent's part.)
TEST_F(RestoreEngineTest, AFileWithTwoNamesComesBackWithTheAgentOfOneNameAlone) {
  QStringList innerRoots;
  for (int i = 1; i <= 8; ++i) {
    const QString n = QString::number(i);
    writeFile(h + "/.outer/p" + n + "/f", "content " + n.toUtf8());
    QDir().mkpath(h + "/.outer/s" + n);
    ASSERT_EQ(::link(QFile::encodeName(h + "/.outer/p" + n + "/f").constData(),
                     QFile::encodeName(h + "/.outer/s" + n + "/g").constData()),
              0);
    innerRoots << "~/.outer/s" + n;
  }
  registry = registryOfAgents({agentJson("outer", {"~/.outer"}), agentJson("inner", innerRoots)});
  backUp();
  for (int i = 1; i <= 8; ++i) ASSERT_TRUE(FileOps::removeItem(h + "/.outer/s" + QString::number(i)).ok());
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine, "inner");
  ASSERT_FALSE(error.has_value()) << error->description().toStdString();
  for (int i = 1; i <= 8; ++i)
    EXPECT_EQ(readAll(h + "/.outer/s" + QString::number(i) + "/g"), "content " + QByteArray::number(i)) << i;
}

TEST_F(RestoreEngineTest, ATamperedArchiveIsRefusedBeforeAnythingIsWritten) {
  backUp();
  damageAll();
  QFile archive(newestSnapshot() + "/backup.tar.gz");
  ASSERT_TRUE(archive.open(QIODevice::ReadWrite));
  QByteArray bytes = archive.readAll();
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
  archive.seek(0);
  archive.write(bytes);
  archive.close();

  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::sha256Mismatch);
  EXPECT_EQ(engine.lastErrorText(), "备份完整性校验失败（archive 内容与 manifest 记录不符）");
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "changed");
  EXPECT_TRUE(stagingLeft().isEmpty()) << stagingLeft().join(' ').toStdString();
  EXPECT_EQ(volume.unmounts, 2);
}

TEST_F(RestoreEngineTest, AHostileArchiveWritesNothingOutsideItsStagingFolder) {
  backUp();
  damageAll();
  const QString outside = h + "/outside";
  writeFile(outside + "/victim.txt", "victim");
  RawTar tar;
  const QString root = ".tollamere-backup-tmp/alpha/.alpha";
  tar.folder(".tollamere-backup-tmp/");
  tar.file(root + "/skills/s.md", "hostile");
  tar.file(outside.mid(1) + "/relative-abs.txt", "x");
  tar.file(outside + "/absolute.txt", "x");
  tar.file("../../outside/dotdot.txt", "x");
  tar.file(root + "/../../../../outside/deep-dotdot.txt", "x");
  tar.symlink(root + "/escape", outside);
  tar.file(root + "/escape/through-link.txt", "x");
  tar.hardLink(root + "/hard", outside + "/victim.txt");
  tar.file(root + "/suid", "#!/bin/sh\n", 04755);
  tar.fifo(root + "/pipe");
  if (::geteuid() == 0) tar.charDevice(root + "/null", 1, 3);
  const QByteArray archive = tar.gzipped();
  ASSERT_FALSE(archive.isEmpty());
  replaceArchive(archive);

  const QStringList before = entries(outside);
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_TRUE(error->kind == Case::pathTraversal || error->kind == Case::unpackFailed)
      << error->description().toStdString();
  EXPECT_EQ(entries(outside), before);
  EXPECT_EQ(readAll(outside + "/victim.txt"), "victim");
  EXPECT_FALSE(QFileInfo::exists(h + "/../outside"));
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "changed") << "nothing merged";
  EXPECT_FALSE(QFileInfo::exists(h + "/.alpha/suid"));
  EXPECT_TRUE(stagingLeft().isEmpty()) << stagingLeft().join(' ').toStdString();
}

TEST_F(RestoreEngineTest, MissingOrCorruptSnapshotsAndASecondRequest) {
  RestoreEngine engine(volume.access());
  auto error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->description(), "iCloud 里没找到备份。请先创建一份备份。");

  backUp();
  writeFile(newestSnapshot() + "/manifest.json", "{\"schemaVersion\":1}");
  error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::manifestCorrupted);

  backUp();
  bool firstDone = false;
  EXPECT_TRUE(engine.restoreAll([&](const auto&) { firstDone = true; }));
  bool secondCalled = false;
  EXPECT_FALSE(engine.restoreAll([&](const auto& e) { secondCalled = e.ok(); }));
  EXPECT_TRUE(secondCalled);
  EXPECT_TRUE(waitUntil([&] { return firstDone; }));

  // An agent the snapshot does not hold is said, not restored as nothing.
  error = restore(engine, "gamma");
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::agentNotInBackup);
  EXPECT_EQ(error->payload, "gamma");
}

TEST_F(RestoreEngineTest, RootsFoundByDiscoveryGoBackWhereDiscoveryFindsThem) {
  writeFile(h + "/.delta/state.json", "delta");
  const auto withDiscovery = registryOfAgents({QByteArray(R"({"id":"delta","displayName":"D","vendor":"v",
      "kind":"cli","identify":{"executableNames":["delta"]},
      "backup":{"discovery":{"primaryHomes":["~/.delta"]}}})")});
  {
    BackupEngine backup(volume.access());
    bool done = false;
    backup.runBackup(withDiscovery->visibleAgents(), [&](const auto&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
  }
  writeFile(h + "/.delta/state.json", "changed");
  RestoreEngine engine(volume.access());
  engine.setRegistry(withDiscovery);
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_EQ(readAll(h + "/.delta/state.json"), "delta");
}

TEST_F(RestoreEngineTest, ALinkThatTarUnpacksIsRefusedByTheTreeCheckBeforeAnyMerge) {
  backUp();
  damageAll();
  RawTar tar;
  tar.file(".tollamere-backup-tmp/alpha/.alpha/skills/s.md", "hostile");
  tar.file(".tollamere-backup-tmp/beta/.beta/memories/m.json", "hostile");
  tar.symlink(".tollamere-backup-tmp/beta/.beta/passwd", "/etc/passwd");
  const QByteArray archive = tar.gzipped();
  replaceArchive(archive);

  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->description(), "拒绝恢复：检测到非法路径 符号链接 passwd");
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "changed") << "the first agent is not merged either";
  EXPECT_TRUE(stagingLeft().isEmpty()) << stagingLeft().join(' ').toStdString();
}

TEST_F(RestoreEngineTest, ARootFoundByDiscoveryComesBackWhereItWasOnAFreshMachine) {
  writeFile(h + "/.gone/state.json", "gone");
  const auto withDiscovery = registryOfAgents({QByteArray(R"({"id":"eps","displayName":"E","vendor":"v",
      "kind":"cli","identify":{"executableNames":["eps"]},
      "backup":{"discovery":{"primaryHomes":["~/.gone"]}}})")});
  {
    BackupEngine backup(volume.access());
    bool done = false;
    backup.runBackup(withDiscovery->visibleAgents(), [&](const auto&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
  }
  QDir(h + "/.gone").removeRecursively();
  RestoreEngine engine(volume.access());  // no registry, as in a verification mode
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_EQ(readAll(h + "/.gone/state.json"), "gone");
}

// A root that has no place on this machine is left out, and the restore
// says so in its result (and one log line), not only in the log: backed up
// from outside the home folder, or from a manifest that does not record
// where it came from.
TEST_F(RestoreEngineTest, ARootWithNoPlaceInTheHomeFolderIsInTheResultAndOneLogLine) {
  QTemporaryDir elsewhere;
  writeFile(elsewhere.path() + "/data/state.json", "outside");
  BackupEngine backup(volume.access());
  bool done = false;
  backup.runBackup({entryFromJson(QStringLiteral(R"("id":"eps","displayName":"E","vendor":"v","kind":"cli",
      "identify":{},"backup":{"discovery":{"primaryHomes":["%1/data"]}})")
                                      .arg(elsewhere.path())
                                      .toUtf8())},
                   [&](const auto&) { done = true; });
  ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
  writeFile(elsewhere.path() + "/data/state.json", "changed");

  RestoreEngine engine(volume.access());
  ::testing::internal::CaptureStdout();
  RestoreReport report;
  const auto error = restore(engine, {}, &report);
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_FALSE(error.has_value());
  EXPECT_NE(out.find("[Restore] eps 未恢复（找不到原来的位置）：data\n"), std::string::npos) << out;
  EXPECT_EQ(readAll(elsewhere.path() + "/data/state.json"), "changed") << "never written outside the home folder";
  const QList<RestoreGap> outside{{RestoreGap::Reason::outsideHome, "eps", "data", elsewhere.path() + "/data"}};
  EXPECT_EQ(report.leftOut, outside);
  EXPECT_FALSE(report.complete());
  EXPECT_EQ(RestoreEngine::unplaced(BackupManifest::decode(readAll(newestSnapshot() + "/manifest.json")).value(), nullptr),
            outside) << "the verification modes look ahead with the same rule";

  // A manifest of an earlier version, which records no places.
  auto manifest = BackupManifest::decode(readAll(newestSnapshot() + "/manifest.json")).value();
  for (auto& agent : manifest.agents) agent.roots.reset();
  writeFile(newestSnapshot() + "/manifest.json", manifest.encode());
  ASSERT_FALSE(restore(engine, "eps", &report).has_value());
  EXPECT_EQ(report.leftOut, (QList<RestoreGap>{{RestoreGap::Reason::noPlace, "eps", "data", {}}}));

  // An agent the manifest lists but the archive holds nothing of: restoring
  // all goes on without it and says so; asked for alone, it fails.
  BackupManifest::AgentBackup ghost = manifest.agents.first();
  ghost.id = "ghost";
  ghost.roots = QList<BackupManifest::AgentBackup::Root>();
  manifest.agents.append(ghost);
  writeFile(newestSnapshot() + "/manifest.json", manifest.encode());
  ASSERT_FALSE(restore(engine, {}, &report).has_value());
  EXPECT_EQ(report.leftOut, (QList<RestoreGap>{{RestoreGap::Reason::noPlace, "eps", "data", {}},
                                               {RestoreGap::Reason::notInArchive, "ghost", {}, {}}}));
  const auto alone = restore(engine, "ghost");
  ASSERT_TRUE(alone.has_value());
  EXPECT_EQ(alone->kind, Case::agentNotInBackup);
}

namespace {

qint64 mtimeOf(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

}  // namespace

TEST_F(RestoreEngineTest, FilesAndFoldersComeBackWithTheModesAndTimesTheArchiveRecords) {
  const QString data = h + "/.gamma";
  const QList<QPair<QString, unsigned>> files{{"config.json", 0644}, {"bin/run", 0755}, {"keys/private", 0640},
                                              {"bin/suid", 04755}, {"notes.md", 0600}};
  for (const auto& [name, mode] : files) {
    writeFile(data + "/" + name, name.toUtf8());
    ::chmod(QFile::encodeName(data + "/" + name).constData(), mode);
  }
  ::chmod(QFile::encodeName(data + "/keys").constData(), 0700);
  const QDateTime then = QDateTime::fromString("2024-05-06T07:08:09Z", Qt::ISODate);
  {
    QFile f(data + "/config.json");
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(then, QFileDevice::FileModificationTime));
  }
  const auto gamma = registryOfAgents({agentJson("gamma", {"~/.gamma"})});
  {
    BackupEngine backup(volume.access());
    bool done = false;
    backup.runBackup(gamma->visibleAgents(), [&](const auto&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
  }
  QDir(data).removeRecursively();
  RestoreEngine engine(volume.access());
  engine.setRegistry(gamma);
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_EQ(modeOf(data + "/config.json"), 0644u);
  EXPECT_EQ(modeOf(data + "/bin/run"), 0755u);
  EXPECT_EQ(modeOf(data + "/keys/private"), 0640u);
  EXPECT_EQ(modeOf(data + "/bin/suid"), 0755u) << "never a set-id bit";
  EXPECT_EQ(modeOf(data + "/notes.md"), 0600u);
  EXPECT_EQ(modeOf(data + "/keys"), 0700u) << "a folder it makes gets the archive's mode";
  EXPECT_EQ(mtimeOf(data + "/config.json"), then.toSecsSinceEpoch());
  EXPECT_EQ(readAll(data + "/bin/run"), "bin/run");
}

TEST_F(RestoreEngineTest, TwoRootsWithOneNameComeBackToTheirOwnPlaces) {
  writeFile(h + "/Documents/app/notes.md", "documents");
  writeFile(h + "/Code/app/main.c", "code");
  writeFile(h + "/Code/app/notes.md", "code notes");
  const auto twin = registryOfAgents({agentJson("twin", {"~/Documents/app", "~/Code/app"})});
  {
    BackupEngine backup(volume.access());
    bool done = false;
    backup.runBackup(twin->visibleAgents(), [&](const auto&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
  }
  QDir(h + "/Documents/app").removeRecursively();
  QDir(h + "/Code/app").removeRecursively();
  RestoreEngine engine(volume.access());
  engine.setRegistry(twin);
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_EQ(readAll(h + "/Documents/app/notes.md"), "documents");
  EXPECT_FALSE(QFileInfo::exists(h + "/Documents/app/main.c")) << "nothing of the other root";
  EXPECT_EQ(readAll(h + "/Code/app/main.c"), "code");
  EXPECT_EQ(readAll(h + "/Code/app/notes.md"), "code notes");

  // Without the registry (a verification mode), each goes where the backup
  // recorded it.
  QDir(h + "/Code/app").removeRecursively();
  RestoreEngine bare(volume.access());
  ASSERT_FALSE(restore(bare).has_value());
  EXPECT_EQ(readAll(h + "/Code/app/main.c"), "code");
  EXPECT_EQ(readAll(h + "/Documents/app/notes.md"), "documents");
}

TEST_F(RestoreEngineTest, ADamagedNewestSnapshotNeverHidesAnOlderGoodOne) {
  backUp();
  const QString older = newestSnapshot();
  const QByteArray manifest = readAll(older + "/manifest.json");
  QByteArray changed = readAll(older + "/backup.tar.gz");
  changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 0x01);
  // A newer snapshot whose manifest was cut in half, or whose archive has
  // one byte changed (its size as recorded).
  const struct {
    const char* name;
    QByteArray manifest;
    QByteArray archive;
    bool shownUnread;  // offered where its archive is not read
  } cases[] = {
      {"manifest cut", manifest.left(manifest.size() / 2), readAll(older + "/backup.tar.gz"), false},
      {"archive changed", manifest, changed, true},
  };
  const QString newer = volume.snapshots() + "/2999-01-01_00-00-00";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDir().mkpath(newer);
    writeFile(newer + "/backup.tar.gz", c.archive);
    writeFile(newer + "/manifest.json", c.manifest);
    damageAll();

    RestoreEngine engine(volume.access());
    engine.setRegistry(registry);
    volume.mounted = true;
    ASSERT_EQ(engine.loadManifest().has_value(), true);
    EXPECT_EQ(engine.damagedNewerCount(), c.shownUnread ? 0 : 1);
    volume.mounted = false;
    // What the restore sheet reads looks at the archives too.
    bool read = false;
    engine.inspect([&](const Expected<void, RestoreError>& e) {
      EXPECT_TRUE(e.ok());
      read = true;
    });
    ASSERT_TRUE(waitUntil([&] { return read; }, std::chrono::seconds(30)));
    EXPECT_EQ(engine.damagedNewerCount(), 1) << "the sheet says a newer backup is damaged";
    ASSERT_TRUE(engine.currentManifest().has_value());
    EXPECT_EQ(engine.currentManifest()->archiveSha256, BackupManifest::decode(manifest).value().archiveSha256);
    ASSERT_FALSE(restore(engine).has_value()) << "the older snapshot is restored";
    EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "alpha skill");
    EXPECT_TRUE(stagingLeft().isEmpty()) << stagingLeft().join(' ').toStdString();
  }
}

TEST_F(RestoreEngineTest, ALinkWhereTheRestoreWritesStopsItNamingThePathBeforeAnythingIsWritten) {
  backUp();
  damageAll();
  // A folder of beta's replaced by a link to one elsewhere.
  QTemporaryDir elsewhere;
  ASSERT_TRUE(QDir(h + "/.beta/memories").removeRecursively());
  ASSERT_TRUE(QFile::link(elsewhere.path(), h + "/.beta/memories"));
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::linkInTheWay);
  EXPECT_EQ(error->description(), "恢复失败：" + h + "/.beta/memories 是符号链接：恢复不会写到它指向的地方");
  EXPECT_EQ(LocTexts::text(AppLanguage::en, error->message().key),
            "Nothing was restored: " + h + "/.beta/memories is a link, and the restore never writes where a link leads. "
            "Move it away, then restore again.");
  EXPECT_TRUE(QDir(elsewhere.path()).isEmpty()) << "nothing written through the link";
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "changed") << "nothing written at all, not even for alpha";
  EXPECT_TRUE(QFileInfo(h + "/.beta/memories").isSymLink());
  EXPECT_TRUE(stagingLeft().isEmpty());
}

TEST_F(RestoreEngineTest, AStagingNameTakenByALinkIsNeverUnpackedInto) {
  backUp();
  damageAll();
  QTemporaryDir elsewhere;
  SnapshotVolume watched = volume.access();
  // Right after the leftovers are cleared, a link takes the staging
  // folder's usual name.
  watched.listSnapshots = [inner = watched.listSnapshots, this, &elsewhere] {
    QFile::link(elsewhere.path(), h + "/.tollamere-restore-tmp");
    return inner();
  };
  RestoreEngine engine(watched);
  engine.setRegistry(registry);
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "alpha skill");
}

TEST_F(RestoreEngineTest, AFifoOrALinkInASnapshotNeverHangsOrFloodsTheRestore) {
  backUp();
  const QString snapshot = newestSnapshot();
  damageAll();
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  // The manifest a FIFO: nothing waits on a writer that never comes.
  QFile::remove(snapshot + "/manifest.json");
  ASSERT_EQ(::mkfifo(QFile::encodeName(snapshot + "/manifest.json").constData(), 0600), 0);
  auto error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::manifestCorrupted);
  EXPECT_FALSE(volume.mounted) << "detached on the way out";
  // The manifest a link to an endless device: never read.
  QFile::remove(snapshot + "/manifest.json");
  ASSERT_TRUE(QFile::link("/dev/zero", snapshot + "/manifest.json"));
  error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::manifestCorrupted);
  volume.mounted = true;
  EXPECT_FALSE(engine.loadManifest().has_value());
  volume.mounted = false;
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "changed");
}

TEST_F(RestoreEngineTest, TheVolumeIsMountedAndUnmountedOffTheWindowsThread) {
  backUp();
  std::atomic<bool> mountedOnMain = false, unmountedOnMain = false;
  SnapshotVolume watched = volume.access();
  watched.mountInteractive = [inner = watched.mountInteractive, &mountedOnMain](const LocKey& reason) {
    mountedOnMain = isMainThread();
    return inner(reason);
  };
  watched.unmount = [inner = watched.unmount, &unmountedOnMain] {
    unmountedOnMain = isMainThread();
    return inner();
  };
  RestoreEngine engine(watched);
  engine.setRegistry(registry);
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_EQ(volume.mounts, 2);
  EXPECT_FALSE(mountedOnMain);
  EXPECT_FALSE(unmountedOnMain);
}

TEST_F(RestoreEngineTest, AnotherOperationOnTheImageRefusesTheRestoreWhichSaysSo) {
  backUp();
  damageAll();
  std::optional<VolumeLock> held = VolumeLock::tryAcquire(volume.lockFile());
  ASSERT_TRUE(held.has_value());
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::busy);
  EXPECT_EQ(error->message(), EngineMessage::busy());
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "changed");
  EXPECT_EQ(volume.mounts, 1) << "only the backup mounted it";
}

TEST_F(RestoreEngineTest, AFolderMissingFromItsPlaceComesBackWholeWithItsTime) {
  const QString data = h + "/.gamma";
  writeFile(data + "/sessions/2026/s.json", "session");
  writeFile(data + "/config.json", "config");
  const QDateTime then = QDateTime::fromString("2020-01-02T03:04:05Z", Qt::ISODate);
  const struct timespec times[2] = {{then.toSecsSinceEpoch(), 0}, {then.toSecsSinceEpoch(), 0}};
  for (const QString& folder : {data + "/sessions/2026", data + "/sessions"})
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), times, 0), 0);
  const auto gamma = registryOfAgents({agentJson("gamma", {"~/.gamma"})});
  {
    BackupEngine backup(volume.access());
    bool done = false;
    backup.runBackup(gamma->visibleAgents(), [&](const auto&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(60)));
  }
  RestoreEngine engine(volume.access());
  engine.setRegistry(gamma);
  // A lost subfolder, then the whole folder: each comes back as the backup
  // holds it, its folders with the times they had.
  QDir(data + "/sessions").removeRecursively();
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_EQ(readAll(data + "/sessions/2026/s.json"), "session");
  EXPECT_EQ(QFileInfo(data + "/sessions").lastModified().toSecsSinceEpoch(), then.toSecsSinceEpoch());
  QDir(data).removeRecursively();
  ASSERT_FALSE(restore(engine).has_value());
  EXPECT_EQ(readAll(data + "/config.json"), "config");
  EXPECT_EQ(QFileInfo(data + "/sessions/2026").lastModified().toSecsSinceEpoch(), then.toSecsSinceEpoch());
  EXPECT_TRUE(stagingLeft().isEmpty()) << stagingLeft().join(' ').toStdString();
}

TEST(RestoreEngineWithoutAnImage, LookingForABackupMakesNothingBesideWhereTheImageWouldLie) {
  TempHome home;
  const QString lockFile = VolumeLock::lockPathFor(BackupVolume::defaultImagePath());
  RestoreEngine engine(SnapshotVolume::standard());
  // What the restore sheet does when it opens.
  bool inspected = false;
  std::optional<RestoreError> inspectError;
  engine.inspect([&](const Expected<void, RestoreError>& e) {
    inspected = true;
    if (!e) inspectError = e.error();
  });
  ASSERT_TRUE(waitUntil([&] { return inspected; }));
  EXPECT_FALSE(inspectError.has_value());
  EXPECT_FALSE(engine.currentManifest().has_value());
  EXPECT_FALSE(QFileInfo::exists(lockFile));

  bool done = false;
  std::optional<RestoreError> error;
  EXPECT_TRUE(engine.restoreAll([&](const Expected<RestoreReport, RestoreError>& e) {
    done = true;
    if (!e) error = e.error();
  }));
  ASSERT_TRUE(waitUntil([&] { return done; }));
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::noBackupFound);
  EXPECT_FALSE(QFileInfo::exists(lockFile));
  EXPECT_TRUE(QDir(home.path()).entryList({"*.lock"}, QDir::Files | QDir::Hidden | QDir::System).isEmpty());
}

// A restore that fills the disk names the user's folder (not the staging
// folder, gone by then) and what was free before it began, not the nothing
// it left.
TEST_F(RestoreEngineTest, AFullDiskIsNamedByTheUsersFolderWithTheRoomFreeBeforeTheRestore) {
  QFile random("/dev/urandom");
  ASSERT_TRUE(random.open(QIODevice::ReadOnly));
  writeFile(h + "/.alpha/big.bin", random.read(3 << 20));
  backUp();
  // Gone, so it has to be unpacked (one standing as backed up would not be).
  ASSERT_TRUE(QFile::remove(h + "/.alpha/big.bin"));
  const QString small = home.path() + "/small";
  QDir().mkpath(small);
  if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  volume.workFolder = small;
  const std::optional<qint64> freeBefore = DiskImage::freeBytes(small);
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ::umount2(QFile::encodeName(small).constData(), MNT_DETACH);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, Case::diskFull) << error->description().toStdString();
  EXPECT_EQ(error->payload, small);
  ASSERT_TRUE(freeBefore && error->freeBytes);
  EXPECT_GT(*error->freeBytes, *freeBefore - 65536);
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "alpha skill") << "nothing of the home folder was touched";
}

// Restoring over the user's own data: files standing as they were backed up
// are left as they stand (the same files, only read), the others come back.
TEST_F(RestoreEngineTest, FilesStandingAsBackedUpAreLeftAndTheOthersComeBack) {
  backUp();
  const auto inode = [](const QString& path) {
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
  };
  const ino_t unchanged = inode(h + "/.alpha/skills/s.md");
  writeFile(h + "/.beta/memories/m.json", "changed");
  QFile::remove(h + "/shared/notes.txt");
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  const auto error = restore(engine);
  ASSERT_FALSE(error.has_value()) << error->description().toStdString();
  EXPECT_EQ(inode(h + "/.alpha/skills/s.md"), unchanged) << "left as it stands";
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "alpha skill");
  EXPECT_EQ(readAll(h + "/.beta/memories/m.json"), "{\"m\":1}");
  EXPECT_EQ(readAll(h + "/shared/notes.txt"), "shared by two");
  EXPECT_EQ(readAll(h + "/.betarc"), "rc");
  EXPECT_TRUE(stagingLeft().isEmpty());
}

// An archive that holds other places than its manifest tells: a file left as
// it stood (planned from the manifest) may be wanted elsewhere after all, so
// the archive is unpacked again, whole. Here the manifest sends ".alpha" to
// "~/s/.alpha", where the user's files stand as backed up, and names a second
// root for "~/.alpha" that the archive lacks: the restore learns only once
// it has unpacked that ".alpha" goes to "~/.alpha", emptied meanwhile.
TEST_F(RestoreEngineTest, AnArchiveHoldingOtherPlacesThanItsManifestTellsIsUnpackedAgainWhole) {
  backUp();
  auto manifest = BackupManifest::decode(readAll(newestSnapshot() + "/manifest.json")).value();
  bool edited = false;
  for (auto& agent : manifest.agents) {
    if (agent.id != "alpha" || !agent.roots) continue;
    for (auto& root : *agent.roots) {
      if (root.name == ".alpha") {
        root.place = "~/s/.alpha";
        edited = true;
      }
    }
    agent.roots->append({".alpha~2", "~/.alpha", std::nullopt, 0});
  }
  ASSERT_TRUE(edited);
  writeFile(newestSnapshot() + "/manifest.json", manifest.encode());
  // Moved whole, times and modes as backed up: every file there is left out
  // of the first unpacking.
  ASSERT_TRUE(QDir().mkpath(h + "/s"));
  ASSERT_TRUE(QDir().rename(h + "/.alpha", h + "/s/.alpha"));
  RestoreEngine engine(volume.access());
  engine.setRegistry(registry);
  RestoreReport report;
  const auto error = restore(engine, "alpha", &report);
  ASSERT_FALSE(error.has_value()) << error->description().toStdString();
  EXPECT_EQ(readAll(h + "/.alpha/skills/s.md"), "alpha skill");
  EXPECT_EQ(readAll(h + "/s/.alpha/skills/s.md"), "alpha skill") << "what stood elsewhere is left";
  EXPECT_EQ(report.leftOut, (QList<RestoreGap>{{RestoreGap::Reason::notInArchive, "alpha", ".alpha~2", "~/.alpha"}}))
      << "the root the archive lacks is said";
  EXPECT_EQ(readAll(h + "/shared/notes.txt"), "shared by two");
  EXPECT_TRUE(stagingLeft().isEmpty());
}
