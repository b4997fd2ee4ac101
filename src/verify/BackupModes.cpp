#include "verify/BackupModes.h"

#include "backup/BackupCatalog.h"
#include "backup/BackupEngine.h"
#include "backup/BackupManifest.h"
#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/RestoreEngine.h"
#include "backup/SnapshotChoice.h"
#include "backup/VolumeLock.h"
#include "core/netlog/NetworkLogger.h"
#include "platform/Crypto.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "registry/RegistryLoader.h"
#include "verify/ScratchVolume.h"
#include "verify/VerificationReport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <future>

namespace tlr {
namespace {

// Runs a backup on `engine` (a main-thread object) and waits for its end.
BackupEngine::Result backUp(BackupEngine& engine, const QList<AgentEntry>& agents) {
  std::promise<BackupEngine::Result> promise;
  auto future = promise.get_future();
  const bool queued = runOnMainAndWait([&] {
    engine.runBackup(agents, [&promise](const BackupEngine::Result& r) { promise.set_value(r); });
  });
  if (!queued) return Unexpected(BackupError::of(BackupError::Case::scanFailed, QStringLiteral("engine 已释放")));
  return future.get();
}

Expected<RestoreReport, RestoreError> restoreAgent(RestoreEngine& engine, const QString& id) {
  std::promise<Expected<RestoreReport, RestoreError>> promise;
  auto future = promise.get_future();
  const bool queued = runOnMainAndWait([&] {
    // The self-test's own engine runs nothing else: never refused.
    static_cast<void>(engine.restoreAgent(
        id, [&promise](const Expected<RestoreReport, RestoreError>& r) { promise.set_value(r); }));
  });
  if (!queued) return Unexpected(RestoreError::passOn(QStringLiteral("engine 已释放")));
  return future.get();
}

// An engine over `volume`, made, used and destroyed on the main thread.
template <class Engine>
std::shared_ptr<Engine> engineOn(const SnapshotVolume& volume) {
  std::shared_ptr<Engine> engine;
  runOnMainAndWait([&] {
    engine = std::shared_ptr<Engine>(new Engine(volume), [](Engine* e) { runOnMain([e] { delete e; }); });
  });
  return engine;
}

// "1 file", "2 files".
QString counted(qint64 count, const char* one, const char* many) {
  return QString::number(count) + ' ' + QLatin1String(count == 1 ? one : many);
}

QString describe(const BackupEngine::BackupRecord& record) {
  return counted(record.agentCount, "agent", "agents") + QStringLiteral(", ") +
         counted(record.totalBytes, "byte", "bytes") + QStringLiteral(", ") + BackupManifest::isoDate(record.timestamp);
}

// Ends a mode: network-log writes still queued are finished first.
VerificationResult finish(const VerificationReport& report) {
  NetworkLogger::shared().flush();
  return report.result();
}

std::optional<QList<AgentEntry>> registryAgents(VerificationReport& report) {
  const auto loaded = RegistryLoader::load();
  if (const auto* error = std::get_if<RegistryLoadError>(&loaded)) {
    report.fail(QStringLiteral("registry"), error->description());
    return std::nullopt;
  }
  const auto& registry = std::get<std::shared_ptr<const AgentRegistry>>(loaded);
  report.pass(QStringLiteral("registry: %1 agents").arg(registry->visibleAgents().size()));
  return registry->visibleAgents();
}

bool backupStep(VerificationReport& report, BackupEngine& engine, const QList<AgentEntry>& agents) {
  const BackupEngine::Result result = backUp(engine, agents);
  if (!result) return report.fail(QStringLiteral("backup"), result.error().description());
  report.pass(QStringLiteral("backup: ") + describe(result.value()));
  // What the backup did not store: links, FIFOs, sockets in the agents'
  // folders (said); and what makes it incomplete, by the verdict the backup
  // sheet gives too: each such gap fails the mode.
  const BackupEngine::BackupRecord& record = result.value();
  // "<what>: <count>: <first paths>[, …]"
  const auto named = [](const QString& what, const QString& count, const NamedItems& items) {
    return what + QStringLiteral(": ") + count + QStringLiteral(": ") + listedPaths(items.count, items.examples);
  };
  if (record.leftOutCount > 0)
    report.pass(named(QStringLiteral("left out, not regular files"), QString::number(record.leftOutCount),
                      {record.leftOutCount, record.leftOutExamples}));
  for (const auto& [gap, items] : record.gaps()) {
    switch (gap) {
      case SnapshotGap::unreadable:
        report.fail(QStringLiteral("backup incomplete"),
                    named(QStringLiteral("not readable"), counted(items.count, "item", "items"), items));
        break;
      case SnapshotGap::tooDeep:
        report.fail(QStringLiteral("backup incomplete"),
                    named(QStringLiteral("folders over %1 levels deep").arg(StagedSnapshot::kMaxDepth),
                          counted(items.count, "folder", "folders"), items));
        break;
      case SnapshotGap::changed:
        report.fail(QStringLiteral("backup incomplete"),
                    named(QStringLiteral("changed while read twice, stored as read"),
                          counted(items.count, "file", "files"), items));
        break;
    }
  }
  return true;
}

// What a restore left out, or would leave out, each a failed step: the
// restore sheet calls such a restore incomplete too.
void restoreGapSteps(VerificationReport& report, const QList<RestoreGap>& gaps) {
  for (const RestoreGap& gap : gaps) {
    QString why;
    switch (gap.reason) {
      case RestoreGap::Reason::noPlace: why = QStringLiteral("no place for it on this machine"); break;
      case RestoreGap::Reason::outsideHome: why = QStringLiteral("backed up from outside the home folder"); break;
      case RestoreGap::Reason::notInArchive: why = QStringLiteral("missing from the archive"); break;
    }
    const QString what = gap.shownPath().isEmpty() ? gap.agentId : gap.agentId + QStringLiteral(": ") + gap.shownPath();
    report.fail(QStringLiteral("restore incomplete"), what + QStringLiteral(": ") + why);
  }
}

// A scratch image for the mode's test steps; nothing when it cannot be made
// (the report says why).
std::shared_ptr<ScratchVolume> scratchVolume(VerificationReport& report) {
  auto scratch = ScratchVolume::create();
  if (!report.step(QStringLiteral("scratch volume"), scratch.ok(), scratch.ok() ? QString() : scratch.error()))
    return nullptr;
  return std::move(scratch).value();
}

// The newest snapshot of the mounted `volume` that checks out, its manifest
// read back and its archive checked against it; each as a step. Its
// manifest, when it was found.
std::optional<BackupManifest> verifyNewestSnapshot(VerificationReport& report, const SnapshotVolume& volume) {
  const SnapshotChoice choice = SnapshotChoice::choose(volume.listSnapshots());
  QStringList damaged;
  for (const SnapshotChoice::Damaged& d : choice.damaged) damaged << QFileInfo(d.folder).fileName() + ": " + d.reason;
  if (!damaged.isEmpty()) report.fail(QStringLiteral("newer snapshots intact"), damaged.join(QStringLiteral("; ")));
  if (!report.step(QStringLiteral("newest snapshot"), choice.found() || !choice.damaged.isEmpty(),
                   QStringLiteral("iCloud 里没找到备份。请先创建一份备份。")))
    return std::nullopt;
  if (!report.step(QStringLiteral("manifest read"), choice.found(), QStringLiteral("备份元数据损坏"))) return std::nullopt;
  const auto digest = BackupManifest::digestOfFile(choice.folder + "/backup.tar.gz");
  const bool same = digest && digest.value().sha256 == choice.manifest->archiveSha256 &&
                    digest.value().size == choice.manifest->totalBytes;
  report.step(QStringLiteral("archive SHA-256 matches the manifest"), same,
              digest ? QStringLiteral("备份完整性校验失败（archive 内容与 manifest 记录不符）")
                     : digest.error().description);
  return choice.manifest;
}

struct Fixture {
  QString folder;
  QHash<QString, QByteArray> files;
};

Fixture makeFixture(const QString& folder) {
  Fixture f;
  f.folder = folder;
  QByteArray binary(70000, '\0');
  for (char& c : binary) c = static_cast<char>(QRandomGenerator::global()->generate());
  f.files = {{"config.json", "{\"selftest\": true}\n"},
             {"memories/note.md", "remember this\n"},
             {"data/blob.bin", binary}};
  return f;
}

bool writeFiles(const Fixture& f) {
  for (auto it = f.files.cbegin(); it != f.files.cend(); ++it) {
    const QString path = f.folder + "/" + it.key();
    QDir().mkpath(QFileInfo(path).path());
    if (!FileOps::writeOwnFile(path, it.value())) return false;
  }
  return true;
}

}  // namespace

VerificationResult BackupSelfTest::run() {
  VerificationReport report(VerificationMode::selfTest);
  // Everything happens on an image of the test's own: the user's volume,
  // its snapshots and "last-backup.json" are never touched.
  const std::shared_ptr<ScratchVolume> scratch = scratchVolume(report);
  if (!scratch) return finish(report);
  const Fixture fixture = makeFixture(scratch->folder() + QStringLiteral("/fixture"));
  const QString id = QString::fromLatin1(kFixtureAgentId);
  auto cleanUp = [&] {
    const bool clean = scratch->remove();
    report.step(QStringLiteral("clean up"), clean, QStringLiteral("scratch volume left: ") + scratch->folder());
    return finish(report);
  };
  if (!report.step(QStringLiteral("fixture created"), writeFiles(fixture), fixture.folder)) return cleanUp();
  BackupCatalog::registerAgent(id, {fixture.folder});
  AgentEntry entry;
  entry.id = id;
  entry.displayName = QStringLiteral("Self-test agent");
  entry.backup = AgentEntry::BackupSpec{};
  entry.backup->includePaths = QStringList{fixture.folder};
  const SnapshotVolume volume = scratch->access();
  {
    const auto backupEngine = engineOn<BackupEngine>(volume);
    if (!backupStep(report, *backupEngine, {entry})) return cleanUp();
  }

  // Change the fixture: one file rewritten, one removed, one added.
  QFile::remove(fixture.folder + "/memories/note.md");
  Fixture changed = fixture;
  changed.files = {{"config.json", "{\"selftest\": false}\n"}, {"added.txt", "new\n"}};
  if (!report.step(QStringLiteral("fixture changed"), writeFiles(changed))) return cleanUp();

  {
    const auto restoreEngine = engineOn<RestoreEngine>(volume);
    const auto restored = restoreAgent(*restoreEngine, id);
    if (!restored) {
      report.fail(QStringLiteral("restore"), restored.error().description());
      return cleanUp();
    }
    report.pass(QStringLiteral("restore"));
    restoreGapSteps(report, restored.value().leftOut);
  }
  QStringList differing;
  for (auto it = fixture.files.cbegin(); it != fixture.files.cend(); ++it) {
    QFile file(fixture.folder + "/" + it.key());
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != it.value()) differing << it.key();
  }
  report.step(QStringLiteral("bytes match"), differing.isEmpty(), differing.join(QStringLiteral(", ")));
  return cleanUp();
}

