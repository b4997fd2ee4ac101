#include "backup/RestoreEngine.h"

#include "backup/BackupCatalog.h"
#include "backup/BackupEngine.h"
#include "backup/BackupStaging.h"
#include "backup/BackupVolume.h"
#include "backup/OperationStop.h"
#include "backup/RestoreTree.h"
#include "backup/SnapshotChoice.h"
#include "core/AgentDataDiscovery.h"
#include "core/NetworkLogger.h"
#include "platform/Crypto.h"
#include "platform/OffMain.h"
#include "core/SettingsStore.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
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

// Where a backed-up root goes when no target names it: the place the backup
// recorded, else where the registry's discovery finds a root of that name on
// this machine; only places in the home folder. Empty when there is none.
QString placeOfUncovered(const QString& name, const std::optional<QString>& recorded,
                         const QList<DiscoveredPath>& discovered) {
  const QString home = Paths::home() + "/";
  if (recorded) {
    const QString path = resolveTarget(*recorded);
    if (path.startsWith(home) && QDir::cleanPath(path) == path) return path;
  }
  for (const DiscoveredPath& found : discovered) {
    const QString path = found.path();
    // Only places in the home folder: a snapshot never writes elsewhere.
    if (QFileInfo(path).fileName() == name && path.startsWith(home)) return path;
  }
  return {};
}

// Puts one agent's backed-up roots back. Each entry of the agent's folder in
// the archive is one root; the manifest records where each came from.
//  1. A target (include path or catalog folder) that is exactly where a root
//     came from takes that root.
//  2. Any other target takes the root named like its last component. With
//     the roots on record, only a root not put back yet; without them (older
//     snapshots), the root of that name, whatever else took it.
//  3. A root no target took goes back where it came from (or where
//     discovery finds it); what has no place is named in one log line.
// `movable`: the check found the unpacked folders fit to be moved into
// place whole.
std::optional<RestoreError> restoreOneAgent(const BackupManifest::AgentBackup& agent, const QString& extractedRoot,
                                            const AgentRegistry* registry, bool movable) {
  const QString agentDir = extractedRoot + "/" + agent.id;
  if (!QFileInfo::exists(agentDir)) return RestoreError::of(Case::agentNotInBackup, agent.id);

  struct Staged {
    QString name;                    // its entry in the agent's folder
    QString originalName;            // the last component of its place
    std::optional<QString> recorded;  // its place as recorded
  };
  QList<Staged> staged;
  QSet<QString> recordedNames;
  for (const auto& root : agent.roots.value_or(QList<BackupManifest::AgentBackup::Root>())) {
    if (recordedNames.contains(root.name) || !FileTransfer::entry(agentDir + "/" + root.name)) continue;
    recordedNames.insert(root.name);
    staged.append({root.name, QFileInfo(resolveTarget(root.place)).fileName(), root.place});
  }
  for (const QString& name :
       QDir(agentDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
    if (!recordedNames.contains(name)) staged.append({name, name, std::nullopt});
  }
  const bool onRecord = agent.roots.has_value();

  // Which targets each root goes to, in the order the targets are listed.
  QList<QStringList> destinations(staged.size());
  const QStringList targets = RestoreEngine::targetsFor(agent.id, registry);
  QList<bool> targetTaken(targets.size(), false);
  for (qsizetype t = 0; t < targets.size(); ++t) {
    for (qsizetype i = 0; i < staged.size(); ++i) {
      if (staged[i].recorded && QDir::cleanPath(resolveTarget(*staged[i].recorded)) == QDir::cleanPath(targets[t])) {
        destinations[i] << targets[t];
        targetTaken[t] = true;
        break;
      }
    }
  }
  for (qsizetype t = 0; t < targets.size(); ++t) {
    if (targetTaken[t]) continue;
    const QString name = QFileInfo(targets[t]).fileName();
    if (name.isEmpty()) continue;
    std::optional<qsizetype> chosen;
    for (qsizetype i = 0; i < staged.size() && !chosen; ++i) {
      if (staged[i].originalName == name && destinations[i].isEmpty()) chosen = i;
    }
    for (qsizetype i = 0; i < staged.size() && !chosen && !onRecord; ++i) {
      if (staged[i].originalName == name) chosen = i;
    }
    if (chosen) destinations[*chosen] << targets[t];
  }

  QList<DiscoveredPath> discovered;
  bool discoveryRan = false;
  QStringList notRestored;
  for (qsizetype i = 0; i < staged.size(); ++i) {
    if (destinations[i].isEmpty()) {
      if (!discoveryRan && registry) {
        if (const auto entry = registry->lookup(agent.id)) discovered = AgentDataDiscovery::discover(*entry);
      }
      discoveryRan = true;
      const QString place = placeOfUncovered(staged[i].originalName, staged[i].recorded, discovered);
      if (place.isEmpty()) {
        notRestored << staged[i].name;
        continue;
      }
      destinations[i] << place;
    }
    const QString source = agentDir + "/" + staged[i].name;
    for (qsizetype d = 0; d < destinations[i].size(); ++d) {
      // A root that feeds several targets is copied for all but its last.
      const bool last = d == destinations[i].size() - 1;
      if (auto error = RestoreTree::restore(source, destinations[i][d], last, movable)) return error;
    }
  }
  if (!notRestored.isEmpty())
    logLine(QStringLiteral("[Restore] ") + agent.id + QStringLiteral(" 未恢复（找不到原来的位置）：") +
            notRestored.join(QStringLiteral(", ")));
  return std::nullopt;
}

}  // namespace

