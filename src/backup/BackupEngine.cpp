#include "backup/BackupEngine.h"

#include "backup/BackupPlanner.h"
#include "backup/BackupStaging.h"
#include "backup/BackupVolume.h"
#include "backup/OperationStop.h"
#include "backup/SnapshotChoice.h"
#include "core/NetworkLogger.h"
#include "core/SettingsStore.h"
#include "platform/Crypto.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"
#include "platform/TarArchive.h"
#include "platform/TarWriter.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A snapshot being written: a hidden folder beside the others on the
// volume, renamed to its label only when the archive and the manifest are
// complete and on the disk, so an interrupted write never leaves a visible,
// incomplete snapshot in front of the older complete one. Nothing is written
// unless it lands on the mounted volume: a volume that went away under the
// run leaves a bare folder at its mount point, and a plain copy of the
// archive there would look like a backup. Removed again unless finished.
class PartialSnapshot {
 public:
  explicit PartialSnapshot(const SnapshotVolume& volume) : volume_(volume) {}
  ~PartialSnapshot() {
    archive_.reset();
    if (!folder_.isEmpty() && !finished_) FileOps::removeItem(folder_);
  }
  PartialSnapshot(const PartialSnapshot&) = delete;
  PartialSnapshot& operator=(const PartialSnapshot&) = delete;

  // Makes the folder (clearing what interrupted writes left) and opens the
  // archive in it.
  std::optional<BackupError> open() {
    root_ = volume_.snapshotsRoot();
    if (root_.isEmpty()) return notMounted();
    if (!volume_.holds(root_)) {
      QDir().rmdir(root_);  // made on the bare folder a moment ago, if at all
      return notMounted();
    }
    for (const QString& leftover : QDir(root_).entryList({".partial-*"}, QDir::AllEntries | QDir::Hidden))
      FileOps::removeItem(root_ + "/" + leftover);
    const QString folder =
        root_ + QStringLiteral("/.partial-") + QString::number(QRandomGenerator::global()->generate64(), 36);
    if (!QDir().mkdir(folder)) return BackupError::passOn(folder + QStringLiteral(": 无法创建文件夹"));
    folder_ = folder;
    if (!volume_.holds(folder_)) return notMounted();
    archivePath_ = folder_ + QStringLiteral("/backup.tar.gz");
    archive_.reset(::open(QFile::encodeName(archivePath_).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!archive_) return BackupError::passOn(failure(errno));
    return std::nullopt;
  }

  // Appends to the archive; false, with writeError() set, when that fails.
  bool write(QByteArrayView piece) {
    const char* data = piece.data();
    qsizetype left = piece.size();
    while (left > 0) {
      const ssize_t n = ::write(archive_.get(), data, static_cast<size_t>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        writeError_ = failure(n < 0 ? errno : ENOSPC);
        return false;
      }
      data += n;
      left -= n;
    }
    return true;
  }
  const QString& writeError() const { return writeError_; }

  // The archive on the disk, holding `size` bytes, and closed.
  std::optional<BackupError> seal(qint64 size) {
    struct stat st{};
    if (volume_.syncFile(archive_.get()) != 0 || ::fstat(archive_.get(), &st) != 0)
      return BackupError::passOn(failure(errno));
    if (st.st_size != size) return BackupError::passOn(failure(EIO));
    if (archive_.close() != 0) return BackupError::passOn(failure(errno));
    return std::nullopt;
  }

  // Adds the manifest and puts the snapshot in place under the label of its
  // time; older snapshots are pruned after.
  std::optional<BackupError> finish(const BackupManifest& manifest) {
    if (QString e = FileOps::writeOwnFile(folder_ + "/manifest.json", manifest.encode()); !e.isEmpty())
      return BackupError::passOn(e);
    FileTransfer::sync(folder_);
    if (!volume_.holds(folder_)) return notMounted();
    const QString label = volume_.timestampLabel(manifest.createdAt.toLocalTime());
    if (QString e = FileTransfer::renameFolderIntoPlace(folder_, root_ + "/" + label); !e.isEmpty())
      return BackupError::passOn(e);
    finished_ = true;
    FileTransfer::sync(root_);
    volume_.pruneKeeping(label);
    return std::nullopt;
  }

 private:
  static BackupError notMounted() {
    return BackupError::passOn(QStringLiteral("加密备份卷未挂载，无法写入备份。请先在 UI 里初始化加密卷。"));
  }
  QString failure(int error) const {
    return archivePath_ + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
  }

  const SnapshotVolume& volume_;
  QString root_;
  QString folder_;
  QString archivePath_;
  UniqueFd archive_;
  QString writeError_;
  bool finished_ = false;
};

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
    // Plain copies a killed run (of an earlier version) left behind; a run
    // now makes none.
    BackupStaging::removeLeftovers(volume_.workFolder());
    BackupEngine::Result result = runMounted(agents);
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
    // The archive goes straight into a hidden snapshot folder on the volume
    // as it is packed and hashed: no plain copy of the data is ever made.
    PartialSnapshot snapshot(volume_);
    if (auto error = snapshot.open()) return *error;