VerificationResult BackupSelfTest::runRealBackup() {
  VerificationReport report(VerificationMode::backup);
  QList<AgentEntry> agents;
  for (const QString& id : BackupCatalog::knownAgentIds()) {
    AgentEntry entry;
    entry.id = id;
    entry.displayName = id;
    entry.backup = AgentEntry::BackupSpec{};
    QStringList paths;
    for (const QString& relative : BackupCatalog::dataPaths(id)) paths << QStringLiteral("~/") + relative;
    entry.backup->includePaths = paths;
    agents << entry;
  }
  report.pass(QStringLiteral("catalog: %1 agents").arg(agents.size()));
  backupStep(report, BackupEngine::shared(), agents);
  return finish(report);
}

VerificationResult BackupSelfTest::runRegistryBackup() {
  VerificationReport report(VerificationMode::backupRegistry);
  if (const auto agents = registryAgents(report)) backupStep(report, BackupEngine::shared(), *agents);
  return finish(report);
}

VerificationResult E2ETest::run() {
  VerificationReport report(VerificationMode::e2e);
  const auto agents = registryAgents(report);
  if (!agents) return finish(report);
  // The whole road on an image of the test's own: the registry's agents
  // backed up, the snapshot read back and checked, the vault's steps on a
  // vault file of its own. The user's volume and ".pwd.vault" stay as they
  // are.
  const std::shared_ptr<ScratchVolume> scratch = scratchVolume(report);
  if (!scratch) return finish(report);
  const QString vault = PasswordVault::vaultURL();
  const auto before = FileOps::readRegularFile(vault, 1 << 20);
  const SnapshotVolume volume = scratch->access();
  {
    const auto engine = engineOn<BackupEngine>(volume);
    if (backupStep(report, *engine, *agents)) {
      const Expected<void, BackupVolumeError> mounted = volume.mountInteractive(LocKey::empty());
      if (report.step(QStringLiteral("mount"), mounted.ok(),
                      mounted ? QString() : mounted.error().localizedDescription())) {
        static_cast<void>(verifyNewestSnapshot(report, volume));
        static_cast<void>(volume.unmount());
      }
    }
  }

  // A test password sealed and opened with the vault's steps.
  const QString testPassword =
      QStringLiteral("tlr-e2e-") + QString::number(QRandomGenerator::global()->generate64(), 36);
  QByteArray key = PasswordVault::deriveMachineKey();
  const QString testVault = scratch->folder() + QStringLiteral("/.pwd.vault");
  const bool opened = PasswordVault::sealWithKeyAt(testVault, testPassword, key) &&
                      PasswordVault::openAt(testVault, key) == testPassword;
  Crypto::wipe(key);
  report.step(QStringLiteral("vault seal and open"), opened);
  report.step(QStringLiteral(".pwd.vault unchanged"), FileOps::readRegularFile(vault, 1 << 20) == before,
              before ? QStringLiteral("content differs") : QStringLiteral("a vault file was left behind"));
  report.step(QStringLiteral("clean up"), scratch->remove(), QStringLiteral("scratch volume left: ") + scratch->folder());
  return finish(report);
}