// The part of one restore that runs on its worker thread.
class RestoreRun {
 public:
  static std::optional<RestoreError> run(QPointer<RestoreEngine> engine, const SnapshotVolume& volume,
                                         const std::function<bool(const BackupManifest::AgentBackup&)>& filter,
                                         std::shared_ptr<const AgentRegistry> registry, qint64* archiveSize);

 private:
  static std::optional<RestoreError> work(QPointer<RestoreEngine> engine, const QString& archive,
                                          const QString& expectedSha, const QList<BackupManifest::AgentBackup>& agents,
                                          const QString& staging, std::shared_ptr<const AgentRegistry> registry) {
    auto stage = [engine](const LocKey& key) {
      runOnMain([engine, key] {
        if (engine) engine->setStage(key);
      });
    };
    if (OperationStop::requested()) return RestoreError::passOn(OperationStop::reason());
    stage(LocKey::restoreStageExtracting());
    QStringList members;
    for (const auto& agent : agents) {
      if (!AgentEntry::isSafeFileComponent(agent.id)) return RestoreError::of(Case::unknownAgent, agent.id);
      members << QString::fromLatin1(BackupEngine::kStagingDirName) + "/" + agent.id;
    }
    // The archive is read once: hashed as it streams into tar, which unpacks
    // into the staging folder only. Nothing else is touched before the hash
    // matched the manifest.
    Crypto::Sha256 digest;
    const TarArchive::Result unpacked =
        TarArchive::extract(archive, staging, members, [&digest](QByteArrayView piece) { digest.update(piece); });
    if (!unpacked.streamed)
      return RestoreError::passOn(QStringLiteral("读取文件计算 SHA256 失败: ") + archive);

    if (OperationStop::requested()) return RestoreError::passOn(OperationStop::reason());
    stage(LocKey::restoreStageVerifying());
    if (Crypto::hex(digest.finish()) != expectedSha) return RestoreError::of(Case::sha256Mismatch);
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
    bool movable = false;
    if (auto refused = RestoreTree::validate(staging, &movable)) return refused;

    stage(LocKey::restoreStageWriting());
    for (const auto& agent : agents) {
      if (OperationStop::requested()) return RestoreError::passOn(OperationStop::reason());
      if (auto error = restoreOneAgent(agent, extractedRoot, registry.get(), movable)) return error;
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

namespace {

// Why no snapshot could be chosen, as the restore reports it.
RestoreError noSnapshotError(const SnapshotChoice& choice) {
  if (choice.damaged.isEmpty()) return RestoreError::of(Case::noBackupFound);
  switch (choice.damaged.first().damage) {
    case SnapshotChoice::Damage::missing: return RestoreError::of(Case::noBackupFound);
    case SnapshotChoice::Damage::unreadable:
    case SnapshotChoice::Damage::corrupted: return RestoreError::of(Case::manifestCorrupted);
    case SnapshotChoice::Damage::archiveMismatch: return RestoreError::of(Case::sha256Mismatch);
  }
  return RestoreError::of(Case::noBackupFound);
}

}  // namespace

// One restore on its worker thread, from taking the volume's lock to
// letting it go: the mount (the password prompt alone comes to the main
// thread), choosing the snapshot, the staging folder, the checksum, tar, the
// check and the merges, and the unmount.
std::optional<RestoreError> RestoreRun::run(QPointer<RestoreEngine> engine, const SnapshotVolume& volume,
                                            const std::function<bool(const BackupManifest::AgentBackup&)>& filter,
                                            std::shared_ptr<const AgentRegistry> registry, qint64* archiveSize) {
  // No image: nothing to restore from and nothing to keep apart, so no lock
  // file is made beside a place where no image lies.
  if (!volume.exists() && !volume.isMounted()) return RestoreError::of(Case::noBackupFound);
  const std::optional<VolumeLock> lock = volume.lock();
  if (!lock) return RestoreError::of(Case::busy);
  if (OperationStop::requested()) return RestoreError::passOn(OperationStop::reason());
  bool mountedHere = false;
  if (volume.exists() && !volume.isMounted()) {
    if (auto error = volume.mountInteractive(unlockReason(UnlockPurpose::restore))) return RestoreError::passOn(*error);
    mountedHere = true;
  } else if (volume.isMounted()) {
    // A mount left by a killed run is taken over and detached at the end.
    mountedHere = volume.adoptOrphan();
  }
  const QString workFolder = volume.workFolder();
  // Plain copies a killed backup or restore left behind.
  BackupStaging::removeLeftovers(workFolder);
  const QString staging = workFolder + "/" + QString::fromLatin1(RestoreEngine::kStagingDirName);
  std::optional<RestoreError> error = [&]() -> std::optional<RestoreError> {
    const SnapshotChoice choice = SnapshotChoice::choose(volume.listSnapshots());
    for (const SnapshotChoice::Damaged& damaged : choice.damaged)
      log("[Restore] ", QStringLiteral("跳过损坏的快照 ") + QFileInfo(damaged.folder).fileName() +
                            QStringLiteral("：") + damaged.reason);
    if (!choice.found()) return noSnapshotError(choice);
    const QString archive = choice.folder + "/backup.tar.gz";
    if (!QDir().mkpath(staging)) return RestoreError::passOn(staging + QStringLiteral(": 无法创建文件夹"));
    QFile::setPermissions(staging, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (const auto info = FileTransfer::entry(archive)) *archiveSize = info->size;
    QList<BackupManifest::AgentBackup> selected;
    for (const auto& agent : choice.manifest->agents) {
      if (filter(agent)) selected << agent;
    }
    return work(engine, archive, choice.manifest->archiveSha256, selected, staging, registry);
  }();
  FileOps::removeItem(staging);
  if (mountedHere) volume.unmount();
  return error;
}

bool RestoreEngine::runRestore(std::function<bool(const BackupManifest::AgentBackup&)> filter, Completion done) {
  if (isRunning_) {
    done(std::nullopt);
    return false;
  }
  setRunning(true);
  setLastError(std::nullopt);
  lastFailure_.reset();
  setStage(LocKey::backupStagePreparing());

  QPointer<RestoreEngine> self(this);
  startOffMain([self, volume = volume_, filter = std::move(filter), registry = registry_, done = std::move(done)] {
    qint64 archiveSize = 0;
    const std::optional<RestoreError> error = RestoreRun::run(self, volume, filter, registry, &archiveSize);
    runOnMain([self, error, done, archiveSize, recorded = volume.userVolume] {
      if (!error && recorded) NetworkLogger::shared().log(NetworkEventKind::restoreFetch, archiveSize, true);
      if (self) self->finish(error);
      done(error);
    });
  });
  return true;
}

void RestoreEngine::finish(const std::optional<RestoreError>& error) {
  setRunning(false);
  setStageLabel(std::nullopt);
  if (error) {
    lastFailure_ = error->message();
    setLastError(error->description());
  }
}

std::optional<BackupManifest> RestoreEngine::loadManifest() {
  if (!volume_.isMounted()) return std::nullopt;
  const QStringList snapshots = volume_.listSnapshots();
  if (snapshots.isEmpty()) return std::nullopt;
  const SnapshotChoice choice = SnapshotChoice::choose(snapshots);
  damagedNewer_ = choice.damaged.size();
  currentManifest_ = choice.manifest;
  Q_EMIT currentManifestChanged();
  return currentManifest_;
}

void RestoreEngine::inspect(Completion done) {
  struct Read {
    std::optional<RestoreError> error;
    SnapshotChoice choice;
  };
  runOffMain(
      this,
      [volume = volume_]() -> Read {
        // Nothing to read without an image, and nothing made beside it.
        if (!volume.exists() && !volume.isMounted()) return {};
        const std::optional<VolumeLock> lock = volume.lock();
        if (!lock) return {RestoreError::of(Case::busy), {}};
        bool mountedHere = false;
        if (volume.exists() && !volume.isMounted()) {
          if (auto error = volume.mountInteractive(unlockReason(UnlockPurpose::restore)))
            return {RestoreError::passOn(*error), {}};
          mountedHere = true;
        } else if (volume.isMounted()) {
          mountedHere = volume.adoptOrphan();
        }
        Read read;
        if (volume.isMounted()) read.choice = SnapshotChoice::choose(volume.listSnapshots());
        if (mountedHere) volume.unmount();
        return read;
      },
      [this, done = std::move(done)](Read read) {
        damagedNewer_ = read.choice.damaged.size();
        if (!read.error) {
          currentManifest_ = read.choice.manifest;
          Q_EMIT currentManifestChanged();
        }
        done(read.error);
      });
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
