#pragma once

#include "backup/BackupVolume.h"
#include "backup/VolumeLock.h"
#include "core/texts/LocKey.h"
#include "platform/Expected.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

namespace tlr {

// What the backup and restore engines use of the encrypted backup volume and
// its snapshot folders. `standard()` is the user's volume; a self-test hands
// an engine a scratch volume of its own, and tests hand it a plain folder.
struct SnapshotVolume {
  // An image is set up and present.
  std::function<bool()> exists;
  // The volume is mounted at its mount point.
  std::function<bool()> isMounted;
  // Mounts the volume, taking the password from memory, the vault or the
  // user (asked on the main thread); callable from any thread.
  std::function<Expected<void, BackupVolumeError>(const LocKey& reason)> mountInteractive;
  // Detaches the volume; a volume that stays attached is a failure (the
  // decrypted files stay reachable), with what to install when a tool is
  // missing.
  std::function<Expected<void, BackupVolumeError>()> unmount;
  // The volume is mounted but whoever mounted it is gone: this process takes
  // it over and returns true (and detaches it when done, like a mount of its
  // own).
  std::function<bool()> adoptOrphan;
  // Takes the lock that keeps the operations on this image apart; nothing
  // when another backup, restore, export or import holds it.
  std::function<std::optional<VolumeLock>()> lock;
  // The device number of the mounted volume's file system at this moment,
  // or nothing when it is not mounted (a bare folder at its mount point is
  // not the volume): what a snapshot is written into must lie on it.
  std::function<std::optional<quint64>()> device;
  // The folder of snapshots on the mounted volume (created when missing), or
  // empty when the volume is not mounted.
  std::function<QString()> snapshotsRoot;
  // The snapshot folders, newest first.
  std::function<QStringList()> listSnapshots;
  // Removes every snapshot folder but the one named `label`.
  std::function<void(const QString& label)> pruneKeeping;
  // A snapshot folder's name for a time ("yyyy-MM-dd_HH-mm-ss").
  std::function<QString(const QDateTime&)> timestampLabel;
  // Puts what was written to an open file of the volume on its disk:
  // fsync(2), 0 or -1 with errno set.
  std::function<int(int fd)> syncFile = ::fsync;
  // Where a restore unpacks before it puts files back, and where what
  // killed runs left is cleared: the home folder for the user's volume.
  std::function<QString()> workFolder;
  // The user's own backups: a run on it is recorded (last-backup.json, the
  // network log). A self-test's scratch volume is not.
  bool userVolume = true;

  static SnapshotVolume standard();
};

// The volume being attached on a thread of its own while a run does what
// needs no volume (reading and packing the files, planning): an attach spends
// most of its time deriving the key from the password. The thread belongs to
// the run's task (a quit stops its gocryptfs as it would the run's). The
// destructor waits for the attach to end.
class PendingAttach {
 public:
  PendingAttach(const SnapshotVolume& volume, const LocKey& reason);
  ~PendingAttach();
  PendingAttach(const PendingAttach&) = delete;
  PendingAttach& operator=(const PendingAttach&) = delete;

  // Whether the attach has ended, either way.
  bool ended() const;
  // Waits for the attach to end; how it ended.
  Expected<void, BackupVolumeError> wait() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable ended_;
  std::optional<Expected<void, BackupVolumeError>> result_;
  std::thread thread_;
};

}  // namespace tlr
