#include "backup/RestoreEngine.h"

#include "backup/AgentDataDiscovery.h"
#include "backup/BackupCatalog.h"
#include "backup/BackupEngine.h"
#include "backup/RestoreTree.h"
#include "core/NetworkLogger.h"
#include "core/SettingsStore.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"
#include "platform/TarArchive.h"
#include "platform/Utf8.h"
#include "platform/UserHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSet>


namespace tlr {

using Case = RestoreError::Case;

namespace {

QString decodedErrorText(const QByteArray& bytes) {
  // Not valid UTF-8: "unknown", as every tool error of the engine reads.
  return decodeStrictUtf8(bytes).value_or(QStringLiteral("unknown"));
}

QString resolveTarget(const QString& path) {
  if (path.startsWith(QLatin1String("~/"))) return Paths::home() + path.mid(1);
  return expandUserTilde(path);
}

// The backed-up roots of one agent that its targets do not cover go back to
// the place the backup recorded, else where the registry's discovery finds
// them on this machine; only places in the home folder are used. What has no
// place at all is named in one log line.
void restoreUncovered(const QString& agentId, const QString& agentDir, const QSet<QString>& covered,
                      const QStringList& recordedRoots, const AgentRegistry* registry,
                      std::optional<RestoreError>& error) {
  QStringList uncovered;
  for (const QString& name :
       QDir(agentDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
    if (!covered.contains(name)) uncovered << name;
  }
  if (uncovered.isEmpty()) return;
  QHash<QString, QString> discovered;
  // First where the backup says each root came from; then where the
  // registry's discovery finds it on this machine.
  const QString home = Paths::home() + "/";
  for (const QString& place : recordedRoots) {
    const QString path = resolveTarget(place);
    const QString name = QFileInfo(path).fileName();
    if (!discovered.contains(name) && path.startsWith(home) && QDir::cleanPath(path) == path)
      discovered.insert(name, path);
  }
  if (registry) {
    if (const auto entry = registry->lookup(agentId)) {
      for (const DiscoveredPath& found : AgentDataDiscovery::discover(*entry)) {
        const QString path = found.path();
        const QString name = QFileInfo(path).fileName();
        // Only places in the home folder: a snapshot never writes elsewhere.
        if (!discovered.contains(name) && path.startsWith(Paths::home() + "/")) discovered.insert(name, path);
      }
    }
  }
  QStringList notRestored;
  for (const QString& name : uncovered) {
    const auto place = discovered.constFind(name);
    if (place == discovered.constEnd()) {
      notRestored << name;
      continue;
    }
    if (auto failed = RestoreTree::restore(agentDir + "/" + name, *place, true)) {
      error = failed;
      return;
    }
  }
  if (!notRestored.isEmpty())
    logLine(QStringLiteral("[Restore] ") + agentId + QStringLiteral(" 未恢复（找不到原来的位置）：") +
            notRestored.join(QStringLiteral(", ")));
}

std::optional<RestoreError> restoreOneAgent(const BackupManifest::AgentBackup& agent, const QString& extractedRoot,
                                            const AgentRegistry* registry) {
  const QString agentDir = extractedRoot + "/" + agent.id;
  if (!QFileInfo::exists(agentDir)) return RestoreError::of(Case::agentNotInBackup, agent.id);
  const QStringList targets = RestoreEngine::targetsFor(agent.id, registry);
  // A source that feeds several targets is copied for all but its last.
  QHash<QString, int> remainingUses;
  for (const QString& target : targets) ++remainingUses[QFileInfo(target).fileName()];
  QSet<QString> covered;
  for (const QString& target : targets) {
    const QString name = QFileInfo(target).fileName();
    covered.insert(name);
    const QString source = agentDir + "/" + name;
    const bool last = --remainingUses[name] == 0;
    if (name.isEmpty() || !FileTransfer::entry(source)) continue;
    if (auto error = RestoreTree::restore(source, target, last)) return error;
  }
  std::optional<RestoreError> error;
  restoreUncovered(agent.id, agentDir, covered, agent.roots.value_or(QStringList()), registry, error);
  return error;
}

}  // namespace

// The part of one restore that runs on its worker thread.
class RestoreRun {
 public:
  static std::optional<RestoreError> work(QPointer<RestoreEngine> engine, const QString& archive,
                                          const QString& expectedSha, const QList<BackupManifest::AgentBackup>& agents,
                                          const QString& staging, std::shared_ptr<const AgentRegistry> registry) {
    auto stage = [engine](const LocKey& key) {
      runOnMain([engine, key] {
        if (engine) engine->setStage(key);
      });
    };
    stage(LocKey::restoreStageVerifying());
    const auto sha = BackupManifest::sha256HexOfFile(archive);
    if (!sha) return RestoreError::passOn(sha.error().description);
    if (sha.value() != expectedSha) return RestoreError::of(Case::sha256Mismatch);

    stage(LocKey::restoreStageExtracting());
    QStringList members;
    for (const auto& agent : agents) {
      if (!AgentEntry::isSafeFileComponent(agent.id)) return RestoreError::of(Case::unknownAgent, agent.id);
      members << QString::fromLatin1(BackupEngine::kStagingDirName) + "/" + agent.id;
    }
    const TarArchive::Result unpacked = TarArchive::extract(archive, staging, members);
    if (!unpacked.started) return RestoreError::passOn(unpacked.startError);
    if (!unpacked.ok()) return RestoreError::of(Case::unpackFailed, decodedErrorText(unpacked.errorOutput));

    const QStringList folders = QDir(staging).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    if (folders.isEmpty()) return RestoreError::of(Case::unpackFailed, QStringLiteral("解压后没找到根目录"));
    const QString rootName = folders.contains(QString::fromLatin1(BackupEngine::kStagingDirName))
                                 ? QString::fromLatin1(BackupEngine::kStagingDirName)
                                 : folders.first();
    const QString extractedRoot = staging + "/" + rootName;

    stage(LocKey::restoreStageSecurityCheck());
    // Everything tar wrote, not only the root that is merged.
    if (auto refused = RestoreTree::validate(staging)) return refused;

    stage(LocKey::restoreStageWriting());
    for (const auto& agent : agents) {
      if (auto error = restoreOneAgent(agent, extractedRoot, registry.get())) return error;
    }
    return std::nullopt;
  }
};

RestoreEngine& RestoreEngine::shared() {
  static RestoreEngine* engine = new RestoreEngine();
  return *engine;
}

RestoreEngine::RestoreEngine(SnapshotVolume volume, QObject* parent) : QObject(parent), volume_(std::move(volume)) {}

QString RestoreEngine::stagingPath() { return Paths::home() + "/" + QString::fromLatin1(kStagingDirName); }

QStringList RestoreEngine::targetsFor(const QString& agentId, const AgentRegistry* registry) {
  if (registry) {
    if (const auto entry = registry->lookup(agentId); entry && entry->backup && entry->backup->includePaths) {
      QStringList targets;
      for (const QString& path : *entry->backup->includePaths) targets << resolveTarget(path);
      return targets;
    }
  }
  return BackupCatalog::dataDirectories(agentId);
}

bool RestoreEngine::restoreAll(Completion done) {
  return runRestore([](const BackupManifest::AgentBackup&) { return true; }, std::move(done));
}

bool RestoreEngine::restoreAgent(const QString& agentId, Completion done) {
  return runRestore([agentId](const BackupManifest::AgentBackup& agent) { return agent.id == agentId; },
                    std::move(done));
}

bool RestoreEngine::runRestore(std::function<bool(const BackupManifest::AgentBackup&)> filter, Completion done) {
  if (isRunning_) {
    done(std::nullopt);
    return false;
  }
  setRunning(true);
  setLastError(std::nullopt);
  setStage(LocKey::backupStagePreparing());

  bool mountedHere = false;
  if (volume_.exists() && !volume_.isMounted()) {
    if (auto error = volume_.mountInteractive(QStringLiteral("解锁加密备份卷以开始恢复"))) {
      setRunning(false);
      setStageLabel(std::nullopt);
      done(RestoreError::passOn(*error));
      return true;
    }
    mountedHere = true;
  }
  const QString staging = stagingPath();
  bool stagingMade = false;
  auto end = [this, mountedHere, staging, done](const std::optional<RestoreError>& error, bool stagingMade) {
    if (stagingMade) FileOps::removeItem(staging);
    if (mountedHere) volume_.unmount();
    setRunning(false);
    setStageLabel(std::nullopt);
    if (error) setLastError(error->description());
    done(error);
  };

  const QStringList snapshots = volume_.listSnapshots();
  if (snapshots.isEmpty()) {
    end(RestoreError::of(Case::noBackupFound), stagingMade);
    return true;
  }
  const QString archive = snapshots.first() + "/backup.tar.gz";
  const QString manifestPath = snapshots.first() + "/manifest.json";
  if (!QFileInfo::exists(archive) || !QFileInfo::exists(manifestPath)) {
    end(RestoreError::of(Case::noBackupFound), stagingMade);
    return true;
  }
  QFile file(manifestPath);
  if (!file.open(QIODevice::ReadOnly)) {
    end(RestoreError::passOn(manifestPath + QStringLiteral(": ") + file.errorString()), stagingMade);
    return true;
  }
  const auto manifest = BackupManifest::decode(file.readAll());
  if (!manifest) {
    end(RestoreError::of(Case::manifestCorrupted), stagingMade);
    return true;
  }
  FileOps::removeItem(staging);
  if (!QDir().mkpath(staging)) {
    end(RestoreError::passOn(staging + QStringLiteral(": 无法创建文件夹")), stagingMade);
    return true;
  }
  stagingMade = true;
  QFile::setPermissions(staging, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const qint64 archiveSize = QFileInfo(archive).size();
  QList<BackupManifest::AgentBackup> selected;
  for (const auto& agent : manifest.value().agents) {
    if (filter(agent)) selected << agent;
  }

  QPointer<RestoreEngine> self(this);
  startOffMain([self, archive, sha = manifest.value().archiveSha256, selected, staging, registry = registry_, end,
                archiveSize] {
    const std::optional<RestoreError> error = RestoreRun::work(self, archive, sha, selected, staging, registry);
    runOnMain([self, error, end, archiveSize] {
      if (!self) return;
      if (!error) NetworkLogger::shared().log(NetworkEventKind::restoreFetch, archiveSize, true);
      end(error, true);
    });
  });
  return true;
}

std::optional<BackupManifest> RestoreEngine::loadManifest() {
  if (!volume_.isMounted()) return std::nullopt;
  const QStringList snapshots = volume_.listSnapshots();
  if (snapshots.isEmpty()) return std::nullopt;
  const auto data = FileOps::readRegularFile(snapshots.first() + "/manifest.json", 64 << 20);
  if (!data) return std::nullopt;
  const auto decoded = BackupManifest::decode(*data);
  currentManifest_ = decoded ? std::optional<BackupManifest>(decoded.value()) : std::nullopt;
  Q_EMIT currentManifestChanged();
  return currentManifest_;
}

void RestoreEngine::setStage(const LocKey& key) { setStageLabel(SettingsStore::shared().text(key)); }

void RestoreEngine::setStageLabel(std::optional<QString> label) {
  if (stageLabel_ == label) return;
  stageLabel_ = std::move(label);
  Q_EMIT stageLabelChanged();
}

void RestoreEngine::setRunning(bool running) {
  if (isRunning_ == running) return;
  isRunning_ = running;
  Q_EMIT isRunningChanged(running);
}

void RestoreEngine::setLastError(std::optional<QString> error) {
  if (lastError_ == error) return;
  lastError_ = std::move(error);
  Q_EMIT lastErrorChanged();
}

}  // namespace tlr
