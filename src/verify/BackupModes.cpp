#include "verify/BackupModes.h"

#include "backup/BackupCatalog.h"
#include "backup/BackupEngine.h"
#include "backup/BackupManifest.h"
#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/RestoreEngine.h"
#include "core/NetworkLogger.h"
#include "platform/Crypto.h"
#include "platform/FileOps.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "registry/RegistryLoader.h"
#include "verify/VerificationReport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <future>

namespace tlr {
namespace {

// Runs a backup on the main thread's engine and waits for its end.
BackupEngine::Result backUp(const QList<AgentEntry>& agents) {
  std::promise<BackupEngine::Result> promise;
  auto future = promise.get_future();
  const bool queued = runOnMainAndWait([&] {
    BackupEngine::shared().runBackup(agents, [&promise](const BackupEngine::Result& r) { promise.set_value(r); });
  });
  if (!queued) return BackupError::of(BackupError::Case::scanFailed, QStringLiteral("engine 已释放"));
  return future.get();
}

std::optional<RestoreError> restoreAgent(const QString& id) {
  std::promise<std::optional<RestoreError>> promise;
  auto future = promise.get_future();
  const bool queued = runOnMainAndWait([&] {
    RestoreEngine::shared().restoreAgent(id, [&promise](const std::optional<RestoreError>& e) { promise.set_value(e); });
  });
  if (!queued) return RestoreError::passOn(QStringLiteral("engine 已释放"));
  return future.get();
}

QString describe(const BackupEngine::BackupRecord& record) {
  return QStringLiteral("%1 agents, %2 bytes, %3")
      .arg(record.agentCount)
      .arg(record.totalBytes)
      .arg(BackupManifest::isoDate(record.timestamp));
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

bool backupStep(VerificationReport& report, const QList<AgentEntry>& agents,
                std::optional<BackupEngine::BackupRecord>* record = nullptr) {
  const BackupEngine::Result result = backUp(agents);
  if (!result) return report.fail(QStringLiteral("backup"), result.error().description());
  if (record) *record = result.value();
  return report.pass(QStringLiteral("backup: ") + describe(result.value()));
}

struct Fixture {
  QString folder;
  QHash<QString, QByteArray> files;
};

Fixture makeFixture() {
  Fixture f;
  f.folder = Paths::home() + QStringLiteral("/.tollamere-selftest-fixture");
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
    if (!FileOps::writeOwnFile(path, it.value()).isEmpty()) return false;
  }
  return true;
}

}  // namespace

VerificationResult BackupSelfTest::run() {
  VerificationReport report(VerificationMode::selfTest);
  const Fixture fixture = makeFixture();
  FileOps::removeItem(fixture.folder);
  const QString id = QString::fromLatin1(kFixtureAgentId);
  auto cleanUp = [&] {
    FileOps::removeItem(fixture.folder);
    const bool clean = !QFileInfo::exists(fixture.folder) && !QFileInfo::exists(BackupEngine::stagingPath()) &&
                       !QFileInfo::exists(RestoreEngine::stagingPath());
    report.step(QStringLiteral("clean up"), clean, QStringLiteral("fixture or staging folder left"));
    return finish(report);
  };
  if (!report.step(QStringLiteral("fixture created"), writeFiles(fixture), fixture.folder)) return cleanUp();
  BackupCatalog::registerAgent(id, {fixture.folder});
  AgentEntry entry;
  entry.id = id;
  entry.displayName = QStringLiteral("Self-test agent");
  entry.backup = AgentEntry::BackupSpec{};
  entry.backup->includePaths = QStringList{fixture.folder};
  if (!backupStep(report, {entry})) return cleanUp();

  // Change the fixture: one file rewritten, one removed, one added.
  QFile::remove(fixture.folder + "/memories/note.md");
  Fixture changed = fixture;
  changed.files = {{"config.json", "{\"selftest\": false}\n"}, {"added.txt", "new\n"}};
  if (!report.step(QStringLiteral("fixture changed"), writeFiles(changed))) return cleanUp();

  if (const auto error = restoreAgent(id)) {
    report.fail(QStringLiteral("restore"), error->description());
    return cleanUp();
  }
  report.pass(QStringLiteral("restore"));
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
  backupStep(report, agents);
  return finish(report);
}

VerificationResult BackupSelfTest::runRegistryBackup() {
  VerificationReport report(VerificationMode::backupRegistry);
  if (const auto agents = registryAgents(report)) backupStep(report, *agents);
  return finish(report);
}

VerificationResult E2ETest::run() {
  VerificationReport report(VerificationMode::e2e);
  const auto agents = registryAgents(report);
  if (!agents || !backupStep(report, *agents)) return finish(report);

  // The newest manifest read back, and the archive checked against it.
  bool mountedHere = false;
  std::optional<QString> mountError;
  runOnMainAndWait([&] {
    if (BackupVolume::isMounted()) return;
    const auto mounted = BackupVolume::mountInteractive(QStringLiteral("解锁加密备份卷以开始备份"));
    if (mounted)
      mountedHere = true;
    else
      mountError = mounted.error().localizedDescription();
  });
  if (report.step(QStringLiteral("mount"), !mountError, mountError.value_or(QString()))) {
    const QStringList snapshots = BackupStorage::listSnapshots();
    if (report.step(QStringLiteral("newest snapshot"), !snapshots.isEmpty(),
                    QStringLiteral("iCloud 里没找到备份。请先创建一份备份。"))) {
      QFile file(snapshots.first() + "/manifest.json");
      const auto manifest = file.open(QIODevice::ReadOnly) ? BackupManifest::decode(file.readAll())
                                                           : Expected<BackupManifest, QString>(file.errorString());
      if (report.step(QStringLiteral("manifest read"), manifest.ok(),
                      manifest.ok() ? QString() : QStringLiteral("备份元数据损坏"))) {
        const auto digest = BackupManifest::digestOfFile(snapshots.first() + "/backup.tar.gz");
        const bool same = digest && digest.value().sha256 == manifest.value().archiveSha256 &&
                          digest.value().size == manifest.value().totalBytes;
        report.step(QStringLiteral("archive SHA-256 matches the manifest"), same,
                    digest ? QStringLiteral("备份完整性校验失败（archive 内容与 manifest 记录不符）")
                           : digest.error().description);
      }
    }
  }
  if (mountedHere) BackupVolume::unmount();

  // A test password sealed and opened with the vault's steps; the vault
  // file ends as it began.
  const QString vault = PasswordVault::vaultURL();
  const auto before = FileOps::readRegularFile(vault, 1 << 20);
  const QString testPassword = QStringLiteral("tlr-e2e-") + QString::number(QRandomGenerator::global()->generate64(), 36);
  bool opened = false;
  runOnMainAndWait([&] {
    const std::optional<QString> cached = PasswordVault::cachedPassword();
    QByteArray key = PasswordVault::deriveMachineKey();
    const bool sealed = PasswordVault::sealWithKey(testPassword, key);
    Crypto::wipe(key);
    opened = sealed && PasswordVault::openStored() == testPassword;
    if (cached)
      PasswordVault::setCachedPassword(*cached);
    else
      PasswordVault::clearCachedPassword();
  });
  report.step(QStringLiteral("vault seal and open"), opened);
  if (before)
    FileOps::writeOwnFile(vault, *before, FileOps::OwnFileAccess::ownerOnly);
  else
    FileOps::removeItem(vault);
  report.step(QStringLiteral(".pwd.vault unchanged"), FileOps::readRegularFile(vault, 1 << 20) == before,
              before ? QStringLiteral("content differs") : QStringLiteral("a vault file was left behind"));
  return finish(report);
}

VerificationResult RestoreVerify::run() {
  VerificationReport report(VerificationMode::restoreVerify);
  if (!report.step(QStringLiteral("backup image"), BackupVolume::exists(), QStringLiteral("备份卷还没初始化")))
    return finish(report);
  const bool wasMounted = BackupVolume::isMounted();
  if (!wasMounted) {
    const std::optional<QString> password = PasswordVault::openStored();
    if (!report.step(QStringLiteral("vault opened"), password.has_value(),
                     QStringLiteral("Keychain 里找不到备份卷密码")))
      return finish(report);
    const auto mounted = BackupVolume::mount(*password);
    if (!report.step(QStringLiteral("mount"), mounted.ok(), mounted.ok() ? QString() : mounted.error().localizedDescription()))
      return finish(report);
  }
  const QStringList snapshots = BackupStorage::listSnapshots();
  if (report.step(QStringLiteral("newest snapshot"), !snapshots.isEmpty(),
                  QStringLiteral("iCloud 里没找到备份。请先创建一份备份。"))) {
    QFile file(snapshots.first() + "/manifest.json");
    const auto manifest = file.open(QIODevice::ReadOnly) ? BackupManifest::decode(file.readAll())
                                                         : Expected<BackupManifest, QString>(file.errorString());
    if (report.step(QStringLiteral("manifest read"), manifest.ok(),
                    manifest.ok() ? QString() : QStringLiteral("备份元数据损坏"))) {
      const auto sha = BackupManifest::sha256HexOfFile(snapshots.first() + "/backup.tar.gz");
      report.step(QStringLiteral("archive SHA-256 matches the manifest"),
                  sha.ok() && sha.value() == manifest.value().archiveSha256,
                  sha.ok() ? QStringLiteral("备份完整性校验失败（archive 内容与 manifest 记录不符）")
                           : sha.error().description);
    }
  }
  if (!wasMounted) BackupVolume::unmount();
  return finish(report);
}

}  // namespace tlr
