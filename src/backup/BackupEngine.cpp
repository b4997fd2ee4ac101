#include "backup/BackupEngine.h"

#include "backup/BackupPlanner.h"
#include "backup/BackupStaging.h"
#include "backup/BackupVolume.h"
#include "backup/OperationStop.h"
#include "backup/SnapshotChoice.h"
#include "core/netlog/NetworkLogger.h"
#include "platform/Crypto.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/Log.h"
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
#include <QRandomGenerator>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <thread>
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
  return BackupEngine::BackupRecord{*date, *t, *c, name.toString(), 0, {}, {}, {}, {}};
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
// incomplete snapshot in front of the older complete one. The snapshots
// folder and the hidden folder are each opened once (never through a link)
// and everything is made, written and renamed inside them, so what stands at
// their paths later cannot lead the writes elsewhere; both must lie on the
// mounted volume (its device): a volume that went away under the run leaves
// a bare folder at its mount point, and a plain copy of the archive there
// would look like a backup. Removed again unless finished.
class PartialSnapshot {
 public:
  explicit PartialSnapshot(const SnapshotVolume& volume) : volume_(volume) {}
  ~PartialSnapshot() {
    stopFlushing();
    archive_.reset();
    // One that cannot be removed now is a hidden leftover the next run clears.
    if (!name_.isEmpty() && !finished_ && ours(name_)) static_cast<void>(FileOps::removeItemAt(root_.get(), name_));
  }
  PartialSnapshot(const PartialSnapshot&) = delete;
  PartialSnapshot& operator=(const PartialSnapshot&) = delete;

