#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tlr {

// What the backup and restore engines use of the encrypted backup volume and
// its snapshot folders. `standard()` is the real volume; tests may hand an
// engine another one.
struct SnapshotVolume {
  // An image is set up and present.
  std::function<bool()> exists;
  // The volume is mounted at its mount point.
  std::function<bool()> isMounted;
  // Mounts the volume, taking the password from memory, the vault or the
  // user (asked on the main thread); callable from any thread. The error's
  // description when it fails.
  std::function<std::optional<QString>(const QString& reason)> mountInteractive;
  // Detaches the volume; never fails.
  std::function<void()> unmount;
  // The folder of snapshots on the mounted volume (created when missing), or
  // empty when the volume is not mounted.
  std::function<QString()> snapshotsRoot;
  // The snapshot folders, newest first.
  std::function<QStringList()> listSnapshots;
  // Removes every snapshot folder but the one named `label`.
  std::function<void(const QString& label)> pruneKeeping;
  // A snapshot folder's name for a time ("yyyy-MM-dd_HH-mm-ss").
  std::function<QString(const QDateTime&)> timestampLabel;

  static SnapshotVolume standard();
};

}  // namespace tlr