    stage(LocKey::backupStageCopying());
    const QString top = QString::fromLatin1(BackupEngine::kStagingDirName);
    QList<BackupManifest::AgentBackup> results;
    QStringList changed;
    Crypto::Sha256 digest;
    qint64 size = 0;
    const TarArchive::Result packed = TarArchive::pack(
        [&](TarWriter& archive) {
          if (!archive.addFolder(QFile::encodeName(top), 0700, QDateTime::currentSecsSinceEpoch())) return false;
          for (const auto& [entry, plan] : backupable) {
            if (OperationStop::requested()) return false;
            const QString agentFolder = top + "/" + entry.id;
            if (!AgentEntry::isSafeFileComponent(entry.id)) {
              logLine(QStringLiteral("[Backup] ") + entry.id + QStringLiteral(" 扫描失败：") + agentFolder +
                      QStringLiteral(" 无法创建"));
              continue;
            }
            const ExcludeMatcher excludes(plan.excludes);
            const StagedAgent staged = BackupStaging::stageAgent(
                archive, agentFolder, plan.roots,
                [&](const QString& file, const QString& root) { return excludes.excludes(file, root); });
            if (!archive.error().isEmpty() || OperationStop::requested()) return false;
            changed << staged.changed;
            if (staged.fileCount >= 1) results << agentBackup(entry, staged);
          }
          stage(LocKey::backupStageCompressing());
          return true;
        },
        [&](QByteArrayView piece) {
          digest.update(piece);
          size += piece.size();
          return snapshot.write(piece);
        });
    if (OperationStop::requested()) return BackupError::passOn(OperationStop::reason());
    if (!snapshot.writeError().isEmpty()) return BackupError::passOn(snapshot.writeError());
    if (!packed.started) return BackupError::passOn(packed.startError);
    if (packed.exitCode != 0) return BackupError::of(Case::packFailed, decodedErrorText(packed.errorOutput));
    if (!packed.ok()) return BackupError::of(Case::packFailed, QStringLiteral("unknown"));
    // The archive is complete all the same: such a file as it was read.
    for (const QString& file : changed)
      logLine(QStringLiteral("[Backup] tar: ") + file + QStringLiteral(": file changed as we read it"));
    if (results.isEmpty()) return BackupError::of(Case::scanFailed, QStringLiteral("所有 Agent 都没有可备份的内容"));

    stage(LocKey::backupStageVerifying());
    if (auto error = snapshot.seal(size)) return *error;

    BackupManifest manifest;
    manifest.schemaVersion = 1;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    manifest.createdAt = now.addMSecs(-now.time().msec());
    manifest.device = BackupManifest::currentDevice();
    manifest.agents = results;
    manifest.totalBytes = size;
    manifest.archiveSha256 = Crypto::hex(digest.finish());

    if (OperationStop::requested()) return BackupError::passOn(OperationStop::reason());
    stage(LocKey::backupStageWriting());
    if (auto error = snapshot.finish(manifest)) return *error;

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

  static BackupManifest::AgentBackup agentBackup(const AgentEntry& entry, const StagedAgent& staged) {
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
      roots.append(
          {root.name, root.path.startsWith(home) ? QStringLiteral("~/") + root.path.mid(home.size()) : root.path});
    agent.roots = roots;
    return agent;
  }

  QPointer<BackupEngine> engine_;
  SnapshotVolume volume_;
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