  // Makes the folder (clearing what interrupted writes left) and opens the
  // archive in it.
  Expected<void, BackupError> open() {
    rootPath_ = volume_.snapshotsRoot();
    if (rootPath_.isEmpty()) return notMounted();
    const std::optional<quint64> device = volume_.device();
    root_.reset(::open(QFile::encodeName(rootPath_).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st{};
    if (!device || !root_ || ::fstat(root_.get(), &st) != 0 || st.st_dev != *device) {
      root_.reset();
      if (!device) QDir().rmdir(rootPath_);  // made on the bare folder a moment ago, if at all
      return notMounted();
    }
    device_ = *device;
    // Housekeeping: a leftover that stays is only tried again next time.
    for (const QByteArray& leftover : partialFolders()) static_cast<void>(FileOps::removeItemAt(root_.get(), leftover));
    const QByteArray name = ".partial-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    if (::mkdirat(root_.get(), name.constData(), 0700) != 0)
      return Unexpected(BackupError::passOn(rootPath_ + "/" + QString::fromLatin1(name) + QStringLiteral(": 无法创建文件夹")));
    name_ = name;
    folder_.reset(::openat(root_.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder_ || ::fstat(folder_.get(), &st) != 0) return Unexpected(BackupError::passOn(failure(errno)));
    if (st.st_dev != device_) return notMounted();
    inode_ = st.st_ino;
    archive_.reset(::openat(folder_.get(), "backup.tar.gz", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!archive_) return Unexpected(BackupError::passOn(failure(errno)));
    return {};
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
      unflushed_ += n;
    }
    if (unflushed_ >= kFlushEvery) {
      // What was written so far goes to the disk while the rest is packed:
      // the flush before the snapshot is put in place has only the tail
      // left to do.
      unflushed_ = 0;
      std::lock_guard lock(flushMutex_);
      flushWanted_ = true;
      if (!flusher_.joinable()) flusher_ = std::thread([this] { flushWhileWritten(); });
      flushWake_.notify_one();
    }
    return true;
  }
  const QString& writeError() const { return writeError_; }

  // The archive's last byte is written: the flushing alongside the writes
  // ends.
  Expected<void, BackupError> endWrites() {
    if (const int flushError = stopFlushing()) return Unexpected(BackupError::passOn(failure(flushError)));
    return {};
  }

  // Adds the manifest and puts the snapshot in place under the label of its
  // time; older snapshots are pruned after. The archive, holding
  // `archiveSize` bytes, and the manifest go to the disk together (one wait
  // for the disk, not two in a row). Until its new name is on the disk the
  // snapshot is not finished: a file, folder or name that cannot be flushed
  // fails the run, and the snapshot is removed again.
  Expected<void, BackupError> finish(const BackupManifest& manifest, qint64 archiveSize) {
    UniqueFd manifestFd;
    if (auto written = writeManifest(manifest, manifestFd); !written) return written;
    int archiveError = 0;
    std::thread archiveFlush([&] { archiveError = volume_.syncFile(archive_.get()) == 0 ? 0 : errno; });
    const int manifestError = volume_.syncFile(manifestFd.get()) == 0 ? 0 : errno;
    archiveFlush.join();
    struct stat st{};
    if (archiveError != 0) return Unexpected(BackupError::passOn(failure(archiveError)));
    if (::fstat(archive_.get(), &st) != 0) return Unexpected(BackupError::passOn(failure(errno)));
    if (st.st_size != archiveSize) return Unexpected(BackupError::passOn(failure(EIO)));
    if (archive_.close() != 0) return Unexpected(BackupError::passOn(failure(errno)));
    if (manifestError != 0 || manifestFd.close() != 0)
      return Unexpected(BackupError::passOn(manifestFailure(manifestError != 0 ? manifestError : errno)));
    if (volume_.syncFile(folder_.get()) != 0)
      return Unexpected(BackupError::passOn(failureAt(rootPath_ + "/" + QString::fromLatin1(name_), errno)));
    if (volume_.device() != device_) return notMounted();
    // Still our folder at its name: what stands there now is what the
    // rename puts in place.
    if (!ours(name_)) return replaced();
    const QString label = volume_.timestampLabel(manifest.createdAt.toLocalTime());
    if (auto renamed = FileTransfer::renameFolderIntoPlaceAt(root_.get(), name_, QFile::encodeName(label)); !renamed)
      return Unexpected(BackupError::passOn(rootPath_ + "/" + renamed.error()));
    name_ = QFile::encodeName(label);
    if (!ours(name_)) return replaced();
    // The older snapshots go only once the new one's name is on the disk.
    if (volume_.syncFile(root_.get()) != 0) return Unexpected(BackupError::passOn(failureAt(rootPath_, errno)));
    finished_ = true;
    volume_.pruneKeeping(label);
    return {};
  }

 private:
  // The archive is flushed whenever this much more was written.
  static constexpr qint64 kFlushEvery = 16 << 20;

  void flushWhileWritten() {
    std::unique_lock lock(flushMutex_);
    while (true) {
      flushWake_.wait(lock, [this] { return flushWanted_ || stopFlushing_; });
      if (!flushWanted_) return;
      flushWanted_ = false;
      lock.unlock();
      const int error = volume_.syncFile(archive_.get()) == 0 ? 0 : errno;
      lock.lock();
      if (error && !flushError_) flushError_ = error;
    }
  }
  // Ends the flushing alongside the writes (after a flush under way); the
  // first error it met, or 0.
  int stopFlushing() {
    {
      std::lock_guard lock(flushMutex_);
      stopFlushing_ = true;
      flushWanted_ = false;
    }
    flushWake_.notify_one();
    if (flusher_.joinable()) flusher_.join();
    return flushError_;
  }

  static Unexpected<BackupError> notMounted() {
    return Unexpected(BackupError::passOn(QStringLiteral("加密备份卷未挂载，无法写入备份。请先在 UI 里初始化加密卷。")));
  }
  Unexpected<BackupError> replaced() const {
    return Unexpected(BackupError::passOn(rootPath_ + QStringLiteral(": 正在写入的快照文件夹被替换，备份没有完成")));
  }
  static QString failureAt(const QString& path, int error) {
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
  }
  QString failure(int error) const {
    return failureAt(rootPath_ + "/" + QString::fromLatin1(name_) + QStringLiteral("/backup.tar.gz"), error);
  }

  // The hidden folders interrupted writes left.
  QList<QByteArray> partialFolders() const {
    QList<QByteArray> names;
    const int fd = ::openat(root_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
      if (fd >= 0) ::close(fd);
      return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
      if (std::strncmp(entry->d_name, ".partial-", 9) == 0) names << QByteArray(entry->d_name);
    }
    ::closedir(dir);
    return names;
  }

  // Whether `name` in the snapshots folder is the folder this run made.
  bool ours(const QByteArray& name) const {
    struct stat st{};
    return ::fstatat(root_.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
           st.st_dev == device_ && st.st_ino == inode_;
  }

  QString manifestFailure(int error) const {
    return failureAt(rootPath_ + "/" + QString::fromLatin1(name_) + QStringLiteral("/manifest.json"), error);
  }

  // Written as it is encoded: a manifest listing many files is never whole
  // in memory. Left open as `fd`, not yet flushed.
  Expected<void, BackupError> writeManifest(const BackupManifest& manifest, UniqueFd& fd) {
    fd.reset(::openat(folder_.get(), "manifest.json", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return Unexpected(BackupError::passOn(manifestFailure(errno)));
    int error = 0;
    const bool written = manifest.encodeTo([&](QByteArrayView piece) {
      for (qsizetype done = 0; done < piece.size();) {
        const ssize_t n = ::write(fd.get(), piece.data() + done, static_cast<size_t>(piece.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          error = n < 0 ? errno : ENOSPC;
          return false;
        }
        done += n;
      }
      return true;
    });
    if (!written) return Unexpected(BackupError::passOn(manifestFailure(error)));
    return {};
  }

  const SnapshotVolume& volume_;
  QString rootPath_;
  UniqueFd root_;
  UniqueFd folder_;
  QByteArray name_;
  quint64 device_ = 0;
  quint64 inode_ = 0;
  UniqueFd archive_;
  QString writeError_;
  bool finished_ = false;
  qint64 unflushed_ = 0;
  std::thread flusher_;
  std::mutex flushMutex_;
  std::condition_variable flushWake_;
  bool flushWanted_ = false;
  bool stopFlushing_ = false;
  int flushError_ = 0;
};

}  // namespace

// One run's work on its worker thread. Knows nothing of the engine: its
// stages go to `stage`, which passes them on to the engine while it lives.
class BackupPipeline {
 public:
  using Stage = std::function<void(const LocKey&)>;
  BackupPipeline(SnapshotVolume volume, Stage stage) : volume_(std::move(volume)), stage_(std::move(stage)) {}

  BackupEngine::Result run(const QList<AgentEntry>& agents) {
    if (!volume_.exists())
      return Unexpected(BackupError::of(Case::notSetUp));
    // Held to the end of the run: a second backup, a restore, an export or
    // an import of this image, here or in another process, is refused.
    const std::optional<VolumeLock> lock = volume_.lock();
    if (!lock) return Unexpected(BackupError::busy());
    if (OperationStop::requested()) return Unexpected(BackupError::passOn(OperationStop::reason()));
    bool adopted = false;
    std::optional<PendingAttach> attach;
    if (volume_.isMounted()) {
      // A mount left by a killed run is taken over and detached at the end.
      adopted = volume_.adoptOrphan();
    } else {
      // Attached while the files are read and packed. Asks the user on the
      // main thread when no password is kept; the attach itself runs off
      // the main thread.
      attach.emplace(volume_, unlockReason(UnlockPurpose::backup));
    }
    // Plain copies a killed run (of an earlier version) left behind; a run
    // now makes none.
    BackupStaging::removeLeftovers(volume_.workFolder());
    BackupEngine::Result result = runMounted(agents, attach ? &*attach : nullptr);
    // An attach that failed is the run's failure, whatever came of the rest
    // meanwhile: nothing was written.
    if (attach) {
      if (auto attached = attach->wait(); !attached) return Unexpected(BackupError::passOn(attached.error()));
    }
    if (!adopted && !attach) return result;
    // A volume left attached leaves the decrypted files open: the run failed
    // then, whatever it wrote.
    if (auto detached = volume_.unmount(); !detached && result) return Unexpected(BackupError::passOn(detached.error()));
    return result;
  }

 private:
  void stage(const LocKey& key) { stage_(key); }

  // The compressed stream that waits in memory for the volume's attach, at
  // most: beyond it the packing waits for the attach too.
  static constexpr qsizetype kHeldBeforeAttach = 32 << 20;

  // Packs and writes the snapshot; `attach`, when the volume is still being
  // attached, is waited for before anything is written to it.
  BackupEngine::Result runMounted(const QList<AgentEntry>& agents, const PendingAttach* attach) {
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
      return Unexpected(BackupError::of(Case::noAgentsInstalled));
    }

    stage(LocKey::backupStagePreparing());
    // The archive goes straight into a hidden snapshot folder on the volume
    // as it is packed and hashed: no plain copy of the data is ever made.
    // Until the volume is attached and that folder made, the compressed
    // stream waits in memory.
    PartialSnapshot snapshot(volume_);
    QByteArray held;
    bool opened = false;
    std::optional<BackupError> openError;
    const auto openSnapshot = [&] {
      if (attach) {
        if (auto attached = attach->wait(); !attached) {
          openError = BackupError::passOn(attached.error());
          return false;
        }
      }
      if (auto made = snapshot.open(); !made) {
        openError = std::move(made).error();
        return false;
      }
      opened = true;
      const bool written = snapshot.write(held);
      held = QByteArray();
      return written;
    };

    stage(LocKey::backupStageCopying());
    const QString top = QString::fromLatin1(BackupEngine::kStagingDirName);
    QList<BackupStaging::Agent> staging;
    QList<const AgentEntry*> stagedEntries;
    for (const auto& [entry, plan] : backupable) {
      if (!AgentEntry::isSafeFileComponent(entry.id)) {
        logLine(QStringLiteral("[Backup] ") + entry.id + QStringLiteral(" 扫描失败：") + top + "/" + entry.id +
                QStringLiteral(" 无法创建"));
        continue;
      }
      staging.append({entry.id, plan.roots, plan.excludes});
      stagedEntries << &entry;
    }
    StagedSnapshot staged;
    Crypto::Sha256 digest;
    qint64 size = 0;
    const TarArchive::Result packed = TarArchive::pack(
        [&](TarWriter& archive) {
          if (!archive.addFolder(QFile::encodeName(top), 0700, QDateTime::currentSecsSinceEpoch())) return false;
          staged = BackupStaging::stage(archive, top, staging);
          if (!archive.error().isEmpty() || OperationStop::requested()) return false;
          stage(LocKey::backupStageCompressing());
          return true;
        },
        [&](QByteArrayView piece) {
          digest.update(piece);
          size += piece.size();
          if (!opened && (!attach || attach->ended() || held.size() + piece.size() > kHeldBeforeAttach)) {
            if (!openSnapshot()) return false;
          }
          if (opened) return snapshot.write(piece);
          // Reserved whole once: no copy as it grows, and only the room
          // used is ever touched.
          if (held.capacity() < kHeldBeforeAttach) held.reserve(kHeldBeforeAttach);
          held.append(piece);
          return true;
        });
    if (OperationStop::requested()) return Unexpected(BackupError::passOn(OperationStop::reason()));
    if (openError) return Unexpected(*openError);
    if (!snapshot.writeError().isEmpty()) return Unexpected(BackupError::passOn(snapshot.writeError()));
    if (!packed.started) return Unexpected(BackupError::passOn(packed.startError));
    if (packed.exitCode != 0) return Unexpected(BackupError::of(Case::packFailed, decodedErrorText(packed.errorOutput)));
    if (!packed.ok()) return Unexpected(BackupError::of(Case::packFailed, QStringLiteral("unknown")));
    QList<BackupManifest::AgentBackup> results;
    // Every agent with a stored root, also one whose folders hold no file
    // (empty folders only, or nothing it could read): listed, counted and
    // restored like the others.
    for (qsizetype i = 0; i < staged.agents.size(); ++i) {
      if (!staged.agents[i].roots.isEmpty()) results << agentBackup(*stagedEntries[i], staged.agents[i]);
    }
    if (results.isEmpty()) return Unexpected(BackupError::of(Case::nothingToBackUp));
    // A small archive, packed whole before the attach ended.
    if (!opened && !openSnapshot()) {
      if (openError) return Unexpected(*openError);
      return Unexpected(BackupError::passOn(snapshot.writeError()));
    }

    stage(LocKey::backupStageVerifying());
    if (auto ended = snapshot.endWrites(); !ended) return Unexpected(std::move(ended).error());

    BackupManifest manifest;
    manifest.schemaVersion = 1;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    manifest.createdAt = now.addMSecs(-now.time().msec());
    manifest.device = BackupManifest::currentDevice();
    manifest.agents = results;
    manifest.totalBytes = size;
    manifest.archiveSha256 = Crypto::hex(digest.finish());

    if (OperationStop::requested()) return Unexpected(BackupError::passOn(OperationStop::reason()));
    stage(LocKey::backupStageWriting());
    return snapshot.finish(manifest, size).and_then([&]() -> BackupEngine::Result { return recordOf(manifest, staged); });
  }

  // What the finished run reports, and the log lines naming what it left out.
  static BackupEngine::BackupRecord recordOf(const BackupManifest& manifest, const StagedSnapshot& staged) {
    BackupEngine::BackupRecord record{manifest.createdAt, manifest.totalBytes, manifest.agents.size(),
                                      QString::fromUtf8(BackupEngine::kLocalStorageName), 0, {}, {}, {}, {}};
    record.leftOutCount = staged.notRegular.count;
    record.leftOutExamples = homeRelative(staged.notRegular.examples);
    record.unreadable = homeRelative(staged.unreadable);
    record.tooDeep = homeRelative(staged.tooDeep);
    record.changed = homeRelative(staged.changed);
    logNamed(QStringLiteral("[Backup] 未备份 %1 项（符号链接、FIFO、套接字或设备文件）："), record.leftOutCount,
             record.leftOutExamples);
    logNamed(QStringLiteral("[Backup] 未备份 %1 项（无法读取，备份不完整）："), record.unreadable.count,
             record.unreadable.examples);
    logNamed(QStringLiteral("[Backup] 未备份 %1 项（文件夹层级超过 ") + QString::number(StagedSnapshot::kMaxDepth) +
                 QStringLiteral(" 层，备份不完整）："),
             record.tooDeep.count, record.tooDeep.examples);
    logNamed(QStringLiteral("[Backup] %1 个文件在读取时一再改变（已备份的内容可能不完整）："), record.changed.count,
             record.changed.examples);
    return record;
  }

  // "~/…" for a path in the home folder.
  static QString homeRelative(const QString& path) {
    const QString home = Paths::home() + "/";
    return path.startsWith(home) ? QStringLiteral("~/") + path.mid(home.size()) : path;
  }
  static QStringList homeRelative(const QStringList& paths) {
    QStringList out;
    for (const QString& path : paths) out << homeRelative(path);
    return out;
  }
  static NamedItems homeRelative(const NamedItems& items) { return {items.count, homeRelative(items.examples)}; }
  // One log line naming `count` items (the first few in `examples`) after
  // `what`, which holds "%1" for the count; none when there are none.
  static void logNamed(const QString& what, qint64 count, const QStringList& examples) {
    if (count == 0) return;
    logLine(what.arg(count) + examples.join(QStringLiteral(", ")) +
            (count > examples.size() ? QStringLiteral(" …") : QString()));
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
    for (const StagedAgent::Root& root : staged.roots) {
      BackupManifest::AgentBackup::Root recorded{root.name, homeRelative(root.path), std::nullopt, root.diskBytes};
      // Lying elsewhere than the agent's own entry: stored once for several
      // agents, or inside another root's folder.
      if (root.stored != entry.id + "/" + root.name) recorded.stored = root.stored;
      roots.append(recorded);
    }
    agent.roots = roots;
    return agent;
  }

  SnapshotVolume volume_;
  Stage stage_;
};

BackupEngine& BackupEngine::shared() {
  static BackupEngine* engine = new BackupEngine();
  return *engine;
}

BackupEngine::BackupEngine(SnapshotVolume volume, QObject* parent) : EngineState(parent), volume_(std::move(volume)) {
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
  if (isRunning()) {
    done(Unexpected(BackupError::busy()));
    return;
  }
  begin(LocKey::backupStagePreparing());
  // The caller hears the end even when the engine has gone by then; the
  // engine's own bookkeeping only while it lives.
  startOffMain(
      nullptr,
      [volume = volume_, installedAgents,
       stage = whileAlive(this, [this](const LocKey& key) { setStage(key); })] {
        return BackupPipeline(volume, stage).run(installedAgents);
      },
      [recorded = volume_.userVolume, finished = whileAlive(this, [this](const Result& result) { finish(result); }),
       done = std::move(done)](const Result& result) {
        if (result && recorded) NetworkLogger::shared().log(NetworkEventKind::backupUpload, result.value().totalBytes, true);
        finished(result);
        done(result);
      });
}

void BackupEngine::finish(const Result& result) {
  if (result) {
    ++*recordGeneration_;
    setLastBackup(result.value());
    if (volume_.userVolume) saveLastBackupToDisk(result.value());
  }
  if (!result) {
    end(result.error().description(), result.error().message());
    logLine(QStringLiteral("[Backup] FAILED: ") + result.error().textualForm());
  } else {
    end();
  }
}

namespace {

// What the volume says of its newest snapshot.
struct VolumeReading {
  bool read = false;  // not mounted: what is known stays
  std::optional<BackupEngine::BackupRecord> record;
  bool forgetCache = false;  // no image or no snapshot at all
};

VolumeReading readVolume(const SnapshotVolume& volume) {
  if (!volume.exists()) return {true, std::nullopt, true};
  if (!volume.isMounted()) return {};
  const QStringList snapshots = volume.listSnapshots();
  if (snapshots.isEmpty()) return {true, std::nullopt, true};
  // The newest snapshot that checks out: a damaged newer one does not hide
  // an older good one.
  const SnapshotChoice choice = SnapshotChoice::choose(snapshots);
  if (!choice.found()) return {true, std::nullopt, false};
  return {true,
          BackupEngine::BackupRecord{choice.manifest->createdAt, choice.manifest->totalBytes,
                                     static_cast<qint64>(choice.manifest->agents.size()),
                                     QString::fromUtf8(BackupEngine::kVolumeStorageName), 0, {}, {}, {}, {}},
          false};
}

}  // namespace

void BackupEngine::refreshLastBackupFromVolume() {
  // The snapshots are listed and their manifests read through the volume's
  // mount, and the cache is rewritten, away from the window thread. A run's
  // record, or a later reading, that comes in the meantime wins.
  const quint64 generation = ++*recordGeneration_;
  startOffMain(
      this,
      [volume = volume_, current = recordGeneration_, generation] {
        const VolumeReading reading = readVolume(volume);
        if (reading.read && current->load() == generation) {
          if (reading.record)
            saveLastBackupToDisk(*reading.record);
          else if (reading.forgetCache)
            QFile::remove(lastBackupCachePath());
        }
        return reading;
      },
      [this, generation](const VolumeReading& reading) {
        if (reading.read && recordGeneration_->load() == generation) setLastBackup(reading.record);
      });
}

void BackupEngine::setLastBackup(std::optional<BackupRecord> record) {
  if (lastBackup_ == record) return;
  lastBackup_ = std::move(record);
  Q_EMIT lastBackupChanged();
}

void BackupEngine::saveLastBackupToDisk(const BackupRecord& record) {
  // A cache: without it the next start reads the volume again.
  static_cast<void>(FileOps::writeOwnFile(lastBackupCachePath(), encodeCache(record)));
}

}  // namespace tlr
