#pragma once

#include "backup/BackupError.h"
#include "backup/BackupManifest.h"
#include "backup/BackupStaging.h"
#include "backup/EngineState.h"
#include "backup/SnapshotVolume.h"
#include "core/texts/LocKey.h"
#include "platform/Expected.h"
#include "registry/AgentEntry.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace tlr {

// Backs up the installed agents' data into one snapshot on the encrypted
// backup volume: each agent's files are packed, as they are read, into one
// .tar.gz (one folder per agent below ".tollamere-backup-tmp"), which goes
// straight into a hidden snapshot folder on the volume while it is hashed;
// with its manifest beside it the folder becomes the newest snapshot, and
// older snapshots are pruned. No plain copy of the data is ever written
// outside the volume. The volume is
// mounted for the run when it was not (and unmounted again at its end), and
// a run holds the volume's lock (VolumeLock) throughout: while another
// backup, restore, export or import uses the image, it is refused at once.
//
// Lives on the main thread; the reading, packing, hashing and writing run on
// worker threads of their own. The published state (`lastBackup` and the
// run's state, EngineState) changes only on the main thread and announces
// every change.
class BackupEngine final : public EngineState {
  Q_OBJECT

 public:
  // The summary of the newest known snapshot.
  struct BackupRecord {
    QDateTime timestamp;  // the snapshot's createdAt
    qint64 totalBytes = 0;
    qint64 agentCount = 0;
    QString storageDisplayName;  // "本机备份" after a run, "加密备份卷" when read back
    // What the run did not store because it is no regular file (symbolic
    // links, FIFOs, sockets, devices inside the agents' folders): how many,
    // and the first few ("~/…" in the home folder). Only a run knows it; it
    // is not kept in "last-backup.json".
    qint64 leftOutCount = 0;
    QStringList leftOutExamples;
    // What else the snapshot lacks of the agents' data, named the same way:
    // items that could not be read, folders too deep, files that changed
    // while they were read twice.
    NamedItems unreadable;
    NamedItems tooDeep;
    NamedItems changed;
    // What the snapshot lacks of the agents' data, kind by kind, and whether
    // it lacks any (the one verdict the sheet and the modes give).
    QList<std::pair<SnapshotGap, NamedItems>> gaps() const { return snapshotGaps(unreadable, tooDeep, changed); }
    bool incomplete() const { return !gaps().isEmpty(); }
    friend bool operator==(const BackupRecord&, const BackupRecord&) = default;
  };
  using Result = Expected<BackupRecord, BackupError>;
  // Called once on the main thread with the run's outcome.
  using Completion = std::function<void(const Result&)>;

  // The archive's top folder (where earlier versions staged plain copies).
  static constexpr const char* kStagingDirName = ".tollamere-backup-tmp";
  static constexpr const char* kCacheFileName = "last-backup.json";
  static constexpr const char* kLocalStorageName = "本机备份";
  static constexpr const char* kVolumeStorageName = "加密备份卷";

  // The engine of the process, created on first use on the main thread.
  static BackupEngine& shared();

  // An engine over `volume`; reads "last-backup.json" at once.
  explicit BackupEngine(SnapshotVolume volume = SnapshotVolume::standard(), QObject* parent = nullptr);

  // Main thread. Backs up `installedAgents` and calls `done` with the new
  // snapshot's record (after `lastBackup` holds it and the cache file is
  // rewritten) or the error that stopped the run; `isRunning` is false and
  // `stage` empty by then. While a run is under way the request is
  // refused at once with scanFailed "已有备份正在进行中" and nothing changes.
  void runBackup(const QList<AgentEntry>& installedAgents, Completion done);

  // Main thread. Reads the newest snapshot's manifest back from the volume,
  // off the main thread, into the cache file and then `lastBackup` (a run's
  // record or a later reading that comes first wins); never mounts.
  void refreshLastBackupFromVolume();

  const std::optional<BackupRecord>& lastBackup() const { return lastBackup_; }

  // "last-backup.json" in the application folder, and its record when it
  // reads and decodes.
  static QString lastBackupCachePath();
  static std::optional<BackupRecord> readLastBackupCache();

 Q_SIGNALS:
  void lastBackupChanged();

 private:
  void setLastBackup(std::optional<BackupRecord> record);
  static void saveLastBackupToDisk(const BackupRecord& record);
  void finish(const Result& result);

  SnapshotVolume volume_;
  std::optional<BackupRecord> lastBackup_;
  // Counts what sets `lastBackup` (a run's end, a reading of the volume), so
  // that a reading overtaken by another gives way; its workers read it too.
  std::shared_ptr<std::atomic<quint64>> recordGeneration_ = std::make_shared<std::atomic<quint64>>(0);
};

}  // namespace tlr
