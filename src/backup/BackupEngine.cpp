#include "backup/BackupEngine.h"

#include "backup/BackupPlanner.h"
#include "backup/BackupStaging.h"
#include "backup/BackupVolume.h"
#include "backup/OperationStop.h"
#include "backup/SnapshotChoice.h"
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

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

namespace tlr {

using Case = BackupError::Case;

namespace {

QString decodedErrorText(const QByteArray& bytes) {
  // Not valid UTF-8: "unknown", as every tool error of the engine reads.
  return decodeStrictUtf8(bytes).value_or(QStringLiteral("unknown"));
}

// A JSON number that is a whole number within 64 bits; nothing for a
// fraction, a number beyond that range (1e300) or another type. The range is
// checked before anything is converted.
std::optional<qint64> exactInteger(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const qint64 n = value.toInteger(0);
  if (n == 0 && value.toInteger(1) != 0) return std::nullopt;
  return n;
}

std::optional<BackupEngine::BackupRecord> decodeCache(const QByteArray& json) {
  const QJsonDocument doc = QJsonDocument::fromJson(json);
  if (!doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  const QJsonValue time = o.value("timestamp"), total = o.value("totalBytes"), count = o.value("agentCount"),
                   name = o.value("storageDisplayName");
  if (!time.isString() || !name.isString()) return std::nullopt;
  const auto date = BackupManifest::parseIsoDate(time.toString());
  const std::optional<qint64> t = exactInteger(total), c = exactInteger(count);
  if (!date || !t || !c) return std::nullopt;
  return BackupEngine::BackupRecord{*date, *t, *c, name.toString()};
}

QByteArray encodeCache(const BackupEngine::BackupRecord& record) {
  QJsonObject o;  // keys come out sorted
  o.insert("agentCount", static_cast<double>(record.agentCount));
  o.insert("storageDisplayName", record.storageDisplayName);
  o.insert("timestamp", BackupManifest::isoDate(record.timestamp));
  o.insert("totalBytes", static_cast<double>(record.totalBytes));
  return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

// Removes a folder and makes it again, empty and private.
QString freshPrivateFolder(const QString& path) {
  FileOps::removeItem(path);
  if (!QDir().mkpath(path)) return path + QStringLiteral(": 无法创建文件夹");
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return {};
}

}  // namespace

// One run's work on its worker thread. Holds the engine weakly: stage labels
// and the bookkeeping go to the main thread only while the engine exists.
class BackupPipeline {
 public:
  BackupPipeline(QPointer<BackupEngine> engine, SnapshotVolume volume)
      : engine_(std::move(engine)), volume_(std::move(volume)) {}

  BackupEngine::Result run(const QList<AgentEntry>& agents) {
    if (!volume_.exists())
      return BackupError::of(Case::writeFailed,
                             QStringLiteral("加密备份卷未初始化。请到「备份与恢复」面板先设置加密卷。"));
    // Held to the end of the run: a second backup, a restore, an export or
    // an import of this image, here or in another process, is refused.
    const std::optional<VolumeLock> lock = volume_.lock();
    if (!lock) return BackupError::busy();
    bool mountedHere = false;
    if (OperationStop::requested()) return BackupError::passOn(OperationStop::reason());
    if (volume_.isMounted()) {
      // A mount left by a killed run is taken over and detached at the end.
      mountedHere = volume_.adoptOrphan();
    } else {
      // Asks the user on the main thread when no password is kept; the
      // attach itself runs here, off the main thread.
      if (auto mountError = volume_.mountInteractive(unlockReason(UnlockPurpose::backup)))
        return BackupError::passOn(*mountError);
      mountedHere = true;
    }
    const QString work = volume_.workFolder();
    // Plain copies a killed run left behind.
    BackupStaging::removeLeftovers(work);
    staging_ = work + "/" + QString::fromLatin1(BackupEngine::kStagingDirName);
    archive_ = staging_ + QStringLiteral(".tar.gz");
    BackupEngine::Result result = runMounted(agents);
    // The plain staging and archive never outlive the run.
    FileOps::removeItem(staging_);
    FileOps::removeItem(archive_);
    if (mountedHere) volume_.unmount();
    return result;
  }

 private:
  void stage(const LocKey& key) {
    QPointer<BackupEngine> engine = engine_;
    runOnMain([engine, key] {
      if (engine) engine->setStage(key);
    });
  }

  BackupEngine::Result runMounted(const QList<AgentEntry>& agents) {
    QList<std::pair<AgentEntry, BackupPlan>> backupable;
    QList<BackupPlan> plans;
    for (const AgentEntry& entry : agents) {
      BackupPlan plan = BackupPlanner::plan(entry);
      plans << plan;
      if (!plan.roots.isEmpty()) backupable.append({entry, plan});
    }
    errLine(QStringLiteral("[Backup] installedAgents.count=%1 backupable.count=%2")
                .arg(agents.size())
                .arg(backupable.size()));
    if (backupable.isEmpty()) {
      QStringList ids;
      for (qsizetype i = 0; i < agents.size() && i < 5; ++i) ids << agents[i].id;
      errLine(QStringLiteral("[Backup] sample IDs: ") + ids.join(','));
      for (qsizetype i = 0; i < agents.size() && i < 5; ++i)
        errLine(QStringLiteral("[Backup]   - %1: roots=%2").arg(agents[i].id).arg(plans[i].roots.size()));
      return BackupError::of(Case::noAgentsInstalled);
    }

    stage(LocKey::backupStagePreparing());
    if (const QString error = freshPrivateFolder(staging_); !error.isEmpty()) return BackupError::passOn(error);

    stage(LocKey::backupStageCopying());
    QList<BackupManifest::AgentBackup> results;
    for (const auto& [entry, plan] : backupable) {
      if (OperationStop::requested()) return BackupError::passOn(OperationStop::reason());
      const QString agentDir = staging_ + "/" + entry.id;
      if (!AgentEntry::isSafeFileComponent(entry.id) || !QDir().mkpath(agentDir)) {
        logLine(QStringLiteral("[Backup] ") + entry.id + QStringLiteral(" 扫描失败：") + agentDir +
                QStringLiteral(" 无法创建"));
        continue;
      }
      const ExcludeMatcher excludes(plan.excludes);
      const StagedAgent staged = BackupStaging::stageAgent(
          agentDir, plan.roots, [&](const QString& file, const QString& root) { return excludes.excludes(file, root); });
      if (staged.fileCount < 1) continue;
      BackupManifest::AgentBackup agent;
      agent.id = entry.id;
      agent.displayName = entry.displayNameEN.value_or(entry.displayName);
      agent.fileCount = staged.fileCount;
      agent.totalBytes = staged.totalBytes;
      agent.stats = {staged.skills, staged.memoryBytes, staged.tasks};
      agent.files = staged.files;
      QList<BackupManifest::AgentBackup::Root> roots;
      const QString home = Paths::home() + "/";
      for (const StagedAgent::Root& root : staged.roots)
        roots.append({root.name, root.path.startsWith(home) ? QStringLiteral("~/") + root.path.mid(home.size())
                                                            : root.path});
      agent.roots = roots;
      results << agent;
    }
    if (results.isEmpty()) return BackupError::of(Case::scanFailed, QStringLiteral("所有 Agent 都没有可备份的内容"));

    if (OperationStop::requested()) return BackupError::passOn(OperationStop::reason());
    stage(LocKey::backupStageCompressing());
    FileOps::removeItem(archive_);
    const QFileInfo stagingInfo(staging_);
    const TarArchive::Result packed = TarArchive::pack(stagingInfo.absolutePath(), stagingInfo.fileName(), archive_);
    if (!packed.started) return BackupError::passOn(packed.startError);
    // Status 1: a file changed while tar read it (an agent writing its
    // session); the archive is complete all the same.
    if (packed.exitCode == 1)
      logLine(QStringLiteral("[Backup] tar: ") + decodedErrorText(packed.errorOutput).trimmed());
    else if (!packed.ok())
      return BackupError::of(Case::packFailed, decodedErrorText(packed.errorOutput));

    stage(LocKey::backupStageVerifying());
    const auto digest = BackupManifest::digestOfFile(archive_);
    if (!digest) return BackupError::of(Case::packFailed, QStringLiteral("无法打开 tar 文件做 SHA256"));

    BackupManifest manifest;
    manifest.schemaVersion = 1;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    manifest.createdAt = now.addMSecs(-now.time().msec());
    manifest.device = BackupManifest::currentDevice();
    manifest.agents = results;
    manifest.totalBytes = digest.value().size;
    manifest.archiveSha256 = digest.value().sha256;

    if (OperationStop::requested()) return BackupError::passOn(OperationStop::reason());
    stage(LocKey::backupStageWriting());
    if (auto error = writeSnapshot(manifest)) return *error;

    BackupEngine::BackupRecord record{manifest.createdAt, manifest.totalBytes, results.size(),
                                      QString::fromUtf8(BackupEngine::kLocalStorageName)};
    QPointer<BackupEngine> engine = engine_;
    const bool recorded = volume_.userVolume;
    runOnMainAndWait([&] {
      if (recorded) NetworkLogger::shared().log(NetworkEventKind::backupUpload, manifest.totalBytes, true);
      if (engine) {
        engine->setLastBackup(record);
        if (recorded) engine->saveLastBackupToDisk(record);
      }
    });
    return record;
  }

  // The snapshot is built in a hidden folder beside the others and renamed
  // to its label only when the archive and the manifest are complete and on
  // the disk: an interrupted write never leaves a visible, incomplete
  // snapshot in front of the older complete one. Pruning comes after.
  // Nothing is written unless it lands on the mounted volume: a volume that
  // went away under the run leaves a bare folder at its mount point, and a
  // plain copy of the archive there would look like a backup.
  std::optional<BackupError> writeSnapshot(const BackupManifest& manifest) {
    const QString notMounted = QStringLiteral("加密备份卷未挂载，无法写入备份。请先在 UI 里初始化加密卷。");
    const QString root = volume_.snapshotsRoot();
    if (root.isEmpty()) return BackupError::passOn(notMounted);
    if (!volume_.holds(root)) {
      QDir().rmdir(root);  // made on the bare folder a moment ago, if at all
      return BackupError::passOn(notMounted);
    }
    const QString label = volume_.timestampLabel(manifest.createdAt.toLocalTime());
    for (const QString& leftover : QDir(root).entryList({".partial-*"}, QDir::AllEntries | QDir::Hidden))
      FileOps::removeItem(root + "/" + leftover);

    const QString partial = root + QStringLiteral("/.partial-") + label;
    auto fail = [&](const QString& error) {
      FileOps::removeItem(partial);
      return BackupError::passOn(error);
    };
    if (!QDir().mkpath(partial)) return fail(partial + QStringLiteral(": 无法创建文件夹"));
    if (!volume_.holds(partial)) return fail(notMounted);
    if (QString e = FileTransfer::copyNew(archive_, partial + "/backup.tar.gz"); !e.isEmpty()) return fail(e);
    if (QString e = FileTransfer::sync(partial + "/backup.tar.gz"); !e.isEmpty()) return fail(e);
    if (QString e = FileOps::writeOwnFile(partial + "/manifest.json", manifest.encode()); !e.isEmpty())
      return fail(e);
    FileTransfer::sync(partial);
    if (!volume_.holds(partial)) return fail(notMounted);
    if (QString e = FileTransfer::renameFolderIntoPlace(partial, root + "/" + label); !e.isEmpty()) return fail(e);
    FileTransfer::sync(root);
    volume_.pruneKeeping(label);
    return std::nullopt;
  }

  QPointer<BackupEngine> engine_;
  SnapshotVolume volume_;
  QString staging_;
  QString archive_;
};

BackupEngine& BackupEngine::shared() {
  static BackupEngine* engine = new BackupEngine();
  return *engine;
}

BackupEngine::BackupEngine(SnapshotVolume volume, QObject* parent) : QObject(parent), volume_(std::move(volume)) {
  lastBackup_ = readLastBackupCache();
}

QString BackupEngine::lastBackupCachePath() {
  return Paths::appSupport() + "/" + QString::fromLatin1(kCacheFileName);
}

QString BackupEngine::stagingPath() { return Paths::home() + "/" + QString::fromLatin1(kStagingDirName); }

std::optional<BackupEngine::BackupRecord> BackupEngine::readLastBackupCache() {
  const auto data = FileOps::readRegularFile(lastBackupCachePath(), 1 << 20);
  return data ? decodeCache(*data) : std::nullopt;
}


void BackupEngine::runBackup(const QList<AgentEntry>& installedAgents, Completion done) {
  if (isRunning_) {
    done(BackupError::busy());
    return;
  }
  setRunning(true);
  lastFailure_.reset();
  setLastError(std::nullopt);
  setStage(LocKey::backupStagePreparing());
  QPointer<BackupEngine> self(this);
  startOffMain([self, volume = volume_, installedAgents, done = std::move(done)] {
    BackupEngine::Result result = BackupError::of(Case::scanFailed, QStringLiteral("engine 已释放"));
    if (self) result = BackupPipeline(self, volume).run(installedAgents);
    runOnMain([self, result, done] {
      if (self)
        self->finish(result, done);
      else
        done(result);
    });
  });
}

void BackupEngine::finish(const Result& result, const Completion& done) {
  setRunning(false);
  setStageLabel(std::nullopt);
  if (!result) {
    logLine(QStringLiteral("[Backup] FAILED: ") + result.error().textualForm());
    lastFailure_ = result.error().message();
    setLastError(result.error().description());
  }
  done(result);
}

void BackupEngine::refreshLastBackupFromVolume() {
  if (!volume_.exists()) {
    setLastBackup(std::nullopt);
    QFile::remove(lastBackupCachePath());
    return;
  }
  if (!volume_.isMounted()) return;
  const QStringList snapshots = volume_.listSnapshots();
  if (snapshots.isEmpty()) {
    setLastBackup(std::nullopt);
    QFile::remove(lastBackupCachePath());
    return;
  }
  // The newest snapshot that checks out: a damaged newer one does not hide
  // an older good one.
  const SnapshotChoice choice = SnapshotChoice::choose(snapshots);
  if (!choice.found()) {
    setLastBackup(std::nullopt);
    return;
  }
  const BackupRecord record{choice.manifest->createdAt, choice.manifest->totalBytes,
                            static_cast<qint64>(choice.manifest->agents.size()),
                            QString::fromUtf8(kVolumeStorageName)};
  setLastBackup(record);
  saveLastBackupToDisk(record);
}

void BackupEngine::setStage(const LocKey& key) { setStageLabel(SettingsStore::shared().text(key)); }

void BackupEngine::setStageLabel(std::optional<QString> label) {
  if (stageLabel_ == label) return;
  stageLabel_ = std::move(label);
  Q_EMIT stageLabelChanged();
}

void BackupEngine::setRunning(bool running) {
  if (isRunning_ == running) return;
  isRunning_ = running;
  Q_EMIT isRunningChanged(running);
}

void BackupEngine::setLastError(std::optional<QString> error) {
  if (lastError_ == error) return;
  lastError_ = std::move(error);
  Q_EMIT lastErrorChanged();
}

void BackupEngine::setLastBackup(std::optional<BackupRecord> record) {
  if (lastBackup_ == record) return;
  lastBackup_ = std::move(record);
  Q_EMIT lastBackupChanged();
}

void BackupEngine::saveLastBackupToDisk(const BackupRecord& record) const {
  FileOps::writeOwnFile(lastBackupCachePath(), encodeCache(record));
}

}  // namespace tlr