VerificationResult RestoreVerify::run() {
  VerificationReport report(VerificationMode::restoreVerify);
  if (!report.step(QStringLiteral("backup image"), BackupVolume::exists(), QStringLiteral("备份卷还没初始化")))
    return finish(report);
  // While a backup, restore, export or import uses the volume, it is not
  // touched here.
  const std::optional<VolumeLock> lock = VolumeLock::tryAcquire(BackupVolume::lockPath());
  if (!report.step(QStringLiteral("volume free"), lock.has_value(), QStringLiteral("已有备份正在进行中")))
    return finish(report);
  bool mountedHere = false;
  if (BackupVolume::isMounted()) {
    mountedHere = BackupVolume::adoptOrphan();
  } else {
    const std::optional<QString> password = PasswordVault::openStored();
    if (!report.step(QStringLiteral("vault opened"), password.has_value(),
                     QStringLiteral("密码库（.pwd.vault）里没有备份卷密码")))
      return finish(report);
    const auto mounted = BackupVolume::mount(*password);
    if (!mounted.ok() && mounted.error().wrongPassword) {
      // Forgotten like a refused password anywhere else, so the next
      // interactive run asks for the right one.
      log("[Backup] ", QStringLiteral("存储的备份卷密码被拒绝，已清除"));
      PasswordVault::clearCachedPassword();
      // One that stays is refused and removed again the next time.
      static_cast<void>(PasswordVault::removeStored());
    }
    if (!report.step(QStringLiteral("mount"), mounted.ok(), mounted.ok() ? QString() : mounted.error().localizedDescription()))
      return finish(report);
    mountedHere = true;
  }
  const std::optional<BackupManifest> newestManifest = verifyNewestSnapshot(report, SnapshotVolume::standard());
  if (mountedHere) BackupVolume::unmount();
  // Where each root of the newest good snapshot would go back on this
  // machine, as a restore decides it (the registry's places, else where the
  // backup found it): one without a place fails, as the restore sheet would
  // say after restoring.
  if (newestManifest) {
    const auto loaded = RegistryLoader::load();
    const auto* registry = std::get_if<std::shared_ptr<const AgentRegistry>>(&loaded);
    restoreGapSteps(report, RestoreEngine::unplaced(*newestManifest, registry ? registry->get() : nullptr));
  }
  return finish(report);
}

}  // namespace tlr
